// object!: making from specs and prototypes, path access, change handlers,
// class ids, reflection, mold, copy and comparison; and the ownership of
// series by objects.
#include <gtest/gtest.h>

#include "runtime/collector.hpp"
#include "runtime/datatypes/object.hpp"
#include "runtime/hashtable.hpp"
#include "runtime/ownership.hpp"
#include "tests/support/kel_source.hpp"

using namespace kel;
using namespace kel::test;

namespace {

const NativeSpec specs[] = {
    {"make", type::action, action::make, "[type [any-type!] spec [any-type!]]"},
    {"reflect", type::action, action::reflect, "[value [any-type!] field [word!]]"},
    {"copy", type::action, action::copy, "[value [any-type!] /part length /deep /types kind]"},
    {"select", type::action, action::select,
     "[series value /part length /only /case /same /any /with wild /skip size /last /reverse]"},
    {"put", type::action, action::put, "[series key value /case]"},
    {"poke", type::action, action::poke, "[series index value]"},
    {"clear", type::action, action::clear, "[series]"},
    {"modify", type::action, action::modify, "[target field value /case]"},
    {"func", type::native, 14, "[spec [block!] body [block!]]"},
    {"reduce", type::native, 35, "[value [any-type!] /into out [block!]]"},
    {"try", type::native, 70, "[block [block!] /all /keep]"},
    {"break", type::native, 77, "[/return value [any-type!]]"},
    {"loop", type::native, 8, "[count [integer! float!] body [block!]]"},
};

struct Object : KelSource {
    std::span<const NativeSpec> natives_used() const override { return specs; }
    void SetUp() override {
        KelSource::SetUp();
        define("object!", type_cell(type::object));
    }
};

// A change handler that records its arguments in `log` and counts its calls in `n`.
constexpr const char* logger = "n: 0 log: none ";
constexpr const char* on_change = "on-change*: func [word old new] [n: n + 1 log: reduce [word old new]] ";
constexpr const char* on_deep_change =
    "on-deep-change*: func [owner word target action new index part] "
    "[n: n + 1 log: reduce [word action new index part]] ";

std::string with_handlers(const char* fields, const char* then) {
    return std::string(logger) + "o: make object! [" + fields + " " + on_change + on_deep_change + "] " + then;
}

}  // namespace

TEST_F(Object, MadeFromASpecBlock) {
    check({
        {"o: make object! [a: 1 b: a + 1] o/b", "2"},
        {"o: make object! [a: 1 f: func [] [a * 10]] o/a: 4 o/f", "40"},
        {"o: make object! [a: 1 s: self] o/s/a", "1"},
        {"a: 7 o: make object! [a: 1] a", "7"},  // the spec's words are bound to the object
        {"make object! [a: 1 b: 'x c: [1 2]]", "make object! [\n    a: 1\n    b: 'x\n    c: [1 2]\n]"},
        {"make object! [a: make object! [b: 2]]",
         "make object! [\n    a: make object! [\n        b: 2\n    ]\n]"},
        {"make object! []", "make object! []"},
        {"o: make object! [a: 1] o/a: o o", "make object! [\n    a: make object! [...]\n]"},
        {"o: make object! [a: 1 break] o", "error: break"},
        {"loop 2 [o: make object! [a: 1 break/return 5]]", "5"},
        {"make object! 5", "error: malconstruct"},
        {"make object! [a: undefined-word]", "error: no-value"},
    });
}

TEST_F(Object, MadeFromAPrototype) {
    check({
        {"p: make object! [a: 1 b: 2] q: make p [a: 5] reduce [q/a q/b p/a]", "[5 2 1]"},
        // Functions are rebound to the new object, series are its own.
        {"p: make object! [a: 1 f: func [] [a]] q: make p [a: 2] reduce [p/f q/f]", "[1 2]"},
        {"p: make object! [b: [1 [2]]] q: make p [] poke q/b/2 1 9 p/b", "[1 [2]]"},
        {"p: make object! [a: 1] q: make p make object! [a: 3 c: 4] reduce [q/a q/c]", "[3 4]"},
    });
}

TEST_F(Object, ClassIds) {
    check({
        // Each new shape takes the next id; a derived object that adds no
        // field keeps its prototype's.
        {"a: make object! [x: 1] b: make object! [x: 1] (reflect b 'class) - reflect a 'class", "1"},
        {"p: make object! [a: 1] q: make p [a: 5] (reflect q 'class) = reflect p 'class", "true"},
        {"p: make object! [a: 1] q: make p [c: 3] (reflect q 'class) = reflect p 'class", "false"},
        {"p: make object! [a: 1] (reflect copy p 'class) = reflect p 'class", "true"},
    });
}

