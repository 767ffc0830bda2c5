#pragma once
#include "runtime/cell.hpp"

namespace kel::alloc {

// Level 1: the bytes in use in the memory manager's frames. Level 2 (with a
// block): appends to the block a block of [free used total] per node frame,
// one per series frame, a block of big frame sizes, the bytes held in all
// and the bytes of the tracked C heap; answers 0.
double stats_block(Cell* block, int level);

}  // namespace kel::alloc
