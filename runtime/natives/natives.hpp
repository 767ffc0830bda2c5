// The natives table: the C++ entry point of every native, reached by index.
// A native! value keeps the 1-based index of its entry in payload 1, never an
// address, so values stay valid in files and across builds. Entries are filled
// by the native modules at start-up; an entry not built yet is null, and a
// caller must check it before calling.
#pragma once
#include <cstdint>

#include "runtime/actions.hpp"

namespace kel::natives {

constexpr uint32_t count = 120;  // valid indices: 1 .. count

extern Entry table[count];

// The entry of a 1-based index; null when out of range or not built.
inline Entry entry(uint32_t index) { return index >= 1 && index <= count ? table[index - 1] : nullptr; }

void init_sets();     // sets.cpp: the set, case, coercion and base-N natives
void init_numbers();  // numbers.cpp: the number natives
void init_parse();    // parse.cpp: the parse engine's stacks and the parse native
void init_call();     // call.cpp: the process launcher's native

}  // namespace kel::natives
