// foreach, forall, remove-each and apply, run through the interpreter as Kel
// code: each case is a line of source read into a block, evaluated under a
// try frame, and compared by its molded result (or the id of the error it
// raises). Every run also checks that the stacks come back exactly as they
// were.
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
    {"either", type::native, 3, "[cond [any-type!] true-blk [block!] false-blk [block!]]"},
    {"loop", type::native, 8, "[count [integer! float!] body [block!]]"},
    {"foreach", type::native, 11, "['word [word! block!] series [block! paren! path! string! binary! map!] body [block!]]"},
    {"forall", type::native, 12, "['word [word!] body [block!]]"},
    {"remove-each", type::native, 13, "['word [word! block!] data [block! paren! path! string! binary!] body [block!]]"},
    {"func", type::native, 14, "[spec [block!] body [block!]]"},
    {"function", type::native, 15, "[spec [block!] body [block!] /extern words [block!]]"},
    {"compose", type::native, 36, "[value [any-type!] /deep /only /into out [block!]]"},
    {"try", type::native, 70, "[block [block!] /all /keep]"},
    {"break", type::native, 77, "[/return value [any-type!]]"},
    {"continue", type::native, 78, "[]"},
    {"return", type::native, 80, "[value [any-type!]]"},
    {"throw", type::native, 81, "[value [any-type!] /name word [word!]]"},
    {"catch", type::native, 82, "[block [block!] /name word [word! block!]]"},
    {"apply", type::native, 107, "[func [word! path! native! action! function! op! routine!] args [block!] /all /safer]"},
    {"lesser?", type::native, lesser_slot + 1, "[a b]"},
    {"equal?", type::native, equal_slot + 1, "[a b]"},
    {"next", type::action, action::next, "[series]"},
    {"index?", type::action, action::index_q, "[series]"},
    {"copy", type::action, action::copy, "[value /part length [integer!] /deep /types kind]"},
};

struct Loops : KelSource {
    std::span<const NativeSpec> natives_used() const override { return specs; }
};

}  // namespace

TEST_F(Loops, ForeachOverBlocks) {
    check({
        {"s: 0 foreach x [1 2 3] [s: s + x] s", "6"},
        {"foreach x [1 2 3] [x * 10]", "30"},  // the last value of the body
        {"foreach x [] [1]", "unset"},         // the body never ran
        {"foreach x next [1 2 3] [x]", "3"},   // from the series' position
        {"foreach x [1 2 3] [] x", "3"},       // the word is set in its own context
        {"foreach [a b] [1 2 3 4] [a * b]", "12"},
        {"foreach [a b] [1 2 3] [b]", "none"},  // past the tail: none
        {"n: 0 foreach [a b c] [1 2 3 4 5] [n: n + 1] n", "2"},
        {"foreach [a: :b] [1 2] [a + b]", "3"},  // any word type names a word
        {"x: 0 f: function [] [foreach x [7 8] [] x] f", "8"},
        {"x: 0 f: function [] [foreach x [7 8] [] x] f x", "0"},  // local when the function collects it
        {"b: [1 2 3] n: 0 foreach x b [n: n + 1] n", "3"},
    });
}

TEST_F(Loops, ForeachOverText) {
    check({
        {"n: 0 foreach c \"abc\" [n: n + 1] n", "3"},
        {"n: 0 foreach [a b] \"abc\" [n: n + 1] n", "2"},
        {"foreach [a b] \"abc\" [b]", "none"},
        {"foreach c \"\" [1]", "unset"},
    });
}

TEST_F(Loops, ForeachErrors) {
    check({
        {"foreach [] [1 2] [1]", "error: invalid-arg"},
        {"foreach [a 1] [1 2] [1]", "error: invalid-arg"},
        {"foreach x [1 2] [undefined-word]", "error: no-value"},
    });
}

