// Number text scanners: a run of code units (1, 2 or 4 bytes each, the unit
// of a text buffer) to an integer, a float, a tuple or a money amount. The
// lexer calls them on the tokens it has recognised; the conversions from
// text (to integer!, to float!, to money!) call them on a string's units.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"

namespace kel::tokenizer {

// Optional sign, digits, "'" separators anywhere after the sign. Another
// character sets *error to -1; a value outside 32 bits sets -2 and answers
// 0. *error is left alone on success: the caller clears it first.
int32_t scan_integer(const void* start, uint32_t count, uint32_t unit, int32_t* error);

// At most 312 characters; "," reads as "."; the text must pass the float
// syntax check; "'" separators are dropped. exponent_adjust is added to the
// exponent (-2 reads a percent as its fraction). Failure: *error -1 and NaN.
double scan_float(const void* start, uint32_t count, uint32_t unit, int32_t* error, int exponent_adjust = 0);

// Components of 0-255 separated by "."; at most 12. Failure: *error -1.
void scan_tuple(const void* start, uint32_t count, uint32_t unit, int32_t* error, Cell* out);

// Optional "-" or "+", an optional three-letter currency code that must be
// followed by "$", an optional "$" otherwise, then digits with at most one
// "." and "'" separators between digits, at most 17 significant integer
// digits. Answers false when the text is not a money amount.
bool scan_money(const void* start, uint32_t count, uint32_t unit, Cell* out);

// a-z (and any byte above 0x60) to upper case, in place.
void upper_ascii(char* text);

}  // namespace kel::tokenizer
