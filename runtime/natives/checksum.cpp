// checksum data method /with spec: the sums (CRC-32, Adler-32, the Internet
// checksum) computed here, the digests and their HMAC (RFC 2104) over
// crypto::digest. Data is a binary! from its index, a string! as its UTF-8
// encoding, or the bytes of the file a file! names, read as they are (a
// text read would change bytes that are not UTF-8). The method word is
// matched without regard to case.
//
// Nothing here allocates between taking a raw address into a buffer and
// the last use of it: the sums and digests run on the C++ side, and the
// result binary! is made afterwards.
#include "runtime/natives/checksum.hpp"

#include <array>
#include <cstring>
#include <optional>
#include <string_view>

#include "runtime/alloc.hpp"
#include "runtime/datatypes/binary.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/error.hpp"
#include "runtime/natives/entries.hpp"
#include "runtime/output.hpp"
#include "runtime/platform/crypto.hpp"
#include "runtime/simpleio.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"

namespace kel::checksum {

namespace {

constexpr std::array<uint32_t, 256> crc_table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[i] = c;
    }
    return t;
}();

}  // namespace

uint32_t crc32(const uint8_t* bytes, size_t n, uint32_t crc) {
    uint32_t c = ~crc;
    for (size_t i = 0; i < n; ++i) c = crc_table[(c ^ bytes[i]) & 0xFF] ^ (c >> 8);
    return ~c;
}

uint32_t adler32(const uint8_t* bytes, size_t n) {
    // 3854 bytes keep both sums below 2^31 before the reduction.
    constexpr uint32_t mod = 65521, run = 3854;
    uint32_t a = 1, b = 0;
    while (n) {
        size_t k = n < run ? n : run;
        n -= k;
        while (k--) {
            a += *bytes++;
            b += a;
        }
        a %= mod;
        b %= mod;
    }
    return b << 16 | a;
}

uint32_t tcp(const uint8_t* bytes, size_t n) {
    uint64_t sum = 0;
    size_t i = 0;
    for (; i + 1 < n; i += 2) sum += uint32_t(bytes[i]) << 8 | bytes[i + 1];
    if (i < n) sum += uint32_t(bytes[i]) << 8;  // an odd last byte, padded with zero
    while (sum >> 16) sum = (sum >> 16) + (sum & 0xFFFF);
    return ~uint32_t(sum) & 0xFFFF;
}

const uint8_t* binary_bytes(const Cell* bin, size_t* n) {
    SeriesBuffer* b = alloc::buffer_of(bin->payload2);
    uint32_t at = uint32_t(series::clamped_index(bin));
    *n = b->tail - b->offset - at;
    return b->data() + b->offset + at;
}

Cell* make_binary(Cell* out, const uint8_t* bytes, size_t n) {
    binary::make_at(out, uint32_t(n));
    SeriesBuffer* b = alloc::buffer_of(out->payload2);
    if (n) std::memcpy(b->data() + b->offset, bytes, n);
    b->tail = b->offset + uint32_t(n);
    return out;
}

}  // namespace kel::checksum

