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

// The char! row.
Cell* make(Cell* proto, Cell* spec, uint8_t t);  // make and to; the result is written into proto
int32_t form(const Cell* value, Cell* out, const Cell* part, int32_t limit);
int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, const Cell* part, int32_t limit,
             int32_t indent);
// Case-sensitive; an integer! compares by its value except under 2 and 12.
int32_t compare(const Cell* a, const Cell* b, int32_t op);

void register_type();

}  // namespace kel::char_
