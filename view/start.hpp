// The GUI's start-up, in two steps around the boot environment, whose
// image also holds the GUI's Kel sources.
#pragma once

namespace kel::view {

// Before the boot sources run (their function specs name event!): event!
// and the routines bound to global words.
void register_types();
// After them: the gui context over the back end the environment asks for
// (KEL_VIEW), stored in system/view/platform.
void start();

}  // namespace kel::view
