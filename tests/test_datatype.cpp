#include <gtest/gtest.h>

#include "runtime/datatype.hpp"
#include "runtime/datatypes/string.hpp"
#include "tests/support/child.hpp"
#include "tests/support/memory.hpp"

using namespace kel;

namespace {

void parent_append() {}
void parent_find() {}
void child_find() {}

// Ids above the last datatype, so the real rows stay as they are.
constexpr uint8_t parent_type = 55, child_type = 56;

}  // namespace

TEST(Datatype, InheritanceIsACopyAtRegistration) {
    datatype::Row parent(datatype::unsupported);
    parent.set(action::append, &parent_append).set(action::find, &parent_find);
    datatype::register_type({parent_type, 0, "parent!", parent.handlers});

    datatype::Row child(datatype::inherit);
    child.set(action::find, &child_find);
    datatype::register_type({child_type, parent_type, "child!", child.handlers});

    EXPECT_EQ(datatype::handler(child_type, action::append), datatype::entry(&parent_append));  // inherited
    EXPECT_EQ(datatype::handler(child_type, action::find), datatype::entry(&child_find));       // its own kept
    EXPECT_EQ(datatype::handler(child_type, action::sort), nullptr);  // the parent has none either
    EXPECT_EQ(datatype::highest, child_type);
    EXPECT_STREQ(datatype::names[child_type].name, "child!");
    EXPECT_EQ(datatype::names[child_type].length, 5u);

    // A later change to the parent's row does not reach the child.
    datatype::Row changed(datatype::unsupported);
    datatype::register_type({parent_type, 0, "parent!", changed.handlers});
    EXPECT_EQ(datatype::handler(child_type, action::append), datatype::entry(&parent_append));
}

TEST(Datatype, WrongHandlerCountEndsTheProcess) {
    test::ChildResult r = test::run_child(test::sibling("kel-probe"), {"badtype"}, {{"KEL_FATAL_TO_STDERR", "1"}});
    EXPECT_EQ(r.status, 98) << r.err;
    EXPECT_EQ(test::without_cr(r.out),
              "*** Datatype Error: invalid actions count for type: 55\n*** Found: 61\n*** Expected: 62\n");
    EXPECT_NE(test::without_cr(r.err).find("*** Runtime Error 98: assertion failed"), std::string::npos) << r.err;
}

struct DatatypeValues : test::WithMemory {
    void SetUp() override {
        WithMemory::SetUp();
        datatype::register_datatype();
        datatype::Row none(datatype::unsupported);
        datatype::register_type({type::string, 0, "string!", none.handlers});
        datatype::register_type({type::integer, 0, "integer!", none.handlers});
        datatype::register_type({type::float_, 0, "float!", none.handlers});
    }
};

TEST_F(DatatypeValues, FormAndMold) {
    Cell v, out;
    cell::set_datatype(&v, type::string);
    struct Case {
        bool mold, all;
        const char* text;
        int32_t remaining;
    } cases[] = {
        {false, false, "string", 94},
        {true, false, "string!", 93},
        {true, true, "#(string!)", 90},
    };
    for (const Case& c : cases) {
        string::make(&out, 4);
        int32_t left = c.mold ? datatype::mold(&v, &out, false, c.all, false, nullptr, 100, 0)
                              : datatype::form(&v, &out, nullptr, 100);
        EXPECT_EQ(string::to_utf8(&out), c.text);
        EXPECT_EQ(left, c.remaining) << c.text;
    }
}

TEST_F(DatatypeValues, CompareIsEqualityOnly) {
    Cell integer_a, integer_b, floating, number;
    cell::set_datatype(&integer_a, type::integer);
    cell::set_datatype(&integer_b, type::integer);
    cell::set_datatype(&floating, type::float_);
    cell::set_integer(&number, type::integer);  // an integer whose value is the type id
    for (int op : {0, 1, 2, 9, 12}) {
        EXPECT_EQ(datatype::compare(&integer_a, &integer_b, op), 0) << op;
        EXPECT_EQ(datatype::compare(&integer_a, &floating, op), 1) << op;
        EXPECT_EQ(datatype::compare(&integer_a, &number, op), 1) << op;
    }
    for (int op : {3, 4, 5, 6, 7, 8}) EXPECT_EQ(datatype::compare(&integer_a, &floating, op), -2) << op;
}
