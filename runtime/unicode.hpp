// Unicode text: the converters between the runtime's text buffers and the two
// external encodings, UTF-8 (source text, symbol names, binary! conversions)
// and UTF-16LE (the Windows wide-character interfaces), the one-way widening
// of a text buffer, and the display width of a code point.
//
// A text buffer is a SeriesBuffer whose unit is 1, 2 or 4 bytes, each unit a
// little-endian code point: a 1-byte buffer holds U+0000-00FF, a 2-byte buffer
// U+0000-FFFF, a 4-byte buffer up to U+10FFFF. Buffers widen whole and never
// narrow here. A text value is a cell with the head index (in units) in
// payload 1, the buffer's node in payload 2 and, in payload 3, the node of a
// 1-byte scratch buffer that conversions for the platform write into (0: none
// yet); what a conversion leaves there is good until the next conversion of
// the same value.
//
// Every decoder here is bounded: none reads at or past the end it is given.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/alloc.hpp"

namespace kel::unicode {

// ---- UTF-8, fast path (lexer, symbols, counting the characters of binary!)

// The decoding automaton: 256 byte classes, then 9 states x 12 classes of
// transitions; states are multiples of 12, 0 accepts and 12 rejects.
extern const uint8_t utf8_automaton[364];

// Decodes the sequence at p (before end) into *cp and answers the address
// after it. An invalid sequence gives -1, the address standing just past the
// byte that made it invalid; a sequence cut by `end` gives -1 and end.
const uint8_t* decode_utf8_char(const uint8_t* p, const uint8_t* end, int32_t* cp);
uint32_t utf8_length(const uint8_t* start, const uint8_t* end);  // an invalid sequence counts 1
const uint8_t* utf8_skip(const uint8_t* start, const uint8_t* end, uint32_t n);
int utf8_char_size(uint8_t lead);  // 2, 3 or 4 from the lead's high bits; 0 for 0x00-0xBF

// ---- UTF-8 sizes and encoding. Above U+10FFFF these raise script invalid-char.

int utf8_size_of(uint32_t cp);
uint64_t utf8_size_of_range(const uint8_t* start, const uint8_t* end, uint32_t unit);
int encode_utf8(uint32_t cp, uint8_t* dest);
// Writes byte k of the sequence (k = 1..4) only when room >= k: a sequence
// that does not fit is cut, not dropped. Answers the bytes written.
int encode_utf8_partial(uint32_t cp, uint8_t* dest, int64_t room);
// The units from the value's index, at most n code points (-1: all), and a
// NUL when terminate is set. Answers the bytes written without the NUL.
uint32_t encode_utf8_range(const Cell* text, uint8_t* dest, int32_t n, bool terminate);
// As above, never writing more than room bytes (the NUL included); here n
// limits only when 0 < n < length.
uint32_t encode_utf8_bounded(const Cell* text, uint8_t* dest, int64_t room, int32_t n, bool terminate);
// NUL-terminated UTF-8 of the value from its index, in its scratch buffer.
// *length: at most how many code points (-1: all); receives the bytes
// written without the NUL. With crlf every LF is written as CR LF.
uint8_t* to_utf8(Cell* text, int32_t* length);
uint8_t* to_utf8_part(Cell* text, int32_t* length, bool crlf);

// ---- Widening: rewrites the units in place from the last to the first,
// first expanding the buffer when it lacks room for the wider content plus one
// unit. Indexes in units stay valid. Answers the buffer, which may have moved.

SeriesBuffer* widen_1_to_2(SeriesBuffer* b);
SeriesBuffer* widen_1_to_4(SeriesBuffer* b);
SeriesBuffer* widen_2_to_4(SeriesBuffer* b);

// ---- Loading UTF-8 into text buffers

// The strict decoder of the loaders. *length holds the bytes available; on
// success it receives the sequence's length. Answers -1, reading nothing past
// the lead, when fewer bytes are available than the lead announces. Invalid
// input raises access invalid-utf8. It accepts C0/C1 leads, overlong forms
// and surrogates other than U+DC00-DCFF; it rejects U+DC00-DCFF in three
// bytes, U+FFFE (the runtime's "invalid" marker) and values above U+10FFFF.
int32_t decode_utf8_checked(const uint8_t* p, uint32_t* length);

// Loads the bytes (a leading byte-order mark skipped) into target from its
// offset, replacing what it held, or into a new buffer when target is null;
// the unit is the target's or wider as the code points need. Input that ends
// inside a sequence stops the load: *remaining (when given) receives the
// bytes left over, for the caller to pass again with the next piece. With
// crlf, CR LF loads as LF and a lone CR as LF. Answers the buffer.
SeriesBuffer* load_utf8(const uint8_t* bytes, uint32_t length, SeriesBuffer* target, uint32_t* remaining,
                        bool crlf);
SeriesBuffer* load_utf8_into(const uint8_t* bytes, uint32_t length, Cell* text, uint32_t* remaining);
SeriesBuffer* load_utf8_cstr(const uint8_t* bytes, uint32_t length);

// ---- UTF-16LE (units are read as little-endian byte pairs, any alignment)

// 4 at the first unit whose high byte is 0xD8-0xDF, else 2 when a unit has a
// non-zero high byte, else 1.
uint32_t utf16_unit_width(const void* units, uint32_t n);
// Loads n units into target's buffer (or a new one when target is null),
// with the unit width utf16_unit_width finds. A null `units` reads the
// target's scratch buffer, where a platform call has just left wide text.
// Surrogate pairs join; a lone surrogate is stored as its own code point.
// With crlf, CR LF loads as LF and a lone CR as LF. Answers the buffer.
SeriesBuffer* load_utf16le(const void* units, uint32_t n, Cell* target, bool crlf);
// 2 bytes per LF and per code point above U+FFFF in the range: the room that
// CR insertion and surrogate pairs need beyond one 16-bit unit each.
uint64_t utf16_extra_bytes(const uint8_t* start, const uint8_t* end, uint32_t unit);
// NUL-terminated UTF-16 of the value from its index, in its scratch buffer.
// to_utf16 takes the rest with LF written as CR LF. *count: at most how many
// code points (-1: all); receives the 16-bit units written without the NUL.
// A code point above U+10FFFF fails the conversion: null.
char16_t* to_utf16(Cell* text);
char16_t* to_utf16_part(Cell* text, int32_t* count, bool crlf);
int encode_utf16_char(uint32_t cp, char16_t* dest);  // 1 or 2 units; 0 above U+10FFFF
// Each byte one unit, then a zero unit; answers dest.
char16_t* ascii_to_utf16(const char* bytes, char16_t* dest);

// The data of the value's scratch buffer, made or grown to at least size bytes.
uint8_t* cache_buffer(Cell* text, uint32_t size);

// ---- Display width: terminal columns of a code point (0, 1 or 2)

int char_width(uint32_t cp);
int char_width_ambiguous_wide(uint32_t cp);  // East Asian ambiguous width counts 2
// table: count values forming count / 2 inclusive ranges (low, high), ascending.
bool in_ranges(uint32_t cp, const uint32_t* table, uint32_t count);

extern const uint32_t zero_width_ranges[];
extern const uint32_t zero_width_ranges_count;
extern const uint32_t wide_ranges[];
extern const uint32_t wide_ranges_count;
extern const uint32_t ambiguous_ranges[];
extern const uint32_t ambiguous_ranges_count;

// ---- The platform boundary: std strings, lenient (as WTF-8: unpaired
// surrogates survive UTF-16 -> UTF-8 -> UTF-16)

// Like encode_utf8, but writes U+FFFD above U+10FFFF: for writers that must not fail.
int encode_utf8_replacing(uint32_t cp, char* out);
// The code point at s[i], advancing i; an invalid byte decodes to U+FFFD on
// its own. Never reads at or past s.size().
uint32_t next_utf8(std::string_view s, size_t& i);
std::string utf16_to_utf8(std::u16string_view s);
std::u16string utf8_to_utf16(std::string_view s);

}  // namespace kel::unicode
