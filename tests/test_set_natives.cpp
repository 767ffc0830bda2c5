// The data set, case, coercion and base-N natives as Kel code: each case
// is a line of source compared by its molded result or the error it raises.
#include <gtest/gtest.h>

#include "tests/support/kel_source.hpp"

using namespace kel;
using namespace kel::test;

namespace {

const NativeSpec specs[] = {
    {"union", type::native, 41, "[set1 set2 /case /skip size]"},
    {"intersect", type::native, 42, "[set1 set2 /case /skip size]"},
    {"unique", type::native, 43, "[set /case /skip size]"},
    {"difference", type::native, 44, "[set1 set2 /case /skip size]"},
    {"exclude", type::native, 45, "[set1 set2 /case /skip size]"},
    {"complement?", type::native, 46, "[bits]"},
    {"dehex", type::native, 47, "[value]"},
    {"enhex", type::native, 48, "[value]"},
    {"uppercase", type::native, 71, "[string /part limit]"},
    {"lowercase", type::native, 72, "[string /part limit]"},
    {"debase", type::native, 84, "[value /base base-value]"},
    {"enbase", type::native, 91, "[value /base base-value]"},
    {"as", type::native, 98, "[type spec]"},
    {"make", type::action, action::make, "[type spec]"},
    {"complement", type::action, action::complement, "[value]"},
    {"append", type::action, action::append, "[series value /part length /only /dup count]"},
    {"next", type::action, action::next, "[series]"},
    {"type?", type::native, 34, "[value /word]"},
};

struct SetNatives : KelSource {
    std::span<const NativeSpec> natives_used() const override { return specs; }
};

}  // namespace

TEST_F(SetNatives, SetsByType) {
    check({
        {"union [1 2 3] [3 4 1]", "[1 2 3 4]"},
        {"intersect [1 2 3] [2 3 4]", "[2 3]"},
        {"unique [1 2 1 3 2]", "[1 2 3]"},
        {"difference [1 2 3] [2 3 4]", "[1 4]"},
        {"exclude [1 2 3] [2]", "[1 3]"},
        {"union [1 2] make hash! [2 5]", "make hash! [1 2 5]"},  // one family
        {"union make hash! [1] [2]", "make hash! [1 2]"},
        {"union/skip [a 1 b 2] [a 3 c 4] 2", "[a 1 b 2 c 4]"},
        {"unique \"aAbB\"", "\"ab\""},
        {"unique/case \"aAbB\"", "\"aAbB\""},
        {"union \"abc\" \"cde\"", "\"abcde\""},
        {"exclude \"abc\" \"B\"", "\"ac\""},
        {"difference \"abc\" \"bcd\"", "\"ad\""},
        {"union make bitset! \"a\" make bitset! \"b\"", "make bitset! #{00000000000000000000000060}"},
        {"intersect make bitset! \"ab\" make bitset! \"b\"", "make bitset! #{00000000000000000000000020}"},
        {"exclude make bitset! \"ab\" make bitset! \"b\"", "make bitset! #{00000000000000000000000040}"},
        {"union make typeset! [integer!] make typeset! [float!]", "make typeset! [integer! float!]"},
        {"difference make typeset! [integer! float!] make typeset! [float! char!]",
         "make typeset! [char! integer!]"},
        {"(difference 2-Jan-2020/10:00 1-Jan-2020/6:00) = 28:00", "true"},
        {"(difference 1-Jan-2020/0:00+2:00 1-Jan-2020/0:00) = -2:00", "true"},  // instants, zones included
    });
}

TEST_F(SetNatives, SetErrors) {
    check({
        {"union [1] \"a\"", "error: expect-val"},
        {"exclude \"a\" [1]", "error: expect-val"},
        {"union make bitset! \"a\" make typeset! [integer!]", "error: expect-val"},
        {"union 2-Jan-2020 1-Jan-2020", "error: expect-arg"},  // dates only for difference
        {"union 1 2", "error: expect-arg"},
        {"unique make bitset! \"a\"", "error: expect-arg"},
        {"unique/skip [1 2] 0", "error: invalid-refine-arg"},
        {"complement? [1]", "error: expect-arg"},
    });
}

