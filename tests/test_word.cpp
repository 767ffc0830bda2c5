// The word types: their texts, the comparison codes (the parse matches of
// codes 10 and 11 included), the conversions into words, index?, the making
// and retyping services, and reading and writing through words.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <set>
#include <string>

#include "runtime/actions.hpp"
#include "runtime/context.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/error.hpp"
#include "runtime/root.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"
#include "runtime/throws.hpp"
#include "tests/support/runtime.hpp"

using namespace kel;

namespace {

// An unresolved word of the name in the global context.
Cell w(uint8_t t, const char* name) { return Cell{t, context::global, symbol::make(name), uint32_t(-1)}; }
Cell integer_v(int32_t i) {
    Cell c;
    cell::set_integer(&c, i);
    return c;
}
Cell type_v(uint8_t t) {
    Cell c;
    cell::set_datatype(&c, t);
    return c;
}
Cell text_v(const char* s) {
    Cell& c = test::keep();
    string::make_from_utf8(&c, s, std::strlen(s));
    return c;
}

Cell run(action::Slot s, std::initializer_list<Cell> args) {
    stack::args = stack::top = stack::cells;
    for (const Cell& c : args) stack::push(&c);
    const int32_t refs[8] = {-1, -1, -1, -1, -1, -1, -1, -1};
    actions::table[s - 1](Call{false, refs});
    return test::keep(stack::args[0]);
}

template <class Body>
std::string error_of(Body body) {
    return throws::protect(throws::error, body) == throws::error ? error::pending.id : "";
}

std::string mold_of(const Cell& v) {
    Cell& out = test::keep();
    string::make(&out, 8);
    actions::mold(&v, &out, false, false, false, nullptr, 1000, 0);
    return string::to_utf8(&out);
}

// A stand-in for the lexer over the spellings of words: name, name:, 'name,
// :name, /name and #name, where a name is letters, digits and - ! ? * and
// does not begin with a digit; anything else does not load as one value.
bool toy_scan(const char* text, size_t n, Cell* out) {
    std::string s(text, n);
    uint8_t t = type::word;
    if (!s.empty() && std::strchr("':/#", s[0])) {
        t = s[0] == '\'' ? type::lit_word : s[0] == ':' ? type::get_word : s[0] == '/' ? type::refinement : type::issue;
        s.erase(0, 1);
    } else if (!s.empty() && s.back() == ':') {
        t = type::set_word;
        s.pop_back();
    }
    if (s.empty() || std::isdigit(uint8_t(s[0]))) return false;
    for (char c : s)
        if (!std::isalnum(uint8_t(c)) && !std::strchr("-!?*", c)) return false;
    word::make_in(symbol::make(s.c_str()), out);
    out->header = t;
    return true;
}

struct Word : test::WithRuntime {
    void TearDown() override {
        word::scanner = nullptr;
        WithRuntime::TearDown();
    }
};

}  // namespace

TEST_F(Word, FormAndMold) {
    symbol::make("abc");  // ABC below is an alias of it, and still prints as spelled
    struct Case {
        Cell value;
        const char *form, *mold;
        int32_t form_chars, mold_chars;  // characters written, taken off the budget
    } cases[] = {
        {w(type::word, "abc"), "abc", "abc", 3, 3},
        {w(type::word, "ABC"), "ABC", "ABC", 3, 3},
        {w(type::set_word, "abc"), "abc", "abc:", 3, 4},
        {w(type::lit_word, "abc"), "abc", "'abc", 3, 4},
        {w(type::get_word, "abc"), "abc", ":abc", 3, 4},
        {w(type::refinement, "abc"), "abc", "/abc", 3, 4},
        {w(type::word, "größe"), "größe", "größe", 5, 5},  // characters, not bytes
        {w(type::set_word, "π"), "π", "π:", 1, 2},
    };
    for (const Case& c : cases) {
        Cell& out = test::keep();
        string::make(&out, 4);
        EXPECT_EQ(actions::form(&c.value, &out, nullptr, 100), 100 - c.form_chars) << c.form;
        EXPECT_EQ(string::to_utf8(&out), c.form);
        string::make(&out, 4);
        EXPECT_EQ(actions::mold(&c.value, &out, false, true, false, nullptr, 100, 0), 100 - c.mold_chars) << c.mold;
        EXPECT_EQ(string::to_utf8(&out), c.mold);
    }
}

