#include <gtest/gtest.h>

#include "runtime/value_slots.hpp"
#include "tests/support/runtime.hpp"

using namespace kel;

using ValueSlots = test::WithRuntime;

TEST_F(ValueSlots, SlotsInOrderThenDoubling) {
    for (uint32_t i = 1; i <= 100; ++i) {
        Cell v;
        cell::set_integer(&v, int32_t(i) * 10);
        EXPECT_EQ(value_slots::alloc(&v), i);
    }
    EXPECT_EQ(value_slots::capacity(), 100u);
    Cell v;
    cell::set_logic(&v, true);
    EXPECT_EQ(value_slots::alloc(&v), 101u);
    EXPECT_EQ(value_slots::capacity(), 200u);
    for (uint32_t i = 1; i <= 100; ++i) EXPECT_EQ(cell::integer(value_slots::at(i)), int32_t(i) * 10);
    EXPECT_TRUE(cell::is(value_slots::at(101), type::logic));

    value_slots::free(37);
    value_slots::free(0);  // nothing
    EXPECT_EQ(value_slots::alloc(&v), 37u);  // the freed slot comes back first
    EXPECT_EQ(value_slots::alloc(&v), 102u);
}
