// Non-local exits: a language error, break, continue, return, exit and a
// user throw. Each first unwinds the frame stack to the frame that receives
// it and puts the value it carries where that frame expects it.
//
// break, continue, return, exit and throw happen inside tight loops, so they
// do not unwind C++ frames by an exception: they leave their code pending
// (sys::record.throw_code) and answer it, and every native and evaluation
// step returns a non-zero pending code at once, up to the native that owns
// the receiving frame (a loop, a function body, catch), which consumes it.
// Errors are rare: they unwind by a C++ exception to the region that took
// the try frame. When no frame can receive an exit, or a barrier frame
// stands in the way, it becomes a throw-category error instead; an error
// that nothing catches ends the process with its report and status -2.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"
#include "runtime/system.hpp"

namespace kel::stack {

// The error in flight (error::pending) unwinds to the nearest try or barrier
// frame, which it pops.
[[noreturn]] void throw_error();
// break (with or without a value) and continue: to the nearest loop frame.
// Each answers its pending code.
[[nodiscard]] uint32_t throw_break(bool has_value, bool is_continue);
// return (with the value at args[0]) and exit: to the nearest return target.
[[nodiscard]] uint32_t throw_return(bool has_value);
// throw: args[0] the value, args[1] the name (unset without one), to the
// nearest catch frame.
[[nodiscard]] uint32_t throw_user(uint32_t code);

}  // namespace kel::stack

namespace kel::exits {

// The pending exit, 0 when none; and its consumption by the native that
// owns the receiving frame.
inline uint32_t pending();
void consume();
// Turns a pending exit into an exception for C++ callers that cannot pass a
// status on (the receiving native's region takes it like any throw).
[[noreturn]] void raise_pending();

// Shows the report of an error nothing caught and ends the process with
// status -2.
[[noreturn]] void report_uncaught();

// The text of the pending error as the console shows it.
void form_pending(Cell* out);

}  // namespace kel::exits

inline uint32_t kel::exits::pending() { return sys::record.throw_code; }
