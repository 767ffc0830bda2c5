// point2D! and point3D!: vectors of two and three 32-bit floats in payloads
// 1, 2 (and 3). Arithmetic runs in doubles and every stored coordinate is
// rounded back to 32 bits; equality is the almost-equal test of 32-bit
// floats (ten units in the last place).
#pragma once
#include <bit>
#include <cstdint>

#include "runtime/cell.hpp"

namespace kel::point2d {
inline Cell* box(Cell* out, double x, double y) {
    *out = Cell{type::point2d, std::bit_cast<uint32_t>(float(x)), std::bit_cast<uint32_t>(float(y)), 0};
    return out;
}
void register_type();
}  // namespace kel::point2d

namespace kel::point3d {
inline Cell* box(Cell* out, double x, double y, double z) {
    *out = Cell{type::point3d, std::bit_cast<uint32_t>(float(x)), std::bit_cast<uint32_t>(float(y)),
                std::bit_cast<uint32_t>(float(z))};
    return out;
}
void register_type();
}  // namespace kel::point3d

namespace kel::point {

// Coordinate i (0 to 2) of a point.
inline float coordinate(const Cell* p, int i) {
    return std::bit_cast<float>(i == 0 ? p->payload1 : i == 1 ? p->payload2 : p->payload3);
}

// The action-level arithmetic (op codes of integer::do_math, 0 to 4) on a
// point in argument 0 and argument 1; the result in argument 0.
void math(int op);

// The value of a text loaded as Kel source, when it is one value of type t;
// anything else raises bad-to-arg naming t and the text.
Cell load_as(const Cell* text, uint8_t t);

// A coordinate as a path or pick answers it: a cell valid until the next call.
Cell* answer_float(double d);

// Comparison of a point with a value (a pair counts as a point2D!).
int32_t compare(const Cell* a, const Cell* b, int32_t op);

}  // namespace kel::point