// break ends the loop with its value (unset without one), continue goes on
// with the next step; other exits pass through to their receivers.
TEST_F(Loops, ExitsInLoops) {
    check({
        {"foreach x [1 2 3] [if x = 2 [break]]", "unset"},
        {"foreach x [1 2 3] [if x = 2 [break/return x * 10] x]", "20"},
        {"s: 0 foreach x [1 2 3] [if x = 2 [continue] s: s + x] s", "4"},
        {"foreach x [1 2 3] [if x = 3 [continue] x]", "unset"},
        {"s: 0 foreach x [1 2] [foreach y [1 2 3] [if y = 2 [break] s: s + 1]] s", "2"},
        {"catch [foreach x [1 2 3] [if x = 2 [throw x * 100]]]", "200"},
        {"f: func [] [foreach x [1 2 3] [if x = 2 [return x]] 0] f", "2"},
        {"b: [1 2 3] forall b [if b/1 = 2 [break/return 7]]", "7"},
        {"s: 0 b: [1 2 3] forall b [if b/1 = 2 [continue] s: s + b/1] s", "4"},
        {"remove-each x [1 2 3] [if x = 2 [break] true]", "[2 3]"},  // the series, as far as it got
        {"remove-each x [1 2 3] [if x = 2 [break/return 9] true]", "9"},
        {"remove-each x [1 2 3] [if x = 2 [continue] true]", "[2]"},  // continue keeps the element
    });
}

TEST_F(Loops, Forall) {
    check({
        {"b: [1 2 3] s: 0 forall b [s: s + b/1] s", "6"},
        {"b: [1 2 3] s: 0 forall b [s: s + index? b] s", "6"},  // the word moves along
        {"b: [1 2 3] forall b [b/1 * 10]", "30"},
        {"b: next [1 2 3] forall b [] index? b", "2"},  // and is put back at the end
        {"b: [1 2 3] forall b [if b/1 = 2 [break]] index? b", "1"},
        {"b: [1 2 3 4 5] n: 0 forall b [n: n + 1 b: next b] n", "3"},  // the body may move it
        {"b: [] forall b [1]", "unset"},
        {"s: \"abc\" n: 0 forall s [n: n + 1] n", "3"},
        {"b: [1 2] forall b [b: [3 4]]", "error: bad-loop-series"},
        {"b: [1 2] forall b [b: 5]", "error: bad-loop-series"},
        {"b: 5 forall b [1]", "error: expect-arg"},
    });
    EXPECT_EQ(eval("b: 5 forall b [1]"), "error: expect-arg");
    EXPECT_EQ(symbol::name(error::pending.args[0].payload2), "forall");
    EXPECT_EQ(symbol::name(error::pending.args[2].payload2), "word");
}

TEST_F(Loops, RemoveEach) {
    check({
        {"remove-each x [1 2 3 4] [x < 3]", "[3 4]"},
        {"b: [1 2 3 4] remove-each x b [x = 2] b", "[1 3 4]"},
        {"remove-each x [1 2 3] [none]", "[1 2 3]"},
        {"remove-each x [1 2] [true]", "[]"},
        {"remove-each x [1 2 1 1 3] [x = 1]", "[2 3]"},  // adjacent removals skip nothing
        {"remove-each [a b] [1 2 3 4 5 6] [a = 3]", "[1 2 5 6]"},
        {"remove-each [a b] [1 2 3] [a = 3]", "[1 2]"},  // a short last group
        {"b: [1 2 3] remove-each x next b [true] b", "[1]"},
        {"b: [1 2 3] remove-each x next b [true]", "[]"},  // the series at its own position
        {"n: 0 s: \"abcd\" remove-each c s [n: n + 1 n = 2] s", "\"acd\""},
        {"remove-each [] [1] [true]", "error: invalid-arg"},
    });
}

