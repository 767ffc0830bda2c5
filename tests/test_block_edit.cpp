// Searching and changing blocks, as Kel code: each case is a line of source
// evaluated under a try frame and compared by its molded result (or the id
// of the error it raises).
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "runtime/datatypes/block.hpp"
#include "tests/support/child.hpp"
#include "tests/support/kel_source.hpp"

using namespace kel;
using namespace kel::test;

namespace {

// The set operations, reached from test natives until their natives exist.
template <int Op>
uint32_t set_op_native(const Call& c) {
    block::do_set_op(stack::args, Op == 8 ? nullptr : stack::args + 1, c.refs[0] >= 0,
                     c.refs[1] >= 0 ? stack::args + c.refs[1] : nullptr, Op);
    stack::keep();
    return 0;
}
constexpr uint32_t unique_slot = 114, union_slot = 115, intersect_slot = 116, exclude_slot = 117,
                   difference_slot = 118;

const NativeSpec specs[] = {
    {"func", type::native, 14, "[spec [block!] body [block!]]"},
    {"reduce", type::native, 35, "[value [any-type!] /into out [block!]]"},
    {"head", type::action, action::head, "[series]"},
    {"next", type::action, action::next, "[series]"},
    {"tail", type::action, action::tail, "[series]"},
    {"at", type::action, action::at, "[series index]"},
    {"find", type::action, action::find,
     "[series value /part length /only /case /same /any /with wild /skip size /last /reverse /tail /match]"},
    {"select", type::action, action::select,
     "[series value /part length /only /case /same /any /with wild /skip size /last /reverse]"},
    {"put", type::action, action::put, "[series key value /case]"},
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
    {"unique", type::native, unique_slot + 1, "[set /case /skip size]"},
    {"union", type::native, union_slot + 1, "[set1 set2 /case /skip size]"},
    {"intersect", type::native, intersect_slot + 1, "[set1 set2 /case /skip size]"},
    {"exclude", type::native, exclude_slot + 1, "[set1 set2 /case /skip size]"},
    {"difference", type::native, difference_slot + 1, "[set1 set2 /case /skip size]"},
};

struct BlockEdit : KelSource {
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

TEST_F(BlockEdit, Find) {
    check({
        {"find [1 2 3 4] 3", "[3 4]"},
        {"find [1 2 3 4] 5", "none"},
        {"find [1 2 3 4] [2 3]", "[2 3 4]"},  // a block is searched as the run of its cells
        {"find [1 2 3] [3 4]", "none"},        // the run must fit
        {"find/only [1 [2 3] 4] [2 3]", "[[2 3] 4]"},
        {"find/last [1 2 1 2] 1", "[1 2]"},
        {"find/reverse [1 2 3] 1", "none"},  // nothing before the head
        {"find/reverse tail [1 2 3] 2", "[2 3]"},
        {"find/tail [1 2 3] 2", "[3]"},
        {"find/tail [1 2 3 4] [2 3]", "[4]"},
        {"find/match [1 2 3] 1", "[1 2 3]"},
        {"find/match [1 2 3] 2", "none"},
        {"find/skip [a b b c] 'c 2", "none"},
        {"find/skip [a b c d] 'c 2", "[c d]"},
        {"find/part [1 2 3] 3 2", "none"},
        {"find/part [1 2 3] 2 2", "[2 3]"},
        {"find/part [1 2 3] 1 0", "none"},
        {"find next [1 2 1] 1", "[1]"},
        {"find tail [1 2] 1", "none"},
        {"find/skip [1 2] 1 0", "error: out-of-range"},
        {"find/skip [1 2] 1 'x", "error: invalid-refine-arg"},
        {"find/part [1 2] 1 [1 2]", "error: invalid-refine-arg"},  // not the same series
    });
}

TEST_F(BlockEdit, SelectAndPut) {
    check({
        {"select [a 1 b 2] 'b", "2"},
        {"select [a 1 b] 'b", "none"},
        {"select [1 2 3 4] [2 3]", "4"},
        {"select/only [1 [2 3] 4] [2 3]", "4"},
        {"b: [a 1] put b 'a 5 b", "[a 5]"},
        {"b: [a 1] put b 'c 3 b", "[a 1 c 3]"},
        {"b: [a] put b 'a 3 b", "[a 3]"},
    });
}

TEST_F(BlockEdit, AppendAndInsert) {
    check({
        {"append [1 2] [3 4]", "[1 2 3 4]"},
        {"append [1 2] 3", "[1 2 3]"},
        {"append/only [1] [2 3]", "[1 [2 3]]"},
        {"append/dup [] 'x 3", "[x x x]"},
        {"append/dup [1] 2 0", "[1]"},
        {"append/part [] [1 2 3] 2", "[1 2]"},
        {"append/part [] [1 2 3] 9", "[1 2 3]"},
        {"append next [1 2] 3", "[1 2 3]"},  // the head
        {"insert [1 2] 0", "[1 2]"},          // after the new cells
        {"head insert [1 2] 0", "[0 1 2]"},
        {"head insert next [1 2] [8 9]", "[1 8 9 2]"},
        {"head insert/dup tail [1] [2 3] 2", "[1 2 3 2 3]"},
        // A value from the block itself is added as it was before the change.
        {"b: [1 2 3] append b b", "[1 2 3 1 2 3]"},
        {"b: [1 2 3] insert next b b b", "[1 1 2 3 2 3]"},
        {"b: [1 2 3] append b next b", "[1 2 3 2 3]"},
    });
}

TEST_F(BlockEdit, Change) {
    check({
        {"head change [1 2 3] 9", "[9 2 3]"},
        {"change [1 2 3] 9", "[2 3]"},
        {"head change [1 2 3] [7 8]", "[7 8 3]"},
        {"head change/only [1 2 3] [7 8]", "[[7 8] 2 3]"},
        {"head change/part [1 2 3] 9 2", "[9 3]"},
        {"head change/part [1 2 3] [7 8 9] 1", "[7 8 9 2 3]"},
        {"head change/dup [1 2] 0 3", "[0 0 0]"},
        {"head change tail [1] 2", "[1 2]"},
        {"head change [1] [4 5 6]", "[4 5 6]"},
        {"b: [1 2 3] change next b b b", "[1 1 2 3]"},
        {"b: [1 2 3 4] change b next b b", "[2 3 4 4]"},
    });
}

TEST_F(BlockEdit, RemoveTakeReverse) {
    check({
        {"remove [1 2 3]", "[2 3]"},
        {"remove/part [1 2 3] 2", "[3]"},
        {"remove/part [1 2 3] 0", "[1 2 3]"},
        {"remove/part [1 2 3] 9", "[]"},
        {"remove tail [1 2]", "[]"},
        {"remove/key [a 1 b 2] 'b", "[a 1]"},
        {"remove/key [a 1] 'z", "none"},
        {"take [1 2 3]", "1"},
        {"b: [1 2 3] take b b", "[2 3]"},
        {"take/last [1 2 3]", "3"},
        {"take/part [1 2 3] 2", "[1 2]"},
        {"b: [1 2 3] take/part b 9 b", "[]"},
        {"take/last/part [1 2 3] 2", "[2 3]"},
        {"take []", "none"},
        {"take/part next [1 2 3] -1", "[1]"},
        {"take/part [1 2 3] -1", "[]"},  // nothing lies before the head
        {"x: [1] y: take/deep reduce [x] append y 2 x", "[1]"},
        {"reverse [1 2 3]", "[3 2 1]"},
        {"reverse/part [1 2 3] 2", "[2 1 3]"},
        {"reverse/part [1 2] 10", "[2 1]"},
        {"reverse/skip [1 2 3 4] 2", "[3 4 1 2]"},
        {"reverse/skip [1 2 3] 2", "error: invalid-refine-arg"},
        {"reverse/skip [1 2] 0", "error: out-of-range"},
    });
}

TEST_F(BlockEdit, MoveSwapTrim) {
    check({
        {"b: [1 2 3 4] move b tail b b", "[2 3 4 1]"},
        {"b: [1 2 3 4] move at b 3 b b", "[3 1 2 4]"},
        {"b: [1 2 3 4] move/part b at b 3 2 b", "[3 1 2 4]"},
        {"b: [1 2 3] c: [9] move/part b c 2 reduce [b c]", "[[3] [1 2 9]]"},
        {"b: [1 2 3] c: [] move/part b c 9 reduce [b c]", "[[] [1 2 3]]"},
        {"a: [1 2] b: [3 4] swap a next b reduce [a b]", "[[4 2] [3 1]]"},
        {"a: [1 2] swap a 3", "error: invalid-arg"},
        {"trim reduce [1 none 2 none 3]", "[1 2 3]"},
        {"head trim next reduce [none none 1]", "[none 1]"},
    });
}

TEST_F(BlockEdit, Sort) {
    check({
        {"sort [3 1 2]", "[1 2 3]"},
        {"sort/reverse [3 1 2]", "[3 2 1]"},
        {"sort [b c a]", "[a b c]"},
        {"sort [2 a 1]", "[1 2 a]"},  // types that do not compare order by type
        {"sort/skip [b 2 a 1] 2", "[a 1 b 2]"},
        {"sort/skip/compare [x 2 y 1] 2 2", "[y 1 x 2]"},
        {"sort/skip/compare [x 2 y 1] 2 0", "error: out-of-range"},
        {"sort/compare [x 2] 1", "error: bad-refines"},
        {"sort/all [1 2]", "error: bad-refines"},
        {"sort/skip [1 2 3] 2", "error: invalid-refine-arg"},
        {"sort/compare [3 1 2] func [a b] [a < b]", "[1 2 3]"},
        {"sort/compare [3 1 2] func [a b] [a - b]", "[3 2 1]"},
        {"sort/part [3 1 2] 2", "[1 3 2]"},
        {"sort/part [3 1 2] 9", "[1 2 3]"},
        {"head sort/part tail [3 2 1] -2", "[3 1 2]"},
        {"sort/compare [1 2] 'x", "error: invalid-refine-arg"},
        // Stable: equal keys keep their order, whatever the mode.
        {"sort/skip/compare/stable [b 1 a 2 b 0 a 1] 2 1", "[a 2 a 1 b 1 b 0]"},
        {"sort/stable/compare [3 1 3 2] func [a b] [a < b]", "[1 2 3 3]"},
    });
}

TEST_F(BlockEdit, SetOperations) {
    check({
        {"unique [1 2 1 3 2]", "[1 2 3]"},
        {"union [1 2] [2 3]", "[1 2 3]"},
        {"intersect [1 2 3] [3 2 4]", "[2 3]"},
        {"exclude [1 2 3] [2]", "[1 3]"},
        {"difference [1 2 3] [2 3 4]", "[1 4]"},
        {"unique [a A b]", "[a b]"},
        {"unique/skip [a 1 a 2 b 3] 2", "[a 1 b 3]"},
        {"union next [9 1] [1 2]", "[1 2]"},
    });
}

#ifndef _WIN32
// Blocks of integer and string keys sorted as Python's sorted() sorts them:
// /skip, /compare with an offset, /case, /reverse, and /stable with equal
// keys whose records must keep their order.
TEST_F(BlockEdit, SortAgreesWithPython) {
    std::string here = __FILE__;
    std::string script = here.substr(0, here.find_last_of('/') + 1) + "oracles/block_sort_oracle.py";
    test::ChildResult r = test::run_child("/usr/bin/env", {"python3", script, "11", "400"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream lines(r.out);
    int cases = 0;
    for (std::string line; std::getline(lines, line); ++cases) {
        size_t tab = line.find('\t');
        ASSERT_NE(tab, std::string::npos) << line;
        std::string source = line.substr(0, tab);
        EXPECT_EQ(eval(source.c_str()), line.substr(tab + 1)) << source;
    }
    EXPECT_EQ(cases, 400);
}
#endif
