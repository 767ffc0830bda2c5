// A fixture for tests that need the value core: memory, datatypes, the root
// block, symbols, the global context and the well-known words, made afresh
// for each test and released after it.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>

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
        // KEL_GC_STRESS=1: a collection before every buffer the test makes.
        if (const char* v = std::getenv("KEL_GC_STRESS"); v && *v == '1') {
            sys::record.collector_enabled = true;
            alloc::stress = true;
        }
    }
    void TearDown() override {
        alloc::stress = false;
        sys::record.collector_enabled = false;
    }
};

}  // namespace kel::test
