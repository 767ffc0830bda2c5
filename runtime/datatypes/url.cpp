#include "runtime/datatypes/url.hpp"

#include "runtime/datatype.hpp"
#include "runtime/unicode.hpp"

namespace kel {

namespace {
int hex_value(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The UTF-8 length a lead byte announces: 0 for ASCII and continuation bytes.
int announced(uint8_t b) { return b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 0; }
}  // namespace

bool url::decode_hex_escape(const uint8_t* p, const uint8_t* end, uint8_t* byte) {
    if (end - p < 3 || p[0] != '%') return false;
    int hi = hex_value(p[1]), lo = hex_value(p[2]);
    if (hi < 0 || lo < 0) return false;
    *byte = uint8_t(hi * 16 + lo);
    return true;
}

bool url::decode_utf8(const uint8_t* text, size_t n, std::u32string& out) {
    const uint8_t* p = text;
    const uint8_t* end = text + n;
    while (p < end) {
        uint8_t b;
        if (decode_hex_escape(p, end, &b)) {
            int k = announced(b);
            if (k == 0) {
                out.push_back(b);
                p += 3;
                continue;
            }
            uint8_t seq[4] = {b};
            bool all = true;
            for (int i = 1; i < k && all; ++i) all = decode_hex_escape(p + 3 * i, end, &seq[i]);
            int32_t cp;
            if (all && unicode::decode_utf8_char(seq, seq + k, &cp) == seq + k && cp >= 0) {
                out.push_back(char32_t(cp));
                p += 3 * k;
                continue;
            }
        }
        int32_t cp;
        const uint8_t* next = unicode::decode_utf8_char(p, end, &cp);
        if (cp < 0) return false;
        out.push_back(char32_t(cp));
        p = next;
    }
    return true;
}

void url::register_type() {
    datatype::Row row(datatype::unsupported);
    datatype::register_type({type::url, type::string, "url!", row.handlers});
}

void file::register_type() {
    datatype::Row row(datatype::unsupported);
    datatype::register_type({type::file, type::url, "file!", row.handlers});
}

}  // namespace kel
