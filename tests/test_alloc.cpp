#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <set>
#include <vector>

#include "runtime/alloc.hpp"
#include "runtime/error.hpp"
#include "runtime/mem.hpp"
#include "runtime/system.hpp"
#include "runtime/throws.hpp"

using namespace kel;
using alloc::memory;

namespace {

constexpr uint32_t MiB = 0x100000;

int collections = 0;
void count_collection() { ++collections; }

// Each test starts from a fresh record with the first node and series frames,
// on a tracked heap of its own.
struct Alloc : ::testing::Test {
    mem::HeapList heap;
    mem::HeapList* saved_heap = nullptr;

    void SetUp() override {
        saved_heap = sys::record.heap_list;
        sys::record.heap_list = &heap;
        collections = 0;
        alloc::init();
        alloc::make_first_frames();
    }
    void TearDown() override {
        alloc::collect_hook = nullptr;
        sys::record.collector_enabled = false;
        alloc::release_all_frames();
        EXPECT_EQ(memory.total, 0u);
        EXPECT_EQ(memory.series_head, nullptr);
        EXPECT_EQ(memory.node_head, nullptr);
        mem::release_all();
        sys::record.heap_list = saved_heap;
    }

    // No frames at all, as right after alloc::init.
    void start_empty() {
        alloc::release_all_frames();
        alloc::init();
    }
    // Back to the state SetUp leaves, for the next case of a table.
    void restart() {
        start_empty();
        alloc::make_first_frames();
        alloc::collect_hook = nullptr;
        sys::record.collector_enabled = false;
    }
    void count_collections() {
        alloc::collect_hook = count_collection;
        sys::record.collector_enabled = true;
    }
};

// The id of the language error that body raised, or null when none was.
const char* error_of(const std::function<void()>& body) {
    error::pending = {};
    uint32_t code = throws::protect(throws::error, body);
    return code == throws::error ? error::pending.id : nullptr;
}

uint64_t room(SeriesFrame* f) { return uint64_t(f->end - f->heap_top); }

SeriesFrame* frame_holding(SeriesBuffer* b) {
    auto* p = reinterpret_cast<uint8_t*>(b);
    for (SeriesFrame* f = memory.series_head; f; f = f->next)
        if (p >= f->data() && p < f->heap_top) return f;
    return nullptr;
}

bool in_big_list(SeriesBuffer* b) {
    for (BigFrame* f = memory.big_head; f; f = f->next)
        if (f->buffer() == b) return true;
    return false;
}

// A request of this many bytes has exactly this footprint.
uint32_t bytes_for_footprint(uint64_t footprint) { return uint32_t(footprint - alloc::footprint(0)); }

}  // namespace

TEST_F(Alloc, BufferLayoutFromRequest) {
    struct Case {
        uint64_t n;
        uint32_t unit;
        int32_t head;
        uint32_t size, offset;
        bool mid;
    };
    const Case cases[] = {
        {0, 16, 0, 0, 0, false},     // an empty cell buffer: footprint of the header and slack only
        {100, 1, -1, 112, 56, true}, // head in the middle
        {1, 16, -1, 16, 0, true},    // the middle of one cell is rounded down to a cell boundary
        {3, 16, -1, 48, 16, true},
        {5, 2, 0, 16, 0, false},
        {17, 1, 4, 32, 4, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "n=" << c.n << " unit=" << c.unit << " head=" << c.head);
        uint8_t* top = memory.series_active->heap_top;
        NodeId id = alloc::alloc_series(c.n, c.unit, c.head);
        SeriesBuffer* b = alloc::buffer_of(id);
        EXPECT_EQ(reinterpret_cast<uint8_t*>(b), top);
        EXPECT_EQ(memory.series_active->heap_top, top + 48 + c.size);
        EXPECT_EQ(b->node, id);
        EXPECT_EQ(b->size, c.size);
        EXPECT_EQ(b->offset, c.offset);
        EXPECT_EQ(b->tail, c.offset);
        EXPECT_EQ(b->unit(), c.unit);
        EXPECT_EQ(b->flags, c.unit | alloc::flag::in_use | alloc::flag::made | (c.mid ? alloc::flag::mid_head : 0));
        EXPECT_EQ(reinterpret_cast<uintptr_t>(b->data()) % 16, 0u);
        for (uint32_t i = 0; i < alloc::buffer_slack; ++i) EXPECT_EQ(b->data()[c.size + i], 0);
    }
}

