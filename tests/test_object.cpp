// object!: construct and set from C++, and the ownership of series by
// objects.
#include <gtest/gtest.h>

#include "runtime/collector.hpp"
#include "runtime/datatypes/object.hpp"
#include "runtime/hashtable.hpp"
#include "runtime/ownership.hpp"
#include "tests/support/values.hpp"

using namespace kel;
using namespace kel::test;

namespace {

struct Object : WithSeries {};

}  // namespace

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
