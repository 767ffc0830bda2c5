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

// Conditionals (control.cpp).
uint32_t if_(const Call& call);
uint32_t unless(const Call& call);
uint32_t either(const Call& call);
uint32_t any(const Call& call);
uint32_t all(const Call& call);
uint32_t switch_(const Call& call);
uint32_t case_(const Call& call);

// Loops (control.cpp).
uint32_t while_(const Call& call);
uint32_t until(const Call& call);
uint32_t loop(const Call& call);
uint32_t repeat(const Call& call);
uint32_t forever(const Call& call);

// Loops over series (loops.cpp).
uint32_t foreach(const Call& call);
uint32_t forall(const Call& call);
uint32_t remove_each(const Call& call);

// Exits and their receivers (control.cpp).
uint32_t break_(const Call& call);
uint32_t continue_(const Call& call);
uint32_t exit(const Call& call);
uint32_t return_(const Call& call);
uint32_t throw_(const Call& call);
uint32_t catch_(const Call& call);
uint32_t try_(const Call& call);

// Function makers (function_makers.cpp).
uint32_t func(const Call& call);
uint32_t function_(const Call& call);
uint32_t does(const Call& call);
uint32_t has(const Call& call);

// Evaluation (evaluation.cpp).
uint32_t do_(const Call& call);
uint32_t reduce(const Call& call);
uint32_t compose(const Call& call);
uint32_t apply(const Call& call);  // loops.cpp

// Fills the slots of the natives above in the natives table.
void init_control();
// Fills the slots of foreach, forall, remove-each and apply.
void init_loops();

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