TEST_F(Object, MissingFieldsOnAPath) {
    check({
        {"o: make object! [a: 1] o/x", "error: invalid-path"},
        {"o: make object! [a: 1] o/x/y", "error: unset-path"},
        {"o: make object! [a: 1] :o/x", "unset"},
        {"o: make object! [a: 1] o/x: 2", "error: invalid-path"},
        {"o: make object! [a: 1] o/1", "error: invalid-path"},
        {"o: make object! [a: 1] e: try [o/x] reduce [e/arg1 e/arg2]", "[o/x x]"},
    });
}

TEST_F(Object, OnChangeSeesTheWordAndBothValues) {
    check({
        {with_handlers("a: 1", "o/a: 2 reduce [n log]").c_str(), "[1 [a 1 2]]"},
        {with_handlers("a: 1", "put o 'a 3 log").c_str(), "[a 1 3]"},
        // Construction itself fires nothing.
        {with_handlers("a: 1", "n").c_str(), "0"},
        // Locals of the handler start as none.
        {"log: none o: make object! [a: 1 on-change*: func [w o n /local t] [log: reduce [w o n t]]] o/a: 2 log",
         "[a 1 2 none]"},
        {"make object! [on-change*: 5]", "error: bad-field-set"},
        {"o: make object! [a: 1 on-change*: func [w o n] [] ] o/on-change*: 5 o/a: 2", "error: invalid-obj-evt"},
        {"o: make object! [a: 1] put o 'b 2", "error: invalid-path"},
        {"o: make object! [a: 1] put o 1 2", "error: invalid-key-type"},
    });
}

TEST_F(Object, OwnedSeriesTellTheirOwner) {
    check({
        // Before and after the change, with the field, index and count.
        {with_handlers("b: [1 2]", "poke o/b 2 9 reduce [n log o/b]").c_str(), "[2 [b poked 9 1 1] [1 9]]"},
        {with_handlers("b: [1 [2 3]]", "poke o/b/2 1 5 reduce [n log]").c_str(), "[2 [b poked 5 0 1]]"},
        {with_handlers("b: [1 2 3]", "clear o/b reduce [n log]").c_str(), "[2 [b cleared none 0 3]]"},
        // The first field through which a series is owned keeps reporting.
        {with_handlers("b: [1] c: b", "poke o/c 1 2 log").c_str(), "[b poked 2 0 1]"},
        // Without on-deep-change* nothing is told.
        {(std::string(logger) + "o: make object! [b: [1] " + on_change + "] poke o/b 1 2 n").c_str(), "0"},
        // A nested object that owns its own series is told, not the outer one.
        {(std::string(logger) + "inner: make object! [c: [1] " + on_change + on_deep_change +
          "] o: make object! [i: inner " + on_change + "] poke o/i/c 1 7 reduce [n log]")
             .c_str(),
         "[2 [c poked 7 0 1]]"},
        // A plain object inside an owner is walked into; released, it is not.
        {with_handlers("i: make object! [c: [1]]", "poke o/i/c 1 2 log").c_str(), "[c poked 2 0 1]"},
        {with_handlers("i: make object! [c: [1]]", "modify o/i 'owned none poke o/i/c 1 2 n").c_str(), "0"},
    });
}

TEST_F(Object, ReflectSelectCopyAndCompare) {
    check({
        {"reflect make object! [a: 1 b: 'x] 'words", "[a b]"},
        {"reflect make object! [a: 1 b: 'x] 'values", "[1 x]"},
        {"reflect make object! [a: 1 b: 'x] 'body", "[\n    a: 1\n    b: 'x\n]"},
        {"o: make object! [a: 1 b: 2] o/b: 3 reflect o 'changed", "[b]"},
        {"o: make object! [a: 1 b: 2] o/b: 3 modify o 'changed none reflect o 'changed", "[]"},
        {"reflect make object! [a: 1] 'events?", "false"},
        {"reflect make object! [a: 1] 'nothing", "error: not-done"},
        {"select make object! [a: 1] 'a", "1"},
        {"select make object! [a: 1] 'missing", "none"},
        {"select make object! [a: 1] 1", "error: invalid-type"},
        {"copy/part make object! [a: 1] 1", "error: invalid-refine-arg"},
        {"o: make object! [b: [1]] c: copy/deep o poke c/b 1 2 reduce [o/b c/b]", "[[1] [2]]"},
        {"o: make object! [b: [1]] c: copy o poke c/b 1 2 o/b", "[2]"},
        {"(make object! [a: 1 b: [2]]) = make object! [a: 1 b: [2]]", "true"},
        {"(make object! [a: 1]) = make object! [a: 2]", "false"},
        {"(make object! [a: 1]) < make object! [a: 1 b: 2]", "true"},  // fewer fields first
        {"o: make object! [a: 1] o = o", "true"},
    });
}

