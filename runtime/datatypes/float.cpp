// float!: cell writers, the text of the float family, the arithmetic core
// with its result types, tolerant equality, round, and the row of handlers.
//
// Text is made from exact digits (runtime/dtoa): form lays out the
// correctly rounded digits the way C's "%.Ng" would, then tidies them;
// nothing here depends on the C library's printf.
#include "runtime/datatypes/float.hpp"
#include "runtime/datatypes/money.hpp"

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <utility>

#include "runtime/alloc.hpp"
#include "runtime/context.hpp"
#include "runtime/datatype.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/pair.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/tokenizer.hpp"
#include "runtime/datatypes/tuple.hpp"
#include "runtime/datatypes/vector.hpp"
#include "runtime/lexer/lexer.hpp"
#include "runtime/error.hpp"
#include "runtime/dtoa.hpp"
#include "runtime/random.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"

namespace kel::float_ {

bool pretty_print = true;
bool full_support = false;

namespace {

constexpr double epsilon = 2.220446049250313e-16;
constexpr double below_half = 0.49999999999999994;  // the largest double below 0.5
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

[[noreturn]] void fire_with_type(error::Id id, uint8_t t) {
    Cell kind = cell::datatype_value(t);
    error::fire(id, &kind);
}

bool is_integer_like(uint8_t t) { return t == type::integer || t == type::char_; }
bool is_family(uint8_t t) { return t == type::float_ || t == type::percent || t == type::time; }

// ---- text

char text[48];  // form_float's buffer: the longest text is 27 characters

char* put_decimal(char* p, int x) {
    char tmp[8];
    int n = 0;
    do tmp[n++] = char('0' + x % 10);
    while (x /= 10);
    while (n) *p++ = tmp[--n];
    return p;
}

// C's "%.<precision>g" from correctly rounded digits, except that an
// exponent is written without "+" and without leading zeros (1e20, 1.5e-7).
// Finite d only. Answers the end of the text written at out.
char* g_text(double d, int precision, char* out) {
    int decpt, sign, len;
    const char* t = dtoa::form_float(d, precision, decpt, sign, len, false);
    char* p = out;
    if (decpt == dtoa::decpt_zero) {
        std::memcpy(p, t, size_t(len));
        return p + len;
    }
    char digits[24];
    std::memcpy(digits, t, size_t(len));
    if (sign) *p++ = '-';
    int x = decpt - 1;
    if (x < -4 || x >= precision) {
        *p++ = digits[0];
        if (len > 1) {
            *p++ = '.';
            std::memcpy(p, digits + 1, size_t(len - 1));
            p += len - 1;
        }
        *p++ = 'e';
        if (x < 0) {
            *p++ = '-';
            x = -x;
        }
        return put_decimal(p, x);
    }
    if (decpt > 0) {
        int whole = decpt < len ? decpt : len;
        std::memcpy(p, digits, size_t(whole));
        p += whole;
        for (int i = len; i < decpt; ++i) *p++ = '0';
        if (len > decpt) {
            *p++ = '.';
            std::memcpy(p, digits + decpt, size_t(len - decpt));
            p += len - decpt;
        }
        return p;
    }
    *p++ = '0';
    *p++ = '.';
    for (int i = 0; i < -decpt; ++i) *p++ = '0';
    std::memcpy(p, digits, size_t(len));
    return p + len;
}

// The pretty test: a long text whose last two digits read 01 or 99 is noise
// of a binary fraction (434.99999999999994 for 4.35 * 100). The length is
// taken without the sign, so that x and -x are tidied alike.
bool noisy(const char* t) {
    const char* body = *t == '-' ? t + 1 : t;
    const char* e = std::strchr(body, 'e');
    size_t n = e ? size_t(e - body) : std::strlen(body);
    size_t longest = !e && body[0] == '0' ? 17 : 16;
    if (n <= longest) return false;
    const char* last = body + n - 2;
    return (last[0] == '0' && last[1] == '1') || (last[0] == '9' && last[1] == '9');
}

// ---- arithmetic

// The value of round's scale: an integer! or one of the float family.
double scale_of(const Cell* c) {
    uint8_t t = cell::type_of(c);
    if (t == type::integer) return double(integer::get(c));
    if (is_family(t)) return get(c);
    fire_with_type(error::id::invalid_type, t);
}

const char* op_name(int op) {
    switch (op) {
        case integer::op::or_: return "or~";
        case integer::op::and_: return "and~";
        case integer::op::xor_: return "xor~";
        default: return "?";
    }
}

// ---- conversions

// m x 10^e from exact decimal digits, correctly rounded: an integer!
// mantissa by its digits, a float! by the shortest digits that read back
// to it.
double scaled_by_ten(const Cell* m, const Cell* e, uint8_t target, const Cell* spec) {
    double x = cell::is(e, type::integer) ? double(integer::get(e)) : std::trunc(get(e));
    if (x != x) error::fire_bad_to_arg(target, spec);
    // Any exponent beyond these already gives infinity or zero.
    int exponent = x > 100000 ? 100000 : x < -100000 ? -100000 : int(x);
    char digits[40];
    size_t n;
    if (cell::is(m, type::integer)) {
        std::string_view t = integer::to_text(integer::get(m));
        n = t.size();
        std::memcpy(digits, t.data(), n);
    } else {
        double v = get(m);
        if (special_q(v) || v == 0) return v;
        const char* t = dtoa::format(v, 0, false);
        n = std::strlen(t);
        std::memcpy(digits, t, n);
    }
    size_t unparsed;
    return dtoa::parse_float(digits, digits + n, exponent, unparsed);
}

double from_block(const Cell* spec, uint8_t target) {
    if (series::length_from(spec) != 2) error::fire_bad_to_arg(target, spec);
    int32_t at = series::clamped_index(spec);
    Cell m = *block::ks_abs_at(spec, at), e = *block::ks_abs_at(spec, at + 1);
    for (const Cell* c : {&m, &e})
        if (!cell::is(c, type::integer) && !cell::is(c, type::float_)) error::fire_bad_to_arg(target, spec);
    return scaled_by_ten(&m, &e, target, spec);
}

// The first up to 8 bytes from the index, big-endian, as the double's bits.
double from_binary(const Cell* bin) {
    int32_t n = series::length_from(bin);
    if (n > 8) n = 8;
    SeriesBuffer* b = alloc::buffer_of(bin->payload2);
    const uint8_t* p = b->data() + b->offset + series::clamped_index(bin);
    uint64_t w = 0;
    for (int32_t i = 0; i < n; ++i) w = w << 8 | p[i];
    return std::bit_cast<double>(w);
}

// ---- rounding

// The rounded multiple count t of v under the flags.
double round_count(double v, bool even, bool down, bool half_down, bool floor, bool ceiling, bool half_ceiling) {
    double a = std::fabs(v), f = std::floor(a), c = std::ceil(a);
    auto signed_ = [v](double x) { return v < 0 ? 0 - x : x; };
    if (down) return signed_(f);
    if (floor) return std::floor(v);
    if (ceiling) return std::ceil(v);
    if (a > f + 0.5) return signed_(c);
    if (a < f + 0.5) return signed_(f);
    if (even) return signed_(std::fmod(f, 2.0) != 0 ? c : f);
    if (half_down) return signed_(f);
    if (half_ceiling) return std::ceil(v);
    return signed_(c);
}

}  // namespace

// ---- cell writers

Cell* box(double d) { return box_at(stack::args, d); }

Cell* box_at(Cell* c, double d) {
    cell::set_real(c, type::float_, d);
    return c;
}

Cell* push(double d) { return box_at(stack::push_slot(), d); }

Cell* push_halves(uint32_t low, uint32_t high) {
    Cell* c = stack::push_slot();
    *c = Cell{type::float_, 0, low, high};
    return c;
}

Cell* make_in(Cell* block, uint32_t low, uint32_t high) {
    Cell* c = series::alloc_tail(block);
    *c = Cell{type::float_, 0, low, high};
    return c;
}

// ---- bit tests

double fabs_bits(double d) { return std::bit_cast<double>(std::bit_cast<uint64_t>(d) & ~(uint64_t(1) << 63)); }

bool nan_q(double d) {
    uint64_t b = std::bit_cast<uint64_t>(d);
    return (b & 0x7FF0000000000000u) == 0x7FF0000000000000u && (b & 0x000FFFFFFFFFFFFFu) != 0;
}

bool special_q(double d) { return (std::bit_cast<uint64_t>(d) & 0x7FF0000000000000u) == 0x7FF0000000000000u; }

bool nan32_q(float f) {
    uint32_t b;
    std::memcpy(&b, &f, sizeof b);
    return (b & 0x7F800000u) == 0x7F800000u && (b & 0x007FFFFFu) != 0;
}

int32_t to_int_offset(double d) {
    double x = d + below_half;
    if (integer::float_overflow_q(x)) fire_with_type(error::id::type_limit, type::integer);
    return int32_t(x);
}

// ---- text

const char* form_float(double d, int kind) {
    if (special_q(d)) return nan_q(d) ? "1.#NaN" : d > 0 ? "1.#INF" : "-1.#INF";
    bool percent = kind == kind::vector_percent || kind == kind::percent;
    if (pretty_print && std::fabs(d) < epsilon) return percent ? "0%" : kind == kind::coordinate ? "0" : "0.0";
    char* end;
    if (kind == kind::seconds) {
        const char* t = dtoa::format(d, 6, false);
        size_t n = std::strlen(t);
        std::memcpy(text, t, n);
        end = text + n;
    } else {
        end = g_text(d, kind == kind::percent ? 13 : kind == kind::number ? 16 : 7, text);
    }
    *end = 0;
    if (pretty_print && noisy(text)) {
        bool short_kind = kind == kind::vector32 || kind == kind::seconds || kind == kind::coordinate;
        end = g_text(d, short_kind ? 5 : 14, text);
        *end = 0;
    }
    if (percent) {
        *end++ = '%';
    } else if (kind <= kind::percent && !std::strchr(text, '.')) {
        char* e = std::strchr(text, 'e');
        char* at = e ? e : end;
        std::memmove(at + 2, at, size_t(end - at));
        at[0] = '.';
        at[1] = '0';
        end += 2;
    }
    *end = 0;
    return text;
}

// ---- arithmetic

double do_math(double a, double b, int op) {
    switch (op) {
        case integer::op::add: return a + b;
        case integer::op::subtract: return a - b;
        case integer::op::multiply: return a * b;
        case integer::op::divide: return a / b;
        case integer::op::remainder:
            if (std::isfinite(b)) return std::fmod(a, b);
            if (std::isinf(b)) return std::isfinite(a) ? a : nan;
            return nan;
        default: {
            Cell word{type::word, context::global, symbol::make(op_name(op)), uint32_t(-1)};
            Cell kind = cell::datatype_value(type::float_);
            error::fire(error::id::cannot_use, &word, &kind);
        }
    }
}

void math(int op) {
    Cell* left = stack::args;
    Cell* right = left + 1;
    uint8_t tl = cell::type_of(left), tr = cell::type_of(right);
    switch (tr) {
        case type::vector: vector::scalar_first_op(op); return;
        case type::money: money::math(op); return;
        case type::tuple: tuple::math(op); return;
        case type::pair:
        case type::point2d:
        case type::point3d:
            if (tl == type::time) break;  // refused below
            if (op == integer::op::subtract || op == integer::op::divide) fire_with_type(error::id::not_related, tr);
            std::swap(*left, *right);
            if (tr == type::pair) pair::math(op);
            else point::math(op);
            return;
        default: break;
    }
    bool accepted = is_integer_like(tr) || is_family(tr);
    if (!accepted || (tr == type::char_ && (tl == type::time || tl == type::percent))) fire_with_type(error::id::invalid_type, tr);
    uint8_t result = tl == type::time || tr == type::time ? type::time
                     : tl == type::percent                 ? type::percent
                                                           : type::float_;
    double a = is_integer_like(tl) ? double(integer::get(left)) : get(left);
    double b = is_integer_like(tr) ? double(integer::get(right)) : get(right);
    cell::set_real(left, result, do_math(a, b, op));
}

bool near_equal(double a, double b) {
    if (a != a || b != b) return false;
    if (a == b) return true;
    if (std::fabs(a - b) < epsilon) return true;
    // Bit patterns mapped onto one unsigned order: negatives below positives,
    // both zeros at 2^63; neighbouring doubles differ by 1.
    auto key = [](double d) {
        uint64_t b = std::bit_cast<uint64_t>(d);
        return b >> 63 ? 0 - b : b | uint64_t(1) << 63;
    };
    uint64_t ka = key(a), kb = key(b);
    return (ka > kb ? ka - kb : kb - ka) <= 10;
}

bool near_equal32(float a, float b) {
    if (a != a || b != b) return false;
    if (a == b) return true;
    uint32_t ba, bb;
    std::memcpy(&ba, &a, sizeof ba);
    std::memcpy(&bb, &b, sizeof bb);
    if (std::fabs(a) >= FLT_MAX || std::fabs(b) >= FLT_MAX) {
        if ((ba ^ bb) >> 31) return false;
        return (ba > bb ? ba - bb : bb - ba) <= 0xFFFFF;
    }
    auto key = [](uint32_t p) { return p >> 31 ? -int64_t(p & 0x7FFFFFFF) : int64_t(p); };
    int64_t d = key(ba) - key(bb);
    return (d < 0 ? -d : d) <= 10;
}

// ---- the float! row

namespace {

// A number written as text: the float scanner reads it for float!; for
// percent! the lexer loads it and its first value must be a number.
double from_text(const Cell* spec, uint8_t t) {
    if (t == type::float_) {
        string::Units text = string::units_of(spec);
        int32_t error = 0;
        double d = text.count ? tokenizer::scan_float(text.start, text.count, text.unit, &error) : 0.0;
        if (error || text.count == 0) error::fire_bad_to_arg(t, spec);
        return d;
    }
    Cell first = lexer::load_first(spec);
    switch (cell::type_of(&first)) {
        case type::integer: return double(integer::get(&first));
        case type::float_:
        case type::percent: return get(&first);
        default: error::fire_bad_to_arg(t, spec);
    }
}

}  // namespace

Cell* make(Cell* proto, Cell* spec, uint8_t t) {
    double d;
    switch (cell::type_of(spec)) {
        case type::integer:
        case type::char_: d = double(integer::get(spec)); break;
        case type::float_:
        case type::percent:
        case type::time: d = get(spec); break;
        case type::binary: d = from_binary(spec); break;
        case type::block:
        case type::paren:
        case type::hash: d = from_block(spec, t); break;
        case type::string:
        case type::file:
        case type::url:
        case type::tag:
        case type::email:
        case type::ref:
            d = from_text(spec, t);
            break;
        case type::money: d = money::to_float(spec); break;
        default: error::fire_bad_to_arg(t, spec);
    }
    cell::set_real(proto, t, d);
    return proto;
}

void random(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        kel::random::init_genrand(value->payload2 ^ value->payload3);
        cell::set_unset(value);
        return;
    }
    double f;
    if (secure) {
        uint32_t w1 = kel::random::secure_word(), w2 = kel::random::secure_word();
        f = (w2 + w1 / 2147483647.0) / 2147483648.0;
    } else {
        f = kel::random::next_word() / 2147483647.0;
    }
    cell::set_real(value, cell::type_of(value), get(value) * f);
}

