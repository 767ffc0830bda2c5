#include "runtime/datatypes/binary.hpp"

#include <algorithm>
#include <cstring>

#include "runtime/alloc.hpp"
#include "runtime/datatype.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"

namespace kel::binary {
namespace {

constexpr char hex_digits[] = "0123456789ABCDEF";
constexpr char base58_alphabet[] = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";
constexpr char base64_alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The value of a symbol in an alphabet (ASCII only), or -1.
struct Lookup {
    int8_t value[128];
    constexpr explicit Lookup(const char* alphabet) : value{} {
        for (int8_t& v : value) v = -1;
        for (int i = 0; alphabet[i]; ++i) value[int(alphabet[i])] = int8_t(i);
    }
    int operator()(uint32_t c) const { return c < 128 ? value[c] : -1; }
};
constexpr Lookup base58_values(base58_alphabet);
constexpr Lookup base64_values(base64_alphabet);

int hex_value(uint32_t c) {
    if (c >= '0' && c <= '9') return int(c - '0');
    if (c >= 'A' && c <= 'F') return int(c - 'A' + 10);
    if (c >= 'a' && c <= 'f') return int(c - 'a' + 10);
    return -1;
}

// Characters the base-58 and base-64 decoders pass over.
bool base64_blank(uint32_t c) {
    return c == '\b' || c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == ' ' || c == '\'';
}

// Walks the characters of a text, passing over ";" comments.
struct Reader {
    const uint8_t* p;
    uint32_t left;
    uint32_t unit;

