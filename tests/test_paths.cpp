// Cleaning and splitting paths against Python's posixpath and urllib on
// generated names (tests/oracles/path_oracle.py).
#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "tests/support/child.hpp"
#include "tests/support/environment.hpp"

using namespace kel;
using namespace kel::test;

namespace {

using PathFunctions = WithEnvironment<WithSeries>;

std::vector<std::string> fields(const std::string& line) {
    std::vector<std::string> out;
    std::istringstream in(line);
    for (std::string f; std::getline(in, f, '\t');) out.push_back(f);
    return out;
}

// Without the "/" a name that cleans to a directory keeps (the root keeps
// it: it is all there is after the prefix).
std::string without_slash(std::string s, size_t prefix) {
    if (s.size() > prefix + 1 && s.back() == '/') s.pop_back();
    return s;
}

}  // namespace

#ifndef _WIN32
TEST_F(PathFunctions, AgreeWithPython) {
    std::string here = __FILE__;
    std::string script = here.substr(0, here.find_last_of('/') + 1) + "oracles/path_oracle.py";
    ChildResult r = run_child("/usr/bin/env", {"python3", script, "2711", "400"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream in(r.out);
    int cases = 0;
    for (std::string line; std::getline(in, line); ++cases) {
        std::vector<std::string> f = fields(line);
        ASSERT_GE(f.size(), 3u) << line;
        if (f[0] == "clean") {
            EXPECT_EQ(without_slash(eval("clean-path %\"" + f[1] + "\""), 1), "%" + f[2]) << f[1];
        } else if (f[0] == "url") {
            EXPECT_EQ(without_slash(eval("clean-path http://h/" + f[1]), 8), without_slash(f[2], 8)) << f[1];
        } else {
            ASSERT_EQ(f.size(), 4u) << line;
            EXPECT_EQ(eval("split-path %\"" + f[1] + "\""), "[%" + f[2] + " %" + f[3] + "]") << f[1];
        }
    }
    EXPECT_GT(cases, 300);
}
#endif
