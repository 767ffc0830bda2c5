// Routines of the boot environment that reach runtime and process services
// directly: routine! values whose code is C++, bound to global words.
#pragma once

namespace kel::environment {

// Makes each routine and sets its word; runs before the boot sources, whose
// functions call them.
void make_environment_routines();

}  // namespace kel::environment
