// string! and the text types as Kel code: each case is a line of source
// evaluated under a try frame and compared by its molded result (or the id
// of the error it raises).
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>

#include "runtime/case_folding.hpp"
#include "runtime/datatypes/issue.hpp"
#include "runtime/datatypes/string.hpp"
#include "tests/support/child.hpp"
#include "tests/support/kel_source.hpp"

using namespace kel;
using namespace kel::test;

namespace {

template <int Op>
uint32_t set_op_native(const Call& c) {
    string::do_set_op(stack::args, Op == 8 ? nullptr : stack::args + 1, c.refs[0] >= 0,
                      c.refs[1] >= 0 ? stack::args + c.refs[1] : nullptr, Op);
    stack::keep();
    return 0;
}
constexpr uint32_t unique_slot = 114, union_slot = 115, intersect_slot = 116, exclude_slot = 117,
                   difference_slot = 118;

const NativeSpec specs[] = {
    {"func", type::native, 14, "[spec [block!] body [block!]]"},
    {"reduce", type::native, 35, "[value [any-type!] /into out [block!]]"},
    {"make", type::action, action::make, "[type spec]"},
    {"to", type::action, action::to, "[type spec]"},
    {"form", type::action, action::form, "[value /part limit]"},
    {"mold", type::action, action::mold, "[value /only /all /flat /part limit]"},
    {"head", type::action, action::head, "[series]"},
    {"next", type::action, action::next, "[series]"},
    {"back", type::action, action::back, "[series]"},
    {"tail", type::action, action::tail, "[series]"},
    {"at", type::action, action::at, "[series index]"},
    {"copy", type::action, action::copy, "[value /part length /deep /types kind]"},
    {"pick", type::action, action::pick, "[series index]"},
    {"poke", type::action, action::poke, "[series index value]"},
    {"find", type::action, action::find,
     "[series value /part length /only /case /same /any /with wild /skip size /last /reverse /tail /match]"},
    {"select", type::action, action::select,
     "[series value /part length /only /case /same /any /with wild /skip size /last /reverse]"},
    {"append", type::action, action::append, "[series value /part length /only /dup count]"},
    {"insert", type::action, action::insert, "[series value /part length /only /dup count]"},
    {"change", type::action, action::change, "[series value /part range /only /dup count]"},
    {"remove", type::action, action::remove, "[series /part length /key key-arg]"},
    {"reverse", type::action, action::reverse, "[series /part length /skip size]"},
    {"take", type::action, action::take, "[series /part length /deep /last]"},
    {"move", type::action, action::move, "[origin target /part length]"},
    {"swap", type::action, action::swap, "[series1 series2]"},
    {"trim", type::action, action::trim, "[series /head /tail /auto /lines /all /with str]"},
    {"sort", type::action, action::sort,
     "[series /case /skip size /compare comparator /part length /all /reverse /stable]"},
    {"length?", type::action, action::length_q, "[series]"},
    {"equal?", type::native, equal_slot + 1, "[a b]"},
    {"unique", type::native, unique_slot + 1, "[set /case /skip size]"},
    {"union", type::native, union_slot + 1, "[set1 set2 /case /skip size]"},
    {"intersect", type::native, intersect_slot + 1, "[set1 set2 /case /skip size]"},
    {"exclude", type::native, exclude_slot + 1, "[set1 set2 /case /skip size]"},
    {"difference", type::native, difference_slot + 1, "[set1 set2 /case /skip size]"},
};

struct Strings : KelSource {
    std::span<const NativeSpec> natives_used() const override { return specs; }
    void SetUp() override {
        natives::table[unique_slot] = set_op_native<8>;
        natives::table[union_slot] = set_op_native<9>;
        natives::table[intersect_slot] = set_op_native<10>;
        natives::table[exclude_slot] = set_op_native<11>;
        natives::table[difference_slot] = set_op_native<12>;
        KelSource::SetUp();
    }
    void TearDown() override {
        for (uint32_t s : {unique_slot, union_slot, intersect_slot, exclude_slot, difference_slot})
            natives::table[s] = nullptr;
        KelSource::TearDown();
    }
};

}  // namespace

