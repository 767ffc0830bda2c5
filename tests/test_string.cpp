// string! and the text types as Kel code: each case is a line of source
// evaluated under a try frame and compared by its molded result (or the id
// of the error it raises).
#include <gtest/gtest.h>

#include "runtime/datatypes/string.hpp"
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
        {"to file! /foo", "error: expect-arg"},
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
