#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "runtime/mem.hpp"
#include "runtime/lz.hpp"
#include "runtime/system.hpp"

using namespace kel;
using Bytes = std::vector<uint8_t>;

namespace {

// Writes items as the record format lays them out, one bit at a time.
struct Bits {
    Bytes bytes;
    size_t count = 0;

    Bits& put(int n, uint32_t value) {
        for (int i = 0; i < n; ++i, ++count) {
            if (count % 8 == 0) bytes.push_back(0);
            bytes.back() |= uint8_t(((value >> i) & 1) << (count % 8));
        }
        return *this;
    }
    Bits& literal(uint8_t byte) { return put(1, 0).put(8, byte); }
    Bits& literals(const Bytes& b) {
        for (uint8_t x : b) literal(x);
        return *this;
    }
    // length 3 to 566, copying from `back` bytes back (1 to 2^18).
    Bits& match(uint32_t length, uint32_t back) {
        struct Code {
            const char* prefix;
            int bits;
            uint32_t first;
        } codes[] = {{"1", 2, 0}, {"01", 2, 4}, {"001", 2, 8}, {"0001", 3, 12}, {"00001", 5, 20}, {"00000", 9, 52}};
        put(1, 1);
        uint32_t e = length - 3;
        int c = 5;
        while (e < codes[c].first) --c;
        for (const char* p = codes[c].prefix; *p; ++p) put(1, *p == '1');
        put(codes[c].bits, e - codes[c].first);
        uint32_t d = back - 1;
        if (d < 8) return put(4, 0).put(3, d);
        int k = 2;
        while (d >> (k + 1)) ++k;
        return put(4, uint32_t(k - 2)).put(k, d - (1u << k));
    }
};

void put_u32(Bytes& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

struct Block {
    uint32_t length;
    Bytes stream;
};

// A record of the blocks; u defaults to the sum of their lengths.
Bytes record(const std::vector<Block>& blocks, int64_t u = -1) {
    Bytes area;
    uint64_t total = 0;
    for (const Block& b : blocks) {
        put_u32(area, b.length);
        area.insert(area.end(), b.stream.begin(), b.stream.end());
        total += b.length;
    }
    Bytes r;
    put_u32(r, uint32_t(area.size()));
    put_u32(r, uint32_t(u < 0 ? total : uint64_t(u)));
    r.insert(r.end(), area.begin(), area.end());
    return r;
}

size_t heap_blocks() {
    size_t n = 0;
    for (auto* b = sys::record.heap_list->head; b; b = b->next) ++n;
    return n;
}

struct Expanded {
    bool ok = false;
    Bytes bytes;
};

// Expands `size` bytes of r (all of it by default) from an exact-size copy,
// so that any read past them is a fault under ASan.
Expanded expand(const Bytes& r, size_t size = SIZE_MAX) {
    Bytes copy(r.begin(), r.begin() + std::min(size, r.size()));
    size_t before = heap_blocks();
    size_t produced = 12345;
    uint8_t* out = lz::decompress(copy.data(), copy.size(), &produced);
    Expanded e;
    if (out) {
        e.ok = true;
        e.bytes.assign(out, out + produced);
        mem::release(out);
    }
    EXPECT_EQ(heap_blocks(), before) << "the output block leaked";
    return e;
}

Bytes random_bytes(size_t n, uint32_t seed) {
    std::mt19937 g(seed);
    Bytes b(n);
    for (uint8_t& x : b) x = uint8_t(g());
    return b;
}

Bytes as_bytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

}  // namespace

TEST(LzDecode, HandWrittenRecords) {
    // 'A' is 0x41: the flag bit 0, then the byte's bits lowest first.
    Bytes a = {6, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0x82, 0x00};
    EXPECT_EQ(expand(a).bytes, as_bytes("A"));
    // 'A', then a match: 1, length prefix 1 and field 00 (3 bytes), slot 0000
    // and 3-bit field 000 (from 1 byte back).
    Bytes aaaa = {7, 0, 0, 0, 4, 0, 0, 0, 4, 0, 0, 0, 0x82, 0x06, 0x00};
    EXPECT_EQ(expand(aaaa).bytes, as_bytes("AAAA"));
    Bytes empty = {0, 0, 0, 0, 0, 0, 0, 0};
    Expanded e = expand(empty);
    EXPECT_TRUE(e.ok);
    EXPECT_TRUE(e.bytes.empty());
}

TEST(LzDecode, EveryLengthClassAndOverlappingCopies) {
    for (uint32_t length : {3u, 6u, 7u, 10u, 11u, 14u, 15u, 22u, 23u, 54u, 55u, 300u, 565u, 566u}) {
        Bits bits;
        bits.literal('x').literal('y').match(length, 2);
        Bytes want;
        for (uint32_t i = 0; i < length + 2; ++i) want.push_back(i % 2 ? 'y' : 'x');
        EXPECT_EQ(expand(record({{length + 2, bits.bytes}})).bytes, want) << length;
    }
}

TEST(LzDecode, EveryDistanceSlotAtBothEnds) {
    std::vector<uint32_t> backs = {1, 8};
    for (int k = 3; k <= 17; ++k) backs.insert(backs.end(), {(1u << k) + 1, 1u << (k + 1)});
    for (uint32_t back : backs) {
        Bytes text = random_bytes(back, back);
        Bits bits;
        bits.literals(text).match(3, back);
        Bytes want = text;
        for (int i = 0; i < 3; ++i) want.push_back(want[want.size() - back]);
        EXPECT_EQ(expand(record({{back + 3, bits.bytes}})).bytes, want) << back;
    }
}

TEST(LzDecode, AcceptedEdges) {
    Bits longest;  // one block of exactly 0x100000 bytes, in the densest coding
    longest.literal('z');
    uint32_t left = lz::block_limit - 1;
    for (; left >= 566; left -= 566) longest.match(566, 1);
    longest.match(left, 1);
    Bits eight;
    eight.literals(as_bytes("12345678"));
    Bits one;
    one.literal('1');

    struct Case {
        const char* what;
        Bytes record;
        Bytes want;
    } cases[] = {
        {"a block of 0x100000 bytes", record({{lz::block_limit, longest.bytes}}), Bytes(lz::block_limit, 'z')},
        {"the output may take u + 8 bytes", record({{8, eight.bytes}}, 0), as_bytes("12345678")},
        {"blocks one after another", record({{1, one.bytes}, {8, eight.bytes}, {1, one.bytes}}), as_bytes("1123456781")},
        // The record ends after its first block: a shorter result than u says.
        {"c ends at a block boundary", record({{1, one.bytes}}, 100), as_bytes("1")},
    };
    for (const Case& c : cases) {
        Expanded e = expand(c.record);
        EXPECT_TRUE(e.ok) << c.what;
        EXPECT_EQ(e.bytes, c.want) << c.what;
    }
}

TEST(LzDecode, FaultsAreRejected) {
    Bits too_long;  // 0x100001 bytes, densely enough that u is believable
    too_long.literal('z');
    uint32_t left = lz::block_limit;
    for (; left >= 566; left -= 566) too_long.match(566, 1);
    too_long.match(left, 1);
    Bits one, nine, match_back_2, match_4;
    one.literal('1');
    nine.literals(as_bytes("123456789"));
    match_back_2.literal('a').match(3, 2);
    match_4.literal('a').match(4, 1);
    Bytes c_too_big = record({{1, one.bytes}});
    c_too_big[0] += 1;
    Bytes trailing = record({{1, one.bytes}});
    trailing.insert(trailing.end(), {1, 0, 0});
    trailing[0] += 3;

    struct Case {
        const char* what;
        Bytes record;
    } cases[] = {
        {"header cut short", {0, 0, 0, 0, 0, 0, 0}},
        {"c beyond the bytes given", c_too_big},
        {"block length 0", record({{0, one.bytes}})},
        {"block length 0x100001", record({{lz::block_limit + 1, too_long.bytes}})},
        {"more output than u + 8", record({{9, nine.bytes}}, 0)},
        {"a match before its block's start", record({{4, match_back_2.bytes}})},
        {"a match into the previous block", record({{1, one.bytes}, {4, match_back_2.bytes}})},
        {"a match past its block's end", record({{4, match_4.bytes}})},
        {"the bit stream ends inside an item", record({{2, one.bytes}})},
        {"the bit stream ends inside the last block", record({{1, one.bytes}, {2, one.bytes}})},
        {"c ends inside a length word", trailing},
        {"u more than c could expand to", record({}, 1)},
        {"u of 4 GiB", record({{1, one.bytes}}, 0xFFFFFFFF)},
    };
    for (const Case& c : cases) EXPECT_FALSE(expand(c.record).ok) << c.what;
}

namespace {

Bytes text(size_t n, uint32_t seed) {
    static const char* words[] = {"the", "handle", "table", "records", "of", "a", "kind", "release",
                                  "block", "stream", "match", "literal", "and", "\n", "distance", "is"};
    std::mt19937 g(seed);
    std::string s;
    while (s.size() < n) s += std::string(words[g() % 16]) + (g() % 7 ? " " : ", ");
    s.resize(n);
    return as_bytes(s);
}

Bytes pattern(size_t n, const std::string& unit) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = uint8_t(unit[i % unit.size()]);
    return b;
}

Bytes twice(const Bytes& b) {
    Bytes r = b;
    r.insert(r.end(), b.begin(), b.end());
    return r;
}

Bytes compress(const Bytes& input) {
    Bytes out(lz::compressed_bound(input.size()));
    int64_t n = lz::compress(input.data(), input.size(), out.data(), out.size());
    EXPECT_GT(n, 0);
    out.resize(size_t(std::max<int64_t>(n, 0)));
    return out;
}

uint32_t word_at(const Bytes& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

}  // namespace

TEST(LzRoundTrip, DataOfManyKindsAndSizes) {
    const size_t mib = lz::block_limit;
    struct Case {
        const char* what;
        Bytes input;
        double most;  // compressed size over input size, at most
    } cases[] = {
        {"random, shortest accepted", random_bytes(128, 1), 1.25},
        {"random", random_bytes(129, 2), 1.25},
        {"random", random_bytes(5000, 3), 1.13},
        {"random, one full block", random_bytes(mib, 4), 1.126},
        {"random, a block and one byte", random_bytes(mib + 1, 5), 1.126},
        {"text", text(128, 6), 1.1},
        {"text", text(20000, 7), 0.6},
        {"text, several blocks", text(2 * mib + 777, 8), 0.5},
        {"zeros", Bytes(128, 0), 0.3},
        {"zeros, several blocks", Bytes(3 * mib + 1, 0), 0.006},
        {"a 7-byte pattern", pattern(100000, "abcdefg"), 0.01},
        {"a 300-byte pattern", pattern(100000, std::string(reinterpret_cast<const char*>(random_bytes(300, 9).data()), 300)), 0.02},
        // Repeats at the farthest distance a match reaches, and one beyond it.
        {"random, repeated 2^18 bytes later", twice(random_bytes(1 << 18, 10)), 0.6},
        {"random, repeated 2^18 + 1 bytes later", twice(random_bytes((1 << 18) + 1, 11)), 1.126},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.what << ", " << c.input.size() << " bytes");
        Bytes packed = compress(c.input);
        ASSERT_GE(packed.size(), 8u);
        EXPECT_LE(packed.size(), lz::compressed_bound(c.input.size()));
        EXPECT_LE(double(packed.size()), c.most * double(c.input.size()));
        EXPECT_EQ(word_at(packed, 0), packed.size() - 8);
        EXPECT_EQ(word_at(packed, 4), c.input.size());
        Expanded e = expand(packed);
        ASSERT_TRUE(e.ok);
        EXPECT_TRUE(e.bytes == c.input);
    }
}