TEST_F(Strings, MakeAndTo) {
    check({
        {"make string! 10", "\"\""},
        {"make string! 2.0", "\"\""},
        {"make string! -1", "error: out-of-range"},
        {"to string! [a 1 \"b\"]", "\"a1b\""},
        {"to string! /foo", "\"foo\""},
        {"to file! /foo", "%/foo"},  // file! takes string!'s to
        {"to string! 12", "\"12\""},
        {"to string! #\"x\"", "\"x\""},
        {"to string! next \"abc\"", "\"bc\""},
        {"to string! none", "error: bad-to-arg"},
        {"to tag! \"a b\"", "<a b>"},
        {"to email! \"a@b\"", "a@b"},
        {"to ref! \"x\"", "@x"},
    });
}

TEST_F(Strings, MoldAndForm) {
    check({
        {"mold \"abc\"", "{\"abc\"}"},
        {"form \"abc\"", "\"abc\""},
        {"mold next \"abc\"", "{\"bc\"}"},
        {"mold tail \"abc\"", "{\"\"}"},
        {"mold {a\"b}", "{{a\"b}}"},
        {"mold \"a^^b\"", "{\"a^^^^b\"}"},
        {"mold \"a^-b^/c\"", "{\"a^^-b^^/c\"}"},
        {"mold \"^(7F)^(1E)^(85)^(E9)\"", "{\"^^~^^(1E)^^(85)\u00e9\"}"},
        {"mold/all \"^(E9)\"", "{\"^^(E9)\"}"},
        {"mold {a{b}c\"}", "{{a{b}c\"}}"},
        {"mold {a^{b\"}", "{^{a^^{b\"}}"},
        {"mold \"a}{^\"\"", "{{a^^}^^{\"}}"},
        {"mold \"a^/b^/c^/\"", "\"{a^^/b^^/c^^/}\""},
        {"mold \"a^/b^/\"", "{\"a^^/b^^/\"}"},
        {"mold/part \"abcdef\" 3", "{\"ab}"},
        {"length? mold \"1234567890123456789012345678901234567890123456789\"", "51"},
        {"pick mold \"12345678901234567890123456789012345678901234567890\" 1", "#\"{\""},
        {"mold #\"a\"", "{#\"a\"}"},
        {"mold #\"^-\"", "{#\"^^-\"}"},
        {"mold #\"^^\"", "{#\"^^^^\"}"},
        {"mold #\"^\"\"", "{#\"^^\"\"}"},
        {"mold/all #\"^(E9)\"", "{#\"^^(E9)\"}"},
        {"form #\"a\"", "\"a\""},
        {"mold <a \"b\">", "{<a \"b\">}"},
        {"form <a>", "\"<a>\""},
        {"mold a@b.c", "\"a@b.c\""},
        {"mold @x", "\"@x\""},
        {"mold #abc", "\"#abc\""},
        {"form #abc", "\"abc\""},
    });
}

TEST_F(Strings, Compare) {
    check({
        {"\"abc\" = \"ABC\"", "true"},
        {"equal? \"abc\" \"abd\"", "false"},
        {"\"abc\" < \"abd\"", "true"},
        {"\"ab\" < \"abc\"", "true"},
        {"\"abc\" < \"ab\"", "false"},
        {"\"\" < \"a\"", "true"},
        {"\"a\" < \"\"", "false"},
        {"\"B\" < \"a\"", "false"},  // folded to upper case: B after A
        {"\"abc\" = next \"xabc\"", "true"},
        {"\"abc\" = <abc>", "true"},  // other text types are equal only under = and <>
        {"\"abc\" < <abd>", "error: invalid-compare"},
        {"\"\u00e9\" = \"\u00c9\"", "true"},
        {"\"\U00010400\" = \"\U00010428\"", "true"},
    });
}