int32_t form(const Cell* value, Cell* out, const Cell*, int32_t limit) {
    const char* t = form_float(get(value), kind::number);
    size_t n = std::strlen(t);
    string::append_ascii(out, t, n);
    return limit - int32_t(n);
}

int32_t mold(const Cell* value, Cell* out, bool, bool, bool, const Cell*, int32_t limit, int32_t) {
    const char* t = dtoa::format(get(value), 0, true);
    size_t n = std::strlen(t);
    string::append_ascii(out, t, n);
    return limit - int32_t(n);
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
    uint8_t ta = cell::type_of(a), tb = cell::type_of(b);
    if ((op == 2 || op == 9 || op == 12) && ta != tb) return 1;
    double x = get(a), y;
    switch (tb) {
        case type::integer: y = double(integer::get(b)); break;
        case type::float_:
        case type::percent:
        case type::time: y = get(b); break;
        case type::money: return ta == type::time ? -2 : money::compare_number(a, b, op);
        default: return -2;
    }
    int32_t order = x < y ? -1 : x > y ? 1 : 0;
    switch (op) {
        case 2: return x == y ? 0 : order ? order : 1;
        case 9: return std::bit_cast<uint64_t>(x) == std::bit_cast<uint64_t>(y) ? 0 : order ? order : 1;
        case 3: case 4: case 5: case 6: case 7: case 8:
            if (x != x || y != y) return op == 3 || op == 4 ? 1 : op == 5 || op == 6 ? -1 : 0;
            return order;
        default: return near_equal(x, y) ? 0 : order ? order : 1;  // 0, 1, 10-12
    }
}

