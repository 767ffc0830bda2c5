// Non-local exits: a language error, break, continue, return, exit and a
// user throw. Each first unwinds the frame stack to the frame that receives
// it and puts the value it carries where that frame expects it, then throws
// its code to the C++ region that resumes there. When no frame can receive
// it, or a barrier frame stands in the way, it becomes a throw-category
// error instead; an error that nothing catches ends the process with its
// report and status -2.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"

namespace kel::stack {

// The error in flight (error::pending) unwinds to the nearest try or barrier
// frame, which it pops.
[[noreturn]] void throw_error();
// break (with or without a value) and continue: to the nearest loop frame.
[[noreturn]] void throw_break(bool has_value, bool is_continue);
// return (with the value at args[0]) and exit: to the nearest return target.
[[noreturn]] void throw_return(bool has_value);
// throw: args[0] the value, args[1] the name (unset without one), to the
// nearest catch frame.
[[noreturn]] void throw_user(uint32_t code);

}  // namespace kel::stack

namespace kel::exits {

// Shows the report of an error nothing caught and ends the process with
// status -2.
[[noreturn]] void report_uncaught();

// The text of the pending error as the console shows it.
void form_pending(Cell* out);

}  // namespace kel::exits
