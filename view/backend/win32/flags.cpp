// Face flags folded into bits, face options, and colours.
#include <windows.h>

#include <string_view>

#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/tuple.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/error.hpp"
#include "runtime/symbol.hpp"
#include "view/backend/win32/win32.hpp"

namespace kel::view::win32 {
namespace {

struct FlagName {
    std::string_view name;
    uint32_t bit;
};
constexpr FlagName flag_names[] = {
    {"all-over", flag::all_over}, {"focusable", flag::focusable}, {"tri-state", flag::tri_state},
    {"scrollable", flag::scrollable}, {"password", flag::password}, {"no-sync", flag::no_sync},
    {"fullscreen", flag::fullscreen}, {"popup", flag::popup}, {"modal", flag::modal}, {"resize", flag::resize},
    {"no-buttons", flag::no_buttons}, {"no-max", flag::no_max}, {"no-min", flag::no_min},
    {"no-title", flag::no_title}, {"no-border", flag::no_border},
};

uint32_t bit_of(const Cell* w) {
    if (!word::any_word_q(cell::type_of(w))) error::fire(error::id::invalid_arg, w);
    uint32_t s = symbol::resolve(word::symbol(w));
    for (const FlagName& f : flag_names)
        if (symbol::resolve(symbol::make_len(f.name.data(), f.name.size())) == s) return f.bit;
    error::fire(error::id::invalid_arg, w);
}

}  // namespace

bool word_is(const Cell* v, const char* name) {
    return v && word::any_word_q(cell::type_of(v)) &&
           symbol::resolve(word::symbol(v)) == symbol::resolve(symbol::make(name));
}

uint32_t face_flags(const Cell& face) {
    const Cell* f = facet(face, "flags");
    if (!f || cell::is(f, type::none)) return 0;
    if (!cell::is(f, type::block)) return bit_of(f);
    uint32_t bits = 0;
    int32_t n = series::total_length(f);
    for (int32_t i = series::clamped_index(f); i < n; ++i) bits |= bit_of(block::ks_abs_at(f, i));
    return bits;
}

bool colorref_of(const Cell* v, COLORREF* out) {
    if (!v || !cell::is(v, type::tuple) || tuple::length(v) < 3) return false;
    const uint8_t* b = tuple::bytes(v);
    *out = RGB(b[0], b[1], b[2]);
    return true;
}

uint32_t argb_of(const Cell* v, bool never_opaque) {
    if (!v || !cell::is(v, type::tuple) || tuple::length(v) < 3) return 0;
    const uint8_t* b = tuple::bytes(v);
    uint32_t alpha = 255 - (tuple::length(v) >= 4 ? b[3] : 0);
    if (never_opaque && alpha == 255) alpha = 254;
    return alpha << 24 | uint32_t(b[0]) << 16 | uint32_t(b[1]) << 8 | b[2];
}

bool needs_transparency(const Cell* color) {
    if (!color || !cell::is(color, type::tuple)) return true;
    return tuple::length(color) >= 4 && tuple::bytes(color)[3] != 0;
}

const Cell* option(const Cell& face, const char* key) {
    const Cell* opts = facet(face, "options");
    if (!opts || !cell::is(opts, type::block)) return nullptr;
    uint32_t s = symbol::resolve(symbol::make(key));
    int32_t n = series::total_length(opts);
    for (int32_t i = series::clamped_index(opts); i + 1 < n; ++i) {
        const Cell* k = block::ks_abs_at(opts, i);
        if (word::any_word_q(cell::type_of(k)) && symbol::resolve(word::symbol(k)) == s)
            return block::ks_abs_at(opts, i + 1);
    }
    return nullptr;
}

DWORD accelerated_style(const Cell& face, bool layered_alone) {
    const Cell* a = option(face, "accelerated");
    if (!a || !cell::is(a, type::logic) || !cell::logic(a)) return 0;
    return layered_alone || state.child_layered ? WS_EX_LAYERED : WS_EX_LAYERED | WS_EX_TOOLWINDOW;
}

}  // namespace kel::view::win32
