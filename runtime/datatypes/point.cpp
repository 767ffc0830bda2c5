// point2D! and point3D!: one design for both; n is the number of
// coordinates (2 or 3) wherever the two differ.
#include "runtime/datatypes/point.hpp"

#include <cmath>
#include <string>
#include <utility>

#include "runtime/actions.hpp"
#include "runtime/datatype.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/float.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/pair.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/error.hpp"
#include "runtime/lexer/lexer.hpp"
#include "runtime/random.hpp"
#include "runtime/stack.hpp"

namespace kel::point {
namespace {

int count_of(const Cell* p) { return cell::is(p, type::point3d) ? 3 : 2; }

void store(Cell* p, const double* c) {
    if (cell::is(p, type::point3d)) point3d::box(p, c[0], c[1], c[2]);
    else point2d::box(p, c[0], c[1]);
}

void coordinates(const Cell* p, double* c) {
    for (int i = 0; i < 3; ++i) c[i] = i < count_of(p) ? coordinate(p, i) : 0.0;
}

double number(const Cell* c) { return cell::is(c, type::integer) ? integer::get(c) : cell::real(c); }

Cell* make(Cell* proto, Cell* spec, uint8_t t) {
    int n = t == type::point3d ? 3 : 2;
    double c[3] = {0, 0, 0};
    switch (cell::type_of(spec)) {
        case type::block: {
            const Cell b = *spec;
            int32_t at = series::clamped_index(&b);
            if (series::length_from(&b) < n) {
                Cell s = b;
                error::fire(error::id::malconstruct, &s);
            }
            for (int i = 0; i < n; ++i) {
                const Cell* v = block::ks_abs_at(&b, at + i);
                if (!cell::is(v, type::integer) && !cell::is(v, type::float_)) {
                    Cell s = b;
                    error::fire(error::id::malconstruct, &s);
                }
                c[i] = number(v);
            }
            break;
        }
        case type::string: {
            Cell v = load_as(spec, t);
            *proto = v;
            return proto;
        }
        case type::integer:
        case type::float_: c[0] = c[1] = c[2] = number(spec); break;
        case type::pair: c[0] = pair::x(spec); c[1] = pair::y(spec); break;
        case type::point2d:
            if (t == type::point2d) {
                *proto = *spec;
                return proto;
            }
            c[0] = coordinate(spec, 0);
            c[1] = coordinate(spec, 1);
            break;
        case type::point3d:
            if (t == type::point3d) {
                *proto = *spec;
                return proto;
            }
            [[fallthrough]];
        default: error::fire_bad_to_arg(t, spec);
    }
    Cell r{t, 0, 0, 0};
    store(&r, c);
    *proto = r;
    return proto;
}

int32_t text(const Cell* v, Cell* out, int32_t limit) {
    std::string t = "(";
    for (int i = 0; i < count_of(v); ++i) {
        if (i) t += ", ";
        t += float_::form_float(coordinate(v, i), float_::kind::coordinate);
    }
    t += ")";
    string::append_ascii(out, t.data(), t.size());
    return limit - int32_t(t.size());
}
int32_t form(const Cell* v, Cell* out, const Cell*, int32_t limit) { return text(v, out, limit); }
int32_t mold(const Cell* v, Cell* out, bool, bool, bool, const Cell*, int32_t limit, int32_t) {
    return text(v, out, limit);
}

Cell* eval_path(Cell* value, const Cell* element, const Cell* store_value, const Cell* path, const Cell*,
                const Cell*, int32_t, bool, bool, bool, bool) {
    int n = count_of(value);
    int i = cell::is(element, type::integer) ? integer::get(element) : pair::coordinate_word(element, n);
    if (i < 1 || i > n) {
        Cell p, e = *element;
        if (path) p = *path;
        else cell::set_none(&p);
        error::fire(error::id::invalid_path, &p, &e);
    }
    if (!store_value) return answer_float(coordinate(value, i - 1));
    if (!cell::is(store_value, type::integer) && !cell::is(store_value, type::float_)) error::fire_invalid_type(cell::type_of(store_value));
    double c[3];
    coordinates(value, c);
    c[i - 1] = number(store_value);
    store(value, c);
    return const_cast<Cell*>(store_value);
}

Cell* pick(Cell* p, int32_t index, const Cell* index_cell) {
    int n = count_of(p);
    int i = cell::is(index_cell, type::integer) ? index : pair::coordinate_word(index_cell, n);
    if (i == 0 && pair::symbol_word(index_cell)) {
        Cell v = *p, w = *index_cell;
        error::fire(error::id::cannot_use, &v, &w);
    }
    if (i < 1 || i > n) {
        Cell v = *index_cell;
        error::fire(error::id::out_of_range, &v);
    }
    float_::box_at(p, coordinate(p, i - 1));
    return p;
}

// point2D! swaps x and y, point3D! x and z.
void reverse(Cell* p, const Cell*, const Cell*) {
    double c[3];
    coordinates(p, c);
    std::swap(c[0], c[count_of(p) - 1]);
    store(p, c);
}

void absolute() {
    Cell* p = stack::args;
    double c[3];
    coordinates(p, c);
    for (double& x : c) x = std::fabs(x);
    store(p, c);
}

// 0.0 - c, so that a zero stays +0.
void negate(Cell* p) {
    double c[3];
    coordinates(p, c);
    for (double& x : c) x = 0.0 - x;
    store(p, c);
}

void add() { math(integer::op::add); }
void subtract() { math(integer::op::subtract); }
void multiply() { math(integer::op::multiply); }
void divide() { math(integer::op::divide); }
void remainder() { math(integer::op::remainder); }

// Each coordinate rounded as a float! with its own step. A zero step leaves
// its coordinate as it is.
void round(Cell* p, const Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
           bool half_ceiling) {
    if (scale && cell::is(scale, type::money)) {
        Cell kind = cell::datatype_value(type::money), where = stack::get_call_word();
        error::fire(error::id::not_related, &kind, &where);
    }
    int n = count_of(p);
    Cell steps[3];
    double s[3] = {0, 0, 0};
    bool per_coordinate = false;
    if (scale) {
        switch (cell::type_of(scale)) {
            // A pair scale rounds a point3D! as a point2D! scale does: z with 0.
            case type::pair: s[0] = pair::x(scale); s[1] = pair::y(scale); per_coordinate = true; break;
            case type::point2d:
            case type::point3d: coordinates(scale, s); per_coordinate = true; break;
            case type::integer: s[0] = s[1] = s[2] = integer::get(scale); break;
            default: break;
        }
    }
    for (int i = 0; i < 3; ++i) float_::box_at(&steps[i], s[i]);
    double c[3];
    coordinates(p, c);
    for (int i = 0; i < n; ++i) {
        const Cell* step = !scale ? nullptr : per_coordinate || cell::is(scale, type::integer) ? &steps[i] : scale;
        Cell v;
        float_::box_at(&v, c[i]);
        float_::round(&v, step, even, down, half_down, floor, ceiling, half_ceiling);
        c[i] = cell::is(&v, type::integer) ? integer::get(&v) : cell::real(&v);
    }
    store(p, c);
}

void random(Cell* p, bool seed, bool secure, bool) {
    if (seed) {
        kel::random::init_genrand(p->payload1 ^ p->payload2 ^ p->payload3);
        cell::set_unset(p);
        return;
    }
    double c[3];
    coordinates(p, c);
    for (int i = 0; i < count_of(p); ++i) {
        if (c[i] == 0) continue;
        Cell v;
        float_::box_at(&v, c[i]);
        float_::random(&v, false, secure, false);
        c[i] = cell::real(&v);
    }
    store(p, c);
}

template <uint8_t T>
void register_row(const char* name) {
    datatype::Row row(datatype::unsupported);
    row.set(action::make, &make).set(action::to, &make).set(action::random, &random);
    row.set(action::form, &form).set(action::mold, &mold).set(action::eval_path, &eval_path);
    row.set(action::compare, &compare).set(action::absolute, &absolute).set(action::add, &add);
    row.set(action::divide, &divide).set(action::multiply, &multiply).set(action::negate, &negate);
    row.set(action::remainder, &remainder).set(action::round, &round).set(action::subtract, &subtract);
    row.set(action::pick, &pick).set(action::reverse, &reverse);
    datatype::register_type({T, 0, name, row.handlers});
}

}  // namespace

Cell load_as(const Cell* text, uint8_t t) {
    uint32_t count = 0;
    Cell v = lexer::load_first(text, &count);
    if (count != 1 || !cell::is(&v, t)) error::fire_bad_to_arg(t, text);
    cell::clear_newline(&v);
    return v;
}

Cell* answer_float(double d) {
    static Cell answer;
    float_::box_at(&answer, d);
    return &answer;
}

void math(int op) {
    Cell* left = stack::args;
    Cell* right = left + 1;
    int n = count_of(left);
    double a[3], b[3];
    coordinates(left, a);
    switch (cell::type_of(right)) {
        case type::integer: b[0] = b[1] = b[2] = integer::get(right); break;
        case type::float_:
        case type::percent: b[0] = b[1] = b[2] = cell::real(right); break;
        case type::pair:
            if (n == 3) error::fire_invalid_type(cell::type_of(right));
            b[0] = pair::x(right);
            b[1] = pair::y(right);
            break;
        case type::point2d:
        case type::point3d:
            if (count_of(right) != n) error::fire_invalid_type(cell::type_of(right));
            coordinates(right, b);
            break;
        default: error::fire_invalid_type(cell::type_of(right));
    }
    for (int i = 0; i < n; ++i) a[i] = float_::do_math(a[i], b[i], op);
    store(left, a);
}

// Equality by the almost-equal test (0, 1), exact values (2) or bits
// (same?); orders by x, then by the next coordinate while the previous ones
// are almost equal.
int32_t compare(const Cell* a, const Cell* b0, int32_t op) {
    int n = count_of(a);
    Cell b = *b0;
    if (n == 2 && cell::is(&b, type::pair)) pair::to_point2d(&b);
    if (cell::type_of(&b) != cell::type_of(a)) return -2;
    bool near = true, exact = true, same = true;
    for (int i = 0; i < n; ++i) {
        float x = coordinate(a, i), y = coordinate(&b, i);
        near = near && float_::near_equal32(x, y);
        exact = exact && x == y;
        same = same && std::bit_cast<uint32_t>(x) == std::bit_cast<uint32_t>(y);
    }
    switch (op) {
        case 0: case 1: return near ? 0 : 1;
        case 2: return exact ? 0 : 1;
        case 9: return same ? 0 : 1;
        default:
            for (int i = 0; i < n; ++i) {
                float x = coordinate(a, i), y = coordinate(&b, i);
                if (i < n - 1 && float_::near_equal32(x, y)) continue;
                double d = double(x) - double(y);
                return d < 0 ? -1 : d > 0 ? 1 : 0;
            }
            return 0;
    }
}

}  // namespace kel::point

namespace kel {
void point2d::register_type() { point::register_row<type::point2d>("point2D!"); }
void point3d::register_type() { point::register_row<type::point3d>("point3D!"); }
}  // namespace kel
