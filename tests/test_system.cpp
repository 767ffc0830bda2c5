// print and prin: what reaches the value print hooks, and standard output
// through the stdout hook.
#include <gtest/gtest.h>

#include <string>

#include "runtime/natives/system.hpp"
#include "runtime/output.hpp"
#include "tests/support/child.hpp"
#include "tests/support/environment.hpp"

using namespace kel;
using namespace kel::test;

namespace {

std::string printed;
void keep_printed(const Cell* text, bool newline) {
    printed += string::to_utf8(text);
    if (newline) printed += "\n";
}

struct Printing : WithEnvironment<WithSeries> {
    void SetUp() override {
        WithEnvironment::SetUp();
        printed.clear();
        // The hook lists live on the tracked heap, which each test has its
        // own of: this test makes them anew.
        output::init_print_hooks();
        output::register_print_hooks(keep_printed, nullptr);
    }
    void TearDown() override {
        output::unregister_print_hooks(keep_printed, nullptr);
        WithEnvironment::TearDown();
    }
};

}  // namespace

TEST_F(Printing, WhatTheHooksReceive) {
    struct Case {
        const char* source;
        const char* printed;
        bool last_lf;
    } cases[] = {
        {"print 1 + 2", "3\n", true},
        {"print [1 + 2 \"a\" [b c]]", "3 a b c\n", true},
        {"print []", "\n", true},
        {"prin \"x\" prin 1", "x1", false},
        {"print next \"abc\"", "bc\n", true},
        {"print \"caf\u00e9 \u4e16\"", "caf\u00e9 \u4e16\n", true},
    };
    for (const Case& c : cases) {
        printed.clear();
        EXPECT_EQ(eval(c.source), "unset") << c.source;
        EXPECT_EQ(printed, c.printed) << c.source;
        EXPECT_EQ(natives::last_lf, c.last_lf) << c.source;
    }
    // An exit in the printed block passes on; nothing is printed.
    printed.clear();
    EXPECT_EQ(eval("loop 1 [print [1 break]] 7"), "7");
    EXPECT_EQ(printed, "");
}

// On Windows the writer uses the standard handle read at start-up, which the
// capture's descriptor redirection does not replace; there the Kel tables,
// run by kel.exe with its output redirected, show what reaches standard output.
#ifndef _WIN32
TEST_F(Printing, StandardOutputInUtf8) {
    output::register_print_hooks(natives::print_to_stdout, nullptr);
    StdoutCapture capture;
    eval("print \"caf\u00e9\" prin \"\u4e16\"");
    std::string out = capture.text();
    output::unregister_print_hooks(natives::print_to_stdout, nullptr);
    EXPECT_EQ(out, "caf\u00e9\n\u4e16");
}
#endif
