#include <gtest/gtest.h>

#include <string>

#include "runtime/collector.hpp"
#include "runtime/context.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/error.hpp"
#include "runtime/interp.hpp"
#include "runtime/ownership.hpp"
#include "runtime/root.hpp"
#include "runtime/slots.hpp"
#include "runtime/alloc_stats.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"
#include "runtime/value_slots.hpp"
#include "tests/support/runtime.hpp"

using namespace kel;

namespace {

uint32_t used_nodes() {
    uint32_t n = 0;
    for (NodeFrame* f = alloc::memory.node_head; f; f = f->next) n += f->used;
    return n;
}

Cell block_of(uint32_t n) {
    NodeId node = alloc::alloc_cells(n);
    return Cell{type::block, 0, node, 0};
}

void append(const Cell& block, const Cell& value) { *series::bump_tail(alloc::buffer_of(block.payload2)) = value; }

Cell* cells(const Cell& block) {
    SeriesBuffer* b = alloc::buffer_of(block.payload2);
    return reinterpret_cast<Cell*>(b->data() + b->offset);
}

int released = 0;
void count_release(uintptr_t) { ++released; }

struct Collector : test::WithRuntime {
    void SetUp() override {
        WithRuntime::SetUp();
        collector::collect();  // start from a compact heap
    }
};

}  // namespace

TEST_F(Collector, UnreachableSeriesAreFreedAndRootsSurviveMoving) {
    test::StressMode off(false);  // counts the garbage that lives until the one collection
    uint32_t before = used_nodes();
    for (int i = 0; i < 1000; ++i) alloc::alloc_bytes(100);  // garbage below the kept string
    collector::RootCell kept;
    string::make_from_utf8(&kept.cell, "kept \xc3\xa9", 7);
    SeriesBuffer* old_place = alloc::buffer_of(kept.cell.payload2);
    EXPECT_EQ(used_nodes(), before + 1001);
    collector::collect();
    EXPECT_EQ(used_nodes(), before + 1);
    EXPECT_NE(alloc::buffer_of(kept.cell.payload2), old_place);  // slid down over the garbage
    EXPECT_EQ(string::to_utf8(&kept.cell), "kept \xc3\xa9");
}

// Live buffers (L) slide down over the dead (D) in runs: each keeps its
// content, its node finds it, and the survivors end up packed in order.
TEST_F(Collector, LiveRunsSlideOverTheDeadInOrder) {
    test::StressMode off(false);
    for (const char* pattern : {"LLDLLLDDL", "DDDLLL", "LLLDDD", "LDLDLD", "DLLLLD"}) {
        SCOPED_TRACE(pattern);
        collector::RootCell kept;
        kept.cell = block_of(16);
        collector::collect();
        uint32_t before = used_nodes();
        std::string p = pattern;
        for (size_t i = 0; i < p.size(); ++i) {
            std::string text(10 + 7 * i, char('a' + i));  // sizes differ: buffers of 32 and 48 data bytes
            Cell s;
            string::make_from_utf8(&s, text.data(), text.size());
            if (p[i] == 'L') append(kept.cell, s);
        }
        collector::collect();
        uint32_t live = 0;
        SeriesBuffer* next = nullptr;
        for (size_t i = 0; i < p.size(); ++i) {
            if (p[i] != 'L') continue;
            Cell s = cells(kept.cell)[live++];
            SeriesBuffer* b = alloc::buffer_of(s.payload2);
            EXPECT_EQ(b->node, s.payload2);
            if (next) EXPECT_EQ(b, next);
            next = reinterpret_cast<SeriesBuffer*>(reinterpret_cast<uint8_t*>(b) + alloc::footprint(b->size));
            EXPECT_EQ(string::to_utf8(&s), std::string(10 + 7 * i, char('a' + i)));
        }
        EXPECT_EQ(used_nodes(), before + live);
    }
}

TEST_F(Collector, BlocksKeepWhatTheyHoldAndCyclesEnd) {
    collector::RootCell outer;
    outer.cell = block_of(4);
    Cell inner = block_of(2);
    append(outer.cell, inner);
    Cell text;
    string::make_from_utf8(&text, "inside", 6);
    append(inner, text);
    append(inner, outer.cell);  // a cycle back to the outer block
    uint32_t before = used_nodes();
    for (int i = 0; i < 200; ++i) alloc::alloc_cells(8);
    collector::collect();
    EXPECT_EQ(used_nodes(), before);
    Cell* in = cells(cells(outer.cell)[0]);
    EXPECT_EQ(string::to_utf8(&in[0]), "inside");
    EXPECT_EQ(in[1].payload2, outer.cell.payload2);
}

