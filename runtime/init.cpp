// Runtime initialisation: a fixed order of steps, each relying on what the
// earlier ones leave.
#include "runtime/init.hpp"

#include "runtime/alloc.hpp"
#include "runtime/output.hpp"
#include "runtime/platform/platform.hpp"
#include "runtime/slots.hpp"
#include "runtime/system.hpp"

namespace kel::runtime {

void init() {
    sys::record.root_recording = true;
    output::init_print_hooks();
    platform::init();
    alloc::init();
    slots::init();
    alloc::make_first_frames();
}

}  // namespace kel::runtime
