// The LZ codec: LZ77 over a bit-packed stream, for data blocks that the
// program image stores compressed (the frame-map table, the boot image).
//
// A compressed record is an 8-byte header, two 32-bit little-endian words
// (c: bytes of blocks that follow; u: bytes after expansion), then blocks that
// expand to at most 0x100000 bytes each and never refer to one another. The
// bit format of a block is described at the head of lz.cpp.
#pragma once
#include <cstddef>
#include <cstdint>

namespace kel::lz {

constexpr uint32_t block_limit = 0x100000;  // the most bytes one block expands to
constexpr size_t min_input = 128;           // shorter inputs are not worth compressing

// Expands the record at `record`, of which `size` bytes may be read, into a
// new tracked-heap block that the caller owns (mem::release). The block
// grows with the blocks decoded, up to u + 8 bytes; a refusal of the C heap
// raises no-memory. `out_size`, when given, receives the number of bytes
// produced, which may differ from u. Answers null for a record that is
// corrupt, truncated or claims more than its blocks can hold; nothing
// outside the record's first 8 + c bytes is read, nothing outside the new
// block written.
uint8_t* decompress(const uint8_t* record, size_t size, size_t* out_size = nullptr);

// Writes the compressed record of `input` into `output` and answers its whole
// size (header included). Answers -1, leaving `output` in no particular
// state, when the input is shorter than min_input or longer than a header
// can describe, or when the record would not fit `capacity` bytes;
// compressed_bound(length) bytes are always enough.
int64_t compress(const uint8_t* input, size_t length, uint8_t* output, size_t capacity);
size_t compressed_bound(size_t length);

}  // namespace kel::lz
