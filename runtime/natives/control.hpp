// The control and evaluation natives: conditionals, loops, switch and case,
// the function makers, do, reduce and compose, and the non-local exits with their receivers
// (break, continue, return, exit, throw, catch, try).
//
// Every native here follows the one entry contract: arguments at
// stack::args[0 ...], refinements as stack indices in call.refs (-1 when not
// used), the result in args[0] with the top just above, and the pending exit
// code answered. Exits do not travel as C++ exceptions: the native that made
// one has already unwound the frames to the receiving frame and left the code
// pending, so a native that gets a non-zero code from an evaluation returns it
// at once without touching the stacks, unless the code is its own: a loop
// consumes break and continue, catch consumes throw. Errors are C++
// exceptions; only try takes them.
#pragma once
#include <cstdint>

#include "runtime/actions.hpp"

namespace kel::natives {

// Shared by the natives that run a body in a loop frame of their own.
// What a loop does with the code its body answered: go on (continue
// consumed), stop (break consumed), or pass the code on.
enum class Step { go_on, stop, pass_on };
Step loop_step(uint32_t code);
// One iteration: the loop frame is the current call, and the body's value
// (or a break's) lands in its first cell.
uint32_t run_body(const Cell& body);
// Closes the frame the native opened and makes the value (or the frame's
// first cell) the native's result.
uint32_t close_with(const Cell& result);
uint32_t close_with_value();

// ---- shared by the natives that evaluate code

// Evaluates a block (any-block cell; its index clamped) into the current
// call's result cell, args[0], with the top just above it. Answers the
// pending exit code.
uint32_t eval_into_result(const Cell* block);

// Runs an evaluation step and answers its code. An exit that C++ code could
// not pass on as a status (exits::raise_pending) arrives here as an
// exception and comes back as its code: its frames are already unwound.
template <class Step>
uint32_t guarded(Step&& step);

// Truth: only none and a false logic! are falsy.
bool truthy(const Cell* value);

}  // namespace kel::natives

#include "runtime/throws.hpp"

template <class Step>
uint32_t kel::natives::guarded(Step&& step) {
    try {
        return step();
    } catch (const Throw& t) {
        if (t.code < throws::throw_ || t.code > throws::break_) throw;
        return t.code;
    }
}
