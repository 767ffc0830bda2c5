// Routines of the boot environment that reach runtime and process services
// directly: routine! values whose code is C++, bound to global words.
#pragma once
#include "runtime/cell.hpp"
#include "runtime/actions.hpp"

namespace kel::environment {

// Pushes a routine of the spec (Kel source) and entry, which writes its own
// result; the caller stores it and pops it.
Cell* push_routine(const char* spec, Entry entry);

// Makes each routine and sets its word; runs before the boot sources, whose
// functions call them.
void make_environment_routines();

}  // namespace kel::environment
