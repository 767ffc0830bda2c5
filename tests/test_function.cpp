// function! and routine!: the spec grammar, building and molding functions,
// reflection, identity comparison, the word collection of `function`, the
// locals helpers and routines.
#include <gtest/gtest.h>

#include <string>

#include "runtime/collector.hpp"
#include "runtime/context.hpp"
#include "runtime/datatypes/function.hpp"
#include "runtime/datatypes/native.hpp"
#include "runtime/system.hpp"
#include "tests/support/values.hpp"

using namespace kel;
using namespace kel::test;

namespace {

struct Function : WithSeries {
    void SetUp() override {
        WithSeries::SetUp();
        // The type words that type blocks name.
        for (uint8_t t : {type::integer, type::string, type::block}) {
            Cell w = word_of(datatype::names[t].name);
            Cell d = type_cell(t);
            context::put_value(context::global, &w, &d);
        }
    }

    // make function! [spec body] through the make wrapper.
    static Cell make_fn(const char* spec_and_body) {
        return run(action::make, {type_cell(type::function), load1(spec_and_body)});
    }

    static Cell reflect(const Cell& v, const char* field) { return run(action::reflect, {v, word_of(field)}); }

    static std::string spec_error(const char* text, uint32_t* flags = nullptr) {
        Cell spec = load1(text);
        return error_of([&] {
            uint32_t f = function::check_spec(&spec);
            if (flags) *flags = f;
        });
    }
};

TEST_F(Function, SpecGrammar) {
    struct Case {
        const char* spec;
        const char* error;  // "" accepted
    } cases[] = {
        {"[]", ""},
        {"[a b]", ""},
        {"[\"doc\" a [integer!] \"doc a\" 'b :c /d e [string! block!] \"doc e\"]", ""},
        {"[a [integer!] \"doc\"]", ""},
        {"[a \"doc\" [integer!]]", "bad-func-def"},  // type block after the doc string
        {"[return: [integer!] a]", "bad-func-def"},
        {"[a return: [integer!] /local b]", ""},
        {"[a return: [integer!] \"doc\"]", ""},
        {"[a return: [integer!] return: [integer!]]", "bad-func-def"},
        {"[a /local b return: [integer!]]", "bad-func-def"},
        {"[a return:]", "bad-func-def"},
        {"[a return: integer!]", "bad-func-def"},
        {"[a return: [integer!] b]", "bad-func-def"},
        {"[a result: [integer!]]", "bad-func-def"},
        {"[a return: [integer!] /b]", "bad-func-def"},  // no refinement after return:
        {"[/local b /c]", "bad-func-def"},
        {"[/local 'b]", "bad-func-def"},
        {"[/local :b]", "bad-func-def"},
        {"[/a [integer!]]", "bad-func-def"},  // a refinement takes no type block
        {"[/a \"doc\" b]", ""},
        {"[a 1]", "bad-func-def"},
        {"[a (b)]", "bad-func-def"},
        {"[[catch 1] a]", "bad-func-def"},
        {"[[catch] a [block!] [integer!]]", "bad-func-def"},
        {"[a [integer! 5]]", "invalid-type-spec"},
        {"[a [\"integer!\"]]", "invalid-type-spec"},
        {"[a [no-such-type!]]", "no-value"},
        {"[a A]", "dup-vars"},
        {"[a /b 'A]", "dup-vars"},
        {"[a /a]", "dup-vars"},
        {"[a /local b /local c]", "dup-vars"},
        {"[a return: [integer!] /local return]", ""},  // return: takes no part in the duplicate check
    };
    for (const Case& c : cases) EXPECT_EQ(spec_error(c.spec), c.error) << c.spec;
}

TEST_F(Function, SpecErrorArguments) {
    Cell spec = load1("[a \"doc\" [integer!]]");
    spec.payload1 = 0;
    ASSERT_EQ(error_of([&] { function::check_spec(&spec); }), "bad-func-def");
    EXPECT_EQ(error::pending.args[0].payload2, spec.payload2);  // the whole spec

    Cell dup = load1("[a b A]");
    ASSERT_EQ(error_of([&] { function::check_spec(&dup); }), "dup-vars");
    EXPECT_EQ(symbol::name(error::pending.args[0].payload2), "A");  // the later word, as spelled

    Cell types = load1("[a [integer! 5]]");
    ASSERT_EQ(error_of([&] { function::check_spec(&types); }), "invalid-type-spec");
    EXPECT_EQ(cell::integer(&error::pending.args[0]), 5);
}

TEST_F(Function, AttributeFlags) {
    struct Case {
        const char* spec;
        uint32_t flags;
    } cases[] = {
        {"[a]", 0},
        {"[[trace] a]", function::trace_flag},
        {"[[no-trace catch] a]", function::no_trace_flag},
        {"[[TRACE no-trace] a]", function::trace_flag | function::no_trace_flag},
    };
    for (const Case& c : cases) {
        uint32_t flags = 99;
        EXPECT_EQ(spec_error(c.spec, &flags), "") << c.spec;
        EXPECT_EQ(flags, c.flags) << c.spec;
    }
    EXPECT_EQ(spec_error("[a [trace]]"), "no-value");  // a type block there, not attributes
    Cell fn = make_fn("[[[trace] a] [a]]");
    EXPECT_EQ(fn.header, uint32_t(type::function) | function::trace_flag);
}

TEST_F(Function, MakeMoldAndForm) {
    struct Case {
        const char* source;
        const char* molded;
    } cases[] = {
        {"[[a b] [a + b]]", "func [a b][a + b]"},
        {"[[] []]", "func [][]"},
        {"[[x /local y] [y: x\n y]]", "func [x /local y][y: x\ny]"},
        {"[[\"doc\" a [integer!]] [a] extra values]", "func [\"doc\" a [integer!]][a]"},
    };
    for (const Case& c : cases) EXPECT_EQ(mold(make_fn(c.source)), c.molded) << c.source;

    Cell fn = make_fn("[[a b] [a + b]]");
    EXPECT_EQ(form(fn), "?function?");
    Cell& out = test::keep();
    string::make(&out, 8);
    EXPECT_EQ(actions::form(&fn, &out, nullptr, 100), 90);
    string::make(&out, 8);
    EXPECT_EQ(actions::mold(&fn, &out, false, false, false, nullptr, 100, 0), 100 - 17);

    Cell spec = load1("[a b]");
    {
        StackScope scope;
        function::push(&spec, nullptr, 0, 0, 0, 0);
        fn = keep(*stack::last());
    }
    EXPECT_EQ(mold(fn), "func [a b] none");
    string::make(&out, 8);
    EXPECT_EQ(actions::mold(&fn, &out, false, false, false, nullptr, 100, 0), 100 - 15);
    EXPECT_EQ(reflect(fn, "body").header, uint32_t(type::none));
}

TEST_F(Function, MakeRejectsBadArguments) {
    const char* sources[] = {"[[a]]", "[a [b]]", "[[a] b]", "[[a] (b)]", "[]"};
    for (const char* s : sources) {
        Cell arg = load1(s);
        EXPECT_EQ(error_of([&] { run(action::make, {type_cell(type::function), arg}); }), "bad-func-def") << s;
        EXPECT_EQ(error::pending.args[0].payload2, arg.payload2) << s;  // the argument, not the spec
    }
    EXPECT_EQ(error_of([&] { run(action::make, {type_cell(type::function), num(3)}); }), "bad-func-def");
    EXPECT_EQ(error_of([&] { make_fn("[[a a] []]"); }), "dup-vars");
    EXPECT_EQ(error_of([&] { run(action::make, {type_cell(type::routine), load1("[[a] []]")}); }), "expect-arg");
}

TEST_F(Function, BuildCopiesTheBodyDeeplyAndBindsIt) {
    Cell source = load1("[[a /b c] [a: [b c d] (c)]]");
    Cell body = *cell_at(source, 1);
    Cell fn = run(action::make, {type_cell(type::function), source});
    NodeId ctx = fn.payload1;

    // The context: the spec's words, function kind on the stack, owned by the function.
    EXPECT_EQ(context::word_count(ctx), 3u);
    EXPECT_TRUE(context::on_stack(ctx));
    const Cell* owner = context::owner_cell(ctx);
    EXPECT_EQ(owner->header, fn.header);
    EXPECT_EQ(owner->payload3, fn.payload3);
    // The spec is shared; the body is a copy.
    EXPECT_EQ(fn.payload2, cell_at(source, 0)->payload2);
    Cell copy = *function::body_of(&fn);
    EXPECT_NE(copy.payload2, body.payload2);
    Cell nested = *cell_at(copy, 1);
    EXPECT_NE(nested.payload2, cell_at(body, 1)->payload2);
    EXPECT_NE(cell_at(copy, 2)->payload2, cell_at(body, 2)->payload2);  // parens too

    // Spec words in the copy are bound to the function's context, others are not.
    EXPECT_EQ(cell_at(copy, 0)->payload1, ctx);                   // a:
    EXPECT_EQ(cell_at(nested, 0)->payload1, ctx);                 // b
    EXPECT_EQ(cell_at(nested, 1)->payload3, 2u);                  // c, index 2
    EXPECT_NE(cell_at(nested, 2)->payload1, ctx);                 // d
    EXPECT_EQ(cell_at(*cell_at(copy, 2), 0)->payload1, ctx);      // (c)
    EXPECT_EQ(cell_at(body, 0)->payload1, context::global);       // the source is untouched

    // The more series: native code and owner unset, no op yet.
    const Cell* more = function::body_of(&fn);
    for (int i = 1; i <= 4; ++i) EXPECT_EQ(cell::type_of(more + i), type::unset) << i;
}

TEST_F(Function, PushWithGivenContextEntryAndOwner) {
    Cell spec = load1("[x]");
    Cell body = load1("[x]");
    NodeId own = test::keep_context(context::make_from_block(&spec, true, false, function::context_kind));
    NodeId object = test::keep_context(context::make(1, false, false, 0, context::object_kind));
    StackScope scope;
    NodeId ctx = function::push(&spec, &body, own, 7, object, 0);
    Cell fn = keep(*stack::last());
    EXPECT_EQ(ctx, own);
    EXPECT_EQ(fn.payload1, own);
    const Cell* more = function::body_of(&fn);
    EXPECT_EQ(cell::integer(more + 2), 7);
    EXPECT_EQ(cell::integer(more + 4), int32_t(object));
    EXPECT_EQ(context::owner_cell(own)->payload3, fn.payload3);
    // A given context is not bound to: the body copy keeps its words.
    EXPECT_EQ(cell_at(more[0], 0)->payload1, context::global);
}

TEST_F(Function, SpecNotAtItsHeadIsCopied) {
    Cell spec = at(load1("[skipped a b]"), 1);
    StackScope scope;
    function::push(&spec, nullptr, 0, 0, 0, 0);
    Cell fn = keep(*stack::last());
    EXPECT_NE(fn.payload2, spec.payload2);
    EXPECT_EQ(mold(fn), "func [a b] none");
    EXPECT_EQ(context::word_count(fn.payload1), 2u);
}

TEST_F(Function, Reflect) {
    Cell fn = make_fn("[[a /b c /local d] [a]]");
    Cell spec = reflect(fn, "spec");
    EXPECT_EQ(spec.payload2, fn.payload2);
    EXPECT_EQ(spec.payload1, 0u);
    Cell body = reflect(fn, "BODY");
    EXPECT_EQ(body.payload2, function::body_of(&fn)->payload2);  // shared, not copied

    Cell words = reflect(fn, "words");
    EXPECT_EQ(mold(words), "[a b c local d]");
    EXPECT_NE(words.payload2, context::words_block(fn.payload1));
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(cell::type_of(cell_at(words, i)), type::word);
        EXPECT_EQ(cell_at(words, i)->payload1, fn.payload1);
        EXPECT_EQ(cell_at(words, i)->payload3, uint32_t(i));
    }
    EXPECT_EQ(error_of([&] { reflect(fn, "title"); }), "not-done");
}

