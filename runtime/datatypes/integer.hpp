// integer!: the 32-bit signed integer. A cell keeps the value in payload 2,
// two's complement; payloads 1 and 3 carry nothing. char! keeps its code
// point in the same word, so the arithmetic here serves it as the second
// operand too.
//
// Arithmetic never fails on range: add, subtract and multiply that leave 32
// bits answer a float! holding the double result, and a divide that is not
// exact answers a float! quotient. Only division by zero and the one
// quotient 32 bits cannot hold (-2147483648 / -1) raise math errors. Where a
// caller gives no cell to promote into, an overflow throws the runtime code
// throws::integer_overflow instead, for a region of that level to take.
#pragma once
#include <cstdint>
#include <string_view>

#include "runtime/cell.hpp"

namespace kel::integer {

// Arithmetic op codes, shared with the float core.
namespace op {
constexpr int add = 0, subtract = 1, multiply = 2, divide = 3, remainder = 4, or_ = 5, and_ = 6, xor_ = 7;
}

void register_type();

// ---- cell writers and readers

// Sets the type byte, keeping the header's flags, and the value.
void box(Cell* c, int32_t v);
// A fresh integer! (flags cleared) in the current call's result cell.
Cell* set_last(int32_t v);
Cell* push(int32_t v);
// A new integer! at the tail of a block.
Cell* make_in(Cell* block, int32_t v);

inline int32_t get(const Cell* c) { return int32_t(c->payload2); }
int32_t get_arg();          // argument 0
int32_t get_arg_or_zero();  // argument 0 when it is an integer!, else 0

// ---- helpers shared with the other number types

// Decimal text: "-" for negatives, no other sign, padding or separator. The
// text lives in one buffer, valid until the next call.
std::string_view to_text(int32_t v);

// True when the double has no 32-bit integer part: NaN, above 2147483647.0
// or below -2147483648.0. The guard before every float-to-integer conversion.
bool float_overflow_q(double d);
inline bool float_overflow_q(const Cell* c) { return float_overflow_q(cell::real(c)); }

// The absolute value; -2147483648 raises math overflow.
int32_t absolute_value(int32_t v);

// The arithmetic core (op codes above). The answer is the 32-bit result;
// the cell, when given, is written only when the answer is a float!: an
// overflowing add, subtract or multiply, or an inexact divide. Without a
// cell an overflow throws throws::integer_overflow and a divide truncates.
int32_t do_math(int32_t a, int32_t b, int op, Cell* result);

// The action-level arithmetic: argument 0 (integer! or char!) op argument 1,
// by the type of argument 1; the result in argument 0.
void math(int op);

// ---- the integer! row

Cell* make(Cell* proto, Cell* spec, uint8_t t);
Cell* to(Cell* proto, Cell* spec, uint8_t t);
void random(Cell* value, bool seed, bool secure, bool only);
int32_t form(const Cell* value, Cell* out, const Cell* part, int32_t limit);
int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, const Cell* part, int32_t limit,
             int32_t indent);
int32_t compare(const Cell* a, const Cell* b, int32_t op);
void absolute();
void add();
void divide();
void multiply();
void negate(Cell* value);
void power();
void remainder();
void round(Cell* value, const Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
           bool half_ceiling);
void subtract();
bool even_q(const Cell* value);
bool odd_q(const Cell* value);
void and_();
Cell* complement(Cell* value);
void or_();
void xor_();

}  // namespace kel::integer
