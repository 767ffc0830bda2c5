// url! and file!: text series like string! (url! under string!, file! under
// url!). Their text is stored decoded: percent escapes are undone when a url
// or file is read from source.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "runtime/cell.hpp"

namespace kel::url {

// True when p[0..2] is "%" and two hexadecimal digits; *byte gets the value.
bool decode_hex_escape(const uint8_t* p, const uint8_t* end, uint8_t* byte);

// The code points of percent-encoded UTF-8 text. An escape announcing a
// multi-byte sequence decodes as one character when all its escapes follow;
// otherwise its "%" is an ordinary character. An escaped single byte is that
// code point. Raw bytes that are not valid UTF-8 answer false.
bool decode_utf8(const uint8_t* text, size_t n, std::u32string& out);

void register_type();

}  // namespace kel::url

namespace kel::file {
void register_type();
}