TEST_F(Alloc, SizedHelpers) {
    struct Case {
        const char* what;
        NodeId (*make)();
        uint32_t size, unit;
    };
    const Case cases[] = {
        {"alloc_bytes(0) asks for 16", [] { return alloc::alloc_bytes(0); }, 16, 1},
        {"alloc_bytes(17)", [] { return alloc::alloc_bytes(17); }, 32, 1},
        {"alloc_units(0, 1): 16 units", [] { return alloc::alloc_units(0, 1); }, 16, 1},
        {"alloc_units(0, 2): 8 units", [] { return alloc::alloc_units(0, 2); }, 16, 2},
        {"alloc_units(0, 4): 4 units", [] { return alloc::alloc_units(0, 4); }, 16, 4},
        {"alloc_units(5, 4)", [] { return alloc::alloc_units(5, 4); }, 32, 4},
        {"alloc_cells(0) stays empty", [] { return alloc::alloc_cells(0); }, 0, 16},
        {"alloc_cells(3)", [] { return alloc::alloc_cells(3); }, 48, 16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SeriesBuffer* b = alloc::buffer_of(c.make());
        EXPECT_EQ(b->size, c.size);
        EXPECT_EQ(b->unit(), c.unit);
        EXPECT_EQ(b->offset, 0u);
        EXPECT_EQ(b->tail, 0u);
    }
}

TEST_F(Alloc, FilledBuffers) {
    // Dirty the frame first, so that what the helpers write is what is seen.
    SeriesBuffer* dirt = alloc::buffer_of(alloc::alloc_filled_bytes(200, 0xEE));
    for (uint32_t i = 0; i < dirt->size; ++i) ASSERT_EQ(dirt->data()[i], 0xEE);
    memory.series_active->heap_top = reinterpret_cast<uint8_t*>(dirt);

    SeriesBuffer* cells = alloc::buffer_of(alloc::alloc_unset_cells(3));
    ASSERT_EQ(cells, dirt);
    EXPECT_EQ(cells->size, 48u);
    EXPECT_EQ(cells->tail, cells->offset);
    auto* c = reinterpret_cast<Cell*>(cells->data());
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(c[i].header, 2u);
        EXPECT_EQ(c[i].payload1 | c[i].payload2 | c[i].payload3, 0u);
    }
    for (uint32_t i = 0; i < alloc::buffer_slack; ++i) EXPECT_EQ(cells->data()[48 + i], 0);  // slack zeroed again

    SeriesBuffer* bytes = alloc::buffer_of(alloc::alloc_filled_bytes(5, 0xAB));
    EXPECT_EQ(bytes->size, 16u);
    for (uint32_t i = 0; i < 16; ++i) EXPECT_EQ(bytes->data()[i], 0xAB);
    EXPECT_EQ(bytes->tail, 0u);
}

TEST_F(Alloc, FrameFilledToItsEndIsFull) {
    // Leave exactly 4 KiB in the first frame, then ask for that footprint or
    // 16 bytes less.
    struct Case {
        uint64_t footprint;
        bool fits;
    };
    for (Case c : {Case{0x1000, false}, Case{0x1000 - 16, true}}) {
        SCOPED_TRACE(c.footprint);
        SeriesFrame* first = memory.series_head;
        alloc::alloc_bytes(bytes_for_footprint(MiB - 0x1000));
        ASSERT_EQ(room(first), 0x1000u);
        EXPECT_EQ(alloc::find_series_frame(c.footprint), c.fits ? first : nullptr);

        SeriesBuffer* b = alloc::buffer_of(alloc::alloc_bytes(bytes_for_footprint(c.footprint)));
        EXPECT_EQ(frame_holding(b) == first, c.fits);
        EXPECT_EQ(memory.series_head->next != nullptr, !c.fits);  // a new frame was made
        if (c.fits) {
            EXPECT_EQ(room(first), 16u);
        }
        restart();
    }
}