TEST_F(Strings, FindAndSelect) {
    check({
        {"find \"abcabc\" \"bc\"", "\"bcabc\""},
        {"find \"abcabc\" \"BC\"", "\"bcabc\""},
        {"find/case \"abcabc\" \"BC\"", "none"},
        {"find \"abc\" #\"c\"", "\"c\""},
        {"find \"abc\" \"cd\"", "none"},
        {"find \"abc\" \"\"", "none"},
        {"find/tail \"abcabc\" \"bc\"", "\"abc\""},
        {"find/last \"abcabc\" \"bc\"", "\"bc\""},
        {"find/reverse tail \"abcabc\" \"ab\"", "\"abc\""},
        {"find/reverse \"abc\" \"a\"", "none"},
        {"find/match \"abc\" \"ab\"", "\"abc\""},
        {"find/match \"abc\" \"bc\"", "none"},
        {"find/match/tail \"abc\" \"ab\"", "\"c\""},
        {"find/part \"abcd\" \"cd\" 3", "none"},
        {"find/part \"abcd\" \"cd\" 4", "\"cd\""},
        {"find/part \"abcd\" \"a\" 0", "none"},
        {"s: \"abcd\" find/part s \"c\" at s 3", "none"},
        {"find/skip \"xbcabc\" \"a\" 3", "\"abc\""},
        {"find/skip \"abcd\" \"b\" 2", "none"},
        {"find/skip \"abc\" \"b\" 0", "error: out-of-range"},
        {"find/part \"abc\" \"b\" \"xy\"", "error: invalid-refine-arg"},
        {"find/any \"abc\" \"b\"", "error: not-done"},
        {"find \"a1 2b\" [1 2]", "\"1 2b\""},  // the block's formed text
        {"find/only \"a1 2b\" [1 2]", "\"1 2b\""},
        {"find \"a<b>c\" <b>", "\"<b>c\""},
        {"find \"a word here\" 'word", "\"word here\""},
        {"find tail \"abc\" \"c\"", "none"},
        {"find \"\" \"a\"", "none"},
        {"find \"x\U00010400y\" \"\U00010428\"", "\"\U00010400y\""},
        {"find/case \"x\U00010400y\" \"\U00010428\"", "none"},
        {"select \"abc\" \"ab\"", "#\"c\""},
        {"select \"abc\" #\"c\"", "none"},
        {"select/last \"abab\" \"a\"", "#\"b\""},
    });
}

TEST_F(Strings, AppendAndInsert) {
    check({
        {"append \"ab\" \"cd\"", "\"abcd\""},
        {"append next \"ab\" \"cd\"", "\"abcd\""},       // the head
        {"append \"ab\" #\"c\"", "\"abc\""},
        {"append \"ab\" <t>", "\"ab<t>\""},
        {"append/part \"\" <tag> 3", "\"<ta\""},
        {"append/dup \"a\" \"xy\" 3", "\"axyxyxy\""},
        {"append/dup \"a\" \"x\" 0", "\"a\""},
        {"append \"a\" [1 \"b\" c]", "\"a1bc\""},
        {"append/part \"\" [123 45] 1", "\"123\""},
        {"append/only/part \"\" [123 45] 4", "\"1234\""},
        {"append/only/part \"\" [123 45] 1", "\"1\""},
        {"append/part \"\" \"abcdef\" 2", "\"ab\""},
        {"append/part \"\" \"abcdef\" 99", "\"abcdef\""},
        {"append \"a\" 1.5", "\"a1.5\""},
        {"next append next \"ab\" \"\"", "\"\""},  // adding nothing leaves the series where it was
        {"append \"a\" \"\u00e9\U00010400\"", "\"a\u00e9\U00010400\""},
        {"insert \"cd\" \"ab\"", "\"cd\""},
        {"head insert \"cd\" \"ab\"", "\"abcd\""},
        {"head insert next \"ad\" \"bc\"", "\"abcd\""},
        {"head insert/dup next \"ad\" #\"x\" 3", "\"axxxd\""},
        {"head insert at \"abef\" 3 [123 45]", "\"ab12345ef\""},
        {"head insert/part at \"abef\" 3 [123 45] 4", "\"ab1234ef\""},
        {"head insert/only/part at \"abef\" 3 [123 45] 4", "\"ab1234ef\""},
        {"insert tail \"ab\" \"cd\"", "\"\""},
        {"head insert tail \"ab\" [1 2]", "\"ab12\""},
        {"head insert \"b\" \"\U00010400\"", "\"\U00010400b\""},
        {"insert/part \"\" 12 1", "error: invalid-part"},
        // A value from the string itself is added as it was before the change.
        {"s: \"abc\" append s s", "\"abcabc\""},
        {"s: \"abc\" head insert next s s", "\"aabcbc\""},
        {"s: \"abc\" head insert s next s", "\"bcabc\""},
        {"s: \"abc\" head insert/dup next s next s 2", "\"abcbcbc\""},
    });
}