TEST(LzRoundTrip, EncoderRefusesShortInputsAndSmallOutputs) {
    Bytes in = text(1000, 12);
    Bytes out(lz::compressed_bound(in.size()));
    for (size_t n : {0, 1, 127}) EXPECT_EQ(lz::compress(in.data(), n, out.data(), out.size()), -1) << n;
    int64_t need = lz::compress(in.data(), in.size(), out.data(), out.size());
    ASSERT_GT(need, 0);
    Bytes exact(size_t(need), 0), short_one(size_t(need - 1), 0);
    EXPECT_EQ(lz::compress(in.data(), in.size(), exact.data(), exact.size()), need);
    EXPECT_EQ(lz::compress(in.data(), in.size(), short_one.data(), short_one.size()), -1);
    EXPECT_EQ(lz::compress(in.data(), in.size(), out.data(), 7), -1);
}

// A record whose size word promises fewer bytes than its blocks need: the
// bit reader must stop at the record's end, not read on.
TEST(LzDamage, CutRecordsAreRejected) {
    Bytes packed = compress(text(3000, 13));
    uint32_t c = word_at(packed, 0);
    for (uint32_t cut = 0; cut < c; ++cut) {
        Bytes r = packed;
        r.resize(8 + cut);
        r[0] = uint8_t(cut);
        r[1] = uint8_t(cut >> 8);
        EXPECT_FALSE(expand(r).ok) << "size word " << cut;
        EXPECT_FALSE(expand(packed, 8 + cut).ok) << "bytes given " << 8 + cut;
    }
}

