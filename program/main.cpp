#include "program/entry.hpp"
#include "runtime/platform/start.hpp"
#include "runtime/stack.hpp"
#include "runtime/system.hpp"

int main(int argc, char** argv) {
    kel::sys::keep_main_args(argc, argv);
    kel::os::run_on_stack(kel::stack::native_bytes, kel::sys::entry);
    return 0;
}
