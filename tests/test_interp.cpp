#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/context.hpp"
#include "runtime/datatype.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/function.hpp"
#include "runtime/error.hpp"
#include "runtime/interp.hpp"
#include "runtime/natives/natives.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"
#include "runtime/throws.hpp"
#include "runtime/words.hpp"
#include "tests/support/runtime.hpp"

using namespace kel;
using test::keep;
using test::keep_block;

namespace {

Cell integer(int32_t v) {
    Cell c;
    cell::set_integer(&c, v);
    return c;
}

// The blocks and values these helpers make stay alive until the test ends.

// A word of the global context.
Cell global(const char* name, uint8_t t = type::word) {
    Cell w = *context::find_or_add_global(symbol::make(name));
    cell::set_type(&w, t);
    return w;
}

Cell block_of(std::initializer_list<Cell> cells, uint8_t t = type::block) {
    NodeId node = keep_block(alloc::alloc_cells(cells.size()));
    for (const Cell& c : cells) *series::bump_tail(alloc::buffer_of(node)) = c;
    return Cell{t, 0, node, 0};
}

// An action! value for an action slot, with a spec of two plain arguments.
Cell action_value(action::Slot slot) {
    Cell spec = block_of({Cell{type::word, 0, symbol::make("value1"), uint32_t(-1)},
                          Cell{type::word, 0, symbol::make("value2"), uint32_t(-1)}});
    NodeId extra = keep_block(alloc::alloc_cells(2));
    for (int i = 0; i < 2; ++i) cell::set_none(series::bump_tail(alloc::buffer_of(extra)));
    return Cell{type::action, slot, spec.payload2, extra};
}

Cell op_of(const Cell& fn) {
    Cell op = fn;
    op.header = type::op | uint32_t(cell::type_of(&fn)) << 16;
    return op;
}

void define(const char* name, const Cell& value) {
    Cell w = global(name);
    word::set(&w, &value);
}

struct Interp : test::WithRuntime {
    void SetUp() override {
        WithRuntime::SetUp();
        define("add", action_value(action::add));
        define("+", op_of(action_value(action::add)));
        define("*", op_of(action_value(action::multiply)));
        define("-", op_of(action_value(action::subtract)));
    }

    // Evaluates the block from a stack cell; answers its result, and checks
    // that nothing else was left on the stack.
    Cell run(const Cell& block) {
        Cell* held = stack::push(&block);
        Cell* top = stack::top;
        uint32_t pending = 0;
        uint32_t raised = throws::protect(throws::error, [&] { pending = interp::eval_block(held, false); });
        if (raised) {
            ADD_FAILURE() << "error: " << error::pending.id;
            stack::top = held;
            return Cell{type::none, 0, 0, 0};
        }
        EXPECT_EQ(pending, 0u);
        EXPECT_EQ(stack::top, top + 1) << "one result cell";
        Cell r = keep(*stack::last());
        stack::top = held;
        return r;
    }

    // The error the block raises, caught by a try frame as the language's
    // own catching natives do; the stacks come back as they were.
    std::string error_of(const Cell& block) {
        Cell* args = stack::args;
        Cell* held = stack::push(&block);
        stack::mark_try(nullptr);
        uint32_t code = throws::protect(throws::error, [&] { interp::eval_block(held, false); });
        if (!code) stack::unwind_drop();
        stack::top = held;
        stack::args = args;
        return code == throws::error ? error::pending.id : "no error";
    }
};

}  // namespace

TEST_F(Interp, ValuesAndTheLastResult) {
    Cell r = run(block_of({}));
    EXPECT_TRUE(cell::is(&r, type::unset));
    r = run(block_of({integer(1), integer(2), integer(3)}));
    EXPECT_EQ(cell::integer(&r), 3);
}

TEST_F(Interp, OperatorsChainLeftToRight) {
    Cell r = run(block_of({integer(1), global("+"), integer(2), global("*"), integer(3)}));
    EXPECT_EQ(cell::integer(&r), 9);
    r = run(block_of({integer(10), global("-"), integer(2), global("-"), integer(3)}));
    EXPECT_EQ(cell::integer(&r), 5);
    Cell paren = block_of({integer(1), global("+"), integer(2)}, type::paren);
    r = run(block_of({integer(2), global("*"), paren}));
    EXPECT_EQ(cell::integer(&r), 6);
}

TEST_F(Interp, PrefixCallsTakeWholeExpressionsAsArguments) {
    // add 1 add 2 3 * 2: the second add's last argument absorbs the op.
    Cell r = run(block_of({global("add"), integer(1), global("add"), integer(2), integer(3), global("*"), integer(2)}));
    EXPECT_EQ(cell::integer(&r), 9);
}

