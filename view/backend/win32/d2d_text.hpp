// Text through DirectWrite: the text format of a font! object (cached in the
// font's state block, its third cell, as a handle! that releases it once no
// value holds it), text layouts of strings, and a face's own layout from its
// text, size, font, para and, for rich-text, the style runs of its data.
//
// DirectWrite finds only the families the system has: a family it does not
// know falls back through the font's name, "Segoe UI", "Tahoma",
// "DejaVu Sans" and then the first family of the system's collection.
#pragma once
#include <dwrite.h>

#include <string>

#include "runtime/cell.hpp"
#include "view/backend/win32/d2d_target.hpp"

namespace kel::view::d2d {

// A reference the caller releases. Without a font (none), the view system's
// fonts/system and fonts/size make it, and nothing is cached.
IDWriteTextFormat* text_format(const Cell& font);
// The family DirectWrite will draw for the name.
std::wstring family_for(const std::wstring& name);
// The string's text as UTF-16.
std::wstring utf16_of(const Cell& string);

// A layout of the text with the maximum width and height (0 or less:
// unbounded). A reference the caller releases, or null.
IDWriteTextLayout* text_layout(const std::wstring& text, IDWriteTextFormat* format, float width, float height);
// The line metrics of the layout, as many as it has.
std::vector<DWRITE_LINE_METRICS> line_metrics(IDWriteTextLayout* layout);
// Sets the format's line spacing to the height of one measured line, or to
// min_height when that is larger.
void apply_line_spacing(IDWriteTextFormat* format, float min_height);

// The face's text laid out (null when its text is no string). Style runs
// that fail raise draw-invalid at the offending value.
IDWriteTextLayout* face_layout(const Cell& face, Target* target);

}  // namespace kel::view::d2d
