// bitset!: a set of non-negative integers (usually code points) kept as a
// byte buffer (payload 2; payloads 1 and 3 are 0). Bit n lives in byte
// n / 8 under the mask 0x80 >> (n % 8). The buffer flag `complemented` says
// whether the numbers beyond the stored bytes are members.
//
// Every operation follows one rule: n is a member when n < 8 x bytes and
// its bit is set, or when n lies beyond the bytes and the set is
// complemented. Writes change stored bits and grow the buffer only when the
// wanted membership differs from the one beyond it; bitwise operations read
// the bytes a shorter operand lacks as 00 or FF by its flag.
#pragma once
#include <cstdint>

#include "runtime/alloc.hpp"
#include "runtime/cell.hpp"

namespace kel::bitset {

constexpr uint32_t complemented = 0x80000;  // buffer flag

bool complemented_q(const Cell* bs);
uint32_t byte_count(const Cell* bs);
// Membership of n under the rule above; a negative n answers the flag.
bool member(const Cell* bs, int64_t n);
// A new bitset of n zero bytes (FF and complemented when `not_`).
Cell* make_at(Cell* out, uint32_t bytes, bool not_);
// Whether every number the value names is a member (char!, integer!,
// float!, string!, block! with ranges `a - b`).
bool test(const Cell* bs, const Cell* value);

// The bitwise worker on arguments 0 and 1 of the current call, for the
// actions and the set natives: 5/9 or, 6/10 and, 7/12 xor, 11 exclude, 8
// unique (the first operand). The new bitset replaces argument 0.
void do_bitwise(int op);

void register_type();

}  // namespace kel::bitset
