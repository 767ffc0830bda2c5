// Fixtures for tests that make series: each test runs on a tracked heap of
// its own, and everything it made is released after it.
#pragma once
#include <gtest/gtest.h>

#include "runtime/alloc.hpp"
#include "runtime/collector.hpp"
#include "runtime/datatypes/error.hpp"
#include "runtime/error.hpp"
#include "runtime/ownership.hpp"
#include "runtime/mem.hpp"
#include "runtime/interp.hpp"
#include "runtime/root.hpp"
#include "runtime/value_slots.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"
#include "runtime/system.hpp"

namespace kel::test {

// While it lives, the tracked heap is one of its own; at its end every frame
// and every tracked block made meanwhile is released.
class OwnHeap {
public:
    OwnHeap() : saved_(sys::record.heap_list) { sys::record.heap_list = &heap_; }
    ~OwnHeap() {
        alloc::release_all_frames();
        mem::release_all();
        sys::record.heap_list = saved_;
        // Nothing may point into what was just released.
        stack::cells = stack::top = stack::args = nullptr;
        stack::frames = stack::frame_top = nullptr;
        collector::reset_module_roots();
        symbol::symbols = 0;
        error::catalog = error::prototype = Cell{type::none, 0, 0, 0};
    }

private:
    mem::HeapList heap_;
    mem::HeapList* saved_;
};

// A fresh memory manager with its first frames.
struct WithMemory : ::testing::Test {
    OwnHeap heap;
    void SetUp() override {
        alloc::init();
        alloc::make_first_frames();
    }
};

}  // namespace kel::test
