// The value-slot block: code outside the value world (window and widget
// records) refers to a Kel value by a small slot number that stays valid
// while the value moves. A slot holds the value and keeps it alive; free
// slots are integer! cells chaining to the next free position (-1 ends).
#pragma once
#include <cstdint>

#include "runtime/alloc.hpp"
#include "runtime/cell.hpp"

namespace kel::value_slots {

extern NodeId block;

void init();
uint32_t alloc(const Cell* value);  // a slot number, from 1
void free(uint32_t slot);           // 0 does nothing
Cell* at(uint32_t slot);            // good until the next allocation
uint32_t capacity();

}  // namespace kel::value_slots
