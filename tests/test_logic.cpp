// unset!, none! and logic!: their texts, comparisons, conversions, random
// draws, bitwise actions, the truth tests and the rows they register.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <set>
#include <string>

#include "runtime/actions.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/error.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"
#include "runtime/throws.hpp"
#include "tests/support/runtime.hpp"

using namespace kel;

namespace {

Cell unset_v() { return Cell{type::unset, 0, 0, 0}; }
Cell none_v() { return Cell{type::none, 0, 0, 0}; }
Cell logic_v(uint32_t word) { return Cell{type::logic, word, 0, 0}; }
Cell integer_v(int32_t i) {
    Cell c;
    cell::set_integer(&c, i);
    return c;
}
Cell real_v(uint8_t t, double d) {
    Cell c;
    cell::set_real(&c, t, d);
    return c;
}
Cell type_v(uint8_t t) {
    Cell c;
    cell::set_datatype(&c, t);
    return c;
}

// Runs an action's wrapper on an empty stack with the arguments pushed and
// the refinements given by their positions in the action's spec (none of
// them taking an argument); answers arguments[0].
Cell run(action::Slot s, std::initializer_list<Cell> args, std::initializer_list<int> refinements = {}) {
    stack::args = stack::top = stack::cells;
    for (const Cell& c : args) stack::push(&c);
    int32_t refs[16];
    std::fill(std::begin(refs), std::end(refs), -1);
    for (int r : refinements) refs[r] = 1;
    actions::table[s - 1](Call{false, refs});
    return test::keep(stack::args[0]);
}

// The id of the error the body raises, or "" when it raises none.
template <class Body>
std::string error_of(Body body) {
    return throws::protect(throws::error, body) == throws::error ? error::pending.id : "";
}

bool same_cell(const Cell& a, const Cell& b) {
    return cell::type_of(&a) == cell::type_of(&b) && (!cell::is(&a, type::logic) || a.payload1 == b.payload1);
}

using Logic = test::WithRuntime;

}  // namespace

TEST_F(Logic, FormAndMold) {
    struct Case {
        Cell value;
        const char *form, *mold, *mold_all;
    } cases[] = {
        {unset_v(), "", "unset", "#(unset)"},
        {none_v(), "none", "none", "#(none)"},
        {logic_v(1), "true", "true", "#(true)"},
        {logic_v(0), "false", "false", "#(false)"},
        {logic_v(2), "false", "false", "#(false)"},  // only 1 reads as true
    };
    for (const Case& c : cases) {
        for (int way = 0; way < 3; ++way) {
            const char* expected = way == 0 ? c.form : way == 1 ? c.mold : c.mold_all;
            Cell& out = test::keep();
            string::make(&out, 4);
            int32_t left = way == 0 ? actions::form(&c.value, &out, nullptr, 100)
                                    : actions::mold(&c.value, &out, false, way == 2, false, nullptr, 100, 0);
            EXPECT_EQ(string::to_utf8(&out), expected);
            EXPECT_EQ(left, 100 - int32_t(std::string(expected).size())) << expected;
        }
    }
}

TEST_F(Logic, CompareHandlers) {
    struct Case {
        Cell a, b;
        int32_t op, expected;
    } cases[] = {
        {unset_v(), unset_v(), 0, 0}, {unset_v(), unset_v(), 9, 0}, {unset_v(), unset_v(), 8, 0},
        {unset_v(), unset_v(), 3, -2}, {unset_v(), unset_v(), 10, -2},
        {none_v(), none_v(), 2, 0},    {none_v(), none_v(), 12, 0},  {none_v(), none_v(), 7, 0},
        {none_v(), none_v(), 6, -2},   {none_v(), unset_v(), 0, -2}, {unset_v(), none_v(), 1, -2},
        {logic_v(1), logic_v(1), 0, 0}, {logic_v(1), logic_v(0), 1, 1}, {logic_v(0), logic_v(1), 2, -1},
        {logic_v(1), logic_v(0), 9, 1}, {logic_v(0), logic_v(0), 12, 0}, {logic_v(1), logic_v(0), 7, 1},
        {logic_v(1), logic_v(0), 3, -2}, {logic_v(1), logic_v(0), 5, -2},  // true and false have no order
        {logic_v(1), integer_v(1), 0, -2}, {logic_v(0), none_v(), 0, -2},
    };
    for (const Case& c : cases) {
        auto compare = actions::handler<actions::Compare>(cell::type_of(&c.a), action::compare, &c.a);
        EXPECT_EQ(compare(&c.a, &c.b, c.op), c.expected) << int(cell::type_of(&c.a)) << " op " << c.op;
    }
}

