#include <gtest/gtest.h>

#include <vector>

#include "runtime/actions.hpp"
#include "runtime/context.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/error.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"
#include "runtime/throws.hpp"
#include "tests/support/runtime.hpp"

using namespace kel;

namespace {

// What the fake handlers saw.
struct Seen {
    int calls = 0;
    int32_t count = 0, dup = 0, index = 0;
    bool only = false, append = false;
    uint32_t series_index = 0;
} seen;

void fake_insert(Cell* series, Cell* value, int32_t count, bool only, int32_t dup, bool append) {
    ++seen.calls;
    seen.count = count;
    seen.dup = dup;
    seen.only = only;
    seen.append = append;
    seen.series_index = series->payload1;
    (void)value;
}

int32_t fake_length(const Cell*) { return -1; }

Cell* fake_pick(Cell* series, int32_t index, const Cell*) {
    seen.index = index;
    return series;
}

int32_t fake_form(const Cell*, Cell* out, const Cell*, int32_t limit) {
    ++seen.calls;
    string::append_ascii(out, "abcdef", 6);
    return limit - 6;
}

int32_t never_comparable(const Cell*, const Cell*, int32_t) { return -2; }

Cell* fake_make(Cell* proto, Cell*, uint8_t t) {
    seen.index = t;
    return proto;
}

Cell integer(int32_t v) {
    Cell c;
    cell::set_integer(&c, v);
    return c;
}

Cell block_of(uint32_t n, uint32_t index = 0) {
    NodeId node = alloc::alloc_cells(n);
    for (uint32_t i = 0; i < n; ++i) *series::bump_tail(alloc::buffer_of(node)) = integer(int32_t(i));
    return Cell{type::block, index, node, 0};
}

struct Actions : test::WithRuntime {
    void SetUp() override {
        WithRuntime::SetUp();
        seen = {};
        datatype::Row row(datatype::unsupported);
        row.set(action::append, &fake_insert).set(action::insert, &fake_insert).set(action::length_q, &fake_length);
        row.set(action::pick, &fake_pick).set(action::form, &fake_form).set(action::compare, &never_comparable);
        row.set(action::make, &fake_make);
        datatype::register_type({type::block, 0, "block!", row.handlers});
        Cell w{type::word, context::global, symbol::make("caller"), uint32_t(-1)};
        stack::mark_native(&w);
    }

    // Calls an action's wrapper with the arguments and refinement indices.
    uint32_t run(action::Slot s, std::vector<Cell> arguments, std::vector<int32_t> refs) {
        Cell w{type::word, context::global, symbol::make("act"), uint32_t(-1)};
        stack::mark_native(&w);
        for (const Cell& a : arguments) stack::push(&a);
        Call call{false, refs.data()};
        return throws::protect(throws::error, [&] { actions::table[s - 1](call); });
    }
};

}  // namespace

TEST_F(Actions, UnsupportedActionNamesTheCallerTheTypeAndTheArgument) {
    Cell n = integer(5);
    EXPECT_EQ(run(action::append, {n, n}, {-1, -1, -1}), throws::error);
    EXPECT_STREQ(error::pending.id, "expect-arg");
    ASSERT_EQ(error::pending.arg_count, 3);
    EXPECT_EQ(symbol::name(error::pending.args[0].payload2), "act");
    EXPECT_EQ(error::pending.args[1].payload1, type::integer);
    EXPECT_EQ(symbol::name(error::pending.args[2].payload2), "series");
}

// The path wrapper carries no path: a type without a path handler raises
// bad-path-type2 with the element and the datatype (paths through the
// interpreter raise bad-path-type, in the Kel tables).
TEST_F(Actions, PathWrapperWithoutAHandlerNamesTheElementAndTheType) {
    Cell n = integer(5);
    Cell element{type::word, context::global, symbol::make("foo"), uint32_t(-1)};
    EXPECT_EQ(run(action::eval_path, {n, element}, {-1}), throws::error);
    EXPECT_STREQ(error::pending.id, "bad-path-type2");
    ASSERT_EQ(error::pending.arg_count, 2);
    EXPECT_EQ(symbol::name(error::pending.args[0].payload2), "foo");
    EXPECT_EQ(error::pending.args[1].payload1, type::integer);
}