TEST_F(Function, CompareIsIdentity) {
    Cell f = make_fn("[[a] [a]]");
    Cell g = make_fn("[[a] [a]]");
    Cell f_again = f;
    for (int32_t op : {0, 2, 9, 12}) {
        EXPECT_TRUE(actions::compare_star(&f, &f_again, op)) << op;
        EXPECT_FALSE(actions::compare_star(&f, &g, op)) << op;
    }
    EXPECT_TRUE(actions::compare_star(&f, &g, 1));
    EXPECT_FALSE(actions::compare_star(&f, &f_again, 1));

    auto handler = actions::handler<actions::Compare>(type::function, action::compare, &f);
    for (int32_t op : {3, 4, 5, 6, 10, 11}) EXPECT_EQ(handler(&f, &g, op), -2) << op;
    EXPECT_EQ(handler(&f, &g, 7), f.payload3 < g.payload3 ? -1 : 1);
    Cell n = num(1);
    EXPECT_EQ(handler(&f, &n, 0), -2);
    EXPECT_FALSE(actions::compare_star(&f, &n, 0));
}

TEST_F(Function, CollectWords) {
    struct Case {
        const char* spec;
        const char* body;
        const char* collected;
        const char* new_spec;
    } cases[] = {
        {"[]", "[x: 1 foreach [k v] m [] repeat i 3 []]", "[x k v i]", "[/local x k v i]"},
        {"[a /b c]", "[a: 1 b: 2 c: 3 d: 4 d: 5]", "[d]", "[a /b c /local d]"},
        {"[a /local x]", "[x: 1 y: 2]", "[y]", "[a /local x y]"},
        {"[a]", "[local: 1 y: 2]", "[y]", "[a /local y]"},
        {"[a]", "[(p: 1) [q: [r: 2]] s]", "[p q r]", "[a /local p q r]"},
        {"[a]", "[remove-each :v list [] remove-each w list [] foreach z: s [] repeat j 1 [] foreach]", "[w z j]",
         "[a /local w z j]"},
        {"[a]", "[foreach ['k :v 1] b []]", "[k v]", "[a /local k v]"},
        {"[a]", "[print a]", "[]", "[a]"},
        {"[a /extern g /local q]", "[g: 1 z: 2]", "[q z]", "[a /local q z]"},
        {"[a /extern g]", "[g: 1]", "[]", "[a]"},
        {"[a /extern \"doc\" g: 'h :i [j]]", "[g: h: i: j: 1 k: 2]", "[j k]", "[a /local j k]"},
    };
    for (const Case& c : cases) {
        Cell spec = load1(c.spec), body = load1(c.body);
        Cell collected = function::collect_words(&spec, &body);
        EXPECT_EQ(mold(collected), c.collected) << c.body;
        EXPECT_EQ(mold(spec), c.new_spec) << c.body;
    }
    Cell spec = load1("[a /extern g 5]"), body = load1("[b: 1]");
    EXPECT_EQ(error_of([&] { function::collect_words(&spec, &body); }), "bad-func-extern");
    EXPECT_EQ(cell::integer(&error::pending.args[0]), 5);
}