TEST_F(Word, CompareCodes) {
    NodeId other = test::keep_context(context::make(2, false, false, 0, 0));
    Cell abc_elsewhere = w(type::word, "abc");
    abc_elsewhere.payload1 = other;
    struct Case {
        Cell a, b;
        int32_t op, expected;
    } cases[] = {
        // equality ignores case and the word type
        {w(type::word, "abc"), w(type::word, "ABC"), 0, 0},
        {w(type::word, "abc"), w(type::set_word, "abc"), 0, 0},
        {w(type::refinement, "abc"), w(type::get_word, "Abc"), 12, 0},
        {w(type::word, "abc"), w(type::word, "abd"), 1, 1},
        // strict: the type and the spelling
        {w(type::word, "abc"), w(type::word, "abc"), 2, 0},
        {w(type::word, "abc"), w(type::word, "ABC"), 2, 1},
        {w(type::word, "abc"), w(type::set_word, "abc"), 2, 1},
        // same: and the context
        {w(type::word, "abc"), w(type::word, "abc"), 9, 0},
        {w(type::word, "abc"), abc_elsewhere, 9, 1},
        // parse's strict match: word and lit-word by spelling, other pairs as strict
        {w(type::word, "abc"), w(type::lit_word, "abc"), 10, 0},
        {w(type::lit_word, "abc"), w(type::word, "abc"), 10, 0},
        {w(type::word, "abc"), w(type::lit_word, "ABC"), 10, 1},
        {w(type::word, "abc"), w(type::set_word, "abc"), 10, 1},
        {w(type::get_word, "abc"), w(type::get_word, "abc"), 10, 0},
        // parse's plain match: word and lit-word ignoring case, other pairs need one type
        {w(type::word, "abc"), w(type::lit_word, "ABC"), 11, 0},
        {w(type::lit_word, "ABC"), w(type::word, "abc"), 11, 0},
        {w(type::word, "abc"), w(type::set_word, "abc"), 11, 1},
        {w(type::set_word, "abc"), w(type::set_word, "ABC"), 11, 0},
        // order: the names as text, folded except for the case-sensitive order
        {w(type::word, "abc"), w(type::word, "abd"), 3, -1},
        {w(type::word, "abd"), w(type::word, "ABC"), 5, 1},
        {w(type::word, "ab"), w(type::word, "abc"), 4, -1},
        {w(type::word, "abc"), w(type::set_word, "ABC"), 6, 0},
        {w(type::word, "B"), w(type::word, "a"), 7, 1},
        {w(type::word, "B"), w(type::word, "a"), 8, -1},
        {w(type::word, "éa"), w(type::word, "Éb"), 3, -1},  // folding reaches beyond ASCII
        // not comparable
        {w(type::word, "abc"), integer_v(1), 0, -2},
        {w(type::word, "abc"), w(type::issue, "abc"), 0, -2},
        {w(type::word, "abc"), text_v("abc"), 3, -2},
    };
    for (const Case& c : cases)
        EXPECT_EQ(actions::compare_raw(&c.a, &c.b, c.op), c.expected)
            << mold_of(c.a) << " " << int(cell::type_of(&c.b)) << " op " << c.op;
}

TEST_F(Word, CompareStar) {
    Cell a = w(type::word, "abc"), b = w(type::word, "ABC"), one = integer_v(1);
    EXPECT_TRUE(actions::compare_star(&a, &b, 0));
    EXPECT_FALSE(actions::compare_star(&a, &b, 2));
    EXPECT_TRUE(actions::compare_star(&a, &b, 4));
    EXPECT_FALSE(actions::compare_star(&a, &one, 0));
    EXPECT_TRUE(actions::compare_star(&a, &one, 1));
    EXPECT_EQ(error_of([&] { actions::compare_star(&a, &one, 3); }), "invalid-compare");
}

