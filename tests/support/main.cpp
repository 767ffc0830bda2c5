// The test program's entry: the tests run on a thread with the stack that kel
// gives its runtime, so that deep evaluation in a test meets the same
// native-stack limit as in the program.
#include <gtest/gtest.h>

#include "runtime/platform/start.hpp"
#include "runtime/stack.hpp"

namespace {

int result = 1;

void run_all() { result = RUN_ALL_TESTS(); }

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Death tests start a fresh copy of the program: forking a process that
    // runs two threads would not be safe.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    kel::os::run_on_stack(kel::stack::native_bytes, run_all);
    return result;
}
