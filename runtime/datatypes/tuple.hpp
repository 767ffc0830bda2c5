// tuple!: 3 to 12 bytes. The header holds type id 39 and the length in bits
// 19-22; the bytes fill payloads 1-3 from the lowest byte of payload 1, and
// bytes past the length are 0.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"

namespace kel::tuple {

constexpr uint32_t length_shift = 19;
constexpr uint32_t max_length = 12;

inline uint32_t length(const Cell* t) { return (t->header >> length_shift) & 0xF; }
inline uint8_t* bytes(Cell* t) { return reinterpret_cast<uint8_t*>(&t->payload1); }
inline const uint8_t* bytes(const Cell* t) { return reinterpret_cast<const uint8_t*>(&t->payload1); }

// A tuple of the n bytes (n at most 12), padded with zeros to 3.
Cell* box_bytes(Cell* out, const uint8_t* b, uint32_t n);

// A tuple of the first up to 12 bytes from the binary's index.
Cell* from_binary(const Cell* bin, Cell* out);

bool zero_q(const Cell* t);  // every byte 0
int32_t form(const Cell* value, Cell* out, const Cell* part, int32_t limit);
int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, const Cell* part, int32_t limit,
             int32_t indent);
int32_t compare(const Cell* a, const Cell* b, int32_t op);

// The action-level arithmetic (op codes of integer::do_math) on arguments 0
// and 1, one of them a tuple; the result, a tuple, in argument 0. With the
// tuple on the right, subtract and divide raise not-related and the other
// operations swap the operands.
void math(int op);

void register_type();

}  // namespace kel::tuple
