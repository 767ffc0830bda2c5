#include <gtest/gtest.h>

#include <regex>

#include "runtime/system.hpp"
#include "tests/support/child.hpp"

using namespace kel;

TEST(Quit, MessagesAreLookedUpByExactCode) {
    struct Case {
        int32_t code;
        const char* message;
    } cases[] = {
        {1, "access violation"}, {6, "float denormal operan"}, {13, "integer divide by zero"},
        {19, "stack error or overflow"}, {34, "Bus error"}, {35, "unknown error code!"},
        {94, "out of memory"}, {95, "no CATCH for THROW"}, {96, "unknown error code!"},
        {98, "assertion failed"}, {99, "unknown error"}, {100, "no value matched in CASE"},
        {101, "no value matched in SWITCH"}, {102, "unknown error code!"}, {-2, "unknown error code!"},
    };
    for (const Case& c : cases) EXPECT_STREQ(sys::error_message(c.code), c.message) << c.code;
}

TEST(Quit, ReportText) {
    char text[512];
    sys::format_report(text, sizeof text, 96, 0xAB);
    EXPECT_STREQ(text, "*** Runtime Error 96: unknown error code!\n*** at: 000000ABh");
    sys::format_report(text, sizeof text, 13, 0xDEADBEEF);
    EXPECT_STREQ(text, "*** Runtime Error 13: integer divide by zero\n*** at: DEADBEEFh");
}

namespace {

test::ChildResult probe(const std::string& mode) {
    // Allocation failures must reach the runtime's own check under ASan too.
    return test::run_child(test::sibling("kel-probe"), {mode},
                           {{"KEL_FATAL_TO_STDERR", "1"}, {"ASAN_OPTIONS", "allocator_may_return_null=1"}});
}

std::string report_pattern(int code, const char* message) {
    return "\\*\\*\\* Runtime Error " + std::to_string(code) + ": " + message + "\n\\*\\*\\* at: [0-9A-F]{8}h\n";
}

}  // namespace

// Each fatal path of a real process: its report on standard error and its
// exit status.
TEST(Quit, FatalPathsReportAndExitWithTheirCode) {
    struct Case {
        const char* mode;
        int status;
        const char* message;
    } cases[] = {
        {"quit96", 96, "unknown error code!"},
        {"throw", 95, "no CATCH for THROW"},
        {"divzero", 13, "integer divide by zero"},
        {"segv", 1, "access violation"},
        {"heap", 94, "out of memory"},
        {"unit", 101, "no value matched in SWITCH"},
#ifndef _WIN32
        // Wine ends a process whose stack overflows without dispatching the
        // exception, so this case runs natively only.
        {"stack", 19, "stack error or overflow"},
#endif
    };
    for (const Case& c : cases) {
        test::ChildResult r = probe(c.mode);
        EXPECT_EQ(r.status, c.status) << c.mode << "\n" << r.err;
        EXPECT_TRUE(std::regex_search(test::without_cr(r.err), std::regex(report_pattern(c.status, c.message))))
            << c.mode << ": " << r.err;
    }
}

TEST(Quit, QuietEndsExitZeroWithoutReport) {
    for (const char* mode : {"quiet", "none"}) {
        test::ChildResult r = probe(mode);
        EXPECT_EQ(r.status, 0) << mode;
        EXPECT_EQ(r.err, "") << mode;
    }
}

TEST(Quit, ReportedAddressIsTheQuitArgument) {
    test::ChildResult r = probe("quit96");
    EXPECT_NE(test::without_cr(r.err).find("*** at: 00001234h"), std::string::npos) << r.err;
}
