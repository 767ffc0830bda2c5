// char!: conversions to a code point, the #"x" source form, comparison with
// characters and integers, and integer arithmetic kept inside 0 .. 0x10FFFF.
#include "runtime/datatypes/char.hpp"

#include <algorithm>
#include <cmath>

#include "runtime/alloc.hpp"
#include "runtime/datatype.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/vector.hpp"
#include "runtime/error.hpp"
#include "runtime/stack.hpp"
#include "runtime/unicode.hpp"

namespace kel::char_ {
namespace {

uint32_t checked(int64_t v, const Cell* spec) {
    if (v < 0 || v > max_code_point) error::fire(error::id::out_of_range, spec);
    return uint32_t(v);
}

// The code point of the arithmetic operand; a float! is truncated.
int32_t operand(const Cell* right) {
    switch (cell::type_of(right)) {
        case type::char_: case type::integer: return int32_t(right->payload2);
        case type::float_: {
            double d = cell::real(right);
            if (integer::float_overflow_q(d)) error::fire(error::id::overflow);
            return int32_t(std::trunc(d));
        }
        default: {
            error::fire_invalid_type(cell::type_of(right));
        }
    }
}

void from_value(int op) {
    Cell* left = stack::args;
    if (cell::is(left + 1, type::vector)) return vector::scalar_first_op(op);
    int32_t b = operand(left + 1);
    Cell inexact{type::unset, 0, 0, 0};
    int32_t r = integer::do_math(int32_t(left->payload2), b, op, &inexact);
    // A float! answer of add, subtract or multiply is an overflow; divide is integer division.
    if ((cell::is(&inexact, type::float_) && op != 3) || r < 0 || uint32_t(r) > max_code_point) error::fire(error::id::overflow);
    left->payload2 = uint32_t(r);
}

}  // namespace

Cell* make(Cell* proto, Cell* spec, uint8_t) {
    uint32_t cp;
    uint8_t t = cell::type_of(spec);
    if (series::is_text(t)) {
        if (series::ks_tail_q(spec)) error::fire_bad_to_arg(type::char_, spec);
        cp = string::read_text(spec, series::clamped_index(spec), 1)[0];
    } else if (t == type::char_ || t == type::integer) {
        cp = checked(int32_t(spec->payload2), spec);
    } else if (t == type::float_ || t == type::percent) {
        double d = cell::real(spec);
        if (std::isnan(d)) error::fire(error::id::out_of_range, spec);
        cp = checked(int64_t(std::clamp(std::trunc(d), -1.0, double(max_code_point) + 1)), spec);
    } else if (t == type::binary) {
        if (series::ks_tail_q(spec)) error::fire_bad_to_arg(type::char_, spec);
        SeriesBuffer* b = alloc::buffer_of(spec->payload2);
        uint32_t length = uint32_t(series::length_from(spec));
        int32_t v = unicode::decode_utf8_checked(b->data() + b->offset + series::clamped_index(spec), &length);
        if (v < 0) error::fire(error::id::invalid_utf8, spec);
        cp = uint32_t(v);
    } else {
        error::fire_bad_to_arg(type::char_, spec);
    }
    return box(proto, cp);
}

int32_t form(const Cell* value, Cell* out, const Cell*, int32_t limit) {
    string::append_char(out, value->payload2);
    return limit - 1;
}

int32_t mold(const Cell* value, Cell* out, bool, bool all, bool, const Cell*, int32_t limit, int32_t) {
    uint32_t cp = value->payload2;
    string::append_ascii(out, "#\"", 2);
    string::mold_char_escaped(out, cp, all);
    string::append_ascii(out, "\"", 1);
    return limit - 4;
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
    if ((op == 2 || op == 12) && !cell::is(b, type::char_)) return 1;
    if (!cell::is(b, type::char_) && !cell::is(b, type::integer)) return -2;
    int32_t x = int32_t(a->payload2), y = int32_t(b->payload2);
    return x < y ? -1 : x > y ? 1 : 0;
}

void add() { from_value(0); }
void subtract() { from_value(1); }
void multiply() { from_value(2); }
void divide() { from_value(3); }
void remainder() { from_value(4); }
void or_() { from_value(5); }
void and_() { from_value(6); }
void xor_() { from_value(7); }

void register_type() {
    datatype::Row row(datatype::unsupported);
    row.set(action::make, &make).set(action::to, &make).set(action::form, &form).set(action::mold, &mold);
    row.set(action::compare, &compare).set(action::add, &add).set(action::divide, &divide);
    row.set(action::multiply, &multiply).set(action::remainder, &remainder).set(action::subtract, &subtract);
    row.set(action::and_, &and_).set(action::or_, &or_).set(action::xor_, &xor_);
    for (action::Slot s : {action::random, action::absolute, action::even_q, action::odd_q})
        row.handlers[s - 1] = datatype::inherit;
    datatype::register_type({type::char_, type::integer, "char!", row.handlers});
}

}  // namespace kel::char_
