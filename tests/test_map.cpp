// map! as Kel code, and the memory a map keeps under put and remove churn.
#include <gtest/gtest.h>

#include "runtime/datatypes/map.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/hashtable.hpp"
#include "tests/support/kel_source.hpp"

using namespace kel;
using namespace kel::test;

namespace {

const NativeSpec specs[] = {
    {"make", type::action, action::make, "[type spec]"},
    {"to", type::action, action::to, "[type spec]"},
    {"mold", type::action, action::mold, "[value /only /all /flat /part limit]"},
    {"form", type::action, action::form, "[value /part limit]"},
    {"reflect", type::action, action::reflect, "[value field]"},
    {"put", type::action, action::put, "[series key value /case]"},
    {"select", type::action, action::select,
     "[series value /part length /only /case /same /any /with wild /skip size /last /reverse]"},
    {"find", type::action, action::find,
     "[series value /part length /only /case /same /any /with wild /skip size /last /reverse /tail /match]"},
    {"remove", type::action, action::remove, "[series /part length /key key-arg]"},
    {"clear", type::action, action::clear, "[series]"},
    {"copy", type::action, action::copy, "[value /part length /deep /types kind]"},
    {"length?", type::action, action::length_q, "[series]"},
    {"reduce", type::native, 35, "[value [any-type!] /into out [block!]]"},
    {"append", type::action, action::append, "[series value /part length /only /dup count]"},
};

struct Map : KelSource {
    std::span<const NativeSpec> natives_used() const override { return specs; }
};

}  // namespace

TEST_F(Map, MakeAndText) {
    check({
        {"make map! [a 1 b 2 a 3]", "#[\n    a: 3\n    b: 2\n]"},  // the first place, the later value
        {"make map! [a 1 b]", "error: invalid-arg"},
        {"make map! [[x] 1]", "error: invalid-path"},
        {"make map! 3", "#[]"},
        {"make map! -1", "error: out-of-range"},
        {"to map! 3", "error: bad-to-arg"},
        {"to map! \"a\"", "error: bad-to-arg"},
        {"to map! [\"k\" 1]", "#[\n    \"k\" 1\n]"},
        {"make map! make map! [a 1]", "#[\n    a: 1\n]"},
        {"mold/flat make map! [a 1 b 2]", "\"#[a: 1 b: 2]\""},
        {"mold/only make map! [a 1 b 2]", "\"a: 1^/b: 2\""},
        {"form make map! [a 1 b 2]", "\"a: 1^/b: 2\""},
        {"mold make map! [a [1 2] b #[c 3]]", "{#[^/    a: [1 2]^/    b: #[^/        c: 3^/    ]^/]}"},
        {"m: make map! [a 1] put m 'self m mold m", "{#[^/    a: 1^/    self: #[...]^/]}"},
        {"length? #[a 1 b 2]", "2"},
    });
}

TEST_F(Map, MoldLoadsBack) {
    for (const char* source : {"make map! [a 1 b \"x\" 3 [4]]", "make map! []", "make map! [k #[j 1]]"}) {
        std::string molded = eval(source);
        EXPECT_EQ(eval(molded.c_str()), molded) << source;
    }
}

TEST_F(Map, KeysAndPaths) {
    check({
        {"m: #[a 1] m/A", "1"},  // paths ignore case
        {"m: #[a 1] select m 'A", "1"},
        {"m: #[a 1] select/case m 'A", "none"},
        {"m: #[a 1] select m 'b", "none"},
        {"m: #[a 1] find m 'a", "a"},  // the key, as a word
        {"m: #[a 1] find m 'z", "none"},
        {"m: #[a 1] m/b: 2 m", "#[\n    a: 1\n    b: 2\n]"},
        {"m: #[a 1] m/a: 5 m", "#[\n    a: 5\n]"},
        {"m: #[a 1] put m 'c 3", "3"},
        {"m: #[a 1] put m [x] 3", "error: invalid-path"},
        {"m: #[a 1] m/(1.5): 3 select m 1.5", "3"},
    });
}

TEST_F(Map, RemoveAndRevive) {
    check({
        {"m: #[a 1 b 2] remove/key m 'a length? m", "1"},
        {"m: #[a 1 b 2] remove/key m 'a m/a", "none"},
        {"m: #[a 1 b 2] remove/key m 'a m/a: 5 m", "#[\n    a: 5\n    b: 2\n]"},  // back at its old place
        {"m: #[a 1 b 2] remove/key m 'a reflect m 'words", "[b]"},
        {"m: #[a 1] remove/key m 'A length? m", "1"},  // remove/key is strict
        {"m: #[a 1] remove m", "error: missing-arg"},
        {"m: #[a 1 b 2] clear m reduce [length? m m]", "[0 #[]]"},
    });
}

TEST_F(Map, ReflectCopyCompare) {
    check({
        {"reflect #[a 1 \"s\" 2] 'words", "[a \"s\"]"},
        {"reflect #[a 1 b 2] 'values", "[1 2]"},
        {"reflect #[a 1 b 2] 'body", "[\n    a: 1\n    b: 2\n]"},
        {"reflect #[a 1] 'spec", "error: not-done"},
        {"m: #[a [1]] c: copy m append select c 'a 2 m", "#[\n    a: [1 2]\n]"},
        {"m: #[a [1]] c: copy/deep m append select c 'a 2 m", "#[\n    a: [1]\n]"},
        {"m: #[a 1] put m 'self m copy/deep m", "error: no-cycle"},
        {"#[a 1 b 2] = #[b 2 a 1]", "true"},
        {"#[a 1] = #[A 1]", "true"},
        {"#[a 1] = #[a 2]", "false"},
        {"#[a 1] = #[a 1 b 2]", "false"},
        {"#[] = #[]", "true"},
        {"#[a 1] = 1", "false"},
    });
}

// Putting new keys and removing them, with the live count steady, keeps
// the pair block and the table at a bounded size.
TEST_F(Map, ChurnKeepsMemoryBounded) {
    Cell* m = stack::push_slot();
    *m = run(action::make, {type_cell(type::map), load1("[a 1 b 2 c 3]")});
    uint32_t largest_block = 0, largest_buckets = 0;
    for (int32_t i = 0; i < 20000; ++i) {
        Cell key = num(i), value = num(-i);
        run(action::put, {*m, key, value}, {-1});
        run(action::remove, {*m, key}, {-1, 1});
        if (i >= 1000) {
            largest_block = std::max(largest_block, alloc::buffer_of(m->payload2)->size);
            largest_buckets = std::max(largest_buckets, hashtable::record(m->payload3)->buckets);
        }
    }
    EXPECT_EQ(map::count(m), 3u);
    EXPECT_LE(largest_block, 64u * sizeof(Cell));
    EXPECT_LE(largest_buckets, 64u);
    EXPECT_EQ(mold(*m), "#[\n    a: 1\n    b: 2\n    c: 3\n]");
    stack::pop(1);
}

// A text key is the map's own copy: a later change of the caller's string
// leaves it alone.
TEST_F(Map, TextKeysAreCopies) {
    Cell* s = stack::push_slot();
    *s = load1("\"ab\"");
    Cell* m = stack::push_slot();
    *m = run(action::make, {type_cell(type::map), load1("[a 1]")});
    run(action::put, {*m, *s, num(2)}, {-1});
    alloc::buffer_of(s->payload2)->data()[alloc::buffer_of(s->payload2)->offset] = 'z';
    EXPECT_EQ(mold(*m), "#[\n    a: 1\n    \"ab\" 2\n]");
    stack::pop(2);
}
