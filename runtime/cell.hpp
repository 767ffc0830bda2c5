// The value cell: every value in a series, a context or on the stack is one
// 16-byte cell. The header holds the type id in bits 0-7 and flags in bits
// 8-31; the three payload words hold the value, by family:
//   datatype!, logic!        payload 1 (the denoted type id; 1 or 0)
//   integer!, char!          payload 2
//   float!, percent!, time!  a double in payloads 2-3, low word first
//   series                   payload 1 head index, payload 2 node id, payload 3 by type
//   words                    payload 1 context node, payload 2 symbol id, payload 3 index (-1 unknown)
//   object!, error!, port!   payload 1 context node, payload 3 change-handler record or 0
//   context!                 payload 1 symbol table node, payload 2 values node
// unset! and none! are the header alone.
#pragma once
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// KEL_CHECK states what a cell accessor expects of its cell (the type family
// whose payload it reads). Checked in builds without NDEBUG and in the
// sanitizer build (KEL_CHECKED); compiled out in the others, so an accessor
// costs what the payload read costs.
#if !defined(NDEBUG) || defined(KEL_CHECKED)
#define KEL_CHECK(condition) \
    ((condition) ? void(0) : ::kel::cell::check_failed(#condition, __FILE__, __LINE__))
#else
#define KEL_CHECK(condition) void(0)
#endif

namespace kel {

struct Cell {
    uint32_t header;
    uint32_t payload1;
    uint32_t payload2;
    uint32_t payload3;
};
static_assert(sizeof(Cell) == 16);

// Type ids. The numbering is fixed: files and typesets store it.
namespace type {
enum : uint8_t {
    datatype = 1, unset, none, logic, block, paren, string, file, url, char_,
    integer, float_, symbol, context, word, set_word, lit_word, get_word, refinement, issue,
    native, action, op, function, path, lit_path, set_path, get_path, routine, bitset,
    triple, object, typeset, error, vector, hash, pair, percent, tuple, map,
    binary, series, time, tag, email, handle, date, port, money, ref,
    point2d, point3d, image, event,
};
constexpr int count = 57;  // room for ids 0 to 56
}  // namespace type

namespace cell {

[[noreturn]] inline void check_failed(const char* condition, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: cell check failed: %s\n", file, line, condition);
    std::abort();
}

constexpr uint32_t type_mask = 0xFF;
constexpr uint32_t context_kind_mask = 0x1800;    // context! cell: kind in bits 11-12
constexpr uint32_t context_object_kind = 0x1000;  // kind 2
constexpr uint32_t field_set_flag = 0x2000;       // object field word written by compiled code
constexpr uint32_t event_block_flag = 0x1000;     // event! cell: payload 2 is a block's node
constexpr uint32_t owner_flag = 0x10000;          // context! cell of an owning object; owned image!
constexpr uint32_t stack_values_flag = 0x400000;  // context! cell: values live on the argument stack
constexpr uint32_t newline_flag = 0x40000000;     // a line break before the value when molded

inline uint8_t type_of(const Cell* c) { return uint8_t(c->header & type_mask); }
inline bool is(const Cell* c, uint8_t t) { return type_of(c) == t; }

inline void set_type(Cell* c, uint8_t t) { c->header = (c->header & ~type_mask) | t; }
inline void clear_newline(Cell* c) { c->header &= ~newline_flag; }

// Copies the four words; copying a cell onto itself changes nothing.
inline Cell* copy(const Cell* source, Cell* target) {
    if (source != target) *target = *source;
    return target;
}

inline void set_unset(Cell* c) { c->header = type::unset; }
inline void set_none(Cell* c) { c->header = type::none; }

inline void set_logic(Cell* c, bool v) {
    c->header = type::logic;
    c->payload1 = v;
}
inline bool logic(const Cell* c) {
    KEL_CHECK(type_of(c) == type::logic);
    return c->payload1 != 0;
}

inline void set_integer(Cell* c, int32_t v) {
    c->header = type::integer;
    c->payload2 = uint32_t(v);
}
inline int32_t integer(const Cell* c) { return int32_t(c->payload2); }

inline double real(const Cell* c) {
    uint64_t bits = uint64_t(c->payload3) << 32 | c->payload2;
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}
inline void set_real(Cell* c, uint8_t t, double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    c->header = t;
    c->payload2 = uint32_t(bits);
    c->payload3 = uint32_t(bits >> 32);
}

inline void set_datatype(Cell* c, uint8_t t) {
    c->header = type::datatype;
    c->payload1 = t;
}
// A datatype! cell for the type id: what type errors name.
inline Cell datatype_value(uint8_t t) {
    Cell c{};
    set_datatype(&c, t);
    return c;
}
// The type id a datatype! cell denotes.
inline uint8_t datatype(const Cell* c) {
    KEL_CHECK(type_of(c) == type::datatype);
    return uint8_t(c->payload1);
}

// A typeset is a 96-bit map in payloads 1-3: the bit of type t is in byte
// t >> 3 counting from the first byte of payload 1, mask 0x80 >> (t & 7).
inline bool typeset_has(const Cell* typeset, uint8_t t) {
    uint8_t byte = reinterpret_cast<const uint8_t*>(&typeset->payload1)[t >> 3];
    return byte & (0x80 >> (t & 7));
}
inline void typeset_add(Cell* typeset, uint8_t t) {
    reinterpret_cast<uint8_t*>(&typeset->payload1)[t >> 3] |= uint8_t(0x80 >> (t & 7));
}

}  // namespace cell
}  // namespace kel