void absolute() {
    Cell* v = stack::args;
    cell::set_real(v, cell::type_of(v), fabs_bits(get(v)));
}

void add() { math(integer::op::add); }
void divide() { math(integer::op::divide); }
void multiply() { math(integer::op::multiply); }
void remainder() { math(integer::op::remainder); }
void subtract() { math(integer::op::subtract); }

void negate(Cell* value) { cell::set_real(value, cell::type_of(value), 0.0 - get(value)); }

void power() {
    Cell* base = stack::args;
    Cell* exponent = base + 1;
    uint8_t te = cell::type_of(exponent);
    if (te != type::integer && te != type::float_) {
        Cell where = stack::get_call_word(), kind = cell::datatype_value(te);
        Cell argument{type::word, context::global, symbol::make("exponent"), uint32_t(-1)};
        error::fire(error::id::expect_arg, &where, &kind, &argument);
    }
    double e = te == type::integer ? double(integer::get(exponent)) : get(exponent);
    cell::set_real(base, cell::type_of(base), std::pow(get(base), e));
}

// even? and odd? look at the value truncated to a 32-bit integer; a value
// with no such integer is refused rather than given a made-up parity.
bool even_q(const Cell* value) {
    double d = get(value);
    if (integer::float_overflow_q(d)) fire_with_type(error::id::type_limit, type::integer);
    return (int32_t(d) & 1) == 0;
}

