// Exact conversion between doubles and decimal text.
//
// Formatting first makes digits: the shortest digit string that reads back to
// the same double, or a requested number of significant digits correctly
// rounded (ties to even); then it lays them out in plain or exponent notation.
// Parsing reads a bounded piece of text into the correctly rounded double and
// tells how much of the text it did not use. Both are exact for every double:
// a fast path runs only where double arithmetic is provably exact, and
// everything else is decided by big-integer arithmetic.
//
// Texts returned by form_float and format live in one process-wide buffer and
// are valid until the next call: interpreter thread only.
#pragma once
#include <cstddef>

namespace kel::dtoa {

// decpt values of the special results.
constexpr int decpt_special = 9999;  // infinity or NaN
constexpr int decpt_zero = 9998;

// Digits of d, without point, sign or exponent, such that
// |d| = 0.d1d2d3... x 10^decpt. ndigits <= 0 asks for the shortest digits that
// read back to d (of those, the nearest to d); ndigits > 0 for at most that
// many significant digits, correctly rounded (ties to even), trailing zeros
// removed (any count is fine: past the
// length of d's exact decimal expansion the result is that expansion).
// sign is 1 for a negative d (NaN included), len the number of digits.
// Infinity and NaN answer "1.#INF", "-1.#INF" or "1.#NaN" with decpt 9999;
// zero answers "0.0" or "-0.0" ("0", "-0" when point is not set) with decpt
// 9998; len is then the length of that text.
const char* form_float(double d, int ndigits, int& decpt, int& sign, int& len, bool point);

// The whole text of d: plain notation for decimal points from -6 to 17
// ("0.0000001", "10000000000000000.0"), else exponent notation ("1.0e17",
// "1.5e-8"). point keeps a trailing ".0" that would otherwise be dropped.
const char* format(double d, int ndigits, bool point);

// Reads [start, end): optional sign, digits with an optional point, optional
// exponent ("e" or "E", optional sign, digits); exponent_adjust is added to
// the exponent. "1.#INF", "-1.#INF" and "1.#NaN" read back as infinity and
// NaN: after one significant digit and the point, "#I" or "#N" decides, and
// the rest of "INF" or "NaN" is used when present. Out of range gives
// infinity or zero of the read sign, without error.
// unparsed receives the number of characters after the last one used: the
// whole length when the text does not start with a number (which reads 0.0).
double parse_float(const char* start, const char* end, int exponent_adjust, size_t& unparsed);

}  // namespace kel::dtoa
