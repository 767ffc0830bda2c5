// pair!: make and to, text, coordinates by path and pick, arithmetic with
// its fall-over into point2D!, round, random and comparison.
//
// Every float that becomes a coordinate is range-checked before it is
// truncated: a NaN, an infinity or a value outside 32 bits raises
// invalid-arg naming the value, where a bare conversion would be undefined.
#include "runtime/datatypes/pair.hpp"

#include <climits>
#include <cmath>
#include <string>

#include "runtime/actions.hpp"
#include "runtime/datatype.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/float.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/error.hpp"
#include "runtime/random.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"
#include "runtime/words.hpp"

namespace kel {
namespace pair {
namespace {

// A float as a coordinate: truncated toward zero, refused when it has no
// 32-bit integer part.
int32_t truncated(double d, const Cell* value) {
    if (integer::float_overflow_q(d)) {
        Cell v = *value;
        error::fire(error::id::invalid_arg, &v);
    }
    return int32_t(d);
}

int32_t number_coordinate(const Cell* c) {
    return cell::is(c, type::integer) ? integer::get(c) : truncated(cell::real(c), c);
}

Cell* from_block(Cell* proto, Cell* spec) {
    const Cell b = *spec;
    if (series::length_from(&b) < 2) {
        Cell s = b;
        error::fire(error::id::malconstruct, &s);
    }
    int32_t at = series::clamped_index(&b);
    Cell v[2] = {*block::ks_abs_at(&b, at), *block::ks_abs_at(&b, at + 1)};
    for (const Cell& c : v)
        if (!cell::is(&c, type::integer) && !cell::is(&c, type::float_)) {
            Cell s = b;
            error::fire(error::id::malconstruct, &s);
        }
    return box(proto, number_coordinate(&v[0]), number_coordinate(&v[1]));
}

Cell* make(Cell* proto, Cell* spec, uint8_t) {
    switch (cell::type_of(spec)) {
        case type::block: return from_block(proto, spec);
        case type::string: {
            Cell v = point::load_as(spec, type::pair);
            *proto = v;
            return proto;
        }
        case type::pair: *proto = *spec; return proto;
        case type::integer: return box(proto, integer::get(spec), integer::get(spec));
        case type::float_: {
            int32_t n = truncated(cell::real(spec), spec);
            return box(proto, n, n);
        }
        case type::point2d: {
            Cell p = *spec;
            return box(proto, truncated(point::coordinate(&p, 0), &p), truncated(point::coordinate(&p, 1), &p));
        }
        default: error::fire_bad_to_arg(type::pair, spec);
    }
}

int32_t text(const Cell* v, Cell* out, int32_t limit) {
    std::string t(integer::to_text(x(v)));
    t += 'x';
    t += integer::to_text(y(v));
    string::append_ascii(out, t.data(), t.size());
    return limit - int32_t(t.size());
}
int32_t form(const Cell* v, Cell* out, const Cell*, int32_t limit) { return text(v, out, limit); }
int32_t mold(const Cell* v, Cell* out, bool, bool, bool, const Cell*, int32_t limit, int32_t) {
    return text(v, out, limit);
}

int32_t sign_of(int64_t d) { return d < 0 ? -1 : d > 0 ? 1 : 0; }

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
    if (cell::is(b, type::point2d)) {
        Cell p = *a;
        to_point2d(&p);
        return point::compare(&p, b, op);
    }
    if (!cell::is(b, type::pair)) return -2;
    int32_t d = sign_of(int64_t(x(a)) - x(b));
    return d ? d : sign_of(int64_t(y(a)) - y(b));
}

[[noreturn]] void fire_invalid_path(const Cell* path, const Cell* element) {
    Cell p, e = *element;
    if (path) p = *path;
    else cell::set_none(&p);
    error::fire(error::id::invalid_path, &p, &e);
}

Cell* eval_path(Cell* value, const Cell* element, const Cell* store, const Cell* path, const Cell*, const Cell*,
                int32_t, bool, bool, bool, bool) {
    int i = cell::is(element, type::integer) ? integer::get(element) : coordinate_word(element, 2);
    if (i < 1 || i > 2) fire_invalid_path(path, element);
    if (!store) {
        static Cell answer;
        cell::set_integer(&answer, i == 1 ? x(value) : y(value));
        return &answer;
    }
    if (!cell::is(store, type::integer)) {
        error::fire_invalid_type(cell::type_of(store));
    }
    (i == 1 ? value->payload2 : value->payload3) = store->payload2;
    return const_cast<Cell*>(store);
}

Cell* pick(Cell* p, int32_t index, const Cell* index_cell) {
    int i = cell::is(index_cell, type::integer) ? index : coordinate_word(index_cell, 2);
    if (i == 0 && symbol_word(index_cell)) {
        Cell v = *p, w = *index_cell;
        error::fire(error::id::cannot_use, &v, &w);
    }
    if (i < 1 || i > 2) {
        Cell n = *index_cell;
        error::fire(error::id::out_of_range, &n);
    }
    cell::set_integer(p, i == 1 ? x(p) : y(p));
    return p;
}

void reverse(Cell* p, const Cell*, const Cell*) { box(p, y(p), x(p)); }

void absolute() {
    Cell* p = stack::args;
    box(p, integer::absolute_value(x(p)), integer::absolute_value(y(p)));
}

// Two's complement: -2147483648 stays what it is.
void negate(Cell* p) { box(p, int32_t(0u - p->payload2), int32_t(0u - p->payload3)); }

void add() { math(integer::op::add); }
void subtract() { math(integer::op::subtract); }
void multiply() { math(integer::op::multiply); }
void divide() { math(integer::op::divide); }
void remainder() { math(integer::op::remainder); }
void and_() { math(integer::op::and_); }
void or_() { math(integer::op::or_); }
void xor_() { math(integer::op::xor_); }

// One coordinate rounded as an integer! with the scale's step; a result that
// comes back as a float! (a float scale) is truncated toward zero.
int32_t round_one(int32_t n, const Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
                  bool half_ceiling) {
    Cell c;
    cell::set_integer(&c, n);
    integer::round(&c, scale, even, down, half_down, floor, ceiling, half_ceiling);
    if (cell::is(&c, type::integer)) return integer::get(&c);
    double d = cell::real(&c);
    if (integer::float_overflow_q(d)) error::fire(error::id::overflow);
    return int32_t(d);
}

void round(Cell* p, const Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
           bool half_ceiling) {
    if (scale && cell::is(scale, type::money)) {
        Cell kind = cell::datatype_value(type::money), where = stack::get_call_word();
        error::fire(error::id::not_related, &kind, &where);
    }
    Cell sx, sy;
    const Cell *scale_x = scale, *scale_y = scale;
    if (scale && cell::is(scale, type::pair)) {
        cell::set_integer(&sx, x(scale));
        cell::set_integer(&sy, y(scale));
        scale_x = &sx;
        scale_y = &sy;
    } else if (scale && (cell::is(scale, type::point2d) || cell::is(scale, type::point3d))) {
        float_::box_at(&sx, point::coordinate(scale, 0));
        float_::box_at(&sy, point::coordinate(scale, 1));
        scale_x = &sx;
        scale_y = &sy;
    }
    int32_t rx = round_one(x(p), scale_x, even, down, half_down, floor, ceiling, half_ceiling);
    int32_t ry = round_one(y(p), scale_y, even, down, half_down, floor, ceiling, half_ceiling);
    box(p, rx, ry);
}

void random(Cell* p, bool seed, bool secure, bool) {
    if (seed) {
        kel::random::init_genrand(p->payload2 ^ p->payload3);
        cell::set_unset(p);
        return;
    }
    int32_t rx = x(p) ? kel::random::next_int(secure, x(p)) : 0;
    int32_t ry = y(p) ? kel::random::next_int(secure, y(p)) : 0;
    box(p, rx, ry);
}

}  // namespace

bool symbol_word(const Cell* c) {
    uint8_t t = cell::type_of(c);
    return t == type::word || t == type::lit_word || t == type::get_word || t == type::set_word;
}

int coordinate_word(const Cell* element, int count) {
    if (!symbol_word(element)) return 0;
    uint32_t s = symbol::resolve(element->payload2);
    const words::Symbols& k = words::symbols;
    if (s == symbol::resolve(k.x)) return 1;
    if (s == symbol::resolve(k.y)) return 2;
    if (count == 3 && s == symbol::resolve(k.z)) return 3;
    return 0;
}

void to_point2d(Cell* c) {
    int32_t px = x(c), py = y(c);  // both read before either is written
    point2d::box(c, px, py);
}

void math(int op) {
    Cell* left = stack::args;
    Cell* right = left + 1;
    int32_t rx, ry;
    switch (cell::type_of(right)) {
        case type::integer: rx = ry = integer::get(right); break;
        case type::float_:
        case type::percent: {
            double f = cell::real(right);
            if (op == integer::op::multiply || op == integer::op::divide) {
                if (std::isnan(f) || (op == integer::op::multiply && std::isinf(f))) {
                    Cell v = *right;
                    error::fire(error::id::invalid_arg, &v);
                }
                double lx = x(left), ly = y(left);
                if (op == integer::op::multiply) point2d::box(left, lx * f, ly * f);
                else point2d::box(left, lx / f, ly / f);
                return;
            }
            rx = ry = truncated(f, right);
            break;
        }
        case type::pair: rx = x(right); ry = y(right); break;
        case type::point2d:
            to_point2d(left);
            point::math(op);
            return;
        default: {
            error::fire_invalid_type(cell::type_of(right));
        }
    }
    // A coordinate whose result leaves the integers (an overflow, an inexact
    // quotient, or -2147483648 / -1) spills into a float! cell.
    Cell spill;
    cell::set_none(&spill);
    auto step = [&](int32_t a, int32_t b) {
        if (op == integer::op::divide && a == INT32_MIN && b == -1) {
            cell::set_real(&spill, type::float_, 2147483648.0);
            return 0;
        }
        return integer::do_math(a, b, op, &spill);
    };
    int32_t nx = step(x(left), rx);
    int32_t ny = cell::is(&spill, type::none) ? step(y(left), ry) : 0;
    if (cell::is(&spill, type::none)) {
        box(left, nx, ny);
        return;
    }
    // A coordinate left the integers: the whole operation again in floats.
    to_point2d(left);
    if (cell::is(right, type::pair)) to_point2d(right);
    point::math(op);
}

void register_type() {
    datatype::Row row(datatype::unsupported);
    row.set(action::make, &make).set(action::to, &make).set(action::random, &random);
    row.set(action::form, &form).set(action::mold, &mold).set(action::eval_path, &eval_path);
    row.set(action::compare, &compare).set(action::absolute, &absolute).set(action::add, &add);
    row.set(action::divide, &divide).set(action::multiply, &multiply).set(action::negate, &negate);
    row.set(action::remainder, &remainder).set(action::round, &round).set(action::subtract, &subtract);
    row.set(action::and_, &and_).set(action::or_, &or_).set(action::xor_, &xor_);
    row.set(action::pick, &pick).set(action::reverse, &reverse);
    datatype::register_type({type::pair, 0, "pair!", row.handlers});
}

}  // namespace pair
}  // namespace kel
