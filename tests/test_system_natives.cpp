// now against the C library's local time, wait taking window messages,
// size? of files on disk, and recycle switching the collector.
#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <string>

#include "runtime/platform/env.hpp"
#include "runtime/system.hpp"
#include "tests/support/binary_hex.hpp"
#include "tests/support/environment.hpp"

#ifdef _WIN32
#include <windows.h>  // last: it defines near and far
#endif

using namespace kel;
using namespace kel::test;

namespace {

struct SystemNatives : WithEnvironment<WithSeries> {};

}  // namespace

TEST_F(SystemNatives, Now) {
    std::time_t t = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &t);
#else
    localtime_r(&t, &local);
#endif
    // Near midnight the day may turn between the two readings.
    if (local.tm_hour == 23 && local.tm_min == 59) return;
    EXPECT_EQ(eval("now/year"), std::to_string(local.tm_year + 1900));
    EXPECT_EQ(eval("now/month"), std::to_string(local.tm_mon + 1));
    EXPECT_EQ(eval("now/day"), std::to_string(local.tm_mday));
    EXPECT_EQ(eval("now/weekday"), std::to_string(local.tm_wday == 0 ? 7 : local.tm_wday));
    EXPECT_EQ(eval("now/yearday"), std::to_string(local.tm_yday + 1));
}

#ifdef _WIN32
// After its sleep, wait takes the thread's pending window messages.
TEST_F(SystemNatives, WaitTakesThePendingMessages) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {}
    ASSERT_TRUE(PostThreadMessageW(GetCurrentThreadId(), WM_USER, 0, 0));
    ASSERT_TRUE(PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(eval("wait 0"), "none");
    EXPECT_FALSE(PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE));
}
#endif

TEST_F(SystemNatives, SizeOfFilesAndRecycleSwitch) {
    std::string path = temp_path("size_probe.bin");
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_TRUE(f);
    std::fwrite("12345", 1, 5, f);
    std::fclose(f);
    std::string dir = testing::TempDir();
    bool collector_was = sys::record.collector_enabled;
    check({
        {("size? " + file_literal(path)).c_str(), "5"},
        {("size? " + file_literal(dir)).c_str(), "none"},  // a directory
        {"type? recycle/off", "unset!"},
        {"type? recycle/on", "unset!"},
    });
    EXPECT_TRUE(sys::record.collector_enabled);  // /on came last
    sys::record.collector_enabled = collector_was;
    std::remove(path.c_str());
}