TEST_F(Alloc, SeriesFramesOneMibThenTwo) {
    SeriesFrame* first = memory.series_head;
    EXPECT_EQ(first->end - first->data(), MiB);
    for (int i = 0; i < 3; ++i) {
        SeriesFrame* f = alloc::new_series_frame();
        EXPECT_EQ(f->end - f->data(), 2 * MiB);
    }
    EXPECT_EQ(memory.series_active, first);  // making a frame does not activate it

    // Without frames, a first request of at least 1 MiB gets a 2 MiB frame.
    start_empty();
    SeriesBuffer* b = alloc::buffer_of(alloc::alloc_bytes(bytes_for_footprint(MiB)));
    SeriesFrame* f = frame_holding(b);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->end - f->data(), 2 * MiB);
    EXPECT_EQ(memory.series_active, f);
}

TEST_F(Alloc, FootprintOfTwoMibGetsBigFrame) {
    count_collections();
    uint64_t total = memory.total;
    SeriesBuffer* big = alloc::buffer_of(alloc::alloc_bytes(bytes_for_footprint(2 * MiB)));
    EXPECT_EQ(collections, 1);  // before the big frame is made
    EXPECT_TRUE(big->flags & alloc::flag::big);
    EXPECT_TRUE(in_big_list(big));
    EXPECT_EQ(memory.big_head->size, 2 * MiB);
    EXPECT_EQ(memory.total - total, 2 * MiB + 4096u);  // header and size prefix round up a page
    EXPECT_EQ(reinterpret_cast<uintptr_t>(big->data()) % 16, 0u);

    // 16 bytes less goes to a series frame: a new 2 MiB one, as the first
    // has no room (that search collects once more).
    SeriesBuffer* b = alloc::buffer_of(alloc::alloc_bytes(bytes_for_footprint(2 * MiB - 16)));
    EXPECT_FALSE(b->flags & alloc::flag::big);
    SeriesFrame* f = frame_holding(b);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->end - f->data(), 2 * MiB);
    EXPECT_EQ(collections, 2);

    // Nothing collects until start-up enables the collector.
    sys::record.collector_enabled = false;
    alloc::alloc_bytes(bytes_for_footprint(3 * MiB));
    EXPECT_EQ(collections, 2);
}

// A new frame or big buffer collects first only once the frames would pass
// the size the last collection planned: twice the bytes then in use.
TEST_F(Alloc, NewFramesCollectOnlyPastThePlannedSize) {
    count_collections();
    constexpr uint64_t frame_bytes = 2 * MiB + 4096;  // a 2 MiB frame, its header rounding up a page
    uint32_t fills_a_frame = bytes_for_footprint(2 * MiB - 16);
    memory.collect_at = memory.total + 2 * frame_bytes;
    alloc::alloc_bytes(fills_a_frame);
    alloc::alloc_bytes(fills_a_frame);
    EXPECT_EQ(collections, 0);
    alloc::alloc_bytes(fills_a_frame);
    EXPECT_EQ(collections, 1);

    memory.collect_at = memory.total + 3 * MiB + 4096;
    alloc::alloc_bytes(bytes_for_footprint(3 * MiB));  // a big buffer that just fits the plan
    EXPECT_EQ(collections, 1);
    alloc::alloc_bytes(bytes_for_footprint(2 * MiB));
    EXPECT_EQ(collections, 2);

    restart();
    alloc::plan_collection();
    EXPECT_EQ(memory.collect_at, alloc::min_collect_at);  // nothing in use
    alloc::alloc_bytes(bytes_for_footprint(MiB / 2));
    alloc::alloc_bytes(bytes_for_footprint(3 * MiB));
    alloc::plan_collection();
    EXPECT_EQ(memory.collect_at, 2 * (MiB / 2 + 3 * MiB));
}

