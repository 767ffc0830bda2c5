// block!: mold and form (new-line markers, indentation, cycles), comparison,
// make and to, copy, path access, and the block routines other modules use.
#include <gtest/gtest.h>

#include <vector>

#include "runtime/alloc.hpp"
#include "runtime/cycles.hpp"
#include "tests/support/values.hpp"

using namespace kel;
using namespace kel::test;

namespace {

struct Block : WithSeries {};

MoldFlags only() { return {true, false, false, -1}; }
MoldFlags flat() { return {false, false, true, -1}; }
MoldFlags part(int32_t n) { return {false, false, false, n}; }

TEST_F(Block, Mold) {
    struct Case {
        const char* source;
        MoldFlags flags;
        const char* molded;
    } cases[] = {
        {"[]", {}, "[]"},
        {"[a b]", {}, "[a b]"},
        {"[a [b [c]] (d e) f/g []]", {}, "[a [b [c]] (d e) f/g []]"},
        {"[\"s\" 1 2.5 #none a: :b 'c /d]", {}, "[\"s\" 1 2.5 none a: :b 'c /d]"},
        {"[a b]", only(), "a b"},
        {"[[a] b]", only(), "[a] b"},  // only the outer brackets go
        {"[\na b]", {}, "[\n    a b\n]"},
        {"[a\nb]", {}, "[a\nb]"},
        {"[\na\nb]", {}, "[\n    a\n    b\n]"},
        {"[\na b]", only(), "a b"},
        {"[a\nb]", only(), "a\nb"},
        {"[\na\nb]", flat(), "[a b]"},
        {"[x [\na]]", {}, "[x [\n    a\n]]"},
        {"[\nx [\na\nb]]", {}, "[\n    x [\n        a\n        b\n    ]\n]"},
        {"[\nx\n[a]]", {}, "[\n    x\n    [a]\n]"},
        {"[x (\na)]", {}, "[x (\n    a\n)]"},
        {"[a b c]", part(4), "[a b"},
        {"[a b c]", part(0), ""},
    };
    for (const Case& c : cases) EXPECT_EQ(mold(load1(c.source), c.flags), c.molded) << c.source;
}

TEST_F(Block, MoldAndFormFromThePosition) {
    Cell b = load1("[a b c]");
    struct Case {
        int32_t index;
        const char* molded;
        const char* formed;
    } cases[] = {{0, "[a b c]", "a b c"}, {1, "[b c]", "b c"}, {3, "[]", ""}, {7, "[]", ""}};
    for (const Case& c : cases) {
        EXPECT_EQ(mold(at(b, c.index)), c.molded) << c.index;
        EXPECT_EQ(form(at(b, c.index)), c.formed) << c.index;
    }
}

TEST_F(Block, MoldStopsAtTheLimitAndAnswersWhatIsLeft) {
    Cell b = load1("[aaaa bbbb]");
    Cell &out = keep(), limit = num(2);
    string::make(&out, 16);
    EXPECT_EQ(actions::mold(&b, &out, false, false, false, &limit, 2, 0), -4);  // "[aaaa]"
    EXPECT_EQ(string::to_utf8(&out), "[aaaa]");
    string::make(&out, 16);
    EXPECT_EQ(actions::mold(&b, &out, false, false, false, nullptr, 100, 0), 100 - 11);
    string::make(&out, 16);
    EXPECT_EQ(actions::form(&b, &out, nullptr, 100), 100 - 9);
}

TEST_F(Block, Form) {
    struct Case {
        const char* source;
        const char* formed;
    } cases[] = {
        {"[]", ""},
        {"[a b]", "a b"},
        {"[\"x\n\" b]", "x\nb"},
        {"[\"x\t\" \"y\r\" b]", "x\ty\rb"},
        {"[\"\" b]", " b"},
        {"[a [b c] (d) e]", "a b c d e"},
        {"[\na\nb]", "a b"},
        {"[a/b 'c/d c]", "a/b c/d c"},
        {"[a: 'b :c 1 2.5]", "a b c 1 2.5"},
    };
    for (const Case& c : cases) EXPECT_EQ(form(load1(c.source)), c.formed) << c.source;
    EXPECT_EQ(form(load1("[aa bb cc]"), 4), "aa b");
}

TEST_F(Block, AContainerInsideItselfPrintsAPlaceholder) {
    Cell b = load1("[a]");
    block::ks_append(&b, &b);
    Cell p = load1("(a)");
    block::ks_append(&p, &p);
    Cell outer = load1("[x]");
    block::ks_append(&outer, &p);
    EXPECT_EQ(mold(b), "[a [...]]");
    EXPECT_EQ(form(b), "a ...");
    EXPECT_EQ(mold(outer), "[x (a (...))]");
    EXPECT_EQ(mold(b, only()), "a [...]");
    EXPECT_EQ(cycles::depth(), 0u);
}

TEST_F(Block, AnErrorHalfWayLeavesLaterMoldsAlone) {
    Cell inner = load1("[y]");
    Cell strange{type::symbol, uint32_t(-1), 0, 0};  // no mold handler: the mold raises expect-arg
    block::ks_append(&inner, &strange);
    Cell outer = load1("[x]");
    block::ks_append(&outer, &inner);
    EXPECT_EQ(error_of([&] { mold(outer); }), "expect-arg");
    EXPECT_EQ(error_of([&] { form(outer); }), "expect-arg");
    EXPECT_EQ(cycles::depth(), 0u);
    block::ks_remove_last(&inner);
    EXPECT_EQ(mold(outer), "[x [y]]");
    EXPECT_EQ(form(outer), "x y");
    EXPECT_TRUE(actions::compare_star(&outer, &outer, 0));
}

TEST_F(Block, Compare) {
    struct Case {
        const char* a;
        const char* b;
        int32_t op;
        int32_t raw;
    } cases[] = {
        {"[1 2]", "[1 2.0]", 0, 0},       // numbers compare as numbers
        {"[1 2]", "[1 2.0]", 2, 1},       // but not strictly
        {"[1 a]", "[a 1]", 3, -1},        // integer! before word!
        {"[a 1]", "[1 a]", 3, 1},
        {"[]", "[1]", 3, -1},             // the shorter is the smaller, empty or not
        {"[1]", "[]", 3, 1},
        {"[]", "[]", 0, 0},
        {"[1 2]", "[1 3]", 3, -1},
        {"[1 2]", "[1 2 3]", 0, 1},       // equality: unequal lengths are unequal
        {"[1 2]", "[1 2 3]", 3, -1},
        {"[1 3]", "[1 2 3]", 5, 1},       // ordering: items first
        {"[a b]", "[A b]", 0, 0},
        {"[a b]", "[A b]", 2, 1},
        {"[a: b]", "[a b]", 0, 0},        // any-word items go to the word comparison
        {"[[1 2] 3]", "[[1 2] 3]", 0, 0},
        {"[[1 2] 3]", "[[1 3] 3]", 3, -1},
        {"[a]", "(a)", 0, -2},            // different types
        {"[#none]", "[#none]", 3, -2},    // items that have no order
        {"[#none]", "[#none]", 0, 0},
        {"a/b", "'a/b", 0, -2},
        {"a/b", "'a/b", 10, 0},           // a path matches a lit-path for parse only
        {"'a/b", "a/b", 11, 0},
        {"[a]", "[a]", 9, -1},            // same: only the same series at the same index
    };
    for (const Case& c : cases) {
        Cell a = load1(c.a), b = load1(c.b);
        EXPECT_EQ(actions::compare_raw(&a, &b, c.op), c.raw) << c.a << " " << c.b << " op " << c.op;
    }
    Cell b = load1("[a b]");
    EXPECT_EQ(actions::compare_raw(&b, &b, 9), 0);
    Cell next = at(b, 1);
    EXPECT_EQ(actions::compare_raw(&b, &next, 9), -1);
    EXPECT_EQ(actions::compare_raw(&next, &b, 3), 1);  // [b] against [a b]
}

TEST_F(Block, CompareStarAnswersAndRaises) {
    Cell empty = load1("[]"), one = load1("[1]"), paren = load1("(1)");
    EXPECT_TRUE(actions::compare_star(&empty, &one, 3));
    EXPECT_TRUE(actions::compare_star(&one, &empty, 5));
    EXPECT_FALSE(actions::compare_star(&one, &empty, 4));
    EXPECT_FALSE(actions::compare_star(&one, &paren, 0));
    EXPECT_TRUE(actions::compare_star(&one, &paren, 1));
    EXPECT_EQ(error_of([&] { actions::compare_star(&one, &paren, 3); }), "invalid-compare");
}

// If a < b then b > a, over plain and self-containing blocks alike.
TEST_F(Block, OrderIsConsistent) {
    std::vector<Cell> values;
    for (const char* s : {"[]", "[1]", "[1 2]", "[1 2.0]", "[a]", "[a 1]", "[1 a]", "[[1]]", "[[]]"})
        values.push_back(load1(s));
    Cell x = load1("[]"), y = load1("[]"), z = load1("[]"), w = load1("[1]");
    block::ks_append(&x, &x);   // x: [x]
    block::ks_append(&y, &y);   // y: [y]
    block::ks_append(&z, &x);   // z: [[x]] in effect
    block::ks_append(&w, &x);   // w: [1 x]
    for (const Cell& c : {x, y, z, w}) values.push_back(c);
    auto sign = [](int32_t r) { return r == -2 ? -2 : r < 0 ? -1 : r > 0 ? 1 : 0; };
    for (size_t i = 0; i < values.size(); ++i) {
        for (size_t j = 0; j < values.size(); ++j) {
            int32_t ab = sign(actions::compare_raw(&values[i], &values[j], 3));
            int32_t ba = sign(actions::compare_raw(&values[j], &values[i], 3));
            EXPECT_EQ(ab == -2 ? -2 : -ab, ba) << mold(values[i]) << " against " << mold(values[j]);
        }
    }
    EXPECT_EQ(cycles::depth(), 0u);
}

TEST_F(Block, MakeAndTo) {
    auto type_cell = [](uint8_t t) {
        Cell d{};
        cell::set_datatype(&d, t);
        return d;
    };
    Cell b = load1("[a b c]");
    Cell ts{type::typeset, 0, 0, 0};
    cell::typeset_add(&ts, type::integer);
    cell::typeset_add(&ts, type::word);
    struct Case {
        action::Slot slot;
        uint8_t t;
        Cell spec;
        const char* made;
    } cases[] = {
        {action::make, type::block, num(10), "[]"},
        {action::make, type::block, num(-5), "[]"},
        {action::make, type::block, dec(2.7), "[]"},
        {action::make, type::block, at(b, 1), "[b c]"},
        {action::make, type::paren, b, "(a b c)"},
        {action::make, type::block, load1("a/b"), "[a b]"},
        {action::to, type::block, num(5), "[5]"},
        {action::to, type::block, at(b, 2), "[c]"},
        {action::to, type::paren, word_of("x"), "(x)"},
        {action::to, type::block, ts, "[integer! word!]"},
        {action::to, type::block, load1("'a/b"), "[a b]"},
    };
    for (const Case& c : cases) {
        Cell r = run(c.slot, {type_cell(c.t), c.spec});
        EXPECT_EQ(cell::type_of(&r), c.t);
        EXPECT_EQ(series::index_of(&r), 0);
        EXPECT_EQ(mold(r), c.made) << mold(c.spec);
        if (series::is_any_block(cell::type_of(&c.spec))) {
            EXPECT_NE(r.payload2, c.spec.payload2);
        }
    }
    Cell ten = run(action::make, {type_cell(type::block), num(10)});
    EXPECT_GE(alloc::buffer_of(ten.payload2)->size, 10 * sizeof(Cell));
    Cell by_example = run(action::make, {b, num(1)});  // a block prototype stands for block!
    EXPECT_TRUE(cell::is(&by_example, type::block));
}

TEST_F(Block, MakeAndToFailures) {
    Cell d{};
    cell::set_datatype(&d, type::block);
    for (Cell spec : {text("x"), word_of("x"), dec(1e10)}) {
        EXPECT_EQ(error_of([&] { run(action::make, {d, spec}); }), "bad-make-arg") << mold(spec);
        EXPECT_EQ(error::pending.args[0].payload1, uint32_t(type::block));
        EXPECT_EQ(cell::type_of(&error::pending.args[1]), cell::type_of(&spec));
    }
    // Text converts to the values it loads to.
    EXPECT_EQ(mold(run(action::to, {d, text("a [b] 1")})), "[a [b] 1]");
}

TEST_F(Block, CopyShallowAndDeep) {
    Cell b = load1("[a [b [c]] \"s\" (p) x/y]");
    Cell shallow = copy_of(b);
    EXPECT_EQ(mold(shallow), mold(b));
    EXPECT_EQ(cell_at(shallow, 1)->payload2, cell_at(b, 1)->payload2);

    Cell deep = copy_of(b, nullptr, true);
    EXPECT_EQ(mold(deep), mold(b));
    for (int32_t i : {1, 2, 3, 4}) EXPECT_NE(cell_at(deep, i)->payload2, cell_at(b, i)->payload2) << i;
    Cell* nested = cell_at(*cell_at(deep, 1), 1);
    EXPECT_NE(nested->payload2, cell_at(*cell_at(b, 1), 1)->payload2);  // all the way down

    Cell two = num(2);
    EXPECT_EQ(mold(copy_of(at(b, 1), &two, true)), "[[b [c]] \"s\"]");
    EXPECT_EQ(cycles::depth(), 0u);
}

TEST_F(Block, CopyTypesCopiesOnlyTheChosenTypes) {
    Cell b = load1("[[1] \"s\"]");
    Cell kind{};
    cell::set_datatype(&kind, type::string);
    Cell r = copy_of(b, nullptr, false, &kind);
    EXPECT_EQ(cell_at(r, 0)->payload2, cell_at(b, 0)->payload2);
    EXPECT_NE(cell_at(r, 1)->payload2, cell_at(b, 1)->payload2);
    EXPECT_EQ(mold(r), "[[1] \"s\"]");
}

TEST_F(Block, DeepCopyOfACycleFails) {
    Cell b = load1("[a]");
    block::ks_append(&b, &b);
    EXPECT_EQ(mold(copy_of(b)), "[a [a [...]]]");  // shallow is fine
    EXPECT_EQ(error_of([&] { copy_of(b, nullptr, true); }), "no-cycle");
    EXPECT_EQ(cycles::depth(), 0u);
    EXPECT_EQ(error_of([&] { block::clone(&b, true, false); }), "no-cycle");
    EXPECT_EQ(mold(load1("[a [b]]")), "[a [b]]");
}

TEST_F(Block, PathAccess) {
    Cell b = load1("[a 1 B \"x\" c]");
    auto get = [&](const Cell& element, bool case_ = false) {
        Cell* r = actions::handler<actions::EvalPath>(type::block, action::eval_path, &b)(
            &b, &element, nullptr, nullptr, nullptr, nullptr, -1, case_, false, true, false);
        return mold(*r);
    };
    EXPECT_EQ(get(num(2)), "1");
    EXPECT_EQ(get(num(9)), "none");
    EXPECT_EQ(get(num(0)), "none");
    EXPECT_EQ(get(word_of("b")), "\"x\"");   // words match without regard to case
    EXPECT_EQ(get(word_of("b"), true), "none");
    EXPECT_EQ(get(word_of("c")), "none");    // nothing after it
    EXPECT_EQ(get(word_of("zz")), "none");
    EXPECT_EQ(get(text("x")), "c");       // other keys are selected
    EXPECT_EQ(get(num(2)), "1");

    auto set = [&](const Cell& element, const Cell& value) {
        Cell* r = actions::handler<actions::EvalPath>(type::block, action::eval_path, &b)(
            &b, &element, &value, nullptr, nullptr, nullptr, -1, false, false, true, false);
        return mold(*r);
    };
    EXPECT_EQ(set(num(2), num(5)), "5");
    EXPECT_EQ(set(word_of("a"), num(7)), "7");
    EXPECT_EQ(mold(b), "[a 7 B \"x\" c]");
    EXPECT_EQ(error_of([&] { set(word_of("zz"), num(0)); }), "bad-path-set");
    EXPECT_EQ(error_of([&] { set(word_of("c"), num(0)); }), "out-of-range");
    EXPECT_EQ(error_of([&] { set(num(6), num(0)); }), "out-of-range");
    EXPECT_EQ(mold(b), "[a 7 B \"x\" c]");
}

TEST_F(Block, MakingAndAppending) {
    Cell& b = test::keep();
    block::make_at(&b, 0);
    for (int32_t i = 0; i < 100; ++i) {
        Cell v = num(i);
        block::ks_append(&b, &v);
    }
    EXPECT_EQ(block::ks_length_q(&b), 100);
    EXPECT_EQ(cell::integer(cell_at(b, 99)), 99);

    Cell two = load1("[a b]");
    block::ks_append_block(&two, &two);  // from itself: the cells are read once
    EXPECT_EQ(mold(two), "[a b a b]");
    Cell from = at(load1("[x y z]"), 1);
    block::ks_append_block(&two, &from);
    EXPECT_EQ(mold(two), "[a b a b y z]");

    Cell* made = block::make_in(&two, 3);
    EXPECT_TRUE(cell::is(made, type::block));
    EXPECT_EQ(mold(two), "[a b a b y z []]");

    StackScope scope;
    block::push(&two);
    stack::push(&b);
    block::append_top();
    EXPECT_EQ(mold(two), "[a b a b y z [] [" + form(b) + "]]");  // the block of 100 went in whole
}

TEST_F(Block, WalkingRoutinesStayInside) {
    Cell b = at(load1("[a b c]"), 7);
    EXPECT_FALSE(block::ks_tail_q(&b));  // past the tail, not exactly at it
    EXPECT_EQ(block::ks_head(&b), block::ks_tail(&b));
    EXPECT_EQ(series::index_of(&b), 3);  // clamped and stored
    EXPECT_TRUE(block::ks_tail_q(&b));
    block::ks_remove_last(&b);
    EXPECT_EQ(series::index_of(&b), 2);
    EXPECT_EQ(mold(at(b, 0)), "[a b]");
    block::ks_truncate_at(&b, 9);
    Cell whole = at(b, 0);
    EXPECT_EQ(block::ks_length_q(&whole), 2);
    block::ks_truncate_at(&b, 1);
    EXPECT_EQ(mold(at(b, 0)), "[a]");
    Cell c = at(b, 0);
    block::ks_clear(&c);
    EXPECT_EQ(mold(c), "[]");
}

TEST_F(Block, CloneAndLookups) {
    Cell b = load1("[x [y (z)] k: 1 'k 2]");
    Cell* shallow = block::clone(&b, false, false);
    Cell* deep = block::clone(&b, true, false);
    Cell* any = block::clone(&b, true, true);
    EXPECT_EQ(mold(*deep), mold(b));
    EXPECT_EQ(cell_at(*shallow, 1)->payload2, cell_at(b, 1)->payload2);
    Cell* nested_deep = cell_at(*deep, 1);
    Cell* nested_any = cell_at(*any, 1);
    EXPECT_NE(nested_deep->payload2, cell_at(b, 1)->payload2);
    EXPECT_EQ(cell_at(*nested_deep, 1)->payload2, cell_at(*cell_at(b, 1), 1)->payload2);  // the paren is shared
    EXPECT_NE(cell_at(*nested_any, 1)->payload2, cell_at(*cell_at(b, 1), 1)->payload2);
    stack::pop(3);

    Cell k = word_of("K");
    EXPECT_EQ(cell::integer(block::find_word(&b, &k, false)), 1);
    EXPECT_TRUE(cell::is(block::find_word(&b, &k, true), type::none));
    Cell one = num(1);
    EXPECT_TRUE(cell::is(block::select_value(&b, &one, 12), type::lit_word));
    Cell two = num(2);
    EXPECT_TRUE(cell::is(block::select_value(&b, &two, 12), type::none));
}

}  // namespace
