// integer!: cell writers, decimal text, the arithmetic core and the row of
// handlers. Every range decision is made on 64-bit intermediates, so no
// path here relies on signed 32-bit overflow; the one quotient that does not
// fit (-2147483648 / -1, and its remainder) is refused before dividing.
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/money.hpp"

#include <climits>
#include <utility>

#include "runtime/actions.hpp"
#include "runtime/alloc.hpp"
#include "runtime/context.hpp"
#include "runtime/datatype.hpp"
#include "runtime/datatypes/date.hpp"
#include "runtime/datatypes/float.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/pair.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/tokenizer.hpp"
#include "runtime/datatypes/tuple.hpp"
#include "runtime/datatypes/vector.hpp"
#include "runtime/error.hpp"
#include "runtime/random.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"
#include "runtime/system.hpp"
#include "runtime/throws.hpp"
#include "runtime/words.hpp"

namespace kel::integer {
namespace {

Cell global_word(const char* name) { return Cell{type::word, context::global, symbol::make(name), uint32_t(-1)}; }

[[noreturn]] void fire_not_related(const Cell* action_word) {
    Cell kind = cell::datatype_value(type::integer);
    error::fire(error::id::not_related, action_word, &kind);
}

const Cell* word_of(int op) {
    switch (op) {
        case op::add: return words::words.add;
        case op::subtract: return words::words.subtract;
        case op::multiply: return words::words.multiply;
        default: return words::words.divide;
    }
}

// The first up to 4 bytes from the binary's index, big-endian.
int32_t from_binary(const Cell* bin) {
    int32_t n = series::length_from(bin);
    if (n > 4) n = 4;
    SeriesBuffer* b = alloc::buffer_of(bin->payload2);
    const uint8_t* p = b->data() + b->offset + series::clamped_index(bin);
    uint32_t w = 0;
    for (int32_t i = 0; i < n; ++i) w = w << 8 | p[i];
    return int32_t(w);
}

// The issue's name read as hexadecimal, at most 8 digits. An empty name has
// no digits to read: it is refused like a bad one.
int32_t from_issue(const Cell* issue) {
    std::string_view name = symbol::name(issue->payload2);
    if (name.empty() || name.size() > 8) {
        Cell v = *issue;
        error::fire(error::id::invalid_data, &v);
    }
    uint32_t w = 0;
    for (char ch : name) {
        uint32_t d;
        if (ch >= '0' && ch <= '9') d = uint32_t(ch - '0');
        else if (ch >= 'A' && ch <= 'F') d = uint32_t(ch - 'A' + 10);
        else if (ch >= 'a' && ch <= 'f') d = uint32_t(ch - 'a' + 10);
        else {
            Cell v = *issue;
            error::fire(error::id::invalid_data, &v);
        }
        w = w << 4 | d;
    }
    return int32_t(w);
}

int32_t from_real(double d) {
    if (float_overflow_q(d)) {
        Cell kind = cell::datatype_value(type::integer);
        error::fire(error::id::type_limit, &kind);
    }
    return int32_t(d);
}

// to and make: the same conversions, but only make takes a logic!.
Cell* convert(Cell* proto, Cell* spec, bool making) {
    int32_t v;
    switch (cell::type_of(spec)) {
        case type::integer:
        case type::char_: v = get(spec); break;
        case type::logic:
            if (!making) error::fire_bad_to_arg(type::integer, spec);
            v = spec->payload1 == 1;
            break;
        case type::float_:
        case type::percent: v = from_real(cell::real(spec)); break;
        // Whole seconds, halves rounded up for positive times.
        case type::time: v = from_real(cell::real(spec) + 0.5); break;
        case type::binary: v = from_binary(spec); break;
        case type::issue: v = from_issue(spec); break;
        case type::money: v = money::to_integer(spec); break;
        // Seconds since 1-Jan-1970/0:00 UTC, the inverse of to date!.
        case type::date: {
            int64_t seconds = date::to_epoch(spec);
            if (seconds < INT32_MIN || seconds > INT32_MAX) {
                Cell kind = cell::datatype_value(type::integer);
                error::fire(error::id::type_limit, &kind);
            }
            v = int32_t(seconds);
            break;
        }
        case type::string:
        case type::file:
        case type::url:
        case type::tag:
        case type::email:
        case type::ref: {
            string::Units text = string::units_of(spec);
            int32_t error = 0;
            v = tokenizer::scan_integer(text.start, text.count, text.unit, &error);
            if (error || text.count == 0) error::fire_bad_to_arg(type::integer, spec);
            break;
        }
        default: error::fire_bad_to_arg(type::integer, spec);
    }
    cell::set_integer(proto, v);
    return proto;
}

void set_result(Cell* c, int32_t v) { cell::set_integer(c, v); }

// n op p for a pair or point p: the operands swap, and n - p becomes
// (-p) + n. A pair holding -2147483648, whose negation 32 bits cannot hold,
// is negated as a point2D!.
void swapped_into_pair(int op) {
    Cell* left = stack::args;
    std::swap(*left, left[1]);
    if (op == op::subtract) {
        if (cell::is(left, type::pair) && (pair::x(left) == INT32_MIN || pair::y(left) == INT32_MIN))
            pair::to_point2d(left);
        actions::handler<actions::Negate>(cell::type_of(left), action::negate, left)(left);
        op = op::add;
    }
    if (cell::is(left, type::pair)) pair::math(op);
    else point::math(op);
}

}  // namespace

// ---- cell writers and readers

void box(Cell* c, int32_t v) {
    cell::set_type(c, type::integer);
    c->payload2 = uint32_t(v);
}

Cell* set_last(int32_t v) {
    cell::set_integer(stack::args, v);
    return stack::args;
}

Cell* push(int32_t v) {
    Cell* c = stack::push_slot();
    cell::set_integer(c, v);
    return c;
}

Cell* make_in(Cell* block, int32_t v) {
    Cell* c = series::alloc_tail(block);
    cell::set_integer(c, v);
    return c;
}

int32_t get_arg() { return get(stack::args); }
int32_t get_arg_or_zero() { return cell::is(stack::args, type::integer) ? get(stack::args) : 0; }

// ---- shared helpers

std::string_view to_text(int32_t v) {
    static char buffer[11];  // "-2147483648"
    if (v == 0) return "0";
    uint32_t u = v < 0 ? 0u - uint32_t(v) : uint32_t(v);
    char* end = buffer + sizeof buffer;
    char* p = end;
    for (; u; u /= 10) *--p = char('0' + u % 10);
    if (v < 0) *--p = '-';
    return {p, size_t(end - p)};
}

bool float_overflow_q(double d) { return d != d || d > 2147483647.0 || d < -2147483648.0; }

int32_t absolute_value(int32_t v) {
    if (v == INT32_MIN) error::fire(error::id::overflow);
    return v < 0 ? -v : v;
}

int32_t do_math(int32_t a, int32_t b, int op, Cell* result) {
    int64_t r;
    switch (op) {
        case op::add: r = int64_t(a) + b; break;
        case op::subtract: r = int64_t(a) - b; break;
        case op::multiply: r = int64_t(a) * b; break;
        case op::divide:
        case op::remainder:
            if (b == 0) error::fire(error::id::zero_divide);
            if (a == INT32_MIN && b == -1) error::fire(error::id::overflow);
            if (op == op::remainder) return a % b;
            if (result && a % b != 0) cell::set_real(result, type::float_, double(a) / double(b));
            return a / b;
        case op::or_: return a | b;
        case op::and_: return a & b;
        case op::xor_: return a ^ b;
        default: sys::quit(101, KEL_CALLER_ADDRESS());
    }
    if (r < INT32_MIN || r > INT32_MAX) {
        if (!result) throws::throw_code(throws::integer_overflow);
        // Exact for add and subtract; a product beyond 2^53 is rounded once.
        cell::set_real(result, type::float_, double(r));
    }
    return int32_t(uint32_t(uint64_t(r)));
}

void math(int op) {
    Cell* left = stack::args;
    Cell* right = left + 1;
    switch (cell::type_of(right)) {
        case type::integer:
        case type::char_: {
            int32_t r = do_math(get(left), get(right), op, left);
            if (!cell::is(left, type::float_)) set_result(left, r);
            return;
        }
        case type::float_:
        case type::percent:
        case type::time: float_::math(op); return;
        case type::vector: vector::scalar_first_op(op); return;
        case type::money: money::math(op); return;
        case type::pair:
        case type::point2d:
        case type::point3d:
            if (op == op::divide) fire_not_related(words::words.divide);
            swapped_into_pair(op);
            return;
        case type::tuple:
            if (op == op::subtract || op == op::divide) fire_not_related(word_of(op));
            tuple::math(op);
            return;
        case type::date:
            if (op != op::add) fire_not_related(words::words.subtract);
            std::swap(left[0], right[0]);
            date::math(op::add);
            return;
        default: {
            error::fire_invalid_type(cell::type_of(right));
        }
    }
}

// ---- the integer! row

Cell* make(Cell* proto, Cell* spec, uint8_t) { return convert(proto, spec, true); }
Cell* to(Cell* proto, Cell* spec, uint8_t) { return convert(proto, spec, false); }

void random(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        kel::random::init_genrand(value->payload2);
        cell::set_unset(value);
        return;
    }
    set_result(value, kel::random::next_int(secure, get(value)));
}

