#include "runtime/datatypes/money.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <string>

#include "runtime/actions.hpp"
#include "runtime/context.hpp"
#include "runtime/datatype.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/tokenizer.hpp"
#include "runtime/error.hpp"
#include "runtime/dtoa.hpp"
#include "runtime/random.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"
#include "runtime/system_object.hpp"

namespace kel::money {
namespace {

char upper(char c) { return c >= 'a' && c <= 'z' ? char(c - 32) : c; }

uint8_t* digit_bytes(Cell* m) { return reinterpret_cast<uint8_t*>(m) + 5; }

void set_digit(Cell* m, int i, uint32_t d) {
    uint8_t& b = digit_bytes(m)[(i - 1) / 2];
    b = i % 2 ? uint8_t((b & 0x0F) | d << 4) : uint8_t((b & 0xF0) | d);
}

}  // namespace

// The currency list is system/locale/currencies/list: a cell's index is
// the 1-based position of its code there, from the block's position. Only
// the first 255 entries fit the cell's one byte; entries that are not
// words name no currency.
int32_t find_currency(const char* code) {
    Cell list = system_object::currency_list();
    if (!cell::is(&list, type::block)) return -1;
    int32_t from = series::clamped_index(&list);
    int32_t n = std::min(series::total_length(&list) - from, max_currencies);
    for (int32_t i = 0; i < n; ++i) {
        const Cell* entry = block::ks_abs_at(&list, from + i);
        if (!cell::is(entry, type::word)) continue;
        std::string_view name = symbol::name(entry->payload2);
        if (name.size() == 3 && upper(code[0]) == upper(name[0]) && upper(code[1]) == upper(name[1]) &&
            upper(code[2]) == upper(name[2]))
            return i + 1;
    }
    return -1;
}

std::string currency_code(uint32_t index) {
    Cell list = system_object::currency_list();
    if (index < 1 || index > uint32_t(max_currencies) || !cell::is(&list, type::block)) return {};
    int32_t at = series::clamped_index(&list) + int32_t(index) - 1;
    if (at >= series::total_length(&list)) return {};
    const Cell* entry = block::ks_abs_at(&list, at);
    if (!cell::is(entry, type::word)) return {};
    return std::string(symbol::name(entry->payload2));
}

uint32_t digit(const Cell* m, int i) {
    uint8_t b = reinterpret_cast<const uint8_t*>(m)[5 + (i - 1) / 2];
    return i % 2 ? b >> 4 : b & 0x0F;
}

bool make_from_parts(Cell* out, bool negative, const char* code, const char* start, const char* point,
                     const char* end) {
    *out = Cell{uint32_t(type::money) | (negative ? sign_mask : 0), 0, 0, 0};
    if (code) {
        int32_t index = find_currency(code);
        if (index < 0) return false;
        out->payload1 = uint32_t(index);
    }
    int i = integer_digits;
    for (const char* p = (point ? point : end) - 1; p > start && i >= 1; --p)
        if (*p != '\'') set_digit(out, i--, uint32_t(*p - '0'));
    if (point) {
        i = integer_digits + 1;
        for (const char* p = point + 1; p < end && i <= digits; ++p)
            if (*p != '\'') set_digit(out, i++, uint32_t(*p - '0'));
    }
    return true;
}

namespace {

// The byte of two decimal digits, for 0 .. 99.
constexpr auto bcd_pairs = [] {
    std::array<uint8_t, 100> t{};
    for (int i = 0; i < 100; ++i) t[i] = uint8_t((i / 10) << 4 | i % 10);
    return t;
}();

// The value of a byte of two decimal digits.
constexpr auto bcd_values = [] {
    std::array<uint8_t, 256> t{};
    for (int i = 0; i < 256; ++i) t[i] = uint8_t((i >> 4) * 10 + (i & 15));
    return t;
}();

// 10^22 units of 0.00001: the first amount money cannot hold.
constexpr __int128 limit_units = __int128(100'000'000'000'000'000) * 100'000;

// Decimals written by form and mold: system/options/money-digits, 2 when
// it holds no integer.
int option_digits() {
    Cell digits = system_object::money_digits();
    return cell::is(&digits, type::integer) ? cell::integer(&digits) : 2;
}

int32_t to_text(const Cell* m, Cell* out, int32_t limit, bool all, bool group) {
    std::string t;
    if (m->header & sign_mask) t += '-';
    t += currency_code(currency_of(m));
    t += '$';
    int first = 1;
    while (first < integer_digits && digit(m, first) == 0) ++first;
    for (int i = first; i <= integer_digits; ++i) {
        t += char('0' + digit(m, i));
        if (group && i < integer_digits && (integer_digits - i) % 3 == 0) t += '\'';
    }
    int option = option_digits();
    int decimals = all || option >= 6 ? decimal_digits : option;
    if (decimals > 0) {
        t += '.';
        for (int i = 1; i <= decimals; ++i) t += char('0' + digit(m, integer_digits + i));
    }
    string::append_ascii(out, t.data(), t.size());
    return limit - int32_t(t.size());
}

// An operand of arithmetic as money: integers exactly, floats and percents
// by their shortest text cut after the fifth decimal.
Cell as_money(const Cell* v) {
    Cell m;
    switch (cell::type_of(v)) {
        case type::money: return *v;
        case type::integer: return *from_integer(&m, cell::integer(v));
        case type::float_:
        case type::percent: return *from_float(&m, cell::real(v), false);
        default: {
            error::fire_invalid_type(cell::type_of(v));
        }
    }
}

bool same_currency_q(const Cell* a, const Cell* b, bool strict) {
    uint32_t x = currency_of(a), y = currency_of(b);
    return x == y || (!strict && (x == 0 || y == 0));
}

void absolute() { stack::args->header &= ~sign_mask; }
void negate(Cell* m) { m->header ^= sign_mask; }

}  // namespace

// The digits two to a byte: bytes 1-5 hold digits 1-10, bytes 6-11 digits
// 11-22, each group within 64 bits.
__int128 units(const Cell* m) {
    const uint8_t* b = reinterpret_cast<const uint8_t*>(m) + 5;
    uint64_t high = 0, low = 0;
    for (int i = 0; i < 5; ++i) high = high * 100 + bcd_values[b[i]];
    for (int i = 5; i < 11; ++i) low = low * 100 + bcd_values[b[i]];
    __int128 v = __int128(high) * 1'000'000'000'000 + low;
    return m->header & sign_mask ? -v : v;
}

Cell* box_units(Cell* out, __int128 amount, uint32_t currency) {
    bool negative = amount < 0;
    if (negative) amount = -amount;
    if (amount >= limit_units) {
        Cell kind = cell::datatype_value(type::money);
        error::fire(error::id::type_limit, &kind);
    }
    *out = Cell{uint32_t(type::money) | (negative ? sign_mask : 0), currency & 0xFF, 0, 0};
    // Most amounts fit 64 bits, where the split needs no 128-bit division.
    uint64_t high, low;
    if (uint64_t(amount >> 64) == 0) {
        uint64_t a = uint64_t(amount);
        high = a / 1'000'000'000'000, low = a % 1'000'000'000'000;
    } else {
        high = uint64_t(amount / 1'000'000'000'000), low = uint64_t(amount % 1'000'000'000'000);
    }
    uint8_t* b = digit_bytes(out);
    for (int i = 10; i >= 5; --i, low /= 100) b[i] = bcd_pairs[low % 100];
    for (int i = 4; i >= 0; --i, high /= 100) b[i] = bcd_pairs[high % 100];
    return out;
}

int32_t sign(const Cell* m) { return zero_q(m) ? 0 : m->header & sign_mask ? -1 : 1; }

bool zero_q(const Cell* m) { return (m->payload1 & ~0xFFu) == 0 && m->payload2 == 0 && m->payload3 == 0; }

Cell* from_integer(Cell* out, int32_t n) { return box_units(out, __int128(n) * 100'000, 0); }

Cell* from_float(Cell* out, double d, bool strict) {
    double mag = std::fabs(d);
    int decpt, neg, len;
    const char* text = "";
    bool ok = std::isfinite(d) && mag < 1e17 && (mag == 0 || mag >= 1e-05);
    if (ok && mag != 0) {
        text = dtoa::form_float(d, 0, decpt, neg, len, true);
        if (strict && len - decpt > decimal_digits) ok = false;
    }
    if (!ok) {
        Cell kind = cell::datatype_value(type::money), value;
        cell::set_real(&value, type::float_, d);
        error::fire_bad_make_arg(&kind, &value);
    }
    __int128 v = 0;
    if (mag != 0) {
        // |d| = 0.text x 10^decpt: the digits up to the fifth decimal.
        for (int i = 0; i < decpt + decimal_digits; ++i) v = v * 10 + (i < len ? text[i] - '0' : 0);
    }
    return box_units(out, d < 0 ? -v : v, 0);
}

// The nearest double: one division of two exact doubles while the units
// fit 53 bits, else the decimal text read back.
double to_float(const Cell* m) {
    __int128 u = units(m);
    __int128 mag = u < 0 ? -u : u;
    if (mag <= (__int128(1) << 53)) return double(u) / 100'000;
    char text[32];
    char* p = text;
    if (u < 0) *p++ = '-';
    for (int i = 1; i <= digits; ++i) {
        if (i == integer_digits + 1) *p++ = '.';
        *p++ = char('0' + digit(m, i));
    }
    size_t unparsed = 0;
    return dtoa::parse_float(text, p, 0, unparsed);
}

int32_t form(const Cell* value, Cell* out, const Cell*, int32_t limit) { return to_text(value, out, limit, false, true); }

int32_t mold(const Cell* value, Cell* out, bool, bool all, bool, const Cell*, int32_t limit, int32_t) {
    return to_text(value, out, limit, all, false);
}

int32_t to_integer(const Cell* m) {
    __int128 whole = units(m) / 100'000;
    if (whole < INT32_MIN || whole > INT32_MAX) {
        Cell kind = cell::datatype_value(type::integer);
        error::fire(error::id::type_limit, &kind);
    }
    return int32_t(whole);
}

namespace {

// Money against a double it cannot hold (nonzero below 0.00001, or 10^17 or
// more): ordered by value, so never equal. The answer is for money on the
// left.
int32_t against_unheld(const Cell* m, double d) {
    if (std::fabs(d) >= 1e17) return d > 0 ? -1 : 1;
    int32_t s = sign(m);
    return s ? s : d > 0 ? -1 : 1;
}

bool held_q(double d) {
    double mag = std::fabs(d);
    return d != d || mag == 0 || (mag >= 1e-05 && mag < 1e17);
}

}  // namespace

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
    uint8_t tb = cell::type_of(b);
    if ((op == 2 || op == 9 || op == 12) && tb != type::money) return 1;
    Cell y;
    if (tb == type::money) {
        y = *b;
        if (op == 7 || op == 8) {
            // sorting: by currency code first, no currency before any
            uint32_t ca = currency_of(a), cb = currency_of(&y);
            if (ca != cb) {
                if (!ca || !cb) return ca ? 1 : -1;
                int c = currency_code(ca).compare(currency_code(cb));
                return c < 0 ? -1 : c > 0 ? 1 : 0;
            }
        } else if (op >= 3 && op <= 6) {
            if (!same_currency_q(a, &y, false)) error::fire(error::id::wrong_denom, a, b);
        } else {
            bool strict = op == 2 || op == 9 || (op == 12 && currency_of(&y));
            if (!same_currency_q(a, &y, strict)) return 1;
        }
    } else if (tb == type::integer) {
        from_integer(&y, cell::integer(b));
    } else if (tb == type::float_ || tb == type::percent) {
        double d = cell::real(b);
        if (!held_q(d)) return against_unheld(a, d);
        from_float(&y, d, true);
    } else {
        return -2;
    }
    __int128 x = units(a), z = units(&y);
    return x < z ? -1 : x > z ? 1 : 0;
}

int32_t compare_number(const Cell* number, const Cell* m, int32_t op) {
    Cell x;
    switch (cell::type_of(number)) {
        case type::integer: from_integer(&x, cell::integer(number)); break;
        case type::float_:
        case type::percent: {
            double d = cell::real(number);
            if (!held_q(d)) return -against_unheld(m, d);
            from_float(&x, d, true);
            break;
        }
        default: return -2;
    }
    set_currency(&x, currency_of(m));
    return compare(&x, m, op);
}

// The operand rules: money times money, and a non-money number divided by
// money, are refused; integers and floats become money; the currencies
// must agree unless one side has none, and the result takes the right
// one's, else the left one's. Money divided by money is a float! made from
// the money quotient.
void math(int op) {
    Cell* a = stack::args;
    Cell* b = a + 1;
    uint8_t ta = cell::type_of(a), tb = cell::type_of(b);
    if (op == integer::op::multiply && ta == type::money && tb == type::money) {
        error::fire_invalid_type(type::money);
    }
    if ((op == integer::op::divide || op == integer::op::remainder) && tb == type::money && ta != type::money) {
        error::fire_invalid_type(ta);
    }
    Cell x = as_money(a), y = as_money(b);
    if (!same_currency_q(&x, &y, false)) error::fire(error::id::wrong_denom, a, b);
    uint32_t currency = currency_of(&y) ? currency_of(&y) : currency_of(&x);
    Cell* r = core_dispatch(&x, &y, op);
    if (op == integer::op::divide && tb == type::money) {
        cell::set_real(a, type::float_, to_float(r));
        return;
    }
    *a = *r;
    set_currency(a, currency);
}

namespace {

void add() { math(integer::op::add); }
void subtract() { math(integer::op::subtract); }
void multiply() { math(integer::op::multiply); }
void divide() { math(integer::op::divide); }
void remainder() { math(integer::op::remainder); }

[[noreturn]] void fire_bad_make(const Cell* spec) {
    Cell kind = cell::datatype_value(type::money);
    error::fire_bad_make_arg(&kind, spec);
}

// The currency a word names, or -1.
int32_t currency_of_word(const Cell* word) {
    std::string_view name = symbol::name(word->payload2);
    return name.size() == 3 ? find_currency(name.data()) : -1;
}

// [currency amount fraction]: an optional currency word, an integer or
// float amount and, after an integer, a fraction in hundred-thousandths
// (0 .. 99999) with the amount's sign.
Cell* from_block(Cell* out, const Cell* spec) {
    int32_t n = series::length_from(spec);
    if (n < 1 || n > 3) fire_bad_make(spec);
    // Nothing below allocates, so the values can be read in place.
    const Cell* v = series::cells_of(spec->payload2) + series::clamped_index(spec);
    int32_t i = 0, currency = 0;
    if (cell::is(v, type::word)) {
        currency = currency_of_word(v);
        if (currency < 0) fire_bad_make(spec);
        ++i;
    }
    if (i == n) fire_bad_make(spec);
    Cell amount;
    bool whole = cell::is(v + i, type::integer);
    if (whole) from_integer(&amount, cell::integer(v + i));
    else if (cell::is(v + i, type::float_)) from_float(&amount, cell::real(v + i), true);
    else fire_bad_make(spec);
    Cell fraction;  // the sum may be this cell, when the amount is zero
    Cell* r = &amount;
    if (++i < n) {
        const Cell* f = v + i++;
        int32_t max_fraction = 1;
        for (int k = 0; k < decimal_digits; ++k) max_fraction *= 10;
        if (!whole || !cell::is(f, type::integer) || cell::integer(f) < 0 || cell::integer(f) >= max_fraction)
            fire_bad_make(spec);
        int32_t u = cell::integer(f);
        box_units(&fraction, amount.header & sign_mask ? -__int128(u) : __int128(u), 0);
        r = core_add(&amount, &fraction);
    }
    if (i != n) fire_bad_make(spec);
    *out = *r;
    set_currency(out, uint32_t(currency));
    return out;
}

Cell* to(Cell* proto, Cell* spec, uint8_t) {
    Cell m;
    switch (cell::type_of(spec)) {
        case type::money: m = *spec; break;
        case type::integer: from_integer(&m, cell::integer(spec)); break;
        case type::float_: from_float(&m, cell::real(spec), true); break;
        case type::string:
        case type::file:
        case type::url:
        case type::tag:
        case type::email:
        case type::ref: {
            string::Units text = string::units_of(spec);
            if (!tokenizer::scan_money(text.start, text.count, text.unit, &m)) error::fire_bad_to_arg(type::money, spec);
            break;
        }
        default: error::fire_bad_to_arg(type::money, spec);
    }
    *proto = m;
    return proto;
}

Cell* make(Cell* proto, Cell* spec, uint8_t t) {
    Cell m;
    switch (cell::type_of(spec)) {
        case type::word: {
            int32_t currency = currency_of_word(spec);
            if (currency < 0) fire_bad_make(spec);
            from_integer(&m, 0);
            set_currency(&m, uint32_t(currency));
            break;
        }
        case type::block: from_block(&m, spec); break;
        default: return to(proto, spec, t);
    }
    *proto = m;
    return proto;
}

// Rounding to a multiple s of the step on magnitudes: v = |n|, r = v mod s;
// toward zero is v - r, away from zero v + (s - r). At a tie, /even looks
// at the parity of the multiple (v - r) / s, as integer rounding does, not
// at the units digit, which only tells it for a step of one unit.
void round(Cell* value, const Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
           bool half_ceiling) {
    if (zero_q(value)) return;
    __int128 s = 100'000;
    if (scale) {
        Cell step;
        switch (cell::type_of(scale)) {
            case type::money: step = *scale; break;
            case type::integer: from_integer(&step, cell::integer(scale)); break;
            case type::float_: from_float(&step, cell::real(scale), false); break;
            default: {
                Cell kind = cell::datatype_value(cell::type_of(scale));
                error::fire(error::id::not_related, &kind);
            }
        }
        s = units(&step);
        if (s < 0) s = -s;
        if (s == 0) return;
    }
    bool negative = value->header & sign_mask;
    __int128 v = units(value);
    if (v < 0) v = -v;
    __int128 r = v % s, d = s - r;
    if (r == 0) return;
    bool away;
    if (down) away = false;
    else if (floor) away = negative;
    else if (ceiling) away = !negative;
    else if (r != d) away = r > d;
    else if (even) away = (v - r) / s % 2 != 0;
    else if (half_down) away = false;
    else if (half_ceiling) away = !negative;
    else away = true;
    __int128 result = away ? v + d : v - r;
    box_units(value, negative ? -result : result, currency_of(value));
}

// From the most significant digit of the value down: while the drawn
// digits equal the value's, each digit is drawn below or at the value's
// digit, the value's own digit kept only when two further draws agree (so
// the value itself is rare); after the first lower digit, any digit.
void random(Cell* value, bool seed, bool, bool) {
    if (seed) {
        kel::random::init_genrand(value->payload1 ^ value->payload2 ^ value->payload3 ^
                                  (value->header & sign_mask ? 1u : 0u));
        cell::set_unset(value);
        return;
    }
    Cell r = *value;
    std::memset(digit_bytes(&r), 0, 11);
    int first = 1;
    while (first <= digits && digit(value, first) == 0) ++first;
    bool bounded = true;
    for (int i = first; i <= digits; ++i) {
        uint32_t limit = digit(value, i), d;
        if (!bounded) {
            d = kel::random::next_word() % 10;
        } else {
            for (;;) {
                d = kel::random::next_word() % (limit + 1);
                if (d < limit) {
                    bounded = false;
                    break;
                }
                uint32_t w1 = kel::random::next_word() % 1000, w2 = kel::random::next_word() % 1000;
                if (w1 == w2) break;
            }
        }
        set_digit(&r, i, d);
    }
    *value = r;
}

bool even_q(const Cell* value) { return digit(value, integer_digits) % 2 == 0; }
bool odd_q(const Cell* value) { return !even_q(value); }

// The fields code (1) and amount (2). The answer is held here until the
// caller copies it.
Cell field_result;

Cell* field(const Cell* m, int which) {
    if (which == 1) {
        std::string code = currency_code(currency_of(m));
        if (code.empty()) cell::set_none(&field_result);
        else field_result = Cell{type::word, context::global, symbol::make(code.c_str()), uint32_t(-1)};
    } else {
        field_result = *m;
        field_result.payload1 &= ~0xFFu;
    }
    return &field_result;
}

constexpr std::string_view field_names[] = {"code", "amount"};

Cell* eval_path(Cell* value, const Cell* element, const Cell* store, const Cell* path, const Cell*, const Cell*,
                int32_t, bool, bool, bool, bool) {
    if (store) error::fire(error::id::bad_path_set, element, path ? path : value);
    int which = 0;
    if (auto w = symbol::pick_word(element, field_names)) which = int(*w) + 1;
    else if (cell::is(element, type::integer) && (cell::integer(element) == 1 || cell::integer(element) == 2))
        which = cell::integer(element);
    if (!which) error::fire(error::id::invalid_path, path ? path : value, element);
    return field(value, which);
}

Cell* pick(Cell* value, int32_t index, const Cell* index_cell) {
    if (auto w = symbol::pick_word(index_cell, field_names)) return field(value, int(*w) + 1);
    if (!cell::is(index_cell, type::integer)) error::fire(error::id::invalid_path, value, index_cell);
    if (index != 1 && index != 2) error::fire(error::id::out_of_range, index_cell);
    return field(value, index);
}

}  // namespace

void register_type() {
    datatype::Row row(datatype::unsupported);
    row.set(action::make, &make).set(action::random, &random).set(action::to, &to);
    row.set(action::form, &form).set(action::mold, &mold).set(action::eval_path, &eval_path);
    row.set(action::compare, &compare).set(action::absolute, &absolute).set(action::add, &add);
    row.set(action::divide, &divide).set(action::multiply, &multiply).set(action::negate, &negate);
    row.set(action::remainder, &remainder).set(action::round, &round).set(action::subtract, &subtract);
    row.set(action::even_q, &even_q).set(action::odd_q, &odd_q).set(action::pick, &pick);
    datatype::register_type({type::money, 0, "money!", row.handlers});
}

}  // namespace kel::money