// construct sets fields without evaluation; set gives every field a value.
TEST_F(Object, ConstructAndSet) {
    collector::RootCell o, proto;
    Cell spec = load1("[a: b: 1 c: on e: none d:]");
    o.cell = *object::push_new(&spec, nullptr, false);
    EXPECT_EQ(mold(o.cell, {.flat = true}), "make object! [a: 1 b: 1 c: true e: none d: none]");
    Cell only = load1("[c: on]");
    EXPECT_EQ(mold(*object::push_new(&only, nullptr, true), {.flat = true}), "make object! [c: 'on]");
    proto.cell = o.cell;
    Cell more = load1("[f: 2]");
    Cell derived = *object::push_new(&more, &proto.cell, false);
    EXPECT_EQ(mold(derived, {.flat = true}), "make object! [a: 1 b: 1 c: true e: none d: none f: 2]");
    EXPECT_EQ(mold(o.cell, {.flat = true}), "make object! [a: 1 b: 1 c: true e: none d: none]");

    Cell values = load1("[7 8]");
    object::set_many(&o.cell, &values, false, false, false);
    EXPECT_EQ(mold(o.cell, {.flat = true}), "make object! [a: 7 b: 8 c: none e: none d: none]");
    Cell nine = num(9);
    object::set_many(&o.cell, &nine, false, false, false);
    EXPECT_EQ(mold(o.cell, {.flat = true}), "make object! [a: 9 b: 9 c: 9 e: 9 d: 9]");
    Cell unset_value{type::unset, 0, 0, 0};
    EXPECT_EQ(error_of([&] { object::set_many(&o.cell, &unset_value, false, false, false); }), "need-value");
}

// The ownership table keeps nothing alive: a collection drops the entries
// of dead series and of dead owners, and keeps the rest.
TEST_F(Object, OwnershipEntriesAreWeak) {
    sys::record.collector_enabled = true;
    collector::RootCell owner, kept;
    object::make_at(&owner.cell, 4);
    Cell word = word_of("b");
    kept.cell = load1("[1 [2]]");
    NodeId kept_node = kept.cell.payload2;
    NodeId nested = block::ks_abs_at(&kept.cell, 1)->payload2;
    ownership::bind(&kept.cell, &owner.cell, &word);
    // A block nothing keeps (the fixture's reader keeps what it reads).
    Cell dropped;
    block::make_at(&dropped, 1);
    Cell three = num(3);
    block::ks_append(&dropped, &three);
    NodeId dropped_node = dropped.payload2;
    ownership::bind(&dropped, &owner.cell, &word);
    ASSERT_NE(ownership::owner_of(dropped_node), nullptr);
    EXPECT_EQ(ownership::owner_of(nested)[0].payload1, owner.cell.payload1);
    EXPECT_EQ(hashtable::record(ownership::table)->count, 3u);
    collector::collect();
    EXPECT_EQ(hashtable::record(ownership::table)->count, 2u);
    EXPECT_NE(ownership::owner_of(kept_node), nullptr);
    EXPECT_NE(ownership::owner_of(nested), nullptr);
    owner.cell = Cell{type::none, 0, 0, 0};
    collector::collect();
    EXPECT_EQ(hashtable::record(ownership::table)->count, 0u);
    sys::record.collector_enabled = false;
}

// A block that holds itself is bound and unbound once.
TEST_F(Object, SelfContainingBlockBindsAndUnbinds) {
    collector::RootCell owner, b;
    object::make_at(&owner.cell, 4);
    Cell word = word_of("b");
    b.cell = load1("[1]");
    block::ks_append(&b.cell, &b.cell);
    ownership::bind(&b.cell, &owner.cell, &word);
    EXPECT_TRUE(ownership::is_owned(&b.cell));
    ownership::unbind(&b.cell);
    EXPECT_FALSE(ownership::is_owned(&b.cell));
    EXPECT_EQ(ownership::owner_of(b.cell.payload2), nullptr);
}

TEST_F(Object, UnderCollectionAtEveryAllocation) {
    alloc::stress = true;
    check({
        {"p: make object! [a: 1 f: func [] [a]] q: make p [a: 2 b: [x]] reduce [p/f q/f q/b]", "[1 2 [x]]"},
        {with_handlers("b: [1 2]", "poke o/b 2 9 reduce [n log]").c_str(), "[2 [b poked 9 1 1]]"},
        {with_handlers("a: 1", "o/a: 2 log").c_str(), "[a 1 2]"},
    });
    alloc::stress = false;
}
