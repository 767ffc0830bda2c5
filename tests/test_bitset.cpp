// bitset! as Kel code: the spec language, the text, the actions, and the
// set algebra against Python sets, complemented sets included.
#include <gtest/gtest.h>

#include <sstream>

#include "runtime/datatypes/bitset.hpp"
#include "runtime/datatypes/string.hpp"
#include "tests/support/child.hpp"
#include "tests/support/kel_source.hpp"

using namespace kel;
using namespace kel::test;

namespace {

constexpr uint32_t members_slot = 112, exclude_slot = 113;

// members x: the members below 96 as text, then " ~" when the numbers
// beyond are members (a test of the membership rule alone).
uint32_t members_native(const Call&) {
    const Cell bs = *stack::args;
    std::string text;
    for (int n = 0; n < 96; ++n)
        if (bitset::member(&bs, n)) text += (text.empty() ? "" : " ") + std::to_string(n);
    bool beyond = bitset::member(&bs, 100000);
    for (int n = 96; n < 4096; ++n)  // the numbers between agree with the far ones
        if (bitset::member(&bs, n) != beyond) text += " !" + std::to_string(n);
    if (beyond) text += text.empty() ? "~" : " ~";
    string::make_from_utf8(stack::args, text.data(), text.size());
    stack::keep();
    return 0;
}

uint32_t exclude_native(const Call&) {
    bitset::do_bitwise(11);
    stack::keep();
    return 0;
}

const NativeSpec specs[] = {
    {"reduce", type::native, 35, "[value [any-type!] /into out [block!]]"},
    {"make", type::action, action::make, "[type spec]"},
    {"to", type::action, action::to, "[type spec]"},
    {"mold", type::action, action::mold, "[value /only /all /flat /part limit]"},
    {"form", type::action, action::form, "[value /part limit]"},
    {"append", type::action, action::append, "[series value /part length /only /dup count]"},
    {"insert", type::action, action::insert, "[series value /part length /only /dup count]"},
    {"remove", type::action, action::remove, "[series /part length /key key-arg]"},
    {"clear", type::action, action::clear, "[series]"},
    {"copy", type::action, action::copy, "[value /part length /deep /types kind]"},
    {"find", type::action, action::find,
     "[series value /part length /only /case /same /any /with wild /skip size /last /reverse /tail /match]"},
    {"pick", type::action, action::pick, "[series index]"},
    {"poke", type::action, action::poke, "[series index value]"},
    {"length?", type::action, action::length_q, "[series]"},
    {"complement", type::action, action::complement, "[value]"},
    {"negate", type::action, action::negate, "[number]"},
    {"and~", type::action, action::and_, "[value1 value2]"},
    {"or~", type::action, action::or_, "[value1 value2]"},
    {"xor~", type::action, action::xor_, "[value1 value2]"},
    {"exclude", type::native, exclude_slot + 1, "[set1 set2]"},
    {"members", type::native, members_slot + 1, "[set]"},
};

struct Bitset : KelSource {
    std::span<const NativeSpec> natives_used() const override { return specs; }
    void SetUp() override {
        natives::table[members_slot] = members_native;
        natives::table[exclude_slot] = exclude_native;
        KelSource::SetUp();
    }
    void TearDown() override {
        natives::table[members_slot] = natives::table[exclude_slot] = nullptr;
        KelSource::TearDown();
    }
};

}  // namespace

TEST_F(Bitset, MakeAndText) {
    check({
        {"make bitset! 0", "make bitset! #{}"},
        {"make bitset! 1", "make bitset! #{00}"},
        {"make bitset! 8", "make bitset! #{00}"},
        {"make bitset! 9", "make bitset! #{0000}"},
        {"make bitset! [#\"A\" - #\"C\"]", "make bitset! #{000000000000000070}"},
        {"make bitset! [0 7 8]", "make bitset! #{8180}"},
        {"make bitset! \"ab\"", "make bitset! #{00000000000000000000000060}"},
        {"make bitset! #{F0}", "make bitset! #{F0}"},
        {"make bitset! [not #{F0}]", "make bitset! [not #{F0}]"},
        {"make bitset! [not \"a\"]", "make bitset! [not #{00000000000000000000000040}]"},
        {"form make bitset! [1]", "\"make bitset! #{40}\""},
        {"mold/part make bitset! [not 100] 20", "\"make bitset! [not #{\""},
        {"to bitset! [3]", "make bitset! #{10}"},
        {"length? make bitset! [9]", "16"},
    });
}

TEST_F(Bitset, MoldLoadsBack) {
    for (const char* spec : {"[]", "[0 - 20 90]", "[not 3 - 9 70]", "[not]", "#{00FF}"}) {
        std::string molded = eval((std::string("make bitset! ") + spec).c_str());
        EXPECT_EQ(eval(molded.c_str()), molded) << spec;
    }
}

