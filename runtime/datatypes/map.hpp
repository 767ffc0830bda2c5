// map!: a block of alternating keys and values (payload 2) indexed by a
// hash table of kind map_keys (payload 3). Keys are normalised when they go
// in: the word types become set-word!, strings and binaries are copied.
// Removing a pair clears its value cell's header (a tombstone that every
// walk skips and a later set of the key revives); when tombstones outnumber
// the live pairs at a growth, the block is compacted and the table rebuilt,
// so that churn keeps the memory in bounds.
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

// The number of live pairs.
uint32_t count(const Cell* m);
// A block of the live keys (words), values or pairs (body), into out.
Cell* reflect_block(const Cell* m, Cell* out, int which);
namespace reflect_kind {
constexpr int words = 0, values = 1, body = 2;
}
// foreach over a map: sets key_word and value_word (word! cells) from the
// first live pair at or after block position *at and moves *at past it;
// answers false, setting nothing, when no live pair is left. A word key
// comes out as word!, as the map's words give it.
bool set_words_from_pairs(const Cell* m, int32_t* at, Cell* key_word, Cell* value_word);
// Sets every pair of the block (even length, else script invalid-arg): a
// key already there takes the new value, a new one is added. A key of a
// type a map does not take raises invalid-path before anything changes.
void extend(Cell* m, const Cell* block, bool case_);

void register_type();

}  // namespace kel::map
