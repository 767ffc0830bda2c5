// pair!: two signed 32-bit integers, x in payload 2 and y in payload 3.
// point2D! and point3D!: two or three 32-bit floats in payloads 1, 2 (and 3).
#pragma once
#include <bit>
#include <cstdint>

#include "runtime/cell.hpp"

namespace kel::pair {
inline Cell* box(Cell* out, int32_t x, int32_t y) {
    *out = Cell{type::pair, 0, uint32_t(x), uint32_t(y)};
    return out;
}
void register_type();
}  // namespace kel::pair

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
