#include "runtime/unicode.hpp"

namespace kel::unicode {

int encode_utf8(uint32_t cp, char* out) {
    auto* o = reinterpret_cast<unsigned char*>(out);
    if (cp > 0x10FFFF) cp = 0xFFFD;
    if (cp < 0x80) {
        o[0] = uint8_t(cp);
        return 1;
    }
    if (cp < 0x800) {
        o[0] = uint8_t(0xC0 | (cp >> 6));
        o[1] = uint8_t(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        o[0] = uint8_t(0xE0 | (cp >> 12));
        o[1] = uint8_t(0x80 | ((cp >> 6) & 0x3F));
        o[2] = uint8_t(0x80 | (cp & 0x3F));
        return 3;
    }
    o[0] = uint8_t(0xF0 | (cp >> 18));
    o[1] = uint8_t(0x80 | ((cp >> 12) & 0x3F));
    o[2] = uint8_t(0x80 | ((cp >> 6) & 0x3F));
    o[3] = uint8_t(0x80 | (cp & 0x3F));
    return 4;
}

uint32_t next_utf8(std::string_view s, size_t& i) {
    auto byte = [&](size_t k) { return uint8_t(s[k]); };
    uint8_t b = byte(i);
    if (b < 0x80) {
        ++i;
        return b;
    }
    int extra = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : -1;
    if (extra < 0 || b > 0xF4 || i + size_t(extra) >= s.size()) {
        ++i;
        return 0xFFFD;
    }
    uint32_t cp = b & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) {
        uint8_t c = byte(i + size_t(k));
        if ((c & 0xC0) != 0x80) {
            ++i;
            return 0xFFFD;
        }
        cp = (cp << 6) | (c & 0x3F);
    }
    static const uint32_t least[4] = {0, 0x80, 0x800, 0x10000};
    if (cp < least[extra] || cp > 0x10FFFF) {
        ++i;
        return 0xFFFD;
    }
    i += size_t(extra) + 1;
    return cp;
}

std::string utf16_to_utf8(std::u16string_view s) {
    std::string out;
    out.reserve(s.size());
    char buf[4];
    for (size_t i = 0; i < s.size(); ++i) {
        uint32_t cp = s[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000)
            cp = 0x10000 + ((cp - 0xD800) << 10) + (s[++i] - 0xDC00);
        out.append(buf, size_t(encode_utf8(cp, buf)));
    }
    return out;
}

std::u16string utf8_to_utf16(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        uint32_t cp = next_utf8(s, i);
        if (cp >= 0x10000) {
            out.push_back(char16_t(0xD800 + ((cp - 0x10000) >> 10)));
            out.push_back(char16_t(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            out.push_back(char16_t(cp));
        }
    }
    return out;
}

}  // namespace kel::unicode