namespace kel::natives {

namespace {

// A provider that cannot make the digest: "<method> not supported on your system".

enum class Method { tcp, md5, sha1, crc32, adler32, sha256, sha384, sha512, hash };

std::optional<Method> method_of(const Cell* word) {
    static constexpr std::string_view names[] = {"tcp",     "md5",    "sha1",   "crc32", "adler32",
                                                 "sha256", "sha384", "sha512", "hash"};
    std::optional<size_t> i = symbol::pick_word(word, names);
    return i ? std::optional<Method>(Method(*i)) : std::nullopt;
}

crypto::Algorithm algorithm_of(Method m) {
    switch (m) {
    case Method::md5: return crypto::Algorithm::md5;
    case Method::sha1: return crypto::Algorithm::sha1;
    case Method::sha256: return crypto::Algorithm::sha256;
    case Method::sha384: return crypto::Algorithm::sha384;
    default: return crypto::Algorithm::sha512;
    }
}

// The bytes a checksum reads: held in `owned` for text and files, else
// the binary's own (good until the next allocation).
crypto::Bytes data_bytes(const Cell* data, std::string& owned) {
    switch (cell::type_of(data)) {
    case type::binary: {
        size_t n;
        const uint8_t* p = checksum::binary_bytes(data, &n);
        return {p, n};
    }
    case type::string: owned = string::utf8_of(data); break;
    case type::file: {
        std::optional<std::string> content = simpleio::read_bytes(data);
        if (!content) error::fire(error::id::cannot_open, data);
        owned = std::move(*content);
        break;
    }
    default: error::fire(error::id::invalid_arg, data);
    }
    return {reinterpret_cast<const uint8_t*>(owned.data()), owned.size()};
}

void digest_or_fail(const Cell* method, crypto::Algorithm a, std::initializer_list<crypto::Bytes> parts,
                    uint8_t* out) {
    if (!crypto::digest(a, parts, out)) error::fire(error::id::not_here, method);
}

// HMAC: the key padded (or first hashed) to the block size, the inner
// digest over key ^ 0x36 and the message, the outer over key ^ 0x5C and it.
void hmac(const Cell* method, crypto::Algorithm a, crypto::Bytes message, crypto::Bytes key, uint8_t* out) {
    size_t block = crypto::block_size(a), size = crypto::digest_size(a);
    uint8_t hashed_key[crypto::max_digest_size];
    if (key.size > block) {
        digest_or_fail(method, a, {key}, hashed_key);
        key = {hashed_key, size};
    }
    uint8_t inner_pad[128] = {}, outer_pad[128] = {};
    if (key.size) std::memcpy(inner_pad, key.data, key.size);
    std::memcpy(outer_pad, inner_pad, block);
    for (size_t i = 0; i < block; ++i) inner_pad[i] ^= 0x36, outer_pad[i] ^= 0x5C;
    uint8_t inner[crypto::max_digest_size];
    digest_or_fail(method, a, {{inner_pad, block}, message}, inner);
    digest_or_fail(method, a, {{outer_pad, block}, {inner, size}}, out);
}

Cell checksum_word() { return Cell{type::word, 0, symbol::make("checksum"), uint32_t(-1)}; }

uint32_t answer_integer(int32_t v) {
    Cell r{};
    cell::set_integer(&r, v);
    stack::set_result(&r);
    return 0;
}

}  // namespace

uint32_t checksum(const Call& call) {
    enum { with_ };
    Cell* base = stack::args;
    const Cell* with = call.refs[with_] >= 0 ? base + call.refs[with_] : nullptr;
    std::string owned;
    crypto::Bytes data = data_bytes(base, owned);
    std::optional<Method> method = method_of(base + 1);
    if (!method) error::fire(error::id::invalid_arg, base + 1);
    Method m = *method;
    bool sum = m == Method::crc32 || m == Method::tcp || m == Method::adler32;
    if (with && sum) {
        Cell word = checksum_word();
        error::fire_bad_refinement(&word, base + 1);
    }
    if (m == Method::crc32) return answer_integer(int32_t(checksum::crc32(data.data, data.size)));
    if (m == Method::adler32) return answer_integer(int32_t(checksum::adler32(data.data, data.size)));
    if (m == Method::tcp) return answer_integer(int32_t(checksum::tcp(data.data, data.size)));

    uint8_t result[crypto::max_digest_size];
    if (!with) {
        if (m == Method::hash) {
            Cell word = checksum_word();
            error::fire_bad_refinement(&word, base + 1);
        }
        digest_or_fail(base + 1, algorithm_of(m), {data}, result);
    } else if (cell::is(with, type::string) || cell::is(with, type::binary)) {
        if (m == Method::hash) {
            Cell word = checksum_word();
            error::fire_bad_refinement(&word, with);
        }
        std::string key_text;
        crypto::Bytes key{};
        if (cell::is(with, type::string)) {
            key_text = string::utf8_of(with);
            key = {reinterpret_cast<const uint8_t*>(key_text.data()), key_text.size()};
        } else {
            key.data = checksum::binary_bytes(with, &key.size);
        }
        hmac(base + 1, algorithm_of(m), data, key, result);
    } else if (cell::is(with, type::integer)) {
        // A hash-table checksum has no algorithm yet: say so and answer 0.
        static constexpr char line[] = "** /hash support not yet implemented; algorithm TBD.";
        Cell* text = stack::push_slot();
        string::make_from_utf8(text, line, sizeof line - 1);
        output::run_value_hooks(text, true);
        return answer_integer(0);
    } else {
        error::fire(error::id::invalid_arg, with);
    }
    Cell* out = stack::push_slot();
    checksum::make_binary(out, result, crypto::digest_size(algorithm_of(m)));
    stack::set_result(out);
    return 0;
}

}  // namespace kel::natives
