// triple!: three signed 32-bit integers in payloads 1-3. The parse engine
// keeps its rule state in triples; the language can only print one.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"

namespace kel::triple {
inline Cell box(int32_t a, int32_t b, int32_t c) { return Cell{type::triple, uint32_t(a), uint32_t(b), uint32_t(c)}; }
void register_type();
}  // namespace kel::triple