TEST_F(SetNatives, ComplementFlag) {
    check({
        {"complement? make bitset! \"a\"", "false"},
        {"complement? complement make bitset! \"a\"", "true"},
        {"complement? make bitset! [not \"a\"]", "true"},
    });
}

TEST_F(SetNatives, UrlEscapes) {
    check({
        {"dehex \"a%20b%41\"", "\"a bA\""},
        {"dehex \"%C3%A9t%C3\"", "\"ét%C3\""},      // a lead byte without its continuation stays
        {"dehex \"%E2%82%AC\"", "\"€\""},           // a character beyond one byte
        {"dehex \"%A9 %4\"", "\"© %4\""},            // an escaped single byte is that code point
        {"dehex next \"x%41\"", "\"A\""},
        {"enhex \"a b/é~\"", "\"a%20b%2F%C3%A9~\""},  // a string! escapes the separators
        {"enhex as url! \"a/b c?d=1\"", "\"a/b%20c?d=1\""},
        {"enhex \"%\"", "\"%25\""},
        {"dehex enhex \"x/€ 1\"", "\"x/€ 1\""},
        {"dehex 1", "error: expect-arg"},
    });
}

TEST_F(SetNatives, CaseInPlace) {
    check({
        {"uppercase \"abc\"", "\"ABC\""},
        {"lowercase \"ÀÉ Z\"", "\"àé z\""},
        {"uppercase/part \"abcd\" 2", "\"ABcd\""},
        {"s: \"abcd\" uppercase/part s next next s", "\"ABcd\""},
        {"s: \"abc\" uppercase next s s", "\"aBC\""},  // changed in place, from the index
        {"uppercase #\"ß\"", "#\"ß\""},
        {"lowercase #\"Q\"", "#\"q\""},
        {"uppercase 1", "error: expect-arg"},
    });
}

TEST_F(SetNatives, BaseText) {
    check({
        {"debase \"SGVsbG8=\"", "#{48656C6C6F}"},
        {"debase/base \"48 65 6c\" 16", "#{48656C}"},
        {"debase/base \"01000001\" 2", "#{41}"},
        {"debase/base \"2NEpo7TZRRrLZSi2U\" 58", "#{48656C6C6F20576F726C6421}"},
        {"debase next \"xQUJD\"", "#{414243}"},
        {"debase \"Q===\"", "none"},  // invalid text gives none
        {"debase/base \"0100000\" 2", "none"},
        {"debase/base \"4G\" 16", "none"},
        {"debase/base \"SGVs\" 32", "error: invalid-arg"},
        {"debase/base \"SGVs\" \"64\"", "error: invalid-arg"},
        {"enbase \"Hello\"", "\"SGVsbG8=\""},
        {"enbase \"é\"", "\"w6k=\""},  // a string's UTF-8 bytes
        {"enbase/base #{00FF} 16", "\"00FF\""},
        {"enbase/base #{0000287FB4CD} 58", "\"11233QC4\""},
        {"enbase/base #{A5} 2", "\"10100101\""},
        {"enbase/base next #{0102} 16", "\"02\""},
        {"enbase/base #{01} 8", "error: invalid-arg"},
        {"enbase 1", "error: expect-arg"},
        {"debase enbase/base \"round trip\" 64", "#{726F756E642074726970}"},
    });
}

TEST_F(SetNatives, Coercion) {
    check({
        {"type? as file! \"abc\"", "file!"},
        {"s: \"ab\" t: as tag! s append t \"c\" s", "\"abc\""},  // the same series
        {"s: next \"abc\" as tag! s", "<bc>"},                   // and the same index
        {"as [] 'a/b", "[a b]"},
        {"as paren! [a b]", "(a b)"},
        {"as path! [a b]", "a/b"},
        {"as \"\" as url! \"x\"", "\"x\""},
        {"as block! \"abc\"", "error: not-same-class"},
        {"as string! [a]", "error: not-same-class"},
        {"as hash! [a]", "error: not-same-class"},
        {"as integer! [a]", "error: not-same-class"},
    });
}
