#include "view/backend/win32/d2d_text.hpp"

#include <algorithm>
#include <cmath>
#include <string_view>

#include "environment/routines.hpp"
#include "runtime/collector.hpp"
#include "runtime/context.hpp"
#include "runtime/cycles.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/handle.hpp"
#include "runtime/datatypes/pair.hpp"
#include "runtime/datatypes/point.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/error.hpp"
#include "runtime/slots.hpp"
#include "runtime/symbol.hpp"
#include "runtime/unicode.hpp"
#include "view/backend/win32/d2d.hpp"

namespace kel::view::d2d {
namespace {

// ---- the handle-table kind that releases a COM object

void release_com(uintptr_t data) {
    if (data) reinterpret_cast<IUnknown*>(data)->Release();
}

int32_t com_kind() {
    static int32_t kind = 0;
    // The table loses its kinds when the runtime starts again (tests).
    if (kind == 0 || kind > slots::table.kind_count || slots::table.kinds[kind - 1].release != release_com)
        kind = slots::register_kind("com-object", release_com);
    return kind;
}

// ---- reading facets

const Cell* facet(const Cell& object, const char* name) {
    return cell::is(&object, type::object) ? environment::field(object, name) : nullptr;
}

bool is_word(const Cell* v, std::string_view name) {
    return v && word::any_word_q(cell::type_of(v)) && symbol::name(symbol::resolve(word::symbol(v))) == name;
}

// A style word, or a block of them, holds the word.
bool has_style(const Cell& font, std::string_view name) {
    const Cell* style = facet(font, "style");
    if (!style) return false;
    if (!cell::is(style, type::block)) return is_word(style, name);
    for (int32_t i = series::clamped_index(style), n = series::total_length(style); i < n; ++i)
        if (is_word(block::ks_abs_at(style, i), name)) return true;
    return false;
}

const Cell* view_fonts(const char* name) {
    Cell system = *word::fetch(context::find_or_add_global(symbol::make("system")));
    const Cell* view = environment::field(system, "view");
    const Cell* fonts = view ? environment::field(*view, "fonts") : nullptr;
    return fonts ? environment::field(*fonts, name) : nullptr;
}

float points_to_dips(double points) { return float(points * 96.0 / 72.0); }

bool exists(IDWriteFontCollection* fonts, const std::wstring& name) {
    UINT32 index = 0;
    BOOL found = FALSE;
    return !name.empty() && SUCCEEDED(fonts->FindFamilyName(name.c_str(), &index, &found)) && found;
}

// ---- the font's cache block: [font format-cells...], positioned after the font

// The state block when it is this font's cache.
bool cache_of(const Cell& font, Cell* out) {
    const Cell* state = facet(font, "state");
    if (!state || !cell::is(state, type::block)) return false;
    int32_t at = series::index_of(state);
    if (at < 1 || at > series::total_length(state)) return false;
    const Cell* owner = block::ks_abs_at(state, at - 1);
    if (!cell::is(owner, type::object) || cycles::reference(owner) != cycles::reference(&font)) return false;
    *out = *state;
    return true;
}

}  // namespace

std::wstring utf16_of(const Cell& s) {
    std::wstring out;
    if (!cell::is(&s, type::string)) return out;
    for (char32_t c : string::text_of(&s)) {
        char16_t units[2];
        int n = unicode::encode_utf16_char(c, units);
        for (int i = 0; i < n; ++i) out.push_back(wchar_t(units[i]));
    }
    return out;
}

std::wstring family_for(const std::wstring& name) {
    IDWriteFontCollection* fonts = nullptr;
    if (FAILED(write_factory()->GetSystemFontCollection(&fonts, FALSE))) return name;
    std::wstring chosen;
    for (const std::wstring& candidate : {name, std::wstring(L"Segoe UI"), std::wstring(L"Tahoma"),
                                          std::wstring(L"DejaVu Sans")})
        if (exists(fonts, candidate)) {
            chosen = candidate;
            break;
        }
    if (chosen.empty()) {
        IDWriteFontFamily* family = nullptr;
        IDWriteLocalizedStrings* names = nullptr;
        UINT32 length = 0;
        if (fonts->GetFontFamilyCount() > 0 && SUCCEEDED(fonts->GetFontFamily(0, &family)) &&
            SUCCEEDED(family->GetFamilyNames(&names)) && SUCCEEDED(names->GetStringLength(0, &length))) {
            chosen.resize(length + 1);
            names->GetString(0, chosen.data(), length + 1);
            chosen.resize(length);
        }
        if (names) names->Release();
        if (family) family->Release();
    }
    fonts->Release();
    return chosen.empty() ? name : chosen;
}

IDWriteTextFormat* text_format(const Cell& font) {
    collector::RootCell cache;
    bool is_font = cell::is(&font, type::object);
    if (is_font && cache_of(font, &cache.cell)) {
        int32_t at = series::index_of(&cache.cell) + 1;
        if (at < series::total_length(&cache.cell)) {
            const Cell* h = block::ks_abs_at(&cache.cell, at);
            int32_t record = cell::is(h, type::handle) ? int32_t(h->payload3) : -1;
            if (record >= 0) {
                auto* format = reinterpret_cast<IDWriteTextFormat*>(slots::table.records[record].data);
                if (format) {
                    format->AddRef();
                    return format;
                }
            }
        }
    }
    // Family (at most 31 characters) and size in points, from the font or
    // the view system's defaults.
    const Cell* name = is_font ? facet(font, "name") : nullptr;
    if (!name || !cell::is(name, type::string)) name = view_fonts("system");
    std::wstring family = name && cell::is(name, type::string) ? utf16_of(*name) : L"";
    if (family.size() > 31) family.resize(31);
    const Cell* size = is_font ? facet(font, "size") : nullptr;
    double points = size && cell::is(size, type::integer) ? cell::integer(size) : 0;
    if (points < 1) {
        const Cell* d = view_fonts("size");
        points = d && cell::is(d, type::integer) ? cell::integer(d) : 9;
    }
    DWRITE_FONT_WEIGHT weight = is_font && has_style(font, "bold") ? DWRITE_FONT_WEIGHT_BOLD : DWRITE_FONT_WEIGHT_NORMAL;
    const Cell* w = is_font ? facet(font, "weight") : nullptr;
    if (w && cell::is(w, type::integer) && cell::integer(w) > 0)
        weight = DWRITE_FONT_WEIGHT(std::min(cell::integer(w), 999));
    DWRITE_FONT_STYLE style = is_font && has_style(font, "italic") ? DWRITE_FONT_STYLE_ITALIC : DWRITE_FONT_STYLE_NORMAL;
    IDWriteTextFormat* format = nullptr;
    if (FAILED(write_factory()->CreateTextFormat(family_for(family).c_str(), nullptr, weight, style,
                                                 DWRITE_FONT_STRETCH_NORMAL, points_to_dips(points), user_locale(),
                                                 &format)))
        return nullptr;
    if (!is_font) return format;
    // Kept in the font's cache: a new block when it has none.
    format->AddRef();
    int32_t record = slots::alloc(reinterpret_cast<uintptr_t>(format), com_kind());
    Cell h;
    handle::box(&h, 0, handle::klass::none);
    h.payload3 = uint32_t(record);
    if (!cache_of(font, &cache.cell)) {
        block::make_at(&cache.cell, 4);
        Cell none{type::none, 0, 0, 0};
        block::ks_append(&cache.cell, &font);
        for (int i = 0; i < 3; ++i) block::ks_append(&cache.cell, &none);
        series::set_index(&cache.cell, 1);
        if (Cell* state = environment::field(font, "state")) *state = cache.cell;
    }
    *block::ks_abs_at(&cache.cell, series::index_of(&cache.cell) + 1) = h;
    return format;
}

IDWriteTextLayout* text_layout(const std::wstring& text, IDWriteTextFormat* format, float width, float height) {
    constexpr float unbounded = 3.4028235e38f;
    IDWriteTextLayout* layout = nullptr;
    if (!format || FAILED(write_factory()->CreateTextLayout(text.data(), UINT32(text.size()), format,
                                                            width > 0 ? width : unbounded,
                                                            height > 0 ? height : unbounded, &layout)))
        return nullptr;
    return layout;
}

std::vector<DWRITE_LINE_METRICS> line_metrics(IDWriteTextLayout* layout) {
    std::vector<DWRITE_LINE_METRICS> lines(4);
    UINT32 count = 0;
    HRESULT hr = layout->GetLineMetrics(lines.data(), UINT32(lines.size()), &count);
    if (hr == E_NOT_SUFFICIENT_BUFFER) {
        lines.resize(count);
        hr = layout->GetLineMetrics(lines.data(), UINT32(lines.size()), &count);
    }
    lines.resize(SUCCEEDED(hr) ? std::min<size_t>(count, lines.size()) : 0);
    return lines;
}

void apply_line_spacing(IDWriteTextFormat* format, float min_height) {
    IDWriteTextLayout* probe = text_layout(L"I", format, 0, 0);
    if (!probe) return;
    std::vector<DWRITE_LINE_METRICS> lines = line_metrics(probe);
    probe->Release();
    if (lines.empty()) return;
    format->SetLineSpacing(DWRITE_LINE_SPACING_METHOD_UNIFORM, std::max(lines[0].height, min_height),
                           lines[0].baseline);
}

namespace {

// Style runs: a current range, then the values that style it.
class StyleRuns {
public:
    StyleRuns(IDWriteTextLayout* layout, Target* target, const Cell& styles, const std::u32string& text)
        : layout_(layout), target_(target), styles_(styles) {
        // UTF-16 position of every character, and of the end.
        offsets_.reserve(text.size() + 1);
        uint32_t at = 0;
        for (char32_t c : text) {
            offsets_.push_back(at);
            at += c > 0xFFFF ? 2 : 1;
        }
        offsets_.push_back(at);
    }

