// The control and evaluation natives, run through the interpreter as Kel
// code: each case is a line of source read into a block, evaluated under a
// try frame, and compared by its molded result (or the id of the error it
// raises). Every run also checks that the stacks come back exactly as they
// were, whether the code ended normally, by an exit or by an error.
#include <gtest/gtest.h>

#include <string>

#include "runtime/alloc.hpp"
#include "runtime/context.hpp"
#include "runtime/datatypes/function.hpp"
#include "runtime/datatypes/native.hpp"
#include "runtime/exits.hpp"
#include "runtime/interp.hpp"
#include "runtime/natives/control.hpp"
#include "runtime/natives/natives.hpp"
#include "tests/support/values.hpp"

using namespace kel;
using namespace kel::test;

namespace {

Cell type_cell(uint8_t t) {
    Cell d{};
    cell::set_datatype(&d, t);
    return d;
}

void define(const char* name, const Cell& value) {
    Cell w = word_of(name);
    context::put_value(context::global, &w, &value);
}

Cell as_op(Cell fn) {
    fn.header = type::op | uint32_t(cell::type_of(&fn)) << 16;
    return fn;
}

// Test-only natives in spare slots of the table: comparisons for loop
// conditions.
constexpr uint32_t lesser_slot = 110, equal_slot = 111;

template <int Op>
uint32_t compare_native(const Call&) {
    bool r = actions::compare_star(stack::args, stack::args + 1, Op);
    logic::set_last(r);
    stack::keep();
    return 0;
}

struct Spec {
    const char* name;
    uint32_t slot;
    const char* spec;
};

const Spec specs[] = {
    {"if", 0, "[cond [any-type!] then-blk [block!]]"},
    {"unless", 1, "[cond [any-type!] then-blk [block!]]"},
    {"either", 2, "[cond [any-type!] true-blk [block!] false-blk [block!]]"},
    {"any", 3, "[conds [block!]]"},
    {"all", 4, "[conds [block!]]"},
    {"while", 5, "[cond [block!] body [block!]]"},
    {"until", 6, "[body [block!]]"},
    {"loop", 7, "[count [integer! float!] body [block!]]"},
    {"repeat", 8, "['word [word!] value [integer! float!] body [block!]]"},
    {"forever", 9, "[body [block!]]"},
    {"func", 13, "[spec [block!] body [block!]]"},
    {"function", 14, "[spec [block!] body [block!] /extern words [block!]]"},
    {"does", 15, "[body [block!]]"},
    {"has", 16, "[vars [block!] body [block!]]"},
    {"switch", 17, "[value [any-type!] cases [block!] /default case [block!]]"},
    {"case", 18, "[cases [block!] /all]"},
    {"do", 19, "[value [any-type!] /expand /args arg /next position [word!] /trace callback]"},
    {"reduce", 34, "[value [any-type!] /into out [block!]]"},
    {"compose", 35, "[value [any-type!] /deep /only /into out [block!]]"},
    {"try", 69, "[block [block!] /all /keep]"},
    {"break", 76, "[/return value [any-type!]]"},
    {"continue", 77, "[]"},
    {"exit", 78, "[]"},
    {"return", 79, "[value [any-type!]]"},
    {"throw", 80, "[value [any-type!] /name word [word!]]"},
    {"catch", 81, "[block [block!] /name word [word! block!]]"},
    {"lesser?", lesser_slot, "[a b]"},
    {"equal?", equal_slot, "[a b]"},
};

struct Control : WithSeries {
    void SetUp() override {
        WithSeries::SetUp();
        native::register_type();
        action_::register_type();
        op::register_type();
        function::register_type();
        routine::register_type();
        natives::init_control();
        natives::table[lesser_slot] = compare_native<3>;
        natives::table[equal_slot] = compare_native<0>;
        for (const Spec& s : specs) define(s.name, make_callable(type::native, s.spec, s.slot + 1));
        define("<", as_op(make_callable(type::native, "[a b]", lesser_slot + 1)));
        define("=", as_op(make_callable(type::native, "[a b]", equal_slot + 1)));
        define("+", as_op(make_callable(type::action, "[value1 value2]", action::add)));
        define("-", as_op(make_callable(type::action, "[value1 value2]", action::subtract)));
        define("*", as_op(make_callable(type::action, "[value1 value2]", action::multiply)));
        define("true", *shared::logic(true));
        define("false", *shared::logic(false));
        define("none", *shared::none());
    }

