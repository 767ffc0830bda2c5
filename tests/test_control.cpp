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
#include "tests/support/kel_source.hpp"

using namespace kel;
using namespace kel::test;

namespace {

const NativeSpec specs[] = {
    {"if", type::native, 1, "[cond [any-type!] then-blk [block!]]"},
    {"unless", type::native, 2, "[cond [any-type!] then-blk [block!]]"},
    {"either", type::native, 3, "[cond [any-type!] true-blk [block!] false-blk [block!]]"},
    {"any", type::native, 4, "[conds [block!]]"},
    {"all", type::native, 5, "[conds [block!]]"},
    {"while", type::native, 6, "[cond [block!] body [block!]]"},
    {"until", type::native, 7, "[body [block!]]"},
    {"loop", type::native, 8, "[count [integer! float!] body [block!]]"},
    {"repeat", type::native, 9, "['word [word!] value [integer! float!] body [block!]]"},
    {"forever", type::native, 10, "[body [block!]]"},
    {"func", type::native, 14, "[spec [block!] body [block!]]"},
    {"function", type::native, 15, "[spec [block!] body [block!] /extern words [block!]]"},
    {"does", type::native, 16, "[body [block!]]"},
    {"has", type::native, 17, "[vars [block!] body [block!]]"},
    {"switch", type::native, 18, "[value [any-type!] cases [block!] /default case [block!]]"},
    {"case", type::native, 19, "[cases [block!] /all]"},
    {"do", type::native, 20, "[value [any-type!] /expand /args arg /next position [word!] /trace callback]"},
    {"reduce", type::native, 35, "[value [any-type!] /into out [block!]]"},
    {"compose", type::native, 36, "[value [any-type!] /deep /only /into out [block!]]"},
    {"try", type::native, 70, "[block [block!] /all /keep]"},
    {"break", type::native, 77, "[/return value [any-type!]]"},
    {"continue", type::native, 78, "[]"},
    {"exit", type::native, 79, "[]"},
    {"return", type::native, 80, "[value [any-type!]]"},
    {"throw", type::native, 81, "[value [any-type!] /name word [word!]]"},
    {"catch", type::native, 82, "[block [block!] /name word [word! block!]]"},
    {"lesser?", type::native, lesser_slot + 1, "[a b]"},
    {"equal?", type::native, equal_slot + 1, "[a b]"},
};

struct Control : KelSource {
    std::span<const NativeSpec> natives_used() const override { return specs; }
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
        {"loop 2 [try/all [break]]", "error! [throw break]"},
        {"n: 0 loop 3 [n: n + 1 try/all [break]] n", "3"},
    });
}

TEST_F(Control, ReturnAndExitOutsideAFunction) {
    check({
        {"return 1", "error: return"},
        {"exit", "error: return"},
        {"do [return 1]", "error: return"},
        {"loop 2 [exit]", "error: return"},
        {"try [return 1]", "error! [throw return]"},
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
        {"try [undefined-word]", "error! [script no-value undefined-word]"},
        {"try [loop 2 [if true [undefined-word]]]", "error! [script no-value undefined-word]"},
        {"try [try [undefined-word] 5]", "5"},
        {"try [break]", "error! [throw break]"},
        {"try [throw 1]", "error! [throw throw 1]"},
        {"try/all [return 1]", "error! [throw return]"},
        {"catch [try/all [throw 5]]", "error! [throw throw 5]"},  // a barrier stops the throw
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
        {"loop 3 [try/all [breaks]]", "error! [throw break]"},
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
        {"count: func [n] [if n < 1 [return 0] 1 + count n - 1] count 10000", "error: stack-overflow"},
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
    test::StressMode stress(true);  // the collector enabled too: stress alone does not collect
    check({
        {"reduce [1 + 2 reduce [3 4] compose [(5)]]", "[3 [3 4] [5]]"},
        {"compose/deep [a [(reduce [1 + 1])] ([x y])]", "[a [2] x y]"},
        {"try [undefined-word]", "error! [script no-value undefined-word]"},
        {"catch/name [loop 3 [throw/name [1 2] 'a]] [b a]", "[1 2]"},
        {"s: 0 repeat i 3 [s: s + i] s", "6"},
        {"case/all [true [reduce [1]] true [compose [(2)]]]", "[2]"},
        {"x: 1 f: function [a] [x: reduce [a a] x] f 3", "[3 3]"},
        {"f: has [y] [y: compose [(1 + 1)] y] f", "[2]"},
    });
}
