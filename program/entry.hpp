// The process entry: the whole program, run once in a fixed order of phases.
#pragma once

namespace kel::sys {

// Platform start, runtime initialisation, the boot environment, then the
// script or the console; ends in sys::quit.
[[noreturn]] void entry();

}  // namespace kel::sys