TEST_F(Strings, Change) {
    check({
        {"change \"abcdef\" \"XY\"", "\"cdef\""},
        {"head change next \"abcdef\" \"XY\"", "\"aXYdef\""},
        {"change next \"abcdef\" \"XY\"", "\"def\""},
        {"change/part next \"abcdef\" \"XY\" 4", "\"f\""},
        {"head change/part next \"abcdef\" \"XY\" 4", "\"aXYf\""},
        {"head change/part \"abc\" \"XY\" 99", "\"XY\""},
        {"head change/part \"abc\" \"XY\" 0", "\"XYabc\""},
        {"head change tail \"ab\" \"cd\"", "\"abcd\""},
        {"change tail \"ab\" \"cd\"", "\"\""},
        {"head change/dup \"abcdef\" \"x\" 3", "\"xxxdef\""},
        {"head change \"abc\" [1 2]", "\"12c\""},
        {"head change/part \"abc\" [1 2] 1", "\"12bc\""},
        {"head change \"abc\" #\"\U00010400\"", "\"\U00010400bc\""},
        {"head change \"abc\" <t>", "\"<t>\""},
        {"s: \"abcdef\" head change/part at s 3 s 2", "\"ababcdefef\""},
        {"s: \"12345\" head change/part s at s 3 4", "\"3455\""},
        {"s: \"abc\" head change next s s", "\"aabc\""},
    });
}

TEST_F(Strings, RemoveTakeReverseMove) {
    check({
        {"remove \"abc\"", "\"bc\""},
        {"remove/part \"abc\" 9", "\"\""},
        {"remove tail \"abc\"", "\"\""},
        {"take \"abc\"", "#\"a\""},
        {"take/last \"abc\"", "#\"c\""},
        {"take \"\"", "none"},
        {"take/part \"abc\" 2", "\"ab\""},
        {"take/part \"abc\" 99", "\"abc\""},
        {"take/part \"abc\" 1", "\"a\""},
        {"take/part \"abc\" -1", "\"\""},  // nothing lies before the head
        {"take/part next \"abc\" -5", "\"a\""},
        {"take/last/part \"abc\" 2", "\"bc\""},
        {"s: \"a\u00e9\" take/part s 9", "\"a\u00e9\""},
        {"reverse \"abc\"", "\"cba\""},
        {"reverse/part \"abc\" 2", "\"bac\""},
        {"reverse/part \"abc\" 99", "\"cba\""},
        {"head reverse/part next \"abcd\" 99", "\"adcb\""},
        {"reverse/skip \"abcdef\" 2", "\"efcdab\""},
        {"reverse \"a\U00010400b\"", "\"b\U00010400a\""},
        {"s: \"abcd\" move s tail s s", "\"bcda\""},
        {"s: \"ab\" t: \"\u00e9\U00010400\" move/part s t 2 reduce [s t]", "[\"\" \"ab\u00e9\U00010400\"]"},
        {"s: \"\U00010400x\" t: \"ab\" move s next t reduce [s t]", "[\"x\" \"a\U00010400b\"]"},
        {"s: \"abc\" t: \"\" move/part s t 99 reduce [s t]", "[\"\" \"abc\"]"},
        {"s: \"abc\" t: [] move s t", "error: move-bad"},
    });
}

TEST_F(Strings, SwapAndTrim) {
    check({
        {"a: \"ab\" b: \"\U00010400\" swap a b reduce [a b]", "[\"\U00010400b\" \"a\"]"},
        {"swap \"ab\" 1", "error: invalid-arg"},
        {"a: \"ab\" swap a tail \"x\" a", "\"ab\""},
        {"trim \"  ab  cd  \"", "\"ab  cd\""},
        {"trim \" a ^/\"", "\"a^/\""},
        {"trim \"a  ^/  b\"", "\"a^/b\""},
        {"trim/head \"  a  \"", "\"a  \""},
        {"trim/tail \"  a  \"", "\"  a\""},
        {"trim/lines \" a ^/ b \"", "\"a b\""},
        {"trim/all \" a ^-b ^/c \"", "\"abc\""},
        {"trim/with \"abcabc\" \"ab\"", "\"cc\""},
        {"trim/with \"abc\" #\"b\"", "\"ac\""},
        {"trim/with \"abc\" 97", "\"bc\""},
        {"trim/with \"abc\" \"\"", "\"abc\""},
        {"trim/auto \"abc\"", "error: not-done"},
        {"head trim next \" a b \"", "\" a b\""},
        {"trim \"^(3000)a^(A0)\"", "\"a\""},
        {"trim <a>", "error: expect-arg"},
    });
}