TEST_F(Loops, ApplyByRefinementWords) {
    define("f", run(action::make, {type_cell(type::function), load1("[[a /r b] [either r [a + b] [a]]]")}));
    check({
        {"apply :f [1 + 1]", "2"},  // arguments are evaluated
        {"apply 'f [1]", "1"},
        {"apply :f [1 /r true 2]", "3"},
        {"apply :f [1 /r 1 = 1 2 * 5]", "11"},
        {"apply :f [1 /r false 2]", "1"},
        {"apply :f [1 /r]", "1"},   // a refinement with no truth value is inactive
        {"apply :f []", "none"},    // a missing argument is none
        {"n: 0 apply :f [1 /r false (n: 5)] n", "5"},  // an inactive refinement's arguments are evaluated
        {"n: 0 apply/safer :f [1 /r false (n: 5)] n", "0"},  // or skipped with /safer
        {"x: 4 apply/safer :f [x /r true x]", "8"},
        {"apply/safer :f [1 /r true 1 + 1]", "error: invalid-arg"},  // one value per argument
        {"apply :copy [[1 2 3] /part true 2]", "[1 2]"},
        {"apply :copy [[1 2 3] /part false 2]", "[1 2 3]"},
        {"apply :copy [[1 2 3] /deep true /part true 1]", "[1]"},  // in any order
        {"apply :+ [1 2]", "3"},  // an op as the function it wraps
        {"apply :loop [2 [5]]", "5"},
    });
}

TEST_F(Loops, ApplyAll) {
    define("f", run(action::make, {type_cell(type::function), load1("[[a /r b /s] [either r [a + b] [either s [0] [a]]]]")}));
    check({
        {"apply/all :f [1 true 2 false]", "3"},
        {"apply/all :f [1 false 2 true]", "0"},
        {"apply/all :f [1]", "1"},  // tail-completed with false and none
        {"n: 0 apply/all :f [1 false n: 5 false] n", "5"},
        {"n: 0 apply/all/safer :f [1 false (n: 5) false] n", "0"},
        {"apply/all :copy [[1 2 3] true 2]", "[1 2]"},
        {"apply/all :copy [[1 2 3] false 2 false false none]", "[1 2 3]"},
        {"apply/all :f [1 false 2 /s]", "0"},  // a refinement! is only a value here, and truthy
    });
}

TEST_F(Loops, ApplyErrorsAndExits) {
    define("f", run(action::make, {type_cell(type::function), load1("[[a /r b] [a]]")}));
    check({
        {"x: 5 apply 'x []", "error: invalid-arg"},
        {"apply 'undefined-word []", "error: invalid-arg"},
        {"apply :f [1 2]", "error: invalid-arg"},  // a value left over
        {"apply :f [1 /q true]", "error: no-refine"},
        {"apply :f [1 /r true 2 /r true 3]", "error: dup-refine"},
        {"apply :if [true 1]", "error: expect-arg"},
        {"apply :if [true]", "error: expect-arg"},  // none is not a block!
        {"apply :copy [[1] /part true [2]]", "error: expect-arg"},
        {"h: func [] [return 3 4] apply :h []", "3"},
        {"loop 2 [apply :break [/return true 6]]", "6"},
        {"catch [apply 'throw [5]]", "5"},
        {"f: func [] [apply :return [7] 0] f", "7"},
    });
}

// A collection at every allocation: every value the loops hold must be
// reachable from the stacks.
TEST_F(Loops, UnderCollectionAtEveryAllocation) {
    test::StressMode stress(true);  // the collector enabled too: stress alone does not collect
    check({
        {"foreach [a b] [1 2 3] [compose [(a) (b)]]", "[3 none]"},
        {"b: compose [(1) (2)] forall b [compose [(b/1)]]", "[2]"},
        {"remove-each x compose [(1) (2) (3)] [x = 2]", "[1 3]"},
        {"f: function [a /r b] [c: compose [(a) (b)] c] apply :f [1 /r true compose [(2)]]", "[1 2]"},
        {"apply/all :copy [compose [(1) (2)] true 1]", "[1]"},
    });
}
