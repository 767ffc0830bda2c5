// hash!: a block whose cells are all indexed by a hash table of kind
// hash_cells (payload 3), so that find and select look a value up instead
// of scanning. Every other action is block!'s; each edit of the block keeps
// the table in step: the cells from the first one the edit touches to the
// tail leave the table before the edit and enter it again after it, in
// their new positions.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"

namespace kel::hash {

// Makes the block in out (any-block, index kept) a hash! over a new table.
Cell* index_block(Cell* out);

// The upkeep around an edit of series s. Before it: the cells from `from`
// to the tail leave the table; after it: the cells from `from` to the tail
// enter it again, in order, so that the positions of equal cells stay
// sorted in the table. Other types pass.
void unindex(const Cell* s, int32_t from);
void reindex(const Cell* s, int32_t from);

// find on a hash! through its table: the position found, -1 when absent,
// -2 when the search needs the block's scan (a /part limit, /match, a block,
// datatype!, typeset! or object! value, as the refinements ask).
int32_t find(const Cell* h, const Cell* value, const Cell* part, bool only, bool case_, bool same,
             const Cell* skip, bool last, bool reverse, bool match);

void register_type();

}  // namespace kel::hash
