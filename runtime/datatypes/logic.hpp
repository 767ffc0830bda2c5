// unset!, none! and logic!: the three smallest datatypes, and the routines
// the rest of the runtime calls on every step: write, push or append a none,
// a logic or an unset value, and the truth test behind every conditional.
//
// unset! and none! cells are the header alone. A logic! cell keeps its value
// in payload 1: 1 is true and any other word reads as false. Truth: a value
// is false only when it is none! or a false logic!; every other value,
// unset! included, is true unless a strict test asks otherwise.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"

namespace kel {

// Read-only cells that handlers answer by reference; the dispatchers copy
// them into the result. They live in read-only memory: a write through one
// faults at once.
namespace shared {
extern const Cell none_cell;
extern const Cell true_cell;
extern const Cell false_cell;
inline Cell* none() { return const_cast<Cell*>(&none_cell); }
inline Cell* logic(bool v) { return const_cast<Cell*>(v ? &true_cell : &false_cell); }
}  // namespace shared

namespace unset {
void register_type();
Cell* set_last();              // into the current call's result cell
Cell* push();                  // on a new stack cell
Cell* make_in(Cell* block);    // at the block's tail
}  // namespace unset

namespace none {
void register_type();
Cell* set_last();
Cell* push();
Cell* make_in(Cell* block);
}  // namespace none

namespace logic {
void register_type();
Cell* set_last(bool v);
Cell* push(bool v);
Cell* make_in(Cell* block, bool v);

inline uint32_t get(const Cell* c) { return c->payload1; }

// Truth of a cell. Strict: an unset! value raises no-value with it.
bool cell_true_q(const Cell* c, bool strict);
// Truth of the current call's result cell.
bool true_q();
// Truth of the stack top (the result cell when the stack holds nothing
// above the call's base), and its negation.
bool top_true_q();
bool top_false_q();
// Truth of the result cell of a condition: an unset! result raises
// no-return ("block did not return a value").
bool check_condition();
}  // namespace logic

}  // namespace kel
