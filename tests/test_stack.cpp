#include <gtest/gtest.h>

#include "runtime/collector.hpp"
#include "runtime/context.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/error.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"
#include "runtime/throws.hpp"
#include "runtime/words.hpp"
#include "tests/support/runtime.hpp"

using namespace kel;

namespace {

Cell integer(int32_t v) {
    Cell c;
    cell::set_integer(&c, v);
    return c;
}

uint32_t used_nodes() {
    uint32_t n = 0;
    for (NodeFrame* f = alloc::memory.node_head; f; f = f->next) n += f->used;
    return n;
}

Cell named(const char* name) { return Cell{type::word, context::global, symbol::make(name), uint32_t(-1)}; }

}  // namespace

using Stack = test::WithRuntime;

// A slot reserved for a result holds no old value that the collector would
// follow: the string popped before stays garbage.
TEST_F(Stack, AReservedSlotHoldsNoOldValue) {
    Cell* top = stack::top;
    collector::collect();
    uint32_t before = used_nodes();
    Cell s;
    string::make_from_utf8(&s, "popped", 6);
    stack::push(&s);
    stack::pop(1);
    Cell* slot = stack::push_slot();
    EXPECT_TRUE(cell::is(slot, type::unset));
    collector::collect();
    EXPECT_EQ(used_nodes(), before);
    stack::top = top;
}

TEST_F(Stack, ArgumentOverflowLeavesRoomForTheError) {
    Cell v = integer(1);
    uint32_t pushed = 0;
    uint32_t code = throws::protect(throws::error, [&] {
        for (;; ++pushed) stack::push(&v);
    });
    EXPECT_EQ(code, throws::error);
    EXPECT_STREQ(error::pending.id, "stack-overflow");
    EXPECT_EQ(pushed, stack::argument_cells - 1);  // the push that fills the last cell raises
    EXPECT_EQ(stack::top - stack::cells, int(stack::argument_cells) - 5);
    stack::pop(stack::argument_cells + 1);
    EXPECT_EQ(stack::top, stack::cells);  // never below the first cell
}

TEST_F(Stack, FrameOverflowIsAnErrorTheTryFrameTakes) {
    Cell w = named("deep");
    stack::mark_native(&w);
    Cell* outer = stack::args;
    stack::mark_try(&w);
    uint32_t opened = 0;
    uint32_t code = throws::protect(throws::error, [&] {
        for (;; ++opened) stack::mark_native(&w);
    });
    EXPECT_EQ(code, throws::error);
    EXPECT_STREQ(error::pending.id, "stack-overflow");
    EXPECT_EQ(opened, stack::frame_records - 3);  // the bottom record, the caller and the try frame
    EXPECT_EQ(stack::depth(), 1u);                // unwound to the try frame, which is popped
    EXPECT_EQ(stack::args, outer);
}

TEST_F(Stack, ClosingACallLeavesItsResult) {
    Cell caller_word = named("caller"), callee_word = named("callee");
    stack::mark_native(&caller_word);
    Cell a = integer(1), b = integer(2);
    stack::push(&a);
    Cell* before = stack::top;

    stack::mark_native(&callee_word);  // unwind: the result is one more cell
    stack::push(&b);
    stack::push(&b);
    Cell r = integer(99);
    stack::set_result(&r);
    stack::unwind();
    EXPECT_EQ(stack::top, before + 1);
    EXPECT_EQ(cell::integer(stack::last()), 99);

    stack::reset();
    stack::mark_native(&callee_word);  // unwind_last: the result is the caller's
    stack::push(&b);
    stack::unwind_last();
    EXPECT_EQ(cell::integer(stack::args), 2);

    stack::mark_native(&callee_word);  // unwind_drop: nothing remains
    stack::push(&b);
    stack::unwind_drop();
    EXPECT_EQ(stack::top, stack::args);
    stack::revert();
    EXPECT_EQ(stack::depth(), 0u);
    EXPECT_EQ(stack::top, stack::cells);
}

TEST_F(Stack, UnwindingStopsAtItsKindOrABarrier) {
    Cell w = named("f");
    stack::mark_loop(&w);
    Cell* loop_base = stack::args;
    stack::mark_barrier(&w);
    Cell* barrier_base = stack::args;
    stack::mark_native(&w);
    stack::mark_native(&w);
    stack::unwind_to(stack::kind::loop, true);
    EXPECT_EQ(stack::depth(), 2u);  // stopped at the barrier, which stays
    EXPECT_EQ(stack::args, barrier_base);
    stack::revert();
    stack::mark_native(&w);
    stack::unwind_to(stack::kind::loop, true);
    EXPECT_EQ(stack::depth(), 1u);
    EXPECT_EQ(stack::args, loop_base);
    stack::unwind_to(stack::kind::catch_, false);  // none: the stacks empty
    EXPECT_EQ(stack::depth(), 0u);
    EXPECT_EQ(stack::args, stack::cells);
}

TEST_F(Stack, FunctionFramesRestoreTheirContextWhenUnwound) {
    NodeId fn = test::keep_context(context::make(2, true, false, 0, 0));
    Cell w = named("recur");
    stack::mark_func(&w, fn);
    Cell a = integer(1);
    stack::push(&a);
    stack::mark_func_body(&w, fn);  // the outer call's values
    uint32_t outer = context::context_cell(fn)->payload2;
    stack::mark_func(&w, fn);
    stack::push(&a);
    stack::mark_func_body(&w, fn);  // the inner call's values
    EXPECT_NE(context::context_cell(fn)->payload2, outer);
    stack::mark_try(&w);
    stack::mark_func(&w, fn);
    stack::unwind_to(stack::kind::try_, true);
    stack::revert();  // the try frame
    stack::unwind();  // the inner body
    stack::unwind_func();  // the inner call: back to the outer values
    EXPECT_EQ(context::context_cell(fn)->payload2, outer);
}

TEST_F(Stack, CallWordAndTraceSkipAnonymousFrames) {
    Cell named_word = named("visible");
    stack::mark_native(&named_word);
    stack::mark_native(words::words.body);
    stack::mark_native(words::words.anon);
    Cell call = stack::get_call_word();
    EXPECT_EQ(symbol::name(call.payload2), "visible");

    NodeId node = test::keep_block(alloc::alloc_cells(4));
    Cell block{type::block, 0, node, 0};
    stack::trace_frames(&block);
    SeriesBuffer* b = alloc::buffer_of(node);
    ASSERT_EQ((b->tail - b->offset) / 16, 2u);
    const Cell* c = reinterpret_cast<const Cell*>(b->data() + b->offset);
    EXPECT_EQ(symbol::name(c[0].payload2), "visible");
    EXPECT_TRUE(cell::is(&c[1], type::integer));

    stack::revert();
    stack::revert();
    stack::revert();
    EXPECT_EQ(symbol::name(stack::get_call_word().payload2), "<not-found>");
}
