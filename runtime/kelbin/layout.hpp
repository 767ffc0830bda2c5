// What the KELBIN encoder and decoder share: the magic, the lead bytes, the
// fixed layout's header bits, the error ids and the context-flag mapping.
// kelbin.hpp has the format.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"
#include "runtime/context.hpp"
#include "runtime/datatype.hpp"
#include "runtime/error.hpp"

namespace kel::kelbin::layout {


constexpr uint8_t magic[6] = {'K', 'E', 'L', 'B', 'I', 'N'};
constexpr uint8_t lead_newline = 0xC0, lead_reference = 0xC1, lead_true = 0xC2, lead_false = 0xC3,
                  lead_definition = 0xC4, lead_copy = 0xFF;
constexpr uint8_t flag_f = 0x40;
// Fixed layout: the header word's bits (type id in bits 0-7), and the word
// that opens a path.
constexpr uint32_t fixed_reference = 1u << 19, fixed_money_negative = 1u << 22, fixed_complemented = 1u << 23,
                   fixed_handlers = 1u << 24, fixed_global = 1u << 25, fixed_definition = 1u << 25,
                   fixed_newline = 1u << 31;
constexpr uint32_t fixed_path = 255;
constexpr uint32_t max_path = 65536;
constexpr uint32_t money_negative = 0x4000;  // money! header: the sign

inline bool no_codec_type(uint8_t t) {
    return t == type::routine || t == type::triple || t == type::handle || t == type::port ||
           t == type::event;
}

// A context record's flags (the compact flags byte: kind in bits 0-1, values
// on the stack 2, the context flag 3, values follow 4) in a fixed header
// word's bits 26-30, and back.
inline uint32_t fixed_context_bits(uint8_t flags) {
    return uint32_t(flags & 3) << 26 | uint32_t(flags & 8) << 25 | uint32_t(flags & 4) << 27 |
           uint32_t(flags & 16) << 26;
}
inline uint8_t context_flags_of(uint32_t word) {
    return uint8_t((word >> 26 & 3) | (word >> 28 & 1) << 3 | (word >> 29 & 1) << 2 | (word >> 30 & 1) << 4);
}

inline uint8_t log2_unit(uint32_t unit) { return unit == 1 ? 0 : unit == 2 ? 1 : unit == 4 ? 2 : 3; }

inline bool owner_is_codec_context(NodeId ctx) {
    if (!ctx || ctx == context::global) return false;
    uint8_t t = cell::type_of(context::owner_cell(ctx));
    return t == type::object || t == type::function;
}


}  // namespace kel::kelbin::layout