TEST_F(Strings, Sort) {
    check({
        {"sort \"cab\"", "\"abc\""},
        {"sort/reverse \"cab\"", "\"cba\""},
        {"sort/case \"bBaA\"", "\"ABab\""},
        {"sort/stable \"bBaA\"", "\"aAbB\""},
        {"sort/stable/reverse \"aAbB\"", "\"bBaA\""},
        {"sort/skip \"c1a2b3\" 2", "\"a2b3c1\""},
        {"sort/skip/compare \"c1a3b2\" 2 2", "\"c1b2a3\""},
        {"sort/skip/compare \"c1a3\" 2 3", "error: out-of-range"},
        {"sort/compare \"ab\" 1", "error: bad-refines"},
        {"sort/all \"ab\"", "error: bad-refines"},
        {"sort/skip \"abc\" 2", "error: invalid-refine-arg"},
        {"sort/skip \"abc\" 0", "error: invalid-refine-arg"},
        {"sort/compare \"ab\" 'x", "error: invalid-refine-arg"},
        {"sort/part \"cba\" 2", "\"bca\""},
        {"sort/part \"cba\" 99", "\"abc\""},
        {"head sort/part tail \"cba\" -2", "\"cab\""},
        {"head sort/part at \"cba\" 3 -9", "\"bca\""},
        {"s: \"dcba\" head sort/part next s at s 4", "\"dbca\""},
        {"sort/compare \"cab\" func [a b] [a < b]", "\"abc\""},
        {"sort/compare/reverse \"cab\" func [a b] [a < b]", "\"cba\""},
        {"sort/compare \"cab\" func [a b] [(to integer! a) - (to integer! b)]", "\"abc\""},
        {"sort/skip/all/compare \"b2a1\" 2 func [a b] [a < b]", "\"a1b2\""},
        {"sort/stable \"\u00e9\u00c9aA\U00010428\U00010400\"", "\"aA\u00e9\u00c9\U00010428\U00010400\""},
    });
}

TEST_F(Strings, SetOperations) {
    check({
        {"unique \"abcab\"", "\"abc\""},
        {"unique \"aAb\"", "\"ab\""},
        {"unique/case \"aAb\"", "\"aAb\""},
        {"union \"ab\" \"bc\"", "\"abc\""},
        {"intersect \"abc\" \"cbx\"", "\"bc\""},
        {"exclude \"abc\" \"b\"", "\"ac\""},
        {"difference \"abc\" \"bcd\"", "\"ad\""},
        {"unique/skip \"a1a2b3\" 2", "\"a1b3\""},
        {"union next \"xab\" \"b\U00010400\"", "\"ab\U00010400\""},
        {"unique/skip \"ab\" 0", "error: invalid-refine-arg"},
    });
}

TEST_F(Strings, PathsAndPositions) {
    check({
        {"s: \"abc\" s/2", "#\"b\""},
        {"s: \"abc\" s/2: #\"\U00010400\" s", "\"a\U00010400c\""},
        {"s: \"abc\" s/x", "error: invalid-path"},
        {"s: \"abc\" s/(\"a\")", "#\"b\""},
        {"s: \"a=1\" s/(\"=\"): \"X\" s", "\"aX1\""},
        {"s: \"abc\" s/(\"z\"): \"X\"", "error: bad-path-set"},
        {"e: joe@example.com e/user", "\"joe\""},
        {"e: joe@example.com e/host", "\"example.com\""},
        {"e: joe@example.com e/host: \"x.org\" e", "joe@x.org"},
        {"e: joe@example.com e/user: \"ann\" e", "ann@example.com"},
        {"e: joe@example.com e/1", "#\"j\""},
        {"e: joe@example.com e/other", "error: invalid-path"},
        {"e: to email! \"joe\" reduce [e/user e/host]", "[\"joe\" \"\"]"},
        {"e: to email! \"joe\" e/host: \"x.org\" e", "joe@x.org"},
        {"pick \"abc\" 4", "none"},
        {"s: \"abc\" poke s 1 #\"\U00010400\" s", "\"\U00010400bc\""},
        {"poke \"abc\" 9 #\"x\"", "error: out-of-range"},
        {"copy/part next \"abcd\" 2", "\"bc\""},
    });
}