    void TearDown() override {
        natives::table[lesser_slot] = natives::table[equal_slot] = nullptr;
        WithSeries::TearDown();
    }

    // make native! or action! [spec index]
    static Cell make_callable(uint8_t t, const char* spec, uint32_t index) {
        Cell arg = load(spec);
        Cell i = num(int32_t(index));
        block::ks_append(&arg, &i);
        return run(action::make, {type_cell(t), arg});
    }

    // Evaluates the source under a try frame: the molded result, or
    // "error: id". The stacks must come back as they were.
    static std::string eval(const char* source) {
        Cell code = load(source);
        Cell* top = stack::top;
        Cell* args = stack::args;
        stack::Frame* frame_top = stack::frame_top;
        stack::push(&code);  // the collector sees the code
        stack::mark_try(nullptr);
        Cell* base = stack::args;
        uint32_t pending = 0;
        uint32_t raised = throws::protect(throws::error, [&] { pending = interp::eval_block(&code, true); });
        std::string result;
        if (raised) {
            EXPECT_EQ(raised, throws::error) << source;
            EXPECT_EQ(stack::frame_top, frame_top) << source << ": the error popped the try frame";
            EXPECT_EQ(stack::args, args) << source;
            result = std::string("error: ") + error::pending.id;
        } else if (pending) {
            ADD_FAILURE() << source << ": exit " << std::hex << pending << " left the code";
            exits::consume();
            stack::frame_top = frame_top;
        } else {
            EXPECT_EQ(exits::pending(), 0u) << source;
            EXPECT_EQ(stack::frame_top, frame_top + 1) << source << ": frames left open";
            EXPECT_EQ(stack::args, base) << source;
            EXPECT_EQ(stack::top, base + 1) << source << ": one result cell";
            Cell value = *base;
            stack::unwind_drop();
            result = mold(value);
        }
        stack::top = top;
        stack::args = args;
        return result;
    }

    struct Case {
        const char* source;
        const char* expected;
    };

    static void check(std::initializer_list<Case> cases) {
        for (const Case& c : cases) EXPECT_EQ(eval(c.source), c.expected) << c.source;
    }
};

}  // namespace

TEST_F(Control, Conditionals) {
    check({
        {"if true [1]", "1"},
        {"if false [1]", "none"},
        {"if none [1]", "none"},
        {"if 0 [1]", "1"},       // 0 is truthy
        {"if [] [1]", "1"},      // and so is an empty series
        {"if () [1]", "1"},      // and unset
        {"if true []", "unset"},
        {"unless none [2]", "2"},
        {"unless 0 [2]", "none"},
        {"either true [1] [2]", "1"},
        {"either false [1] [2]", "2"},
        {"either none [1] [2]", "2"},
        {"any []", "none"},
        {"all []", "none"},
        {"any [false none 3 4]", "3"},
        {"any [none false]", "none"},
        {"all [1 2 3]", "3"},
        {"all [1 none 3]", "none"},
        {"all [1 + 1 2 * 3]", "6"},
        {"x: 0 any [1 x: 5] x", "0"},     // stops at the first truthy value
        {"x: 0 all [none x: 5] x", "0"},  // and at the first falsy one
    });
}

