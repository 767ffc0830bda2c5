// typeset!: a set of datatypes held in the cell itself, a 96-bit map over
// payloads 1-3 (the bit of type id t in byte t / 8 under mask 0x80 >> t % 8).
// Function specs use them for the types an argument admits.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"

namespace kel::typeset {

void clear(Cell* ts);
// The types set among the registered ones.
int32_t count(const Cell* ts);
// Appends a typeset to the block: of the three words; of every type but
// unset!; of the elements of a spec block.
Cell* make_in(Cell* parent, uint32_t w1, uint32_t w2, uint32_t w3);
Cell* make_in_all(Cell* parent);
Cell* make_in_from_block(Cell* parent, const Cell* spec);
// Adds a value: a word by its value, a typeset united, a datatype's bit;
// anything else is invalid-arg.
void add_value(Cell* ts, const Cell* value);
// A new block of the words naming the datatypes in the set, in type order.
Cell* to_block(const Cell* ts, Cell* out);
int32_t serialize(const Cell* ts, Cell* out, bool only, const Cell* part, int32_t limit);
Cell* push(const Cell* ts);
// The bitwise worker on arguments 0 and 1 of the current call (a datatype
// second operand counts as the set of its type): 5/9 or, 6/10 and, 7/12
// xor, 11 exclude, 8 unique. The result replaces argument 0.
void do_bitwise(int op);

void register_type();

}  // namespace kel::typeset
