// Font styles on DirectWrite text layouts: the font object's underline and
// strike-through over the whole text, and the style of one range of a
// style run (weight, slant, decorations, family, size).
#include "view/backend/win32/layout_style.hpp"

#include <algorithm>
#include <string>

#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/symbol.hpp"
#include "runtime/unicode.hpp"
#include "view/backend/win32/win32.hpp"

namespace kel::view::win32 {
namespace {

// Calls each with every word of a word or block of words.
template <class Each>
void each_style_word(const Cell* style, Each&& each) {
    if (!style) return;
    if (cell::is(style, type::block)) {
        int32_t n = series::total_length(style);
        for (int32_t i = series::clamped_index(style); i < n; ++i) each(block::ks_abs_at(style, i));
    } else if (word::any_word_q(cell::type_of(style))) {
        each(style);
    }
}

}  // namespace

void layout_font_style(IDWriteTextLayout* layout, const Cell& font) {
    if (!layout || !cell::is(&font, type::object)) return;
    DWRITE_TEXT_RANGE all{0, 0x7FFFFFFF};
    each_style_word(facet(font, "style"), [&](const Cell* w) {
        if (word_is(w, "underline")) layout->SetUnderline(TRUE, all);
        else if (word_is(w, "strike")) layout->SetStrikethrough(TRUE, all);
    });
}

void font_weight_and_slant(const Cell& font, DWRITE_FONT_WEIGHT* weight, DWRITE_FONT_STYLE* slant) {
    if (!cell::is(&font, type::object)) return;
    each_style_word(facet(font, "style"), [&](const Cell* w) {
        if (word_is(w, "bold")) *weight = DWRITE_FONT_WEIGHT_BOLD;
        else if (word_is(w, "italic")) *slant = DWRITE_FONT_STYLE_ITALIC;
    });
    const Cell* wt = facet(font, "weight");
    if (wt && cell::is(wt, type::integer) && cell::integer(wt) > 0)
        *weight = DWRITE_FONT_WEIGHT(std::min(cell::integer(wt), 999));
}

bool layout_range_style(IDWriteTextLayout* layout, uint32_t start, uint32_t length, const Cell& value) {
    if (!layout) return false;
    DWRITE_TEXT_RANGE range{start, length};
    if (word_is(&value, "bold")) return layout->SetFontWeight(DWRITE_FONT_WEIGHT_BOLD, range) == S_OK;
    if (word_is(&value, "italic")) return layout->SetFontStyle(DWRITE_FONT_STYLE_ITALIC, range) == S_OK;
    if (word_is(&value, "underline")) return layout->SetUnderline(TRUE, range) == S_OK;
    if (word_is(&value, "strike")) return layout->SetStrikethrough(TRUE, range) == S_OK;
    if (word_is(&value, "border")) return true;
    if (cell::is(&value, type::string)) {
        std::u16string name = unicode::utf8_to_utf16(string::to_utf8(&value));
        std::wstring w(name.begin(), name.end());
        return layout->SetFontFamilyName(w.c_str(), range) == S_OK;
    }
    if (cell::is(&value, type::integer) || cell::is(&value, type::float_)) {
        double points = cell::is(&value, type::integer) ? cell::integer(&value) : cell::real(&value);
        return layout->SetFontSize(float(points * 96.0 / 72.0), range) == S_OK;
    }
    return false;
}

}  // namespace kel::view::win32
