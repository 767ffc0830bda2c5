// A fixture for tests that make series: a fresh memory manager on a tracked
// heap of its own, released after each test.
#pragma once
#include <gtest/gtest.h>

#include "runtime/alloc.hpp"
#include "runtime/heap.hpp"
#include "runtime/system.hpp"

namespace kel::test {

struct WithMemory : ::testing::Test {
    mem::HeapList heap;
    mem::HeapList* saved_heap = nullptr;

    void SetUp() override {
        saved_heap = sys::record.heap_list;
        sys::record.heap_list = &heap;
        alloc::init();
        alloc::make_first_frames();
    }
    void TearDown() override {
        alloc::release_all_frames();
        mem::release_all();
        sys::record.heap_list = saved_heap;
    }
};

}  // namespace kel::test