bool odd_q(const Cell* value) { return !even_q(value); }

// The step s is 1.0 (0.01 for a percent), or |scale| with /to. A step of at
// least 1.0 divides and multiplies by s; a smaller one multiplies and
// divides by 1 / s, which is exact for steps like 0.01 where s itself is
// not. A step so small that 1 / s is infinite takes the first way too.
void round(Cell* value, const Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
           bool half_ceiling) {
    if (scale && cell::is(scale, type::money)) fire_with_type(error::id::not_related, type::money);
    uint8_t t = cell::type_of(value);
    double n = get(value);
    double s = t == type::percent ? 0.01 : 1.0;
    if (scale) {
        s = std::fabs(scale_of(scale));
        if (t == type::percent) s /= 100;
    }
    // A zero step, or one below the value's last bit, changes nothing.
    if (s == 0 || s < std::fabs(n) * 0x1p-53) return;
    double k = 1 / s;
    bool dividing = s >= 1.0 || !std::isfinite(k);
    double v = dividing ? n / s : n * k;
    double count = round_count(v, even, down, half_down, floor, ceiling, half_ceiling);
    double r;
    if (dividing) {
        r = count * s;
        if (std::isfinite(n) && (std::isinf(r) || std::fabs(r) == DBL_MAX)) error::fire(error::id::overflow);
    } else {
        r = count / k;
    }
    if (!scale) {
        cell::set_real(value, t, r);
    } else if (cell::is(scale, type::integer)) {
        if (integer::float_overflow_q(r)) error::fire(error::id::overflow);
        cell::set_integer(value, int32_t(r));
    } else {
        cell::set_real(value, cell::type_of(scale), r);
    }
}

void register_type() {
    datatype::Row row(datatype::unsupported);
    row.set(action::make, &make).set(action::random, &random).set(action::to, &make);
    row.set(action::form, &form).set(action::mold, &mold).set(action::compare, &compare);
    row.set(action::absolute, &absolute).set(action::add, &add).set(action::divide, &divide);
    row.set(action::multiply, &multiply).set(action::negate, &negate).set(action::power, &power);
    row.set(action::remainder, &remainder).set(action::round, &round).set(action::subtract, &subtract);
    row.set(action::even_q, &even_q).set(action::odd_q, &odd_q);
    datatype::register_type({type::float_, 0, "float!", row.handlers});
}

}  // namespace kel::float_