TEST_F(Strings, Characters) {
    check({
        {"to char! 65", "#\"A\""},
        {"to char! 65.9", "#\"A\""},
        {"to char! -1", "error: out-of-range"},
        {"to char! 1114112", "error: out-of-range"},
        {"to char! \"abc\"", "#\"a\""},
        {"to char! next \"abc\"", "#\"b\""},
        {"to char! \"\"", "error: bad-to-arg"},
        {"to char! [a]", "error: bad-to-arg"},
        {"make char! 97", "#\"a\""},
        {"#\"a\" + 1", "#\"b\""},
        {"#\"a\" - 98", "error: overflow"},
        {"#\"^(10FFFF)\" + 1", "error: overflow"},
        {"#\"a\" * 2", "#\"\u00c2\""},
        {"#\"a\" + #\"^(01)\"", "#\"b\""},
        {"#\"a\" + 1.7", "#\"b\""},
        {"#\"a\" + \"x\"", "error: invalid-type"},
        {"#\"a\" = 97", "true"},
        {"#\"a\" = #\"A\"", "false"},
        {"#\"a\" < #\"b\"", "true"},
        {"equal? #\"a\" \"a\"", "false"},
    });
}

TEST_F(Strings, Issues) {
    check({
        {"to issue! \"abc\"", "#abc"},
        {"to issue! next \"abc\"", "#bc"},
        {"to issue! #\"x\"", "#x"},
        {"to issue! 'foo", "#foo"},
        {"#abc = #ABC", "true"},
        {"#abc = 'abc", "false"},
    });
}

namespace {

// A text value of the code points, of type t, on a new stack cell (the
// caller puts the stack back).
Cell* text_value(const std::u32string& text, uint8_t t = type::string) {
    Cell* c = string::make(stack::push_slot(), 1);
    string::append_text(c, text);
    cell::set_type(c, t);
    return c;
}

// Molds the value, loads the molded text with the lexer and answers whether
// it gave back an equal value of the same type (strictly, case included).
::testing::AssertionResult loads_back(const Cell& v, bool all = false) {
    StackScope scope;
    Cell* held = stack::push(&v);
    std::string molded = mold(*held, MoldFlags{false, all});
    Cell loaded{};
    lexer::ScanOptions one;
    one.one_value = true;
    uint32_t raised = throws::protect(throws::error, [&] { lexer::load_utf8(molded.data(), molded.size(), one, &loaded); });
    if (raised) return ::testing::AssertionFailure() << molded << " does not load: " << error::pending.id;
    if (cell::type_of(&loaded) != cell::type_of(held) || actions::compare_raw(held, &loaded, 2) != 0)
        return ::testing::AssertionFailure() << molded << " loads as " << mold(loaded);
    return ::testing::AssertionSuccess();
}

}  // namespace

