// series!: positions, the queries on them, pick and poke, clear and copy,
// shared by every series type through the series! row.
//
// Positions are computed in 64 bits and clamped before use: an index may lie
// anywhere (past the tail after a clear behind it, or as an argument asks),
// but no buffer address is formed from it until it is inside 0 .. length.
#include "runtime/datatypes/series.hpp"

#include <algorithm>
#include <cstring>

#include "runtime/actions.hpp"
#include "runtime/datatype.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/error.hpp"
#include "runtime/ownership.hpp"
#include "runtime/stack.hpp"
#include "runtime/unicode.hpp"
#include "runtime/words.hpp"

namespace kel::series {
namespace {

constexpr error::Id invalid_arg{error::Category::script, "invalid-arg"};
constexpr error::Id invalid_refine_arg{error::Category::script, "invalid-refine-arg"};
constexpr error::Id not_done{error::Category::internal, "not-done"};

uint32_t unit_of(const SeriesBuffer* b) {
    uint32_t u = b->unit();
    return u ? u : 1;
}

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

}  // namespace

bool is_any_block(uint8_t t) {
    switch (t) {
        case type::block: case type::paren: case type::path: case type::lit_path:
        case type::set_path: case type::get_path: case type::hash: return true;
        default: return false;
    }
}

bool is_text(uint8_t t) {
    switch (t) {
        case type::string: case type::file: case type::url: case type::tag:
        case type::email: case type::ref: return true;
        default: return false;
    }
}

bool is_series(uint8_t t) {
    return is_any_block(t) || is_text(t) || t == type::binary || t == type::vector || t == type::image;
}

int32_t total_length(const Cell* s) {
    const SeriesBuffer* b = alloc::buffer_of(s->payload2);
    return int32_t((b->tail - b->offset) / unit_of(b));
}

int32_t clamped_index(const Cell* s) { return clamp32(index_of(s), 0, total_length(s)); }

int32_t length_from(const Cell* s) { return total_length(s) - clamped_index(s); }

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
    if (!cell::is(arg, type::integer)) error::fire(invalid_arg, arg);
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
    if (t == type::vector) error::fire(not_done);
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
    if (t == type::vector || t == type::hash) error::fire(not_done);  // their own stores are not built
    // An owner is told before and after; its handler may allocate.
    bool told = ownership::is_owned(s) && ownership::check(s, words::words.poke, value, int32_t(e), 1);
    if (told && e >= total_length(s)) {  // the handler shortened the series
        Cell position{};
        cell::set_integer(&position, i);
        error::fire(error::id::out_of_range, &position);
    }
    if (is_any_block(t)) {
        Cell v = *value;
        SeriesBuffer* b = alloc::buffer_of(s->payload2);
        reinterpret_cast<Cell*>(b->data() + b->offset)[e] = v;
        if (told) ownership::check(s, words::words.poked, value, int32_t(e), 1);
        return value;
    }
    uint32_t v;
    if (t == type::binary) {
        if (!cell::is(value, type::char_) && !cell::is(value, type::integer)) error::fire(invalid_arg, value);
        v = value->payload2 & 0xFF;
    } else {
        if (!cell::is(value, type::char_)) error::fire(invalid_arg, value);
        v = value->payload2;
        wide_enough(s->payload2, v);
    }
    SeriesBuffer* b = alloc::buffer_of(s->payload2);
    write_unit(b->data() + b->offset + uint64_t(e) * unit_of(b), unit_of(b), v);
    if (told) ownership::check(s, words::words.poked, value, int32_t(e), 1);
    return value;
}

void clear(Cell* s) {
    int32_t n = length_from(s);
    if (n < 1) return;
    if (cell::is(s, type::hash)) error::fire(not_done);  // its table would keep the removed entries
    int32_t at = clamped_index(s);
    bool told = ownership::is_owned(s) && ownership::check(s, words::words.clear, nullptr, at, n);
    SeriesBuffer* b = alloc::buffer_of(s->payload2);
    b->tail = b->offset + uint32_t(clamped_index(s)) * unit_of(b);
    if (told) ownership::check(s, words::words.cleared, nullptr, at, n);
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
            error::fire(invalid_refine_arg, words::refinements.part, part);
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

    SeriesBuffer* b = alloc::buffer_of(source.payload2);
    uint32_t unit = unit_of(b);
    NodeId node = alloc::alloc_series(uint64_t(std::max<int64_t>(count, 1)), unit, 0);
    b = alloc::buffer_of(source.payload2);
    SeriesBuffer* nb = alloc::buffer_of(node);
    using namespace alloc::flag;
    nb->flags = (nb->flags & big) | (b->flags & ~(placement | owned)) | in_use | made;
    std::memcpy(nb->data(), b->data() + b->offset + uint64_t(start) * unit, uint64_t(count) * unit);
    nb->tail = uint32_t(count) * unit;

    result->header = cell::type_of(&source) | (source.header & cell::newline_flag);
    result->payload1 = 0;
    result->payload2 = node;
    result->payload3 = cell::is(&source, type::vector) ? source.payload3 : 0;
    return result;
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
        .set(action::next, &next)
        .set(action::pick, &pick)
        .set(action::poke, &poke)
        .set(action::skip, &skip)
        .set(action::tail, &tail)
        .set(action::tail_q, &tail_q);
    datatype::register_type({type::series, 0, "series!", row.handlers});
}

}  // namespace kel::series
