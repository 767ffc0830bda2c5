// float!: the IEEE 754 double. A cell keeps the double in payloads 2-3, low
// word first. percent! and time! keep theirs the same way and take most of
// their handlers from this row, so every handler here reads the value with
// get() and keeps the cell's own type unless a rule below changes it.
//
// Arithmetic follows IEEE: division by zero and overflow give infinities or
// NaN, never an error. The result type of the family: time! when either
// side is a time!, else percent! when the left is a percent!, else the
// left's type (an integer! left has become float!).
//
// Equality is tolerant: two doubles within ten units in the last place are
// equal under = and <>; == asks for the exact value and same? for the bits.
//
// Text: form is tidy (pretty) by default and hides the noise of binary
// fractions (4.35 * 100 forms as 435.0); mold writes the shortest text that
// reads back to the same double.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"

namespace kel::float_ {

// system/options/float: pretty? (tidy form text, on by default) and full?
// (stored, read by nothing).
extern bool pretty_print;
extern bool full_support;

// Kinds of form_float text.
namespace kind {
constexpr int vector32 = 0, number = 1, vector_percent = 2, percent = 3, seconds = 4, coordinate = 5;
}

void register_type();

// ---- cell writers and readers

Cell* box(double d);  // a fresh float! in the current call's result cell
Cell* box_at(Cell* c, double d);
Cell* push(double d);
Cell* push_halves(uint32_t low, uint32_t high);
Cell* make_in(Cell* block, uint32_t low, uint32_t high);  // at the block's tail
inline double get(const Cell* c) { return cell::real(c); }

// ---- bit tests

double fabs_bits(double d);
bool nan_q(double d);
bool special_q(double d);  // an infinity or NaN
bool nan32_q(float f);
// The double plus the largest double below 0.5, truncated toward zero; a
// result outside 32 bits (or NaN) raises script type-limit.
int32_t to_int_offset(double d);

// ---- text

// The text of d for the kind, in one buffer valid until the next call.
const char* form_float(double d, int kind);

// ---- arithmetic and comparison

// Op codes 0 add, 1 subtract, 2 multiply, 3 divide, 4 remainder; any other
// raises script cannot-use.
double do_math(double a, double b, int op);
// The action-level arithmetic on arguments 0 and 1; the result in argument 0.
void math(int op);

bool near_equal(double a, double b);
bool near_equal32(float a, float b);

// ---- the float! row

Cell* make(Cell* proto, Cell* spec, uint8_t t);  // make and to
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

}  // namespace kel::float_