TEST_F(Function, CollectWordsStopsAtCycles) {
    Cell spec = load1("[]"), body = load1("[x: 1]");
    block::ks_append(&body, &body);  // the body holds itself
    function::collect_words(&spec, &body);
    EXPECT_EQ(mold(spec, {false, false, true, -1}).substr(0, 9), "[/local x");
}

TEST_F(Function, Locals) {
    struct Case {
        const char* spec;
        int32_t index;
        bool must;
        int32_t count;
    } cases[] = {
        {"[a /local b c]", 0, false, 3}, {"[a /local b [integer!] c]", 0, false, 3},
        {"[a /local]", 0, false, 1},     {"[a b]", 0, false, 0},
        {"[a b]", 0, true, -1},          {"[a /local b c]", 3, true, -1},
        {"[/LOCAL x]", 0, false, 2},
    };
    for (const Case& c : cases) {
        Cell spec = load1(c.spec);
        EXPECT_EQ(function::count_locals(&spec, c.index, c.must), c.count) << c.spec << " " << c.index;
    }

    StackScope scope;
    Cell* before = stack::top;
    function::init_locals(3);
    ASSERT_EQ(stack::top - before, 3);
    EXPECT_TRUE(cell::is(before, type::logic) && before->payload1 == 0);
    EXPECT_TRUE(cell::is(before + 1, type::none) && cell::is(before + 2, type::none));
}