TEST_F(Interp, SetWordsAndWordKinds) {
    Cell r = run(block_of({global("x", type::set_word), integer(5), global("x"), global("+"), integer(1)}));
    EXPECT_EQ(cell::integer(&r), 6);
    r = run(block_of({global("y", type::set_word), global("z", type::set_word), integer(7), global("y")}));
    EXPECT_EQ(cell::integer(&r), 7);  // chained assignment
    r = run(block_of({global("unknown", type::get_word)}));
    EXPECT_TRUE(cell::is(&r, type::unset));
    r = run(block_of({global("x", type::lit_word)}));
    EXPECT_TRUE(cell::is(&r, type::word));
    EXPECT_EQ(symbol::name(r.payload2), "x");
}

TEST_F(Interp, ErrorsOfEvaluation) {
    struct Case {
        const char* name;
        Cell block;
        const char* error;
    } cases[] = {
        {"set-word at the end", block_of({global("x", type::set_word)}), "need-value"},
        {"unset value", block_of({global("never-set")}), "no-value"},
        {"op first", block_of({global("+"), integer(1)}), "no-op-arg"},
        {"missing argument", block_of({global("add"), integer(1)}), "no-arg"},
        {"assigning unset", block_of({global("x", type::set_word), global("never-set", type::get_word)}),
         "need-value"},
    };
    for (const Case& c : cases) EXPECT_EQ(error_of(c.block), c.error) << c.name;
}

namespace {

Cell path_of(std::initializer_list<Cell> cells, uint8_t t = type::path) { return block_of(cells, t); }

Cell refinement(const char* name) { return Cell{type::refinement, 0, symbol::make(name), uint32_t(-1)}; }

// copy with its refinements, as the action's spec has them.
Cell copy_action() {
    Cell v = action_value(action::copy);
    Cell spec = block_of({Cell{type::word, 0, symbol::make("value"), uint32_t(-1)}, refinement("part"),
                          Cell{type::word, 0, symbol::make("length"), uint32_t(-1)}, refinement("deep"),
                          refinement("types"), Cell{type::word, 0, symbol::make("kind"), uint32_t(-1)}});
    v.payload2 = spec.payload2;
    return v;
}

int32_t length(const Cell& block) {
    SeriesBuffer* b = alloc::buffer_of(block.payload2);
    return int32_t((b->tail - b->offset) / sizeof(Cell)) - int32_t(block.payload1);
}

struct Paths : Interp {
    void SetUp() override {
        Interp::SetUp();
        define("b", block_of({integer(10), integer(20), integer(30)}));
        define("copy", copy_action());
        define("n", integer(3));
    }
};

}  // namespace

TEST_F(Paths, SelectAndSet) {
    Cell r = run(block_of({path_of({global("b"), integer(2)})}));
    EXPECT_EQ(cell::integer(&r), 20);
    r = run(block_of({path_of({global("b"), global("n", type::get_word)})}));
    EXPECT_EQ(cell::integer(&r), 30);
    Cell paren = block_of({integer(1), global("+"), integer(0)}, type::paren);
    r = run(block_of({path_of({global("b"), paren})}));
    EXPECT_EQ(cell::integer(&r), 10);
    r = run(block_of({path_of({global("b"), integer(2)}, type::set_path), integer(99),
                      path_of({global("b"), integer(2)})}));
    EXPECT_EQ(cell::integer(&r), 99);
}

TEST_F(Paths, RefinementsOfACall) {
    Cell r = run(block_of({path_of({global("copy"), global("part")}), global("b"), integer(2)}));
    ASSERT_TRUE(cell::is(&r, type::block));
    EXPECT_EQ(length(r), 2);
    Cell falsy;
    cell::set_none(&falsy);
    define("part", falsy);
    // A refinement named by a get-word whose value is none stays off: its
    // argument is evaluated and dropped.
    r = run(block_of({path_of({global("copy"), global("part", type::get_word)}), global("b"), integer(2)}));
    EXPECT_EQ(length(r), 3);
}

TEST_F(Paths, PathErrors) {
    struct Case {
        const char* name;
        Cell block;
        const char* error;
    } cases[] = {
        {"word first", block_of({path_of({integer(1), integer(2)})}), "word-first"},
        {"unset head", block_of({path_of({global("nothing-here"), integer(1)})}), "unset-path"},
        {"unknown refinement", block_of({path_of({global("copy"), global("sideways")}), global("b")}), "no-refine"},
        {"refinement twice",
         block_of({path_of({global("copy"), global("part"), global("part")}), global("b"), integer(1), integer(1)}),
         "dup-refine"},
        {"not a word", block_of({path_of({global("copy"), integer(3)}), global("b")}), "bad-refine"},
        {"set-path of a call", block_of({path_of({global("copy"), global("part")}, type::set_path), integer(1)}),
         "invalid-path-set"},
        {"set-path at the end", block_of({path_of({global("b"), integer(1)}, type::set_path)}), "need-value"},
    };
    for (const Case& c : cases) EXPECT_EQ(error_of(c.block), c.error) << c.name;
}

