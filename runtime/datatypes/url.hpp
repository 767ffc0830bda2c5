// url! and file!: text series like string! (url! under string!, file! under
// url!). Their text is stored decoded: percent escapes are undone when a url
// or file is read from source, and written again when a url is molded.
//
// Two sets of characters stay unescaped: the narrow set (letters, digits,
// "-._~") and the wide set (the narrow set and "!#$&'()*+,/:=?@").
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "runtime/cell.hpp"

namespace kel::url {

// True when p[0..2] is "%" and two hexadecimal digits; *byte gets the value.
// Never reads at or past end.
bool decode_hex_escape(const uint8_t* p, const uint8_t* end, uint8_t* byte);

// The code points of percent-encoded UTF-8 text. An escape announcing a
// multi-byte sequence decodes as one character when all its escapes follow
// and together form valid UTF-8 (no overlong forms, no surrogates);
// otherwise its "%" is an ordinary character. An escaped single byte is that
// code point. Raw bytes that are not valid UTF-8 answer false.
bool decode_utf8(const uint8_t* text, size_t n, std::u32string& out);

// Selects the narrow set; any other mode the wide set.
constexpr int narrow_mode = 254;

// Writes the byte itself when it is ASCII in the selected set, else "%"
// and two upper-case hexadecimal digits; answers the count written (1 or 3).
int encode_char(int mode, uint8_t byte, char out[3]);

// Appends the percent-decoded text of s from its index to out (a string!).
void decode_text(const Cell* s, Cell* out);
// Appends every UTF-8 byte of s from its index through encode_char.
void encode_text(const Cell* s, Cell* out, int mode);
std::string encode(const std::u32string& text, int mode);

// Handlers of the url! row.
Cell* make(Cell* proto, Cell* spec, uint8_t t);
Cell* to(Cell* proto, Cell* spec, uint8_t t);
int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, const Cell* part, int32_t limit,
             int32_t indent);
Cell* eval_path(Cell* value, const Cell* element, const Cell* store, const Cell* path, const Cell* parent,
                const Cell* previous, int32_t step, bool case_, bool get, bool last, bool notify);

// A port for the url, made from what the boot environment's parse-url
// answers; with open, opened with the given refinements.
Cell* to_port(Cell* url, bool open, bool new_, bool read, bool write, bool seek, const Cell* allow);

// The HTTP client: method word, url, headers (none or block), body, and the
// binary, lines and info flags; answers the response pushed, or none. Null
// while no client is linked in: every request then fails.
using HttpRequest = Cell* (*)(const Cell* method, const Cell* url, const Cell* headers, const Cell* body, bool binary,
                              bool lines, bool info);
extern HttpRequest http_request;

void register_type();

}  // namespace kel::url
