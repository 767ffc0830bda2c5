#include "runtime/murmur.hpp"

#include <cstring>

namespace kel::murmur {

uint32_t seed = 0x4B656C21;

uint32_t hash(const void* data, size_t length, uint32_t seed) {
    const auto* p = static_cast<const uint8_t*>(data);
    size_t blocks = length / 4;
    uint32_t h = seed;
    for (size_t i = 0; i < blocks; ++i) {
        uint32_t k;
        std::memcpy(&k, p + 4 * i, 4);
        h = mix_block(h, k);
    }
    const uint8_t* tail = p + 4 * blocks;
    uint32_t k = 0;
    switch (length & 3) {
        case 3: k ^= uint32_t(tail[2]) << 16; [[fallthrough]];
        case 2: k ^= uint32_t(tail[1]) << 8; [[fallthrough]];
        case 1:
            k ^= tail[0];
            k *= 0xcc9e2d51;
            k = rotl(k, 15);
            k *= 0x1b873593;
            h ^= k;
    }
    return finish(h, length);
}

}  // namespace kel::murmur
