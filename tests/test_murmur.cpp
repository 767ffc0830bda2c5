#include <gtest/gtest.h>

#include <cstring>

#include "runtime/murmur.hpp"

using namespace kel;

TEST(Murmur, PublishedVectors) {
    struct Case {
        const char* text;
        size_t length;
        uint32_t seed, hash;
    } cases[] = {
        {"", 0, 0, 0},
        {"", 0, 1, 0x514E28B7},
        {"", 0, 0xFFFFFFFF, 0x81F16F39},
        {"\0\0\0\0", 4, 0, 0x2362F9DE},
        {"a", 1, 0x9747B28C, 0x7FA09EA6},
        {"Hello, world!", 13, 0x9747B28C, 0x24884CBA},
        {"The quick brown fox jumps over the lazy dog", 43, 0x9747B28C, 0x2FA826CD},
        {"abc", 3, 0, 0xB3DD93FA},
        {"hello", 5, 0, 0x248BFA47},
    };
    for (const Case& c : cases) EXPECT_EQ(murmur::hash(c.text, c.length, c.seed), c.hash) << c.text;
}

// The standard verification: keys 0, 0 1, 0 1 2 ... hashed with seed 256 - i,
// then the 256 results hashed with seed 0.
TEST(Murmur, VerificationValue) {
    uint8_t key[256];
    uint8_t results[256 * 4];
    for (int i = 0; i < 256; ++i) {
        key[i] = uint8_t(i);
        uint32_t h = murmur::hash(key, size_t(i), uint32_t(256 - i));
        std::memcpy(results + 4 * i, &h, 4);
    }
    EXPECT_EQ(murmur::hash(results, sizeof results, 0), 0xB0F57EE3u);
}

TEST(Murmur, BlockStepsMatchTheWholeHash) {
    const char text[] = "twelve bytes";
    uint32_t h = 7;
    for (int i = 0; i < 3; ++i) {
        uint32_t k;
        std::memcpy(&k, text + 4 * i, 4);
        h = murmur::mix_block(h, k);
    }
    EXPECT_EQ(murmur::finish(h, 12), murmur::hash(text, 12, 7));
}
