// char!: one Unicode code point (0 to 0x10FFFF) in payload 2, the word an
// integer! uses. Registered under integer!, its parent.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"

namespace kel::char_ {

constexpr uint32_t max_code_point = 0x10FFFF;

inline Cell* box(Cell* out, uint32_t cp) {
    *out = Cell{type::char_, 0, cp, 0};
    return out;
}

void register_type();

}  // namespace kel::char_