uint32_t routine_entry(const Call&) { return 0; }
uint32_t other_entry(const Call&) { return 0; }

TEST_F(Function, Routines) {
    uint32_t e = routine::add_entry(&routine_entry);
    EXPECT_EQ(routine::add_entry(&routine_entry), e);
    uint32_t e2 = routine::add_entry(&other_entry);
    EXPECT_NE(e2, e);
    EXPECT_EQ(routine::entry(e), &routine_entry);
    EXPECT_EQ(routine::entry(0), nullptr);
    EXPECT_EQ(routine::entry(e2 + 1), nullptr);

    Cell spec = load1("[\"doc\" a [integer!] b /c d]"), body = load1("[native code]");
    StackScope scope;
    Cell r = keep(*routine::push(&spec, &body, e, 4, true));
    EXPECT_EQ(cell::type_of(&r), type::routine);
    EXPECT_EQ(routine::arity(&r), 3u);
    EXPECT_TRUE(r.header & routine::maker_flag);
    const Cell* more = function::body_of(&r);
    EXPECT_EQ(more[0].payload2, body.payload2);  // kept, not copied
    EXPECT_EQ(cell::integer(more + 2), int32_t(e));
    EXPECT_EQ(cell::integer(more + 4), 4);
    EXPECT_EQ(mold(r), "routine [\"doc\" a [integer!] b /c d][native code]");
    EXPECT_EQ(form(r), "?routine?");
    EXPECT_EQ(reflect(r, "spec").payload2, r.payload2);  // inherited from function!

    Cell plain = keep(*routine::push(&spec, nullptr, e, -1, false));
    EXPECT_FALSE(plain.header & routine::maker_flag);
    EXPECT_EQ(cell::integer(function::body_of(&plain) + 4), -1);
    EXPECT_EQ(mold(plain), "routine [\"doc\" a [integer!] b /c d] none");
    Cell numbered = num(12);
    EXPECT_EQ(mold(*routine::push(&spec, &numbered, e, 11, false)), "routine [\"doc\" a [integer!] b /c d] 12");

    EXPECT_TRUE(actions::compare_star(&r, &r, 0));
    EXPECT_FALSE(actions::compare_star(&r, &plain, 0));
    Cell fn = make_fn("[[a] [a]]");
    EXPECT_EQ(actions::handler<actions::Compare>(type::routine, action::compare, &r)(&r, &fn, 0), -2);
}

