// Number natives: sign and zero tests, max and min, shift, to-hex, the
// trigonometry (in degrees unless /radians), the logarithms, exp,
// square-root, and the makers as-pair, as-point2D, as-point3D and as-money.
#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <numbers>

#include "runtime/actions.hpp"
#include "runtime/context.hpp"
#include "runtime/datatypes/float.hpp"
#include "runtime/datatypes/issue.hpp"
#include "runtime/datatypes/money.hpp"
#include "runtime/datatypes/pair.hpp"
#include "runtime/datatypes/tuple.hpp"
#include "runtime/error.hpp"
#include "runtime/natives/entries.hpp"
#include "runtime/natives/natives.hpp"
#include "runtime/sysrt.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"

namespace kel::natives {
namespace {

constexpr double epsilon = 2.220446049250313e-16;

uint32_t answer_logic(bool v) {
    cell::set_logic(stack::args, v);
    stack::keep();
    return 0;
}

uint32_t answer_integer(int32_t v) {
    cell::set_integer(stack::args, v);
    stack::keep();
    return 0;
}

uint32_t answer_float(double v) {
    cell::set_real(stack::args, type::float_, v);
    stack::keep();
    return 0;
}

bool real_family(uint8_t t) { return t == type::float_ || t == type::percent || t == type::time; }

// ---- signs

// -1, 0 or 1 for a number, money or time (0 for a NaN); other types raise
// expect-arg.
int32_t sign_of(const Cell* v) {
    uint8_t t = cell::type_of(v);
    if (t == type::integer) {
        int32_t n = cell::integer(v);
        return n > 0 ? 1 : n < 0 ? -1 : 0;
    }
    if (real_family(t)) {
        double d = cell::real(v);
        return d > 0.0 ? 1 : d < 0.0 ? -1 : 0;
    }
    if (t == type::money) return money::sign(v);
    error::fire_expect_arg(v, "number");
}

}  // namespace

uint32_t negative_q(const Call&) { return answer_logic(sign_of(stack::args) < 0); }
uint32_t positive_q(const Call&) { return answer_logic(sign_of(stack::args) > 0); }
uint32_t sign_q(const Call&) { return answer_integer(sign_of(stack::args)); }

uint32_t zero_q(const Call&) {
    const Cell* v = stack::args;
    bool zero = false;
    switch (cell::type_of(v)) {
        case type::char_:
        case type::integer: zero = cell::integer(v) == 0; break;
        case type::float_:
        case type::percent:
        case type::time: zero = cell::real(v) == 0.0; break;
        case type::pair: zero = v->payload2 == 0 && v->payload3 == 0; break;
        case type::tuple: zero = tuple::zero_q(v); break;
        case type::money: zero = money::zero_q(v); break;
        case type::point2d:
        case type::point3d: {
            zero = std::bit_cast<float>(v->payload1) == 0.0f && std::bit_cast<float>(v->payload2) == 0.0f;
            if (cell::is(v, type::point3d)) zero = zero && std::bit_cast<float>(v->payload3) == 0.0f;
            break;
        }
        default: break;
    }
    return answer_logic(zero);
}

// ---- max and min

namespace {

bool scalar_number(uint8_t t) { return t == type::integer || t == type::float_; }
bool composite(uint8_t t) { return t == type::pair || t == type::point2d || t == type::point3d || t == type::tuple; }

float pick_float(float x, float y, bool greater) {
    if (y != y) return y;  // a NaN in the second argument replaces the component
    return greater ? (y > x ? y : x) : (y < x ? y : x);
}

// Point components against a scalar or a point of the same kind.
void max_min_points(Cell* a, const Cell* b, bool greater) {
    int n = cell::is(a, type::point3d) ? 3 : 2;
    uint32_t* x[3] = {&a->payload1, &a->payload2, &a->payload3};
    float y[3];
    if (scalar_number(cell::type_of(b))) {
        float s = float(cell::is(b, type::integer) ? double(cell::integer(b)) : cell::real(b));
        y[0] = y[1] = y[2] = s;
    } else {
        y[0] = std::bit_cast<float>(b->payload1);
        y[1] = std::bit_cast<float>(b->payload2);
        y[2] = std::bit_cast<float>(b->payload3);
    }
    for (int i = 0; i < n; ++i) *x[i] = std::bit_cast<uint32_t>(pick_float(std::bit_cast<float>(*x[i]), y[i], greater));
}

int32_t pick_int(int32_t x, int32_t y, bool greater) { return greater ? std::max(x, y) : std::min(x, y); }

// The composite cases; false when the combination is none of them.
bool max_min_composite(Cell* a, Cell* b, bool greater) {
    uint8_t ta = cell::type_of(a), tb = cell::type_of(b);
    if (ta == type::pair) {
        if (tb == type::integer || (tb == type::float_ && std::isfinite(cell::real(b)) &&
                                    cell::real(b) > -2147483649.0 && cell::real(b) < 2147483648.0)) {
            int32_t s = tb == type::integer ? cell::integer(b) : int32_t(cell::real(b));
            a->payload2 = uint32_t(pick_int(int32_t(a->payload2), s, greater));
            a->payload3 = uint32_t(pick_int(int32_t(a->payload3), s, greater));
            return true;
        }
        if (tb == type::pair) {
            a->payload2 = uint32_t(pick_int(int32_t(a->payload2), int32_t(b->payload2), greater));
            a->payload3 = uint32_t(pick_int(int32_t(a->payload3), int32_t(b->payload3), greater));
            return true;
        }
        if (tb == type::float_ || tb == type::point2d) {
            point2d::box(a, int32_t(a->payload2), int32_t(a->payload3));
            max_min_points(a, b, greater);
            return true;
        }
        return false;
    }
    if (ta == type::point2d || ta == type::point3d) {
        if (!scalar_number(tb) && tb != ta) return false;
        max_min_points(a, b, greater);
        return true;
    }
    if (ta == type::tuple) {
        uint8_t* x = tuple::bytes(a);
        uint32_t n = tuple::length(a);
        if (scalar_number(tb)) {
            int32_t s;
            if (tb == type::integer) {
                s = cell::integer(b);
            } else {
                double d = cell::real(b);
                if (!(d > -2147483649.0 && d < 2147483648.0)) {
                    Cell kind = cell::datatype_value(type::integer);
                    error::fire(error::id::type_limit, &kind);
                }
                s = int32_t(d);
            }
            s = std::clamp(s, 0, 255);
            for (uint32_t i = 0; i < n; ++i) x[i] = uint8_t(pick_int(x[i], s, greater));
            return true;
        }
        if (tb == type::tuple && tuple::length(b) == n) {
            for (uint32_t i = 0; i < n; ++i) x[i] = uint8_t(pick_int(x[i], tuple::bytes(b)[i], greater));
            return true;
        }
        return false;
    }
    return false;
}

bool nan_number(const Cell* v) {
    uint8_t t = cell::type_of(v);
    return (t == type::float_ || t == type::percent) && std::isnan(cell::real(v));
}
bool plain_number(uint8_t t) { return t == type::integer || t == type::float_ || t == type::percent; }

uint32_t max_min(bool greater) {
    Cell* a = stack::args;
    Cell* b = a + 1;
    uint8_t ta = cell::type_of(a), tb = cell::type_of(b);
    if (nan_number(a) && plain_number(tb)) return stack::keep(), 0;
    if (nan_number(b) && plain_number(ta)) {
        *a = *b;
        return stack::keep(), 0;
    }
    if (scalar_number(ta) && composite(tb)) std::swap(*a, *b);
    if (!max_min_composite(a, b, greater)) {
        bool lesser = actions::compare_star(a, b, 3);
        if (greater ? lesser : !lesser) *a = *b;
    }
    stack::keep();
    return 0;
}

}  // namespace

uint32_t max(const Call&) { return max_min(true); }
uint32_t min(const Call&) { return max_min(false); }

// ---- bits and hex

uint32_t shift(const Call& call) {
    enum { left, logical };
    int32_t data = cell::integer(stack::args), bits = std::max(cell::integer(stack::args + 1), 0);
    int32_t r;
    if (call.refs[left] >= 0) r = bits < 32 ? int32_t(uint32_t(data) << bits) : 0;
    else if (call.refs[logical] >= 0) r = bits < 32 ? int32_t(uint32_t(data) >> bits) : 0;
    else r = bits < 32 ? data >> bits : data < 0 ? -1 : 0;
    return answer_integer(r);
}

uint32_t to_hex(const Call& call) {
    Cell* v = stack::args;
    if (!cell::is(v, type::integer)) error::fire_expect_arg(v, "value");
    enum { size_ };
    int32_t keep = 8;
    if (call.refs[size_] >= 0) {
        Cell* size = stack::args + call.refs[size_];
        if (!cell::is(size, type::integer) || cell::integer(size) < 1) error::fire(error::id::invalid_arg, size);
        keep = std::min(cell::integer(size), 8);
    }
    constexpr char hex[] = "0123456789ABCDEF";
    char digits[8];
    uint32_t n = uint32_t(cell::integer(v));
    for (int i = 7; i >= 0; --i, n >>= 4) digits[i] = hex[n & 15];
    issue::make_at(v, digits + 8 - keep, size_t(keep));
    stack::keep();
    return 0;
}

// ---- trigonometry and logarithms

namespace {

// The argument as a double: integer!, float! or percent! (its fraction).
double real_arg(const Cell* v, const char* argument) {
    switch (cell::type_of(v)) {
        case type::integer: return double(cell::integer(v));
        case type::float_:
        case type::percent: return cell::real(v);
        default: error::fire_expect_arg(v, argument);
    }
}

// The trigonometric natives' one refinement.
bool radians(const Call& call) {
    enum { radians_ };
    return call.refs[radians_] >= 0;
}

// kind: 0 tangent, 1 cosine, 2 sine, as the angle service folds them.
uint32_t trig(const Call& call, int kind) {
    double a = real_arg(stack::args, "angle");
    if (!radians(call)) a = sysrt::normalize_angle(a, kind);
    double r;
    if (kind == 0) {
        r = a == std::numbers::pi / 2    ? std::numeric_limits<double>::infinity()
            : a == -std::numbers::pi / 2 ? -std::numeric_limits<double>::infinity()
                                         : std::tan(a);
    } else {
        r = kind == 1 ? std::cos(a) : std::sin(a);
        if (std::fabs(r) < epsilon) r = 0.0;
    }
    return answer_float(r);
}

double degrees(const Call& call, double r) { return radians(call) ? r : r * 180.0 / std::numbers::pi; }

}  // namespace

uint32_t sine(const Call& call) { return trig(call, 2); }
uint32_t cosine(const Call& call) { return trig(call, 1); }
uint32_t tangent(const Call& call) { return trig(call, 0); }

uint32_t arcsine(const Call& call) { return answer_float(degrees(call, std::asin(real_arg(stack::args, "sine")))); }
uint32_t arccosine(const Call& call) {
    return answer_float(degrees(call, std::acos(real_arg(stack::args, "cosine"))));
}
uint32_t arctangent(const Call& call) {
    return answer_float(degrees(call, std::atan(real_arg(stack::args, "tangent"))));
}
uint32_t arctangent2(const Call& call) {
    double y = real_arg(stack::args, "y"), x = real_arg(stack::args + 1, "x");
    return answer_float(degrees(call, std::atan2(y, x)));
}

uint32_t nan_q(const Call&) {
    const Cell* v = stack::args;
    return answer_logic(real_family(cell::type_of(v)) && std::isnan(cell::real(v)));
}

uint32_t log_2(const Call&) { return answer_float(std::log(real_arg(stack::args, "value")) / 0.6931471805599453); }
uint32_t log_10(const Call&) { return answer_float(std::log10(real_arg(stack::args, "value"))); }
uint32_t log_e(const Call&) { return answer_float(std::log(real_arg(stack::args, "value"))); }
uint32_t exp(const Call&) { return answer_float(std::exp(real_arg(stack::args, "value"))); }
uint32_t square_root(const Call&) { return answer_float(std::sqrt(real_arg(stack::args, "value"))); }

// ---- makers

namespace {

// An integer!, or a float! truncated toward zero (NaN, infinite or beyond
// 32 bits raises invalid-arg).
int32_t pair_part(const Cell* v, const char* argument) {
    if (cell::is(v, type::integer)) return cell::integer(v);
    if (!cell::is(v, type::float_)) error::fire_expect_arg(v, argument);
    double d = cell::real(v);
    if (!(d > -2147483649.0 && d < 2147483648.0)) error::fire(error::id::invalid_arg, v);
    return int32_t(d);
}

double point_part(const Cell* v, const char* argument) {
    if (cell::is(v, type::integer)) return double(cell::integer(v));
    if (!cell::is(v, type::float_)) error::fire_expect_arg(v, argument);
    return cell::real(v);
}

}  // namespace

uint32_t as_pair(const Call&) {
    Cell* a = stack::args;
    int32_t x = pair_part(a, "x"), y = pair_part(a + 1, "y");
    pair::box(a, x, y);
    stack::keep();
    return 0;
}

uint32_t as_point2d(const Call&) {
    Cell* a = stack::args;
    point2d::box(a, point_part(a, "x"), point_part(a + 1, "y"));
    stack::keep();
    return 0;
}

uint32_t as_point3d(const Call&) {
    Cell* a = stack::args;
    point3d::box(a, point_part(a, "x"), point_part(a + 1, "y"), point_part(a + 2, "z"));
    stack::keep();
    return 0;
}

uint32_t as_money(const Call&) {
    Cell* a = stack::args;
    if (!cell::is(a, type::word)) error::fire_expect_arg(a, "currency");
    std::string_view name = symbol::name(a->payload2);
    int32_t currency = name.size() == 3 ? money::find_currency(name.data()) : -1;
    if (currency < 0) error::fire(error::id::bad_denom, a);
    Cell* amount = a + 1;
    Cell m;
    if (cell::is(amount, type::integer)) money::from_integer(&m, cell::integer(amount));
    else if (cell::is(amount, type::float_)) money::from_float(&m, cell::real(amount), false);
    else error::fire_expect_arg(amount, "amount");
    m.payload1 = (m.payload1 & ~0xFFu) | uint32_t(currency);
    *a = m;
    stack::keep();
    return 0;
}

}  // namespace kel::natives
