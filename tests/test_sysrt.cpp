#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <ctime>
#include <numbers>
#include <regex>

#include "runtime/platform/clock.hpp"
#include "runtime/platform/crypto.hpp"
#include "runtime/platform/env.hpp"
#include "runtime/sysrt.hpp"
#include "tests/support/child.hpp"

using namespace kel;

TEST(Sysrt, SleepLengths) {
    struct Case {
        double seconds;
        uint32_t ms;
    } cases[] = {
        {0, 1}, {0.0004, 1}, {0.001, 1}, {0.0019, 1}, {2.5, 2500}, {-3, 1},
        {NAN, 1}, {INFINITY, 0xFFFFFFFE}, {1e300, 0xFFFFFFFE}, {4294967.0, 4294967000u},
    };
    for (const Case& c : cases) EXPECT_EQ(sysrt::sleep_milliseconds(c.seconds), c.ms) << c.seconds;
}

TEST(Sysrt, ZonePacking) {
    struct Case {
        int minutes;
        uint32_t zone;
    } cases[] = {
        {0, 0},
        {330, 22},               // +5:30: 5 hours, 2 quarters
        {-180, 76},              // -3:00: hour field 0x13
        {-210, 0x13 << 2 | 2},   // -3:30
        {345, 5 << 2 | 3},       // +5:45
        {-225, 0x13 << 2 | 3},   // -3:45, not -3:15
        {-30, 0x10 << 2 | 2},    // -0:30 keeps its sign
        {840, 14 << 2},          // +14:00
        {-720, 0x1C << 2},       // -12:00
    };
    for (const Case& c : cases) EXPECT_EQ(sysrt::pack_zone(c.minutes), c.zone) << c.minutes;
    EXPECT_EQ(sysrt::pack_date(2026, 12, 10, 22), uint32_t(2026 << 17 | 12 << 12 | 10 << 7 | 22));
}

TEST(Sysrt, NormalizeAngle) {
    const double pi = std::numbers::pi;
    struct Case {
        double degrees;
        int mode;
        double radians;
    } cases[] = {
        {270, 0, -pi / 2}, {270, 1, -pi / 2}, {270, 2, -pi / 2},
        {135, 2, pi / 4},  {135, 0, -pi / 4}, {135, 1, 3 * pi / 4},
        {-135, 0, pi / 4}, {-135, 2, -pi / 4}, {720 + 30, 0, pi / 6},
        {-200, 1, 8 * pi / 9}, {90, 0, pi / 2}, {0, 2, 0},
    };
    for (const Case& c : cases)
        EXPECT_NEAR(sysrt::normalize_angle(c.degrees, c.mode), c.radians, 1e-12) << c.degrees << " " << c.mode;
}

TEST(Sysrt, CstrEqual) {
    EXPECT_TRUE(sysrt::cstr_equal("", ""));
    EXPECT_TRUE(sysrt::cstr_equal("abc", "abc"));
    EXPECT_FALSE(sysrt::cstr_equal("abc", "abd"));
    EXPECT_FALSE(sysrt::cstr_equal("abc", "ab"));
}

TEST(Sysrt, BuildDateForm) {
    EXPECT_TRUE(std::regex_match(build::date(),
                                 std::regex("[0-3][0-9]-(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec)-20[0-9]{2}/"
                                            "[0-2][0-9]:[0-5][0-9]:[0-5][0-9]")))
        << build::date();
}

TEST(Sysrt, CurrentDirectoryRoundTrip) {
    auto start = sysrt::get_current_dir();
    ASSERT_TRUE(start.has_value());
    EXPECT_FALSE(start->empty());
    EXPECT_NE(start->back(), '\0');
    ASSERT_TRUE(sysrt::set_current_dir(*start));
    EXPECT_EQ(sysrt::get_current_dir(), start);
    EXPECT_FALSE(sysrt::set_current_dir(*start + "/no such directory \xc3\xa9"));
}

TEST(Sysrt, EnvironmentVariables) {
    const char* name = "KEL_TEST_VARIABLE";
    EXPECT_TRUE(sysrt::set_env(name, "caf\xc3\xa9"));
    EXPECT_EQ(sysrt::get_env(name), std::optional<std::string>("caf\xc3\xa9"));
    std::string longer(1000, 'v');
    sysrt::set_env(name, longer.c_str());
    EXPECT_EQ(sysrt::get_env(name), longer);
    EXPECT_TRUE(sysrt::set_env(name, nullptr));
    EXPECT_EQ(sysrt::get_env(name), std::nullopt);
}

TEST(Sysrt, ClockAndRandom) {
    double utc = sysrt::now_utc_filetime(false);
    double precise = sysrt::now_utc_filetime(true);
    EXPECT_GE(utc, 0);
    EXPECT_LT(precise, 86401);
    EXPECT_EQ(utc, std::floor(utc));
    double expected = double(std::time(nullptr) % 86400);
    EXPECT_LT(std::fabs(utc - expected), 2.0) << utc << " " << expected;

    uint32_t today = sysrt::now_fields(true);
    EXPECT_EQ(today & 0x7F, 0u);  // UTC has no zone
    std::time_t now = std::time(nullptr);
    std::tm t = *std::gmtime(&now);
    EXPECT_EQ(today >> 17, uint32_t(t.tm_year + 1900));

    unsigned char a[32] = {}, b[32] = {};
    ASSERT_TRUE(os::secure_random(a, sizeof a));
    ASSERT_TRUE(os::secure_random(b, sizeof b));
    EXPECT_NE(std::memcmp(a, b, sizeof a), 0);
}

#ifndef _WIN32
// The local date and zone, checked against Python's own reading of the same
// zones (POSIX TZ strings, so no zone database is needed).
TEST(Sysrt, LocalDateMatchesPython) {
    for (const char* tz : {"IST-5:30", "NST+3:30", "NPT-5:45", "BRT+3", "UTC0", "XXX+0:30"}) {
        std::string script =
            "import time; t = time.localtime(); off = t.tm_gmtoff // 60; m = abs(off); "
            "hf = (m // 60) | (0x10 if off < 0 else 0); "
            "print((t.tm_year << 17) | (t.tm_mon << 12) | (t.tm_mday << 7) | (hf << 2) | ((m % 60) // 15))";
        test::ChildResult r = test::run_child("/usr/bin/env", {"python3", "-c", script}, {{"TZ", tz}});
        ASSERT_EQ(r.status, 0) << r.err;
        setenv("TZ", tz, 1);
        tzset();
        uint32_t mine = sysrt::now_fields(false);
        EXPECT_EQ(std::to_string(mine) + "\n", r.out) << tz;
    }
    unsetenv("TZ");
    tzset();
}
#endif
