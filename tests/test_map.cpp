// map!: molded text that evaluates back, and the memory a map keeps under
// put and remove churn.
#include <gtest/gtest.h>

#include "runtime/datatypes/map.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/hashtable.hpp"
#include "tests/support/environment.hpp"

using namespace kel;
using namespace kel::test;

namespace {

struct Map : WithEnvironment<WithSeries> {};

}  // namespace

TEST_F(Map, MoldLoadsBack) {
    for (const char* source : {"make map! [a 1 b \"x\" 3 [4]]", "make map! []", "make map! [k #[j 1]]"}) {
        std::string molded = eval(source);
        EXPECT_EQ(eval(molded.c_str()), molded) << source;
    }
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
