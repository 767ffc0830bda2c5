// The LZ codec. A record is c (u32), u (u32), then blocks; a block is its
// expanded length L (u32, 1 to 0x100000) and a bit stream that starts with an
// empty bit buffer and ends on a byte boundary. Bits are taken least
// significant first; an n-bit field's first bit is its lowest. Items:
//
//   literal  0, then the byte (8 bits)
//   match    1, a length code, a distance code
//
// The length code gives e (the match copies e + 3 bytes, 3 to 566): a prefix
// of up to five 0 bits ended by a 1 picks a class, five 0 bits the last one;
// then the class's field follows (see `classes`). The distance code is a
// 4-bit slot s, then with k = s + 2: d = 2^k + k bits when k > 2, else d = 3
// bits. A match copies byte by byte from d + 1 bytes back, so an overlapping
// copy repeats a pattern; it may not reach before its block or past its end.
//
// The decoder trusts nothing in a record: every read is bounded by the
// record's size and every write by the output's capacity (u + 8). The
// encoder chains earlier positions by a hash of their next three bytes,
// keeps the match that saves the most bits over literals, and looks one
// byte ahead before it takes a short one.
#include "runtime/lz.hpp"

#include <algorithm>
#include <bit>

#include "runtime/error.hpp"
#include "runtime/mem.hpp"