    void apply() {
        int32_t n = series::total_length(&styles_);
        for (at_ = series::clamped_index(&styles_); at_ < n; ++at_) {
            const Cell* v = block::ks_abs_at(&styles_, at_);
            switch (cell::type_of(v)) {
                case type::pair: set_range(pair::x(v), pair::y(v)); break;
                case type::tuple: color(draw::color_of_tuple(*v)); break;
                case type::string: layout_->SetFontFamilyName(family_for(utf16_of(*v)).c_str(), range_); break;
                case type::integer: layout_->SetFontSize(points_to_dips(cell::integer(v)), range_); break;
                case type::float_: layout_->SetFontSize(points_to_dips(cell::real(v)), range_); break;
                case type::word: style_word(v); break;
                default: invalid();
            }
        }
    }

private:
    [[noreturn]] void invalid() const {
        Cell at = styles_;
        series::set_index(&at, at_);
        error::fire(error::id::draw_invalid, &at);
    }

    // s x n: from character s (1-based) for n characters, cut at the end.
    void set_range(int32_t start, int32_t count) {
        int32_t chars = int32_t(offsets_.size()) - 1;
        int32_t first = std::clamp(start - 1, 0, chars);
        int32_t last = std::clamp(first + std::max(count, 0), first, chars);
        range_ = {offsets_[size_t(first)], offsets_[size_t(last)] - offsets_[size_t(first)]};
    }