TEST_F(Word, MakeAndTo) {
    Cell x = w(type::word, "x");
    x.header |= cell::newline_flag;
    NodeId ctx = test::keep_context(context::make(2, false, false, 0, 0));
    Cell y_in_ctx{type::get_word, ctx, symbol::make("y"), 0};
    struct Case {
        action::Slot slot;
        Cell proto, spec;
        uint8_t type;
        const char* mold;
        NodeId context;  // 0: the global context
    } cases[] = {
        {action::to, type_v(type::word), type_v(type::integer), type::word, "integer!", 0},
        {action::make, type_v(type::word), Cell{type::logic, 1, 0, 0}, type::word, "true", 0},
        {action::to, type_v(type::word), Cell{type::logic, 0, 0, 0}, type::word, "false", 0},
        {action::to, type_v(type::set_word), x, type::set_word, "x:", 0},
        {action::make, type_v(type::refinement), x, type::refinement, "/x", 0},
        {action::to, type_v(type::lit_word), y_in_ctx, type::lit_word, "'y", ctx},  // binding kept
        {action::make, w(type::get_word, "p"), x, type::get_word, ":x", 0},     // the prototype's type
    };
    for (const Case& c : cases) {
        Cell r = run(c.slot, {c.proto, c.spec});
        EXPECT_EQ(r.header, c.type) << c.mold;  // flags such as the new-line marker are dropped
        EXPECT_EQ(mold_of(r), c.mold);
        EXPECT_EQ(r.payload1, c.context ? c.context : context::global) << c.mold;
        if (!c.context) {
            EXPECT_EQ(int32_t(r.payload3), context::find_word_index(context::global, r.payload2, false)) << c.mold;
        }
    }
}

TEST_F(Word, MakeFromOtherTypesFails) {
    for (Cell spec : {Cell{type::none, 0, 0, 0}, integer_v(1), type_v(0)}) {
        EXPECT_EQ(error_of([&] { run(action::to, {type_v(type::set_word), spec}); }), "bad-to-arg");
        ASSERT_EQ(error::pending.arg_count, 2);
        EXPECT_EQ(error::pending.args[0].payload1, uint32_t(type::set_word));
        EXPECT_EQ(cell::type_of(&error::pending.args[1]), cell::type_of(&spec));
    }
}

TEST_F(Word, FromText) {
    word::scanner = &toy_scan;
    struct Case {
        uint8_t type;
        Cell spec;
        const char* mold;  // null: fails with the error
        const char* error;
    } cases[] = {
        {type::word, text_v("abc"), "abc", ""},
        {type::word, text_v("x:"), "x", ""},   // loads as a set-word, retyped
        {type::set_word, text_v("'q"), "q:", ""},
        {type::word, Cell{type::char_, 0, 'k', 0}, "k", ""},
        {type::word, w(type::refinement, "abc"), "abc", ""},
        {type::get_word, w(type::issue, "tag"), ":tag", ""},
        {type::word, text_v("a b"), nullptr, "invalid-chars"},
        {type::word, text_v("1abc"), nullptr, "invalid-chars"},
        {type::word, text_v(""), nullptr, "invalid-chars"},
        {type::word, Cell{type::char_, 0, '1', 0}, nullptr, "invalid-chars"},
        {type::word, w(type::refinement, "1abc"), nullptr, "bad-to-arg"},
        {type::word, w(type::refinement, "/x"), nullptr, "bad-to-arg"},  // would load as a refinement
    };
    for (const Case& c : cases) {
        Cell r{};
        std::string e = error_of([&] { r = run(action::to, {type_v(c.type), c.spec}); });
        EXPECT_EQ(e, c.error) << (c.mold ? c.mold : c.error);
        if (c.mold) {
            EXPECT_EQ(mold_of(r), c.mold);
            EXPECT_EQ(r.payload1, context::global) << c.mold;
        } else if (e == "invalid-chars") {
            EXPECT_EQ(error::pending.arg_count, 0);
        } else {
            ASSERT_EQ(error::pending.arg_count, 2);
            EXPECT_EQ(error::pending.args[0].payload1, uint32_t(c.type));
            EXPECT_EQ(error::pending.args[1].payload2, c.spec.payload2);
        }
    }
    // Without a lexer the conversions from text are not available.
    word::scanner = nullptr;
    EXPECT_EQ(error_of([] { run(action::to, {type_v(type::word), text_v("abc")}); }), "not-done");
    EXPECT_EQ(error_of([] { run(action::to, {type_v(type::word), w(type::refinement, "abc")}); }), "not-done");
}

