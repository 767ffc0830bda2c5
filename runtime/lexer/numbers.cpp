// Number tokens: integers (decimal and hexadecimal), floats and their
// special values, percents, tuples, pairs, points, times and money.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "runtime/datatypes/money.hpp"
#include "runtime/datatypes/pair.hpp"
#include "runtime/datatypes/time.hpp"
#include "runtime/datatypes/tokenizer.hpp"
#include "runtime/lexer/state.hpp"

namespace kel::lexer {
namespace {

bool is_digit(uint8_t c) { return c >= '0' && c <= '9'; }

Cell* new_cell(State& s) { return grow_buffer(s); }

void emit_real(State& s, uint8_t t, double d) {
    Cell* c = new_cell(s);
    uint32_t newline = c->header & cell::newline_flag;
    cell::set_real(c, t, d);
    c->header |= newline;
}

void emit(State& s, Cell v) {
    Cell* c = new_cell(s);
    v.header |= c->header & cell::newline_flag;
    *c = v;
}

// Digits with single apostrophes between them: the digit count, or -1.
int32_t digits_with_separators(const uint8_t* p, const uint8_t* end) {
    int32_t digits = 0;
    for (const uint8_t* q = p; q < end; ++q) {
        if (is_digit(*q)) {
            ++digits;
        } else if (*q != '\'' || q == p || q + 1 == end || q[-1] == '\'') {
            return -1;
        }
    }
    return digits;
}

// "1.#INF", "-1.#NaN" and the like: the value, or false.
bool special_float(const uint8_t* p, const uint8_t* end, double* out) {
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    if (end - p != 6 || p[0] != '1' || p[1] != '.' || p[2] != '#') return false;
    char a = char(p[3] | 0x20), b = char(p[4] | 0x20), c = char(p[5] | 0x20);
    if (a == 'n' && b == 'a' && c == 'n') *out = std::nan("");
    else if (a == 'i' && b == 'n' && c == 'f') *out = negative ? -HUGE_VAL : HUGE_VAL;
    else return false;
    return true;
}

bool read_float(const uint8_t* p, const uint8_t* end, double* out, int adjust = 0) {
    int32_t error = 0;
    *out = tokenizer::scan_float(p, uint32_t(std::min<std::ptrdiff_t>(end - p, 313)), 1, &error, adjust);
    return error == 0;
}

bool read_integer(const uint8_t* p, const uint8_t* end, int32_t* out) {
    const uint8_t* q = p;
    if (q < end && (*q == '+' || *q == '-')) ++q;
    if (q == end || digits_with_separators(q, end) < 0) return false;
    int32_t error = 0;
    *out = tokenizer::scan_integer(p, uint32_t(end - p), 1, &error);
    return error == 0;
}

}  // namespace

void load_integer(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    if (end - start == 1) {  // one digit
        if (load) emit(s, Cell{type::integer, 0, uint32_t(*start - '0'), 0});
        return;
    }
    const uint8_t* digits = start;
    if (*digits == '+' || *digits == '-') ++digits;
    int32_t count = digits_with_separators(digits, end);
    if (count < 0) throw_error(s, start, type::integer);
    int32_t error = 0;
    int32_t v = count <= 10 ? tokenizer::scan_integer(start, uint32_t(end - start), 1, &error) : 0;
    if (count > 10 || error) {  // too large for 32 bits: a float
        s.token_type = type::float_;
        load_float(s, start, end, flags, load);
        return;
    }
    if (load) emit(s, Cell{type::integer, 0, uint32_t(v), 0});
}

void load_hex_integer(State& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    auto n = end - start - 1;  // without the h
    bool letters_only = true;
    for (const uint8_t* p = start; p < end - 1; ++p) {
        bool hex = is_digit(*p) || (*p >= 'A' && *p <= 'F');
        if (!hex) throw_error(s, start, type::integer);
        letters_only = letters_only && !is_digit(*p);
    }
    if (n == 1 && letters_only) throw_error(s, start, type::word);
    if (n < 2 || n > 8) throw_error(s, start, type::integer);
    uint32_t v = 0;
    for (const uint8_t* p = start; p < end - 1; ++p) v = v << 4 | uint32_t(is_digit(*p) ? *p - '0' : *p - 'A' + 10);
    s.token_type = type::integer;
    if (load) emit(s, Cell{type::integer, 0, v, 0});
}

void load_float(State& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    double d;
    if (!read_float(start, end, &d)) throw_error(s, start, type::float_);
    if (load) emit_real(s, type::float_, d);
}

void load_float_special(State& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    double d;
    if (!special_float(start, end, &d)) throw_error(s, start, type::float_);
    if (load) emit_real(s, type::float_, d);
}

void load_percent(State& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    double d;
    if (!read_float(start, end, &d, -2)) throw_error(s, start, type::float_);
    if (load) emit_real(s, type::percent, d);
}

void load_tuple(State& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    int32_t error = 0;
    Cell t{};
    tokenizer::scan_tuple(start, uint32_t(end - start), 1, &error, &t);
    if (error) throw_error(s, start, type::tuple);
    if (load) emit(s, t);
}

void load_pair(State& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    const uint8_t* x = start;
    while (x < end && *x != 'x' && *x != 'X') ++x;
    int32_t a, b;
    if (x == end || !read_integer(start, x, &a) || !read_integer(x + 1, end, &b)) throw_error(s, start, type::pair);
    Cell p{};
    if (load) emit(s, *pair::box(&p, a, b));
}

bool point_ahead(const uint8_t* p, const uint8_t* end) {
    if (end - p < 4) return false;
    for (; p < end; ++p) {
        switch (*p) {
            case '\t': case ' ': case '#': case '+': case '-': case '.': case 'A': case 'E': case 'F':
            case 'I': case 'N': case 'a': case 'e': case 'f': case 'i': case 'n': continue;
            case ',': return true;
            default:
                if (is_digit(*p)) continue;
                return false;
        }
    }
    return true;
}

void load_point(State& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    double v[3] = {};
    int n = 0;
    const uint8_t* p = start;
    for (;;) {
        while (p < end && (*p == ' ' || *p == '\t')) ++p;
        const uint8_t* from = p;
        while (p < end && *p != ',' && *p != ' ' && *p != '\t') ++p;
        const uint8_t* to = p;
        while (p < end && (*p == ' ' || *p == '\t')) ++p;
        if (n == 3) throw_error(s, start, type::point3d);
        bool ok = from < to && (std::memchr(from, '#', size_t(to - from)) ? special_float(from, to, &v[n])
                                                                           : read_float(from, to, &v[n]));
        if (!ok) throw_error(s, start, n == 2 ? type::point3d : type::point2d);
        ++n;
        if (p == end) break;
        if (*p != ',') throw_error(s, start, n == 3 ? type::point3d : type::point2d);
        ++p;
    }
    if (n < 2) throw_error(s, start, type::point2d);
    s.token_type = n == 2 ? type::point2d : type::point3d;
    s.value_done = true;
    if (!load) return;
    Cell c{};
    if (n == 2) point2d::box(&c, v[0], v[1]);
    else point3d::box(&c, v[0], v[1], v[2]);
    emit(s, c);
}

void load_time(State& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    const uint8_t* p = start;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    const uint8_t* colon = p;
    while (colon < end && *colon != ':') ++colon;
    int32_t first = 0;
    if (colon == end || !read_integer(p, colon, &first)) throw_error(s, start, type::time);
    // The second number, then what follows it.
    const uint8_t* q = colon + 1;
    const uint8_t* second_end = q;
    while (second_end < end && is_digit(*second_end)) ++second_end;
    int32_t second = 0;
    if (second_end == q || !read_integer(q, second_end, &second)) throw_error(s, start, type::time);
    double hours = first, minutes = second, seconds = 0;
    if (second_end < end && *second_end == '.') {
        // minutes:seconds.fraction
        hours = 0;
        minutes = first;
        if (!read_float(q, end, &seconds)) throw_error(s, start, type::time);
    } else if (second_end < end) {
        // hours:minutes:seconds[.fraction]
        if (*second_end != ':' || second_end + 1 == end) throw_error(s, start, type::time);
        const uint8_t* r = second_end + 1;
        if (!is_digit(*r) || std::memchr(r, ':', size_t(end - r)) || !read_float(r, end, &seconds))
            throw_error(s, start, type::time);
    }
    if (minutes < 0 || seconds >= 60) throw_error(s, start, type::time);
    double total = std::fabs(hours) * 3600 + minutes * 60 + seconds;
    if (negative || hours < 0) total = -total;
    if (load) {
        Cell c{};
        emit(s, *time::box(&c, total));
    }
}

void load_money(State& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    const uint8_t* p = start;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    const uint8_t* dollar = p;
    while (dollar < end && *dollar != '$') ++dollar;
    if (dollar == end || (dollar != p && dollar - p != 3)) throw_error(s, start, type::money);
    const char* code = dollar == p ? nullptr : reinterpret_cast<const char*>(p);
    if (code && money::find_currency(code) < 0) throw_error(s, start, type::money);
    // Digits with single apostrophes, then "." or "," and 1 to 5 digits.
    const uint8_t* digits = dollar + 1;
    const uint8_t* point = digits;
    while (point < end && *point != '.' && *point != ',') ++point;
    if (digits == point || !is_digit(*digits) || digits_with_separators(digits, point) < 0)
        throw_error(s, start, type::money);
    int significant = 0;
    for (const uint8_t* q = digits; q < point; ++q)
        if (is_digit(*q) && (significant || *q != '0')) ++significant;
    if (significant > money::integer_digits) throw_error(s, start, type::money);
    if (point < end) {
        auto decimals = end - point - 1;
        if (decimals < 1 || decimals > money::decimal_digits) throw_error(s, start, type::money);
        for (const uint8_t* q = point + 1; q < end; ++q)
            if (!is_digit(*q)) throw_error(s, start, type::money);
    }
    if (!load) return;
    Cell m{};
    const auto* text = reinterpret_cast<const char*>(digits);
    money::make_from_parts(&m, negative, code, text - 1, point < end ? text + (point - digits) : nullptr,
                           text + (end - digits));
    emit(s, m);
}

}  // namespace kel::lexer
