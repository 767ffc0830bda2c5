// point2D! arithmetic against numpy: each coordinate computed in doubles and
// rounded once to a 32-bit float, for random points and random float! and
// point2D! operands of add, subtract, multiply, divide and remainder.
#include <gtest/gtest.h>

#include <bit>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/actions.hpp"
#include "runtime/datatypes/point.hpp"
#include "tests/support/child.hpp"
#include "tests/support/numbers.hpp"
#include "tests/support/runtime.hpp"

using namespace kel;
using namespace kel::test;

#ifndef _WIN32

namespace {

struct PointOracle : WithRuntime {};

double from_hex(const std::string& h) { return std::bit_cast<double>(std::strtoull(h.c_str(), nullptr, 16)); }

std::vector<std::string> oracle_lines(const char* seed, const char* count) {
    std::string here = __FILE__;
    std::string script = here.substr(0, here.find_last_of('/') + 1) + "oracles/point_oracle.py";
    ChildResult r = run_child("/usr/bin/python3", {script, seed, count});
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<std::string> lines;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) lines.push_back(line);
    return lines;
}

}  // namespace

TEST_F(PointOracle, ArithmeticRoundsEachCoordinateOnceToFloat32) {
    const action::Slot slots[] = {action::add, action::subtract, action::multiply, action::divide, action::remainder};
    std::vector<std::string> lines = oracle_lines("2026", "4000");
    ASSERT_EQ(lines.size(), 4000u);
    int wrong = 0;
    for (const std::string& line : lines) {
        std::istringstream f(line);
        int op;
        std::string kind, ax, ay, b1, b2, rx, ry;
        f >> op >> kind >> ax >> ay >> b1;
        if (kind == "p") f >> b2;
        f >> rx >> ry;
        Cell left, right;
        point2d::box(&left, from_hex(ax), from_hex(ay));
        if (kind == "p") point2d::box(&right, from_hex(b1), from_hex(b2));
        else right = real_v(from_hex(b1));
        Cell r;
        outcome([&] { return r = call(slots[op], {left, right}); });
        bool same = cell::is(&r, type::point2d) &&
                    std::bit_cast<uint32_t>(point::coordinate(&r, 0)) == std::bit_cast<uint32_t>(float(from_hex(rx))) &&
                    std::bit_cast<uint32_t>(point::coordinate(&r, 1)) == std::bit_cast<uint32_t>(float(from_hex(ry)));
        if (!same && ++wrong <= 5) ADD_FAILURE() << line;
    }
    EXPECT_EQ(wrong, 0);
}

#endif
