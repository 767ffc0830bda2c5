#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "runtime/mem.hpp"
#include "runtime/output.hpp"
#include "runtime/system.hpp"

using namespace kel;

namespace {

std::string captured;
void capture(const char* text, size_t length, int) { captured.append(text, length); }

// Each test starts from an empty list of its own.
struct Heap : ::testing::Test {
    mem::HeapList* saved = nullptr;
    mem::HeapList list;
    void SetUp() override {
        saved = sys::record.heap_list;
        sys::record.heap_list = &list;
    }
    void TearDown() override {
        mem::release_all();
        sys::record.heap_list = saved;
    }
    size_t count() {
        size_t n = 0;
        for (auto* b = list.head; b; b = b->next) ++n;
        return n;
    }
};

}  // namespace

TEST_F(Heap, BlocksAreLinkedInOrderAndUnlinkedAnywhere) {
    void* a = mem::allocate(10);
    void* b = mem::allocate_zeroed(20);
    void* c = mem::allocate(30);
    EXPECT_EQ(count(), 3u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(b) % 16, 0u);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(static_cast<char*>(b)[i], 0);

    mem::release(c);  // the tail: its previous block becomes the tail
    EXPECT_EQ(list.tail->next, nullptr);
    EXPECT_EQ(list.tail->size, 20u);
    mem::release(a);  // the head
    EXPECT_EQ(list.head, list.tail);
    EXPECT_EQ(list.head->prev, nullptr);
    mem::release(b);  // the only block
    EXPECT_EQ(list.head, nullptr);
    EXPECT_EQ(list.tail, nullptr);
}

TEST_F(Heap, ReleaseIgnoresForeignPointers) {
    void* a = mem::allocate(8);
    static char foreign[64];
    mem::release(foreign + 32);
    mem::release(nullptr);
    EXPECT_EQ(count(), 1u);
    mem::release(a);
    mem::release(a);  // already gone: ignored
    EXPECT_EQ(count(), 0u);
}

TEST_F(Heap, ResizeKeepsContentAndLinks) {
    EXPECT_EQ(mem::resize(nullptr, 0) != nullptr, true);  // null: a plain allocation
    auto* a = static_cast<char*>(mem::allocate(4));
    void* b = mem::allocate(4);
    std::memcpy(a, "abc", 4);
    a = static_cast<char*>(mem::resize(a, 100000));
    EXPECT_STREQ(a, "abc");
    EXPECT_EQ(count(), 3u);
    EXPECT_EQ(mem::resize(b, 0), nullptr);  // zero length frees
    EXPECT_EQ(count(), 2u);
    EXPECT_EQ(list.tail->size, 100000u);
}

// The size the C heap refuses: null, and the block stays as it was, still
// listed, for the caller to release.
TEST_F(Heap, ResizeOrNullLeavesTheBlockWhenRefused) {
    auto* a = static_cast<char*>(mem::resize_or_null(nullptr, 4));
    ASSERT_NE(a, nullptr);
    std::memcpy(a, "abc", 4);
    EXPECT_EQ(mem::resize_or_null(nullptr, SIZE_MAX - 8), nullptr);
    EXPECT_EQ(mem::resize_or_null(a, SIZE_MAX - 8), nullptr);
    EXPECT_STREQ(a, "abc");
    EXPECT_EQ(count(), 1u);
    a = static_cast<char*>(mem::resize_or_null(a, 5000));
    EXPECT_STREQ(a, "abc");
    EXPECT_EQ(list.head->size, 5000u);
    EXPECT_EQ(mem::resize_or_null(a, 0), nullptr);  // zero length frees
    EXPECT_EQ(count(), 0u);
}

TEST_F(Heap, DumpListsEveryBlockAndTheSum) {
    output::init_print_hooks();
    output::register_print_hooks(nullptr, capture);
    captured.clear();
    mem::allocate(100);
    size_t real = 100 + sizeof(mem::HeapBlockHeader);
    mem::dump_allocations();
    // The hook lists themselves are tracked blocks too.
    EXPECT_NE(captured.find("-- Heap-allocations --\nAsked   Real\n"), std::string::npos) << captured;
    EXPECT_NE(captured.find("100\t" + std::to_string(real) + "\n"), std::string::npos) << captured;
    output::unregister_print_hooks(nullptr, capture);
    mem::release_all();
    EXPECT_EQ(count(), 0u);

    // An empty list: the two header lines and a zero sum. The hook list
    // lives in another heap list so that this one stays empty.
    mem::HeapList other;
    sys::record.heap_list = &other;
    output::init_print_hooks();
    output::register_print_hooks(nullptr, capture);
    sys::record.heap_list = &list;
    captured.clear();
    mem::dump_allocations();
    EXPECT_EQ(captured, "-- Heap-allocations --\nAsked   Real\n-- Sum: 0 --\n");
    output::unregister_print_hooks(nullptr, capture);
    sys::record.heap_list = &other;
    mem::release_all();
    sys::record.heap_list = &list;
}
