// Float text: doubles to decimal digits and back, exactly.
//
// Both directions reduce to comparing a decimal value D x 10^E with a binary
// one M x 2^e. Moving the powers of 5 and 2 to the side where they are
// positive makes both sides integers, so every hard decision is an exact
// big-integer comparison:
// - digits: the value is the fraction r/s (with m+ and m- the distances to
//   the halfway points towards its neighbours, on the same scale); each digit
//   is floor(10r/s). The shortest mode stops as soon as the digits written so
//   far, or the same with the last digit one higher, lie inside the rounding
//   interval of d, and keeps the nearer of the two (the even one on a tie);
//   the counted mode stops after n digits, rounding the remainder to
//   nearest, ties to even.
// - parsing: a candidate double within a few units in the last place is
//   moved one unit at a time until the decimal value lies between its two
//   halfway points.
// Sizes are bounded: every double and every halfway point between two
// doubles has at most 768 significant digits, so the parser keeps only the
// first 800 digits of a mantissa and stands for any nonzero digits it dropped
// with one extra digit 1, which compares the same way with every halfway
// point; exponents are capped far beyond any reachable result. The big
// integers therefore fit a fixed stack array, and no conversion allocates.
#include "runtime/dtoa.hpp"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace kel::dtoa {
namespace {

// ---- big integers ---------------------------------------------------------

// Little-endian 32-bit words. The largest value ever built is below 2^2700
// (an 801-digit mantissa against a halfway point times 5^1124).
struct Big {
    static constexpr int capacity = 100;
    int n = 0;  // words in use; no leading zero words, 0 for zero
    uint32_t w[capacity];
};

[[noreturn]] void too_big() { std::abort(); }  // unreachable by the bound above

void set(Big& a, uint64_t v) {
    a.n = 0;
    while (v) {
        a.w[a.n++] = uint32_t(v);
        v >>= 32;
    }
}

void mul_add(Big& a, uint32_t m, uint32_t add) {
    uint64_t carry = add;
    for (int i = 0; i < a.n; ++i) {
        uint64_t t = uint64_t(a.w[i]) * m + carry;
        a.w[i] = uint32_t(t);
        carry = t >> 32;
    }
    if (carry) {
        if (a.n == Big::capacity) too_big();
        a.w[a.n++] = uint32_t(carry);
    }
}

void mul_pow5(Big& a, int64_t k) {
    static constexpr uint32_t small[14] = {1, 5, 25, 125, 625, 3125, 15625, 78125, 390625,
                                           1953125, 9765625, 48828125, 244140625, 1220703125};
    for (; k >= 13; k -= 13) mul_add(a, small[13], 0);
    if (k > 0) mul_add(a, small[k], 0);
}

void shift_left(Big& a, int64_t bits) {
    if (a.n == 0 || bits == 0) return;
    int words = int(bits / 32), r = int(bits % 32);
    int n = a.n + words + (r ? 1 : 0);
    if (n > Big::capacity) too_big();
    if (r) {
        a.w[n - 1] = 0;
        for (int i = a.n - 1; i >= 0; --i) {
            a.w[i + words + 1] |= a.w[i] >> (32 - r);
            a.w[i + words] = a.w[i] << r;
        }
    } else {
        for (int i = a.n - 1; i >= 0; --i) a.w[i + words] = a.w[i];
    }
    for (int i = 0; i < words; ++i) a.w[i] = 0;
    a.n = n;
    while (a.n && a.w[a.n - 1] == 0) --a.n;
}

void mul_pow10(Big& a, int64_t k) {
    mul_pow5(a, k);
    shift_left(a, k);
}

int compare(const Big& a, const Big& b) {
    if (a.n != b.n) return a.n < b.n ? -1 : 1;
    for (int i = a.n - 1; i >= 0; --i)
        if (a.w[i] != b.w[i]) return a.w[i] < b.w[i] ? -1 : 1;
    return 0;
}

// Compares a + b with c.
int compare_sum(const Big& a, const Big& b, const Big& c) {
    int n = a.n > b.n ? a.n : b.n;
    if (n + 1 < c.n) return -1;
    if (n > c.n) return 1;
    // Walk from the top, keeping (a + b) - c in a small window: the borrow
    // from below is at most 1, so a difference beyond +-1 word decides.
    uint32_t sum[Big::capacity + 1];
    uint64_t carry = 0;
    for (int i = 0; i < n; ++i) {
        uint64_t t = carry + (i < a.n ? a.w[i] : 0) + (i < b.n ? b.w[i] : 0);
        sum[i] = uint32_t(t);
        carry = t >> 32;
    }
    int sn = n;
    if (carry) sum[sn++] = uint32_t(carry);
    if (sn != c.n) return sn < c.n ? -1 : 1;
    for (int i = sn - 1; i >= 0; --i)
        if (sum[i] != c.w[i]) return sum[i] < c.w[i] ? -1 : 1;
    return 0;
}

// a -= b * q, for a >= b * q.
void sub_mul(Big& a, const Big& b, uint32_t q) {
    uint64_t carry = 0, borrow = 0;
    for (int i = 0; i < a.n; ++i) {
        uint64_t p = (i < b.n ? uint64_t(b.w[i]) * q : 0) + carry;
        carry = p >> 32;
        uint64_t t = uint64_t(a.w[i]) - uint32_t(p) - borrow;
        a.w[i] = uint32_t(t);
        borrow = (t >> 32) & 1;
    }
    while (a.n && a.w[a.n - 1] == 0) --a.n;
}

void mul(Big& out, const Big& a, const Big& b) {
    int n = a.n + b.n;
    if (n > Big::capacity) too_big();
    for (int i = 0; i < n; ++i) out.w[i] = 0;
    for (int i = 0; i < a.n; ++i) {
        uint64_t carry = 0;
        for (int j = 0; j < b.n; ++j) {
            uint64_t t = uint64_t(a.w[i]) * b.w[j] + out.w[i + j] + carry;
            out.w[i + j] = uint32_t(t);
            carry = t >> 32;
        }
        out.w[i + b.n] = uint32_t(carry);
    }
    out.n = n;
    while (out.n && out.w[out.n - 1] == 0) --out.n;
}

int bit_length(const Big& a) {
    if (a.n == 0) return 0;
    uint32_t top = a.w[a.n - 1];
    int bits = 0;
    while (top) {
        ++bits;
        top >>= 1;
    }
    return (a.n - 1) * 32 + bits;
}

// The 64 bits of a starting at bit `from` (a >> from, truncated).
uint64_t bits_at(const Big& a, int from) {
    uint64_t v = 0;
    int first = from / 32, r = from % 32;
    for (int i = 0; i < 3 && first + i < a.n; ++i) {
        uint64_t word = a.w[first + i];
        int pos = 32 * i - r;
        if (pos < 0) v |= word >> -pos;
        else if (pos < 64) v |= word << pos;
    }
    return v;
}

// a as top * 2^exp, top holding a's leading 64 bits.
double approximate(const Big& a, int& exp) {
    int from = bit_length(a) - 64;
    if (from < 0) from = 0;
    exp = from;
    return double(bits_at(a, from));
}

// One decimal digit: answers floor(r / s) and leaves r mod s, for r < 10 s.
int quotient_digit(Big& r, const Big& s) {
    if (compare(r, s) < 0) return 0;
    int from = bit_length(s) - 60;
    if (from < 0) from = 0;
    // The estimate never exceeds the quotient; when s has 60 bits or more it
    // falls short by at most one.
    uint32_t q = uint32_t(bits_at(r, from) / (bits_at(s, from) + 1));
    if (q) sub_mul(r, s, q);
    while (compare(r, s) >= 0) {
        sub_mul(r, s, 1);
        ++q;
    }
    return int(q);
}

// ---- doubles as integers --------------------------------------------------

constexpr uint64_t hidden_bit = uint64_t(1) << 52;
constexpr uint64_t fraction_mask = hidden_bit - 1;
constexpr uint64_t infinity_bits = uint64_t(0x7FF) << 52;
constexpr int min_exponent = -1074;  // of the integer mantissa: d = m x 2^e

// A finite positive double (or infinity, as the mantissa 2^52 at exponent 972)
// as m x 2^e.
void split(uint64_t bits, uint64_t& m, int& e) {
    int biased = int(bits >> 52);
    m = bits & fraction_mask;
    if (biased == 0) {
        e = min_exponent;
    } else {
        m |= hidden_bit;
        e = biased - 1075;
    }
}

// A lower bound of floor(log10(m x 2^e)) off by at most one.
int estimate_decimal_exponent(uint64_t m, int e) {
    int bits = 64 - __builtin_clzll(m);
    return int(std::floor((e + bits - 1) * 0.30102999566398114 - 1e-9));
}

const double exact_powers[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                 1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// ---- digit generation -----------------------------------------------------

// The longest exact decimal expansion of a double has 767 significant digits,
// so a larger request gives the same digits as this one.
constexpr int max_digits = 800;

// The one result buffer: a sign slot, the text, its terminator. The longest
// text is a sign, "0.", six zeros and max_digits digits.
char buffer[max_digits + 32];
char* const digits_at = buffer + 1;

// Rounds the digits in out[0..len) up by one unit in the last place.
// Answers true when they were all nines: out then holds "1".
bool round_up(char* out, int& len) {
    for (int i = len - 1; i >= 0; --i) {
        if (out[i] != '9') {
            ++out[i];
            len = i + 1;
            return false;
        }
    }
    out[0] = '1';
    len = 1;
    return true;
}

void strip_zeros(const char* out, int& len) {
    while (len > 1 && out[len - 1] == '0') --len;
}

// An integer below 10^15 is exact in 53 bits: its digits need no big integer.
void integer_digits(uint64_t v, int ndigits, char* out, int& len, int& decpt) {
    char tmp[20];
    int n = 0;
    for (; v; v /= 10) tmp[n++] = char('0' + v % 10);
    for (int i = 0; i < n; ++i) out[i] = tmp[n - 1 - i];
    len = n;
    decpt = n;
    if (ndigits > 0 && ndigits < n) {
        // Exact digits: round to nearest, ties (a 5 and zeros) to even.
        bool above_half = out[ndigits] > '5';
        if (out[ndigits] == '5')
            for (int i = ndigits + 1; i < n; ++i) above_half |= out[i] != '0';
        bool tie = out[ndigits] == '5' && !above_half;
        len = ndigits;
        if (above_half || (tie && (out[ndigits - 1] - '0') % 2))
            if (round_up(out, len)) ++decpt;
    }
    strip_zeros(out, len);
}

// Shortest digits of m x 2^e inside its rounding interval, nearest to it.
void shortest_digits(uint64_t m, int e, bool lower_gap_halved, char* out, int& len, int& decpt) {
    // value = r/s, its halfway points (r + mp)/s above and (r - mm)/s below;
    // mm differs from mp only below the first mantissa of a binade.
    int scale = lower_gap_halved ? 2 : 1;
    Big r, s, mp, mm;
    set(r, m);
    set(s, 1);
    set(mm, 1);
    if (e >= 0) {
        shift_left(r, e + scale);
        shift_left(mm, e);
    } else {
        shift_left(r, scale);
        shift_left(s, -e);
    }
    shift_left(s, scale);
    mp = mm;
    shift_left(mp, scale - 1);
    Big& low = lower_gap_halved ? mm : mp;
    int k = estimate_decimal_exponent(m, e) + 1;
    if (k >= 0) {
        mul_pow10(s, k);
    } else {
        mul_pow10(r, -k);
        mul_pow10(mp, -k);
        if (lower_gap_halved) mul_pow10(mm, -k);
    }
    // An even mantissa wins ties on reading, so its halfway points belong to
    // its interval.
    bool even = (m & 1) == 0;
    auto above_high = [&] { int c = compare_sum(r, mp, s); return even ? c >= 0 : c > 0; };
    while (above_high()) {
        mul_add(s, 10, 0);
        ++k;
    }
    decpt = k;
    len = 0;
    for (;;) {
        mul_add(r, 10, 0);
        mul_add(mp, 10, 0);
        if (lower_gap_halved) mul_add(mm, 10, 0);
        int digit = quotient_digit(r, s);
        int c = compare(r, low);
        bool low_ok = even ? c <= 0 : c < 0;  // the digits so far read back to d
        bool high_ok = above_high();          // so does the next digit up
        if (!low_ok && !high_ok) {
            out[len++] = char('0' + digit);
            continue;
        }
        if (low_ok && high_ok) {
            // Both read back: take the nearer, on a tie the even digit.
            shift_left(r, 1);
            int c = compare(r, s);
            high_ok = c > 0 || (c == 0 && digit % 2);
        }
        out[len++] = char('0' + digit);
        if (high_ok && round_up(out, len)) ++decpt;
        break;
    }
}

// The first n significant digits of m x 2^e, rounded to nearest, ties to even.
void counted_digits(uint64_t m, int e, int n, char* out, int& len, int& decpt) {
    Big r, s;
    set(r, m);
    set(s, 1);
    if (e >= 0) shift_left(r, e);
    else shift_left(s, -e);
    int k = estimate_decimal_exponent(m, e) + 1;
    if (k >= 0) mul_pow10(s, k);
    else mul_pow10(r, -k);
    while (compare(r, s) >= 0) {
        mul_add(s, 10, 0);
        ++k;
    }
    decpt = k;
    len = 0;
    while (len < n && r.n) {
        mul_add(r, 10, 0);
        out[len++] = char('0' + quotient_digit(r, s));
    }
    if (r.n) {
        shift_left(r, 1);
        int c = compare(r, s);
        if ((c > 0 || (c == 0 && (out[len - 1] - '0') % 2)) && round_up(out, len)) ++decpt;
    }
    strip_zeros(out, len);
}

const char* special_text(const char* text, int& len) {
    len = int(std::strlen(text));
    std::memcpy(buffer, text, size_t(len) + 1);
    return buffer;
}

// ---- parsing --------------------------------------------------------------

// Digits kept from a mantissa: above the 768 a halfway point can have.
constexpr int kept_digits = 800;
// Decimal exponents beyond this read as infinity or zero whatever the text.
constexpr int64_t exponent_cap = 1000000000000000;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Compares D x 10^E with x x 2^h, for D > 0. fives holds D x 5^E when E >= 0,
// else 5^-E.
int compare_decimal(const Big& d, const Big& fives, int64_t E, uint64_t x, int64_t h) {
    Big left, right;
    set(right, x);
    if (E >= 0) {
        left = fives;
    } else {
        left = d;
        Big t = right;
        mul(right, t, fives);
    }
    if (E > h) shift_left(left, E - h);
    else shift_left(right, h - E);
    return compare(left, right);
}

// The double nearest to D x 10^E, for D > 0.
double nearest(const Big& d, int64_t E) {
    // fives: D x 5^E or 5^-E, as compare_decimal wants it.
    Big fives;
    double approx;
    int shift;
    if (E >= 0) {
        fives = d;
        mul_pow5(fives, E);
        double top = approximate(fives, shift);
        approx = std::ldexp(top, int(shift + E));
    } else {
        set(fives, 1);
        mul_pow5(fives, -E);
        int ds, fs;
        double top = approximate(d, ds);
        double bottom = approximate(fives, fs);
        approx = std::ldexp(top / bottom, int(ds - fs + E));
    }
    uint64_t b = std::bit_cast<uint64_t>(approx);
    if (b > infinity_bits) b = infinity_bits;
    // Step one unit at a time until the value lies between the halfway points
    // (ties to the even mantissa).
    for (;;) {
        uint64_t m;
        int e;
        split(b, m, e);
        if (b < infinity_bits) {
            int c = compare_decimal(d, fives, E, 2 * m + 1, int64_t(e) - 1);
            if (c > 0 || (c == 0 && (m & 1))) {
                ++b;
                continue;
            }
        }
        if (b > 0) {
            // Below the first mantissa of a binade the spacing halves.
            bool halved = (b & fraction_mask) == 0 && (b >> 52) > 1;
            int c = halved ? compare_decimal(d, fives, E, 4 * m - 1, int64_t(e) - 2)
                           : compare_decimal(d, fives, E, 2 * m - 1, int64_t(e) - 1);
            if (c < 0 || (c == 0 && (m & 1))) {
                --b;
                continue;
            }
        }
        return std::bit_cast<double>(b);
    }
}

// An exact result by one rounding of double arithmetic, when there is one:
// d and the power of ten both exact.
bool exact_fast(uint64_t d, int64_t E, double& out) {
    constexpr uint64_t exact_limit = uint64_t(1) << 53;
    if (d > exact_limit) return false;
    if (E >= 0 && E <= 22) {
        out = double(d) * exact_powers[E];
        return true;
    }
    if (E < 0 && E >= -22) {
        out = double(d) / exact_powers[-E];
        return true;
    }
    if (E > 22 && E <= 22 + 15) {
        // Move the excess into the mantissa while it stays exact.
        for (int64_t i = 22; i < E; ++i) {
            if (d > exact_limit / 10) return false;
            d *= 10;
        }
        out = double(d) * exact_powers[22];
        return true;
    }
    return false;
}

}  // namespace

const char* form_float(double d, int ndigits, int& decpt, int& sign, int& len, bool point) {
    uint64_t bits = std::bit_cast<uint64_t>(d);
    sign = int(bits >> 63);
    bits &= ~(uint64_t(1) << 63);
    if (bits >= infinity_bits) {
        decpt = decpt_special;
        if (bits > infinity_bits) return special_text("1.#NaN", len);
        return special_text(sign ? "-1.#INF" : "1.#INF", len);
    }
    if (bits == 0) {
        decpt = decpt_zero;
        return special_text(point ? (sign ? "-0.0" : "0.0") : (sign ? "-0" : "0"), len);
    }
    uint64_t m;
    int e;
    split(bits, m, e);
    double v = std::bit_cast<double>(bits);
    if (v < 1e15 && v == std::floor(v)) {
        integer_digits(uint64_t(v), ndigits, digits_at, len, decpt);
    } else if (ndigits <= 0) {
        bool halved = (bits & fraction_mask) == 0 && (bits >> 52) > 1;
        shortest_digits(m, e, halved, digits_at, len, decpt);
    } else {
        counted_digits(m, e, ndigits < max_digits ? ndigits : max_digits, digits_at, len, decpt);
    }
    digits_at[len] = 0;
    return digits_at;
}

const char* format(double d, int ndigits, bool point) {
    int decpt, sign, len;
    const char* t = form_float(d, ndigits, decpt, sign, len, point);
    if (decpt > 9997) return t;
    char digits[max_digits];
    std::memcpy(digits, t, size_t(len));
    char* out = buffer;
    if (sign) *out++ = '-';
    bool exponent = decpt > 17 || decpt < -6;
    if (exponent) {
        *out++ = digits[0];
        *out++ = '.';
        std::memcpy(out, digits + 1, size_t(len - 1));
        out += len - 1;
    } else if (decpt > 0) {
        int whole = decpt < len ? decpt : len;
        std::memcpy(out, digits, size_t(whole));
        out += whole;
        for (int i = len; i < decpt; ++i) *out++ = '0';
        *out++ = '.';
        std::memcpy(out, digits + whole, size_t(len - whole));
        out += len - whole;
    } else {
        *out++ = '0';
        *out++ = '.';
        for (int i = 0; i < -decpt; ++i) *out++ = '0';
        std::memcpy(out, digits, size_t(len));
        out += len;
    }
    if (out[-1] == '.') {
        if (point) *out++ = '0';
        else --out;
    }
    if (exponent) {
        *out++ = 'e';
        int x = decpt - 1;
        if (x < 0) {
            *out++ = '-';
            x = -x;
        }
        char tmp[8];
        int n = 0;
        for (; x; x /= 10) tmp[n++] = char('0' + x % 10);
        while (n) *out++ = tmp[--n];
    }
    *out = 0;
    return buffer;
}

double parse_float(const char* start, const char* end, int exponent_adjust, size_t& unparsed) {
    const char* p = start;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    const char* used = start;  // just after the last character of the number
    bool leading_zeros = false;
    while (p < end && *p == '0') {
        ++p;
        leading_zeros = true;
    }
    const char* whole = p;
    while (p < end && is_digit(*p)) ++p;
    int64_t whole_count = p - whole;
    if (leading_zeros || whole_count) used = p;
    const char* fraction = p;
    int64_t fraction_count = 0;
    if (p < end && *p == '.') {
        ++p;
        if (whole_count == 1 && end - p >= 2 && p[0] == '#') {
            // "1.#INF" and "1.#NaN", the texts of the special values.
            char c = p[1] | 0x20;
            if (c == 'i' || c == 'n') {
                const char* rest = c == 'i' ? "nf" : "an";
                p += 2;
                if (end - p >= 2 && (p[0] | 0x20) == rest[0] && (p[1] | 0x20) == rest[1]) p += 2;
                unparsed = size_t(end - p);
                if (c == 'n') return std::nan("");
                return negative ? -HUGE_VAL : HUGE_VAL;
            }
        }
        fraction = p;
        while (p < end && is_digit(*p)) ++p;
        fraction_count = p - fraction;
        if (leading_zeros || whole_count || fraction_count) used = p;
    }
    if (used == start) {
        unparsed = size_t(end - start);
        return 0.0;
    }
    int64_t exponent = 0;
    if (p < end && (*p == 'e' || *p == 'E')) {
        const char* q = p + 1;
        bool exponent_negative = false;
        if (q < end && (*q == '+' || *q == '-')) exponent_negative = *q++ == '-';
        if (q < end && is_digit(*q)) {
            for (; q < end && is_digit(*q); ++q)
                if (exponent < exponent_cap) exponent = exponent * 10 + (*q - '0');
            if (exponent_negative) exponent = -exponent;
            used = q;
        }
    }
    unparsed = size_t(end - used);
    double zero = negative ? -0.0 : 0.0;

    // The significant digits, without the point: the number is
    // 0.(digits) x 10^point_at.
    const char* first = whole;
    int64_t point_at = whole_count;
    int64_t total = whole_count + fraction_count;
    if (whole_count == 0) {
        first = fraction;
        while (first < fraction + fraction_count && *first == '0') ++first;
        point_at = -(first - fraction);
        total = fraction + fraction_count - first;
    }
    if (total == 0) return zero;
    char kept[kept_digits + 1];
    int count = 0;
    bool dropped_nonzero = false;
    for (const char* q = first; q < p; ++q) {
        if (!is_digit(*q)) {
            if (*q == '.') continue;
            break;
        }
        if (count < kept_digits) kept[count++] = *q;
        else if (*q != '0') {
            dropped_nonzero = true;
            break;
        }
    }
    if (dropped_nonzero) kept[count++] = '1';
    while (kept[count - 1] == '0') --count;
    int64_t decimal_exponent = point_at + exponent + exponent_adjust;  // no overflow: all capped
    if (decimal_exponent > 309) return negative ? -HUGE_VAL : HUGE_VAL;
    if (decimal_exponent < -323) return zero;
    int64_t E = decimal_exponent - count;

    double result;
    uint64_t small = 0;
    if (count <= 19) {
        for (int i = 0; i < count; ++i) small = small * 10 + uint64_t(kept[i] - '0');
        if (exact_fast(small, E, result)) return negative ? -result : result;
    }
    Big d;
    set(d, 0);
    for (int i = 0; i < count;) {
        uint32_t chunk = 0, scale = 1;
        for (int j = 0; j < 9 && i < count; ++j, ++i) {
            chunk = chunk * 10 + uint32_t(kept[i] - '0');
            scale *= 10;
        }
        mul_add(d, scale, chunk);
    }
    result = nearest(d, E);
    return negative ? -result : result;
}

}  // namespace kel::dtoa
