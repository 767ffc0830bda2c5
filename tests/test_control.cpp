// The control natives at the top level of evaluation, outside any function,
// where a table of Kel cases cannot put them, and the arguments of the
// errors they raise. The other control cases are in tests/kel/control.kel.
#include <gtest/gtest.h>

#include "runtime/symbol.hpp"
#include "tests/support/environment.hpp"

using namespace kel;
using namespace kel::test;

namespace {

struct Control : WithEnvironment<WithSeries> {};

}  // namespace

TEST_F(Control, ReturnAndExitOutsideAFunction) {
    struct Case {
        const char* source;
        const char* expected;
    } cases[] = {
        {"return 1", "error: return"},
        {"exit", "error: return"},
        {"do [return 1]", "error: return"},
        {"loop 2 [exit]", "error: return"},
        {"try [return 1]", "error! [throw return]"},
    };
    for (const Case& c : cases) EXPECT_EQ(eval(c.source), c.expected) << c.source;
}

TEST_F(Control, ErrorArguments) {
    EXPECT_EQ(eval("case [true]"), "error: need-value");
    EXPECT_EQ(symbol::name(error::pending.args[0].payload2), "case");
    EXPECT_EQ(eval("catch/name [throw/name 3 'z] 'a"), "error: throw");
    EXPECT_EQ(cell::integer(&error::pending.args[0]), 3);  // the thrown value
}