TEST_F(Collector, MarkingDeepNestingUsesNoNativeStack) {
    test::StressMode off(false);  // a collection per block made would take time quadratic in the depth
    collector::RootCell top;
    top.cell = block_of(1);
    Cell current = top.cell;
    for (int i = 0; i < 1000000; ++i) {
        Cell next = block_of(1);
        append(current, next);
        current = next;
    }
    uint32_t before = used_nodes();
    collector::collect();
    EXPECT_EQ(used_nodes(), before);
    // The innermost block is still there, a million levels down.
    Cell walk = top.cell;
    int depth = 0;
    while (series::cell_count(walk.payload2) > 0) {
        walk = cells(walk)[0];
        ++depth;
    }
    EXPECT_EQ(depth, 1000000);
}

TEST_F(Collector, WordsKeepTheirContextAndStackCellsAreRoots) {
    uint32_t held = symbol::make("held");
    NodeId ctx = context::make(2, false, false, 0, 0);
    Cell word{type::word, ctx, held, uint32_t(-1)};
    Cell* w = stack::push(&word);  // only the stack holds the word, and through it the context
    context::add_word_if_absent(ctx, w);
    w->payload3 = 0;
    {
        collector::RootCell v;  // until the context holds it
        string::make_from_utf8(&v.cell, "value", 5);
        context::store_word(w, &v.cell, ctx, false);
    }
    for (int i = 0; i < 100; ++i) alloc::alloc_bytes(64);
    collector::collect();
    EXPECT_EQ(string::to_utf8(word::fetch(stack::last())), "value");
    stack::pop(1);
}

// Values held only by module roots (the block being evaluated, the error in
// flight) survive a collection that moves them; the error's arguments past
// its count are garbage. Start-up's reset then empties every module root.
TEST_F(Collector, ModuleRootsKeepWhatTheyHoldAndStartUpEmptiesThem) {
    test::StressMode off(false);
    auto text = [](const std::string& s) {
        Cell c;
        string::make_from_utf8(&c, s.data(), s.size());
        return c;
    };
    uint32_t before = used_nodes();
    for (int i = 0; i < 100; ++i) alloc::alloc_bytes(100);  // garbage below: what is kept moves
    interp::current_block = block_of(1);
    append(interp::current_block, text("in the block"));
    error::pending.value = text("the error");
    error::pending.arg_count = 1;
    error::pending.args[0] = text("argument");
    error::pending.args[1] = text("past the count");
    collector::collect();
    EXPECT_EQ(used_nodes(), before + 4);
    EXPECT_EQ(string::to_utf8(&cells(interp::current_block)[0]), "in the block");
    EXPECT_EQ(string::to_utf8(&error::pending.value), "the error");
    EXPECT_EQ(string::to_utf8(&error::pending.args[0]), "argument");

    collector::reset_module_roots();
    for (NodeId node : {root::block, symbol::table, context::global, value_slots::block, ownership::table})
        EXPECT_EQ(node, 0u);
    EXPECT_TRUE(cell::is(&interp::current_block, type::none));
    EXPECT_TRUE(cell::is(&error::pending.value, type::none));
    EXPECT_EQ(error::pending.arg_count, 0);
}

TEST_F(Collector, EmptyFramesAreReleasedBigBuffersToo) {
    test::StressMode off(false);  // measures the garbage that lives until the one collection
    uint64_t total = alloc::memory.total;
    for (int i = 0; i < 3000; ++i) alloc::alloc_bytes(1000);  // about three frames of garbage
    alloc::alloc_bytes(3 << 20);                               // a big buffer
    EXPECT_GT(alloc::memory.total, total + (4u << 20));
    collector::collect();
    // Back to the frames still in use: the last frame stays, however empty.
    EXPECT_LE(alloc::memory.total, total + (2u << 20) + 65536);
}

TEST_F(Collector, HandlesOfUnreachableValuesAreReleasedOnce) {
    int32_t kind = slots::register_kind("test", count_release);
    released = 0;
    collector::RootCell held;
    held.cell = Cell{type::handle, 0, 0, uint32_t(slots::alloc(1, kind))};
    slots::alloc(2, kind);  // nothing holds this one
    collector::collect();
    EXPECT_EQ(released, 1);
    collector::collect();
    EXPECT_EQ(released, 1);
}

