// The natives table: the C++ entry point of every native, reached by index.
// A native! value keeps the 1-based index of its entry in payload 1, never an
// address, so values stay valid in files and across builds. The rows
// (table.cpp) name the entry of each index; an entry not built yet is null,
// and a caller must check it before calling.
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "runtime/actions.hpp"

namespace kel::natives {

constexpr uint32_t count = 120;  // valid indices: 1 .. count

extern Entry table[count];

// The entry of a 1-based index; null when out of range or not built.
inline Entry entry(uint32_t index) { return index >= 1 && index <= count ? table[index - 1] : nullptr; }

// One row per native, in index order from 1.
extern const std::span<const EntryRow> rows;

// Puts the entry of every row in the table: a native call reads one array
// slot, with no row to find.
void init();

// The index of the native a word of the boot environment names; 0 when none.
uint32_t index_of(std::string_view name);

// Compares rows with the global words holding values of the type (native! or
// action!): each such word must have the row of its value's index, under its
// own name, and each row with an entry must be held by such a word. Answers
// the first disagreement as a message naming the index and both names; empty
// when they agree.
std::string check_rows(uint8_t type, std::span<const EntryRow> rows);

// Checks the natives rows and the action wrappers' rows against the boot
// environment once it has run; a disagreement is a fatal error.
void check_boot();

}  // namespace kel::natives