TEST_F(Alloc, FrameFoundAfterCollectionMustKeepRoom) {
    // The first frame is full; the "collection" frees `freed` bytes at its end.
    static uint64_t freed;
    struct Case {
        uint64_t freed;
        bool reused;
    };
    for (Case c : {Case{0xCCD0, true}, Case{0xCCC0, false}, Case{0, false}}) {  // heap tops stay 16-aligned
        SCOPED_TRACE(c.freed);
        SeriesFrame* first = memory.series_head;
        alloc::alloc_bytes(bytes_for_footprint(MiB - 16));
        ASSERT_EQ(room(first), 16u);
        freed = c.freed;
        alloc::collect_hook = [] { memory.series_head->heap_top = memory.series_head->end - freed; };
        sys::record.collector_enabled = true;

        SeriesBuffer* b = alloc::buffer_of(alloc::alloc_bytes(64));
        EXPECT_EQ(frame_holding(b) == first, c.reused);
        EXPECT_EQ(memory.series_head->next == nullptr, c.reused);
        EXPECT_EQ(memory.series_active, frame_holding(b));
        restart();
    }
}

TEST_F(Alloc, ExpansionKeepsContentAndTailDistance) {
    struct Case {
        uint64_t n;
        uint32_t unit;
        int32_t head;
        uint32_t used;  // bytes in use before growing
        uint64_t new_size;
        uint32_t grown;
    };
    const Case cases[] = {
        {16, 1, 0, 10, 0, 32},    // 0 doubles
        {0, 16, 0, 0, 0, 16},     // an empty buffer grows to 16 bytes
        {100, 1, -1, 40, 0, 224}, // head in the middle: content moves to the data start
        {16, 1, 4, 12, 40, 48},   // an explicit size is rounded up to 16
        {2, 16, 0, 32, 0, 64},
        {3, 4, 0, 8, 10, 16},     // 10 bytes of 4-byte units: rounded up to whole units
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "n=" << c.n << " unit=" << c.unit << " head=" << c.head);
        NodeId id = alloc::alloc_series(c.n, c.unit, c.head);
        SeriesBuffer* b = alloc::buffer_of(id);
        uint32_t offset = b->offset;
        for (uint32_t i = 0; i < c.used; ++i) b->data()[offset + i] = uint8_t('a' + i % 26);
        b->tail = offset + c.used;
        alloc::set_flags(id, alloc::flag::owned | 0x00400000);

        SeriesBuffer* nb = alloc::expand_series(b, c.new_size);
        EXPECT_EQ(alloc::buffer_of(id), nb);
        EXPECT_EQ(nb->node, id);
        EXPECT_EQ(nb->size, c.grown);
        EXPECT_EQ(nb->offset, 0u);
        EXPECT_EQ(nb->tail, c.used);
        for (uint32_t i = 0; i < c.used; ++i) ASSERT_EQ(nb->data()[i], uint8_t('a' + i % 26));
        // The unit and type-level flags pass on; where the head was placed does not.
        EXPECT_EQ(nb->flags, c.unit | alloc::flag::in_use | alloc::flag::made | alloc::flag::owned | 0x00400000);
        EXPECT_EQ(b->node, 0u);
        EXPECT_FALSE(b->flags & alloc::flag::in_use);
    }
}

