// The checksum native and the sums it shares with the compression framing:
// CRC-32 (ISO-HDLC, as zlib and gzip write it), Adler-32 (RFC 1950) and the
// Internet checksum (RFC 1071). Digests and HMAC go through crypto::digest.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "runtime/actions.hpp"
#include "runtime/cell.hpp"

namespace kel::checksum {

uint32_t crc32(const uint8_t* bytes, size_t n, uint32_t crc = 0);  // continues from a previous result
uint32_t adler32(const uint8_t* bytes, size_t n);
uint32_t tcp(const uint8_t* bytes, size_t n);

// The bytes of a binary! from its index to its tail. The address is good
// only until the next allocation.
const uint8_t* binary_bytes(const Cell* bin, size_t* n);
// A new binary! holding the bytes, written to out (a cell the collector sees).
Cell* make_binary(Cell* out, const uint8_t* bytes, size_t n);

}  // namespace kel::checksum
