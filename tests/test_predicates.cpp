// The type predicates: routines of C++ code, one per datatype and one per
// typeset word, which they read at each call.
#include <gtest/gtest.h>

#include "environment/predicates.hpp"
#include "tests/support/kel_source.hpp"

using namespace kel;
using namespace kel::test;

namespace {

const NativeSpec specs[] = {
    {"make", type::action, action::make, "[type spec]"},
};

struct Predicates : KelSource {
    std::span<const NativeSpec> natives_used() const override { return specs; }
    void SetUp() override {
        KelSource::SetUp();
        environment::make_predicates();
        eval("any-list!: make typeset! [block! paren!]");
        eval("series!: make typeset! [block! paren! string!]");
    }
};

}  // namespace

TEST_F(Predicates, OneTypeAndTypesets) {
    check({
        {"block? [1]", "true"},
        {"block? 1", "false"},
        {"integer? 1", "true"},
        {"none? none", "true"},
        {"unset? ()", "true"},  // every predicate accepts unset
        {"string? \"a\"", "true"},
        {"datatype? integer!", "true"},
        {"any-list? [1]", "true"},
        {"series? \"a\"", "true"},
        {"series? 1", "false"},
        // A predicate follows its typeset word.
        {"any-list!: make typeset! [paren!] any-list? [1]", "false"},
    });
}