int32_t form(const Cell* value, Cell* out, const Cell*, int32_t limit) {
    std::string_view t = to_text(get(value));
    string::append_ascii(out, t.data(), t.size());
    return limit - int32_t(t.size());
}

int32_t mold(const Cell* value, Cell* out, bool, bool, bool, const Cell* part, int32_t limit, int32_t) {
    return form(value, out, part, limit);
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
    uint8_t tb = cell::type_of(b);
    // same? joins == and the find equality in telling 1 from 1.0, as it does
    // with a float! on the left.
    if ((op == 2 || op == 9 || op == 12) && tb != type::integer) return 1;
    switch (tb) {
        case type::integer:
        case type::char_: {
            int32_t x = get(a), y = get(b);
            return x < y ? -1 : x > y ? 1 : 0;
        }
        case type::money: return money::compare_number(a, b, op);
        case type::float_:
        case type::percent:
        case type::time: {
            Cell widened;
            cell::set_real(&widened, type::float_, double(get(a)));
            return float_::compare(&widened, b, op);
        }
        default: return -2;
    }
}

void absolute() { set_result(stack::args, absolute_value(get(stack::args))); }
void add() { math(op::add); }
void divide() { math(op::divide); }
void multiply() { math(op::multiply); }
void remainder() { math(op::remainder); }
void subtract() { math(op::subtract); }
void and_() { math(op::and_); }
void or_() { math(op::or_); }
void xor_() { math(op::xor_); }