TEST_F(Word, IndexQ) {
    Cell bound;
    word::make_in(symbol::make("indexed"), &bound);
    Cell r = run(action::index_q, {bound});
    ASSERT_TRUE(cell::is(&r, type::integer));
    EXPECT_EQ(cell::integer(&r), int32_t(bound.payload3) + 1);
    EXPECT_TRUE(cell::is(&(r = run(action::index_q, {w(type::lit_word, "loose")})), type::none));
    EXPECT_EQ(error_of([] { run(action::index_q, {w(type::refinement, "r")}); }), "expect-arg");
}

TEST_F(Word, MakingWords) {
    // load adds to the global context; while roots are recorded, it answers the root copy.
    sys::record.root_recording = true;
    Cell* loaded = word::load("fresh-name");
    sys::record.root_recording = false;
    SeriesBuffer* roots = alloc::buffer_of(root::block);
    EXPECT_EQ(reinterpret_cast<uint8_t*>(loaded), roots->data() + roots->tail - sizeof(Cell));
    int32_t index = context::find_word_index(context::global, symbol::make("fresh-name"), false);
    ASSERT_GE(index, 0);
    EXPECT_EQ(loaded->payload3, uint32_t(index));
    EXPECT_TRUE(cell::is(context::value_address(context::global, loaded->payload3), type::unset));

    Cell& block = test::keep(Cell{type::block, 0, alloc::alloc_cells(1), 0});
    word::make_at_tail(symbol::make("one"), &block);
    Cell two = *word::make_at_tail_text("two", &block);  // a copy: the block's buffer moves in mold_of
    EXPECT_EQ(mold_of(two), "two");
    EXPECT_EQ(two.payload1, context::global);

    stack::args = stack::top = stack::cells;
    stack::push(&block);
    Cell* pushed = word::push_in(symbol::make("three"));
    EXPECT_EQ(pushed, stack::top - 1);
    word::make_result(symbol::make("four"));
    EXPECT_EQ(mold_of(stack::args[0]), "four");

    Cell r = refinement::make_text("only");
    EXPECT_EQ(mold_of(r), "/only");
    EXPECT_EQ(r.payload1, 0u);
    EXPECT_EQ(mold_of(*refinement::load(symbol::make("part"))), "/part");
}

TEST_F(Word, Retyping) {
    Cell x = w(type::word, "x");
    x.header |= cell::newline_flag;
    Cell out;
    word::box_as(&x, &out, type::lit_word);
    EXPECT_EQ(out.header, type::lit_word | cell::newline_flag);  // a copy: the marker stays
    stack::args = stack::top = stack::cells;
    EXPECT_EQ(mold_of(*word::push_as(&x, type::set_word)), "x:");

    NodeId obj = test::keep_context(context::make(2, false, false, 0, context::object_kind));
    Cell field = w(type::word, "field");
    Cell one = integer_v(1);
    context::store_word(&field, &one, obj, false);  // marks the field as written
    ASSERT_TRUE(context::word_at(obj, 0)->header & cell::field_set_flag);
    Cell* g = word::push_field_as(obj, 0, type::get_word);
    EXPECT_EQ(g->header, type::get_word);
    EXPECT_EQ(g->payload1, obj);
    EXPECT_EQ(mold_of(*g), ":field");
}