    // The next character outside comments; false at the end.
    bool next(uint32_t& c) {
        while (left) {
            c = string::get_char(p, unit);
            p += unit;
            --left;
            if (c != ';') return true;
            while (left) {
                uint32_t d = string::get_char(p, unit);
                p += unit;
                --left;
                if (d == '\n') break;
            }
        }
        return false;
    }
};

}  // namespace

Cell* make_at(Cell* out, uint32_t capacity) {
    cell::set_unset(out);
    NodeId node = alloc::alloc_bytes(capacity);
    *out = Cell{type::binary, 0, node, 0};
    return out;
}

Cell* load_at(Cell* out, const uint8_t* bytes, size_t n) {
    make_at(out, uint32_t(n ? n : 1));
    SeriesBuffer* b = alloc::buffer_of(out->payload2);
    if (n) std::memcpy(b->data() + b->offset, bytes, n);
    b->tail = b->offset + uint32_t(n);
    return out;
}

uint32_t ks_length_q(const Cell* bin) { return uint32_t(series::length_from(bin)); }

const uint8_t* ks_head(const Cell* bin) {
    SeriesBuffer* b = alloc::buffer_of(bin->payload2);
    return b->data() + b->offset + uint32_t(series::clamped_index(bin));
}

// ---- decoders

bool base2_decode(const uint8_t* text, uint32_t n, uint32_t unit, std::vector<uint8_t>& out) {
    out.clear();
    out.reserve(n / 8);
    Reader r{text, n, unit};
    uint32_t c, acc = 0, digits = 0;
    while (r.next(c)) {
        if (c <= 0x20) continue;
        if (c != '0' && c != '1') return false;
        acc = acc << 1 | (c - '0');
        if (++digits == 8) {
            out.push_back(uint8_t(acc));
            acc = digits = 0;
        }
    }
    return digits == 0;  // a partial byte is a failure
}

bool base16_decode(const uint8_t* text, uint32_t n, uint32_t unit, std::vector<uint8_t>& out) {
    out.clear();
    out.reserve(n / 2);
    Reader r{text, n, unit};
    uint32_t c;
    int first = -1;
    while (r.next(c)) {
        if (c <= 0x20) continue;
        int d = hex_value(c);
        if (d < 0) return false;
        if (first < 0) {
            first = d;
        } else {
            out.push_back(uint8_t(first * 16 + d));
            first = -1;
        }
    }
    return true;  // a trailing single digit is dropped
}

bool base64_decode(const uint8_t* text, uint32_t n, uint32_t unit, std::vector<uint8_t>& out) {
    out.clear();
    out.reserve(size_t(n) * 3 / 4 + 3);
    Reader r{text, n, unit};
    uint32_t c, acc = 0, symbols = 0;
    while (r.next(c)) {
        if (base64_blank(c)) continue;
        if (c == '=') {
            // The first "=" ends the text: it completes a group of 2 or 3.
            if (symbols < 2) return false;
            if (symbols == 3) {
                out.push_back(uint8_t(acc >> 10));
                out.push_back(uint8_t(acc >> 2));
            } else {
                out.push_back(uint8_t(acc >> 4));
            }
            return true;
        }
        int v = base64_values(c);
        if (v < 0) return false;
        acc = acc << 6 | uint32_t(v);
        if (++symbols == 4) {
            out.push_back(uint8_t(acc >> 16));
            out.push_back(uint8_t(acc >> 8));
            out.push_back(uint8_t(acc));
            acc = symbols = 0;
        }
    }
    return true;  // an unpadded group of 1-3 symbols at the end is dropped
}

bool base58_decode(const uint8_t* text, uint32_t n, uint32_t unit, std::vector<uint8_t>& out) {
    out.clear();
    std::vector<uint8_t> digits;
    Reader r{text, n, unit};
    uint32_t c;
    while (r.next(c)) {
        if (base64_blank(c)) continue;
        int v = base58_values(c);
        if (v < 0) return false;
        digits.push_back(uint8_t(v));
    }
    size_t zeros = 0;
    while (zeros < digits.size() && digits[zeros] == 0) ++zeros;
    // The base-256 digits of the number, least significant first.
    std::vector<uint8_t> bytes;
    bytes.reserve(digits.size());
    for (size_t i = zeros; i < digits.size(); ++i) {
        uint32_t carry = digits[i];
        for (uint8_t& b : bytes) {
            carry += uint32_t(b) * 58;
            b = uint8_t(carry);
            carry >>= 8;
        }
        for (; carry; carry >>= 8) bytes.push_back(uint8_t(carry));
    }
    out.assign(zeros, 0);
    out.insert(out.end(), bytes.rbegin(), bytes.rend());
    return true;
}

// ---- encoders

void base2_encode(const uint8_t* bytes, size_t n, std::string& out) {
    for (size_t i = 0; i < n; ++i)
        for (int bit = 7; bit >= 0; --bit) out += char('0' + (bytes[i] >> bit & 1));
}

void base16_encode(const uint8_t* bytes, size_t n, std::string& out) {
    for (size_t i = 0; i < n; ++i) {
        out += hex_digits[bytes[i] >> 4];
        out += hex_digits[bytes[i] & 15];
    }
}

void base64_encode(const uint8_t* bytes, size_t n, std::string& out) {
    size_t i = 0;
    for (; i + 3 <= n; i += 3) {
        uint32_t v = uint32_t(bytes[i]) << 16 | uint32_t(bytes[i + 1]) << 8 | bytes[i + 2];
        for (int s = 18; s >= 0; s -= 6) out += base64_alphabet[v >> s & 63];
    }
    if (n - i == 1) {
        uint32_t v = uint32_t(bytes[i]) << 16;
        out += base64_alphabet[v >> 18 & 63];
        out += base64_alphabet[v >> 12 & 63];
        out += "==";
    } else if (n - i == 2) {
        uint32_t v = uint32_t(bytes[i]) << 16 | uint32_t(bytes[i + 1]) << 8;
        out += base64_alphabet[v >> 18 & 63];
        out += base64_alphabet[v >> 12 & 63];
        out += base64_alphabet[v >> 6 & 63];
        out += '=';
    }
}

void base58_encode(const uint8_t* bytes, size_t n, std::string& out) {
    size_t zeros = 0;
    while (zeros < n && bytes[zeros] == 0) ++zeros;
    // The base-58 digits of the number, least significant first.
    std::vector<uint8_t> digits;
    digits.reserve(n * 2);
    for (size_t i = zeros; i < n; ++i) {
        uint32_t carry = bytes[i];
        for (uint8_t& d : digits) {
            carry += uint32_t(d) << 8;
            d = uint8_t(carry % 58);
            carry /= 58;
        }
        for (; carry; carry /= 58) digits.push_back(uint8_t(carry % 58));
    }
    out.append(zeros, '1');
    for (auto d = digits.rbegin(); d != digits.rend(); ++d) out += base58_alphabet[*d];
}

// ---- the row

int32_t compare_bytes(const Cell* a, const Cell* b, int32_t op, bool match) {
    uint8_t tb = cell::type_of(b);
    if (tb != type::binary && !series::is_text(tb)) return -2;
    bool same = a->payload2 == b->payload2 && series::clamped_index(a) == series::clamped_index(b);
    if (op == 9) return same && tb == type::binary ? 0 : -1;
    if (same && tb == type::binary && (op == 0 || op == 1 || op == 2 || op == 12)) return 0;
    // Another type's stored units are compared as bytes.
    SeriesBuffer* bb = alloc::buffer_of(b->payload2);
    uint32_t unit_b = tb == type::binary ? 1 : bb->unit();
    uint32_t la = ks_length_q(a), lb = uint32_t(series::length_from(b)) * unit_b;
    const uint8_t* pa = ks_head(a);
    const uint8_t* pb = bb->data() + bb->offset + uint32_t(series::clamped_index(b)) * unit_b;
    bool equality = op == 0 || op == 1 || op == 2 || op == 12;
    uint32_t count;
    if (match) {
        if (lb == 0) return op == 0 || op == 2 || op == 12 ? 0 : 1;
        if (la < lb) {
            // a byte beyond a's tail never matches
            int32_t d = std::memcmp(pa, pb, la);
            return d < 0 ? -1 : 1;
        }
        count = lb;
    } else {
        if (la != lb && equality) return 1;
        count = std::min(la, lb);
    }
    if (count) {
        int32_t d = std::memcmp(pa, pb, count);
        if (d) return d < 0 ? -1 : 1;
    }
    if (match) return 0;
    return la < lb ? -1 : la > lb ? 1 : 0;
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
    if (!cell::is(b, type::binary)) return -2;
    return compare_bytes(a, b, op, false);
}

namespace {

// The hex text of a binary between "#{" and "}": up to 30 bytes on one
// line, else 32 bytes a line, each line one level deeper than the value.
int32_t serialize(const Cell* value, Cell* out, bool only, bool flat, const Cell* part, int32_t budget,
                  int32_t indent) {
    if (!only) {
        string::append_ascii(out, "#{", 2);
        budget -= 2;
    }
    // The text is made first: appending to out may move the bytes.
    uint32_t n = ks_length_q(value);
    std::vector<uint8_t> bytes(ks_head(value), ks_head(value) + n);
    ++indent;
    bool wrap = n > 30 && !flat;
    if (wrap) {
        string::append_ascii(out, "\n", 1);
        budget = string::append_indent(out, indent, budget);
    }
    uint32_t i = 0;
    for (uint8_t byte : bytes) {
        char digits[2] = {hex_digits[byte >> 4], hex_digits[byte & 15]};
        string::append_ascii(out, digits, 2);
        ++i;
        if (i % 32 == 0 && !flat) {
            string::append_ascii(out, "\n", 1);
            budget = string::append_indent(out, i == n ? indent - 1 : indent, budget - 1);
        }
        budget -= 2;
        if (part && budget <= 0) return budget;
    }
    --indent;
    if (wrap && i % 32 != 0) {
        string::append_ascii(out, "\n", 1);
        budget = string::append_indent(out, indent, budget - 1);
    }
    if (!only) {
        string::append_ascii(out, "}", 1);
        budget -= 1;
    }
    return budget;
}

}  // namespace

int32_t form(const Cell* value, Cell* out, const Cell* part, int32_t limit) {
    return serialize(value, out, false, false, part, limit, 0);
}

int32_t mold(const Cell* value, Cell* out, bool only, bool, bool flat, const Cell* part, int32_t limit,
             int32_t indent) {
    return serialize(value, out, only, flat, part, limit, indent);
}

void register_type() {
    datatype::Row row(datatype::unsupported);
    using datatype::inherit;
    // Positions and generic edits from series!; find, select, sort, swap,
    // take and the path access from string!.
    for (action::Slot s : {action::random, action::reflect, action::at, action::back, action::clear, action::copy,
                           action::head, action::head_q, action::index_q, action::length_q, action::move,
                           action::next, action::pick, action::poke, action::remove, action::reverse, action::skip,
                           action::tail, action::tail_q, action::modify, action::find, action::select,
                           action::sort, action::swap, action::take, action::eval_path})
        row.handlers[s - 1] = inherit;
    row.set(action::make, &make_value)
        .set(action::to, &to)
        .set(action::form, &form)
        .set(action::mold, &mold)
        .set(action::compare, &compare)
        .set(action::and_, &and_)
        .set(action::or_, &or_)
        .set(action::xor_, &xor_)
        .set(action::complement, &complement)
        .set(action::append, &insert)
        .set(action::insert, &insert)
        .set(action::change, &change)
        .set(action::trim, &trim);
    datatype::register_type({type::binary, type::string, "binary!", row.handlers});
}

}  // namespace kel::binary
