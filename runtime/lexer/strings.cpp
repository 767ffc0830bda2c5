// The text tokens: strings (quoted, curly and raw), characters, files,
// tags, urls, emails, refs and binary literals.
//
// One builder makes every text value. It takes the unit width from the
// token flags (1 byte for ASCII, 2 when a 2- or 3-byte UTF-8 sequence
// occurs, 4 for a 4-byte one) and from the caret escapes, whose hexadecimal
// groups are measured first; then it decodes straight into a buffer of that
// width, so nothing is widened while decoding.
#include <cstring>
#include <string>

#include "runtime/alloc.hpp"
#include "runtime/datatypes/binary.hpp"
#include "runtime/datatypes/char.hpp"
#include "runtime/datatypes/url.hpp"
#include "runtime/lexer/state.hpp"
#include "runtime/unicode.hpp"

namespace kel::lexer {
namespace {

int hex_digit(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

void put_unit(uint8_t* p, uint32_t unit, uint32_t cp) {
    p[0] = uint8_t(cp);
    if (unit >= 2) p[1] = uint8_t(cp >> 8);
    if (unit == 4) {
        p[2] = uint8_t(cp >> 16);
        p[3] = uint8_t(cp >> 24);
    }
}

uint32_t width_of(uint32_t flags) {
    if (flags & flag::utf8_4) return 4;
    return flags & flag::utf8_2_3 ? 2 : 1;
}

uint32_t width_of_code_point(uint32_t cp) { return cp <= 0xFF ? 1 : cp <= 0xFFFF ? 2 : 4; }

// The OR of the flags of the bytes, for text whose token flags do not cover it.
uint32_t flags_of(const uint8_t* p, const uint8_t* end) {
    uint32_t f = 0;
    for (; p < end; ++p) f |= char_class[*p];
    return f & 0xFFFFFF00;
}

// Widens for the "^(...)" groups of more than 2 (to 2) or 4 (to 4) hex digits.
uint32_t escape_width(const uint8_t* p, const uint8_t* end, uint32_t unit) {
    for (; p + 1 < end && unit < 4; ++p) {
        if (*p != '^') continue;
        if (p[1] != '(') {
            ++p;  // the escaped byte
            continue;
        }
        const uint8_t* q = p + 2;
        while (q < end && hex_digit(*q) >= 0) ++q;
        if (q < end && *q == ')') {
            auto digits = q - (p + 2);
            if (digits > 4) unit = 4;
            else if (digits > 2 && unit < 2) unit = 2;
        }
        p = q - 1;
    }
    return unit;
}

// The "^(...)" names.
constexpr struct {
    const char* name;
    uint32_t cp;
} escape_names[] = {{"null", 0}, {"back", 8}, {"tab", 9}, {"line", 10}, {"page", 12}, {"esc", 27}, {"del", 127}};

// Decodes the escape at p (a caret); answers the code point, or -1 when it
// is not a valid escape, and moves p past it.
int32_t decode_escape(const uint8_t*& p, const uint8_t* end) {
    if (p + 1 >= end) return -1;
    uint8_t c = p[1];
    if (c == '(') {
        const uint8_t* open = p + 1;
        const uint8_t* close = open + 1;
        while (close < end && close <= open + 7 && *close != ')') ++close;
        if (close >= end || close > open + 7 || close == open + 1) return -1;
        p = close + 1;
        uint32_t v = 0;
        bool hex = true;
        for (const uint8_t* q = open + 1; q < close; ++q) {
            int d = hex_digit(*q);
            if (d < 0) hex = false;
            else v = v * 16 + uint32_t(d);
        }
        if (hex) return v <= char_::max_code_point ? int32_t(v) : -1;
        auto n = size_t(close - open - 1);
        for (const auto& e : escape_names) {
            if (std::strlen(e.name) != n) continue;
            bool same = true;
            for (size_t i = 0; i < n && same; ++i) same = (open[1 + i] | 0x20) == e.name[i];
            if (same) return int32_t(e.cp);
        }
        return -1;
    }
    p += 2;
    switch (c) {
        case '"': return '"';
        case '-': return '\t';
        case '/': return '\n';
        case '^': return '^';
        case '{': return '{';
        case '}': return '}';
        case '~': return 127;
        case '@': return 0;
        default: break;
    }
    if (c >= 'a' && c <= 'z') return c - 96;
    if (c >= 'A' && c <= '_') return c - 64;
    if (c < 0x80) return c;
    int32_t cp;
    p = unicode::decode_utf8_char(p - 1, end, &cp);
    return cp;
}

// Decodes [start, end) into units of the given width at out (null: only
// checks); answers the number of code points, or -1 at an invalid sequence
// or escape (*bad receives where).
int64_t decode_text(const uint8_t* start, const uint8_t* end, bool escapes, uint8_t* out, uint32_t unit,
                    const uint8_t** bad) {
    int64_t n = 0;
    const uint8_t* p = start;
    while (p < end) {
        const uint8_t* at = p;
        int32_t cp;
        if (*p < 0x80) {
            if (escapes && *p == '^') cp = decode_escape(p, end);
            else cp = *p++;
        } else {
            p = unicode::decode_utf8_char(p, end, &cp);
        }
        if (cp < 0 || width_of_code_point(uint32_t(cp)) > unit) {
            *bad = at;
            return -1;
        }
        if (out) put_unit(out + n * unit, unit, uint32_t(cp));
        ++n;
    }
    return n;
}

// Emits a text value of the code points.
void emit_code_points(State& s, const std::u32string& cps, uint8_t t) {
    uint32_t unit = 1;
    for (char32_t cp : cps) unit = std::max(unit, width_of_code_point(cp));
    NodeId node = alloc::alloc_units(cps.size(), unit);
    SeriesBuffer* b = alloc::buffer_of(node);
    uint8_t* out = b->data() + b->offset;
    for (size_t i = 0; i < cps.size(); ++i) put_unit(out + i * unit, unit, cps[i]);
    b->tail = b->offset + uint32_t(cps.size() * unit);
    Cell* c = grow_buffer(s);
    *c = Cell{(c->header & cell::newline_flag) | t, 0, node, 0};
}

// Text without escapes taken as it is, or with "%xx" escapes decoded.
void emit_plain(State& s, const uint8_t* start, const uint8_t* end, uint8_t t, bool percent, bool load,
                const uint8_t* error_at) {
    std::u32string cps;
    if (percent) {
        if (!url::decode_utf8(start, size_t(end - start), cps)) throw_error(s, error_at, t);
    } else {
        for (const uint8_t* p = start; p < end;) {
            int32_t cp;
            p = unicode::decode_utf8_char(p, end, &cp);
            if (cp < 0) throw_error(s, error_at, t);
            cps.push_back(char32_t(cp));
        }
    }
    if (load) emit_code_points(s, cps, t);
}

// The bytes that may follow the closing "%" signs of a raw string.
bool ends_raw_string(uint8_t b) {
    switch (char_class[b] & 0xFF) {
        case c_space: case c_lf: case c_lbrack: case c_rbrack: case c_lparen: case c_rparen: case c_lbrace:
        case c_dquote: case c_lt: case c_semi: case c_ctl: case c_end: return true;
        default: return false;
    }
}

// ---- binary literals

int base64_value(uint8_t c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

// Decodes the body of a binary literal into out (null: only checks);
// answers the byte count, or -1 with *bad at the offending character.
int64_t decode_binary(const uint8_t* p, const uint8_t* end, int base, uint8_t* out, const uint8_t** bad) {
    int64_t n = 0;
    uint32_t acc = 0;
    int pending = 0;  // digits (base 2, 16) or characters (base 64) in acc
    bool padded = false;
    for (; p < end; ++p) {
        uint8_t c = *p;
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
        if (c == ';') {
            while (p + 1 < end && p[1] != '\n') ++p;
            continue;
        }
        *bad = p;
        if (base == 16) {
            int d = hex_digit(c);
            if (d < 0) return -1;
            acc = acc << 4 | uint32_t(d);
            if (++pending == 2) {
                if (out) out[n] = uint8_t(acc);
                ++n, pending = 0, acc = 0;
            }
        } else if (base == 2) {
            if (c != '0' && c != '1') return -1;
            acc = acc << 1 | uint32_t(c - '0');
            if (++pending == 8) {
                if (out) out[n] = uint8_t(acc);
                ++n, pending = 0, acc = 0;
            }
        } else {
            if (c == '=') {
                if (!padded && pending < 2) return -1;
                padded = true;
                continue;
            }
            int d = base64_value(c);
            if (d < 0 || padded) return -1;
            acc = acc << 6 | uint32_t(d);
            if (++pending == 4) {
                if (out) out[n] = uint8_t(acc >> 16), out[n + 1] = uint8_t(acc >> 8), out[n + 2] = uint8_t(acc);
                n += 3, pending = 0, acc = 0;
            }
        }
    }
    *bad = end;
    if (base == 64) {
        if (pending == 1) return -1;
        if (pending >= 2) {  // the last group, with or without its padding
            acc <<= 6 * (4 - pending);
            if (out) out[n] = uint8_t(acc >> 16);
            if (out && pending == 3) out[n + 1] = uint8_t(acc >> 8);
            n += pending - 1;
        }
        return n;
    }
    return pending ? -1 : n;
}

}  // namespace

// Builds a text value of type t from [start, end), with caret escapes when
// asked. flags are the token flags covering the text.
void build_text(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, uint8_t t, bool escapes,
                bool load) {
    uint32_t unit = width_of(flags);
    if (escapes && (flags & flag::caret)) unit = escape_width(start, end, unit);
    const uint8_t* bad = nullptr;
    if (!load) {
        if (decode_text(start, end, escapes, nullptr, 4, &bad) < 0) throw_error(s, bad, t);
        return;
    }
    NodeId node = alloc::alloc_units(uint64_t(end - start), unit);
    SeriesBuffer* b = alloc::buffer_of(node);
    int64_t n = decode_text(start, end, escapes, b->data() + b->offset, unit, &bad);
    if (n < 0) throw_error(s, bad, t);
    b->tail = b->offset + uint32_t(n) * unit;
    Cell* c = grow_buffer(s);
    *c = Cell{(c->header & cell::newline_flag) | t, 0, node, 0};
}

void load_string(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    build_text(s, start + 1, end, flags, type::string, true, load);
}

// A traced scan sees a curly string open at its first "{" and close at its
// last "}", as it sees containers: the console waits for the rest of a string
// that is still open at the end of a line.
namespace {
void trace_curly(State& s, uint32_t event, const uint8_t* start, const uint8_t* end) {
    if (!traced(s, event)) return;
    Cell t{};
    cell::set_datatype(&t, type::string);
    fire_event(s, event, t, nullptr, start, end);
}
}  // namespace

void curly_open(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool) {
    if (s.start_state != s_curly) {
        trace_curly(s, event::open, start, end);
        s.curly_start = end;
        s.curly_nesting = 1;
        s.curly_flags = flags;
        s.curly_newline = s.newline;
        s.start_state = s_curly;
        return;
    }
    ++s.curly_nesting;
    s.curly_flags |= flags;
}

void curly_close(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    s.curly_flags |= flags;
    if (--s.curly_nesting > 0) {
        if (end + 1 >= s.input_end) throw_error(s, s.curly_start, type::string);
        return;
    }
    s.start_state = 0;
    s.newline = s.curly_newline;
    trace_curly(s, event::close, start, end);
    build_text(s, s.curly_start + 1, end, s.curly_flags, type::string, true, load);
    s.curly_start = nullptr;
    s.curly_flags = 0;
    s.token_start = start;
}

void load_raw_string(State& s, const uint8_t* start, const uint8_t*, uint32_t, bool load) {
    const uint8_t* p = start;
    while (p < s.input_end && *p == '%') ++p;
    auto n = p - start;
    if (p == s.input_end || *p != '{') throw_error(s, start, type::string);
    const uint8_t* body = p + 1;
    for (const uint8_t* q = body; q < s.input_end && *q; ++q) {
        if (*q != '}') continue;
        const uint8_t* r = q + 1;
        while (r < s.input_end && *r == '%') ++r;
        if (r - (q + 1) < n) continue;
        if (r - (q + 1) > n || (r < s.input_end && !ends_raw_string(*r))) throw_error(s, start, type::string);
        for (const uint8_t* lf = s.token_end; lf < r; ++lf) s.line += *lf == '\n';
        s.position = r;
        s.token_end = r;
        if (!load) return;
        build_text(s, body, q, flags_of(body, q), type::string, false, true);
        return;
    }
    throw_error(s, start, type::string);
}

void load_char(State& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    const uint8_t* p = start + 2;  // after #"
    int32_t cp = -1;
    if (p < end) {
        if (*p == '^') cp = decode_escape(p, end);
        else if (*p < 0x80) cp = *p++;
        else p = unicode::decode_utf8_char(p, end, &cp);
    }
    if (cp < 0 || uint32_t(cp) > char_::max_code_point || p != end) throw_error(s, start, type::char_);
    if (load) {
        Cell* c = grow_buffer(s);
        *c = Cell{(c->header & cell::newline_flag) | type::char_, 0, uint32_t(cp), 0};
    }
}

void load_file(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    if (start + 1 < end && start[1] == '"') {
        build_text(s, start + 2, end, flags, type::file, true, load);
        return;
    }
    bool percent = std::memchr(start + 1, '%', size_t(end - start - 1)) != nullptr;
    emit_plain(s, start + 1, end, type::file, percent, load, start);
}

void load_tag(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    if (*start != '<') throw_error(s, start, type::tag);
    build_text(s, start + 1, end, flags, type::tag, false, load);
}

void load_url(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    if (*start == ':') throw_error(s, start, type::get_word);
    if (*start == '\'') throw_error(s, start, type::lit_word);
    emit_plain(s, start, end, type::url, (flags & flag::percent) != 0, load, start);
}

void load_email(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    build_text(s, start, end, flags, type::email, false, load);
}

void load_ref(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    build_text(s, start + 1, end, flags, type::ref, false, load);
}

void load_binary(State& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    const uint8_t* hash = start;
    while (*hash != '#') ++hash;
    int base = 0;
    auto digits = hash - start;
    if (digits == 0 || (digits == 2 && start[0] == '1' && start[1] == '6')) base = 16;
    else if (digits == 1 && start[0] == '2') base = 2;
    else if (digits == 2 && start[0] == '6' && start[1] == '4') base = 64;
    if (!base) throw_error(s, start, type::binary);
    const uint8_t* body = hash + 2;  // after #{
    const uint8_t* bad = nullptr;
    if (!load) {
        if (decode_binary(body, end, base, nullptr, &bad) < 0) throw_error(s, bad, type::binary);
        return;
    }
    auto length = uint64_t(end - body);
    uint64_t room = base == 16 ? length / 2 : base == 2 ? length / 8 : (length + 1) * 3 / 4;
    Cell bin{};
    binary::make_at(&bin, uint32_t(room));
    SeriesBuffer* b = alloc::buffer_of(bin.payload2);
    int64_t n = decode_binary(body, end, base, b->data() + b->offset, &bad);
    if (n < 0) throw_error(s, bad, type::binary);
    b->tail = b->offset + uint32_t(n);
    Cell* c = grow_buffer(s);
    *c = Cell{(c->header & cell::newline_flag) | type::binary, 0, bin.payload2, 0};
}

}  // namespace kel::lexer