TEST_F(Word, ReadingAndWritingThroughWords) {
    stack::args = stack::top = stack::cells;
    Cell v;
    word::make_in(symbol::make("v"), &v);

    EXPECT_EQ(error_of([&] { word::fetch_checked(&v); }), "no-value");
    EXPECT_EQ(error::pending.args[0].payload2, v.payload2);
    EXPECT_TRUE(cell::is(word::push_value(&v), type::unset));  // unchecked

    stack::args = stack::top = stack::cells;
    Cell five = integer_v(5), nothing{type::unset, 0, 0, 0};
    stack::push(&v);
    stack::push(&five);
    word::set_arg_checked();
    EXPECT_EQ(cell::integer(stack::args), 5);
    EXPECT_EQ(cell::integer(word::fetch_checked(&v)), 5);

    stack::args = stack::top = stack::cells;
    stack::push(&v);
    stack::push(&nothing);
    EXPECT_EQ(error_of([] { word::set_arg_checked(); }), "need-value");
    EXPECT_EQ(cell::integer(word::fetch(&v)), 5);  // the old value stays
    word::set_arg();
    EXPECT_TRUE(cell::is(word::fetch(&v), type::unset));
}

TEST_F(Word, GetAndLookup) {
    stack::args = stack::top = stack::cells;
    Cell g;
    word::make_in(symbol::make("gv"), &g);
    Cell seven = integer_v(7);
    word::set(&g, &seven);
    Cell* copy = word::get(context::global, g.payload3);
    EXPECT_EQ(copy, stack::top - 1);
    EXPECT_EQ(cell::integer(copy), 7);

    // A function's context while no call of it runs has no values.
    NodeId fn = test::keep_context(context::make(2, true, false, 0, 0));
    Cell arg = w(type::word, "arg");
    context::add_word_if_absent(fn, &arg);
    EXPECT_EQ(error_of([&] { word::get(fn, 0); }), "not-defined");
    EXPECT_EQ(symbol::name(error::pending.args[0].payload2), "arg");

    // lookup: the word's own context when it holds the symbol (in any case),
    // else the global context, where the word is added.
    NodeId ctx = test::keep_context(context::make(2, false, false, 0, 0));
    Cell local = w(type::word, "local-x");
    local.payload1 = ctx;
    context::store_word(&local, &seven, ctx, false);
    Cell upper = w(type::word, "LOCAL-X");
    upper.payload1 = ctx;
    EXPECT_EQ(word::lookup(&upper), context::value_address(ctx, 0));
    Cell stray = w(type::word, "stray");
    stray.payload1 = ctx;
    Cell* slot = word::lookup(&stray);
    int32_t gi = context::find_word_index(context::global, stray.payload2, false);
    ASSERT_GE(gi, 0);
    EXPECT_EQ(slot, context::value_address(context::global, uint32_t(gi)));
    Cell unbound = refinement::make_text("gv");
    EXPECT_EQ(cell::integer(word::lookup(&unbound)), 7);
}

TEST_F(Word, SymbolAndFamily) {
    Cell x = w(type::set_word, "family");
    EXPECT_EQ(word::symbol_of(&x), symbol::get(x.payload2));
    EXPECT_NE(word::symbol_of(&x)->payload2, 0u);  // its string form is made
    for (int t = 0; t < type::count; ++t)
        EXPECT_EQ(word::any_word_q(uint8_t(t)), t >= type::word && t <= type::issue) << t;
}

TEST_F(Word, RowsHoldExactlyTheirActions) {
    const std::set<int> all = {action::make, action::to, action::form, action::mold, action::compare, action::index_q};
    std::set<int> no_index = all;
    no_index.erase(action::index_q);
    const std::pair<uint8_t, std::set<int>> rows[] = {
        {type::word, all},     {type::set_word, all},       {type::lit_word, all},
        {type::get_word, all}, {type::refinement, no_index},
    };
    for (const auto& [t, slots] : rows)
        for (int s = 1; s <= action::count; ++s)
            EXPECT_EQ(datatype::handler(t, action::Slot(s)) != nullptr, slots.count(s) == 1) << int(t) << " slot " << s;
    EXPECT_STREQ(datatype::names[type::set_word].name, "set-word!");
}
