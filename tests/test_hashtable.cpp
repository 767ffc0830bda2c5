#include <gtest/gtest.h>

#include <functional>

#include "runtime/datatype.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/hashtable.hpp"
#include "tests/support/runtime.hpp"
#include "tests/support/values.hpp"

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
        NodeId t = test::keep_table(hashtable::init(c.size, 0, c.kind, 1));
        EXPECT_EQ(hashtable::record(t)->buckets, c.buckets) << c.size;
        EXPECT_EQ(hashtable::record(t)->upper, c.upper) << c.size;
    }
}

TEST_F(HashTables, IdentityEntries) {
    NodeId t = test::keep_table(hashtable::init(0, 0, hashtable::identity, 2));
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
    NodeId t = test::keep_table(hashtable::init(16, 0, hashtable::ownership, 2));
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

// The flag and key arrays are made one after the other: a collection while
// the second is made must not take the first, which nothing stores yet.
TEST_F(HashTables, ArraysSurviveCollectionsWhileTheyAreMade) {
    struct Case {
        hashtable::Kind kind;
        uint32_t mode;
    } cases[] = {{hashtable::identity, 2}, {hashtable::ownership, 2}, {hashtable::words, 0}};
    for (const Case& c : cases) {
        NodeId t;
        {
            test::StressMode stress(true);
            t = test::keep_table(hashtable::init(0, 0, c.kind, c.mode));
            if (c.kind == hashtable::words)
                for (int i = 0; i < 40; ++i) hashtable::find_symbol(t, ("w" + std::to_string(i)).c_str(), 2 + (i > 9), false);
            else
                for (NodeId key = 1; key <= 40; ++key) hashtable::put_pointer(t, key);  // grows twice
        }
        const hashtable::Record* r = hashtable::record(t);
        for (NodeId part : {r->flags, r->keys}) {
            ASSERT_NE(alloc::buffer_of(part), nullptr) << c.kind;
            EXPECT_EQ(alloc::buffer_of(part)->node, part) << c.kind;
        }
        if (c.kind != hashtable::words)
            for (NodeId key = 1; key <= 40; ++key) EXPECT_NE(hashtable::get_pointer(t, key), nullptr) << key;
    }
}

namespace {
bool even_alive(NodeId n) { return n % 2 == 0; }
}  // namespace

TEST_F(HashTables, SweepDropsDeadKeysAndDeadOwners) {
    NodeId t = test::keep_table(hashtable::init(0, 0, hashtable::ownership, 2));
    for (NodeId key = 2; key <= 20; ++key) {
        Cell* v = hashtable::put_pointer(t, key);
        v[1].header = type::object;
        v[1].payload1 = key == 4 ? 7 : 8;  // key 4's owner context is dead
    }
    hashtable::sweep_pointers(t, even_alive, 1);
    for (NodeId key = 2; key <= 20; ++key)
        EXPECT_EQ(hashtable::get_pointer(t, key) != nullptr, key % 2 == 0 && key != 4) << key;
}

namespace {

// Integer keys compare through their own handler in these tables.
int32_t compare_integers(const Cell* a, const Cell* b, int32_t) {
    int32_t x = cell::integer(a), y = cell::integer(b);
    return x < y ? -1 : x > y ? 1 : 0;
}

struct KeyedTables : test::WithRuntime {
    void SetUp() override {
        WithRuntime::SetUp();
        datatype::Row row(datatype::unsupported);
        row.set(action::compare, &compare_integers);
        datatype::register_type({type::integer, 0, "integer!", row.handlers});
    }
    NodeId block_of(std::initializer_list<int32_t> values) {
        NodeId node = test::keep_block(alloc::alloc_cells(values.size()));
        for (int32_t v : values) cell::set_integer(series::bump_tail(alloc::buffer_of(node)), v);
        return node;
    }
    static Cell key(int32_t v) {
        Cell c;
        cell::set_integer(&c, v);
        return c;
    }
    static int32_t position(NodeId block, const Cell* found) {
        SeriesBuffer* b = alloc::buffer_of(block);
        return found ? int32_t(found - reinterpret_cast<const Cell*>(b->data() + b->offset)) : -1;
    }
};

}  // namespace

TEST_F(KeyedTables, HashFindsEachOfEqualValuesInTurn) {
    NodeId block = block_of({7, 1, 7, 2, 7, 3});
    NodeId t = test::keep_table(hashtable::init(6, block, hashtable::hash_cells, 0));
    Cell seven = key(7);
    struct Case {
        int32_t start, skip;
        bool last, reverse;
        int32_t found;
    } cases[] = {
        {0, 1, false, false, 0}, {1, 1, false, false, 2}, {3, 1, false, false, 4}, {5, 1, false, false, -1},
        {1, 2, false, false, -1},  // from 1 in steps of 2 only odd positions qualify
        {0, 2, false, false, 0},  {0, 4, true, false, 4},  {5, 1, false, true, 4}, {2, 1, false, true, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(position(block, hashtable::get(t, &seven, c.start, c.skip, 0, c.last, c.reverse)), c.found)
            << c.start << " " << c.skip << " " << c.last << " " << c.reverse;
    hashtable::remove(t, 2);
    EXPECT_EQ(position(block, hashtable::get(t, &seven, 1, 1, 0, false, false)), 4);
    hashtable::remove(t, 0);
    hashtable::remove(t, 4);
    EXPECT_EQ(hashtable::get(t, &seven, 0, 1, 0, false, false), nullptr);
    Cell two = key(2);
    EXPECT_EQ(position(block, hashtable::get(t, &two, 0, 1, 0, false, false)), 3);
}

TEST_F(KeyedTables, MapKeepsOnePairPerKey) {
    NodeId block = block_of({1, 10, 2, 20, 1, 30});
    NodeId t = test::keep_table(hashtable::init(3, block, hashtable::map_keys, 0));
    EXPECT_EQ(hashtable::block_length(t), 4u);  // the repeated key's pair left the block
    Cell one = key(1);
    const Cell* found = hashtable::get(t, &one, 0, 1, 2, false, false);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(position(block, found), 0);   // the first key's place
    EXPECT_EQ(cell::integer(found + 1), 30);  // with the last value
}

// A map with steady size under put and remove churn stays bounded.
TEST_F(KeyedTables, MapChurnStaysBounded) {
    NodeId block = block_of({});
    NodeId t = test::keep_table(hashtable::init(8, block, hashtable::map_keys, 0));
    for (int32_t k = 0; k < 20000; ++k) {
        SeriesBuffer* b = alloc::buffer_of(block);
        uint32_t at = (b->tail - b->offset) / 16;
        cell::set_integer(series::bump_tail(alloc::buffer_of(block)), k);
        cell::set_integer(series::bump_tail(alloc::buffer_of(block)), -k);
        hashtable::put(t, at);
        if (k >= 8) {
            Cell old = key(k - 8);
            Cell* gone = hashtable::get(t, &old, 0, 1, 2, false, false);
            ASSERT_NE(gone, nullptr) << k;
            hashtable::remove(t, uint32_t(position(block, gone)));
        }
    }
    EXPECT_EQ(hashtable::record(t)->count, 8u);
    EXPECT_LE(hashtable::record(t)->buckets, 32u);
    Cell newest = key(19999), oldest = key(19991);
    EXPECT_NE(hashtable::get(t, &newest, 0, 1, 2, false, false), nullptr);
    EXPECT_EQ(hashtable::get(t, &oldest, 0, 1, 2, false, false), nullptr);
}

TEST_F(KeyedTables, GrowingHashKeepsEveryPosition) {
    NodeId block = block_of({});
    NodeId t = test::keep_table(hashtable::init(0, block, hashtable::hash_cells, 0));
    for (int32_t k = 0; k < 5000; ++k) {
        cell::set_integer(series::bump_tail(alloc::buffer_of(block)), k % 1000);
        hashtable::put(t, uint32_t(k));
    }
    for (int32_t k = 0; k < 1000; k += 37) {
        Cell v = key(k);
        EXPECT_EQ(position(block, hashtable::get(t, &v, 0, 1, 0, false, false)), k);
        EXPECT_EQ(position(block, hashtable::get(t, &v, 0, 1, 0, true, false)), 4000 + k);
    }
}

// Each key met again gets a list of its positions, stored in the table's
// list of lists: a collection while that list grows must keep the new one.
TEST_F(KeyedTables, ListsOfEqualKeysSurviveCollections) {
    NodeId block = block_of({});
    NodeId t;
    {
        test::StressMode stress(true);
        t = test::keep_table(hashtable::init(0, block, hashtable::hash_cells, 0));
        for (int32_t k = 0; k < 600; ++k) {
            cell::set_integer(series::bump_tail(alloc::buffer_of(block)), k % 200);
            hashtable::put(t, uint32_t(k));
        }
    }
    for (int32_t k = 0; k < 200; k += 13) {
        Cell v = key(k);
        for (int32_t n = 0; n < 3; ++n)
            EXPECT_EQ(position(block, hashtable::get(t, &v, 200 * n, 1, 0, false, false)), 200 * n + k) << k;
    }
}

TEST_F(KeyedTables, CaseVariantsOfAStringShareABucket) {
    Cell &a = test::keep(), &b = test::keep();
    string::make_from_utf8(&a, "Hello \xc3\xa9", 7);
    string::make_from_utf8(&b, "hELLO \xc3\x89", 7);
    EXPECT_EQ(hashtable::hash_cell(&a), hashtable::hash_cell(&b));
    Cell& c = test::keep();
    string::make_from_utf8(&c, "hello!", 6);
    EXPECT_NE(hashtable::hash_cell(&a), hashtable::hash_cell(&c));
}

// A size past what a table can index (its key array must fit in a series)
// raises no-memory before anything is made, for every kind of table and
// every way a bucket count is chosen. The power-of-two rounding used to
// double a 32-bit count until it wrapped to 0, looping for ever.
TEST_F(KeyedTables, SizesPastTheLargestTableRaiseAtOnce) {
    NodeId block = block_of({1, 2, 3, 4});
    struct Case {
        hashtable::Kind kind;
        NodeId block;
    } kinds[] = {{hashtable::hash_cells, block}, {hashtable::map_keys, block}, {hashtable::words, 0},
                 {hashtable::identity, 0}, {hashtable::ownership, 0}};
    for (const Case& c : kinds)
        for (uint32_t size : {UINT32_MAX, 2000000000u, 1u << 30, 210000000u})
            EXPECT_EQ(test::error_of([&] { hashtable::init(size, c.block, c.kind, 1); }), "no-memory")
                << c.kind << " " << size;

    // A rebuild for too many keys leaves the table as it was.
    NodeId t = test::keep_table(hashtable::init(4, block, hashtable::hash_cells, 0));
    EXPECT_EQ(test::error_of([&] { hashtable::rebuild(t, UINT32_MAX); }), "no-memory");
    Cell three = key(3);
    EXPECT_EQ(position(block, hashtable::get(t, &three, 0, 1, 0, false, false)), 2);
}

// A full table at the largest bucket counts cannot grow: the insertion
// raises no-memory. The record is made to claim such a count; growth reads
// nothing else before it fails.
TEST_F(KeyedTables, FullTablesPastTheLargestDoNotGrow) {
    NodeId block = block_of({1, 10, 2, 20});
    NodeId map = test::keep_table(hashtable::init(2, block, hashtable::map_keys, 0));
    NodeId hash = test::keep_table(hashtable::init(4, block, hashtable::hash_cells, 0));
    NodeId words = test::keep_table(hashtable::init(4, 0, hashtable::words, 0));
    struct Case {
        NodeId table;
        std::function<void()> insert;
    } cases[] = {
        {map, [&] { hashtable::put(map, 2); }},
        {hash, [&] { hashtable::put(hash, 3); }},
        {words, [&] { hashtable::find_symbol(words, "new", 3, false); }},
    };
    for (const Case& c : cases) {
        hashtable::Record* r = hashtable::record(c.table);
        const hashtable::Record real = *r;
        r->buckets = 1u << 31;
        r->count = 1u << 30;
        r->occupied = r->upper = uint32_t(0.77 * double(1u << 31));
        EXPECT_EQ(test::error_of(c.insert), "no-memory") << hashtable::record(c.table)->kind;
        *hashtable::record(c.table) = real;
    }
}