TEST_F(Logic, IncomparableValuesThroughCompareStar) {
    Cell n = none_v(), u = unset_v();
    EXPECT_TRUE(actions::compare_star(&n, &n, 0));
    EXPECT_FALSE(actions::compare_star(&n, &u, 0));
    EXPECT_TRUE(actions::compare_star(&n, &u, 1));
    EXPECT_FALSE(actions::compare_star(&u, &n, 2));
    EXPECT_EQ(error_of([&] { actions::compare_star(&n, &n, 3); }), "invalid-compare");
}

TEST_F(Logic, MakeAndTo) {
    Cell& text = test::keep();
    string::make_from_utf8(&text, "abc", 3);
    Cell lg = type_v(type::logic);
    struct Case {
        action::Slot slot;
        Cell proto, spec, expected;
    } cases[] = {
        {action::make, lg, integer_v(0), logic_v(0)},
        {action::make, lg, integer_v(-7), logic_v(1)},
        {action::make, lg, real_v(type::float_, 0.0), logic_v(0)},
        {action::make, lg, real_v(type::float_, -0.0), logic_v(0)},
        {action::make, lg, real_v(type::float_, NAN), logic_v(1)},
        {action::make, lg, real_v(type::percent, 0.0), logic_v(0)},
        {action::make, lg, real_v(type::percent, 0.5), logic_v(1)},
        {action::make, lg, text, logic_v(1)},
        {action::make, lg, none_v(), logic_v(0)},
        {action::make, logic_v(1), integer_v(0), logic_v(0)},  // a logic! prototype stands for its type
        {action::to, lg, integer_v(0), logic_v(1)},            // to: only none and false are false
        {action::to, lg, none_v(), logic_v(0)},
        {action::to, lg, logic_v(0), logic_v(0)},
        {action::to, lg, logic_v(1), logic_v(1)},
        {action::to, lg, unset_v(), logic_v(1)},
        {action::make, type_v(type::none), integer_v(1), none_v()},
        {action::to, type_v(type::none), text, none_v()},
        {action::make, type_v(type::unset), integer_v(1), unset_v()},
        {action::to, type_v(type::unset), none_v(), unset_v()},
    };
    for (const Case& c : cases) {
        Cell r = run(c.slot, {c.proto, c.spec});
        EXPECT_TRUE(same_cell(r, c.expected))
            << "slot " << int(c.slot) << " spec type " << int(cell::type_of(&c.spec)) << " gave type "
            << int(cell::type_of(&r)) << " word " << r.payload1;
    }
}

TEST_F(Logic, RandomDrawsHalfAboveTwoToThe30) {
    constexpr int seed = 0, secure = 1;
    Cell r = run(action::random, {logic_v(0)}, {seed});  // seeds with the value word, 0
    EXPECT_TRUE(cell::is(&r, type::unset));
    // Seed 0 gives the words 0, 4194449, 1288460453, 1839137408, 1331836786.
    for (bool expected : {false, false, true, true, true}) {
        r = run(action::random, {logic_v(1)});
        ASSERT_TRUE(cell::is(&r, type::logic));
        EXPECT_EQ(r.payload1 == 1, expected);
    }
    std::set<uint32_t> drawn;
    for (int i = 0; i < 64; ++i) {
        r = run(action::random, {logic_v(1)}, {secure});
        ASSERT_TRUE(cell::is(&r, type::logic));
        drawn.insert(r.payload1);
    }
    EXPECT_EQ(drawn, (std::set<uint32_t>{0, 1}));
}

TEST_F(Logic, BitwiseActions) {
    struct Case {
        action::Slot slot;
        uint32_t a, b, expected;
    } cases[] = {
        {action::and_, 1, 1, 1}, {action::and_, 1, 0, 0}, {action::or_, 0, 1, 1},
        {action::or_, 0, 0, 0},  {action::xor_, 1, 1, 0}, {action::xor_, 1, 0, 1},
    };
    for (const Case& c : cases) {
        Cell r = run(c.slot, {logic_v(c.a), logic_v(c.b)});
        EXPECT_TRUE(same_cell(r, logic_v(c.expected))) << int(c.slot) << " " << c.a << " " << c.b;
    }
    for (uint32_t v : {0u, 1u}) EXPECT_EQ(run(action::complement, {logic_v(v)}).payload1, v ^ 1);
}

