#include "runtime/datatypes/typeset.hpp"

#include <bit>
#include <cstring>

#include "runtime/actions.hpp"
#include "runtime/context.hpp"
#include "runtime/datatype.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/error.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"

namespace kel::typeset {
namespace {

Cell empty() { return Cell{type::typeset, 0, 0, 0}; }

// A word stands for its value; an unset word has none to give.
Cell value_of(const Cell* v) {
    if (!cell::is(v, type::word)) return *v;
    if (!v->payload1) error::fire(error::id::not_defined, v);
    const Cell* got = word::fetch(v);
    if (cell::is(got, type::unset)) error::fire(error::id::no_value, v);
    return *got;
}

void unite(Cell* ts, const Cell* other) {
    ts->payload1 |= other->payload1;
    ts->payload2 |= other->payload2;
    ts->payload3 |= other->payload3;
}

// ---- the row

Cell* make(Cell* proto, Cell* spec, uint8_t) {
    if (cell::is(spec, type::typeset)) return spec;
    if (!cell::is(spec, type::block)) error::fire_bad_to_arg(type::typeset, spec);
    Cell ts = empty();
    for (int32_t i = series::clamped_index(spec); i < series::total_length(spec); ++i) {
        Cell item = *block::ks_abs_at(spec, i);
        add_value(&ts, &item);
    }
    *proto = ts;
    return proto;
}

int32_t form(const Cell* v, Cell* out, const Cell* part, int32_t limit) { return serialize(v, out, false, part, limit); }

int32_t mold(const Cell* v, Cell* out, bool only, bool, bool, const Cell* part, int32_t limit, int32_t) {
    return serialize(v, out, only, part, limit);
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
    if (!cell::is(b, type::typeset)) return -2;
    switch (op) {
        case 0: case 1: case 2: case 9: case 12:
            return a->payload1 == b->payload1 && a->payload2 == b->payload2 && a->payload3 == b->payload3 ? 0 : 1;
        case 7: case 8: {
            int32_t x = count(a), y = count(b);
            return x < y ? -1 : x > y ? 1 : 0;
        }
        default:
            return -2;
    }
}

}  // namespace

// The bitwise worker: op 8 unique, 5 and 9 or, 6 and 10 and, 7 and 12 xor,
// 11 exclude. A datatype operand counts as the set of its one type.
void do_bitwise(int op) {
    Cell* a = stack::args;
    if (op == 8) return;
    Cell b = a[1];
    if (cell::is(&b, type::datatype)) {
        uint8_t t = uint8_t(b.payload1);
        b = empty();
        cell::typeset_add(&b, t);
    } else if (!cell::is(&b, type::typeset)) {
        error::fire(error::id::invalid_arg, a + 1);
    }
    uint32_t* x[3] = {&a->payload1, &a->payload2, &a->payload3};
    const uint32_t y[3] = {b.payload1, b.payload2, b.payload3};
    for (int k = 0; k < 3; ++k) {
        switch (op) {
            case 5: case 9: *x[k] |= y[k]; break;
            case 6: case 10: *x[k] &= y[k]; break;
            case 7: case 12: *x[k] ^= y[k]; break;
            default: *x[k] &= ~y[k]; break;
        }
    }
    a->header = type::typeset;
}

namespace {

void and_() { do_bitwise(6); }
void or_() { do_bitwise(5); }
void xor_() { do_bitwise(7); }

Cell* complement(Cell* v) {
    v->payload1 = ~v->payload1;
    v->payload2 = ~v->payload2;
    v->payload3 = ~v->payload3;
    return v;
}

Cell* find(Cell* ts, Cell* value, const Cell*, bool, bool, bool, bool, const Cell*, const Cell*, bool, bool, bool,
           bool) {
    if (!cell::is(value, type::datatype)) error::fire(error::id::invalid_arg, value);
    return const_cast<Cell*>(shared::logic(cell::typeset_has(ts, uint8_t(value->payload1))));
}

}  // namespace

void clear(Cell* ts) { ts->payload1 = ts->payload2 = ts->payload3 = 0; }

int32_t count(const Cell* ts) {
    int32_t n = 0;
    for (int t = 1; t <= datatype::highest; ++t) n += cell::typeset_has(ts, uint8_t(t));
    return n;
}

Cell* make_in(Cell* parent, uint32_t w1, uint32_t w2, uint32_t w3) {
    Cell ts{type::typeset, w1, w2, w3};
    return block::ks_append(parent, &ts);
}

Cell* make_in_all(Cell* parent) {
    Cell ts{type::typeset, ~0u, ~0u, ~0u};
    reinterpret_cast<uint8_t*>(&ts.payload1)[type::unset >> 3] &= uint8_t(~(0x80 >> (type::unset & 7)));
    return block::ks_append(parent, &ts);
}

Cell* make_in_from_block(Cell* parent, const Cell* spec) {
    const Cell s = *spec;
    Cell ts = empty();
    for (int32_t i = series::clamped_index(&s); i < series::total_length(&s); ++i) {
        Cell item = *block::ks_abs_at(&s, i);
        Cell v = value_of(&item);
        if (cell::is(&v, type::datatype)) cell::typeset_add(&ts, uint8_t(v.payload1));
        else if (cell::is(&v, type::typeset)) unite(&ts, &v);
        else if (cell::is(&v, type::word)) cell::typeset_add(&ts, type::object);
        else if (!cell::is(&v, type::block)) error::fire(error::id::invalid_type_spec, &item);
    }
    return block::ks_append(parent, &ts);
}

void add_value(Cell* ts, const Cell* value) {
    Cell v = value_of(value);
    if (cell::is(&v, type::typeset)) unite(ts, &v);
    else if (cell::is(&v, type::datatype)) cell::typeset_add(ts, uint8_t(v.payload1));
    else error::fire(error::id::invalid_arg, value);
}

Cell* to_block(const Cell* ts, Cell* out) {
    const Cell set = *ts;
    block::make_at(out, 4);
    for (int t = 1; t <= datatype::highest; ++t) {
        if (!cell::typeset_has(&set, uint8_t(t)) || !datatype::names[t].name) continue;
        Cell w = *context::find_or_add_global(symbol::make(datatype::names[t].name));
        block::ks_append(out, &w);
    }
    return out;
}

int32_t serialize(const Cell* ts, Cell* out, bool only, const Cell* part, int32_t limit) {
    const Cell set = *ts;
    if (!only) {
        string::append_ascii(out, "make typeset! [", 15);
        limit -= 15;
    }
    bool wrote = false;
    for (int t = 1; t <= datatype::highest; ++t) {
        if (!cell::typeset_has(&set, uint8_t(t)) || !datatype::names[t].name) continue;
        if (part && limit < 0) return limit;
        const char* name = datatype::names[t].name;
        size_t n = std::strlen(name);
        string::append_ascii(out, name, n);
        string::append_ascii(out, " ", 1);
        limit -= int32_t(n) + 2;
        wrote = true;
    }
    if (only) {
        if (!wrote) return limit;
        string::truncate(out, string::length(out) - 1);
        return limit + 1;
    }
    if (wrote) string::truncate(out, string::length(out) - 1);
    string::append_ascii(out, "]", 1);
    return limit;
}

Cell* push(const Cell* ts) { return stack::push(ts); }

void register_type() {
    datatype::Row row(datatype::unsupported);
    row.set(action::make, &make)
        .set(action::to, &make)
        .set(action::form, &form)
        .set(action::mold, &mold)
        .set(action::compare, &compare)
        .set(action::and_, &and_)
        .set(action::or_, &or_)
        .set(action::xor_, &xor_)
        .set(action::complement, &complement)
        .set(action::find, &find);
    datatype::register_type({type::typeset, 0, "typeset!", row.handlers});
}

}  // namespace kel::typeset
