// The process entry: the whole top-level program, run once in a fixed order of
// phases. It ends in sys::quit, through which every exit of the runtime goes.
#include "program/entry.hpp"

#include "environment/boot.hpp"
#include "environment/script.hpp"
#include "runtime/alloc.hpp"
#include "runtime/ansi_console.hpp"
#include "runtime/exits.hpp"
#include "runtime/mem.hpp"
#include "runtime/natives/system.hpp"
#include "runtime/output.hpp"
#include "runtime/platform/env.hpp"
#include "runtime/platform/host.hpp"
#include "runtime/stack.hpp"
#include "program/init.hpp"
#include "runtime/system.hpp"
#include "runtime/throws.hpp"
#include "view/backend/console.hpp"
#include "view/start.hpp"

#if defined(__x86_64__) || defined(_M_X64)
#include <xmmintrin.h>
#endif

namespace kel::sys {

namespace {
// All floating-point exceptions masked, 53-bit precision, round to nearest:
// the x87 control word 0x27F and the SSE default the doubles use on x86-64.
void reset_fpu() {
#if defined(__x86_64__) || defined(_M_X64)
    unsigned short control = 0x27F;
    __asm__ volatile("fldcw %0" : : "m"(control));
    _mm_setcsr(0x1F80);
#endif
}

// kel.exe is the console, unless KEL_STDOUT=1 asks it to run a script as
// kel does (output on standard output, no window), or the console's
// window object is not in the program.
bool console_program() {
    if (!os::windows || sysrt::get_env("KEL_STDOUT") == "1") return false;
    static const char test[] = "all [object? get/any 'gui-console-ctx function? get/any in gui-console-ctx 'launch]";
    Cell* top = stack::top;
    if (environment::run_text(test, sizeof test - 1)) exits::raise_pending();
    bool found = cell::is(stack::last(), type::logic) && cell::logic(stack::last());
    stack::top = top;
    return found;
}

// 14. The console: the engine is made (with its init routine), then the
// window's launch runs the script or the read-evaluate-print loop; when it
// returns the program ends.
void launch_console() {
    static const char make[] = "make-console-engine";
    static const char launch[] = "gui-console-ctx/launch";
    Cell* top = stack::top;
    if (environment::run_text(make, sizeof make - 1)) exits::raise_pending();
    view::console::install();
    stack::top = top;
    if (environment::run_text(launch, sizeof launch - 1)) exits::raise_pending();
    stack::top = top;
}

void boot() {
    // 4. Module state.
    ansi_console::probe();
    // 5. Runtime initialisation.
    runtime::init();
    // 8. From here the collector may run. KEL_GC_STRESS=1 makes it run
    // before every allocation, boot included: a test of the root rules.
    record.collector_enabled = true;
    alloc::stress = sysrt::get_env("KEL_GC_STRESS") == "1";
    record.root_recording = false;
    // 9. The boot environment, with the GUI's sources: event! comes first.
    view::register_types();
    view::console::make_routines();
    environment::boot();
    view::start();
    view::console::install();
    if (console_program()) {
        launch_console();
        return;
    }
    // Without the console, a script named on the command line runs with
    // its output on standard output.
    if (record.argc > 1) {
        output::register_print_hooks(natives::print_to_stdout, nullptr);
        environment::run_script();
    }
}
}  // namespace

void entry() {
    // 1. The floating-point unit and an empty heap list.
    reset_fpu();
    *record.heap_list = {};
    // 2. Platform start.
    platform_start();
    // 3. The control word again (platform start may have changed it), then
    // the top-level catch frame around everything that follows.
    reset_fpu();
    run_top_level(boot);
    // 15. A normal end.
    quit(0, 0);
}

}  // namespace kel::sys