TEST_F(Alloc, GrownFixedBufferIsAnOrdinaryOne) {
    NodeId id = alloc::alloc_external(4, 1, 2);
    SeriesBuffer* fixed = alloc::buffer_of(id);
    EXPECT_EQ(fixed->flags, 1u | alloc::flag::in_use | alloc::flag::fixed | alloc::flag::made);
    EXPECT_EQ(fixed->size, 16u);
    EXPECT_EQ(fixed->offset, 2u);
    EXPECT_EQ(frame_holding(fixed), nullptr);  // on the C heap
    std::memcpy(fixed->data() + 2, "xyz", 3);
    fixed->tail = 5;

    SeriesBuffer* nb = alloc::expand_series(fixed, 0);
    EXPECT_FALSE(nb->flags & alloc::flag::fixed);
    EXPECT_NE(frame_holding(nb), nullptr);
    EXPECT_EQ(nb->tail, 3u);
    EXPECT_EQ(std::memcmp(nb->data(), "xyz", 3), 0);
}

TEST_F(Alloc, ExpandFillSetsOnlyTheAddedBytes) {
    SeriesBuffer* b = alloc::buffer_of(alloc::alloc_filled_bytes(16, 'a'));
    SeriesBuffer* nb = alloc::expand_fill(b, 40, 'z');
    EXPECT_EQ(nb->size, 48u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(nb->data()), 40), std::string(16, 'a') + std::string(24, 'z'));

    nb = alloc::expand_fill(nb, 0, '-');  // doubled: the fill runs to the new end
    EXPECT_EQ(nb->size, 96u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(nb->data()), 40), std::string(16, 'a') + std::string(24, 'z'));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(nb->data()) + 48, 48), std::string(48, '-'));
}

TEST_F(Alloc, CloneCopiesContentNotPlacement) {
    NodeId id = alloc::alloc_series(100, 1, -1);
    SeriesBuffer* b = alloc::buffer_of(id);
    std::memcpy(b->data() + b->offset, "hello", 5);
    b->tail = b->offset + 5;
    alloc::set_flags(id, alloc::flag::owned | 0x00400000);

    SeriesBuffer* c = alloc::buffer_of(alloc::clone_buffer(b));
    EXPECT_EQ(c->size, 112u);
    EXPECT_EQ(c->offset, 0u);
    EXPECT_EQ(c->tail, 5u);
    EXPECT_EQ(std::memcmp(c->data(), "hello", 5), 0);
    EXPECT_EQ(c->flags, 1u | alloc::flag::in_use | alloc::flag::made | 0x00400000);

    // A cell buffer keeps its unit; an empty one becomes 16 bytes; a fixed one is not fixed.
    SeriesBuffer* cells = alloc::buffer_of(alloc::clone_buffer(alloc::buffer_of(alloc::alloc_cells(0))));
    EXPECT_EQ(cells->unit(), 16u);
    EXPECT_EQ(cells->size, 16u);
    EXPECT_EQ(cells->tail, 0u);
    SeriesBuffer* fixed = alloc::buffer_of(alloc::clone_buffer(alloc::buffer_of(alloc::alloc_external(8, 2, 0))));
    EXPECT_EQ(fixed->flags, 2u | alloc::flag::in_use | alloc::flag::made);
}

TEST_F(Alloc, BumpTailGrowsFromEmpty) {
    NodeId id = alloc::alloc_cells(0);
    Cell block{5, 0, id, 0};  // a block! cell on that series
    const uint32_t sizes[] = {16, 32, 64, 64, 128};
    for (uint32_t i = 0; i < 5; ++i) {
        Cell* c = series::alloc_tail(&block);
        c->payload1 = 100 + i;
        SeriesBuffer* b = alloc::buffer_of(id);
        EXPECT_EQ(c, reinterpret_cast<Cell*>(b->data()) + i);
        EXPECT_EQ(c->header, 2u);
        EXPECT_EQ(b->tail, 16 * (i + 1));
        EXPECT_EQ(b->size, sizes[i]);
    }
    auto* cells = reinterpret_cast<Cell*>(alloc::buffer_of(id)->data());
    for (uint32_t i = 0; i < 5; ++i) EXPECT_EQ(cells[i].payload1, 100 + i);

    // A head in the middle of an odd number of cells stays on a cell boundary,
    // so the tail meets the end of the data area exactly.
    NodeId mid_id = alloc::alloc_series(3, 16, -1);
    SeriesBuffer* mid = alloc::buffer_of(mid_id);
    EXPECT_EQ(mid->offset, 16u);
    series::bump_tail(mid);
    series::bump_tail(mid);
    EXPECT_EQ(mid->tail, mid->size);
    series::bump_tail(mid);
    SeriesBuffer* grown = alloc::buffer_of(mid_id);
    EXPECT_NE(grown, mid);
    EXPECT_EQ(grown->size, 96u);
    EXPECT_EQ(grown->offset, 0u);
    EXPECT_EQ(grown->tail, 48u);
}

