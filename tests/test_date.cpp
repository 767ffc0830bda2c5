// date!: the calendar against Python's datetime and calendar (day counts,
// week fields, epoch seconds, zones, sorting), the day count round trip
// over every year a date can hold, and now's zone under a set TZ.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <sstream>

#include "runtime/datatypes/date.hpp"
#include "tests/support/child.hpp"
#include "tests/support/environment.hpp"

using namespace kel;
using namespace kel::test;

namespace {

struct DateTest : WithEnvironment<> {};

uint32_t packed(int32_t y, int32_t m, int32_t d) { return date::from_days(date::to_days(y, m, d), 0, false); }

TEST(DateCalendar, DayCountsRoundTripOverEveryYear) {
    int32_t first = date::to_days(date::min_year, 1, 1), last = date::to_days(date::max_year, 12, 31);
    int32_t expected_year = date::min_year, expected_month = 1, expected_day = 1;
    for (int32_t days = first; days <= last; ++days) {
        uint32_t p = date::from_days(days, 0, false);
        ASSERT_EQ(date::year_of(p), expected_year) << days;
        ASSERT_EQ(date::month_of(p), expected_month) << days;
        ASSERT_EQ(date::day_of(p), expected_day) << days;
        ASSERT_EQ(date::to_days(p), days);
        if (++expected_day > date::days_in_month(expected_year, expected_month)) {
            expected_day = 1;
            if (++expected_month > 12) expected_month = 1, ++expected_year;
        }
    }
    EXPECT_EQ(date::to_days(0, 3, 1), 0);
    EXPECT_EQ(date::to_days(1970, 1, 1), 719468);
    EXPECT_EQ(date::to_days(0, 2, 29), -1);  // January and February of year 0 lie before day 0
    EXPECT_EQ(date::to_days(0, 1, 1), -60);
}

#ifndef _WIN32
ChildResult oracle(std::initializer_list<std::string> args) {
    std::string here = __FILE__;
    std::vector<std::string> argv{here.substr(0, here.find_last_of('/') + 1) + "oracles/date_oracle.py"};
    argv.insert(argv.end(), args);
    argv.insert(argv.begin(), "python3");
    return run_child("/usr/bin/env", argv);
}

TEST(DateCalendar, DayCountsAgreeWithPythonOrdinals) {
    ChildResult r = oracle({"months"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream in(r.out);
    int32_t y, m, start, length, months = 0;
    while (in >> y >> m >> start >> length) {
        ++months;
        ASSERT_EQ(date::days_in_month(y, m), length) << y << "-" << m;
        for (int32_t d = 1; d <= length; ++d) {
            ASSERT_EQ(date::to_days(y, m, d), start + d - 1) << y << "-" << m << "-" << d;
            uint32_t p = date::from_days(start + d - 1, 0, false);
            ASSERT_EQ(date::year_of(p) * 10000 + date::month_of(p) * 100 + date::day_of(p), y * 10000 + m * 100 + d);
        }
    }
    EXPECT_EQ(months, 9999 * 12);
}

TEST(DateCalendar, WeekFieldsAgreeWithPython) {
    ChildResult r = oracle({"fields"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream in(r.out);
    int32_t days, weekday, yearday, isoweek, week, count = 0;
    while (in >> days >> weekday >> yearday >> isoweek >> week) {
        ++count;
        uint32_t p = date::from_days(days, 0, false);
        ASSERT_EQ(date::weekday(days), weekday) << days;
        ASSERT_EQ(date::year_day(p), yearday) << days;
        ASSERT_EQ(date::isoweek(p), isoweek) << days;
        ASSERT_EQ(date::week(p), week) << days;
        // Setting a field to what it reads leaves the date where it is.
        ASSERT_EQ(date::to_days(date::set_weekday(p, weekday)), days);
        ASSERT_EQ(date::to_days(date::set_yearday(p, yearday)), days);
    }
    EXPECT_EQ(count, date::to_days(2100, 12, 31) - date::to_days(1900, 1, 1) + 1);
    EXPECT_EQ(date::isoweek(packed(2021, 1, 1)), 53);
}

TEST_F(DateTest, EpochSecondsAgreeWithPython) {
    ChildResult r = oracle({"epoch", "2331", "300"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream in(r.out);
    int cases = 0;
    for (std::string line; std::getline(in, line); ++cases) {
        std::istringstream f(line);
        std::string n, text, utc, seconds;
        std::getline(f, n, '\t');
        std::getline(f, text, '\t');
        std::getline(f, utc, '\t');
        std::getline(f, seconds, '\t');
        EXPECT_EQ(eval("to date! " + n), text) << n;
        EXPECT_EQ(eval("to integer! to date! " + n), n);
        EXPECT_EQ(eval("to integer! " + utc), seconds) << utc;
    }
    EXPECT_EQ(cases, 300);
}

TEST_F(DateTest, ZoneArithmeticAndZoneSetsAgreeWithPython) {
    ChildResult r = oracle({"zones", "2332", "400"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream in(r.out);
    int cases = 0;
    for (std::string line; std::getline(in, line); ++cases) {
        std::istringstream f(line);
        std::string d, delta, sum, minutes, wall, instant;
        for (std::string* s : {&d, &delta, &sum, &minutes, &wall, &instant}) std::getline(f, *s, '\t');
        EXPECT_EQ(eval(d + " + to time! " + delta), sum) << line;
        EXPECT_EQ(eval(sum + " - to time! " + delta), d) << line;
        std::string zone = "to time! " + minutes + " * 60";
        EXPECT_EQ(eval("d: " + d + " d/zone: " + zone + " d"), wall) << line;
        EXPECT_EQ(eval("d: " + d + " d/timezone: " + zone + " d"), instant) << line;
        EXPECT_EQ(eval("d: " + d + " d/timezone: " + zone + " d = " + d), "true") << line;
        EXPECT_EQ(eval("difference " + instant + " " + d), "0:00:00") << line;
    }
    EXPECT_EQ(cases, 400);
}

TEST_F(DateTest, SortAcrossZonesAgreesWithPython) {
    ChildResult r = oracle({"sort", "2333", "300"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream in(r.out);
    std::string values, sorted;
    std::getline(in, values);
    std::getline(in, sorted);
    EXPECT_EQ(eval("sort [" + values + "]"), "[" + sorted + "]");
}

// now/zone follows the process's TZ; POSIX zone strings need no zone files.
TEST_F(DateTest, NowZoneFollowsTz) {
    const char* kept = std::getenv("TZ");
    std::string saved = kept ? kept : "";
    struct Case {
        const char* tz;
        const char* zone;
    } cases[] = {{"<+0545>-5:45", "5:45:00"}, {"<-0330>3:30", "-3:30:00"}, {"UTC0", "0:00:00"}, {"<+14>-14", "14:00:00"}};
    for (const Case& c : cases) {
        setenv("TZ", c.tz, 1);
        tzset();
        EXPECT_EQ(eval("now/zone"), c.zone) << c.tz;
        EXPECT_EQ(eval("(now/zone) = (d: now d/zone)"), "true") << c.tz;
    }
    if (kept) setenv("TZ", saved.c_str(), 1);
    else unsetenv("TZ");
    tzset();
}
#endif

}  // namespace
