// parse: matching, repetition and backtracking, the keywords that build or
// change values, the trace callback, and the stacks after errors and nested
// runs. Cases run as Kel source in the booted environment.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "environment/boot.hpp"
#include "runtime/error.hpp"
#include "runtime/stack.hpp"
#include "runtime/throws.hpp"
#include "tests/support/child.hpp"
#include "tests/support/environment.hpp"
#include "tests/support/values.hpp"

using namespace kel;

namespace {

struct Parse : test::WithEnvironment<> {
    // The molded result of the source, or "error: id".
    std::string run(const std::string& src) {
        std::string out;
        uint32_t code = throws::protect(throws::error, [&] {
            if (environment::run_text(src.data(), src.size())) {
                out = "exit";
                return;
            }
            out = test::mold(*stack::last());
        });
        if (code) return std::string("error: ") + (error::pending.id ? error::pending.id : "?");
        return out;
    }

    struct Case {
        const char* source;
        const char* expected;
    };
    void check(std::initializer_list<Case> cases) {
        for (const Case& c : cases) EXPECT_EQ(run(c.source), c.expected) << c.source;
    }
};

TEST_F(Parse, MatchingAndBacktracking) {
    check({
        {"parse \"abc\" [\"a\" \"b\" \"c\"]", "true"},
        {"parse \"abc\" [\"a\" \"b\"]", "false"},  // the input must be used up
        {"parse \"\" []", "true"},
        {"parse \"a\" []", "false"},
        {"parse \"b\" [\"a\" | \"b\"]", "true"},  // the second alternative starts where the block did
        {"parse \"ab\" [[\"a\" \"x\" | \"a\" \"b\"]]", "true"},
        {"parse \"a\" [fail | \"a\"]", "true"},
        {"parse \"ab\" [reject | \"ab\"]", "false"},
        {"parse \"aBc\" [\"a\" \"b\" \"c\"]", "true"},
        {"parse/case \"aBc\" [\"a\" \"b\" \"c\"]", "false"},
        {"parse \"ab\" [case none \"A\" \"b\"]", "true"},
        {"parse \"aB\" [\"A\" case true \"b\"]", "false"},
        {"parse [a] ['A]", "true"},
        {"parse/case [a] ['A]", "false"},
        {"parse [a 1 \"s\"] [word! integer! string!]", "true"},
        {"parse [a 1] [word! number!]", "true"},
        {"parse [x] [quote x]", "true"},
        {"parse [a/b] ['a/b]", "true"},
        {"parse \"abc\" [skip m: to end :m \"bc\"]", "true"},
        {"parse \"abc\" [if (false) \"abc\" | \"abc\"]", "true"},
        {"parse \"x\" [not end skip]", "true"},
        {"parse \"abc\" [ahead \"ab\" \"abc\"]", "true"},
        {"parse \"abc\" [\"a\" not \"x\" \"bc\"]", "true"},
        {"cs: make bitset! \"abc\" parse \"abc\" [some cs]", "true"},
        {"parse \"\" [\"\"]", "true"},  // an empty string matches without moving
        {"parse [a [b \"cd\"]] ['a into ['b into [\"c\" \"d\"]]]", "true"},
        {"parse [a [b c]] ['a into ['b]]", "false"},  // the nested series must be used up
        {"parse \"a\" [into [\"a\"]]", "error: parse-block"},
    });
}

TEST_F(Parse, Repetition) {
    check({
        {"parse \"aaab\" [any \"a\"]", "false"},
        {"parse \"aaab\" [some \"a\" \"b\"]", "true"},
        {"parse \"\" [any \"a\"]", "true"},
        {"parse \"\" [opt \"x\"]", "true"},
        {"parse \"b\" [some \"a\" \"b\"]", "false"},
        {"parse \"\" [any []]", "true"},  // no progress ends the loop
        {"parse \"abab\" [any [\"ab\"]]", "true"},
        {"parse \"abab\" [some [\"a\" \"b\"]]", "true"},
        {"parse \"aa\" [2 3 \"a\"]", "true"},
        {"parse \"aaa\" [2 3 \"a\"]", "true"},
        {"parse \"a\" [2 3 \"a\"]", "false"},
        {"parse \"aaaa\" [2 3 \"a\"]", "false"},
        {"parse \"aa\" [2 [\"a\"]]", "true"},
        {"parse \"\" [0 \"a\"]", "true"},  // the rule is not tried
        {"n: 2 parse \"aa\" [1 n \"a\"]", "true"},
        {"parse \"a\" [-1 \"a\"]", "error: out-of-range"},
        {"parse \"a\" [3 2 \"a\"]", "error: parse-rule"},
        {"parse \"a\" [2]", "error: parse-rule"},
        {"parse \"aaa\" [some [\"a\" break] \"aa\"]", "true"},
        {"parse \"ab\" [while \"a\" \"b\"]", "true"},
        {"n: 0 parse \"ab\" [some [skip (n: n + 1)]] n", "2"},
        {"parse \"aaa\" [some #\"a\" end]", "true"},
        // a pass that matched nothing counts as every pass still to come
        {"parse \"\" [2 opt \"a\"]", "true"},
        // a zero count skips the whole rule, keyword and all
        {"parse \"ba\" [0 0 any \"b\" \"ba\"]", "true"},
        // a failed pass gives back what it matched
        {"parse \"ab\" [any 2 \"a\" \"ab\"]", "true"},
        {"parse \"ab\" [opt [\"a\" \"x\"] \"ab\"]", "true"},
    });
}

TEST_F(Parse, ToAndThru) {
    check({
        {"parse \"abcd\" [to \"c\" \"cd\"]", "true"},
        {"parse \"abcd\" [thru \"c\" \"d\"]", "true"},
        {"parse \"abcd\" [to end]", "true"},
        {"parse \"abcd\" [thru end]", "true"},
        {"parse \"abcd\" [to \"x\" to end]", "false"},
        {"parse \"aXbX\" [some [to \"X\" skip]]", "true"},
        {"parse \"abcabd\" [thru [\"c\" | \"d\"] thru [\"c\" | \"d\"]]", "true"},
        {"parse \"abc\" [to [\"b\" | \"c\"] \"bc\"]", "true"},
        {"parse [1 a 2] [to word! 'a integer!]", "true"},
        {"parse #{010203} [thru #{02} #{03}]", "true"},
        {"parse #{010203} [to 2.5]", "error: parse-rule"},
    });
}

TEST_F(Parse, BinaryInput) {
    check({
        {"parse #{616263} [\"ab\" #\"c\"]", "true"},
        {"cs: make bitset! \"ab\" parse #{6162} [some cs]", "true"},
        {"parse to binary! \"12 \" [integer! skip]", "true"},
        {"parse to binary! \"é\" [\"é\"]", "true"},  // text matches its UTF-8 bytes
        {"parse \"12\" [integer!]", "error: parse-unsupported"},
        {"parse #{0102} [set b skip skip] b", "1"},
    });
}

TEST_F(Parse, CopySetCollectKeep) {
    check({
        {"parse \"ab\" [set x skip skip] x", "#\"a\""},
        {"x: 0 parse \"ab\" [set x opt \"z\" \"ab\"] x", "none"},
        {"parse \"ab\" [copy x to end] x", "\"ab\""},
        {"parse [1 2] [copy c 2 integer!] c", "[1 2]"},
        {"x: 0 parse \"ab\" [copy x \"z\" | \"ab\"] x", "0"},  // a failed rule sets nothing
        {"parse \"abc\" [collect [keep skip keep skip]]", "[#\"a\" #\"b\"]"},
        {"parse [1 2 3] [collect set b [some keep integer!]] b", "[1 2 3]"},
        {"parse \"ab\" [collect [keep pick \"ab\"]]", "[#\"a\" #\"b\"]"},
        {"parse \"ab\" [collect [keep \"ab\"]]", "[\"ab\"]"},
        {"parse \"abc\" [collect [keep copy x 2 skip]]", "[\"ab\"]"},
        {"parse \"ab\" [collect [keep (1 + 2) keep pick ([4 5]) to end]]", "[3 4 5]"},
        {"parse \"ab\" [collect [keep ([4 5]) to end]]", "[[4 5]]"},
        {"parse \"ab\" [collect [keep (append copy \"x\" \"y\") keep pick (reduce [1 2]) to end]]",
         "[\"xy\" 1 2]"},
        {"parse \"ab\" [collect [collect [keep skip] keep skip]]", "[[#\"a\"] #\"b\"]"},
        {"b: copy [] parse [1 2] [collect after b [some keep integer!]] b", "[1 2]"},
        {"b: copy [0] parse [1 2] [collect into b [some keep integer!]] b", "[1 2 0]"},
        {"s: copy \"\" parse \"abc\" [collect into s [keep to end]] s", "\"abc\""},
        {"s: copy \"\" parse [a] [collect into s [keep skip]]", "error: parse-into-type"},
        {"s: \"ab\" parse s [collect into s [keep skip]]", "error: parse-into-bad"},
        {"parse \"a\" [keep skip]", "error: parse-keep"},
        {"parse \"a\" [copy]", "error: parse-end"},
        {"parse \"a\" [copy x]", "error: parse-end"},
    });
}

TEST_F(Parse, ChangingTheInput) {
    check({
        {"s: \"ab\" reduce [parse s [remove \"a\" \"b\"] s]", "[true \"b\"]"},
        {"s: \"ab\" reduce [parse s [change \"a\" \"xy\" \"b\"] s]", "[true \"xyb\"]"},
        {"s: \"ab\" reduce [parse s [insert \"x\" \"ab\"] s]", "[true \"xab\"]"},
        {"s: \"abc\" parse s [skip p: \"bc\" remove p] s", "\"a\""},
        {"s: \"abc\" parse s [skip p: \"bc\" change p \"X\"] s", "\"aX\""},
        {"s: \"abc\" parse s [\"a\" p: \"bc\" insert p \"-\"] s", "\"a-bc\""},
        {"b: [1 2] reduce [parse b [change integer! (10 * 2) integer!] b]", "[true [20 2]]"},
        {"b: [1] reduce [parse b [insert only [x] integer!] b]", "[true [[x] 1]]"},
        // values made by a paren live through the edit (a collection may run meanwhile)
        {"b: [1 2] parse b [change integer! (append copy \"new\" \"er\") insert (copy [x]) to end] b",
         "[\"newer\" x 2]"},
        {"s: \"abc\" parse s [skip p: to end (remove p)] s", "\"ac\""},  // a paren may shorten the input
        {"parse \"a\" [change]", "error: parse-rule"},
        {"parse \"a\" [remove]", "error: parse-end"},
    });
}

TEST_F(Parse, PartLimit) {
    check({
        {"parse/part \"abc\" [\"ab\"] 2", "true"},
        {"parse/part \"abc\" [\"abc\"] 2", "false"},
        {"parse/part \"abc\" [to end] 2", "true"},
        {"s: \"abc\" parse/part s [\"ab\"] skip s 2", "true"},
        {"parse/part \"\" [] 0", "true"},
        {"parse/part \"a\" [\"a\"] 0", "false"},
        {"parse/part \"abc\" [\"ab\"] \"xy\"", "error: invalid-refine-arg"},
    });
}

TEST_F(Parse, TraceCallback) {
    check({
        {"events: copy [] parse/trace \"a\" [\"a\"] func [e m r i s] [append events e true] events",
         "[push fetch match pop end]"},
        {"events: copy [] parse/trace \"aa\" [some \"a\"] func [e m r i s] [append events e true] events",
         "[push fetch push match pop pop end]"},
        // false at the first push ends the run with the flag as it stood
        {"parse/trace \"a\" [\"x\"] func [e m r i s] [false]", "true"},
        {"n: 0 reduce [parse/trace \"ab\" [\"a\" \"b\"] func [e m r i s] [n: n + 1 e <> 'match] n]", "[true 3]"},
        {"last-stack: none parse/trace \"a\" [[\"a\"]] func [e m r i s] [if e = 'match [last-stack: length? s] true] "
         "last-stack",
         "6"},
    });
}

TEST_F(Parse, StacksStayCleanAfterErrorsAndNestedRuns) {
    check({
        {"parse \"a\" [(parse \"b\" [\"b\"]) \"a\"]", "true"},
        {"parse \"a\" [(r: parse \"b\" [\"x\"]) \"a\"] r", "false"},
        {"r: [r] parse \"a\" r", "error: parse-stack"},
        {"parse \"a\" [\"a\"]", "true"},  // nothing left behind by the error
        {"parse \"a\" [(1 / 0)]", "error: zero-divide"},
        {"parse/trace \"a\" [\"a\"] func [e m r i s] [1 / 0]", "error: zero-divide"},
        {"parse \"a\" [some]", "error: parse-end"},
        {"parse \"a\" [to]", "error: parse-end"},
        {"parse \"a\" [a/b]", "error: parse-rule"},
        {"parse \"a\" [undefined-rule-word]", "error: parse-rule"},
        {"parse \"a\" [:x]", "error: parse-invalid-ref"},
        {"events: copy [] parse/trace \"a\" [\"a\"] func [e m r i s] [append events length? s true] events",
         "[3 3 3 3 3]"},
        {"f: func [] [loop 1 [parse \"a\" [(return 5)]] 6] f", "5"},  // an exit passes through
        {"parse \"a\" [\"a\"]", "true"},
    });
}

#ifndef _WIN32
// Random rules of literals, sequences, alternatives and repetitions against
// Python's re, where atomic groups and possessive quantifiers give back
// nothing they matched, as parse does.
TEST_F(Parse, AgreesWithPythonRe) {
    std::string here = __FILE__;
    std::string script = here.substr(0, here.find_last_of('/') + 1) + "oracles/parse_oracle.py";
    test::ChildResult r = test::run_child("/usr/bin/env", {"python3", script, "11", "1500"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream lines(r.out);
    int cases = 0;
    for (std::string line; std::getline(lines, line); ++cases) {
        size_t tab1 = line.find('\t'), tab2 = line.rfind('\t');
        std::string rules = line.substr(0, tab1), input = line.substr(tab1 + 1, tab2 - tab1 - 1);
        std::string expected = line.substr(tab2 + 1) == "1" ? "true" : "false";
        EXPECT_EQ(run("parse \"" + input + "\" " + rules), expected) << line;
    }
    EXPECT_EQ(cases, 1500);
}
#endif

}  // namespace
