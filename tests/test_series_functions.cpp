// The series functions of the boot environment (replace, split, extract,
// pad) against Python's str and list on generated cases; Python runs on the
// build machine, not under Wine. Their tables of hand-made cases are in
// tests/kel/series_functions.kel.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "tests/support/child.hpp"
#include "tests/support/environment.hpp"

#ifndef _WIN32

using namespace kel;

namespace {

struct SeriesFunctions : test::WithEnvironment<> {
    // Each line of the oracle's answer is an expression and the source of the
    // value it must give; both are evaluated here and their molds compared.
    void agree(const char* kind, const char* seed, int count) {
        std::string here = __FILE__;
        std::string script = here.substr(0, here.find_last_of('/') + 1) + "oracles/series_oracle.py";
        test::ChildResult r = test::run_child("/usr/bin/env", {"python3", script, kind, seed, std::to_string(count)});
        ASSERT_EQ(r.status, 0) << r.err;
        std::istringstream lines(r.out);
        int cases = 0;
        for (std::string line; std::getline(lines, line); ++cases) {
            size_t tab = line.find('\t');
            EXPECT_EQ(test::eval(line.substr(0, tab)), test::eval(line.substr(tab + 1))) << line;
        }
        EXPECT_EQ(cases, count);
    }
};

}  // namespace

TEST_F(SeriesFunctions, ReplaceAgreesWithPython) { agree("replace", "22", 400); }
TEST_F(SeriesFunctions, SplitAgreesWithPython) { agree("split", "23", 300); }
TEST_F(SeriesFunctions, ExtractAgreesWithPython) { agree("extract", "24", 200); }
TEST_F(SeriesFunctions, PadAgreesWithPython) { agree("pad", "25", 200); }
#endif