namespace {

// A function! value made from a spec and a body.
Cell func(const Cell& spec, const Cell& body) {
    Cell* top = stack::top;
    function::push(&spec, &body, 0, 0, 0, 0);
    Cell f = keep(*stack::last());
    stack::top = top;
    return f;
}

Cell plain(const char* name) { return Cell{type::word, 0, symbol::make(name), uint32_t(-1)}; }

using Functions = Paths;

}  // namespace

TEST_F(Functions, ArgumentsRefinementsAndLocals) {
    define("f", func(block_of({plain("a"), plain("b")}), block_of({global("a"), global("+"), global("b")})));
    Cell r = run(block_of({global("f"), integer(2), integer(3)}));
    EXPECT_EQ(cell::integer(&r), 5);

    // A function calling another, with its arguments as the other's.
    define("g", func(block_of({plain("x")}), block_of({global("f"), global("x"), global("x")})));
    r = run(block_of({global("g"), integer(4), global("*"), integer(10)}));
    EXPECT_EQ(cell::integer(&r), 80);

    // A refinement and its argument: none and false when not used.
    define("h", func(block_of({plain("a"), refinement("plus"), plain("b")}), block_of({global("b")})));
    r = run(block_of({path_of({global("h"), global("plus")}), integer(1), integer(7)}));
    EXPECT_EQ(cell::integer(&r), 7);
    r = run(block_of({global("h"), integer(1)}));
    EXPECT_TRUE(cell::is(&r, type::none));
    define("flag", func(block_of({refinement("on")}), block_of({global("on")})));
    r = run(block_of({global("flag")}));
    EXPECT_TRUE(cell::is(&r, type::logic) && !r.payload1);

    // A local, set in the body.
    define("k", func(block_of({plain("a"), refinement("local"), plain("t")}),
                     block_of({global("t", type::set_word), global("a"), global("*"), integer(2), global("t")})));
    r = run(block_of({global("k"), integer(5)}));
    EXPECT_EQ(cell::integer(&r), 10);
}

TEST_F(Functions, ACallInsideKeepsTheCallersArguments) {
    define("id", func(block_of({plain("v")}), block_of({global("v")})));
    define("outer", func(block_of({plain("v")}), block_of({global("id"), integer(99), global("v")})));
    Cell r = run(block_of({global("outer"), integer(5)}));
    EXPECT_EQ(cell::integer(&r), 5);
}

namespace {

Cell block_value(std::initializer_list<int32_t> values) {
    NodeId node = keep_block(alloc::alloc_cells(values.size()));
    for (int32_t v : values) *series::bump_tail(alloc::buffer_of(node)) = integer(v);
    return Cell{type::block, 0, node, 0};
}

// C++ code exposed as routines: a sum, and a test that answers an integer.
uint32_t sum_entry(const Call&) {
    cell::set_integer(stack::args, cell::integer(stack::args) + cell::integer(stack::args + 1));
    return 0;
}
uint32_t zero_entry(const Call&) {
    cell::set_integer(stack::args, 0);
    return 0;
}
uint32_t doubled_entry(const Call&) {
    cell::set_integer(stack::args, cell::integer(stack::args) * 2);
    return 0;
}

Cell routine_value(const Cell& spec, Entry entry, int32_t result_kind) {
    Cell* top = stack::top;
    Cell r = keep(*routine::push(&spec, nullptr, routine::add_entry(entry), result_kind, false));
    stack::top = top;
    return r;
}

}  // namespace

// A routine's arguments must match the first word of their type blocks; its
// result takes the routine's return type.
TEST_F(Functions, RoutinesCallTheirCode) {
    Cell integer_type = block_of({global("integer!")});
    define("integer!", Cell{type::datatype, type::integer, 0, 0});
    define("sum", routine_value(block_of({plain("a"), integer_type, plain("b"), integer_type}), sum_entry, 11));
    Cell r = run(block_of({global("sum"), integer(2), integer(3), global("*"), integer(2)}));
    EXPECT_EQ(cell::integer(&r), 8);
    EXPECT_EQ(error_of(block_of({global("sum"), integer(2), block_value({})})), "expect-arg");

    define("zero?", routine_value(block_of({plain("a"), integer_type}), zero_entry, 4));
    r = run(block_of({global("zero?"), integer(1)}));
    EXPECT_TRUE(cell::is(&r, type::logic) && !r.payload1);

    // An argument without a type block cannot be checked.
    define("untyped", routine_value(block_of({plain("a")}), sum_entry, -1));
    EXPECT_EQ(error_of(block_of({global("untyped"), integer(1)})), "invalid-type-spec");

    // A function whose body was built ahead of time runs its code.
    Cell spec = block_of({plain("n")});
    Cell* top = stack::top;
    function::push(&spec, nullptr, 0, routine::add_entry(doubled_entry), 0, 0);
    define("twice", keep(*stack::last()));
    stack::top = top;
    r = run(block_of({global("twice"), integer(21)}));
    EXPECT_EQ(cell::integer(&r), 42);
}
