// block!: sort against Python's sorted().
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "runtime/datatypes/block.hpp"
#include "tests/support/child.hpp"
#include "tests/support/environment.hpp"

using namespace kel;
using namespace kel::test;

namespace {

struct BlockEdit : WithEnvironment<WithSeries> {};

}  // namespace

#ifndef _WIN32
// Blocks of integer and string keys sorted as Python's sorted() sorts them:
// /skip, /compare with an offset, /case, /reverse, and /stable with equal
// keys whose records must keep their order.
TEST_F(BlockEdit, SortAgreesWithPython) {
    std::string here = __FILE__;
    std::string script = here.substr(0, here.find_last_of('/') + 1) + "oracles/block_sort_oracle.py";
    test::ChildResult r = test::run_child("/usr/bin/env", {"python3", script, "11", "400"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream lines(r.out);
    int cases = 0;
    for (std::string line; std::getline(lines, line); ++cases) {
        size_t tab = line.find('\t');
        ASSERT_NE(tab, std::string::npos) << line;
        std::string source = line.substr(0, tab);
        EXPECT_EQ(eval(source.c_str()), line.substr(tab + 1)) << source;
    }
    EXPECT_EQ(cases, 400);
}
#endif
