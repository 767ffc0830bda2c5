#include <gtest/gtest.h>

#include "program/entry.hpp"
#include "runtime/system.hpp"
#include "tests/support/child.hpp"

using namespace kel;

// Arguments reach the runtime as UTF-8, split by the platform's own rules.
TEST(Start, ArgumentsArriveIntact) {
    std::vector<std::string> args = {
        "args",
        "plain",
        "with space",
        "",
        "quote\"inside",
        "trailing\\",
        "back\\\\slash \\\"q\"",
        "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80",
        "\xd0\x9a\xd0\xb5\xd0\xbb",
    };
    test::ChildResult r = test::run_child(test::sibling("kel-probe"), args);
    ASSERT_EQ(r.status, 0) << r.err;
    std::string expected;
    for (size_t i = 1; i < args.size(); ++i) expected += args[i] + "\n";
    EXPECT_EQ(r.out, expected);
}

TEST(Start, ImageOffsetsAreRelativeToTheProgram) {
    uint32_t a = sys::image_offset(reinterpret_cast<const void*>(&sys::quit));
    uint32_t b = sys::image_offset(reinterpret_cast<const void*>(&sys::entry));
    EXPECT_GT(a, 0u);
    EXPECT_LT(a, 0x10000000u);
    EXPECT_LT(b, 0x10000000u);
}
