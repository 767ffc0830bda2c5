// bitset!: molded text that evaluates back, and the set algebra against
// Python sets, complemented sets included.
#include <gtest/gtest.h>

#include <sstream>

#include "runtime/datatypes/bitset.hpp"
#include "runtime/datatypes/string.hpp"
#include "tests/support/child.hpp"
#include "tests/support/environment.hpp"

using namespace kel;
using namespace kel::test;

namespace {

struct Bitset : WithEnvironment<WithSeries> {};

// members x: the members below 96 as text, then " ~" when the numbers
// beyond are members (a test of the membership rule alone): the numbers
// between must agree with the far ones, or show as "!n".
const char* members_source =
    "members: func [x /local parts beyond] ["
    "  parts: copy []"
    "  repeat n 96 [if pick x n - 1 [append parts n - 1]]"
    "  beyond: pick x 100000"
    "  repeat n 4000 [if beyond <> pick x n + 95 [append parts append copy \"!\" n + 95]]"
    "  if beyond [append parts \"~\"]"
    "  form parts"
    "]";

}  // namespace

TEST_F(Bitset, MoldLoadsBack) {
    for (const char* spec : {"[]", "[0 - 20 90]", "[not 3 - 9 70]", "[not]", "#{00FF}"}) {
        std::string molded = eval((std::string("make bitset! ") + spec).c_str());
        EXPECT_EQ(eval(molded.c_str()), molded) << spec;
    }
}

#ifndef _WIN32

TEST_F(Bitset, AlgebraAgreesWithPythonSets) {
    std::string here = __FILE__;
    std::string script = here.substr(0, here.find_last_of('/') + 1) + "oracles/bitset_oracle.py";
    test::ChildResult r = test::run_child("/usr/bin/env", {"python3", script, "2024", "400"});
    ASSERT_EQ(r.status, 0) << r.err;
    eval(members_source);
    std::istringstream in(r.out);
    int cases = 0;
    for (std::string line; std::getline(in, line); ++cases) {
        size_t tab = line.find('\t');
        ASSERT_NE(tab, std::string::npos) << line;
        std::string source = line.substr(0, tab);
        // The members as text, compared as a string value.
        std::string compared = "(" + source + ") = \"" + line.substr(tab + 1) + "\"";
        EXPECT_EQ(eval(compared.c_str()), "true") << source;
    }
    EXPECT_EQ(cases, 400);
}

#endif
