// string! and the other text series: a series buffer of 1, 2 or 4 bytes per
// code point. This is the part the value core needs to write text: making a
// string and appending to it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "runtime/cell.hpp"

namespace kel::string {

// Makes an empty 1-byte string with room for `capacity` characters.
Cell* make(Cell* out, uint32_t capacity);

// Makes a string of the UTF-8 text, in the narrowest unit that holds its
// widest character. Invalid bytes become U+FFFD.
Cell* make_from_utf8(Cell* out, const char* text, size_t n);

// Appends n ASCII characters; they fit every unit width.
void append_ascii(Cell* str, const char* text, size_t n);

// Appends n times four spaces; answers limit less 4 x n.
int32_t append_indent(Cell* str, int32_t n, int32_t limit);

uint32_t length(const Cell* str);

// Appends UTF-8 text, widening the string when a character needs it.
void append_utf8(Cell* str, const char* text, size_t n);
void append_char(Cell* str, uint32_t cp);

// Cuts the string to at most n characters from its head.
void truncate(Cell* str, uint32_t n);

// The code points from the string's head, as UTF-8 (for tests and diagnostics).
std::string to_utf8(const Cell* str);

}  // namespace kel::string
