// paren! and the path family: printed forms, make and to, and what their
// rows inherit from block!.
#include <gtest/gtest.h>

#include "runtime/alloc.hpp"
#include "runtime/cycles.hpp"
#include "tests/support/values.hpp"

using namespace kel;
using namespace kel::test;

namespace {

struct Path : WithSeries {};

Cell type_cell(uint8_t t) {
    Cell d{};
    cell::set_datatype(&d, t);
    return d;
}

Cell empty(uint8_t t) { return run(action::make, {type_cell(t), num(0)}); }

TEST_F(Path, Mold) {
    struct Case {
        const char* source;
        bool only;
        const char* molded;
    } cases[] = {
        {"a/b/1", false, "a/b/1"},   {"'a/b/1", false, "'a/b/1"}, {"a/b/1:", false, "a/b/1:"},
        {":a/b/1", false, ":a/b/1"}, {"a/'b/:c", false, "a/'b/:c"},
        {"(1 2)", false, "(1 2)"},   {"(1 2)", true, "1 2"},      {"()", false, "()"},
        {"(\na b)", false, "(\n    a b\n)"}, {"(a\nb)", false, "(a\nb)"},
        {"[a/b (c) :d/e]", false, "[a/b (c) :d/e]"},
    };
    for (const Case& c : cases) EXPECT_EQ(mold(load1(c.source), {c.only, false, false, -1}), c.molded) << c.source;
}

TEST_F(Path, EmptyPathsAndPositions) {
    struct Case {
        uint8_t t;
        const char* empty;
        const char* from_second;
    } cases[] = {
        {type::path, "", "b/1"}, {type::lit_path, "'", "'b/1"}, {type::set_path, ":", "b/1:"},
        {type::get_path, ":", ":b/1"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(mold(empty(c.t)), c.empty);
        Cell p = load1("a/b/1");
        cell::set_type(&p, c.t);
        EXPECT_EQ(mold(at(p, 1)), c.from_second);
        EXPECT_EQ(form(at(p, 1)), "b/1");  // the marks are mold's alone
        EXPECT_EQ(mold(at(p, 9)), c.empty);
    }
}

TEST_F(Path, MoldIgnoresNewLineMarkersAndKeepsNestedValues) {
    Cell p = load1("a/b");
    cell_at(p, 1)->header |= cell::newline_flag;
    Cell nested = load1("[x\ny]");
    block::ks_append(&p, &nested);
    EXPECT_EQ(mold(p), "a/b/[x\ny]");
    EXPECT_EQ(mold(p, {false, false, true, -1}), "a/b/[x y]");
}

TEST_F(Path, Form) {
    Cell one = empty(type::path);
    Cell a = word_of("a");
    block::ks_append(&one, &a);
    EXPECT_EQ(form(one), "a");  // one item: no slash
    EXPECT_EQ(form(load1("a/b/1:")), "a/b/1");
    EXPECT_EQ(form(load1("aa/bb/cc")), "aa/bb/cc");
    EXPECT_EQ(form(load1("aa/bb/cc"), 4), "aa/b");
    EXPECT_EQ(mold(load1("'aa/bb"), {false, false, false, 3}), "'aa");
    EXPECT_EQ(form(load1("(a b)")), "a b");

    Cell &out = keep(), limit = num(4);
    string::make(&out, 8);
    EXPECT_EQ(actions::form(cell_at(load("aa/bb/cc"), 0), &out, &limit, 4), -1);  // "aa/bb": each slash counts
    EXPECT_EQ(string::to_utf8(&out), "aa/bb");
}

TEST_F(Path, APathInsideItself) {
    Cell p = load1("a/b");
    block::ks_append(&p, &p);
    EXPECT_EQ(mold(p), "a/b/...");
    EXPECT_EQ(form(p), "a/b/...");
    cell::set_type(&p, type::set_path);
    EXPECT_EQ(mold(p), "a/b/...:");
    EXPECT_EQ(cycles::depth(), 0u);
}

TEST_F(Path, MakeAndTo) {
    Cell b = load1("[a b c]");
    Cell ts{type::typeset, 0, 0, 0};
    cell::typeset_add(&ts, type::integer);
    Cell pct{};
    cell::set_real(&pct, type::percent, 3.9);
    struct Case {
        action::Slot slot;
        uint8_t t;
        Cell spec;
        const char* made;
    } cases[] = {
        {action::make, type::path, num(0), ""},
        {action::make, type::path, num(-3), ""},
        {action::make, type::set_path, dec(2.5), ":"},
        {action::make, type::get_path, pct, ":"},
        {action::make, type::path, b, "a/b/c"},
        {action::make, type::lit_path, at(b, 1), "'b/c"},
        {action::make, type::path, load1("(x y)"), "x/y"},
        {action::to, type::path, b, "a/b/c"},
        {action::to, type::set_path, at(b, 2), "c:"},
        {action::to, type::get_path, num(5), ":5"},
        {action::to, type::paren, load1("x/y"), "(x y)"},
    };
    for (const Case& c : cases) {
        Cell r = run(c.slot, {type_cell(c.t), c.spec});
        EXPECT_EQ(cell::type_of(&r), c.t);
        EXPECT_EQ(mold(r), c.made) << mold(c.spec);
        if (series::is_any_block(cell::type_of(&c.spec))) {
            EXPECT_NE(r.payload2, c.spec.payload2);
        }
    }
    Cell zero = empty(type::path);
    EXPECT_GE(alloc::buffer_of(zero.payload2)->size, sizeof(Cell));  // room for one item

    Cell wrapped = run(action::to, {type_cell(type::path), ts});  // a typeset is one item, not its types
    EXPECT_EQ(block::ks_length_q(&wrapped), 1);
    EXPECT_TRUE(cell::is(cell_at(wrapped, 0), type::typeset));
    Cell listed = run(action::to, {type_cell(type::block), ts});
    EXPECT_EQ(mold(listed), "[integer!]");

    EXPECT_EQ(error_of([&] { run(action::make, {type_cell(type::path), text("a/b")}); }), "bad-make-arg");
    EXPECT_EQ(error::pending.args[0].payload1, uint32_t(type::path));
    EXPECT_EQ(mold(run(action::to, {type_cell(type::path), text("a b")})), "a/b");
}

TEST_F(Path, RowsInheritFromBlock) {
    for (uint8_t t : {type::path, type::lit_path, type::set_path, type::get_path}) {
        EXPECT_EQ(datatype::handler(t, action::sort), nullptr);
        EXPECT_EQ(datatype::handler(t, action::random), nullptr);
        EXPECT_EQ(datatype::handler(t, action::trim), nullptr);
        EXPECT_EQ(datatype::handler(t, action::make), datatype::entry(&path::make));
        EXPECT_EQ(datatype::handler(t, action::form), datatype::entry(&path::form));
        EXPECT_EQ(datatype::handler(t, action::compare), datatype::entry(&block::compare));
        EXPECT_EQ(datatype::handler(t, action::pick), datatype::entry(&series::pick));
    }
    EXPECT_EQ(datatype::handler(type::paren, action::form), datatype::entry(&block::form));
    EXPECT_EQ(datatype::handler(type::paren, action::make), datatype::entry(&block::make));

    Cell p = load1("a/b/1:");
    Cell next = run(action::next, {p});
    EXPECT_EQ(series::index_of(&next), 1);
    EXPECT_TRUE(cell::is(&next, type::set_path));
    Cell picked = run(action::pick, {p, num(3)});
    EXPECT_EQ(cell::integer(&picked), 1);
    Cell copied = copy_of(at(p, 1));
    EXPECT_TRUE(cell::is(&copied, type::set_path));
    EXPECT_EQ(mold(copied), "b/1:");
    Cell pc = copy_of(load1("(a b)"));
    EXPECT_EQ(mold(pc), "(a b)");
}

TEST_F(Path, PushAndBoxRetype) {
    StackScope scope;
    Cell b = load1("[a b]");
    EXPECT_EQ(mold(*path::push(&b)), "a/b");
    EXPECT_EQ(mold(*lit_path::push(&b)), "'a/b");
    EXPECT_EQ(mold(*set_path::push(&b)), "a/b:");
    EXPECT_EQ(mold(*get_path::push(&b)), ":a/b");
    EXPECT_EQ(mold(*paren::push(&b)), "(a b)");
    EXPECT_EQ(stack::last()->payload2, b.payload2);  // a retype, not a copy
    Cell& boxed = test::keep();
    path::box(&boxed, 3);
    EXPECT_TRUE(cell::is(&boxed, type::path));
    EXPECT_EQ(block::ks_length_q(&boxed), 0);
}

}  // namespace