TEST_F(Bitset, SpecErrors) {
    check({
        {"make bitset! -1", "error: out-of-range"},
        {"make bitset! [-1]", "error: out-of-range"},
        {"make bitset! [5 - 3]", "error: past-end"},
        {"make bitset! [5 -]", "error: past-end"},
        {"make bitset! [5 - #\"a\"]", "error: invalid-arg"},
        {"make bitset! [a]", "error: bad-make-arg"},
        {"make bitset! [[1]]", "error: bad-make-arg"},
        {"make bitset! [#{00}]", "error: not-done"},
        {"to bitset! 8", "error: bad-to-arg"},
        {"to bitset! [x]", "error: bad-to-arg"},
        {"append make bitset! 8 -1", "error: out-of-range"},
        {"append make bitset! 8 'a", "error: invalid-arg"},
        {"remove make bitset! 8", "error: missing-arg"},
        {"and~ make bitset! 8 1", "error: invalid-type"},
    });
}

// Reading a complemented set answers its members wherever they lie: a
// string or a range that reaches past the bytes is checked bit by bit
// inside them, and by the flag beyond them.
TEST_F(Bitset, Membership) {
    check({
        {"pick make bitset! [not \"a\"] #\"a\"", "false"},
        {"pick make bitset! [not \"a\"] #\"b\"", "true"},
        {"pick make bitset! [not \"a\"] 1000", "true"},
        {"pick make bitset! [1] -1", "false"},
        {"pick make bitset! [not 1] -1", "true"},
        {"find make bitset! [1] 2", "none"},
        {"find make bitset! [1 2] [1 2]", "true"},
        {"find make bitset! [not \"a\"] \"za\"", "none"},     // a inside the bytes, z beyond
        {"find make bitset! [not \"a\"] [90 - 200]", "none"},  // 97 lies in the range
        {"find make bitset! [not \"a\"] [98 - 200]", "true"},
        {"find make bitset! [0 - 7] [0 - 8]", "none"},
        {"x: make bitset! [not 5] poke x 5 true pick x 5", "true"},
        {"x: make bitset! [1] poke x 1 0 x", "make bitset! #{00}"},
        {"x: make bitset! [1] x/1", "true"},
        {"x: make bitset! [1] x/2: true x", "make bitset! #{60}"},
        {"x: make bitset! [1] x/a", "error: invalid-type"},
    });
}

// Writes under the membership rule: a complemented set needs no bytes to
// add the numbers beyond it and grows to take numbers out; clear empties
// the set whatever its flag.
TEST_F(Bitset, ComplementedWrites) {
    check({
        {"x: make bitset! [not 1] append x 500 x", "make bitset! [not #{40}]"},
        {"x: make bitset! [not 1] append x [0 - 100] x", "make bitset! [not #{00}]"},  // 1 back, nothing grown
        {"x: make bitset! [not 1] remove/part x 9 x", "make bitset! [not #{4040}]"},
        {"x: make bitset! [not 1] remove/part x \"a\" pick x #\"a\"", "false"},
        {"x: make bitset! [1] remove/part x [0 - 100] x", "make bitset! #{00}"},
        {"x: make bitset! [not 1] clear x x", "make bitset! #{00}"},
        {"x: make bitset! [not 1] clear x pick x 1000", "false"},
        {"x: make bitset! [2] insert x 3 x", "make bitset! #{30}"},
        {"complement make bitset! [1]", "make bitset! [not #{40}]"},
        {"negate make bitset! [not 1]", "make bitset! #{40}"},
        {"x: make bitset! [not 1] y: copy x append y 1 reduce [x y]", "[make bitset! [not #{40}] make bitset! [not #{00}]]"},
    });
}

TEST_F(Bitset, Compare) {
    check({
        {"(make bitset! [1]) = make bitset! [1]", "true"},
        {"(make bitset! [1]) = make bitset! [2]", "false"},
        {"(make bitset! [1]) < make bitset! [9]", "true"},     // more bytes is greater
        {"(make bitset! [7]) < make bitset! [0]", "true"},
        {"(make bitset! [1]) < make bitset! [not 1]", "true"},  // complemented is greater
        {"(make bitset! [1]) = 1", "false"},
    });
}

#ifndef _WIN32

TEST_F(Bitset, AlgebraAgreesWithPythonSets) {
    std::string here = __FILE__;
    std::string script = here.substr(0, here.find_last_of('/') + 1) + "oracles/bitset_oracle.py";
    test::ChildResult r = test::run_child("/usr/bin/env", {"python3", script, "2024", "400"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream in(r.out);
    int cases = 0;
    for (std::string line; std::getline(in, line); ++cases) {
        size_t tab = line.find('\t');
        ASSERT_NE(tab, std::string::npos) << line;
        std::string source = line.substr(0, tab);
        // The members as text, compared as a string value.
        std::string compared = "(" + source + ") = \"" + line.substr(tab + 1) + "\"";
        EXPECT_EQ(eval(compared.c_str()), "true") << source;
    }
    EXPECT_EQ(cases, 400);
}

#endif
