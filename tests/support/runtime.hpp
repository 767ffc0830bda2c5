// A fixture for tests that need the value core: memory, datatypes, the root
// block, symbols, the global context and the well-known words, made afresh
// for each test and released after it.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>

#include "runtime/cycles.hpp"
#include "program/init.hpp"
#include "tests/support/keep.hpp"
#include "tests/support/memory.hpp"

namespace kel::test {

// Sets stress mode (a collection before every buffer) for its lifetime, and
// puts the previous setting back at its end.
class StressMode {
public:
    explicit StressMode(bool on) : enabled_(sys::record.collector_enabled), stress_(alloc::stress) {
        sys::record.collector_enabled = on;
        alloc::stress = on;
    }
    ~StressMode() {
        sys::record.collector_enabled = enabled_;
        alloc::stress = stress_;
    }
    StressMode(const StressMode&) = delete;
    StressMode& operator=(const StressMode&) = delete;

private:
    bool enabled_, stress_;
};

struct WithRuntime : ::testing::Test {
    OwnHeap heap;
    void SetUp() override {
        // Whatever a test before this one left on: start-up runs without collections.
        sys::record.collector_enabled = false;
        alloc::stress = false;
        kept::clear();
        sys::record.root_recording = true;
        cycles::reset();
        runtime::init_values();
        sys::record.root_recording = false;
        kept::start();
        // KEL_GC_STRESS=1: a collection before every buffer the test makes.
        if (const char* v = std::getenv("KEL_GC_STRESS"); v && *v == '1') {
            sys::record.collector_enabled = true;
            alloc::stress = true;
        }
    }
    void TearDown() override {
        alloc::stress = false;
        sys::record.collector_enabled = false;
        kept::clear();
    }
};

}  // namespace kel::test
