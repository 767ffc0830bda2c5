#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "runtime/slots.hpp"

using namespace kel;

namespace {

std::vector<uintptr_t> released;  // data words, in release order
void release_a(uintptr_t data) { released.push_back(data); }
void release_b(uintptr_t data) { released.push_back(data + 1000000); }

std::vector<uintptr_t> visited;
void visit(uintptr_t data) { visited.push_back(data); }

// A fresh table with kinds a (1) and b (2), each releasing into `released`
// (b's words shifted so the two can be told apart), and c (3) with nothing to release.
struct Slots : ::testing::Test {
    int32_t a = 0, b = 0, c = 0;
    void SetUp() override {
        slots::init();
        released.clear();
        visited.clear();
        a = slots::register_kind("a", release_a);
        b = slots::register_kind("b", release_b);
        c = slots::register_kind("c", nullptr);
    }
    void TearDown() override { expect_chains_whole(); }

    // Every record is on exactly one chain, and its free flag says which.
    static void expect_chains_whole() {
        const slots::Table& t = slots::table;
        std::vector<int> seen(size_t(t.capacity), 0);
        auto walk = [&](int32_t head, bool free) {
            for (int32_t i = head; i != -1; i = t.records[i].next) {
                ASSERT_GE(i, 0);
                ASSERT_LT(i, t.capacity);
                ASSERT_EQ(seen[size_t(i)]++, 0) << "record " << i << " on a chain twice";
                EXPECT_EQ((t.records[i].flags & slots::flag_free) != 0, free) << i;
                if (free) {
                    EXPECT_EQ(t.records[i].data, 0u) << i;
                }
            }
        };
        walk(t.free_head, true);
        walk(t.used_head, false);
        EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), t.capacity);
    }
};

}  // namespace

TEST_F(Slots, ArrayDoublesWhenItsLastFreeRecordIsTakenAndKeepsIndices) {
    for (uintptr_t n = 0; n < 999; ++n) EXPECT_EQ(slots::alloc(n + 1, a), int32_t(n));
    EXPECT_EQ(slots::table.capacity, 1000);
    EXPECT_EQ(slots::alloc(1000, a), 999);  // the last free record
    EXPECT_EQ(slots::table.capacity, 2000);
    for (uintptr_t n = 1000; n < 2000; ++n) slots::alloc(n + 1, a);
    EXPECT_EQ(slots::table.capacity, 4000);
    slots::for_each_of_kind(a, visit);
    EXPECT_EQ(visited.size(), 2000u);
    for (int32_t i = 0; i < 2000; ++i) EXPECT_EQ(slots::table.records[i].data, uintptr_t(i) + 1);
    EXPECT_TRUE(released.empty());
}

TEST_F(Slots, FreedRecordsAreTakenAgainNewestFirst) {
    int32_t r0 = slots::alloc(10, a), r1 = slots::alloc(11, a), r2 = slots::alloc(12, a);
    EXPECT_EQ(slots::free(r1, false), -1);
    EXPECT_EQ(slots::free(r0, false), -1);
    EXPECT_EQ(slots::table.records[r1].flags, slots::flag_free);
    EXPECT_EQ(slots::table.records[r1].data, 0u);
    EXPECT_EQ(slots::alloc(20, b), r0);
    EXPECT_EQ(slots::alloc(21, b), r1);
    EXPECT_EQ(slots::table.records[r1].flags, uint32_t(b));
    slots::free(r2, false);  // the head of the used chain
    slots::for_each_of_kind(b, visit);
    EXPECT_EQ(visited, (std::vector<uintptr_t>{21, 20}));
    EXPECT_TRUE(released.empty());
}