TEST_F(Strings, MoldLoadsBack) {
    // The characters mold has to take care of, and some it writes as they are.
    const std::u32string pieces[] = {
        U"\"", U"^", U"{", U"}", U"{}", U"}{", U"\n", U"\t", U"\r", U" ", U"a", U"Z", U"0", U";", U"[", U"]",
        U"(", U")", U"<", U">", U"%", U"@", U"\\", U"/", U"~",
        std::u32string(1, U'\0'), U"\x01", U"\x1B", U"\x1C", U"\x1D", U"\x1E", U"\x1F", U"\x7F", U"\x80", U"\x85",
        U"\x9F", U"\xA0", U"\xE9", U"\xFF", U"\u0100", U"\u4E2D", U"\u3000", U"\uFFFD", U"\uFFFE", U"\uFFFF",
        std::u32string(1, char32_t(0xD800)), std::u32string(1, char32_t(0xDFFF)), U"\U00010400", U"\U0001F600",
        U"\U0010FFFF",
    };
    std::mt19937 rng(20240611);
    for (int round = 0; round < 600; ++round) {
        std::u32string text;
        size_t n = rng() % 70;
        for (size_t i = 0; i < n; ++i) text += pieces[rng() % std::size(pieces)];
        StackScope scope;
        Cell* v = text_value(text);
        EXPECT_TRUE(loads_back(*v)) << round;
        EXPECT_TRUE(loads_back(*v, true)) << round;
    }
    for (const std::u32string& piece : pieces) {
        if (piece.size() != 1) continue;
        Cell c{type::char_, 0, uint32_t(piece[0]), 0};
        EXPECT_TRUE(loads_back(c)) << uint32_t(piece[0]);
        EXPECT_TRUE(loads_back(c, true)) << uint32_t(piece[0]);
    }
    // The other text types, with text their source form can carry.
    StackScope scope;
    EXPECT_TRUE(loads_back(*text_value(U"a b=\"c\" \xE9", type::tag)));
    EXPECT_TRUE(loads_back(*text_value(U"joe@example.com", type::email)));
    EXPECT_TRUE(loads_back(*text_value(U"name-1", type::ref)));
    Cell issue{};
    issue::make_at(&issue, "abc-1", 5);
    EXPECT_TRUE(loads_back(issue));
}

#ifndef _WIN32

namespace {

std::u32string from_hexes(const std::string& field) {
    std::u32string text;
    if (field == "-") return text;
    std::istringstream in(field);
    for (std::string h; std::getline(in, h, '.');) text.push_back(char32_t(std::stoul(h, nullptr, 16)));
    return text;
}

// The sort keys of the records, in order: the unit compared (offset from
// 1) or the whole record, folded to lower case unless case-sensitive.
std::u32string keys(const std::u32string& text, size_t skip, size_t offset, bool fold) {
    std::u32string out;
    for (size_t i = 0; i < text.size(); i += skip)
        for (size_t k = offset ? offset - 1 : 0; k < (offset ? offset : skip); ++k)
            out.push_back(fold ? char32_t(case_folding::change_case(text[i + k], false)) : text[i + k]);
    return out;
}

// The records in a canonical order: two texts are permutations of the same records when these agree.
std::vector<std::u32string> records(const std::u32string& text, size_t skip) {
    std::vector<std::u32string> out;
    for (size_t i = 0; i < text.size(); i += skip) out.push_back(text.substr(i, skip));
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace

// sort against Python's sorted() on the same keys: /case, /reverse,
// /stable, /skip and /compare with an offset, in 1-, 2- and 4-byte text.
TEST_F(Strings, SortAgreesWithPython) {
    std::string here = __FILE__;
    std::string script = here.substr(0, here.find_last_of('/') + 1) + "oracles/sort_oracle.py";
    test::ChildResult r = test::run_child("/usr/bin/env", {"python3", script, "7", "600"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream lines(r.out);
    int cases = 0;
    for (std::string line; std::getline(lines, line); ++cases) {
        std::istringstream fields(line);
        int case_, reverse, stable, skip, offset;
        std::string input, expected;
        fields >> case_ >> reverse >> stable >> skip >> offset >> input >> expected;
        StackScope scope;
        Cell* s = text_value(from_hexes(input));
        Cell size = num(skip), at = num(offset);
        string::sort(s, case_, skip > 1 ? &size : nullptr, offset ? &at : nullptr, nullptr, false, reverse, stable);
        std::u32string got = string::text_of(s), want = from_hexes(expected);
        if (stable) {
            EXPECT_TRUE(got == want) << line << "\n got " << string::to_utf8(s);
        } else {  // records with equal keys may come in any order
            EXPECT_TRUE(keys(got, size_t(skip), size_t(offset), !case_) == keys(want, size_t(skip), size_t(offset), !case_) &&
                        records(got, size_t(skip)) == records(want, size_t(skip)))
                << line << "\n got " << string::to_utf8(s);
        }
    }
    EXPECT_EQ(cases, 600);
}

#endif
