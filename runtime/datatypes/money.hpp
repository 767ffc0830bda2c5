// money!: an exact decimal amount of 22 digits (17 before the point, 5
// after), a sign and an optional currency. The header carries the sign in
// bit 14; the low byte of payload 1 holds the currency (0 none, else the
// 1-based position in the currency list); the other 11 bytes of the payload
// hold the digits in binary-coded decimal, two per byte, most significant
// first (the high nibble of payload 1's second byte is digit 1).
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"

namespace kel::money {

constexpr uint32_t sign_mask = 0x4000;
constexpr int digits = 22;
constexpr int integer_digits = 17;
constexpr int decimal_digits = 5;

// The 1-based position of the three-letter code (any case), or -1.
int32_t find_currency(const char* code);
// The code of a currency index (1-based), or null.
const char* currency_code(uint32_t index);

// Digit i (1 .. 22) of a money cell.
uint32_t digit(const Cell* m, int i);

// Builds a money value from 1-byte text: the integer digits lie between
// start and the point (or end), the decimals between the point and end;
// "'" separators are skipped. A code that is not a currency answers false.
// Callers ensure at most 17 significant integer digits, at least one digit
// before the point, and one after it.
bool make_from_parts(Cell* out, bool negative, const char* code, const char* start, const char* point,
                     const char* end);

void register_type();

}  // namespace kel::money