TEST_F(Control, SwitchAndCase) {
    check({
        {"switch 2 [1 [10] 2 [20]]", "20"},
        {"switch 3 [1 [10] 2 [20]]", "none"},
        {"switch/default 3 [1 [10]] [99]", "99"},
        {"switch 1 [1 2 [12] 3 [30]]", "12"},  // values share the next block
        {"switch 'b [a [1] b [2]]", "2"},
        {"switch 1.0 [1 [10] 1.0 [20]]", "20"},  // only cells of the value's type
        {"switch [a] [[a] [1]]", "none"},         // a block never matches
        {"switch 1 [0 [5] 1]", "none"},           // a match with no block after it
        {"switch/default 1 [1] [9]", "none"},
        {"case [false [1] true [2]]", "2"},
        {"case [none [1]]", "none"},
        {"case []", "none"},
        {"case [true 1 + 2]", "3"},  // an item that is not a block is one expression
        {"case [false 1 true 5]", "5"},
        {"x: 0 case [true [x: 1] true [x: 2]] x", "1"},
        {"case/all [true [1] false [2]]", "none"},  // the last pair decides
        {"case/all [false [1] true [2]]", "2"},
        {"x: 0 case/all [true [x: x + 1] true [x: x + 10]] x", "11"},
        {"case [false [1] true]", "error: need-value"},
        {"case [1 + 1]", "error: need-value"},
    });
    EXPECT_EQ(eval("case [true]"), "error: need-value");
    EXPECT_EQ(symbol::name(error::pending.args[0].payload2), "case");
}

TEST_F(Control, Loops) {
    check({
        {"n: 0 loop 3 [n: n + 1] n", "3"},
        {"loop 3 [5]", "5"},
        {"loop 0 [1]", "none"},
        {"loop -1 [1]", "none"},
        {"n: 0 loop 2.9 [n: n + 1] n", "2"},  // a float count is truncated
        {"loop 0.5 [1]", "none"},
        {"s: 0 repeat i 4 [s: s + i] s", "10"},
        {"repeat i 3 [i * 10]", "30"},
        {"repeat i 3 [] i", "3"},  // the counter keeps the last count
        {"repeat i -1 [1]", "none"},
        {"repeat i 0 [1]", "none"},
        {"n: 0 repeat i 2.5 [n: i] n", "2"},
        {"n: 0 while [n < 3] [n: n + 1]", "unset"},
        {"n: 0 while [n < 3] [n: n + 1] n", "3"},
        {"while [false] [1]", "unset"},
        {"n: 0 until [n: n + 1 n = 3]", "true"},
        {"n: 0 until [n: n + 1 if n = 2 [5]]", "5"},  // the truthy value that ended it
        {"n: 0 forever [n: n + 1 if n = 4 [break/return n * 10]]", "40"},
    });
}

TEST_F(Control, BreakAndContinue) {
    check({
        {"loop 3 [break]", "unset"},
        {"loop 3 [break/return 7]", "7"},
        {"n: 0 loop 5 [n: n + 1 if n = 3 [break/return n * 10]]", "30"},
        {"n: 0 loop 5 [n: n + 1 if n = 3 [break]] n", "3"},
        {"while [true] [break/return 5]", "unset"},  // while always gives unset
        {"until [break/return 5]", "5"},
        {"forever [break]", "unset"},
        {"s: 0 repeat i 5 [if i = 3 [continue] s: s + i] s", "12"},  // continue finishes the iteration
        {"n: 0 s: 0 while [n < 5] [n: n + 1 if n = 2 [continue] s: s + n] s", "13"},
        {"n: 0 until [n: n + 1 if n < 3 [continue] n]", "3"},
        {"n: 0 loop 3 [n: n + 1 continue n: 100] n", "3"},
        // The innermost loop receives the exit.
        {"s: 0 loop 3 [loop 5 [break] s: s + 1] s", "3"},
        {"s: 0 loop 3 [repeat i 5 [if i = 2 [continue] s: s + 1]] s", "12"},
        // Through the natives between the body and the break.
        {"loop 3 [if true [either false [1] [break/return 9]]]", "9"},
        {"loop 2 [do [break/return 4]]", "4"},
        {"loop 2 [catch [break/return 6]]", "6"},
        {"loop 2 [try [break/return 8]]", "8"},
        {"loop 2 [any [none break/return 1]]", "1"},
        {"loop 2 [case [true [break/return 2]]]", "2"},
        {"loop 2 [switch 1 [1 [break/return 3]]]", "3"},
        {"loop 2 [reduce [1 break/return 3]]", "3"},
        {"loop 2 [compose [a (break/return 4)]]", "4"},
        // In a while condition it is an error.
        {"while [break] [1]", "error: while-cond"},
        {"while [continue] [1]", "error: while-cond"},
        // With no loop to receive them.
        {"break", "error: break"},
        {"continue", "error: continue"},
        {"if true [break/return 1]", "error: break"},
        // A barrier between the loop and the break turns it into an error.
        {"loop 2 [try/all [break]]", "[throw break]"},
        {"n: 0 loop 3 [n: n + 1 try/all [break]] n", "3"},
    });
}

