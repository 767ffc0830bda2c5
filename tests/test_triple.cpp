// triple!: the one value the language can show of the parse engine's rule
// state; form and mold write it as a maker, and no other action takes it.
#include <gtest/gtest.h>

#include "runtime/actions.hpp"
#include "runtime/datatypes/triple.hpp"
#include "tests/support/numbers.hpp"
#include "tests/support/runtime.hpp"

using namespace kel;
using namespace kel::test;

namespace {
struct Triple : WithRuntime {};
}  // namespace

TEST_F(Triple, FormsAndMoldsAsAMaker) {
    Cell t = triple::box(1, -2, 3);
    EXPECT_EQ(text_of(action::mold, t), "make triple! [1 -2 3]");
    EXPECT_EQ(text_of(action::form, t), "make triple! [1 -2 3]");
    EXPECT_EQ(text_of(action::mold, triple::box(INT32_MIN, 0, INT32_MAX)), "make triple! [-2147483648 0 2147483647]");
}

TEST_F(Triple, EveryOtherActionIsUnsupported) {
    Cell t = triple::box(1, 2, 3);
    for (action::Slot s : {action::add, action::negate, action::pick, action::length_q, action::reverse})
        EXPECT_EQ(run(s, {t, int_v(1)}), "error expect-arg") << int(s);
}
