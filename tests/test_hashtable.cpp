#include <gtest/gtest.h>

#include "runtime/hashtable.hpp"
#include "tests/support/runtime.hpp"

using namespace kel;

using HashTables = test::WithRuntime;

TEST_F(HashTables, SizesRoundUpToPowersOfTwo) {
    struct Case {
        uint32_t size;
        hashtable::Kind kind;
        uint32_t buckets, upper;
    } cases[] = {
        {0, hashtable::identity, 8, 6},
        {3, hashtable::identity, 8, 6},
        {10, hashtable::identity, 16, 12},
        {100, hashtable::words, 256, 197},
        {4000, hashtable::words, 16384, 12615},  // word tables double large sizes
    };
    for (const Case& c : cases) {
        NodeId t = hashtable::init(c.size, 0, c.kind, 1);
        EXPECT_EQ(hashtable::record(t)->buckets, c.buckets) << c.size;
        EXPECT_EQ(hashtable::record(t)->upper, c.upper) << c.size;
    }
}

TEST_F(HashTables, IdentityEntries) {
    NodeId t = hashtable::init(0, 0, hashtable::identity, 2);
    for (NodeId key = 1000; key < 1100; ++key) {
        Cell* v = hashtable::put_pointer(t, key);
        EXPECT_TRUE(cell::is(v, type::unset));
        cell::set_integer(v, int32_t(key));
        cell::set_integer(v + 1, -int32_t(key));
    }
    for (NodeId key = 1000; key < 1100; ++key) {
        Cell* v = hashtable::get_pointer(t, key);
        ASSERT_NE(v, nullptr) << key;
        EXPECT_EQ(cell::integer(v), int32_t(key));
        EXPECT_EQ(cell::integer(v + 1), -int32_t(key));
    }
    EXPECT_EQ(hashtable::get_pointer(t, 5), nullptr);
    EXPECT_EQ(cell::integer(hashtable::put_pointer(t, 1050)), 1050);  // put of a present key finds it
    hashtable::delete_pointer(t, 1050);
    EXPECT_EQ(hashtable::get_pointer(t, 1050), nullptr);
    EXPECT_EQ(hashtable::record(t)->count, 99u);
}

// Steady size under put and delete churn keeps the table and its entries bounded.
TEST_F(HashTables, ChurnDoesNotGrowWithoutBound) {
    NodeId t = hashtable::init(16, 0, hashtable::ownership, 2);
    for (NodeId key = 1; key <= 100000; ++key) {
        hashtable::put_pointer(t, key);
        if (key > 10) hashtable::delete_pointer(t, key - 10);
    }
    const hashtable::Record* r = hashtable::record(t);
    EXPECT_EQ(r->count, 10u);
    EXPECT_LE(r->buckets, 64u);
    EXPECT_LE(hashtable::block_length(t), 64u * 3);
    for (NodeId key = 99991; key <= 100000; ++key) EXPECT_NE(hashtable::get_pointer(t, key), nullptr);
}

namespace {
bool even_alive(NodeId n) { return n % 2 == 0; }
}  // namespace

TEST_F(HashTables, SweepDropsDeadKeysAndDeadOwners) {
    NodeId t = hashtable::init(0, 0, hashtable::ownership, 2);
    for (NodeId key = 2; key <= 20; ++key) {
        Cell* v = hashtable::put_pointer(t, key);
        v[1].header = type::object;
        v[1].payload1 = key == 4 ? 7 : 8;  // key 4's owner context is dead
    }
    hashtable::sweep_pointers(t, even_alive, 1);
    for (NodeId key = 2; key <= 20; ++key)
        EXPECT_EQ(hashtable::get_pointer(t, key) != nullptr, key % 2 == 0 && key != 4) << key;
}