TEST_F(Function, RoutineArityLimit) {
    std::string words = "[";
    for (int i = 0; i < 31; ++i) words += " w" + std::to_string(i);
    Cell spec31 = load1((words + "]").c_str());
    Cell spec32 = load1((words + " w31]").c_str());
    StackScope scope;
    EXPECT_EQ(routine::arity(routine::push(&spec31, nullptr, 1, -1, false)), 31u);
    EXPECT_EQ(error_of([&] { routine::push(&spec32, nullptr, 1, -1, false); }), "bad-func-def");
}

// A collection before every allocation while a function is built, its
// words collected and the results molded: every intermediate value must be
// rooted. (The context is made beforehand: making contexts is context.cpp's.)
TEST_F(Function, BuildSurvivesCollections) {
    collector::RootCell spec, body, fn, s, b, collected, holder;
    spec.cell = load1("[a b /local c]");
    body.cell = load1("[c: [a [b (a + b)]] \"text\" c]");
    NodeId ctx = test::keep_context(context::make_from_block(&spec.cell, true, false, function::context_kind));
    holder.cell = Cell{type::object, ctx, 0, 0};
    spec.cell.payload1 = 1;  // past its head: the spec is copied too
    s.cell = load1("[x]");
    b.cell = load1("[y: x foreach [k] x [z: k]]");
    sys::record.collector_enabled = true;
    alloc::stress = true;
    uint64_t before = collector::counters.collections;
    {
        StackScope scope;
        function::push(&spec.cell, &body.cell, ctx, 0, 0, 0);
        fn.cell = *stack::last();
    }
    collected.cell = function::collect_words(&s.cell, &b.cell);
    std::string molded = mold(fn.cell);
    std::string words = mold(collected.cell);
    alloc::stress = false;
    sys::record.collector_enabled = false;
    EXPECT_GT(collector::counters.collections, before + 10);
    EXPECT_EQ(molded, "func [b /local c][c: [a [b (a + b)]] \"text\" c]");
    EXPECT_EQ(words, "[y k z]");
    EXPECT_EQ(mold(s.cell), "[x /local y k z]");
}

}  // namespace