namespace kel::lz {
namespace {

constexpr uint32_t match_min = 3;
constexpr uint32_t match_max = 566;
constexpr uint32_t window = 1u << 18;  // the farthest a match reaches back
constexpr uint32_t header_size = 8;

// The length classes in prefix order: class i is i 0 bits then a 1 bit
// (class 5: five 0 bits), then `bits` bits added to `base`.
struct LengthClass {
    uint32_t base;
    int bits;
};
constexpr LengthClass classes[] = {{0, 2}, {4, 2}, {8, 2}, {12, 3}, {20, 5}, {52, 9}};
constexpr int last_class = 5;
static_assert(classes[last_class].base + (1u << classes[last_class].bits) - 1 + match_min == match_max);

uint32_t read_u32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void write_u32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

// One record being read or written. `overflow` is set, and stays set, when
// the input's end or the output's capacity would be passed.
struct Stream {
    uint8_t* out = nullptr;
    size_t capacity = 0;
    size_t pos = 0;
    const uint8_t* in = nullptr;
    const uint8_t* in_end = nullptr;
    uint64_t bits = 0;
    int count = 0;
    bool overflow = false;
};

uint8_t* reserve(Stream& s, size_t n) {
    if (s.overflow || n > s.capacity - s.pos) {
        s.overflow = true;
        return nullptr;
    }
    uint8_t* p = s.out + s.pos;
    s.pos += n;
    return p;
}

void put_bits(Stream& s, int n, uint32_t value) {
    if (s.overflow) return;
    s.bits |= uint64_t(value) << s.count;
    s.count += n;
    while (s.count >= 8) {
        uint8_t* p = reserve(s, 1);
        if (!p) return;
        *p = uint8_t(s.bits);
        s.bits >>= 8;
        s.count -= 8;
    }
}

void flush_bits(Stream& s) {
    if (s.count > 0) put_bits(s, 8 - s.count, 0);
    s.bits = 0;
    s.count = 0;
}

// Answers 0 once the input is exhausted; the caller checks `overflow`.
uint32_t get_bits(Stream& s, int n) {
    while (s.count < n) {
        if (s.in == s.in_end) {
            s.overflow = true;
            return 0;
        }
        s.bits |= uint64_t(*s.in++) << s.count;
        s.count += 8;
    }
    uint32_t v = uint32_t(s.bits) & ((1u << n) - 1);
    s.bits >>= n;
    s.count -= n;
    return v;
}

uint32_t get_length_code(Stream& s) {
    int c = 0;
    while (c < last_class && get_bits(s, 1) == 0) ++c;
    return classes[c].base + get_bits(s, classes[c].bits);
}

uint32_t get_distance_code(Stream& s) {
    int k = 2 + int(get_bits(s, 4));
    return k > 2 ? (1u << k) + get_bits(s, k) : get_bits(s, 3);
}

// Decodes items until `length` bytes of the block at `block` are written.
bool expand_block(Stream& s, uint8_t* block, uint32_t length) {
    uint32_t at = 0;
    while (at < length) {
        if (get_bits(s, 1) == 0) {
            uint8_t byte = uint8_t(get_bits(s, 8));
            if (s.overflow) return false;
            block[at++] = byte;
            continue;
        }
        uint32_t n = get_length_code(s) + match_min;
        uint32_t d = get_distance_code(s);
        if (s.overflow || d >= at || n > length - at) return false;
        const uint8_t* from = block + at - d - 1;
        for (uint32_t i = 0; i < n; ++i) block[at + i] = from[i];
        at += n;
    }
    return true;
}

// Room for `length` more bytes of output, which may take at most `most`.
// The output grows with the blocks that really come, doubling, so a header
// that claims far more than its blocks hold costs nothing. A refusal of the
// C heap raises no-memory, the output released first.
bool grow_for(Stream& s, size_t length, size_t most) {
    if (length <= s.capacity - s.pos) return true;
    if (length > most - s.pos) return false;
    size_t want = std::min(most, std::max(s.pos + length, 2 * s.capacity));
    void* grown = mem::resize_or_null(s.out, want);
    if (!grown) {
        mem::release(s.out);
        s.out = nullptr;
        error::fire(error::id::no_memory);
    }
    s.out = static_cast<uint8_t*>(grown);
    s.capacity = want;
    return true;
}

bool expand_blocks(Stream& s, size_t most) {
    while (s.in < s.in_end) {
        if (s.in_end - s.in < 4) return false;
        uint32_t length = read_u32(s.in);
        s.in += 4;
        if (length < 1 || length > block_limit) return false;
        if (!grow_for(s, length, most)) return false;
        uint8_t* block = reserve(s, length);
        if (!block) return false;
        s.bits = 0;
        s.count = 0;
        if (!expand_block(s, block, length)) return false;
    }
    return true;
}

constexpr int chain_limit = 64;     // candidates tried per position
constexpr uint32_t lazy_limit = 32; // shorter matches wait to see the next position

int length_class(uint32_t e) {
    int c = last_class;
    while (c > 0 && e < classes[c].base) --c;
    return c;
}

int distance_bits(uint32_t d) { return d < 8 ? 3 : std::bit_width(d) - 1; }

int match_bits(uint32_t length, uint32_t d) {
    int c = length_class(length - match_min);
    return 1 + c + (c < last_class) + classes[c].bits + 4 + distance_bits(d);
}

void put_literal(Stream& s, uint8_t byte) {
    put_bits(s, 1, 0);
    put_bits(s, 8, byte);
}

void put_match(Stream& s, uint32_t length, uint32_t distance) {
    uint32_t e = length - match_min;
    int c = length_class(e);
    put_bits(s, 1, 1);
    put_bits(s, c, 0);
    if (c < last_class) put_bits(s, 1, 1);
    put_bits(s, classes[c].bits, e - classes[c].base);
    uint32_t d = distance - 1;
    if (d < 8) {
        put_bits(s, 4, 0);
        put_bits(s, 3, d);
    } else {
        int k = std::bit_width(d) - 1;
        put_bits(s, 4, uint32_t(k - 2));
        put_bits(s, k, d - (1u << k));
    }
}

struct Match {
    uint32_t length = 0;  // 0: none worth taking
    uint32_t distance = 0;
    int gain = 0;         // bits saved over literals
};

struct Matcher {
    const uint8_t* data = nullptr;  // the block
    uint32_t size = 0;
    int32_t* head = nullptr;        // newest position of each hash, -1 when none
    int32_t* prev = nullptr;        // by position & prev_mask: the next older one
    int head_bits = 0;
    uint32_t prev_mask = 0;
    uint32_t inserted = 0;          // positions below this are chained
};

// Sized for blocks of at most `largest` bytes.
Matcher make_matcher(uint32_t largest) {
    Matcher m;
    m.head_bits = std::clamp(int(std::bit_width(largest)), 10, 17);
    uint32_t prev_size = std::min(window, std::bit_ceil(largest));
    m.prev_mask = prev_size - 1;
    m.head = static_cast<int32_t*>(mem::allocate(sizeof(int32_t) << m.head_bits));
    m.prev = static_cast<int32_t*>(mem::allocate(sizeof(int32_t) * prev_size));
    return m;
}

void start_block(Matcher& m, const uint8_t* data, uint32_t size) {
    m.data = data;
    m.size = size;
    m.inserted = 0;
    std::fill_n(m.head, size_t(1) << m.head_bits, -1);
}

uint32_t hash3(const uint8_t* p, int bits) {
    uint32_t v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
    return (v * 2654435761u) >> (32 - bits);
}

void insert_until(Matcher& m, uint32_t end) {
    uint32_t hashable = m.size >= match_min ? m.size - match_min + 1 : 0;
    for (end = std::min(end, hashable); m.inserted < end; ++m.inserted) {
        uint32_t h = hash3(m.data + m.inserted, m.head_bits);
        m.prev[m.inserted & m.prev_mask] = m.head[h];
        m.head[h] = int32_t(m.inserted);
    }
}

// The best match for position p; chains every position before p first.
Match find_at(Matcher& m, uint32_t p) {
    insert_until(m, p);
    Match best;
    if (p + match_min > m.size) return best;
    uint32_t limit = std::min(match_max, m.size - p);
    const uint8_t* here = m.data + p;
    int32_t cand = m.head[hash3(here, m.head_bits)];
    for (int tries = chain_limit; cand >= 0 && tries > 0; --tries) {
        uint32_t distance = p - uint32_t(cand);
        if (distance > window) break;
        const uint8_t* there = m.data + cand;
        // Farther candidates cost more bits: only a longer match can win.
        if (there[best.length] == here[best.length]) {
            uint32_t n = 0;
            while (n < limit && there[n] == here[n]) ++n;
            if (n >= match_min) {
                int gain = int(n) * 9 - match_bits(n, distance - 1);
                if (gain > best.gain) best = {n, distance, gain};
                if (n == limit) break;
            }
        }
        int32_t older = m.prev[uint32_t(cand) & m.prev_mask];
        if (older >= cand) break;
        cand = older;
    }
    return best;
}

void compress_block(Stream& s, Matcher& m) {
    uint32_t p = 0;
    Match here = find_at(m, 0);
    while (p < m.size && !s.overflow) {
        if (here.length == 0) {
            put_literal(s, m.data[p]);
            here = find_at(m, ++p);
            continue;
        }
        if (here.length < lazy_limit && p + 1 < m.size) {
            Match next = find_at(m, p + 1);
            if (next.gain > here.gain) {
                put_literal(s, m.data[p++]);
                here = next;
                continue;
            }
        }
        put_match(s, here.length, here.distance);
        p += here.length;
        here = find_at(m, p);
    }
}

}  // namespace

uint8_t* decompress(const uint8_t* record, size_t size, size_t* out_size) {
    if (size < header_size) return nullptr;
    uint32_t c = read_u32(record);
    uint32_t u = read_u32(record + 4);
    if (c > size - header_size) return nullptr;
    // The densest item, the longest match, takes 22 bits for 566 bytes: a
    // header claiming more is corrupt, and taking it at its word could ask
    // the heap for gigabytes.
    if (uint64_t(u) * 22 > uint64_t(c) * 8 * match_max) return nullptr;

    Stream s;
    s.in = record + header_size;
    s.in_end = s.in + c;
    if (!expand_blocks(s, size_t(u) + 8)) {
        mem::release(s.out);
        return nullptr;
    }
    if (!s.out) grow_for(s, 1, 1);  // no blocks: still a block to answer
    if (out_size) *out_size = s.pos;
    return s.out;
}

size_t compressed_bound(size_t length) {
    // Literals only: 9 bits a byte, each block padded to a byte and led by its length word.
    size_t blocks = length / block_limit + (length % block_limit != 0);
    return header_size + 5 * blocks + length + length / 8;
}

int64_t compress(const uint8_t* input, size_t length, uint8_t* output, size_t capacity) {
    if (length < min_input || length > UINT32_MAX) return -1;
    Stream s;
    s.out = output;
    s.capacity = capacity;
    uint8_t* header = reserve(s, header_size);
    if (!header) return -1;
    Matcher m = make_matcher(uint32_t(std::min<size_t>(length, block_limit)));
    for (size_t at = 0; at < length && !s.overflow;) {
        uint32_t block = uint32_t(std::min<size_t>(length - at, block_limit));
        uint8_t* word = reserve(s, 4);
        if (!word) break;
        write_u32(word, block);
        start_block(m, input + at, block);
        compress_block(s, m);
        flush_bits(s);
        at += block;
    }
    mem::release(m.head);
    mem::release(m.prev);
    if (s.overflow || s.pos - header_size > UINT32_MAX) return -1;
    write_u32(header, uint32_t(s.pos - header_size));
    write_u32(header + 4, uint32_t(length));
    return int64_t(s.pos);
}

}  // namespace kel::lz
