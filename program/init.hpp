#pragma once

namespace kel::runtime {

// Brings the language runtime from nothing to the state in which words can
// be made. Leaves the root-recording flag on.
void init();

// The part of init from the memory manager on: datatypes, the root block,
// symbols, the global context and the well-known words.
void init_values();

}  // namespace kel::runtime
