// KELBIN: the binary serialisation of Kel values, used for the boot image and
// by the kelbin codec. A blob is an 8-byte header ("KELBIN", a version byte,
// a flags byte), a body in one of two layouts and value records.
//
// The compact layout (flags bit 0 set; the boot image's): numbers are LEB128
// varints (signed ones zigzag-folded), every record starts with one lead
// byte (a type byte, a short integer, true or false, or a prefix). The fixed
// layout: every number is a 32-bit little-endian word, every record starts
// with a header word (type id in bits 0-7, new-line and per-type bits above),
// floats start on a multiple of 8 behind a padding word, and series bytes
// are padded to 4. Both carry the same fields in the same order, so one
// encoder and one decoder serve both.
//
// Shared series, contexts and functions are written once; later sights are
// references: the path of indexes, from the top, to where the node first
// appeared. So cyclic data round-trips with its identities.
//
// The decoder is fed untrusted data: every count and size is checked against
// the bytes left before anything is allocated, nesting is bounded, and bad
// data raises script rb-invalid-record with the 1-based byte position.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "runtime/cell.hpp"

namespace kel::kelbin {

constexpr uint8_t version_codec = 2;
constexpr uint8_t version_boot = 1;
constexpr uint8_t flag_compact = 1;
constexpr uint8_t flag_compressed = 2;
constexpr uint8_t flag_symbols = 4;
// Records nested deeper than this are refused (encoding raises internal
// too-deep, decoding rb-invalid-record): the walk recurses on the native stack.
constexpr int max_depth = 1000;

// Byte-level writers.
void append_bytes(std::vector<uint8_t>& out, const void* p, size_t n);
void append_int32(std::vector<uint8_t>& out, uint32_t v);
void write_varint(std::vector<uint8_t>& out, uint32_t v);
void write_zigzag(std::vector<uint8_t>& out, int32_t v);
// Reads a varint at *pos (advanced) before end; false when it is malformed
// (runs into end, or the fifth byte uses bits 4-7).
bool read_varint(const uint8_t** pos, const uint8_t* end, uint32_t* value);

// Decodes the blob of `length` bytes and appends its top-level values to the
// target block (a root: it must stay reachable). codec mode binds words and
// drops class ids as the codec does; boot mode reads the boot-only forms and
// keeps class ids. Data that is not a blob raises invalid-data with arg in
// codec mode, and ends the process with status 1 in boot mode. Values
// appended before an error stay in the target.
void decode(const uint8_t* data, Cell* target, bool codec, size_t length, const Cell* arg);

// The boot image load: decode in boot mode with the collector held off.
void load_boot(const uint8_t* image, size_t length, Cell* target);

// A new binary! holding the value in the fixed layout (encode) or in the
// compact one (encode_b), into out (a root).
void encode(const Cell* value, Cell* out);
void encode_b(const Cell* value, Cell* out);
// The boot image: each value of the block from its index as one top-level
// record, version 1, in the compact layout. Answers the blob's bytes.
std::vector<uint8_t> encode_boot(const Cell* block);

// The codec entries the kelbin codec object's routines call.
// encode*: compact? picks the layout.
void codec_encode(const Cell* data, bool compact, Cell* out);
// decode: a file! or url! is read as binary first; a binary! (from its head
// index) of more than 10 bytes is decoded; the single value when the blob
// holds one, else the block of them. Anything else raises invalid-data.
void codec_decode(const Cell* payload, Cell* out);

}  // namespace kel::kelbin
