// series!: the abstract type behind every series. No value is ever of type
// series!; its row holds the positional handlers that block!, the path
// family, paren!, the text types, binary! and vector! reach by inheritance.
//
// A series cell holds its head index in payload 1 (units, 0-based, signed,
// allowed to lie past the tail) and its buffer's node in payload 2. Every
// handler here looks only at that index, the node and the buffer's unit,
// and branches on the type where the element kind matters. The one rule
// everything relies on: an index is only a request. Reads and writes go
// through a position clamped to 0 .. the buffer's length, so a stale or
// hostile index never reaches outside the data area.
#pragma once
#include <cstdint>

#include "runtime/alloc.hpp"
#include "runtime/cell.hpp"
#include "runtime/typesets.hpp"

namespace kel::series {

// Type groups, by their names in this module.
inline bool is_any_block(uint8_t t) { return typesets::is_any_block(t); }
inline bool is_text(uint8_t t) { return typesets::is_any_string(t); }
inline bool is_series(uint8_t t) { return typesets::is_series(t); }

// The cells laid out as a head index and a buffer node: the series, and
// map! and bitset!, which keep their buffer the same way.
inline bool has_buffer(uint8_t t) { return is_series(t) || t == type::map || t == type::bitset; }

inline int32_t index_of(const Cell* s) {
    KEL_CHECK(has_buffer(cell::type_of(s)));
    return int32_t(s->payload1);
}
inline void set_index(Cell* s, int32_t i) {
    KEL_CHECK(has_buffer(cell::type_of(s)));
    s->payload1 = uint32_t(i);
}
inline NodeId node_of(const Cell* s) {
    KEL_CHECK(has_buffer(cell::type_of(s)));
    return s->payload2;
}

// The bytes of one unit of a series buffer (a buffer without a unit holds
// bytes).
inline uint32_t unit_of(const SeriesBuffer* b) {
    uint32_t u = b->unit();
    return u ? u : 1;
}

// Units between the buffer's head and tail, whatever the index. Inline, as
// every series access asks it.
inline int32_t total_length(const Cell* s) {
    const SeriesBuffer* b = alloc::buffer_of(s->payload2);  // any cell laid out as a series
    return int32_t((b->tail - b->offset) / unit_of(b));
}
// The index clamped to 0 .. total length.
inline int32_t clamped_index(const Cell* s) {
    int32_t i = index_of(s), total = total_length(s);
    return i < 0 ? 0 : i > total ? total : i;
}
// Units from the index to the tail (from the head when absolute); 0 past
// the tail, a negative index counting as 0. get_length also moves an index
// past the tail back to the tail.
inline int32_t length_from(const Cell* s) { return total_length(s) - clamped_index(s); }
int32_t get_length(Cell* s, bool absolute);

// True when the position is at or past the tail.
bool ks_tail_q(const Cell* s);
// Adds n to the index unless that passes the tail; answers ks_tail_q after.
bool ks_skip(Cell* s, int32_t n);
// The new index of `at` (one_based) or `skip` with the argument, clamped to
// 0 .. total length; anything but an integer! raises invalid-arg.
int32_t index_from_arg(const Cell* s, const Cell* arg, bool one_based);

// Same type and same buffer.
bool same_series(const Cell* a, const Cell* b);

// Handlers of the series! row. The stack handlers read stack::args (the
// series, then at's and skip's argument) and leave the result in args[0].
void at();
void back();
void head();
void head_q();
void index_q();
void next();
void skip();
void tail();
void tail_q();
int32_t length_q(const Cell* s);
// pick answers the element: a cell of an any-block in place, the shared
// none out of range; the element of other series is written over `s` itself
// (the call's result slot) and s is answered.
Cell* pick(Cell* s, int32_t i, const Cell* index_cell);
Cell* poke(Cell* s, int32_t i, Cell* value, const Cell* index_cell);
void clear(Cell* s);
// A shallow copy of the units from the index, limited by /part, into result.
Cell* copy(Cell* value, Cell* result, const Cell* part, bool deep, const Cell* kind);

// The edits: remove (/part, /key), reverse (/part, /skip), take (/part,
// /last; a take without /part answers the element itself), move (/part)
// and random (shuffle in place, /only one element, /seed).
void remove(Cell* s, const Cell* part, const Cell* key);
void reverse(Cell* s, const Cell* part, const Cell* skip);
Cell* take(Cell* s, const Cell* part, bool deep, bool last);
Cell* move(Cell* origin, Cell* target, const Cell* part);
void random(Cell* s, bool seed, bool secure, bool only);

// What sort orders: the units from the index to the tail, or the /part
// count (an integer, or a position of the same series; a negative count
// takes the units before the position), clamped to the series.
struct SortRange {
    int64_t start;
    int64_t count;
};
SortRange sort_range(const Cell* s, const Cell* part);

// The records sort orders: /skip units each (the count must be a whole
// number of them), compared at the /compare offset (-1 when none is given)
// or by a /compare function. /all needs /skip; an integer /compare needs
// /skip and no /all.
struct SortRecords {
    int64_t size = 1;
    int64_t offset = -1;
    const Cell* function = nullptr;
};
SortRecords sort_records(int64_t count, const Cell* skip, const Cell* comparator, bool all);

// The units of n units repeated dup times (at least once), checked with the
// series' length against 32 bits: a larger total or new length raises
// internal no-memory. Every append, insert and change counts through here.
int64_t checked_total(uint64_t n, int64_t dup, int64_t length);

// Tells the owner of an owned series about a change: the action word, the
// index and count, the new value (null: none). Answers whether the owner was
// told; an edit that told it before the change tells it again after, with
// the past-tense word.
bool notify(const Cell* s, const Cell* action, int32_t index, int32_t count, const Cell* value = nullptr);

void register_type();

}  // namespace kel::series