TEST_F(Control, ReturnAndExitOutsideAFunction) {
    check({
        {"return 1", "error: return"},
        {"exit", "error: return"},
        {"do [return 1]", "error: return"},
        {"loop 2 [exit]", "error: return"},
        {"try [return 1]", "[throw return]"},
    });
}

TEST_F(Control, CatchAndThrow) {
    check({
        {"catch [throw 5]", "5"},
        {"catch [1 2]", "2"},
        {"catch [throw 5 6]", "5"},
        {"catch [throw/name 5 'a]", "5"},  // a plain catch takes every throw
        {"catch/name [throw/name 5 'a] 'a", "5"},
        {"catch/name [throw/name 5 'A] 'a", "5"},  // names compare without case
        {"catch/name [throw/name 5 'a] [b a]", "5"},
        {"catch [catch/name [throw/name 5 'a] 'b 1]", "5"},  // passed on to the next catch
        {"catch [catch/name [throw 5] 'b 1]", "5"},
        {"catch [loop 3 [throw 7]]", "7"},
        {"n: 0 catch [loop 5 [n: n + 1 if n = 2 [throw n * 3]]]", "6"},
        {"(catch [throw 1]) + 10", "11"},
        {"catch [try [throw 5]]", "5"},  // try passes a throw on
        {"catch/name [throw/name 1 'a] [b 2]", "error: invalid-refine-arg"},
        {"catch/name [throw/name 1 'z] 'a", "error: throw"},
        {"throw 1", "error: throw"},
    });
    EXPECT_EQ(eval("catch/name [throw/name 3 'z] 'a"), "error: throw");
    EXPECT_EQ(cell::integer(&error::pending.args[0]), 3);  // the thrown value
}

TEST_F(Control, TryKeepsTheError) {
    check({
        {"try [1 + 2]", "3"},
        {"try []", "unset"},
        {"try [undefined-word]", "[script no-value undefined-word]"},
        {"try [loop 2 [if true [undefined-word]]]", "[script no-value undefined-word]"},
        {"try [try [undefined-word] 5]", "5"},
        {"try [break]", "[throw break]"},
        {"try [throw 1]", "[throw throw 1]"},
        {"try/all [return 1]", "[throw return]"},
        {"catch [try/all [throw 5]]", "[throw throw 5]"},  // a barrier stops the throw
        {"loop 2 [try/keep [break/return 5]]", "5"},
        {"n: 0 loop 50 [try [n: n + 1 undefined-word]] n", "50"},
    });
}

TEST_F(Control, DoReduceCompose) {
    check({
        {"do [1 + 2]", "3"},
        {"do []", "unset"},
        {"do 5", "5"},
        {"x: 7 do 'x", "7"},
        {"do/next [1 + 2 10] 'p", "3"},
        {"do/next [1 + 2 10] 'p p", "[10]"},
        {"do/next [] 'p", "unset"},
        {"do/next [] 'p p", "[]"},
        {"reduce [1 + 2 3]", "[3 3]"},
        {"reduce []", "[]"},
        {"reduce 5", "5"},
        {"x: 2 reduce 'x", "2"},
        {"reduce [\n1\n2]", "[1 2]"},  // new-line markers are cleared
        {"b: [] reduce/into [1 + 1 3] b", "[2 3]"},
        {"b: [] reduce/into 1 + 1 b b", "[2]"},
        {"compose [(1) () ([]) ([a b])]", "[1 a b]"},
        {"compose/only [(1) () ([]) ([a b])]", "[1 [] [a b]]"},
        {"compose [a [(1)] (1 + 1)]", "[a [(1)] 2]"},
        {"compose/deep [a [(1) [(2)]] (1 + 1)]", "[a [1 [2]] 2]"},
        {"compose [(if false [1]) (())]", "[none]"},  // none is a value, unset is nothing
        {"b: [] compose/into [(1 + 1) x] b b", "[2 x]"},
        {"compose 5", "error: expect-val"},
    });
}

