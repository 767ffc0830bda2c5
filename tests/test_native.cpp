// native!, action! and op!: making them, their table index ranges, the op!
// arity rules, reflect, form, mold and compare.
#include <gtest/gtest.h>

#include <string>

#include "runtime/context.hpp"
#include "runtime/hashtable.hpp"
#include "runtime/datatypes/function.hpp"
#include "runtime/datatypes/native.hpp"
#include "runtime/natives/natives.hpp"
#include "tests/support/values.hpp"

using namespace kel;
using namespace kel::test;

namespace {

struct Native : WithSeries {
    void SetUp() override {
        WithSeries::SetUp();
        Cell w = word_of("integer!"), d = type_cell(type::integer);
        context::put_value(context::global, &w, &d);
    }

    static Cell make(uint8_t t, const Cell& arg) { return run(action::make, {type_cell(t), arg}); }
    static Cell make(uint8_t t, const char* arg) { return make(t, load1(arg)); }
    static Cell reflect(const Cell& v, const char* field) { return run(action::reflect, {v, word_of(field)}); }
};

TEST_F(Native, MakeChecksTheIndexRange) {
    struct Case {
        uint8_t t;
        const char* arg;
        bool ok;
    } cases[] = {
        {type::native, "[[a] 1]", true},     {type::native, "[[a] 120]", true},
        {type::native, "[[a] 121]", false},  {type::native, "[[a] 0]", false},
        {type::native, "[[a] -1]", false},   {type::action, "[[a] 62]", true},
        {type::action, "[[a] 0]", false},    {type::action, "[[a] 63]", false},
        {type::action, "[[a] 1.0]", false},  {type::native, "[[a]]", false},
        {type::native, "[[a] 1 2]", false},  {type::native, "[a 1]", false},
        {type::native, "[(a) 1]", false},    {type::native, "[1 [a]]", false},
        {type::native, "[]", false},
    };
    for (const Case& c : cases) {
        Cell arg = load1(c.arg);
        std::string error = error_of([&] { make(c.t, arg); });
        EXPECT_EQ(error, c.ok ? "" : "bad-make-arg") << c.arg;
        if (!c.ok) {
            EXPECT_EQ(error::pending.args[0].payload1, c.t) << c.arg;            // the type
            EXPECT_EQ(error::pending.args[1].payload2, arg.payload2) << c.arg;  // the argument
        }
    }
    EXPECT_EQ(error_of([&] { make(type::native, num(5)); }), "bad-make-arg");
    // Two values counted from the argument's position.
    EXPECT_EQ(error_of([&] { make(type::action, at(load1("[x [a] 3]"), 1)); }), "");
}

TEST_F(Native, CellLayout) {
    Cell arg = load1("[[value /part length] 7]");
    Cell n = make(type::native, arg);
    EXPECT_EQ(n.header, uint32_t(type::native));
    EXPECT_EQ(n.payload1, 7u);
    EXPECT_EQ(n.payload2, cell_at(arg, 0)->payload2);  // the spec itself
    Cell extra{type::block, 0, n.payload3, 0};
    ASSERT_EQ(block::ks_length_q(&extra), 2);
    const Cell* ctx = cell_at(extra, 0);
    EXPECT_EQ(cell::type_of(ctx), type::context);
    EXPECT_TRUE(ctx->header & cell::stack_values_flag);
    EXPECT_EQ(cell::type_of(cell_at(extra, 1)), type::none);
    // The context's words: value, part, length.
    EXPECT_EQ(hashtable::find_context_word(ctx->payload1, symbol::make("LENGTH"), 0, nullptr, true), 2);
}

TEST_F(Native, ReflectFormAndMold) {
    Cell n = make(type::native, "[[value1 value2] 5]");
    Cell a = make(type::action, "[[\"doc\" series [block!]\n /part] 42]");
    Cell body = reflect(n, "body");
    EXPECT_EQ(cell::integer(&body), 5);
    body = reflect(a, "body");
    EXPECT_EQ(cell::integer(&body), 42);
    Cell spec = reflect(a, "spec");
    EXPECT_EQ(spec.payload2, a.payload2);
    EXPECT_EQ(error_of([&] { reflect(n, "words"); }), "not-done");

    EXPECT_EQ(form(n), "?native?");
    EXPECT_EQ(form(a), "?action?");
    EXPECT_EQ(mold(n), "make native! [[value1 value2]]");
    EXPECT_EQ(mold(a), "make action! [[\"doc\" series [block!]\n/part]]");
    EXPECT_EQ(mold(a, {false, false, true, -1}), "make action! [[\"doc\" series [block!] /part]]");
    EXPECT_EQ(mold(n, {true, false, false, -1}), "make native! [value1 value2]");  // the caller's flags
    Cell& out = test::keep();
    string::make(&out, 8);
    EXPECT_EQ(actions::mold(&n, &out, false, false, false, nullptr, 100, 0), 100 - 30);
    string::make(&out, 8);
    EXPECT_EQ(actions::form(&a, &out, nullptr, 10), 2);
}

TEST_F(Native, Compare) {
    Cell n5 = make(type::native, "[[a] 5]");
    Cell n5b = make(type::native, "[[b c] 5]");
    Cell n6 = make(type::native, "[[a] 6]");
    Cell a5 = make(type::action, "[[a] 5]");
    for (int32_t op : {0, 2, 9, 12}) {
        EXPECT_TRUE(actions::compare_star(&n5, &n5b, op)) << op;  // the same entry
        EXPECT_FALSE(actions::compare_star(&n5, &n6, op)) << op;
        EXPECT_FALSE(actions::compare_star(&n5, &a5, op)) << op;  // another type
    }
    EXPECT_TRUE(actions::compare_star(&n5, &n6, 1));
    for (uint8_t t : {type::native, type::action, type::op}) {
        auto handler = actions::handler<actions::Compare>(t, action::compare, &n5);
        EXPECT_EQ(handler(&n5, &n6, 7), -1);
        EXPECT_EQ(handler(&n6, &n5, 8), 1);
        for (int32_t op : {3, 4, 5, 6, 10, 11}) EXPECT_EQ(handler(&n5, &n6, op), -2) << op;
        Cell i = num(5);
        EXPECT_EQ(handler(&n5, &i, 0), -2);
    }
}

TEST_F(Native, OpArity) {
    struct Case {
        const char* spec;
        bool ok;
    } cases[] = {
        {"[a b]", true},
        {"['a b]", false},  // the left argument must be a plain word
        {"[:a b]", false},
        {"[a 'b]", true},
        {"[a :b]", true},
        {"[a b c]", false},
        {"[a]", false},
        {"[a b /local c]", true},
        {"[a b /extern c]", true},
        {"[a b /only]", false},
        {"[a /only b]", false},
        {"[a b return: [integer!]]", true},
        {"[a return: [integer!] /local b]", false},  // the scan stops at return:
        {"[[trace] \"doc\" a [integer!] \"left\" b [integer!] \"right\"]", true},
    };
    for (const Case& c : cases) {
        std::string source = std::string("[") + c.spec + " []]";
        Cell fn = make(type::function, source.c_str());
        EXPECT_EQ(error_of([&] { make(type::op, fn); }), c.ok ? "" : "bad-op-spec") << c.spec;
        Cell n = make(type::native, (std::string("[") + c.spec + " 3]").c_str());
        EXPECT_EQ(error_of([&] { make(type::op, n); }), c.ok ? "" : "bad-op-spec") << c.spec;
    }
    EXPECT_EQ(error_of([&] { make(type::op, num(1)); }), "invalid-type");
    EXPECT_EQ(error::pending.args[0].payload1, uint32_t(type::integer));
    Cell plus = make(type::op, make(type::action, "[[a b] 11]"));
    EXPECT_EQ(error_of([&] { make(type::op, plus); }), "invalid-type");
}

TEST_F(Native, OpFromEachSource) {
    Cell fn = make(type::function, "[[a b] [a + b]]");
    Cell spec = load1("[a b]"), body = load1("[code]");
    Cell r;
    {
        StackScope scope;
        r = keep(*routine::push(&spec, &body, 1, 11, false));
    }
    struct Case {
        Cell source;
        const char* molded;
    } cases[] = {
        {make(type::native, "[[value1 value2] 9]"), "make op! [[value1 value2]]"},
        {make(type::action, "[[value1 value2] 11]"), "make op! [[value1 value2]]"},
        {fn, "make op! func [a b][a + b]"},
        {r, "make op! [[a b]]"},
    };
    for (const Case& c : cases) {
        uint8_t t = cell::type_of(&c.source);
        StackScope scope;
        stack::Frame* frames = stack::frame_top;
        Cell o = make(type::op, c.source);
        EXPECT_EQ(o.header, uint32_t(type::op) | uint32_t(t) << 16);
        EXPECT_EQ(o.payload1, c.source.payload1);
        EXPECT_EQ(o.payload2, c.source.payload2);
        EXPECT_EQ(o.payload3, c.source.payload3);
        EXPECT_EQ(op::source_type(&o), t);
        Cell* top = stack::top;
        EXPECT_EQ(mold(o), c.molded);
        EXPECT_EQ(stack::top, top);  // the mold's frame is closed again
        EXPECT_EQ(stack::frame_top, frames);
        EXPECT_EQ(form(o), "?op?");
        EXPECT_EQ(reflect(o, "spec").payload2, c.source.payload2);
        Cell body_of_op = reflect(o, "body");
        if (t == type::function || t == type::routine) {
            // The source remembers the op made from it.
            const Cell* more = function::body_of(&c.source);
            EXPECT_EQ(more[3].header, c.source.header);
            EXPECT_EQ(body_of_op.payload2, more[0].payload2);
        } else {
            EXPECT_EQ(cell::integer(&body_of_op), int32_t(c.source.payload1));
        }
        Cell again = make(type::op, c.source);
        EXPECT_TRUE(actions::compare_star(&o, &again, 0));
        EXPECT_FALSE(actions::compare_star(&o, &c.source, 0));
    }
    Cell no_body;
    {
        StackScope scope;
        function::push(&spec, nullptr, 0, 0, 0, 0);
        no_body = keep(*stack::last());
    }
    EXPECT_EQ(mold(make(type::op, no_body)), "make op! func [a b]");
}

TEST_F(Native, TableIndexRanges) {
    EXPECT_EQ(natives::count, 120u);
    EXPECT_EQ(natives::entry(0), nullptr);
    EXPECT_EQ(natives::entry(121), nullptr);
    EXPECT_EQ(natives::entry(107), natives::rows[106].entry);
    EXPECT_NE(natives::entry(107), nullptr);
}

}  // namespace
