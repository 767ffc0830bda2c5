// binary!: a series of bytes (unit 1): payload 1 the head index, payload 2
// the buffer's node, payload 3 0. Registered under string!.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"

namespace kel::binary {

// Writes an empty binary with room for n bytes.
Cell* make_at(Cell* out, uint32_t capacity);

void register_type();

}  // namespace kel::binary