TEST_F(Actions, AppendAndInsertChecks) {
    struct Case {
        const char* name;
        action::Slot slot;
        uint32_t value_index;
        Cell part;      // header 0: no /part
        int32_t dup;    // 0: no /dup
        int calls;
        int32_t count;
        const char* error;
    } cases[] = {
        {"plain append", action::append, 0, {}, 0, 1, -1, nullptr},
        {"part 0 inserts nothing", action::append, 0, integer(0), 0, 0, 0, nullptr},
        {"negative count at the head inserts nothing", action::append, 0, integer(-2), 0, 0, 0, nullptr},
        {"negative count steps back", action::append, 3, integer(-2), 0, 1, 2, nullptr},
        {"negative count stops at the head", action::append, 1, integer(-5), 0, 1, 1, nullptr},
        {"dup below 1 inserts nothing", action::insert, 0, {}, -1, 0, 0, nullptr},
        {"dup is passed on", action::insert, 0, {}, 3, 1, -1, nullptr},
        {"part of another series", action::append, 0, block_of(2), 0, 0, 0, "invalid-refine-arg"},
    };
    for (const Case& c : cases) {
        seen = {};
        Cell series = block_of(4), value = block_of(5, c.value_index);
        std::vector<Cell> args{series, value};
        std::vector<int32_t> refs{-1, -1, -1};
        if (c.part.header) {
            refs[0] = int32_t(args.size());
            args.push_back(c.part);
        }
        if (c.dup) {
            refs[2] = int32_t(args.size());
            args.push_back(integer(c.dup));
        }
        uint32_t code = run(c.slot, args, refs);
        if (c.error) {
            EXPECT_EQ(code, throws::error) << c.name;
            EXPECT_STREQ(error::pending.id, c.error) << c.name;
        } else {
            EXPECT_EQ(code, 0u) << c.name;
        }
        EXPECT_EQ(seen.calls, c.calls) << c.name;
        if (c.calls) {
            EXPECT_EQ(seen.count, c.count) << c.name;
            if (c.dup > 0) {
                EXPECT_EQ(seen.dup, c.dup) << c.name;
            }
        }
        stack::revert();
    }
}

TEST_F(Actions, PartOfANonSeriesValueAndInsertPastTheTail) {
    EXPECT_EQ(run(action::append, {block_of(2), integer(5), integer(1)}, {2, -1, -1}), throws::error);
    EXPECT_STREQ(error::pending.id, "invalid-part");
    EXPECT_EQ(seen.calls, 0);
    stack::revert();
    EXPECT_EQ(run(action::insert, {block_of(2, 9), integer(5)}, {-1, -1, -1}), 0u);
    EXPECT_EQ(seen.series_index, 2u);  // clamped to the tail
    EXPECT_FALSE(seen.append);
}

TEST_F(Actions, LengthPickFormMakeAndCompare) {
    EXPECT_EQ(run(action::length_q, {block_of(1)}, {}), 0u);
    EXPECT_TRUE(cell::is(stack::args, type::none));
    stack::revert();

    Cell truth;
    cell::set_logic(&truth, false);
    run(action::pick, {block_of(1), truth}, {});
    EXPECT_EQ(seen.index, 2);  // false picks the second
    stack::revert();

    run(action::form, {block_of(1), integer(0)}, {1});  // /part 0: empty, the handler not called
    EXPECT_EQ(seen.calls, 0);
    EXPECT_EQ(string::to_utf8(stack::args), "");
    stack::revert();
    run(action::form, {block_of(1), integer(4)}, {1});
    EXPECT_EQ(string::to_utf8(stack::args), "abcd");
    stack::revert();

    Cell proto;
    cell::set_datatype(&proto, type::block);
    run(action::make, {proto, integer(1)}, {});
    EXPECT_EQ(seen.index, type::block);  // a datatype! prototype dispatches on its type
    stack::revert();

    Cell a = block_of(1), b = block_of(1);
    EXPECT_FALSE(actions::compare_star(&a, &b, 0));
    EXPECT_TRUE(actions::compare_star(&a, &b, 1));
    uint32_t code = throws::protect(throws::error, [&] { actions::compare_star(&a, &b, 3); });
    EXPECT_EQ(code, throws::error);
    EXPECT_STREQ(error::pending.id, "invalid-compare");
}

TEST_F(Actions, CopyTypesMustBeATypeOrTypeset) {
    EXPECT_EQ(run(action::copy, {block_of(1), integer(3)}, {-1, -1, 1}), throws::error);
    EXPECT_STREQ(error::pending.id, "expect-arg");
    EXPECT_EQ(symbol::name(error::pending.args[2].payload2), "kind");
}