TEST(LzDamage, CorruptBytesAreRejectedOrStayInBounds) {
    Bytes input = text(700, 14);
    Bytes packed = compress(input);
    std::mt19937 g(15);
    size_t rejected = 0;
    for (size_t at = 0; at < packed.size(); ++at) {
        for (int round = 0; round < 4; ++round) {
            Bytes r = packed;
            r[at] ^= uint8_t(1 + g() % 255);
            size_t produced = 0;
            uint8_t* out = lz::decompress(r.data(), r.size(), &produced);
            if (!out) {
                ++rejected;
                continue;
            }
            EXPECT_LE(produced, size_t(word_at(r, 4)) + 8);
            mem::release(out);
        }
    }
    EXPECT_GT(rejected, packed.size());  // much of the damage shows
}

// The output grows with the blocks that come, not with the u the header
// claims: literals, 9 bits a byte, under a header claiming all that their
// bits could hold in the densest coding (about 200 times more).
TEST(LzDecode, OutputGrowsWithTheBlocksNotTheClaim) {
    Bits literals;
    literals.literals(random_bytes(4000, 5));
    uint32_t c = word_at(record({{4000, literals.bytes}}), 0);
    Bytes r = record({{4000, literals.bytes}}, int64_t(uint64_t(c) * 8 * 566 / 22));
    ASSERT_GT(word_at(r, 4), 900000u);
    size_t produced = 0;
    uint8_t* out = lz::decompress(r.data(), r.size(), &produced);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(produced, 4000u);
    EXPECT_LE((reinterpret_cast<mem::HeapBlockHeader*>(out) - 1)->size, 2 * produced);
    mem::release(out);
}
