// Native fonts of font! objects: one GDI font per font object at the
// current DPI (and one at 96 DPI), kept in the object's own `state` block so
// that every face sharing the object shares the handle.
#include <windows.h>

#include <string>

#include "runtime/collector.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/handle.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/ownership.hpp"
#include "runtime/slots.hpp"
#include "runtime/symbol.hpp"
#include "runtime/unicode.hpp"
#include "view/backend/win32/win32.hpp"

namespace kel::view::win32 {
namespace {

bool same_object(const Cell* a, const Cell& b) {
    return cell::is(a, type::object) && cell::is(&b, type::object) && a->payload1 == b.payload1;
}

// The font's cache block: positioned past its head, the value before the
// position this very font. Another block in `state` is reset.
Cell* cache_of(const Cell& font) {
    Cell* st = facet(font, "state");
    if (!st || !cell::is(st, type::block)) return nullptr;
    int32_t at = series::clamped_index(st);
    if (at >= 1 && same_object(block::ks_abs_at(st, at - 1), font)) return st;
    cell::set_none(st);
    return nullptr;
}

// The cache cell n (1 scaled font, 2 text format, 3 font at 96 DPI).
Cell* cache_cell(Cell* cache, int n) {
    int32_t at = series::clamped_index(cache) + n - 1;
    return at < series::total_length(cache) ? block::ks_abs_at(cache, at) : nullptr;
}

HFONT create(const Cell& font, int dpi) {
    const Cell* size = facet(font, "size");
    int points = size && cell::is(size, type::integer) && cell::integer(size) > 0 ? cell::integer(size)
                                                                                  : state.default_font_size;
    int height = points * dpi / -72;
    const Cell* angle = facet(font, "angle");
    int orientation = angle && cell::is(angle, type::integer) ? cell::integer(angle) * 10 : 0;
    const Cell* aa = facet(font, "anti-alias?");
    DWORD quality = aa && cell::is(aa, type::logic) && cell::logic(aa) ? ANTIALIASED_QUALITY
                    : aa && word_is(aa, "ClearType")                 ? CLEARTYPE_QUALITY
                                                                     : DEFAULT_QUALITY;
    std::u16string name = state.default_font_name;
    const Cell* n = facet(font, "name");
    if (n && cell::is(n, type::string)) name = unicode::utf8_to_utf16(string::to_utf8(n)).substr(0, 31);
    int weight = FW_NORMAL;
    bool italic = false, underline = false, strike = false;
    auto style_word = [&](const Cell* w) {
        if (word_is(w, "bold")) weight = FW_BOLD;
        else if (word_is(w, "italic")) italic = true;
        else if (word_is(w, "underline")) underline = true;
        else if (word_is(w, "strike")) strike = true;
    };
    if (const Cell* style = facet(font, "style")) {
        if (cell::is(style, type::block)) {
            int32_t end = series::total_length(style);
            for (int32_t i = series::clamped_index(style); i < end; ++i) style_word(block::ks_abs_at(style, i));
        } else if (word::any_word_q(cell::type_of(style))) {
            style_word(style);
        }
    }
    const Cell* wt = facet(font, "weight");
    if (wt && cell::is(wt, type::integer) && cell::integer(wt) > 0) weight = std::min(cell::integer(wt), 999);
    std::wstring face(name.begin(), name.end());
    return CreateFontW(height, 0, 0, orientation, weight, italic, underline, strike, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, quality, DEFAULT_PITCH, face.c_str());
}

// A handle! of the font, whose record deletes it once no value holds it.
Cell* font_handle(Cell* out, HFONT f) {
    handle::box(out, int32_t(intptr_t(f)), handle::klass::font);
    out->payload3 = uint32_t(slots::alloc(uintptr_t(f), state.font_kind));
    return out;
}

// The face joins the font's users unless it is there.
void add_user(const Cell& font, const Cell& face) {
    if (!cell::is(&face, type::object)) return;
    Cell* users = facet(font, "parent");
    if (!users) return;
    bool keep = false;
    if (cell::is(users, type::block) && series::total_length(users) > 0) {
        const Cell* first = block::ks_abs_at(users, 0);
        const Cell* first_font = cell::is(first, type::object) ? facet(*first, "font") : nullptr;
        keep = first_font && same_object(first_font, font);
    }
    collector::RootCell kept_face{face}, list;
    if (!keep) {
        block::make_at(&list.cell, 4);
        if (Cell* u = facet(font, "parent")) *u = list.cell;
    }
    users = facet(font, "parent");
    int32_t n = series::total_length(users);
    for (int32_t i = 0; i < n; ++i)
        if (same_object(block::ks_abs_at(users, i), face)) return;
    block::ks_append(users, &kept_face.cell);
}

}  // namespace

HFONT native_font(const Cell& font, bool dpi_scaled) {
    Cell* cache = cache_of(font);
    Cell* cell1 = cache ? cache_cell(cache, dpi_scaled ? 1 : 3) : nullptr;
    if (cell1 && cell::is(cell1, type::handle)) return reinterpret_cast<HFONT>(intptr_t(int32_t(cell1->payload2)));
    collector::RootCell kept{font}, block_cell, scaled, base;
    if (!cache) {
        block::make_at(&block_cell.cell, 4);
        block::ks_append(&block_cell.cell, &kept.cell);
        Cell none{type::none, 0, 0, 0};
        for (int i = 0; i < 3; ++i) block::ks_append(&block_cell.cell, &none);
        series::set_index(&block_cell.cell, 1);  // positioned past the font
        if (Cell* st = facet(kept.cell, "state")) *st = block_cell.cell;
        cache = cache_of(kept.cell);
    }
    HFONT made = create(kept.cell, dpi_scaled ? state.dpi : 96);
    if (!made) return nullptr;
    font_handle(&scaled.cell, made);
    *cache_cell(cache_of(kept.cell), dpi_scaled ? 1 : 3) = scaled.cell;
    if (dpi_scaled && !cell::is(cache_cell(cache_of(kept.cell), 3), type::handle)) {
        if (HFONT plain = create(kept.cell, 96)) {
            font_handle(&base.cell, plain);
            *cache_cell(cache_of(kept.cell), 3) = base.cell;
        }
    }
    return made;
}

void apply_font(HWND window, const Cell& face) {
    const Cell* f = facet(face, "font");
    HFONT h = nullptr;
    if (f && cell::is(f, type::object)) {
        Cell font = *f;
        h = native_font(font, true);
        add_user(font, face);
    }
    SendMessageW(window, WM_SETFONT, WPARAM(h ? h : state.default_font), FALSE);
}

void release_font(const Cell& font) {
    Cell* cache = cache_of(font);
    if (!cache) return;
    bool freed = false;
    for (int n = 1; n <= 3; ++n) {
        Cell* c = cache_cell(cache, n);
        if (c && cell::is(c, type::handle) && int32_t(c->payload3) >= 0) {
            slots::free(int32_t(c->payload3), true);
            cell::set_none(c);
            freed = true;
        }
    }
    if (freed)
        if (Cell* st = facet(font, "state")) cell::set_none(st);
}

void update_font(const Cell& font, int32_t facet_index) {
    // name size style weight angle anti-alias? make another font; colour and shadow do not.
    if ((facet_index >= 0 && facet_index <= 4) || facet_index == 6) release_font(font);
}

void unlink_font(const Cell& face) {
    for (const char* name : {"font", "para"})
        if (const Cell* v = facet(face, name); v && cell::is(v, type::object)) ownership::unbind(v);
}

}  // namespace kel::view::win32
