// pair!: two signed 32-bit integers, x in payload 2 and y in payload 3.
// Arithmetic stays in integers while it can; a result that leaves 32 bits,
// an inexact division, or a float scale turns the pair into a point2D!.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"
#include "runtime/datatypes/point.hpp"

namespace kel::pair {
inline Cell* box(Cell* out, int32_t x, int32_t y) {
    *out = Cell{type::pair, 0, uint32_t(x), uint32_t(y)};
    return out;
}
inline int32_t x(const Cell* p) { return int32_t(p->payload2); }
inline int32_t y(const Cell* p) { return int32_t(p->payload3); }

// The pair in the cell becomes a point2D! of the same coordinates.
void to_point2d(Cell* c);

// The action-level arithmetic (op codes of integer::do_math) on a pair in
// argument 0 and argument 1; the result in argument 0.
void math(int op);

// The coordinate a word names: 1 for x, 2 for y, 3 for z (up to count), 0
// for any other word or value.
int coordinate_word(const Cell* element, int count);
// A word of any of the four word types.
bool symbol_word(const Cell* c);

void register_type();
}  // namespace kel::pair
