// map!: a block of alternating keys and values (payload 2) indexed by a
// hash table of kind map_keys (payload 3). Keys are normalised when they go
// in: the word types become set-word!.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"

namespace kel::map {

bool key_type_q(uint8_t t);
// Every second cell, from the first, is of a key type.
bool keys_ok(const Cell* cells, uint32_t n);
// A map of the n cells (key, value, key, value ...); a repeated key keeps its
// first place and takes the later value. The cells must not move meanwhile.
Cell* box_from_cells(Cell* out, const Cell* cells, uint32_t n);

void register_type();

}  // namespace kel::map