// A collection at every allocation while values are built and read back
// through rooted cells and node ids: whatever moves, nothing is lost.
TEST_F(Collector, StressModeKeepsRootedValuesIntact) {
    sys::record.collector_enabled = true;
    alloc::stress = true;
    collector::RootCell list;
    list.cell = block_of(4);
    for (int i = 0; i < 300; ++i) {
        Cell s;
        std::string text = "item " + std::to_string(i);
        string::make_from_utf8(&s, text.data(), text.size());
        collector::Root guard(&s);
        alloc::alloc_bytes(50);  // garbage between the kept strings
        append(list.cell, s);
    }
    alloc::stress = false;
    sys::record.collector_enabled = false;
    for (int i = 0; i < 300; i += 29) EXPECT_EQ(string::to_utf8(&cells(list.cell)[i]), "item " + std::to_string(i));
    EXPECT_GT(collector::counters.collections, 600u);
}

#ifndef KEL_ASAN  // under AddressSanitizer that space is poisoned instead: a read faults
// In stress mode the space that compaction gives up is filled with 0xDB, so
// that a raw address kept across a collection reads garbage, not a stale copy.
TEST_F(Collector, StressModeFillsTheSpaceGivenUp) {
    test::StressMode on(true);
    NodeId garbage = alloc::alloc_filled_bytes(200, 0x11);
    SeriesFrame* f = alloc::memory.series_active;
    ASSERT_EQ(alloc::memory.series_tail, f);  // the frame stays, however empty
    uint8_t* old_top = f->heap_top;
    uint8_t* old_data = alloc::buffer_of(garbage)->data();
    collector::collect();
    ASSERT_LT(f->heap_top, old_top);
    EXPECT_LE(f->heap_top, old_data);
    size_t filled = 0;
    for (const uint8_t* p = f->heap_top; p < old_top; ++p) filled += *p == 0xDB;
    EXPECT_EQ(filled, size_t(old_top - f->heap_top));
}
#endif

TEST_F(Collector, StatisticsShowWhatIsReclaimed) {
    {
        test::StressMode off(false);  // measures the garbage that lives until the one collection
        double start = alloc::stats_block(nullptr, 1);
        EXPECT_GT(start, 0);
        for (int i = 0; i < 2000; ++i) alloc::alloc_bytes(500);
        alloc::alloc_bytes(3 << 20);  // a big frame
        double grown = alloc::stats_block(nullptr, 1);
        EXPECT_GT(grown, start + (4 << 20));
        collector::collect();
        EXPECT_LT(alloc::stats_block(nullptr, 1), start + 4096);
    }

    collector::RootCell out;
    out.cell = block_of(5);
    alloc::stats_block(&out.cell, 2);
    SeriesBuffer* b = alloc::buffer_of(out.cell.payload2);
    ASSERT_EQ((b->tail - b->offset) / 16, 5u);
    Cell* c = cells(out.cell);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(cell::is(&c[i], type::block)) << i;
    EXPECT_TRUE(cell::is(&c[3], type::integer));
    EXPECT_TRUE(cell::is(&c[4], type::integer));
    Cell* node_frame = cells(c[0]);
    ASSERT_TRUE(cell::is(&node_frame[0], type::block));
    EXPECT_TRUE(node_frame[0].header & cell::newline_flag);
    Cell* triple = cells(node_frame[0]);
    EXPECT_EQ(cell::integer(&triple[0]) + cell::integer(&triple[1]), cell::integer(&triple[2]));  // free + used
}

#ifdef KEL_ASAN
// Under AddressSanitizer a pointer kept into a buffer that a collection moved,
// or that growth left behind, faults where it reads.
TEST_F(Collector, StalePointersIntoMovedBuffersFault) {
    test::StressMode off(false);  // the garbage below must still be there when the test collects
    EXPECT_DEATH(
        {
            for (int i = 0; i < 100; ++i) alloc::alloc_bytes(1000);  // garbage below
            collector::RootCell kept;
            kept.cell = block_of(4);
            Cell* stale = cells(kept.cell);
            collector::collect();
            volatile uint32_t h = stale->header;
            (void)h;
        },
        "use-after-poison");
    EXPECT_DEATH(
        {
            collector::RootCell kept;
            kept.cell = block_of(4);
            Cell* stale = cells(kept.cell);
            alloc::expand_series(alloc::buffer_of(kept.cell.payload2), 4096);
            volatile uint32_t h = stale->header;
            (void)h;
        },
        "use-after-poison");
}
#endif
