// The C++ type groups against the typesets of the boot environment: each
// group must have exactly the members of the Kel typeset of its name.
#include <gtest/gtest.h>

#include "runtime/context.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/typesets.hpp"
#include "tests/support/environment.hpp"

using namespace kel;

namespace {

struct Typesets : test::WithEnvironment<> {};

TEST_F(Typesets, EachGroupHasTheMembersOfItsKelTypeset) {
    struct Case {
        const char* name;
        typesets::Set set;
    };
    const Case cases[] = {
        {"any-word!", typesets::any_word},         {"all-word!", typesets::all_word},
        {"any-list!", typesets::any_list},         {"any-path!", typesets::any_path},
        {"any-block!", typesets::any_block},       {"any-function!", typesets::any_function},
        {"any-object!", typesets::any_object},     {"any-string!", typesets::any_string},
        {"series!", typesets::series},
    };
    for (const Case& c : cases) {
        Cell kel_set = *word::fetch(word::load(c.name));
        ASSERT_TRUE(cell::is(&kel_set, type::typeset)) << c.name;
        for (int t = 1; t < type::count; ++t)
            EXPECT_EQ(typesets::has(c.set, uint8_t(t)), cell::typeset_has(&kel_set, uint8_t(t)))
                << c.name << " type " << t;
    }
}

TEST(TypesetBits, IdsPastTheSetAreNoMembers) {
    for (int t : {64, 200, 255}) EXPECT_FALSE(typesets::has(~typesets::Set(0), uint8_t(t))) << t;
}

}  // namespace
