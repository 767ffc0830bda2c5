// The LZ decoder on arbitrary bytes, taken as a record twice: as they are,
// and with their compressed-size word set to fit them, so that the search
// reaches the blocks without first having to guess that word. Then the bytes
// as data, through the encoder and back. Any read or write outside a buffer
// is a sanitizer fault; a wrong round trip traps.
#include <cstdint>
#include <cstring>
#include <vector>

#include "runtime/mem.hpp"
#include "runtime/lz.hpp"

using namespace kel;

namespace {

uint32_t word_at(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void expand(const uint8_t* record, size_t size) {
    size_t produced = 0;
    uint8_t* out = lz::decompress(record, size, &produced);
    if (!out) return;
    if (produced > size_t(word_at(record + 4)) + 8) __builtin_trap();
    mem::release(out);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    expand(data, size);
    if (size >= 8) {
        std::vector<uint8_t> fitted(data, data + size);
        uint32_t c = uint32_t(size - 8);
        for (int i = 0; i < 4; ++i) fitted[size_t(i)] = uint8_t(c >> (8 * i));
        expand(fitted.data(), fitted.size());
    }

    if (size < lz::min_input) return 0;
    std::vector<uint8_t> packed(lz::compressed_bound(size));
    int64_t n = lz::compress(data, size, packed.data(), packed.size());
    if (n < 8) __builtin_trap();
    std::vector<uint8_t> exact(packed.begin(), packed.begin() + n);
    size_t produced = 0;
    uint8_t* out = lz::decompress(exact.data(), exact.size(), &produced);
    if (!out || produced != size || std::memcmp(out, data, size) != 0) __builtin_trap();
    mem::release(out);
    return 0;
}