TEST_F(Logic, BitwiseWithANonLogicFails) {
    for (action::Slot s : {action::and_, action::or_, action::xor_}) {
        EXPECT_EQ(error_of([&] { run(s, {logic_v(1), integer_v(1)}); }), "expect-arg");
        EXPECT_TRUE(same_cell(stack::args[0], logic_v(1)));  // left as it was
        ASSERT_EQ(error::pending.arg_count, 3);
        EXPECT_TRUE(cell::is(&error::pending.args[1], type::datatype));
        EXPECT_EQ(error::pending.args[1].payload1, uint32_t(type::integer));
        EXPECT_EQ(symbol::name(error::pending.args[2].payload2), "value2");
    }
}

TEST_F(Logic, Truth) {
    Cell& text = test::keep();
    string::make_from_utf8(&text, "", 0);
    struct Case {
        Cell value;
        bool truth;
    } cases[] = {
        {none_v(), false}, {logic_v(0), false}, {logic_v(2), false}, {logic_v(1), true},
        {unset_v(), true}, {integer_v(0), true}, {text, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(logic::cell_true_q(&c.value, false), c.truth) << int(cell::type_of(&c.value));
        if (!cell::is(&c.value, type::unset)) {
            EXPECT_EQ(logic::cell_true_q(&c.value, true), c.truth);
        }
    }
    Cell u = unset_v();
    EXPECT_EQ(error_of([&] { logic::cell_true_q(&u, true); }), "no-value");
    EXPECT_TRUE(cell::is(&error::pending.args[0], type::unset));
}

TEST_F(Logic, ResultAndStackTopTests) {
    stack::args = stack::top = stack::cells;
    unset::set_last();
    EXPECT_TRUE(logic::true_q());
    EXPECT_EQ(error_of([] { logic::check_condition(); }), "no-return");
    none::set_last();
    EXPECT_FALSE(logic::check_condition());
    EXPECT_FALSE(logic::top_true_q());  // nothing pushed: the result cell
    logic::push(true);
    EXPECT_TRUE(logic::top_true_q());
    EXPECT_FALSE(logic::top_false_q());
    none::push();
    EXPECT_TRUE(logic::top_false_q());
    logic::set_last(true);
    EXPECT_TRUE(logic::check_condition());
    unset::push();
    EXPECT_TRUE(cell::is(stack::top - 1, type::unset));
    EXPECT_EQ(stack::top - stack::args, 3);
}

TEST_F(Logic, AppendsToABlock) {
    Cell& block = test::keep(Cell{type::block, 0, alloc::alloc_cells(1), 0});
    unset::make_in(&block);
    none::make_in(&block);
    logic::make_in(&block, true);
    Cell* last = logic::make_in(&block, false);  // the block grows on the way
    SeriesBuffer* b = alloc::buffer_of(block.payload2);
    ASSERT_EQ((b->tail - b->offset) / sizeof(Cell), 4u);
    const Cell* c = reinterpret_cast<const Cell*>(b->data() + b->offset);
    EXPECT_EQ(last, c + 3);
    const Cell expected[] = {unset_v(), none_v(), logic_v(1), logic_v(0)};
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(same_cell(c[i], expected[i])) << i;
}

TEST_F(Logic, NoneAnswersNoneToSeriesActions) {
    for (action::Slot slot : {action::length_q, action::clear, action::find, action::select, action::take,
                              action::remove}) {
        Cell r = run(slot, {none_v(), integer_v(1)});
        EXPECT_TRUE(cell::is(&r, type::none)) << int(slot);
    }
    EXPECT_TRUE(cell::is(shared::none(), type::none));  // nobody wrote through the shared cell
}

TEST_F(Logic, RowsHoldExactlyTheirActions) {
    using S = action::Slot;
    const std::set<int> common = {action::make, action::to, action::form, action::mold, action::compare};
    std::set<int> with_none = common, with_logic = common;
    for (S s : {action::clear, action::find, action::length_q, action::remove, action::select, action::take})
        with_none.insert(s);
    for (S s : {action::random, action::and_, action::or_, action::xor_, action::complement}) with_logic.insert(s);
    const std::pair<uint8_t, std::set<int>> rows[] = {
        {type::unset, common}, {type::none, with_none}, {type::logic, with_logic}};
    for (const auto& [t, slots] : rows)
        for (int s = 1; s <= action::count; ++s)
            EXPECT_EQ(datatype::handler(t, S(s)) != nullptr, slots.count(s) == 1) << int(t) << " slot " << s;
    // An unsupported action raises expect-arg.
    EXPECT_EQ(error_of([] { run(action::length_q, {logic_v(1)}); }), "expect-arg");
}
