// The generator: frozen sequences across its regenerations, the 31-bit
// bound of every word, and the range mapping of next_int at its edges.
#include <gtest/gtest.h>

#include <climits>
#include <set>
#include <vector>

#include "runtime/random.hpp"

using namespace kel;

namespace {

std::vector<uint32_t> words(size_t count) {
    std::vector<uint32_t> w(count);
    for (uint32_t& x : w) x = random::next_word();
    return w;
}

}  // namespace

// Words 0-4, those around the first regeneration (at 624) and around the
// second (at 1248). Seeds 0 and 0xFFFFFFFF seed the same words from word 1
// on (-1 shifted right with its sign is -1 again, so -1 ^ (-1 >> 30) is 0,
// as for 0): their outputs agree until a regeneration reads word 0.
TEST(Random, FrozenSequences) {
    const size_t at[] = {0, 1, 2, 3, 4, 622, 623, 624, 625, 626, 1247, 1248, 1249};
    struct Case {
        uint32_t seed;
        bool by_init;  // seeded by random::init rather than init_genrand
        uint32_t expected[std::size(at)];
    } cases[] = {
        {0, false,
         {0, 4194449, 1288460453, 1839137408, 1331836786, 832724227, 382253902, 503881347, 1420691967,
          1095544862, 555893184, 82993632, 1973643177}},
        {0xFFFFFFFF, false,
         {0, 4194449, 1288460453, 1839137408, 1331836786, 832724227, 382253902, 1108309629, 1420691967,
          1095544862, 19286465, 1492486430, 1973643177}},
        {5489, false,
         {46662977, 1228475205, 1486624396, 1058804182, 1470644072, 2040677772, 994730486, 31526908,
          1465395198, 1404365412, 1158754290, 403217492, 1473210388}},
        {random::default_seed, true,
         {1573102752, 2054623780, 1026451266, 162962650, 2096484112, 1322292666, 779737127, 299300835,
          1547650282, 584073194, 864815447, 141349932, 1308001491}},
    };
    for (const Case& c : cases) {
        if (c.by_init) {
            random::init_genrand(12345);  // init must replace this state entirely
            random::next_word();
            random::init();
        } else {
            random::init_genrand(c.seed);
        }
        std::vector<uint32_t> w = words(1250);
        for (size_t i = 0; i < std::size(at); ++i)
            EXPECT_EQ(w[at[i]], c.expected[i]) << "seed " << c.seed << ", word " << at[i];
    }
}

// The top bit is always clear, and bit 30 is reached: no word is wider
// than 31 bits and none is narrower.
TEST(Random, EveryWordIsBelowTwoToThe31) {
    for (uint32_t seed : {0u, 1u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu, random::default_seed}) {
        random::init_genrand(seed);
        uint32_t widest = 0;
        for (int i = 0; i < 5000; ++i) widest = std::max(widest, random::next_word());
        EXPECT_LT(widest, 0x80000000u) << "seed " << seed;
        EXPECT_GE(widest, 0x40000000u) << "seed " << seed;
    }
    uint32_t widest = 0;
    std::set<uint32_t> seen;
    for (int i = 0; i < 1000; ++i) {
        uint32_t w = random::secure_word();
        widest = std::max(widest, w);
        seen.insert(w);
    }
    EXPECT_LT(widest, 0x80000000u);
    EXPECT_GE(widest, 0x40000000u);
    EXPECT_GT(seen.size(), 990u);
}

// Seed 0 starts with the word 0, and the default seed with 1573102752, which
// fix what one draw maps to at every kind of bound.
TEST(Random, RangeMappingOfKnownWords) {
    struct Case {
        uint32_t seed;
        int32_t n;
        int32_t expected;
    } cases[] = {
        {0, 0, 0},
        {0, 1, 1},
        {0, 6, 1},
        {0, INT_MAX, 1},
        {0, -1, -1},
        {0, -6, -1},
        {0, -INT_MAX, -1},
        {0, INT_MIN, -1},  // -1 - 0
        {random::default_seed, 1000, 753},
        {random::default_seed, -1000, -753},
        {random::default_seed, INT_MAX, 1573102753},
        {random::default_seed, -INT_MAX, -1573102753},
        {random::default_seed, INT_MIN, -1573102753},  // -1 - w
    };
    for (const Case& c : cases) {
        random::init_genrand(c.seed);
        EXPECT_EQ(random::next_int(false, c.n), c.expected) << "seed " << c.seed << ", n " << c.n;
    }
    // A bound of 0 draws nothing.
    random::init_genrand(random::default_seed);
    random::next_int(false, 0);
    EXPECT_EQ(random::next_word(), 1573102752u);
}

// Results stay inside the range for both sources, and a small range is
// covered whole.
TEST(Random, RangesAtTheEdges) {
    struct Case {
        int32_t n;
        int32_t low, high;
    } cases[] = {
        {1, 1, 1},
        {2, 1, 2},
        {3, 1, 3},
        {100, 1, 100},
        {(1 << 30) + 1, 1, (1 << 30) + 1},
        {INT_MAX, 1, INT_MAX},
        {-1, -1, -1},
        {-3, -3, -1},
        {-(1 << 30) - 1, -(1 << 30) - 1, -1},
        {INT_MIN + 1, INT_MIN + 1, -1},
        {INT_MIN, INT_MIN, -1},
    };
    random::init_genrand(7);
    for (bool secure : {false, true}) {
        for (const Case& c : cases) {
            std::set<int32_t> seen;
            for (int i = 0; i < 300; ++i) {
                int32_t r = random::next_int(secure, c.n);
                ASSERT_GE(r, c.low) << "n " << c.n << (secure ? " secure" : "");
                ASSERT_LE(r, c.high) << "n " << c.n << (secure ? " secure" : "");
                seen.insert(r);
            }
            if (int64_t(c.high) - c.low < 3) {
                EXPECT_EQ(seen.size(), size_t(c.high - c.low + 1)) << "n " << c.n;
            }
        }
    }
}

// With n = 1431655765 (about 2/3 of 2^31) only one whole multiple of n fits
// below 2^31, so a third of all words are redrawn. Folding them instead
// (w mod n) would land them all in the lower half of the range and leave a
// third of the results above n / 2, not a half.
TEST(Random, LargeRangesRedrawInsteadOfFoldingOver) {
    const int32_t n = 1431655765;
    for (bool secure : {false, true}) {
        random::init_genrand(99);
        int upper = 0;
        const int draws = 4000;
        for (int i = 0; i < draws; ++i) upper += random::next_int(secure, n) > n / 2;
        EXPECT_NEAR(double(upper) / draws, 0.5, 0.05) << (secure ? "secure" : "");
    }
}
