// Unicode text conversions shared by the runtime and the platform layer.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kel::unicode {

// Encodes one code point as UTF-8 into out (room for 4 bytes); answers the
// byte count. Surrogate code points are encoded like any other (3 bytes), so
// unpaired surrogates from the platform survive a round trip.
int encode_utf8(uint32_t cp, char* out);

// Decodes the code point at s[i] (advancing i); invalid bytes decode to
// U+FFFD one byte at a time. Never reads at or past s.size().
uint32_t next_utf8(std::string_view s, size_t& i);

// UTF-16 <-> UTF-8 for the platform boundary. Unpaired surrogates are kept.
std::string utf16_to_utf8(std::u16string_view s);
std::u16string utf8_to_utf16(std::string_view s);

}  // namespace kel::unicode
