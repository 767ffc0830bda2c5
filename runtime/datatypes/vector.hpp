// vector!: a packed numeric series. Payload 1 is the index in elements,
// payload 2 the buffer's node, payload 3 the element type id (char!,
// integer!, float! or percent!); the buffer's unit is the element width in
// bytes (1, 2 or 4 for char! and integer!, 4 or 8 for float!, 8 for
// percent!, which stores the fraction). Elements are little-endian.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"

namespace kel::vector {

// An empty vector of the element type and width with room for n elements.
Cell* make_at(Cell* out, uint32_t capacity, uint8_t element_type, uint32_t width);
// Element i (from the buffer's head) as a value of the element type.
Cell element_value(const Cell* v, int64_t i);
// The number an element stored at p holds (a char! its code point): what
// find and sort compare.
double number_at(const uint8_t* p, uint32_t width, uint8_t element_type);
// Writes the value at element i; its type must be the element type (else
// script invalid-arg with the value).
void write_value(const Cell* v, int64_t i, const Cell* value);
// Changes the vector in place by a scalar (integer!, char!, float!,
// percent!): op 0 add, 1 subtract, 2 multiply, 3 divide, 4 remainder, 5 or,
// 6 and, 7 xor. Each element e becomes e op scalar, or scalar op e when the
// scalar is the first operand.
void scalar_op(int op, Cell* v, const Cell* scalar, bool scalar_first);
// The arithmetic action of a scalar whose second operand (stack::args[1])
// is a vector: the vector, changed in place, becomes the result.
void scalar_first_op(int op);

void register_type();

}  // namespace kel::vector
