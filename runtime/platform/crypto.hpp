// Cryptographic digests: MD5, SHA-1, SHA-256, SHA-384 and SHA-512 of data
// given in parts and hashed as if the parts were joined. The Windows build
// asks CryptoAPI through the provider acquired at platform start; the POSIX
// build computes the standard algorithms itself (posix/crypto.cpp).
#pragma once
#include <cstddef>
#include <cstdint>
#include <initializer_list>

namespace kel::crypto {

enum class Algorithm : uint8_t { md5, sha1, sha256, sha384, sha512 };

struct Bytes {
    const uint8_t* data;
    size_t size;
};

constexpr size_t max_digest_size = 64;

constexpr size_t digest_size(Algorithm a) {
    constexpr size_t sizes[] = {16, 20, 32, 48, 64};
    return sizes[size_t(a)];
}

// The block size HMAC pads keys to.
constexpr size_t block_size(Algorithm a) { return a == Algorithm::sha384 || a == Algorithm::sha512 ? 128 : 64; }

// Writes the digest of the joined parts to out (digest_size bytes). False
// when the platform's provider fails; out is then not a digest.
bool digest(Algorithm a, std::initializer_list<Bytes> parts, uint8_t* out);

}  // namespace kel::crypto

namespace kel::os {

// Fills the buffer with cryptographically secure random bytes; false on failure.
bool secure_random(void* buffer, size_t n);

}  // namespace kel::os
