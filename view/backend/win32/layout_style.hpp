// Font styles on DirectWrite text layouts (layout_style.cpp).
#pragma once
#include <windows.h>
#include <dwrite.h>

#include <cstdint>

#include "runtime/cell.hpp"

namespace kel::view::win32 {

// The font object's underline and strike-through, over the whole text.
void layout_font_style(IDWriteTextLayout* layout, const Cell& font);
// The weight and slant a font object asks for (left as they are otherwise).
void font_weight_and_slant(const Cell& font, DWRITE_FONT_WEIGHT* weight, DWRITE_FONT_STYLE* slant);
// One value of a style run on a range in UTF-16 units: `bold`, `italic`,
// `underline`, `strike`, `border` (nothing), a family name, a size in
// points. False for a value that is none of these.
bool layout_range_style(IDWriteTextLayout* layout, uint32_t start, uint32_t length, const Cell& value);

}  // namespace kel::view::win32
