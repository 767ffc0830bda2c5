#include "runtime/datatypes/money.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "runtime/datatype.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/error.hpp"
#include "runtime/dtoa.hpp"
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

// 10^22 units of 0.00001: the first amount money cannot hold.
constexpr __int128 limit_units = __int128(10'000'000'000'000'000) * 100'000;

Cell datatype_cell(uint8_t t) {
    Cell c;
    cell::set_datatype(&c, t);
    return c;
}

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

// The operand of arithmetic or comparison as money.
Cell as_money(const Cell* v, bool strict) {
    Cell m;
    switch (cell::type_of(v)) {
        case type::money: return *v;
        case type::integer: return *from_integer(&m, cell::integer(v));
        case type::float_:
        case type::percent: return *from_float(&m, cell::real(v), strict);
        default: {
            Cell kind = datatype_cell(cell::type_of(v));
            error::fire(error::id::invalid_type, &kind);
        }
    }
}

bool same_currency_q(const Cell* a, const Cell* b, bool strict) {
    uint32_t x = currency_of(a), y = currency_of(b);
    return x == y || (!strict && (x == 0 || y == 0));
}

// add and subtract: exact on the 22 digits; the result takes the right
// operand's currency, or the left's when the right has none.
void add_or_subtract(bool subtract) {
    Cell* a = stack::args;
    Cell x = as_money(a, false), y = as_money(a + 1, false);
    if (!same_currency_q(&x, &y, false)) error::fire(error::id::wrong_denom, a, a + 1);
    uint32_t currency = currency_of(&y) ? currency_of(&y) : currency_of(&x);
    __int128 r = subtract ? units(&x) - units(&y) : units(&x) + units(&y);
    box_units(a, r, currency);
}

void add() { add_or_subtract(false); }
void subtract() { add_or_subtract(true); }
void negate(Cell* m) { m->header ^= sign_mask; }
void absolute() { stack::args->header &= ~sign_mask; }

}  // namespace

__int128 units(const Cell* m) {
    __int128 v = 0;
    for (int i = 1; i <= digits; ++i) v = v * 10 + digit(m, i);
    return m->header & sign_mask ? -v : v;
}

Cell* box_units(Cell* out, __int128 amount, uint32_t currency) {
    bool negative = amount < 0;
    if (negative) amount = -amount;
    if (amount >= limit_units) {
        Cell kind = datatype_cell(type::money);
        error::fire(error::id::type_limit, &kind);
    }
    *out = Cell{uint32_t(type::money) | (negative ? sign_mask : 0), currency & 0xFF, 0, 0};
    for (int i = digits; i >= 1; --i, amount /= 10) set_digit(out, i, uint32_t(amount % 10));
    return out;
}

int32_t sign(const Cell* m) { return zero_q(m) ? 0 : m->header & sign_mask ? -1 : 1; }

bool zero_q(const Cell* m) {
    for (int i = 1; i <= digits; ++i)
        if (digit(m, i)) return false;
    return true;
}

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
        Cell kind = datatype_cell(type::money), value;
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

double to_float(const Cell* m) {
    double v = 0;
    for (int i = 1; i <= digits; ++i) v = v * 10 + digit(m, i);
    v /= 100'000;
    return m->header & sign_mask ? -v : v;
}

int32_t form(const Cell* value, Cell* out, const Cell*, int32_t limit) { return to_text(value, out, limit, false, true); }

int32_t mold(const Cell* value, Cell* out, bool, bool all, bool, const Cell*, int32_t limit, int32_t) {
    return to_text(value, out, limit, all, false);
}

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
    } else if (tb == type::float_) {
        double d = cell::real(b), mag = std::fabs(d);
        if (mag != 0 && mag < 1e-05) return 1;
        if (mag >= 1e17 && std::isfinite(d)) return -1;
        from_float(&y, d, true);
    } else {
        return -2;
    }
    __int128 x = units(a), z = units(&y);
    return x < z ? -1 : x > z ? 1 : 0;
}

void register_type() {
    datatype::Row row(datatype::unsupported);
    row.set(action::form, &form).set(action::mold, &mold).set(action::compare, &compare);
    row.set(action::add, &add).set(action::subtract, &subtract).set(action::negate, &negate);
    row.set(action::absolute, &absolute);
    datatype::register_type({type::money, 0, "money!", row.handlers});
}

}  // namespace kel::money
