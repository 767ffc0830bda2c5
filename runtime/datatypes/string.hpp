// string! and the other text series (file! url! tag! email! ref!): a series
// buffer of 1, 2 or 4 bytes per code point, little-endian. A buffer widens
// whole and one way when a wider code point arrives (1 -> 2 from U+0100 on
// a store, from U+0080 on an append; -> 4 from U+10000), so indexes in
// units stay valid across a widening.
//
// Here: the text primitives every mold and form writes through, and the
// string! row (string.cpp: make, to, form, mold, compare; string_edit.cpp:
// find, select, append, insert, change, swap, trim, sort, the path access
// and the set operations). Positions and the rest come from series!.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "runtime/alloc.hpp"
#include "runtime/cell.hpp"

namespace kel::string {

// ---- primitives

// Makes an empty 1-byte string with room for `capacity` characters.
Cell* make(Cell* out, uint32_t capacity);

// Makes a string of the UTF-8 text, in the narrowest unit that holds its
// widest character. Invalid bytes become U+FFFD: for text from the platform
// and the runtime's own messages.
Cell* make_from_utf8(Cell* out, const char* text, size_t n);

// Makes a string of external UTF-8 bytes through the strict loader: a
// leading byte-order mark is skipped, a sequence cut by the end stops the
// load there, and invalid input raises access invalid-utf8. The bytes may
// lie in a series buffer.
Cell* load_at(Cell* out, const uint8_t* bytes, uint32_t n);

// Appends n ASCII characters; they fit every unit width.
void append_ascii(Cell* str, const char* text, size_t n);

// Appends n times four spaces; answers limit less 4 x n.
int32_t append_indent(Cell* str, int32_t n, int32_t limit);

uint32_t length(const Cell* str);

// Appends UTF-8 text, widening the string when a character needs it.
void append_utf8(Cell* str, const char* text, size_t n);
void append_char(Cell* str, uint32_t cp);
// Appends code points, widening once for the widest.
void append_text(Cell* str, const std::u32string& text);

// Cuts the string to at most n characters from its head.
void truncate(Cell* str, uint32_t n);

// The code points from the string's head, as UTF-8 (for tests and diagnostics).
std::string to_utf8(const Cell* str);

// Reads one 1-, 2- or 4-byte unit.
uint32_t get_char(const uint8_t* p, uint32_t unit);
void put_char(uint8_t* p, uint32_t unit, uint32_t cp);
// The unit a code point needs when it is stored (1 up to U+00FF).
inline uint32_t unit_for(uint32_t cp) { return cp <= 0xFF ? 1 : cp <= 0xFFFF ? 2 : 4; }
// Widens the buffer of the node to at least `unit`; answers the buffer.
SeriesBuffer* widen_to(NodeId node, uint32_t unit);

// Replaces `removed` units at unit `at` by the text repeated dup times,
// widening the buffer first when the text needs it. Appends (roomy) grow
// the buffer to twice its size when that is enough; other edits to exactly
// the needed size. The counts must lie inside the buffer.
void splice(NodeId node, int64_t at, int64_t removed, const std::u32string& text, int64_t dup, bool roomy);

// The n code points from absolute unit `from` (both clamped to the buffer).
std::u32string read_text(const Cell* s, int64_t from, int64_t n);
// The code points from the value's index to its tail.
std::u32string text_of(const Cell* s);

// Code points as UTF-8 (U+FFFD for any beyond U+10FFFF, which text never holds).
std::string utf8_of(const std::u32string& text);
// The text of a value from its index as UTF-8.
std::string utf8_of(const Cell* s);

// The stored units of a text value from its index: where they start, how
// many there are and their width. Good until the next allocation.
struct Units {
    const uint8_t* start;
    uint32_t count;
    uint32_t unit;
};
Units units_of(const Cell* s);

// Writes the code point as mold writes it inside a string or a char!:
// carets for the control characters, "^(hex)" for 0x1E, 0x80-0x9F, the
// surrogates and U+FFFE/FFFF (and above 0x7F when ascii). Answers the units written.
int32_t mold_char_escaped(Cell* out, uint32_t cp, bool ascii);

// The text a value forms into, limited to `limit` units (the value is
// copied onto the stack first, so it may lie in any buffer).
std::u32string formed(const Cell* value, int32_t limit = 0x7FFFFFFF);

// ---- the string! row (string.cpp)

Cell* make_value(Cell* proto, Cell* spec, uint8_t t);
Cell* to(Cell* proto, Cell* spec, uint8_t t);
int32_t form(const Cell* value, Cell* out, const Cell* part, int32_t limit);
int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, const Cell* part, int32_t limit,
             int32_t indent);
// Ops as every compare handler: 0 equal ... 12 the equality of find.
// Case-insensitive (upper-case folding) except under 2 and 8.
int32_t compare(const Cell* a, const Cell* b, int32_t op);

// ---- searching and changing (string_edit.cpp)

Cell* find(Cell* s, Cell* value, const Cell* part, bool only, bool case_, bool same, bool any, const Cell* with,
           const Cell* skip, bool last, bool reverse, bool tail, bool match);
Cell* select(Cell* s, Cell* value, const Cell* part, bool only, bool case_, bool same, bool any, const Cell* with,
             const Cell* skip, bool last, bool reverse);
// count: what /part gave (-1: none); append leaves the series at its head,
// insert after the new units.
void insert(Cell* s, Cell* value, int32_t count, bool only, int32_t dup, bool append);
void change(Cell* s, Cell* value, int32_t count, bool only, int32_t dup);
void swap(Cell* a, Cell* b);
void trim(Cell* s, bool head, bool tail, bool auto_, bool lines, bool all, const Cell* with);
Cell* sort(Cell* s, bool case_, const Cell* skip, const Cell* comparator, const Cell* part, bool all, bool reverse,
           bool stable);
Cell* eval_path(Cell* value, const Cell* element, const Cell* store, const Cell* path, const Cell* parent,
                const Cell* previous, int32_t step, bool case_, bool get, bool last, bool notify);
// The set operations on the code points of first (and second): 8 unique,
// 9 union, 10 intersect, 11 exclude, 12 difference. The new string! replaces first.
void do_set_op(Cell* first, const Cell* second, bool case_, const Cell* skip, int32_t op);

void register_type();

}  // namespace kel::string
