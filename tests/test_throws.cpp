#include <gtest/gtest.h>

#include "runtime/system.hpp"
#include "runtime/throws.hpp"

using namespace kel;

TEST(Throws, RegionTakesCodesUpToItsLevel) {
    uint32_t inner = 1, outer = 1;
    outer = throws::protect(throws::vm_level, [&] {
        inner = throws::protect(0x7FFFFFF6, [] { throws::throw_code(throws::vm_alloc_failed); });
    });
    EXPECT_EQ(inner, 1u);  // never resumed: the code was above its level
    EXPECT_EQ(outer, throws::vm_alloc_failed);
    EXPECT_EQ(sys::record.throw_code, 0u);  // handled
}

TEST(Throws, LevelComparisonIsUnsigned) {
    uint32_t got = throws::protect(throws::top_level, [] { throws::throw_code(0xFFFFFFFE); });
    EXPECT_EQ(got, 0xFFFFFFFEu);
    EXPECT_THROW(throws::protect(throws::error, [] { throws::throw_code(throws::quiet_exit + 0x80000000u); }), Throw);
}

TEST(Throws, NormalEndAnswersZero) {
    EXPECT_EQ(throws::protect(10, [] {}), 0u);
    EXPECT_EQ(throws::protect(10, [] { throws::throw_code(10); }), 10u);
}

TEST(Throws, CurrentCodeIsSetWhileInFlight) {
    try {
        throws::throw_code(throws::break_);
    } catch (const Throw& t) {
        EXPECT_EQ(t.code, throws::break_);
        EXPECT_EQ(sys::record.throw_code, throws::break_);
    }
    throws::clear_current();
}
