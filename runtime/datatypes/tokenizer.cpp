#include "runtime/datatypes/tokenizer.hpp"

#include <cmath>
#include <string>

#include "runtime/datatypes/money.hpp"
#include "runtime/datatypes/tuple.hpp"
#include "runtime/dtoa.hpp"
#include "runtime/lexer/classes.hpp"

namespace kel::tokenizer {
namespace {

uint32_t unit_at(const void* start, uint32_t i, uint32_t unit) {
    const auto* p = static_cast<const uint8_t*>(start) + size_t(i) * unit;
    switch (unit) {
        case 1: return p[0];
        case 2: return uint32_t(p[0]) | uint32_t(p[1]) << 8;
        default: return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    }
}

bool is_digit(uint32_t c) { return c >= '0' && c <= '9'; }
bool is_letter(uint32_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

}  // namespace

int32_t scan_integer(const void* start, uint32_t count, uint32_t unit, int32_t* error) {
    uint32_t i = 0;
    bool negative = false;
    if (count > 0 && (unit_at(start, 0, unit) == '+' || unit_at(start, 0, unit) == '-')) {
        negative = unit_at(start, 0, unit) == '-';
        i = 1;
    }
    // Accumulated in 64 bits: the range is checked on the whole value, so
    // -2147483648 is the one value past 2147483647 that fits.
    int64_t v = 0;
    for (; i < count; ++i) {
        uint32_t c = unit_at(start, i, unit);
        if (c == '\'') continue;
        if (!is_digit(c)) {
            *error = -1;
            return 0;
        }
        v = v * 10 + (c - '0');
        if (v > int64_t(2147483648)) {
            *error = -2;
            return 0;
        }
    }
    if (negative) return int32_t(-v);
    if (v > 2147483647) {
        *error = -2;
        return 0;
    }
    return int32_t(v);
}

double scan_float(const void* start, uint32_t count, uint32_t unit, int32_t* error, int exponent_adjust) {
    if (count > 312) {
        *error = -1;
        return std::nan("");
    }
    char text[313];
    uint32_t n = 0;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t c = unit_at(start, i, unit);
        if (c > 0x7F) {  // a wide unit must not pass as the byte it ends in
            *error = -1;
            return std::nan("");
        }
        text[n++] = c == ',' ? '.' : char(c);
    }
    if (!lexer::float_syntax_ok(text, n)) {
        *error = -1;
        return std::nan("");
    }
    uint32_t kept = 0;
    for (uint32_t i = 0; i < n; ++i)
        if (text[i] != '\'') text[kept++] = text[i];
    size_t unparsed = 0;
    double d = dtoa::parse_float(text, text + kept, exponent_adjust, unparsed);
    if (unparsed != 0 || kept == 0) {
        *error = -1;
        return std::nan("");
    }
    return d;
}

void scan_tuple(const void* start, uint32_t count, uint32_t unit, int32_t* error, Cell* out) {
    uint8_t bytes[tuple::max_length] = {};
    uint32_t n = 0;
    int32_t component = -1;  // -1: no digit yet
    for (uint32_t i = 0; i <= count; ++i) {
        uint32_t c = i < count ? unit_at(start, i, unit) : '.';
        if (is_digit(c)) {
            component = (component < 0 ? 0 : component) * 10 + int32_t(c - '0');
            if (component > 255) {
                *error = -1;
                return;
            }
        } else if (c == '.' && component >= 0 && n < tuple::max_length) {
            bytes[n++] = uint8_t(component);
            component = -1;
        } else {
            *error = -1;
            return;
        }
    }
    tuple::box_bytes(out, bytes, n);
}

bool scan_money(const void* start, uint32_t count, uint32_t unit, Cell* out) {
    if (count == 0) return false;
    // A leading space stands "before the first integer character" for
    // make_from_parts, whatever precedes the amount.
    std::string text(1, ' ');
    text.reserve(count + 1);
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t c = unit_at(start, i, unit);
        if (c > 0x7F) return false;
        text.push_back(char(c));
    }
    size_t i = 1;
    bool negative = false;
    if (text[1] == '-' || text[1] == '+') negative = text[i++] == '-';
    const char* code = nullptr;
    if (i < text.size() && is_letter(uint8_t(text[i]))) {
        if (text.size() - i < 5) return false;
        for (size_t k = i; k < i + 3; ++k)
            if (!is_letter(uint8_t(text[k]))) return false;
        code = text.data() + i;
        i += 3;
        if (text[i] != '$') return false;
    }
    if (i < text.size() && text[i] == '$') ++i;
    size_t amount = i;
    size_t point = std::string::npos;
    int significant = 0;
    for (; i < text.size(); ++i) {
        char c = text[i];
        char before = i > amount ? text[i - 1] : '$';
        bool last = i + 1 == text.size();
        if (c == '\'') {
            if (before == '\'' || before == '$' || before == '.' || last) return false;
        } else if (c == '.') {
            if (point != std::string::npos || before == '$' || before == '\'' || last) return false;
            point = i;
        } else if (is_digit(uint8_t(c))) {
            if (point == std::string::npos && (significant > 0 || c != '0')) ++significant;
        } else {
            return false;
        }
    }
    if (amount == text.size() || significant > money::integer_digits) return false;
    const char* base = text.data();
    return money::make_from_parts(out, negative, code, base + amount - 1,
                                  point == std::string::npos ? nullptr : base + point, base + text.size());
}

void upper_ascii(char* text) {
    for (; *text; ++text)
        if (uint8_t(*text) > 0x60) *text = char(*text - 0x20);
}

}  // namespace kel::tokenizer
