// The system object's C++ side. environment/system.kel builds the object,
// its guards and its mirrors; what only the runtime knows is filled in here
// afterwards, and the quiet setters the guards use are routines.
#pragma once

namespace kel::environment {

// set-quiet and set-slot-quiet: set a field or a block slot without telling
// the owner. Made before the boot sources run.
void make_quiet_setters();

// Fills the fields of the system object that the runtime knows: `words`
// (the global context), `platform` and build/config/OS, build/date,
// catalog/errors, the state/GC routines and options/path (the current
// directory); gives the options handlers their routines. Runs after the
// boot sources.
void fill_system_object();

}  // namespace kel::environment