void negate(Cell* value) {
    int32_t n = get(value);
    if (n == INT32_MIN) error::fire(error::id::overflow);
    set_result(value, -n);
}

Cell* complement(Cell* value) {
    set_result(value, ~get(value));
    return value;
}

bool even_q(const Cell* value) { return (get(value) & 1) == 0; }
bool odd_q(const Cell* value) { return (get(value) & 1) != 0; }

// Exponentiation by squaring while every product fits 32 bits; otherwise, and
// for a negative or float! exponent, the float power decides.
void power() {
    Cell* base = stack::args;
    Cell* exponent = base + 1;
    uint8_t te = cell::type_of(exponent);
    if (te != type::integer && te != type::float_) {
        Cell where = stack::get_call_word(), kind = cell::datatype_value(te), argument = global_word("exponent");
        error::fire(error::id::expect_arg, &where, &kind, &argument);
    }
    if (te == type::integer && get(exponent) >= 0) {
        int32_t b = get(base), e = get(exponent), r = 1;
        uint32_t code = throws::protect(throws::integer_overflow, [&] {
            for (;;) {
                if (e & 1) r = do_math(r, b, op::multiply, nullptr);
                e >>= 1;
                if (!e) break;
                b = do_math(b, b, op::multiply, nullptr);
            }
        });
        if (code == 0) {
            set_result(base, r);
            return;
        }
    }
    cell::set_real(base, type::float_, double(get(base)));
    float_::power();
}

// Rounding to a multiple s of the scale, on magnitudes in 64 bits: v = |n|,
// r = v mod s, the multiple toward zero v - r, away from zero v + (s - r).
void round(Cell* value, const Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
           bool half_ceiling) {
    if (scale && cell::is(scale, type::money)) {
        Cell kind = cell::datatype_value(type::money);
        error::fire(error::id::not_related, &kind);
    }
    int32_t n = get(value);
    if (n == INT32_MIN) return;
    if (scale && !cell::is(scale, type::integer)) {
        cell::set_real(value, type::float_, double(n));
        float_::round(value, scale, even, down, half_down, floor, ceiling, half_ceiling);
        return;
    }
    int64_t s = scale ? get(scale) : 1;
    if (s < 0) s = -s;
    if (s == 0) return;
    int64_t v = n < 0 ? -int64_t(n) : n;
    int64_t r = v % s;
    if (r == 0) return;
    int64_t d = s - r, up = v + d;
    auto check_up = [up] {
        if (up > INT32_MAX) error::fire(error::id::overflow);
    };
    bool away;
    if (down) {
        away = false;
    } else if (floor) {
        check_up();
        away = n < 0;
    } else if (ceiling) {
        check_up();
        away = n > 0;
    } else if (r != d) {
        away = r > d;
    } else if (even) {
        away = (v / s) % 2 != 0;
    } else if (half_down) {
        away = false;
    } else if (half_ceiling) {
        away = n > 0;
    } else {
        away = true;
    }
    if (away) check_up();
    int64_t m = away ? up : v - r;
    set_result(value, int32_t(n < 0 ? -m : m));
}

void register_type() {
    datatype::Row row(datatype::unsupported);
    row.set(action::make, &make).set(action::random, &random).set(action::to, &to);
    row.set(action::form, &form).set(action::mold, &mold).set(action::compare, &compare);
    row.set(action::absolute, &absolute).set(action::add, &add).set(action::divide, &divide);
    row.set(action::multiply, &multiply).set(action::negate, &negate).set(action::power, &power);
    row.set(action::remainder, &remainder).set(action::round, &round).set(action::subtract, &subtract);
    row.set(action::even_q, &even_q).set(action::odd_q, &odd_q).set(action::and_, &and_);
    row.set(action::complement, &complement).set(action::or_, &or_).set(action::xor_, &xor_);
    datatype::register_type({type::integer, 0, "integer!", row.handlers});
}

}  // namespace kel::integer
