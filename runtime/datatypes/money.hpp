// money!: an exact decimal amount of 22 digits (17 before the point, 5
// after), a sign and an optional currency. The header carries the sign in
// bit 14; the low byte of payload 1 holds the currency (0 none, else the
// 1-based position in the currency list); the other 11 bytes of the payload
// hold the digits in binary-coded decimal, two per byte, most significant
// first (the high nibble of payload 1's second byte is digit 1).
#pragma once
#include <cstdint>
#include <string>

#include "runtime/cell.hpp"

namespace kel::money {

constexpr uint32_t sign_mask = 0x4000;
constexpr int digits = 22;
constexpr int integer_digits = 17;
constexpr int decimal_digits = 5;

// The most currencies a cell can name: its index is one byte, 0 for none.
constexpr int32_t max_currencies = 255;

// The 1-based position of the three-letter code (any case) in the currency
// list, or -1.
int32_t find_currency(const char* code);
// The code at a currency index (1-based), or "" when the list has none there.
std::string currency_code(uint32_t index);

// Digit i (1 .. 22) of a money cell.
uint32_t digit(const Cell* m, int i);

// Builds a money value from 1-byte text: the integer digits lie between
// start and the point (or end), the decimals between the point and end;
// "'" separators are skipped. A code that is not a currency answers false.
// Callers ensure at most 17 significant integer digits, at least one digit
// before the point, and one after it.
bool make_from_parts(Cell* out, bool negative, const char* code, const char* start, const char* point,
                     const char* end);

// The signed amount in units of 0.00001 (below 10^22 in magnitude).
__int128 units(const Cell* m);
// Writes a money value of the amount in units, with the currency index;
// an amount of 10^22 units (10^17) or more raises script type-limit.
Cell* box_units(Cell* out, __int128 amount, uint32_t currency);
inline uint32_t currency_of(const Cell* m) { return m->payload1 & 0xFF; }
// The currency byte shares payload 1 with the first six digits.
inline void set_currency(Cell* m, uint32_t index) { m->payload1 = (m->payload1 & ~0xFFu) | (index & 0xFF); }

// The count of digits from the first nonzero one to the last decimal (1
// for zero): $1 has 6, $0.01 has 4.
int significant_digits(const Cell* m);

// The arithmetic cores (op codes of integer::op: add, subtract, multiply,
// divide, remainder). Each may change both operand cells and answers the
// one holding the result, whose currency the caller sets.
Cell* core_add(Cell* a, Cell* b);
Cell* core_subtract(Cell* a, Cell* b);
Cell* core_multiply(Cell* a, Cell* b);
Cell* core_divide(Cell* a, Cell* b, bool remainder);
Cell* core_dispatch(Cell* a, Cell* b, int op);

// The action-level arithmetic on stack::args[0] and [1], one of them money
// (an integer or float left operand comes from those types' rows).
void math(int op);

int32_t sign(const Cell* m);  // -1, 0, 1
bool zero_q(const Cell* m);
Cell* from_integer(Cell* out, int32_t n);
// The shortest decimal text of the double, its decimals cut after the
// fifth. NaN, infinities, magnitudes of 10^17 or more, nonzero ones below
// 0.00001 and, when strict, more than five decimals raise script
// bad-make-arg with money! and the value.
Cell* from_float(Cell* out, double d, bool strict);
double to_float(const Cell* m);
// The integer part; outside 32 bits raises script type-limit with integer!.
int32_t to_integer(const Cell* m);

int32_t form(const Cell* value, Cell* out, const Cell* part, int32_t limit);
int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, const Cell* part, int32_t limit,
             int32_t indent);
int32_t compare(const Cell* a, const Cell* b, int32_t op);
// A number of the integer or float row compared with money on the right:
// the number becomes money in the right operand's currency.
int32_t compare_number(const Cell* number, const Cell* m, int32_t op);

void register_type();

}  // namespace kel::money