TEST_F(Alloc, BumpTailBytes) {
    struct Case {
        uint32_t size, tail, n, grown;
    };
    const Case cases[] = {
        {16, 0, 16, 16},  // fits exactly: no growth
        {16, 10, 10, 32}, // doubles
        {16, 0, 17, 48},  // more than the size: 2n, rounded up
        {32, 30, 30, 64},
        {16, 16, 0, 16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.size << " " << c.tail << " " << c.n);
        NodeId id = alloc::alloc_filled_bytes(c.size, 'q');
        SeriesBuffer* b = alloc::buffer_of(id);
        b->tail = c.tail;
        uint8_t* p = series::bump_tail_bytes(b, c.n);
        b = alloc::buffer_of(id);
        EXPECT_EQ(b->size, c.grown);
        EXPECT_EQ(p, b->data() + c.tail);
        EXPECT_EQ(b->tail, c.tail + c.n);
        for (uint32_t i = 0; i < c.tail; ++i) ASSERT_EQ(b->data()[i], 'q');
    }
}

TEST_F(Alloc, NodesComeBackThroughTheFreeChain) {
    NodeFrame* f = memory.node_head;
    NodeId a = alloc::alloc_cells(0), b = alloc::alloc_cells(0), c = alloc::alloc_cells(0);
    EXPECT_EQ(a, 1u);  // id 0 is no node
    EXPECT_EQ(b, 2u);
    EXPECT_EQ(c, 3u);
    EXPECT_EQ(f->used, 3u);
    EXPECT_EQ(alloc::frame_of(b), f);

    alloc::free_node(b);
    alloc::free_node(a);
    EXPECT_EQ(f->used, 1u);
    EXPECT_EQ(alloc::take_node(), a);  // last freed, first taken
    EXPECT_EQ(alloc::buffer_of(a), nullptr);
    EXPECT_EQ(alloc::take_node(), b);
    EXPECT_EQ(alloc::take_node(), 4u);
    EXPECT_EQ(f->used, 4u);
}

TEST_F(Alloc, NodeFramesAndTheirSweep) {
    std::vector<NodeId> ids;
    for (uint32_t i = 0; i < alloc::node_frame_ids + 5; ++i) ids.push_back(alloc::alloc_cells(0));
    NodeFrame* first = memory.node_head;
    NodeFrame* second = first->next;
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(first->used, alloc::node_frame_ids);
    EXPECT_EQ(first->free_head, 0u);
    EXPECT_EQ(second->first, alloc::node_frame_ids + 1);
    EXPECT_EQ(second->used, 5u);
    EXPECT_EQ(memory.node_active, second);
    for (NodeId id : ids) ASSERT_EQ(alloc::buffer_of(id)->node, id);

    alloc::sweep_node_frames();
    alloc::sweep_node_frames();
    EXPECT_EQ(first->history, 1u);  // changed before the first sweep, stable since
    EXPECT_EQ(second->history, 1u);
    EXPECT_EQ(second->last_used, 5u);

    // An emptied frame is released; with no free id left anywhere, the next
    // node makes a new frame, which takes the released range of ids.
    for (int i = 0; i < 5; ++i) alloc::free_node(ids.back() - i);
    alloc::sweep_node_frames();
    EXPECT_EQ(memory.node_tail, first);
    EXPECT_EQ(memory.node_active, first);
    EXPECT_EQ(alloc::take_node(), alloc::node_frame_ids + 1);
    NodeFrame* third = memory.node_tail;
    EXPECT_NE(third, first);
    EXPECT_EQ(memory.node_active, third);

    // The first frame with room becomes active; an evacuated frame is skipped
    // by take_node and released by the sweep.
    alloc::free_node(ids[7]);
    alloc::sweep_node_frames();
    EXPECT_EQ(memory.node_active, first);
    first->evacuated = 1;
    memory.node_active = third;
    while (third->free_head) alloc::take_node();
    EXPECT_EQ(alloc::take_node(), 2 * alloc::node_frame_ids + 1);  // not the free id 8 of the first frame
    alloc::sweep_node_frames();
    EXPECT_EQ(memory.node_head, third);
    EXPECT_EQ(memory.node_head->prev, nullptr);
}

