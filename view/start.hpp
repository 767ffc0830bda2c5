// The GUI's start-up, run after the boot environment: event! is registered
// and the routines bound to global words are made, and the gui context
// over the back end the environment asks for (KEL_VIEW).
#pragma once

namespace kel::view {

void start();

}  // namespace kel::view
