// The series! row: positions and their queries, pick, poke, clear and copy,
// run through the action wrappers on blocks and on text of each unit width.
#include <gtest/gtest.h>

#include <climits>

#include "runtime/alloc.hpp"
#include "tests/support/values.hpp"

using namespace kel;
using namespace kel::test;

namespace {

struct Series : WithSeries {
    // Three values each: one block, and text of 1, 2 and 4 bytes per unit.
    Cell of(char kind) {
        switch (kind) {
            case 'b': return load("a b c");
            case '1': return text("xyz");
            case '2': return text("x\u20ACz");
            default: return text("x\U0001F600z");
        }
    }
};

Cell binary_of(std::initializer_list<uint8_t> bytes) {
    NodeId node = alloc::alloc_bytes(bytes.size());
    SeriesBuffer* b = alloc::buffer_of(node);
    for (uint8_t x : bytes) b->data()[b->tail++] = x;
    return Cell{type::binary, 0, node, 0};
}

TEST_F(Series, PositionsAreClampedToTheSeries) {
    struct Case {
        char series;
        action::Slot slot;
        int32_t start, arg, index;
    } cases[] = {
        {'b', action::at, 0, 1, 0},   {'b', action::at, 0, 0, 0},     {'b', action::at, 1, 1, 1},
        {'b', action::at, 1, 0, 1},   {'b', action::at, 2, -1, 1},    {'b', action::at, 0, 3, 2},
        {'b', action::at, 0, 4, 3},   {'b', action::at, 0, 99, 3},    {'b', action::at, 2, -99, 0},
        {'b', action::at, 0, INT_MAX, 3}, {'b', action::at, 1, INT_MIN, 0}, {'b', action::at, 7, 1, 3},
        {'b', action::skip, 0, 2, 2}, {'b', action::skip, 1, -1, 0},  {'b', action::skip, 0, 4, 3},
        {'b', action::skip, 2, -5, 0}, {'b', action::skip, 7, 0, 3},  {'b', action::skip, 3, INT_MAX, 3},
        {'b', action::next, 0, 0, 1}, {'b', action::next, 3, 0, 3},   {'b', action::next, 7, 0, 7},
        {'b', action::back, 0, 0, 0}, {'b', action::back, 3, 0, 2},   {'b', action::head, 2, 0, 0},
        {'b', action::tail, 0, 0, 3}, {'b', action::tail, 7, 0, 3},
        {'1', action::at, 0, 99, 3},  {'2', action::at, 0, 99, 3},    {'4', action::at, 0, 99, 3},
        {'2', action::skip, 1, 1, 2}, {'4', action::tail, 0, 0, 3},   {'4', action::next, 2, 0, 3},
        {'2', action::back, 1, 0, 0},
    };
    for (const Case& c : cases) {
        Cell s = at(of(c.series), c.start);
        bool takes_arg = c.slot == action::at || c.slot == action::skip;
        Cell r = takes_arg ? run(c.slot, {s, num(c.arg)}) : run(c.slot, {s});
        SCOPED_TRACE(testing::Message() << c.series << " slot " << int(c.slot) << " from " << c.start);
        EXPECT_EQ(cell::type_of(&r), cell::type_of(&s));
        EXPECT_EQ(r.payload2, s.payload2);
        EXPECT_EQ(series::index_of(&r), c.index);
    }
}

TEST_F(Series, QueriesAtHeadMiddleTailAndPastTheTail) {
    struct Case {
        int32_t start;
        bool head, tail;
        int32_t index, length;
    } cases[] = {
        {0, true, false, 1, 3}, {1, false, false, 2, 2}, {3, false, true, 4, 0}, {7, false, true, 8, 0},
    };
    for (char kind : {'b', '2'}) {
        for (const Case& c : cases) {
            Cell s = at(of(kind), c.start);
            SCOPED_TRACE(testing::Message() << kind << " at " << c.start);
            Cell head = run(action::head_q, {s}), tail = run(action::tail_q, {s});
            Cell index = run(action::index_q, {s}), length = run(action::length_q, {s});
            ASSERT_TRUE(cell::is(&head, type::logic) && cell::is(&tail, type::logic));
            EXPECT_EQ(head.payload1, uint32_t(c.head));
            EXPECT_EQ(tail.payload1, uint32_t(c.tail));
            EXPECT_EQ(cell::integer(&index), c.index);  // not clamped: the stored index + 1
            EXPECT_EQ(cell::integer(&length), c.length);
        }
    }
}

TEST_F(Series, AtAndSkipTakeOnlyIntegers) {
    Cell b = load("a b c");
    for (action::Slot slot : {action::at, action::skip}) {
        EXPECT_EQ(error_of([&] { run(slot, {b, dec(1.0)}); }), "invalid-arg");
        EXPECT_TRUE(cell::is(&error::pending.args[0], type::float_));
    }
}

TEST_F(Series, PickPositions) {
    Cell b = load("a b c");
    Cell yes{}, no{};
    cell::set_logic(&yes, true);
    cell::set_logic(&no, false);
    Cell two{type::char_, 0, 2, 0};
    struct Case {
        int32_t start;
        Cell index;
        const char* picked;
    } cases[] = {
        {0, num(1), "a"},  {0, num(3), "c"},       {0, num(4), "none"},   {0, num(0), "none"},
        {1, num(-1), "a"}, {1, num(0), "none"},    {0, num(-1), "none"},  {0, yes, "a"},
        {0, no, "b"},          {2, no, "none"},            {0, two, "b"},             {0, word_of("x"), "none"},
        {7, num(-5), "c"}, {1, num(INT_MAX), "none"}, {1, num(INT_MIN), "none"},
    };
    for (const Case& c : cases) {
        Cell r = run(action::pick, {at(b, c.start), c.index});
        EXPECT_EQ(mold(r), c.picked) << "from " << c.start << " pick " << mold(c.index);
    }
}

TEST_F(Series, PickGivesTheElementKindOfEachSeries) {
    Cell r = run(action::pick, {of('2'), num(2)});
    EXPECT_TRUE(cell::is(&r, type::char_));
    EXPECT_EQ(r.payload2, 0x20ACu);
    r = run(action::pick, {of('4'), num(2)});
    EXPECT_EQ(r.payload2, 0x1F600u);
    r = run(action::pick, {binary_of({7, 200}), num(2)});
    EXPECT_TRUE(cell::is(&r, type::integer));
    EXPECT_EQ(cell::integer(&r), 200);
    r = run(action::pick, {binary_of({7}), num(2)});
    EXPECT_TRUE(cell::is(&r, type::none));
}

TEST_F(Series, PokeStoresOrFailsWithoutChange) {
    Cell b = load("a b c");
    Cell r = run(action::poke, {at(b, 1), num(2), num(9)});
    EXPECT_EQ(cell::integer(&r), 9);  // the poked value
    EXPECT_EQ(mold(b), "[a b 9]");

    for (int32_t i : {0, 4, -1, INT_MIN}) {
        EXPECT_EQ(error_of([&] { run(action::poke, {b, num(i), num(0)}); }), "out-of-range") << i;
        EXPECT_EQ(cell::integer(&error::pending.args[0]), i);
    }
    EXPECT_EQ(mold(b), "[a b 9]");
}

TEST_F(Series, PokeIntoTextAndBinary) {
    Cell s = text("abc");
    Cell euro{type::char_, 0, 0x20AC, 0};
    run(action::poke, {s, num(2), euro});
    EXPECT_EQ(string::to_utf8(&s), "a\u20ACc");  // the buffer widened whole
    EXPECT_EQ(alloc::buffer_of(s.payload2)->unit(), 2u);
    EXPECT_EQ(error_of([&] { run(action::poke, {s, num(1), num(65)}); }), "invalid-arg");

    Cell bin = binary_of({1, 2});
    run(action::poke, {bin, num(1), num(258)});
    EXPECT_EQ(alloc::buffer_of(bin.payload2)->data()[0], 2);
    EXPECT_EQ(error_of([&] { run(action::poke, {bin, num(1), text("x")}); }), "invalid-arg");
}

TEST_F(Series, ClearCutsAtThePosition) {
    struct Case {
        int32_t start;
        const char* left;
    } cases[] = {{0, "[]"}, {1, "[a]"}, {3, "[a b c]"}, {7, "[a b c]"}};
    for (const Case& c : cases) {
        Cell b = load("a b c");
        Cell r = run(action::clear, {at(b, c.start)});
        EXPECT_EQ(series::index_of(&r), c.start);
        EXPECT_EQ(mold(b), c.left) << c.start;
    }
    Cell s = at(of('2'), 1);
    run(action::clear, {s});
    Cell whole = at(s, 0);
    EXPECT_EQ(string::to_utf8(&whole), "x");
}

TEST_F(Series, CopyPart) {
    Cell b = load("a b c d");
    Cell pair{type::pair, 0, 0, 0};
    auto pair_of = [&](int32_t x, int32_t y) {
        pair.payload2 = uint32_t(x);
        pair.payload3 = uint32_t(y);
        return pair;
    };
    struct Case {
        int32_t start;
        bool has_part;
        Cell part;
        const char* copied;
    } cases[] = {
        {0, false, {}, "[a b c d]"},          {1, false, {}, "[b c d]"},
        {7, false, {}, "[]"},                 {1, true, num(2), "[b c]"},
        {1, true, num(99), "[b c d]"},    {1, true, num(-2), "[a]"},
        {3, true, num(-2), "[b c]"},      {2, true, num(0), "[]"},
        {7, true, num(-2), "[c d]"},      {0, true, num(INT_MIN), "[]"},
        {0, true, pair_of(2, 3), "[b]"},      {2, true, pair_of(-1, 2), "[b c d]"},
        {0, true, pair_of(3, 1), "[]"},       {0, true, pair_of(1, 99), "[a b c d]"},
        {1, true, at(b, 3), "[b c]"},         {2, true, at(b, 0), "[a b]"},
        {1, true, at(b, 99), "[b c d]"},
    };
    for (const Case& c : cases) {
        Cell r = copy_of(at(b, c.start), c.has_part ? &c.part : nullptr);
        EXPECT_EQ(mold(r), c.copied) << "from " << c.start << " part " << (c.has_part ? mold(c.part) : "-");
        EXPECT_EQ(series::index_of(&r), 0);
        EXPECT_NE(r.payload2, b.payload2);
    }
}

TEST_F(Series, CopyKeepsTypeUnitAndNewLineMarker) {
    Cell s = text("x\u20ACyz");
    s.header |= cell::newline_flag;
    Cell two = num(2);
    Cell r = copy_of(at(s, 1), &two);
    EXPECT_EQ(r.header, s.header);
    EXPECT_EQ(string::to_utf8(&r), "\u20ACy");
    EXPECT_EQ(alloc::buffer_of(r.payload2)->unit(), 2u);
}

TEST_F(Series, CopyPartOfAnotherSeriesFails) {
    Cell b = load("a b c");
    for (Cell part : {load("a b c"), text("abc"), dec(1.0)}) {
        EXPECT_EQ(error_of([&] { copy_of(b, &part); }), "invalid-refine-arg");
        EXPECT_TRUE(cell::is(&error::pending.args[0], type::refinement));
        EXPECT_EQ(cell::type_of(&error::pending.args[1]), cell::type_of(&part));
    }
}

}  // namespace