    void color(draw::Color c) {
        if (!target_) return;
        if (ID2D1SolidColorBrush* brush = range_brush(target_, c)) layout_->SetDrawingEffect(brush, range_);
    }

    // After underline, strike and border: an optional colour, then an
    // optional lit-word; the ranges ignore both.
    void skip_decoration_arguments() {
        int32_t n = series::total_length(&styles_);
        if (at_ + 1 < n && cell::is(block::ks_abs_at(&styles_, at_ + 1), type::tuple)) ++at_;
        if (at_ + 1 < n && cell::is(block::ks_abs_at(&styles_, at_ + 1), type::lit_word)) ++at_;
    }

    void style_word(const Cell* v) {
        if (is_word(v, "bold")) {
            layout_->SetFontWeight(DWRITE_FONT_WEIGHT_BOLD, range_);
        } else if (is_word(v, "italic")) {
            layout_->SetFontStyle(DWRITE_FONT_STYLE_ITALIC, range_);
        } else if (is_word(v, "underline")) {
            layout_->SetUnderline(TRUE, range_);
            skip_decoration_arguments();
        } else if (is_word(v, "strike")) {
            layout_->SetStrikethrough(TRUE, range_);
            skip_decoration_arguments();
        } else if (is_word(v, "border")) {
            skip_decoration_arguments();
        } else if (is_word(v, "backdrop")) {
            if (++at_ >= series::total_length(&styles_)) invalid();
            const Cell* c = block::ks_abs_at(&styles_, at_);
            if (cell::is(c, type::word)) c = word::lookup(c);
            if (!cell::is(c, type::tuple)) invalid();
            if (target_) target_->backdrops.push_back({range_.startPosition, range_.length, draw::color_of_tuple(*c)});
        } else {
            invalid();
        }
    }

