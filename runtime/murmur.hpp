// MurmurHash3 x86_32, the one hash function of the runtime's tables, and its
// finaliser fmix32, which alone mixes integer-like keys.
#pragma once
#include <cstddef>
#include <cstdint>

namespace kel::murmur {

// The seed of every table, fixed at start-up before the first table is made.
extern uint32_t seed;

constexpr uint32_t fmix32(uint32_t h) {
    h ^= h >> 16;
    h *= 0x85ebca6b;
    h ^= h >> 13;
    h *= 0xc2b2ae35;
    h ^= h >> 16;
    return h;
}

uint32_t hash(const void* data, size_t length, uint32_t seed);

// The body step and the finalisation, for callers that feed 32-bit blocks
// one at a time (the string hash folds case per character).
constexpr uint32_t rotl(uint32_t x, int r) { return (x << r) | (x >> (32 - r)); }

constexpr uint32_t mix_block(uint32_t h, uint32_t k) {
    k *= 0xcc9e2d51;
    k = rotl(k, 15);
    k *= 0x1b873593;
    h ^= k;
    h = rotl(h, 13);
    return h * 5 + 0xe6546b64;
}

constexpr uint32_t finish(uint32_t h, size_t length) { return fmix32(h ^ uint32_t(length)); }

}  // namespace kel::murmur
