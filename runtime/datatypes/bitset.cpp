#include "runtime/datatypes/bitset.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "runtime/datatype.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/error.hpp"
#include "runtime/ownership.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"
#include "runtime/words.hpp"

namespace kel::bitset {
namespace {

// What a walk over a spec value does with the numbers it names.
enum Op { measure = 0, set = 1, test_op = 2, clear_op = 3 };
// Which error an unsupported spec value raises.
enum Mode { make_mode, to_mode, other_mode };

uint8_t* bytes_of(NodeId node) {
    SeriesBuffer* b = alloc::buffer_of(node);
    return b->data() + b->offset;
}
uint32_t length_of(NodeId node) {
    SeriesBuffer* b = alloc::buffer_of(node);
    return b->tail - b->offset;
}
bool flag_of(NodeId node) { return alloc::buffer_of(node)->flags & complemented; }

void set_flag(NodeId node, bool on) {
    SeriesBuffer* b = alloc::buffer_of(node);
    b->flags = on ? b->flags | complemented : b->flags & ~complemented;
}

Cell type_cell() {
    Cell t;
    cell::set_datatype(&t, type::bitset);
    return t;
}

[[noreturn]] void unsupported(const Cell* value, Mode mode) {
    Cell t = type_cell(), v = *value;
    if (mode == make_mode) error::fire_bad_make_arg(&t, &v);
    if (mode == to_mode) error::fire_bad_to_arg(type::bitset, &v);
    error::fire(error::id::invalid_arg, &v);
}

// Grows the buffer to hold bit n; the new bytes read as the numbers beyond
// the old ones did (00, or FF when complemented).
void grow_to_bit(NodeId node, int64_t n) {
    uint64_t need = uint64_t(n) / 8 + 1;
    if (need > alloc::series_limit) error::fire(error::id::no_memory);
    SeriesBuffer* b = alloc::buffer_of(node);
    uint32_t have = b->tail - b->offset;
    if (need <= have) return;
    if (b->offset + need > b->size) b = alloc::expand_series(b, std::max<uint64_t>(need, 2 * uint64_t(have)));
    std::memset(b->data() + b->offset + have, flag_of(node) ? 0xFF : 0x00, size_t(need - have));
    b->tail = b->offset + uint32_t(need);
}

bool stored_bit(NodeId node, int64_t n) { return bytes_of(node)[n >> 3] & (0x80 >> (n & 7)); }

void write_bit(NodeId node, int64_t n, bool on) {
    uint8_t* p = bytes_of(node) + (n >> 3);
    uint8_t mask = uint8_t(0x80 >> (n & 7));
    *p = on ? *p | mask : *p & ~mask;
}

bool member_of(NodeId node, int64_t n) {
    if (n < 0 || n >= int64_t(length_of(node)) * 8) return flag_of(node);
    return stored_bit(node, n);
}

// Makes first .. last members (on) or not: the buffer grows only when the
// numbers beyond it have the other membership.
void write_range(NodeId node, int64_t first, int64_t last, bool on) {
    if (on != flag_of(node)) grow_to_bit(node, last);
    int64_t end = std::min<int64_t>(last, int64_t(length_of(node)) * 8 - 1);
    for (int64_t n = first; n <= end; ++n) write_bit(node, n, on);
}

bool test_range(NodeId node, int64_t first, int64_t last) {
    int64_t cap = int64_t(length_of(node)) * 8;
    if (last >= cap && !flag_of(node)) return false;
    for (int64_t n = std::max<int64_t>(first, 0); n <= std::min(last, cap - 1); ++n)
        if (!stored_bit(node, n)) return false;
    return first >= 0 || flag_of(node);
}

// The code point at i of a text buffer.
uint32_t code_at(const Cell* s, int32_t i) {
    SeriesBuffer* b = alloc::buffer_of(s->payload2);
    uint32_t unit = series::unit_of(b);
    const uint8_t* p = b->data() + b->offset + uint64_t(i) * unit;
    switch (unit) {
        case 1: return p[0];
        case 2: return uint32_t(p[0] | p[1] << 8);
        default: return uint32_t(p[0] | p[1] << 8 | p[2] << 16) | uint32_t(p[3]) << 24;
    }
}

// The number of a char!, integer! or float! (truncated); a negative one is
// refused unless testing.
int64_t number_of(const Cell* v, int op) {
    int64_t n;
    if (cell::is(v, type::float_)) {
        double d = cell::real(v);
        if (std::isnan(d) || d >= 2147483648.0 || d <= -2147483649.0) error::fire(error::id::out_of_range, v);
        n = int64_t(d);
    } else if (cell::is(v, type::char_)) {
        n = v->payload2;
    } else {
        n = cell::integer(v);
    }
    if (n < 0 && op != test_op) error::fire(error::id::out_of_range, v);
    return n;
}

bool is_number(const Cell* v) {
    return cell::is(v, type::char_) || cell::is(v, type::integer) || cell::is(v, type::float_);
}

// Applies op to the numbers first .. last: measure answers last, test
// answers 1 when they are all members.
int64_t apply(NodeId node, int64_t first, int64_t last, int op) {
    switch (op) {
        case measure: return last;
        case set: write_range(node, first, last, true); return 0;
        case clear_op: write_range(node, first, last, false); return 0;
        default: return test_range(node, first, last);
    }
}

// Walks a spec value (the bitset's node is 0 while measuring).
int64_t process(NodeId node, const Cell* value, int op, Mode mode, bool nested) {
    const Cell v = *value;
    if (is_number(&v)) {
        int64_t n = number_of(&v, op);
        return apply(node, n, n, op);
    }
    if (series::is_text(cell::type_of(&v))) {
        int64_t high = -1;
        int32_t total = series::total_length(&v);
        for (int32_t i = series::clamped_index(&v); i < total; ++i) high = std::max<int64_t>(high, code_at(&v, i));
        if (op == measure || high < 0) return op == test_op ? 1 : high;
        if (op == test_op) {
            for (int32_t i = series::clamped_index(&v); i < total; ++i)
                if (!member_of(node, code_at(&v, i))) return 0;
            return 1;
        }
        bool on = op == set;
        if (on != flag_of(node)) grow_to_bit(node, high);
        for (int32_t i = series::clamped_index(&v); i < total; ++i) write_bit(node, code_at(&v, i), on);
        return 0;
    }
    if (cell::is(&v, type::binary)) error::fire_not_done();
    if (!cell::is(&v, type::block) || nested) unsupported(&v, mode);
    int64_t high = -1;
    int32_t total = series::total_length(&v);
    for (int32_t i = series::clamped_index(&v); i < total; ++i) {
        Cell item = *block::ks_abs_at(&v, i);
        int64_t r;
        bool range = (cell::is(&item, type::char_) || cell::is(&item, type::integer)) && i + 1 < total &&
                     cell::is(block::ks_abs_at(&v, i + 1), type::word) &&
                     symbol::resolve(block::ks_abs_at(&v, i + 1)->payload2) == symbol::resolve(words::symbols.minus);
        if (range) {
            if (i + 2 >= total) error::fire(error::id::past_end);
            Cell end = *block::ks_abs_at(&v, i + 2);
            if (cell::type_of(&end) != cell::type_of(&item)) error::fire(error::id::invalid_arg, &end);
            int64_t first = number_of(&item, op), last = number_of(&end, op);
            if (last < first) error::fire(error::id::past_end);
            r = apply(node, first, last, op);
            i += 2;
        } else {
            r = process(node, &item, op, mode, true);
        }
        if (op == measure) high = std::max(high, r);
        else if (op == test_op && !r) return 0;
    }
    return op == test_op ? 1 : high;
}

NodeId node_of(const Cell* bs) { return bs->payload2; }

// A new bitset in out holding a copy of the source's bytes and flag.
Cell* copy_into(Cell* out, const Cell* source) {
    NodeId from = node_of(source);
    uint32_t n = length_of(from);
    cell::set_unset(out);
    NodeId node = alloc::alloc_bytes(n);
    std::memcpy(bytes_of(node), bytes_of(from), n);
    alloc::buffer_of(node)->tail += n;
    set_flag(node, flag_of(from));
    *out = Cell{type::bitset, 0, node, 0};
    return out;
}

Cell* make_from(Cell* out, Cell* spec_in, bool to) {
    Cell spec = *spec_in;
    Mode mode = to ? to_mode : make_mode;
    bool not_ = false;
    if (cell::is(&spec, type::block) && series::length_from(&spec) > 0) {
        const Cell* first = block::ks_abs_at(&spec, series::clamped_index(&spec));
        if (cell::is(first, type::word) && symbol::resolve(first->payload2) == symbol::resolve(words::symbols.not_)) {
            not_ = true;
            spec.payload1 = uint32_t(series::clamped_index(&spec) + 1);
            if (series::length_from(&spec) > 0) {
                const Cell* next = block::ks_abs_at(&spec, series::clamped_index(&spec));
                if (cell::is(next, type::binary)) spec = *next;
            }
        }
    }
    Cell* held = stack::push(&spec);  // the collector keeps the spec while the bitset is made
    Cell result;
    if (cell::is(&spec, type::integer) || cell::is(&spec, type::float_)) {
        if (to) unsupported(&spec, to_mode);
        int64_t bits = number_of(&spec, set);
        make_at(&result, uint32_t((bits + 7) / 8), false);
    } else if (cell::is(&spec, type::bitset)) {
        copy_into(&result, &spec);
    } else if (cell::is(&spec, type::binary)) {
        int32_t from = series::clamped_index(&spec), n = series::total_length(&spec) - from;
        make_at(&result, uint32_t(n), not_);
        const uint8_t* src = bytes_of(held->payload2) + from;
        uint8_t* dst = bytes_of(result.payload2);
        for (int32_t i = 0; i < n; ++i) dst[i] = not_ ? uint8_t(~src[i]) : src[i];
    } else {
        int64_t high = process(0, &spec, measure, mode, false);
        make_at(&result, uint32_t(std::max<int64_t>(high, 0) / 8 + 1), not_);
        Cell* made = stack::push(&result);
        process(made->payload2, held, not_ ? clear_op : set, mode, false);
        stack::pop(1);
    }
    stack::pop(1);
    *out = result;
    return out;
}

// ---- the row

Cell* make(Cell* proto, Cell* spec, uint8_t) { return make_from(proto, spec, false); }
Cell* to(Cell* proto, Cell* spec, uint8_t) { return make_from(proto, spec, true); }

int32_t serialize(const Cell* value, Cell* out, const Cell* part, int32_t limit) {
    const Cell bs = *value;
    bool c = complemented_q(&bs);
    string::append_ascii(out, c ? "make bitset! [not #{" : "make bitset! #{", c ? 20 : 15);
    limit -= c ? 18 : 13;
    for (uint32_t i = 0; i < length_of(bs.payload2); ++i) {
        if (part && limit < 0) break;
        uint8_t byte = bytes_of(bs.payload2)[i];
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02X", c ? uint8_t(~byte) : byte);
        string::append_ascii(out, hex, 2);
        limit -= 2;
    }
    string::append_ascii(out, c ? "}]" : "}", c ? 2 : 1);
    return limit;
}

int32_t form(const Cell* v, Cell* out, const Cell* part, int32_t limit) { return serialize(v, out, part, limit); }
int32_t mold(const Cell* v, Cell* out, bool, bool, bool, const Cell* part, int32_t limit, int32_t) {
    return serialize(v, out, part, limit);
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
    if (!cell::is(b, type::bitset)) return -2;
    if (op == 9) return a->payload2 == b->payload2 ? 0 : 1;
    uint32_t la = byte_count(a), lb = byte_count(b);
    if (la != lb) return la < lb ? -1 : 1;
    bool fa = complemented_q(a), fb = complemented_q(b);
    if (fa != fb) return fa ? 1 : -1;
    const uint8_t* x = bytes_of(a->payload2);
    const uint8_t* y = bytes_of(b->payload2);
    for (uint32_t i = la; i-- > 0;)
        if (x[i] != y[i]) return x[i] < y[i] ? -1 : 1;
    return 0;
}

Cell* eval_path(Cell* value, const Cell* element, const Cell* store, const Cell*, const Cell*, const Cell*, int32_t,
                bool, bool, bool, bool) {
    if (!cell::is(element, type::integer) && !cell::is(element, type::char_)) {
        Cell t;
        cell::set_datatype(&t, cell::type_of(element));
        error::fire(error::id::invalid_type, &t);
    }
    const Cell bs = *value;  // value may lie in a buffer that growing moves
    if (!store) return shared::logic(test(&bs, element));
    Cell v = *store;
    bool off = cell::is(&v, type::none) || (cell::is(&v, type::logic) && !v.payload1) ||
               (cell::is(&v, type::integer) && cell::integer(&v) == 0) ||
               (cell::is(&v, type::float_) && cell::real(&v) == 0.0);
    bool told = series::notify(&bs, words::words.poke, 0, 0, &v);
    process(bs.payload2, element, off ? clear_op : set, other_mode, false);
    if (told) series::notify(&bs, words::words.poked, 0, 0, &v);
    return const_cast<Cell*>(store);
}

Cell* pick(Cell* bs, int32_t, const Cell* index) { return shared::logic(test(bs, index)); }

Cell* poke(Cell* bs, int32_t, Cell* value, const Cell* index) {
    return eval_path(bs, index, value, nullptr, nullptr, nullptr, 0, false, false, true, true);
}

Cell* find(Cell* bs, Cell* value, const Cell*, bool, bool, bool, bool, const Cell*, const Cell*, bool, bool, bool,
           bool) {
    return test(bs, value) ? shared::logic(true) : shared::none();
}

void append(Cell* bs, Cell* value, int32_t, bool, int32_t, bool) {
    const Cell v = *value;
    bool told = series::notify(bs, words::words.append, 0, 0, &v);
    process(bs->payload2, &v, set, other_mode, false);
    if (told) series::notify(bs, words::words.appended, 0, 0, &v);
}

// Every stored byte takes the background value, 00 or FF when complemented:
// a plain set ends empty, a complemented one with every number a member.
void clear(Cell* bs) {
    bool told = series::notify(bs, words::words.clear, 0, 0);
    std::memset(bytes_of(bs->payload2), flag_of(bs->payload2) ? 0xFF : 0x00, length_of(bs->payload2));
    if (told) series::notify(bs, words::words.cleared, 0, 0);
}

void remove(Cell* bs, const Cell* part, const Cell*) {
    if (!part) error::fire(error::id::missing_arg);
    const Cell v = *part;
    bool told = series::notify(bs, words::words.remove, 0, 0, &v);
    process(bs->payload2, &v, clear_op, other_mode, false);
    if (told) series::notify(bs, words::words.removed, 0, 0, &v);
}

Cell* copy(Cell* value, Cell* result, const Cell*, bool, const Cell*) { return copy_into(result, value); }

int32_t length_q(const Cell* bs) { return int32_t(std::min<uint64_t>(uint64_t(byte_count(bs)) * 8, INT32_MAX)); }

// The complement: every byte inverted and the flag flipped, in a new bitset.
Cell* complement(Cell* value) {
    Cell result;
    Cell* source = stack::push(value);
    copy_into(&result, source);
    stack::pop(1);
    uint8_t* p = bytes_of(result.payload2);
    for (uint32_t i = 0; i < length_of(result.payload2); ++i) p[i] = uint8_t(~p[i]);
    set_flag(result.payload2, !complemented_q(value));
    *value = result;
    return value;
}

void negate(Cell* value) { complement(value); }

// The result's flag is the op on the flags, and a shorter operand reads as
// its flag beyond its bytes.
}  // namespace

void do_bitwise(int op) {
    if (op == 8) return;
    Cell* a = stack::args;
    Cell* b = stack::args + 1;
    if (!cell::is(b, type::bitset)) {
        Cell t;
        cell::set_datatype(&t, cell::type_of(b));
        error::fire(error::id::invalid_type, &t);
    }
    auto combine = [op](uint32_t x, uint32_t y) -> uint32_t {
        switch (op) {
            case 5: case 9: return x | y;
            case 6: case 10: return x & y;
            case 7: case 12: return x ^ y;
            default: return x & ~y;
        }
    };
    uint32_t la = byte_count(a), lb = byte_count(b), n = std::max(la, lb);
    bool fa = complemented_q(a), fb = complemented_q(b);
    Cell result;
    make_at(&result, n, false);
    const uint8_t* x = bytes_of(a->payload2);
    const uint8_t* y = bytes_of(b->payload2);
    uint8_t* out = bytes_of(result.payload2);
    for (uint32_t i = 0; i < n; ++i) {
        uint32_t bx = i < la ? x[i] : fa ? 0xFF : 0, by = i < lb ? y[i] : fb ? 0xFF : 0;
        out[i] = uint8_t(combine(bx, by));
    }
    set_flag(result.payload2, combine(fa, fb) & 1);
    *a = result;
}

namespace {

void and_() { do_bitwise(6); }
void or_() { do_bitwise(5); }
void xor_() { do_bitwise(7); }

void modify(Cell* target, Cell* field, Cell* value, bool) {
    if (!cell::is(field, type::word) && !cell::is(field, type::lit_word)) error::fire(error::id::invalid_arg, field);
    if (symbol::resolve(field->payload2) != symbol::resolve(words::symbols.owned)) error::fire_not_done();
    if (cell::is(value, type::none)) {
        ownership::unbind(target);
    } else if (cell::is(value, type::block) && series::length_from(value) >= 2) {
        Cell owner = *block::ks_abs_at(value, series::clamped_index(value));
        Cell word = *block::ks_abs_at(value, series::clamped_index(value) + 1);
        ownership::bind(target, &owner, &word);
    } else {
        error::fire(error::id::invalid_arg, value);
    }
    *target = *value;
}

}  // namespace

bool complemented_q(const Cell* bs) { return flag_of(bs->payload2); }
uint32_t byte_count(const Cell* bs) { return length_of(bs->payload2); }
bool member(const Cell* bs, int64_t n) { return member_of(bs->payload2, n); }

Cell* make_at(Cell* out, uint32_t bytes, bool not_) {
    cell::set_unset(out);
    NodeId node = alloc::alloc_filled_bytes(bytes, not_ ? 0xFF : 0x00);
    alloc::buffer_of(node)->tail = alloc::buffer_of(node)->offset + bytes;
    set_flag(node, not_);
    *out = Cell{type::bitset, 0, node, 0};
    return out;
}

bool test(const Cell* bs, const Cell* value) {
    return process(bs->payload2, value, test_op, other_mode, false) != 0;
}

void register_type() {
    datatype::Row row(datatype::unsupported);
    row.set(action::make, &make)
        .set(action::to, &to)
        .set(action::reflect, &ownership::reflect_owner)
        .set(action::form, &form)
        .set(action::mold, &mold)
        .set(action::eval_path, &eval_path)
        .set(action::compare, &compare)
        .set(action::negate, &negate)
        .set(action::complement, &complement)
        .set(action::and_, &and_)
        .set(action::or_, &or_)
        .set(action::xor_, &xor_)
        .set(action::append, &append)
        .set(action::insert, &append)
        .set(action::clear, &clear)
        .set(action::copy, &copy)
        .set(action::find, &find)
        .set(action::length_q, &length_q)
        .set(action::pick, &pick)
        .set(action::poke, &poke)
        .set(action::remove, &remove)
        .set(action::modify, &modify);
    datatype::register_type({type::bitset, 0, "bitset!", row.handlers});
}

}  // namespace kel::bitset
