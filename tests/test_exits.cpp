#include <gtest/gtest.h>

#include "runtime/context.hpp"
#include "runtime/error.hpp"
#include "runtime/exits.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"
#include "runtime/throws.hpp"
#include "tests/support/child.hpp"
#include "tests/support/runtime.hpp"

using namespace kel;

namespace {

Cell named(const char* name) { return Cell{type::word, context::global, symbol::make(name), uint32_t(-1)}; }

Cell integer(int32_t v) {
    Cell c;
    cell::set_integer(&c, v);
    return c;
}

// Calls a native that makes an exit with the values on its stack, as the
// interpreter will: a frame, the arguments, the call. Answers the pending
// code it returns, or the code of the error it raises.
uint32_t call(uint32_t (*native)(), std::initializer_list<Cell> arguments) {
    Cell w = named("native");
    stack::mark_native(&w);
    for (const Cell& a : arguments) stack::push(&a);
    uint32_t pending = 0;
    uint32_t raised = throws::protect(throws::top_level, [&] { pending = native(); });
    if (pending) {
        EXPECT_EQ(exits::pending(), pending);
        exits::consume();
    }
    return raised ? raised : pending;
}

}  // namespace

using Exits = test::WithRuntime;

TEST_F(Exits, BreakReachesTheLoopFrameWithItsValue) {
    Cell w = named("loop");
    stack::mark_loop(&w);
    Cell* loop_base = stack::args;
    stack::mark_native(&w);  // a call inside the loop body
    Cell* inside = stack::args;
    (void)inside;
    uint32_t code = call([] { return stack::throw_break(true, false); }, {integer(42)});
    EXPECT_EQ(code, throws::break_);
    EXPECT_EQ(stack::depth(), 1u);  // the loop frame stays
    EXPECT_EQ(stack::args, loop_base);
    EXPECT_EQ(cell::integer(loop_base), 42);

    code = call([] { return stack::throw_break(false, true); }, {integer(7)});
    EXPECT_EQ(code, throws::continue_);
    EXPECT_TRUE(cell::is(loop_base, type::unset));
}

TEST_F(Exits, ExitsWithoutAReceiverBecomeThrowErrors) {
    struct Case {
        uint32_t (*native)();
        const char* id;
    } cases[] = {
        {[] { return stack::throw_break(false, false); }, "break"},
        {[] { return stack::throw_break(false, true); }, "continue"},
        {[] { return stack::throw_return(true); }, "return"},
        {[] { return stack::throw_user(throws::throw_); }, "throw"},
    };
    for (const Case& c : cases) {
        Cell w = named("outer");
        stack::mark_try(&w);
        uint32_t depth = stack::depth();
        uint32_t code = call(c.native, {integer(5), integer(6)});
        EXPECT_EQ(code, throws::error) << c.id;
        EXPECT_EQ(error::pending.category, error::Category::throw_) << c.id;
        EXPECT_STREQ(error::pending.id, c.id);
        EXPECT_EQ(stack::depth(), depth - 1) << c.id;  // the error went to the try frame and popped it
    }
    EXPECT_EQ(error::pending.arg_count, 1);  // throw carries the thrown value
    EXPECT_EQ(cell::integer(&error::pending.args[0]), 5);
}

TEST_F(Exits, ABarrierStopsABreakFromAFunctionInALoop) {
    Cell w = named("f");
    stack::mark_loop(&w);
    stack::mark_try(&w);      // the error's receiver
    stack::mark_barrier(&w);  // between the loop and the break
    uint32_t code = call([] { return stack::throw_break(false, false); }, {});
    EXPECT_EQ(code, throws::error);
    EXPECT_STREQ(error::pending.id, "break");
    EXPECT_EQ(stack::depth(), 2u);  // the error stopped at the barrier, which it popped

    stack::revert();
    stack::mark_native(&w);  // no barrier now: the caller's loop ends
    code = call([] { return stack::throw_break(false, false); }, {});
    EXPECT_EQ(code, throws::break_);
    EXPECT_EQ(stack::depth(), 1u);
}

TEST_F(Exits, ReturnAndThrowReachTheirFrames) {
    Cell w = named("fn");
    stack::mark(&w, stack::kind::native | stack::kind::body_flag);
    Cell* body = stack::args;
    stack::mark_native(&w);
    EXPECT_EQ(call([] { return stack::throw_return(true); }, {integer(9)}), throws::return_);
    EXPECT_EQ(stack::args, body);
    EXPECT_EQ(cell::integer(body), 9);
    EXPECT_EQ(call([] { return stack::throw_return(false); }, {integer(9)}), throws::exit_);
    EXPECT_TRUE(cell::is(body, type::unset));

    stack::mark_catch(&w);
    Cell* caught = stack::args;
    Cell name = named("tag");
    EXPECT_EQ(call([] { return stack::throw_user(throws::throw_); }, {integer(3), name}), throws::throw_);
    EXPECT_EQ(cell::integer(caught), 3);
    EXPECT_EQ(caught[1].payload2, name.payload2);
    EXPECT_EQ(stack::top, caught + 2);
}

// An error nothing catches: its report on standard error and status -2.
TEST(ExitsProcess, UncaughtErrorEndsWithStatusMinusTwo) {
    test::ChildResult r = test::run_child(test::sibling("kel-probe"), {"uncaught"}, {{"KEL_FATAL_TO_STDERR", "1"}});
    EXPECT_EQ(r.status, 254);
    EXPECT_EQ(test::without_cr(r.err),
              "*** Script Error: undefined-word has no value\n*** Where: ???\n*** Near : none\n");
}