// Each way a record's data goes away, and how often its kind's release runs.
TEST_F(Slots, DataIsReleasedThroughItsKindExactlyOnce) {
    struct Case {
        const char* what;
        int kind;  // 0, or 1-3 for a, b, c
        void (*act)(int32_t index);
        std::vector<uintptr_t> released;
    } cases[] = {
        {"free with release", 1, [](int32_t i) { slots::free(i, true); }, {7}},
        {"free of kind b", 2, [](int32_t i) { slots::free(i, true); }, {1000007}},
        {"free without release", 1, [](int32_t i) { slots::free(i, false); }, {}},
        {"free, kind without release", 3, [](int32_t i) { slots::free(i, true); }, {}},
        {"free, no kind", 0, [](int32_t i) { slots::free(i, true); }, {}},
        {"set new data", 1, [](int32_t i) { slots::set_data(i, 8); }, {7}},
        {"set the same data", 1, [](int32_t i) { slots::set_data(i, 7); }, {}},
        {"set data twice, then free", 1,
         [](int32_t i) {
             slots::set_data(i, 8);
             slots::set_data(i, 9);
             slots::free(i, true);
         },
         {7, 8, 9}},
        {"mark replaces data without release", 1,
         [](int32_t i) {
             slots::mark(i, 8);
             slots::mark(i, 0);  // keeps 8
             slots::free(i, true);
         },
         {8}},
        {"free twice", 1,
         [](int32_t i) {
             slots::free(i, true);
             EXPECT_EQ(slots::free(i, true), -1);
         },
         {7}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        slots::init();
        slots::register_kind("a", release_a);
        slots::register_kind("b", release_b);
        slots::register_kind("c", nullptr);
        released.clear();
        int32_t other = slots::alloc(99, k.kind);
        k.act(slots::alloc(7, k.kind));
        EXPECT_EQ(released, k.released);
        EXPECT_EQ(slots::table.records[other].data, 99u);
        expect_chains_whole();
    }
}

// Freed twice, a record used to go on the free chain twice and be handed out
// to two owners.
TEST_F(Slots, FreeingAFreeRecordChangesNothing) {
    int32_t x = slots::alloc(1, a);
    int32_t y = slots::alloc(2, a);
    slots::free(x, true);
    slots::Table before = slots::table;
    slots::free(x, true);
    slots::free(x, false);
    EXPECT_EQ(slots::table.free_head, before.free_head);
    EXPECT_EQ(slots::table.used_head, before.used_head);
    EXPECT_EQ(released, (std::vector<uintptr_t>{1}));
    expect_chains_whole();
    int32_t p = slots::alloc(3, a), q = slots::alloc(4, a);
    EXPECT_NE(p, q);
    EXPECT_NE(q, y);
    slots::for_each_of_kind(a, visit);
    EXPECT_EQ(visited, (std::vector<uintptr_t>{4, 3, 2}));
}

TEST_F(Slots, SweepFreesAndReleasesTheUnmarkedOnly) {
    slots::sweep();  // empty used chain
    EXPECT_TRUE(released.empty());

    struct Entry {
        int32_t kind;
        uintptr_t data;
        bool marked;
    } entries[] = {
        {a, 1, false}, {a, 2, true}, {b, 3, false}, {c, 4, false},
        {0, 5, false}, {b, 6, true}, {a, 7, true},  {a, 8, false},
    };
    std::vector<int32_t> index;
    for (const Entry& e : entries) index.push_back(slots::alloc(e.data, e.kind));
    for (size_t i = 0; i < std::size(entries); ++i)
        if (entries[i].marked) {
            EXPECT_TRUE(slots::mark(index[i], 0));
        }
    EXPECT_FALSE(slots::mark(index[1], 0));  // already marked

    slots::sweep();
    std::sort(released.begin(), released.end());
    EXPECT_EQ(released, (std::vector<uintptr_t>{1, 8, 1000003}));
    for (size_t i = 0; i < std::size(entries); ++i) {
        const slots::HandleRecord& r = slots::table.records[index[i]];
        EXPECT_EQ(r.flags, entries[i].marked ? uint32_t(entries[i].kind) : slots::flag_free) << i;
    }
    for (int32_t k : {a, b}) slots::for_each_of_kind(k, visit);
    EXPECT_EQ(visited, (std::vector<uintptr_t>{7, 2, 6}));  // kept, in their order
    expect_chains_whole();

    // The marks are gone: the next sweep takes the rest.
    released.clear();
    slots::sweep();
    std::sort(released.begin(), released.end());
    EXPECT_EQ(released, (std::vector<uintptr_t>{2, 7, 1000006}));
    EXPECT_EQ(slots::table.used_head, -1);
}

TEST_F(Slots, ForEachOfKindVisitsExactlyItsKind) {
    for (uintptr_t n = 1; n <= 12; ++n) slots::alloc(n, n % 3 == 0 ? a : n % 3 == 1 ? b : 0);
    slots::free(5, false);  // data 6, kind a
    slots::for_each_of_kind(a, visit);
    EXPECT_EQ(visited, (std::vector<uintptr_t>{12, 9, 3}));
    visited.clear();
    slots::for_each_of_kind(c, visit);
    EXPECT_TRUE(visited.empty());
    slots::for_each_of_kind(0, visit);
    EXPECT_EQ(visited, (std::vector<uintptr_t>{11, 8, 5, 2}));
}

// Release procedures that call back into the table while a sweep runs:
// taking records (enough to grow the array) and freeing the records the
// sweep is freeing.
namespace {
std::vector<int32_t> victims;
void release_reentering(uintptr_t data) {
    released.push_back(data);
    for (int32_t v : victims) slots::free(v, true);
    for (int i = 0; i < 600; ++i) slots::alloc(0, 0);
}
}  // namespace

TEST_F(Slots, ReleaseProceduresMayUseTheTable) {
    int32_t r = slots::register_kind("reentering", release_reentering);
    int32_t first = slots::alloc(1, r);
    int32_t second = slots::alloc(2, r);
    int32_t kept = slots::alloc(3, a);
    slots::mark(kept, 0);
    victims = {first, second};
    slots::sweep();
    victims.clear();
    std::sort(released.begin(), released.end());
    EXPECT_EQ(released, (std::vector<uintptr_t>{1, 2}));
    EXPECT_EQ(slots::table.capacity, 2000);
    EXPECT_EQ(slots::table.records[first].flags & slots::kind_mask, 0u);  // free, or taken by the callback
    EXPECT_EQ(slots::table.records[second].flags & slots::kind_mask, 0u);
    slots::for_each_of_kind(a, visit);
    EXPECT_EQ(visited, (std::vector<uintptr_t>{3}));
    // expect_chains_whole() runs at the end.
}

TEST(SlotsKinds, TwentyKindsFitTheTwentyFirstEndsTheProcess) {
    slots::init();
    for (int32_t id = 1; id <= slots::kind_limit; ++id) EXPECT_EQ(slots::register_kind("k", nullptr), id);
    auto one_too_many = [] {
#ifdef _WIN32
        _putenv("KEL_FATAL_TO_STDERR=1");  // a message box would wait for a click
#endif
        slots::register_kind("one too many", nullptr);
    };
    // The report's text is the quit handler's; here only its code matters.
    EXPECT_EXIT(one_too_many(), ::testing::ExitedWithCode(98), "");
    slots::init();
    EXPECT_EQ(slots::register_kind("k", nullptr), 1);
}
