// The root block: cells the collector always keeps and never moves, made at
// start-up with a fixed capacity. While start-up records roots, the words it
// makes are copied here, and C++ globals may point at those copies for the
// whole run.
#pragma once
#include "runtime/alloc.hpp"
#include "runtime/cell.hpp"

namespace kel::root {

constexpr uint32_t capacity = 9767;

extern NodeId block;

void init();
// Appends a copy of the cell; answers the copy. The block never grows: a
// full root block ends the process.
Cell* record(const Cell* value);
// A fixed block of its own (the stacks, the symbols block) held by a root cell.
NodeId make_fixed_block(uint32_t cells);

}  // namespace kel::root
