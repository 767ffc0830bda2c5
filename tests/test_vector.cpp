// vector! as Kel code: the make grammar, widths, element-wise arithmetic,
// text and comparison.
#include <gtest/gtest.h>

#include "tests/support/kel_source.hpp"

using namespace kel;
using namespace kel::test;

namespace {

const NativeSpec specs[] = {
    {"make", type::action, action::make, "[type spec]"},
    {"mold", type::action, action::mold, "[value /only /all /flat /part limit]"},
    {"form", type::action, action::form, "[value /part limit]"},
    {"reduce", type::native, 35, "[value [any-type!] /into out [block!]]"},
    {"next", type::action, action::next, "[series]"},
    {"append", type::action, action::append, "[series value /part length /only /dup count]"},
    {"insert", type::action, action::insert, "[series value /part length /only /dup count]"},
    {"change", type::action, action::change, "[series value /part range /only /dup count]"},
    {"pick", type::action, action::pick, "[series index]"},
    {"poke", type::action, action::poke, "[series index value]"},
    {"copy", type::action, action::copy, "[value /part length /deep /types kind]"},
    {"length?", type::action, action::length_q, "[series]"},
    {"divide", type::action, action::divide, "[value1 value2]"},
    {"remainder", type::action, action::remainder, "[value1 value2]"},
    {"and~", type::action, action::and_, "[value1 value2]"},
};

struct Vector : KelSource {
    std::span<const NativeSpec> natives_used() const override { return specs; }
};

}  // namespace

TEST_F(Vector, Make) {
    check({
        {"make vector! 3", "make vector! [0 0 0]"},
        {"make vector! 0", "make vector! [integer! 32 []]"},
        {"make vector! -2", "make vector! [integer! 32 []]"},
        {"make vector! [integer! 8 3]", "make vector! [integer! 8 [0 0 0]]"},
        {"make vector! [integer! 16 5 [1 2]]", "make vector! [integer! 16 [1 2 0 0 0]]"},
        {"make vector! [integer! 16 1 [1 2 3]]", "make vector! [integer! 16 [1 2 3]]"},
        {"make vector! [float! 64 [1.5 2.0]]", "make vector! [1.5 2.0]"},
        {"make vector! [percent! [50%]]", "make vector! [50%]"},
        {"make vector! [1 2 3]", "make vector! [1 2 3]"},
        {"make vector! [1.5]", "make vector! [1.5]"},
        {"make vector! []", "make vector! [integer! 32 []]"},
        {"make vector! [integer!]", "error: bad-make-arg"},
        {"make vector! [foo! 8]", "error: bad-make-arg"},
        {"make vector! [integer! 12 3]", "error: bad-make-arg"},
        {"make vector! [integer! x]", "error: invalid-spec-field"},
        {"make vector! [integer! 8 3 x]", "error: invalid-spec-field"},
        {"make vector! [1 2.0]", "error: invalid-arg"},
        {"make vector! [a]", "error: bad-make-arg"},  // a word first names the type
        {"make vector! [\"a\"]", "error: invalid-type"},
        {"make vector! \"a\"", "error: not-done"},
    });
}

TEST_F(Vector, WidthsAndElements) {
    check({
        {"v: make vector! [integer! 8 0] append v 300 append v 200 v", "make vector! [integer! 8 [44 -56]]"},
        {"v: make vector! [integer! 16 0] append v 70000 v", "make vector! [integer! 16 [4464]]"},
        {"v: make vector! [1 2] append v 3.0", "error: invalid-arg"},
        {"v: make vector! [1 2] append v [3 4] v", "make vector! [1 2 3 4]"},
        {"v: make vector! [1 2] w: insert v 0 mold w", "\"make vector! [1 2]\""},
        {"v: make vector! [1 2] insert v 0 reduce [v length? v]", "[make vector! [0 1 2] 3]"},
        {"v: make vector! [1 2 3] change next v [8 9 7] v", "make vector! [1 8 9 7]"},
        {"v: make vector! [1 2 3] poke v 2 9 v", "make vector! [1 9 3]"},
        {"v: make vector! [1 2 3] poke v 2 9.0", "error: invalid-arg"},
        {"pick make vector! [integer! 8 [-3]] 1", "-3"},
        {"pick make vector! [float! 32 [0.5]] 1", "0.5"},
        {"copy next make vector! [integer! 8 [1 2]]", "make vector! [integer! 8 [2]]"},
        {"form make vector! [1 2 3]", "\"1 2 3\""},
        {"mold/only make vector! [1 2]", "\"1 2\""},
        {"mold/only make vector! [integer! 8 [1 2]]", "\"integer! 8 [1 2]\""},
    });
}

// Element-wise math against two's-complement wrapping in the element width.
TEST_F(Vector, Arithmetic) {
    check({
        {"(make vector! [1 2 3]) + make vector! [10 20 30 40 50]", "make vector! [11 22 33]"},
        {"(make vector! [integer! 8 [1]]) + make vector! [integer! 16 [2]]", "make vector! [integer! 16 [3]]"},
        {"(make vector! [1]) + make vector! [1.0]", "error: not-same-type"},
        {"v: make vector! [1 2] v + 0 v", "make vector! [1 2]"},
        {"v: make vector! [1 2] v * 3 v", "make vector! [3 6]"},
        {"v: make vector! [integer! 8 [100]] v + 100 v", "make vector! [integer! 8 [-56]]"},
        {"v: make vector! [2147483647] v + 1 v", "make vector! [-2147483648]"},
        // a quotient beyond 32 bits raises overflow, and the vector stays as it was
        {"v: make vector! [-2147483648] divide v -1 v", "error: overflow"},
        {"v: make vector! [4 -2147483648] divide v -1", "error: overflow"},
        {"v", "make vector! [4 -2147483648]"},
        {"divide make vector! [4 -2147483648] make vector! [1 -1]", "error: overflow"},
        {"v: make vector! [-2147483648] remainder v -1 v", "make vector! [0]"},
        {"v: make vector! [7 8] divide v 0", "error: zero-divide"},
        {"v: make vector! [7 8] divide v 0 v", "error: zero-divide"},
        {"divide make vector! [7] make vector! [0]", "error: zero-divide"},
        {"v: make vector! [7 9] divide v 2 v", "make vector! [3 4]"},
        {"v: make vector! [1.5] v * 2 v", "make vector! [3.0]"},
        {"v: make vector! [6 3] and~ v 5 v", "make vector! [4 1]"},
        {"v: make vector! [1] v + \"a\"", "error: not-done"},
    });
}

TEST_F(Vector, Compare) {
    check({
        {"(make vector! [1 2]) = make vector! [1 2]", "true"},
        {"(make vector! [1 2]) = make vector! [1 3]", "false"},
        {"(make vector! [1 2]) < make vector! [1 3]", "true"},
        {"(make vector! [1 2]) < make vector! [1 2 0]", "true"},
        {"(make vector! [1]) = make vector! [1.0]", "error: not-same-type"},
        {"(make vector! [1]) = 1", "false"},
    });
}

TEST_F(Vector, MoldLoadsBack) {
    for (const char* source : {"make vector! [1 2]", "make vector! [integer! 8 [5]]", "make vector! [float! 32 [0.5]]",
                               "make vector! []"}) {
        std::string molded = eval(source);
        EXPECT_EQ(eval(molded.c_str()), molded) << source;
    }
}