TEST_F(Alloc, ManyAllocationsFillNewFrames) {
    constexpr uint32_t count = 12000;
    std::vector<NodeId> ids;
    for (uint32_t i = 0; i < count; ++i) {
        NodeId id = alloc::alloc_bytes(100);
        std::memcpy(alloc::buffer_of(id)->data(), &i, sizeof i);
        ids.push_back(id);
    }
    std::set<NodeId> distinct(ids.begin(), ids.end());
    EXPECT_EQ(distinct.size(), count);
    for (uint32_t i = 0; i < count; ++i) {
        SeriesBuffer* b = alloc::buffer_of(ids[i]);
        uint32_t got;
        std::memcpy(&got, b->data(), sizeof got);
        ASSERT_EQ(got, i);
        ASSERT_NE(frame_holding(b), nullptr);
    }

    // 160-byte footprints: 6,553 in the 1 MiB frame, the rest in a 2 MiB one.
    int frames = 0;
    uint64_t filled = 0;
    for (SeriesFrame* f = memory.series_head; f; f = f->next, ++frames) {
        if (f->next) EXPECT_LT(uintptr_t(f), uintptr_t(f->next));
        else EXPECT_EQ(memory.series_tail, f);
        filled += uint64_t(f->heap_top - f->data());
    }
    EXPECT_EQ(frames, 2);
    EXPECT_EQ(filled, uint64_t(count) * 160);
    SeriesFrame* small = memory.series_head;  // the 2 MiB frame may lie below it
    if (small->end - small->data() != MiB) small = small->next;
    EXPECT_EQ(room(small), MiB - 6553u * 160);

    int node_frames = 0;
    for (NodeFrame* f = memory.node_head; f; f = f->next) ++node_frames;
    EXPECT_EQ(node_frames, 2);
}

TEST_F(Alloc, SeriesFramesStayInAddressOrder) {
    for (int i = 0; i < 4; ++i) alloc::new_series_frame();
    auto ordered = [] {
        int n = 0;
        for (SeriesFrame* f = memory.series_head; f; f = f->next, ++n) {
            if (f->prev) EXPECT_EQ(f->prev->next, f);
            else EXPECT_EQ(memory.series_head, f);
            if (f->next) EXPECT_LT(uintptr_t(f), uintptr_t(f->next));
            else EXPECT_EQ(memory.series_tail, f);
        }
        return n;
    };
    EXPECT_EQ(ordered(), 5);

    // Releasing the active frame hands activity to the tail.
    SeriesFrame* second = memory.series_head->next;
    memory.series_active = second;
    uint64_t total = memory.total;
    alloc::free_series_frame(second);
    EXPECT_EQ(memory.series_active, memory.series_tail);
    EXPECT_EQ(total - memory.total, 2 * MiB + 4096u);
    alloc::free_series_frame(memory.series_head);
    alloc::free_series_frame(memory.series_tail);
    EXPECT_EQ(ordered(), 2);
}

