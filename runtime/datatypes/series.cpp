// series!: positions, the queries on them, pick and poke, clear and copy,
// shared by every series type through the series! row.
//
// Positions are computed in 64 bits and clamped before use: an index may lie
// anywhere (past the tail after a clear behind it, or as an argument asks),
// but no buffer address is formed from it until it is inside 0 .. length.
#include "runtime/datatypes/series.hpp"

#include <algorithm>
#include <cstring>
#include <vector>

#include "runtime/actions.hpp"
#include "runtime/datatype.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/hash.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/vector.hpp"
#include "runtime/error.hpp"
#include "runtime/murmur.hpp"
#include "runtime/random.hpp"
#include "runtime/sort.hpp"
#include "runtime/symbol.hpp"
#include "runtime/ownership.hpp"
#include "runtime/stack.hpp"
#include "runtime/unicode.hpp"
#include "runtime/words.hpp"

namespace kel::series {
namespace {


int32_t clamp32(int64_t v, int64_t lo, int64_t hi) { return int32_t(std::clamp(v, lo, hi)); }

// Reads and writes one element of a text, binary or vector buffer.
uint32_t read_unit(const uint8_t* p, uint32_t unit) {
    switch (unit) {
        case 1: return p[0];
        case 2: return uint32_t(p[0]) | uint32_t(p[1]) << 8;
        default: return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    }
}

void write_unit(uint8_t* p, uint32_t unit, uint32_t v) {
    for (uint32_t k = 0; k < unit; ++k) p[k] = uint8_t(v >> (8 * k));
}

// The 0-based element a pick or poke position names, or -1 when it names
// none: position 0, before the head, at or past the tail.
int64_t element_at(const Cell* s, int32_t i) {
    if (i == 0) return -1;
    int64_t e = int64_t(index_of(s)) + i - (i > 0 ? 1 : 0);
    return e < 0 || e >= total_length(s) ? -1 : e;
}

// A text buffer wide enough for the code point; indexes in units stay valid.
SeriesBuffer* wide_enough(NodeId node, uint32_t cp) {
    SeriesBuffer* b = alloc::buffer_of(node);
    uint32_t unit = unit_of(b);
    if (cp <= 0xFF || (cp <= 0xFFFF && unit >= 2) || unit == 4) return b;
    if (cp <= 0xFFFF) return unicode::widen_1_to_2(b);
    return unit == 1 ? unicode::widen_1_to_4(b) : unicode::widen_2_to_4(b);
}

// A new buffer of the count units of the source buffer from unit start,
// with its unit and type-level flags; not owned, not fixed.
NodeId copy_units(NodeId source, int64_t start, int64_t count) {
    uint32_t unit = unit_of(alloc::buffer_of(source));
    NodeId node = alloc::alloc_series(uint64_t(std::max<int64_t>(count, 1)), unit, 0);
    SeriesBuffer* b = alloc::buffer_of(source);  // after the allocation, which may move it
    SeriesBuffer* nb = alloc::buffer_of(node);
    using namespace alloc::flag;
    nb->flags = (nb->flags & big) | (b->flags & ~(placement | owned)) | in_use | made;
    std::memcpy(nb->data(), b->data() + b->offset + uint64_t(start) * unit, uint64_t(count) * unit);
    nb->tail = uint32_t(count) * unit;
    return node;
}

}  // namespace

int32_t get_length(Cell* s, bool absolute) {
    int32_t total = total_length(s);
    if (absolute) return total;
    if (index_of(s) > total) {
        s->payload1 = uint32_t(total);
        return 0;
    }
    return total - std::max(index_of(s), 0);
}

bool ks_tail_q(const Cell* s) { return index_of(s) >= total_length(s); }

bool ks_skip(Cell* s, int32_t n) {
    int64_t to = int64_t(index_of(s)) + n;
    if (to <= total_length(s)) s->payload1 = uint32_t(int32_t(to));
    return ks_tail_q(s);
}

int32_t index_from_arg(const Cell* s, const Cell* arg, bool one_based) {
    if (!cell::is(arg, type::integer)) error::fire(error::id::invalid_arg, arg);
    int64_t n = cell::integer(arg);
    if (one_based && n >= 1) --n;
    return clamp32(int64_t(index_of(s)) + n, 0, total_length(s));
}

bool same_series(const Cell* a, const Cell* b) {
    return cell::type_of(a) == cell::type_of(b) && a->payload2 == b->payload2;
}

// ---- stack handlers

void at() { stack::args->payload1 = uint32_t(index_from_arg(stack::args, stack::args + 1, true)); }
void skip() { stack::args->payload1 = uint32_t(index_from_arg(stack::args, stack::args + 1, false)); }
void head() { stack::args->payload1 = 0; }
void tail() { stack::args->payload1 = uint32_t(total_length(stack::args)); }
void next() { ks_skip(stack::args, 1); }

void back() {
    if (index_of(stack::args) > 0) stack::args->payload1 -= 1;
}

void head_q() { cell::set_logic(stack::args, index_of(stack::args) == 0); }
void tail_q() { cell::set_logic(stack::args, ks_tail_q(stack::args)); }
void index_q() { cell::set_integer(stack::args, index_of(stack::args) + 1); }

int32_t length_q(const Cell* s) { return length_from(s); }

// ---- elements

Cell* pick(Cell* s, int32_t i, const Cell*) {
    int64_t e = element_at(s, i);
    if (e < 0) return shared::none();
    uint8_t t = cell::type_of(s);
    SeriesBuffer* b = alloc::buffer_of(s->payload2);
    const uint8_t* p = b->data() + b->offset + uint64_t(e) * unit_of(b);
    if (is_any_block(t)) return const_cast<Cell*>(reinterpret_cast<const Cell*>(p));
    if (t == type::vector) return &(*s = vector::element_value(s, e));
    uint32_t v = read_unit(p, unit_of(b));
    if (t == type::binary) {
        cell::set_integer(s, int32_t(v));
    } else {
        s->header = type::char_;
        s->payload2 = v;
    }
    return s;
}

Cell* poke(Cell* s, int32_t i, Cell* value, const Cell*) {
    int64_t e = element_at(s, i);
    if (e < 0) {
        Cell position{};
        cell::set_integer(&position, i);
        error::fire(error::id::out_of_range, &position);
    }
    uint8_t t = cell::type_of(s);
    // An owner is told before and after; its handler may allocate.
    bool told = notify(s, words::words.poke, int32_t(e), 1, value);
    if (told && e >= total_length(s)) {  // the handler shortened the series
        Cell position{};
        cell::set_integer(&position, i);
        error::fire(error::id::out_of_range, &position);
    }
    if (is_any_block(t)) {
        Cell v = *value;
        hash::unindex(s, int32_t(e));
        SeriesBuffer* b = alloc::buffer_of(s->payload2);
        reinterpret_cast<Cell*>(b->data() + b->offset)[e] = v;
        hash::reindex(s, int32_t(e));
        if (told) notify(s, words::words.poked, int32_t(e), 1, value);
        return value;
    }
    if (t == type::vector) {
        vector::write_value(s, e, value);
        if (told) notify(s, words::words.poked, int32_t(e), 1, value);
        return value;
    }
    uint32_t v;
    if (t == type::binary) {
        if (!cell::is(value, type::char_) && !cell::is(value, type::integer)) error::fire(error::id::invalid_arg, value);
        v = value->payload2 & 0xFF;
    } else {
        if (!cell::is(value, type::char_)) error::fire(error::id::invalid_arg, value);
        v = value->payload2;
        wide_enough(s->payload2, v);
    }
    SeriesBuffer* b = alloc::buffer_of(s->payload2);
    write_unit(b->data() + b->offset + uint64_t(e) * unit_of(b), unit_of(b), v);
    if (told) notify(s, words::words.poked, int32_t(e), 1, value);
    return value;
}

void clear(Cell* s) {
    int32_t n = length_from(s);
    if (n < 1) return;
    int32_t at = clamped_index(s);
    bool told = notify(s, words::words.clear, at, n);
    hash::unindex(s, clamped_index(s));
    SeriesBuffer* b = alloc::buffer_of(s->payload2);
    b->tail = b->offset + uint32_t(clamped_index(s)) * unit_of(b);
    if (told) notify(s, words::words.cleared, at, n);
}

Cell* copy(Cell* value, Cell* result, const Cell* part, bool, const Cell*) {
    const Cell source = *value;
    int64_t total = total_length(&source);
    int64_t index = clamped_index(&source);
    int64_t start = index;
    int64_t count = total - start;
    if (part) {
        if (cell::is(part, type::integer)) {
            count = cell::integer(part);
        } else if (cell::is(part, type::pair)) {
            int64_t x = int32_t(part->payload2), y = int32_t(part->payload3);
            start = std::max<int64_t>(0, index + x - (x >= 1 ? 1 : 0));
            count = y < x ? 0 : y - x;
        } else if (same_series(part, &source)) {
            count = int64_t(index_of(part)) - index;
        } else {
            error::fire_bad_refinement(words::refinements.part, part);
        }
    }
    if (count < 0) {  // the units before the start
        if (start + count < 0) {
            count = start;
            start = 0;
        } else {
            start += count;
            count = -count;
        }
    }
    start = std::min(start, total);
    count = std::min(count, total - start);

    NodeId node = copy_units(source.payload2, start, count);

    result->header = cell::type_of(&source) | (source.header & cell::newline_flag);
    result->payload1 = 0;
    result->payload2 = node;
    result->payload3 = cell::is(&source, type::vector) ? source.payload3 : 0;
    return result;
}


// ---- edits
//
// The modifying handlers: remove, reverse, take, move, random, and the
// owner reflection. Counts are clamped to what the series holds before any
// byte moves, so no argument reaches outside the buffer. The owner of an
// owned series is told before a change and, when it asked, after it.

namespace {

// The count a /part argument gives: an integer, or the distance to a
// position of the same series.
int64_t part_count(const Cell* s, const Cell* part) {
    if (cell::is(part, type::integer)) return cell::integer(part);
    if (!same_series(part, s)) error::fire_bad_refinement(words::refinements.part, part);
    return int64_t(clamped_index(part)) - clamped_index(s);
}

uint8_t* unit_address(NodeId node, int64_t i) {
    SeriesBuffer* b = alloc::buffer_of(node);
    return b->data() + b->offset + uint64_t(i) * unit_of(b);
}

// Drops n units at i, moving the rest down.
void cut(NodeId node, int64_t i, int64_t n) {
    SeriesBuffer* b = alloc::buffer_of(node);
    uint32_t unit = unit_of(b);
    int64_t total = (b->tail - b->offset) / unit;
    uint8_t* at = b->data() + b->offset + uint64_t(i) * unit;
    std::memmove(at, at + uint64_t(n) * unit, uint64_t(total - i - n) * unit);
    b->tail -= uint32_t(n) * unit;
}

// The element at i as a value: a cell of an any-block, a byte of a binary
// as integer!, a code unit of text as char!.
Cell element(const Cell* s, int64_t i) {
    uint8_t t = cell::type_of(s);
    const uint8_t* p = unit_address(s->payload2, i);
    if (is_any_block(t)) return *reinterpret_cast<const Cell*>(p);
    if (t == type::vector) return vector::element_value(s, i);
    Cell v{};
    uint32_t u = read_unit(p, unit_of(alloc::buffer_of(s->payload2)));
    if (t == type::binary) {
        cell::set_integer(&v, int32_t(u));
    } else {
        v.header = type::char_;
        v.payload2 = u;
    }
    return v;
}

}  // namespace

SortRange sort_range(const Cell* s, const Cell* part) {
    int64_t total = total_length(s), start = clamped_index(s), count = total - start;
    if (part) {
        int64_t n = part_count(s, part);
        if (n < 0) {  // the units before the position
            n = std::min<int64_t>(-n, start);
            start -= n;
        }
        count = std::min<int64_t>(n, total - start);
    }
    return {start, count};
}

SortRecords sort_records(int64_t count, const Cell* skip, const Cell* comparator, bool all) {
    SortRecords r;
    if (skip) {
        if (!cell::is(skip, type::integer)) error::fire_bad_refinement(words::refinements.skip, skip);
        int64_t n = cell::integer(skip);
        if (n < 1 || count < n || count % n) error::fire_bad_refinement(words::refinements.skip, skip);
        r.size = n;
    }
    if (all && !skip) error::fire(error::id::bad_refines);
    if (comparator) {
        if (cell::is(comparator, type::integer)) {
            if (!skip || all) error::fire(error::id::bad_refines);
            int64_t k = cell::integer(comparator);
            if (k < 1 || k > r.size) error::fire(error::id::out_of_range, comparator);
            r.offset = k - 1;
        } else if (cell::is(comparator, type::function)) {
            r.function = comparator;
        } else {
            error::fire_bad_refinement(words::refinements.compare, comparator);
        }
    }
    return r;
}

int64_t checked_total(uint64_t n, int64_t dup, int64_t length) {
    uint64_t total = n * uint64_t(std::max<int64_t>(dup, 1));
    if (total > INT32_MAX || uint64_t(length) + total > INT32_MAX) error::fire(error::id::no_memory);
    return int64_t(total);
}

bool notify(const Cell* s, const Cell* action, int32_t index, int32_t count, const Cell* value) {
    return ownership::is_owned(s) && ownership::check(s, action, value, index, count);
}

void remove(Cell* s, const Cell* part, const Cell* key) {
    int64_t count = part ? part_count(s, part) : 1;
    if (count < 1) return;
    Cell at = *s;
    if (key) {
        auto find = actions::handler<actions::Find>(cell::type_of(s), action::find, s);
        Cell* found = find(&at, const_cast<Cell*>(key), nullptr, false, true, false, false, nullptr, nullptr,
                           false, false, false, false);
        if (cell::is(found, type::none)) {
            cell::set_none(s);
            return;
        }
        at = *found;
        ++count;  // the key and the value after it
    }
    int64_t index = clamped_index(&at), total = total_length(&at);
    if (index >= total) return;
    count = std::min(count, total - index);
    bool told = notify(s, words::words.remove, int32_t(index), int32_t(count));
    if (told) {  // the owner's handler may have changed the series
        total = total_length(&at);
        if (index >= total) return;
        count = std::min(count, total - index);
    }
    hash::unindex(&at, int32_t(index));  // the cells behind move down
    cut(at.payload2, index, count);
    hash::reindex(&at, int32_t(index));
    if (told) notify(s, words::words.removed, int32_t(index), int32_t(count));
}

void reverse(Cell* s, const Cell* part, const Cell* skip) {
    if (ks_tail_q(s)) return;
    int64_t index = clamped_index(s), rest = total_length(s) - index, count = rest;
    if (part) {
        count = part_count(s, part);
        if (count < 1) return;
        count = std::min(count, rest);
    }
    int64_t n = 1;
    if (skip) {
        if (!cell::is(skip, type::integer)) error::fire_bad_refinement(words::refinements.skip, skip);
        n = cell::integer(skip);
        if (n == count) return;
        if (n < 1) error::fire(error::id::out_of_range, skip);
        if (count < n || count % n) error::fire_bad_refinement(words::refinements.skip, skip);
    }
    bool told = notify(s, words::words.reverse, int32_t(index), int32_t(count));
    if (told) {
        count = std::min<int64_t>(count, std::max<int64_t>(total_length(s) - index, 0));
        count -= count % n;
    }
    uint32_t unit = unit_of(alloc::buffer_of(s->payload2));
    size_t record = size_t(n) * unit;
    uint8_t* lo = unit_address(s->payload2, index);
    uint8_t* hi = lo + uint64_t(count - n) * unit;
    hash::unindex(s, int32_t(index));
    for (; lo < hi; lo += record, hi -= record) sort::swap_records(lo, hi, record, true);
    hash::reindex(s, int32_t(index));
    if (told) notify(s, words::words.reversed, int32_t(index), int32_t(count));
}

Cell* take(Cell* s, const Cell* part, bool, bool last) {
    const Cell source = *s;
    int64_t index = clamped_index(&source), total = total_length(&source);
    if (total - index < 1) return shared::none();
    int64_t count = 1;
    if (part) {
        if (cell::is(part, type::integer)) {
            count = cell::integer(part);
        } else {
            if (!same_series(part, &source)) error::fire_bad_refinement(words::refinements.part, part);
            int64_t p = clamped_index(part);
            count = p < index ? 0 : last ? total - p : p - index;
        }
    }
    int64_t asked = count, start;
    if (count < 0) {  // the units before the position; at the head there are none
        count = std::min<int64_t>(last ? 1 : -count, index);
        start = last ? total - count : index - count;
    } else {
        count = std::clamp<int64_t>(count, 1, total - index);
        start = last ? total - count : index;
    }
    bool told = notify(&source, words::words.take, int32_t(index), int32_t(asked));
    if (told) {
        total = total_length(&source);
        start = std::min(start, total);
        count = std::min(count, total - start);
        if (count < 1 && !part) return shared::none();
    }
    Cell* result = stack::push_slot();
    cell::set_none(result);
    if (!part) {
        *result = element(&source, start);
    } else {
        NodeId node = copy_units(source.payload2, start, count);
        *result = Cell{cell::type_of(&source), 0, node, cell::is(&source, type::vector) ? source.payload3 : 0};
        if (cell::is(result, type::hash)) hash::index_block(result);  // a table of its own
    }
    hash::unindex(&source, int32_t(start));
    cut(source.payload2, start, count);
    hash::reindex(&source, int32_t(start));
    if (told) notify(&source, words::words.taken, int32_t(index), int32_t(asked));
    return result;
}

Cell* move(Cell* origin, Cell* target, const Cell* part) {
    uint8_t from_type = cell::type_of(origin), to_type = cell::type_of(target);
    if (!(is_any_block(from_type) || is_text(from_type) || from_type == type::binary || from_type == type::vector ||
          from_type == type::image)) {
        Cell where = stack::get_call_word(), kind;
        cell::set_datatype(&kind, from_type);
        Cell argument{type::word, 0, symbol::make("origin"), uint32_t(-1)};
        error::fire(error::id::expect_arg, &where, &kind, &argument);
    }
    if (ks_tail_q(origin)) return target;
    int64_t count = 1;
    if (part) {
        if (!cell::is(part, type::integer)) error::fire_bad_refinement(words::refinements.part, part);
        count = cell::integer(part);
        if (count < 1) return target;
    }
    int64_t from = clamped_index(origin), from_total = total_length(origin);
    count = std::min(count, from_total - from);
    uint32_t unit = unit_of(alloc::buffer_of(origin->payload2));
    if (origin->payload2 != target->payload2) {
        if (is_text(from_type) && is_text(to_type) && unit != unit_of(alloc::buffer_of(target->payload2))) {
            // Text between buffers of different widths: the code points are
            // read out first, and the target widens as they need.
            bool told = notify(origin, words::words.move, int32_t(from), int32_t(count));
            if (told) count = std::min<int64_t>(count, std::max<int64_t>(total_length(origin) - from, 0));
            const Cell source = *origin, dest = *target;
            std::u32string moved = string::read_text(&source, from, count);
            string::splice(dest.payload2, clamped_index(&dest), 0, moved, 1, true);
            cut(source.payload2, from, count);
            if (told) notify(&source, words::words.moved, int32_t(from), int32_t(count));
            return target;
        }
        if (!series::is_series(to_type) || is_any_block(from_type) != is_any_block(to_type) ||
            unit != unit_of(alloc::buffer_of(target->payload2))) {
            Cell a, b;
            cell::set_datatype(&a, from_type);
            cell::set_datatype(&b, to_type);
            error::fire(error::id::move_bad, &a, &b);
        }
        bool told = notify(origin, words::words.move, int32_t(from), int32_t(count));
        if (told) count = std::min<int64_t>(count, std::max<int64_t>(total_length(origin) - from, 0));
        const Cell source = *origin, dest = *target;
        int64_t to = clamped_index(&dest), to_total = total_length(&dest);
        hash::unindex(&dest, int32_t(to));
        hash::unindex(&source, int32_t(from));
        SeriesBuffer* tb = alloc::buffer_of(dest.payload2);
        uint64_t need = uint64_t(to_total + count) * unit;
        if (tb->offset + need > tb->size) alloc::expand_series(tb, 2 * need);
        tb = alloc::buffer_of(dest.payload2);
        uint8_t* at = tb->data() + tb->offset + uint64_t(to) * unit;
        std::memmove(at + uint64_t(count) * unit, at, uint64_t(to_total - to) * unit);
        std::memcpy(at, unit_address(source.payload2, from), uint64_t(count) * unit);
        tb->tail += uint32_t(count) * unit;
        cut(source.payload2, from, count);
        hash::reindex(&dest, int32_t(to));
        hash::reindex(&source, int32_t(from));
        if (told) notify(&source, words::words.moved, int32_t(from), int32_t(count));
        return target;
    }
    // Within one buffer.
    int64_t to = std::min<int64_t>(std::max<int64_t>(index_of(target), 0), from_total);
    if (to == from) return target;
    if (to > from && to < from_total && from_total - to < count) return origin;
    bool told = notify(origin, words::words.move, int32_t(from), int32_t(count));
    if (told) {
        from_total = total_length(origin);
        if (from >= from_total) return target;
        count = std::min(count, from_total - from);
        to = std::min(to, from_total);
        if (to > from && to < from + count) return origin;
    }
    std::vector<uint8_t> moved(uint64_t(count) * unit);
    NodeId node = origin->payload2;
    int32_t first_moved = int32_t(std::min(from, to));
    hash::unindex(origin, first_moved);
    std::memcpy(moved.data(), unit_address(node, from), moved.size());
    uint8_t* base = unit_address(node, 0);
    if (to > from) {
        // The units between slide down; the moved ones land after the unit
        // that was at the target (at the tail: at the new tail).
        int64_t land = to < from_total ? to + 1 - count : from_total - count;
        land = std::max<int64_t>(land, from);
        std::memmove(base + uint64_t(from) * unit, base + uint64_t(from + count) * unit,
                     uint64_t(land - from) * unit);
        std::memcpy(base + uint64_t(land) * unit, moved.data(), moved.size());
    } else {
        std::memmove(base + uint64_t(to + count) * unit, base + uint64_t(to) * unit, uint64_t(from - to) * unit);
        std::memcpy(base + uint64_t(to) * unit, moved.data(), moved.size());
    }
    hash::reindex(origin, first_moved);
    if (told) notify(origin, words::words.moved, int32_t(from), int32_t(count));
    return target;
}

void random(Cell* s, bool seed, bool secure, bool only) {
    int64_t index = clamped_index(s), length = total_length(s) - index;
    bool told = notify(s, words::words.random, int32_t(index), int32_t(length));
    if (told) {
        index = std::min<int64_t>(index, total_length(s));
        length = total_length(s) - index;
    }
    if (seed) {
        SeriesBuffer* b = alloc::buffer_of(s->payload2);
        random::init_genrand(murmur::hash(b->data() + b->offset + uint64_t(index) * unit_of(b),
                                          uint64_t(length) * unit_of(b), 0));
        cell::set_unset(s);
        return;
    }
    if (only) {
        if (length < 1) {
            cell::set_none(s);
            return;
        }
        *s = element(s, index + random::next_int(secure, int32_t(length)) - 1);
        return;
    }
    hash::unindex(s, int32_t(index));
    uint32_t unit = unit_of(alloc::buffer_of(s->payload2));
    for (int64_t c = length, at = index; c > 1; --c, ++at) {
        int64_t r = random::next_int(secure, int32_t(c)) - 1;
        if (r) sort::swap_records(unit_address(s->payload2, at), unit_address(s->payload2, at + r), unit, true);
    }
    hash::reindex(s, int32_t(index));
    if (told) notify(s, words::words.randomized, int32_t(index), int32_t(length));
}

// Setting the owner: none releases the series, a block of an object and a
// field word makes that object its owner. Other fields are left alone.
void modify(Cell* target, Cell* field, Cell* value, bool) {
    if (!cell::is(field, type::word) && !cell::is(field, type::lit_word)) error::fire(error::id::invalid_arg, field);
    if (symbol::resolve(field->payload2) == symbol::resolve(words::symbols.owned)) {
        if (cell::is(value, type::none)) {
            ownership::unbind(target);
        } else if (cell::is(value, type::block) && series::length_from(value) >= 2 &&
                   cell::is(block::ks_abs_at(value, series::clamped_index(value)), type::object)) {
            Cell owner = *block::ks_abs_at(value, series::clamped_index(value));
            Cell word = *block::ks_abs_at(value, series::clamped_index(value) + 1);
            ownership::bind(target, &owner, &word);
        } else {
            error::fire(error::id::invalid_arg, value);
        }
    }
    *target = *value;
}

void register_type() {
    datatype::Row row(datatype::unsupported);
    row.set(action::at, &at)
        .set(action::back, &back)
        .set(action::clear, &clear)
        .set(action::copy, &copy)
        .set(action::head, &head)
        .set(action::head_q, &head_q)
        .set(action::index_q, &index_q)
        .set(action::length_q, &length_q)
        .set(action::move, &move)
        .set(action::random, &random)
        .set(action::reflect, &ownership::reflect_owner)
        .set(action::modify, &modify)
        .set(action::remove, &remove)
        .set(action::reverse, &reverse)
        .set(action::take, &take)
        .set(action::next, &next)
        .set(action::pick, &pick)
        .set(action::poke, &poke)
        .set(action::skip, &skip)
        .set(action::tail, &tail)
        .set(action::tail_q, &tail_q);
    datatype::register_type({type::series, 0, "series!", row.handlers});
}

}  // namespace kel::series
