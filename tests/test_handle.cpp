// handle!: text and comparison, and the handle-table record a value keeps.
#include <gtest/gtest.h>

#include "runtime/collector.hpp"
#include "runtime/datatypes/handle.hpp"
#include "runtime/slots.hpp"
#include "tests/support/values.hpp"

using namespace kel;
using namespace kel::test;

namespace {

struct Handle : WithSeries {};

Cell handle_of(int32_t value, uint32_t klass) {
    Cell h;
    return *handle::box(&h, value, klass);
}

int released = 0;
void count_release(uintptr_t) { ++released; }

}  // namespace

TEST_F(Handle, Text) {
    EXPECT_EQ(form(handle_of(-1, 0)), "FFFFFFFFh");
    EXPECT_EQ(form(handle_of(0xA04F2, 3)), "000A04F2h");
    EXPECT_EQ(mold(handle_of(0xA04F2, 3)), "handle!");
    EXPECT_EQ(mold(handle_of(0xA04F2, 3), {.all = true}), "#[handle! 000A04F2h window]");
    EXPECT_EQ(mold(handle_of(7, 0), {.all = true}), "#[handle! 00000007h]");
    EXPECT_EQ(mold(handle_of(7, 5), {.all = true}), "#[handle! 00000007h rich-text]");
}

TEST_F(Handle, Compare) {
    Cell a = handle_of(5, 3), b = handle_of(5, 4), c = handle_of(-2, 3), n = num(5);
    EXPECT_TRUE(actions::compare_star(&a, &b, 0));   // the class takes no part
    EXPECT_TRUE(actions::compare_star(&c, &a, 3));   // signed
    EXPECT_FALSE(actions::compare_star(&a, &n, 0));  // never equal to an integer!
    EXPECT_TRUE(actions::compare_star(&a, &n, 1));
}

// A record stays while a handle! reaches it, and is released after.
TEST_F(Handle, RecordLivesWithTheValue) {
    int32_t kind = slots::register_kind("test-handle", count_release);
    released = 0;
    {
        collector::RootCell held;
        handle::box(&held.cell, 1, handle::klass::font);
        held.cell.payload3 = uint32_t(slots::alloc(42, kind));
        collector::collect();
        EXPECT_EQ(released, 0);
    }
    collector::collect();
    EXPECT_EQ(released, 1);
}