TEST_F(Alloc, SweepReleasesUnmarkedBigFrames) {
    NodeId kept = alloc::alloc_bytes(2 * MiB);
    NodeId dead = alloc::alloc_bytes(2 * MiB);
    NodeId grown = alloc::alloc_bytes(2 * MiB);
    alloc::expand_series(alloc::buffer_of(grown), 0);  // the replaced buffer has no node any more
    uint64_t total = memory.total;
    uint32_t used = memory.node_head->used;
    static NodeId live;  // the collector's marks: only kept is live
    live = kept;

    alloc::sweep_big_frames([](NodeId id) { return id == live; });
    EXPECT_TRUE(in_big_list(alloc::buffer_of(kept)));
    int left = 0;
    for (BigFrame* f = memory.big_head; f; f = f->next) ++left;
    EXPECT_EQ(left, 1);
    EXPECT_EQ(total - memory.total, 2 * (2 * MiB + 4096u) + 4 * MiB + 4096u);
    EXPECT_EQ(memory.node_head->used, used - 2);
    EXPECT_EQ(alloc::take_node(), grown);  // the dead nodes went back to the free chain
    EXPECT_EQ(alloc::take_node(), dead);
}

TEST_F(Alloc, OversizeRequestsRaiseNoMemory) {
    NodeId id = alloc::alloc_bytes(16);
    struct Case {
        const char* what;
        std::function<void()> body;
    };
    const Case cases[] = {
        {"rounds past the limit", [] { alloc::alloc_bytes(0x7FFFFFF1); }},
        {"units x 16 wraps in 32 bits", [] { alloc::alloc_cells(0x10000001); }},
        {"a negative count", [] { alloc::alloc_series(uint64_t(int64_t(-1)), 1, 0); }},
        {"2-byte units", [] { alloc::alloc_units(0x40000000, 2); }},
        {"fixed buffer", [] { alloc::alloc_external(0x80000000, 1, 0); }},
        {"growth to 2 GiB", [id] { alloc::realloc_series(alloc::buffer_of(id), 0x80000000); }},
        {"2n wraps in 32 bits", [id] { series::bump_tail_bytes(alloc::buffer_of(id), 0x80000001); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        uint8_t* top = memory.series_active->heap_top;
        uint32_t used = memory.node_head->used;
        uint64_t total = memory.total;
        const char* raised = error_of(c.body);
        ASSERT_NE(raised, nullptr);
        EXPECT_STREQ(raised, "no-memory");
        EXPECT_EQ(memory.series_active->heap_top, top);
        EXPECT_EQ(memory.node_head->used, used);
        EXPECT_EQ(memory.total, total);
        EXPECT_EQ(sys::record.throw_code, 0u);
    }
    EXPECT_EQ(alloc::buffer_of(id)->node, id);  // the buffer asked to grow is untouched
}

TEST_F(Alloc, VirtualMemoryFailuresBecomeLanguageErrors) {
    uint64_t total = memory.total;
    EXPECT_STREQ(error_of([] { alloc::virtual_alloc(size_t(1) << 62, false); }), "no-memory");
    EXPECT_STREQ(error_of([] { alloc::virtual_alloc(SIZE_MAX - 8, false); }), "no-memory");
    EXPECT_EQ(memory.total, total);

    // A block that the system never gave out: not even page-aligned.
    alignas(4096) static uint8_t fake[3 * 4096];
    *reinterpret_cast<size_t*>(fake + 16) = 4096;
    EXPECT_STREQ(error_of([] { alloc::virtual_free(fake + 32); }), "wrong-mem");
    EXPECT_EQ(memory.total, total);
    EXPECT_EQ(sys::record.throw_code, 0u);
}

TEST(AllocCell, HeaderHelpers) {
    Cell c{0x40123405, 1, 2, 3};
    cell::set_type(&c, 15);
    EXPECT_EQ(c.header, 0x4012340Fu);
    cell::clear_newline(&c);
    EXPECT_EQ(c.header, 0x0012340Fu);
}
