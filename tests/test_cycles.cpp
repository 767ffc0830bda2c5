#include <gtest/gtest.h>

#include "runtime/cycles.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/error.hpp"
#include "runtime/throws.hpp"
#include "tests/support/memory.hpp"

using namespace kel;

struct Cycles : test::WithMemory {
    void SetUp() override {
        WithMemory::SetUp();
        cycles::reset();
    }
};

TEST_F(Cycles, PlaceholdersByTypeAndMode) {
    struct Case {
        uint8_t type;
        const char* mold;
    } cases[] = {
        {type::block, "[...]"}, {type::hash, "[...]"}, {type::paren, "(...)"}, {type::map, "#[...]"},
        {type::object, "make object! [...]"}, {type::path, "..."}, {type::set_path, "..."},
    };
    for (const Case& c : cases) {
        Cell v{c.type, 7, 7, 0};  // an object's context and a series' node in the same place
        cycles::push(7);
        for (bool mold : {true, false}) {
            Cell out;
            string::make(&out, 0);
            int32_t remaining = 50;
            EXPECT_TRUE(cycles::detect(&v, &out, remaining, mold));
            std::string expected = mold ? c.mold : "...";
            EXPECT_EQ(string::to_utf8(&out), expected);
            EXPECT_EQ(remaining, 50 - int32_t(expected.size()));
        }
        cycles::pop();
        Cell out;
        string::make(&out, 0);
        int32_t remaining = 50;
        EXPECT_FALSE(cycles::detect(&v, &out, remaining, true));
        EXPECT_EQ(remaining, 50);
        EXPECT_EQ(string::length(&out), 0u);
    }
}

TEST_F(Cycles, ObjectsAreKnownByTheirContext) {
    Cell object{type::object, 40, 41, 0};
    Cell block{type::block, 0, 40, 0};
    EXPECT_EQ(cycles::reference(&object), 40u);
    EXPECT_EQ(cycles::reference(&block), 40u);
}

TEST_F(Cycles, NineHundredNinetyNineLevelsAndNoMore) {
    for (uint32_t i = 1; i <= 999; ++i) cycles::push(i);
    EXPECT_EQ(cycles::depth(), 999u);
    EXPECT_TRUE(cycles::find(1));
    EXPECT_TRUE(cycles::find(999));
    uint32_t code = throws::protect(throws::error, [] { cycles::push(1000); });
    EXPECT_EQ(code, throws::error);
    EXPECT_STREQ(error::pending.id, "too-deep");
    EXPECT_EQ(error::pending.arg_count, 0);
    EXPECT_EQ(cycles::depth(), 0u);  // emptied before the error
}

TEST_F(Cycles, CatchingFramePutsTheDepthBack) {
    cycles::push(1);
    {
        cycles::Guard guard;
        throws::protect(throws::error, [] {
            cycles::push(2);
            cycles::push(3);
            error::fire(error::id::no_value);  // leaves 2 and 3 behind
        });
    }
    EXPECT_EQ(cycles::depth(), 1u);
    EXPECT_FALSE(cycles::find(2));
    cycles::pop();
    cycles::pop();  // popping an empty stack does nothing
    EXPECT_EQ(cycles::depth(), 0u);
}
