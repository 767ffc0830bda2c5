// binary!: a series of bytes (unit 1): payload 1 the head index, payload 2
// the buffer's node, payload 3 0. Registered under string!, from which it
// takes the position actions.
//
// The four text codecs (base 2, 16, 58, 64) work on plain memory and never
// allocate series: a decoder reads characters of 1, 2 or 4 bytes and gathers
// bytes in a C++ vector, so a caller may hand it an address inside a series
// buffer and make the binary afterwards. A decoder answers false on input
// outside its alphabet; ";" starts a comment up to the next line feed.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "runtime/cell.hpp"

namespace kel::binary {

// Writes an empty binary with room for n bytes.
Cell* make_at(Cell* out, uint32_t capacity);
// Writes a new binary holding a copy of the n bytes (which must not lie in
// a series buffer: the allocation may move buffers).
Cell* load_at(Cell* out, const uint8_t* bytes, size_t n);

// Bytes from the index to the tail (0 past the tail).
uint32_t ks_length_q(const Cell* bin);
// The address of the byte at the index; valid until the next allocation.
const uint8_t* ks_head(const Cell* bin);

// ---- codecs

bool base2_decode(const uint8_t* text, uint32_t n, uint32_t unit, std::vector<uint8_t>& out);
bool base16_decode(const uint8_t* text, uint32_t n, uint32_t unit, std::vector<uint8_t>& out);
bool base58_decode(const uint8_t* text, uint32_t n, uint32_t unit, std::vector<uint8_t>& out);
bool base64_decode(const uint8_t* text, uint32_t n, uint32_t unit, std::vector<uint8_t>& out);

// Encoders append the text of the bytes to out; no line breaks.
void base2_encode(const uint8_t* bytes, size_t n, std::string& out);
void base16_encode(const uint8_t* bytes, size_t n, std::string& out);
void base58_encode(const uint8_t* bytes, size_t n, std::string& out);
void base64_encode(const uint8_t* bytes, size_t n, std::string& out);

// ---- the binary! row

// Three-way comparison of the bytes of a and b from their indexes (op as
// every compare handler); -2 when b is not a binary or any-string.
int32_t compare_bytes(const Cell* a, const Cell* b, int32_t op, bool match);
int32_t form(const Cell* value, Cell* out, const Cell* part, int32_t limit);
int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, const Cell* part, int32_t limit,
             int32_t indent);
int32_t compare(const Cell* a, const Cell* b, int32_t op);

// ---- making and editing (binary_edit.cpp)

// make: a number gives an empty binary with that much room, money is
// refused, anything else converts as `to`.
Cell* make_value(Cell* proto, Cell* spec, uint8_t t);
// to: the bytes of a value (UTF-8 for text, 4 bytes big-endian for an
// integer, the 8 bytes of the IEEE double for a float or percent ...).
Cell* to(Cell* proto, Cell* spec, uint8_t t);
// count: what /part gave (-1: none); append leaves the series at its head,
// insert after the new bytes.
void insert(Cell* s, Cell* value, int32_t count, bool only, int32_t dup, bool append);
void change(Cell* s, Cell* value, int32_t count, bool only, int32_t dup);
// and~ or~ xor~ on the current call's arguments; the new binary replaces argument 0.
void and_();
void or_();
void xor_();
// Inverts the bytes from the index to the tail in place.
Cell* complement(Cell* value);
void trim(Cell* s, bool head, bool tail, bool auto_, bool lines, bool all, const Cell* with);

void register_type();

}  // namespace kel::binary
