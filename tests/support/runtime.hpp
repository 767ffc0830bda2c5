// A fixture for tests that need the value core: memory, datatypes, the root
// block, symbols, the global context and the well-known words, made afresh
// for each test and released after it.
#pragma once
#include <gtest/gtest.h>

#include "runtime/cycles.hpp"
#include "runtime/init.hpp"
#include "tests/support/memory.hpp"

namespace kel::test {

struct WithRuntime : ::testing::Test {
    OwnHeap heap;
    void SetUp() override {
        sys::record.root_recording = true;
        cycles::reset();
        runtime::init_values();
        sys::record.root_recording = false;
    }
};

}  // namespace kel::test