TEST_F(Control, ExitsFromAFunction) {
    Cell fn = run(action::make, {type_cell(type::function), load1("[[] [loop 2 [break/return 5]]]")});
    define("in-loop", fn);
    define("breaks", run(action::make, {type_cell(type::function), load1("[[] [break/return 6]]")}));
    define("returns", run(action::make, {type_cell(type::function), load1("[[] [do [return 7] 0]]")}));
    define("exits", run(action::make, {type_cell(type::function), load1("[[] [loop 3 [exit] 0]]")}));
    check({
        {"in-loop", "5"},
        {"loop 3 [breaks]", "6"},  // a break from a function called in a loop ends the loop
        {"breaks", "error: break"},
        {"loop 3 [try/all [breaks]]", "[throw break]"},
        {"returns", "7"},  // do passes return on to the function
        {"exits", "unset"},
        {"catch [loop 2 [returns]]", "7"},
    });
}

TEST_F(Control, FunctionMakers) {
    check({
        {"f: func [a b] [a + b] f 1 2", "3"},
        {"f: func [a] [return a * 2 0] f 4", "8"},
        {"fact: func [n] [if n < 2 [return 1] n * fact n - 1] fact 5", "120"},
        {"f: func [] [repeat i 10 [if i = 3 [return i]] 0] f", "3"},
        {"x: 1 f: func [] [x: 5] f x", "5"},      // func leaves set-words global
        {"x: 1 f: function [] [x: 5] f x", "1"},  // function makes them local
        {"f: function [a] [b: a + 1 b * 10] f 1", "20"},
        {"x: 1 f: function [/extern x] [x: 5] f x", "5"},
        {"f: does [7] f", "7"},
        {"x: 1 f: has [x] [x: 5] f", "5"},
        {"x: 1 f: has [x] [x: 5] f x", "1"},
        {"func [a a] []", "error: dup-vars"},
    });
}

// Deep recursion either completes or raises stack-overflow: never a crash of
// the native stack, whatever the depth asked.
TEST_F(Control, DeepRecursion) {
    check({
        {"count: func [n] [if n < 1 [return 0] 1 + count n - 1] count 2000", "2000"},
        {"count: func [n] [if n < 1 [return 0] 1 + count n - 1] count 1000000", "error: stack-overflow"},
        {"count: func [n] [if n < 1 [return 0] 1 + count n - 1] count 10", "10"},  // and afterwards all is well
    });
}

// Locals after /local (has, and the words function collects) read their own
// slots after calls made in the body: /local itself has a slot too.
TEST_F(Control, LocalsKeepTheirValuesAcrossCalls) {
    check({
        {"f: has [i] [i: 4 if true [i]] f", "4"},
        {"f: has [i] [i: 4 loop 1 [] i] f", "4"},
        {"i: 0 f: function [] [repeat i 3 [] i] f", "3"},  // the counter of a local word
        {"i: 0 f: function [] [repeat i 3 []] f i", "0"},
    });
}

// The same paths with a collection at every allocation: every value a
// native builds or evaluates must be reachable from the stacks.
TEST_F(Control, UnderCollectionAtEveryAllocation) {
    alloc::stress = true;
    check({
        {"reduce [1 + 2 reduce [3 4] compose [(5)]]", "[3 [3 4] [5]]"},
        {"compose/deep [a [(reduce [1 + 1])] ([x y])]", "[a [2] x y]"},
        {"try [undefined-word]", "[script no-value undefined-word]"},
        {"catch/name [loop 3 [throw/name [1 2] 'a]] [b a]", "[1 2]"},
        {"s: 0 repeat i 3 [s: s + i] s", "6"},
        {"case/all [true [reduce [1]] true [compose [(2)]]]", "[2]"},
        {"x: 1 f: function [a] [x: reduce [a a] x] f 3", "[3 3]"},
        {"f: has [y] [y: compose [(1 + 1)] y] f", "[2]"},
    });
    alloc::stress = false;
}