    IDWriteTextLayout* layout_;
    Target* target_;
    Cell styles_;
    std::vector<uint32_t> offsets_;
    DWRITE_TEXT_RANGE range_{0, 0};
    int32_t at_ = 0;
};

}  // namespace

IDWriteTextLayout* face_layout(const Cell& face, Target* target) {
    const Cell* text = facet(face, "text");
    if (!text || !cell::is(text, type::string)) return nullptr;
    collector::RootCell string, font;
    string.cell = *text;
    const Cell* f = facet(face, "font");
    font.cell = f ? *f : Cell{type::none, 0, 0, 0};
    bool rich = is_word(facet(face, "type"), "rich-text");
    IDWriteTextFormat* format = text_format(font.cell);
    if (!format) return nullptr;
    float width = 0, height = 0;
    if (const Cell* size = facet(face, "size")) {
        if (cell::is(size, type::pair)) width = float(pair::x(size)), height = float(pair::y(size));
        else if (cell::is(size, type::point2d))
            width = std::round(point::coordinate(size, 0)), height = std::round(point::coordinate(size, 1));
    }
    IDWriteTextLayout* layout = text_layout(utf16_of(string.cell), format, width, height);
    if (rich && layout) {
        const Cell* spacing = facet(face, "line-spacing");
        if (spacing && (cell::is(spacing, type::integer) || cell::is(spacing, type::float_))) {
            float min = cell::is(spacing, type::integer) ? float(cell::integer(spacing)) : float(cell::real(spacing));
            apply_line_spacing(layout, min);
        }
        const Cell* tabs = facet(face, "tabs");
        if (tabs && cell::is(tabs, type::integer) && cell::integer(tabs) > 0)
            layout->SetIncrementalTabStop(float(cell::integer(tabs)));
    }
    format->Release();
    if (!layout) return nullptr;
    // Paragraph: alignment and wrapping.
    if (const Cell* para = facet(face, "para")) {
        const Cell* align = facet(*para, "align");
        layout->SetTextAlignment(is_word(align, "center")  ? DWRITE_TEXT_ALIGNMENT_CENTER
                                 : is_word(align, "right") ? DWRITE_TEXT_ALIGNMENT_TRAILING
                                                           : DWRITE_TEXT_ALIGNMENT_LEADING);
        const Cell* v_align = facet(*para, "v-align");
        layout->SetParagraphAlignment(is_word(v_align, "middle")   ? DWRITE_PARAGRAPH_ALIGNMENT_CENTER
                                      : is_word(v_align, "bottom") ? DWRITE_PARAGRAPH_ALIGNMENT_FAR
                                                                   : DWRITE_PARAGRAPH_ALIGNMENT_NEAR);
        const Cell* wrap = facet(*para, "wrap?");
        bool wraps = wrap && cell::is(wrap, type::logic) && cell::logic(wrap);
        layout->SetWordWrapping(wraps ? DWRITE_WORD_WRAPPING_WRAP : DWRITE_WORD_WRAPPING_NO_WRAP);
    }
    // The font's colour and decorations cover the whole text.
    DWRITE_TEXT_RANGE all{0, UINT32(-1)};
    if (cell::is(&font.cell, type::object)) {
        const Cell* color = facet(font.cell, "color");
        if (color && cell::is(color, type::tuple) && target)
            if (ID2D1SolidColorBrush* brush = range_brush(target, draw::color_of_tuple(*color)))
                layout->SetDrawingEffect(brush, all);
        if (has_style(font.cell, "underline")) layout->SetUnderline(TRUE, all);
        if (has_style(font.cell, "strike")) layout->SetStrikethrough(TRUE, all);
    }
    // Laying out a face's text starts a new list of backdrops.
    if (target) target->backdrops.clear();
    const Cell* data = facet(face, "data");
    if (rich && data && cell::is(data, type::block) && series::length_from(data) > 1) {
        collector::RootCell styles;
        styles.cell = *data;
        StyleRuns runs(layout, target, styles.cell, string::text_of(&string.cell));
        try {
            runs.apply();
        } catch (...) {
            layout->Release();
            throw;
        }
    }
    return layout;
}

}  // namespace kel::view::d2d
