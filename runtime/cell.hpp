// The value cell: every value in a series, a context or on the stack is one
// 16-byte cell. The header holds the type id in bits 0-7 and flags in bits
// 8-31; the three payload words hold the value. A series cell keeps its head
// index in payload 1 and its node id in payload 2.
#pragma once
#include <cstdint>

namespace kel {

struct Cell {
    uint32_t header;
    uint32_t payload1;
    uint32_t payload2;
    uint32_t payload3;
};
static_assert(sizeof(Cell) == 16);

namespace cell {

constexpr uint32_t newline_flag = 0x40000000;  // a line break before the value when molded

inline void set_type(Cell* c, uint8_t type) { c->header = (c->header & 0xFFFFFF00u) | type; }

inline void clear_newline(Cell* c) { c->header &= ~newline_flag; }

}  // namespace cell
}  // namespace kel
