// The test program's entry: the tests run on a thread with the 64 MiB stack
// that kel gives its interpreter, so that deep evaluation in a test meets the
// same native-stack limit as in the program (the Windows build links that
// stack size into the main thread instead).
#include <gtest/gtest.h>

#ifndef _WIN32
#include <pthread.h>
#endif

namespace {

int result = 1;

void* run_all(void*) {
    result = RUN_ALL_TESTS();
    return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Death tests start a fresh copy of the program: forking a process that
    // runs two threads would not be safe.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
#ifdef _WIN32
    run_all(nullptr);
#else
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, size_t(64) << 20);
    pthread_t thread;
    if (pthread_create(&thread, &attr, run_all, nullptr) != 0) return 2;
    pthread_join(thread, nullptr);
#endif
    return result;
}
