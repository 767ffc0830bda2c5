// Unicode text conversions. The head of unicode.hpp says what a text buffer
// and a text value are.
//
// Two UTF-8 decoders serve different callers. The fast one is a table-driven
// automaton that answers -1 for invalid input and lets the caller decide; the
// strict one feeds the loaders, raises on invalid input and has rules of its
// own (see decode_utf8_checked). Both take an end and never read past it.
//
// Loading validates the input first and then sizes the target once, for the
// widest code point met, so the only allocation happens between the two
// passes; the collector is held off for it, so a source that lives in a series
// buffer cannot move under the second pass. The scratch conversions allocate
// first and then re-read every buffer through its node.
#include "runtime/unicode.hpp"

#include <algorithm>
#include <cstring>

#include "runtime/collector.hpp"
#include "runtime/error.hpp"
#include "runtime/system.hpp"

namespace kel::unicode {

// clang-format off
const uint8_t utf8_automaton[364] = {
    // byte classes
    0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0, 0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,
    0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0, 0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,
    0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0, 0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,
    0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0, 0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,
    1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1, 9,9,9,9,9,9,9,9,9,9,9,9,9,9,9,9,
    7,7,7,7,7,7,7,7,7,7,7,7,7,7,7,7, 7,7,7,7,7,7,7,7,7,7,7,7,7,7,7,7,
    8,8,2,2,2,2,2,2,2,2,2,2,2,2,2,2, 2,2,2,2,2,2,2,2,2,2,2,2,2,2,2,2,
    10,3,3,3,3,3,3,3,3,3,3,3,3,4,3,3, 11,6,6,6,5,8,8,8,8,8,8,8,8,8,8,8,
    // transitions: state + class
    0,12,24,36,60,96,84,12,12,12,48,72,
    12,12,12,12,12,12,12,12,12,12,12,12,
    12,0,12,12,12,12,12,0,12,0,12,12,
    12,24,12,12,12,12,12,24,12,24,12,12,
    12,12,12,12,12,12,12,24,12,12,12,12,
    12,24,12,12,12,12,12,12,12,24,12,12,
    12,12,12,12,12,12,12,36,12,36,12,12,
    12,36,12,12,12,12,12,36,12,36,12,12,
    12,36,12,12,12,12,12,12,12,12,12,12,
};
// clang-format on

namespace {

constexpr uint32_t reject = 12;
constexpr uint32_t loaded_from_utf16 = 0x40000;  // buffer flag set by load_utf16le

[[noreturn]] void bad_unit() { sys::quit(101, KEL_CALLER_ADDRESS()); }

[[noreturn]] void invalid_char(uint32_t cp) {
    Cell arg;
    cell::set_integer(&arg, int32_t(cp));
    error::fire(error::id::invalid_char, &arg);
}

// The argument is a binary! of the sequence's first 4 bytes, or of fewer
// when the input ends sooner.
[[noreturn]] void invalid_utf8(const uint8_t* sequence, uint32_t available) {
    uint8_t bytes[4];
    uint32_t n = std::min(available, 4u);
    std::memcpy(bytes, sequence, n);  // before allocating: the input may live in a series buffer
    NodeId id = alloc::alloc_bytes(4);
    SeriesBuffer* b = alloc::buffer_of(id);
    std::memcpy(b->data(), bytes, n);
    b->tail = n;
    Cell arg{type::binary, 0, id, 0};
    error::fire(error::id::invalid_utf8, &arg);
}

uint32_t checked_unit(const SeriesBuffer* b) {
    uint32_t unit = b->unit();
    if (unit != 1 && unit != 2 && unit != 4) bad_unit();
    return unit;
}

inline uint32_t get_unit(const uint8_t* p, uint32_t unit) {
    if (unit == 1) return *p;
    if (unit == 2) {
        uint16_t v;
        std::memcpy(&v, p, 2);
        return v;
    }
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

inline void put_unit(uint8_t* p, uint32_t unit, uint32_t cp) {
    if (unit == 1) {
        *p = uint8_t(cp);
    } else if (unit == 2) {
        uint16_t v = uint16_t(cp);
        std::memcpy(p, &v, 2);
    } else {
        std::memcpy(p, &cp, 4);
    }
}

inline uint32_t get_utf16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }

// The units of a text value from its index (clamped to the tail) to the tail.
struct TextRange {
    const uint8_t* at;
    uint32_t unit;
    uint32_t count;
};

TextRange text_range(const Cell* text) {
    SeriesBuffer* b = alloc::buffer_of(text->payload2);
    uint32_t unit = checked_unit(b);
    uint32_t length = (b->tail - b->offset) / unit;
    uint32_t index = std::min(text->payload1, length);
    return {b->data() + b->offset + size_t(index) * unit, unit, length - index};
}

uint32_t width_for(uint32_t cp) { return cp > 0xFFFF ? 4 : cp > 0xFF ? 2 : 1; }

void set_unit(SeriesBuffer* b, uint32_t unit) { b->flags = (b->flags & ~alloc::flag::unit_mask) | unit; }

// target (or a new buffer when null) ready to take `units` units of width
// `unit` from its offset; its old content is dropped.
SeriesBuffer* prepare_target(SeriesBuffer* target, uint32_t units, uint32_t unit) {
    if (!target) return alloc::buffer_of(alloc::alloc_series(std::max(units, 1u), unit, 0));
    unit = std::max(unit, checked_unit(target));
    uint64_t need = uint64_t(std::max(units, 1u)) * unit;
    if (target->size - target->offset < need) target = alloc::realloc_series(target, need);
    set_unit(target, unit);
    target->tail = target->offset;
    return target;
}

SeriesBuffer* widen(SeriesBuffer* b, uint32_t from, uint32_t to) {
    if (checked_unit(b) != from) bad_unit();
    uint32_t factor = to / from;
    uint64_t used = b->tail - b->offset;
    if (uint64_t(b->offset) * factor + used * factor + to > b->size) b = alloc::expand_series(b, used * factor + to);
    uint32_t count = uint32_t(used / from);
    const uint8_t* src = b->data() + b->offset;
    uint8_t* dst = b->data() + size_t(b->offset) * factor;
    // Each unit moves to a higher or equal address: from the last, no unit is
    // overwritten before it is read.
    for (uint32_t i = count; i-- > 0;) put_unit(dst + size_t(i) * to, to, get_unit(src + size_t(i) * from, from));
    b->offset *= factor;
    b->tail = b->offset + count * to;
    set_unit(b, to);
    return b;
}

}  // namespace

// ---- UTF-8, fast path

const uint8_t* decode_utf8_char(const uint8_t* p, const uint8_t* end, int32_t* cp) {
    const uint8_t* transition = utf8_automaton + 256;
    uint32_t b = *p++;
    uint32_t type = utf8_automaton[b];
    uint32_t code = (0xFFu >> type) & b;
    uint32_t state = transition[type];
    while (state != 0) {
        if (state == reject || p == end) {
            *cp = -1;
            return p;
        }
        b = *p++;
        type = utf8_automaton[b];
        code = (code << 6) | (b & 0x3F);
        state = transition[state + type];
    }
    *cp = int32_t(code);
    return p;
}

uint32_t utf8_length(const uint8_t* start, const uint8_t* end) {
    uint32_t n = 0;
    int32_t cp;
    while (start < end) {
        if (*start < 0x80) {
            ++start;
        } else {
            start = decode_utf8_char(start, end, &cp);
        }
        ++n;
    }
    return n;
}

const uint8_t* utf8_skip(const uint8_t* start, const uint8_t* end, uint32_t n) {
    int32_t cp;
    for (; n > 0 && start < end; --n) start = decode_utf8_char(start, end, &cp);
    return start;
}

int utf8_char_size(uint8_t lead) {
    if ((lead & 0xF0) == 0xF0) return 4;
    if ((lead & 0xE0) == 0xE0) return 3;
    if ((lead & 0xC0) == 0xC0) return 2;
    return 0;
}

// ---- UTF-8 sizes and encoding

int utf8_size_of(uint32_t cp) {
    if (cp < 0x80) return 1;
    if (cp < 0x800) return 2;
    if (cp < 0x10000) return 3;
    if (cp < 0x110000) return 4;
    invalid_char(cp);
}

uint64_t utf8_size_of_range(const uint8_t* start, const uint8_t* end, uint32_t unit) {
    if (unit != 1 && unit != 2 && unit != 4) bad_unit();
    uint64_t n = 0;
    for (; start < end; start += unit) n += uint64_t(utf8_size_of(get_unit(start, unit)));
    return n;
}

int encode_utf8(uint32_t cp, uint8_t* dest) {
    if (cp < 0x80) {
        dest[0] = uint8_t(cp);
        return 1;
    }
    if (cp < 0x800) {
        dest[0] = uint8_t(0xC0 | (cp >> 6));
        dest[1] = uint8_t(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        dest[0] = uint8_t(0xE0 | (cp >> 12));
        dest[1] = uint8_t(0x80 | ((cp >> 6) & 0x3F));
        dest[2] = uint8_t(0x80 | (cp & 0x3F));
        return 3;
    }
    if (cp > 0x10FFFF) invalid_char(cp);
    dest[0] = uint8_t(0xF0 | (cp >> 18));
    dest[1] = uint8_t(0x80 | ((cp >> 12) & 0x3F));
    dest[2] = uint8_t(0x80 | ((cp >> 6) & 0x3F));
    dest[3] = uint8_t(0x80 | (cp & 0x3F));
    return 4;
}

int encode_utf8_partial(uint32_t cp, uint8_t* dest, int64_t room) {
    uint8_t bytes[4];
    int n = encode_utf8(cp, bytes);
    if (room < n) n = room > 0 ? int(room) : 0;
    std::memcpy(dest, bytes, size_t(n));
    return n;
}

uint32_t encode_utf8_range(const Cell* text, uint8_t* dest, int32_t n, bool terminate) {
    TextRange r = text_range(text);
    uint32_t count = n < 0 ? r.count : std::min(uint32_t(n), r.count);
    uint8_t* out = dest;
    for (uint32_t i = 0; i < count; ++i) out += encode_utf8(get_unit(r.at + size_t(i) * r.unit, r.unit), out);
    if (terminate) *out = 0;
    return uint32_t(out - dest);
}

uint32_t encode_utf8_bounded(const Cell* text, uint8_t* dest, int64_t room, int32_t n, bool terminate) {
    TextRange r = text_range(text);
    uint32_t count = n > 0 && uint32_t(n) < r.count ? uint32_t(n) : r.count;
    uint8_t* out = dest;
    for (uint32_t i = 0; i < count && room > 0; ++i) {
        int k = encode_utf8_partial(get_unit(r.at + size_t(i) * r.unit, r.unit), out, room);
        out += k;
        room -= k;
    }
    if (terminate && room > 0) *out = 0;
    return uint32_t(out - dest);
}

uint8_t* to_utf8(Cell* text, int32_t* length) { return to_utf8_part(text, length, false); }

uint8_t* to_utf8_part(Cell* text, int32_t* length, bool crlf) {
    TextRange r = text_range(text);
    uint32_t n = *length < 0 ? r.count : std::min(uint32_t(*length), r.count);
    uint64_t size = r.unit == 4 ? 4 * (uint64_t(n) + 1) : (r.unit + 1) * (uint64_t(n) + 1);
    if (size > alloc::series_limit) error::fire(error::id::no_memory);
    uint8_t* out = cache_buffer(text, uint32_t(size));
    r = text_range(text);  // the allocation may have moved the text
    uint8_t* p = out;
    for (uint32_t i = 0; i < n; ++i) {
        uint32_t cp = get_unit(r.at + size_t(i) * r.unit, r.unit);
        if (cp == '\n' && crlf) *p++ = '\r';
        p += encode_utf8(cp, p);
    }
    *p = 0;
    *length = int32_t(p - out);
    return out;
}

// ---- Widening

SeriesBuffer* widen_1_to_2(SeriesBuffer* b) { return widen(b, 1, 2); }
SeriesBuffer* widen_1_to_4(SeriesBuffer* b) { return widen(b, 1, 4); }
SeriesBuffer* widen_2_to_4(SeriesBuffer* b) { return widen(b, 2, 4); }

// ---- Loading UTF-8

int32_t decode_utf8_checked(const uint8_t* p, uint32_t* length) {
    uint32_t available = *length;
    if (available == 0) return -1;
    uint32_t b = p[0];
    if (b < 0x80) {
        *length = 1;
        return int32_t(b);
    }
    uint32_t n, cp;
    if (b < 0xC0) invalid_utf8(p, available);
    if (b < 0xE0) {
        n = 2;
        cp = b & 0x1F;
    } else if (b < 0xF0) {
        n = 3;
        cp = b & 0x0F;
    } else if (b < 0xF8) {
        n = 4;
        cp = b & 0x07;
    } else {
        invalid_utf8(p, available);
    }
    if (available < n) return -1;
    for (uint32_t k = 1; k < n; ++k) {
        if ((p[k] & 0xC0) != 0x80) invalid_utf8(p, available);
        cp = (cp << 6) | (p[k] & 0x3F);
    }
    if ((n == 3 && cp >= 0xDC00 && cp <= 0xDCFF) || cp == 0xFFFE || cp > 0x10FFFF) invalid_utf8(p, available);
    *length = n;
    return int32_t(cp);
}

SeriesBuffer* load_utf8(const uint8_t* bytes, uint32_t length, SeriesBuffer* target, uint32_t* remaining,
                        bool crlf) {
    const uint8_t* start = bytes;
    const uint8_t* end = bytes + length;
    if (length > 2 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) start += 3;

    // First pass: validate, count the units to store and find the widest.
    uint32_t units = 0, widest = 0;
    const uint8_t* p = start;
    while (p < end) {
        uint32_t n = uint32_t(end - p);
        int32_t cp = decode_utf8_checked(p, &n);
        if (cp < 0) break;
        p += n;
        if (crlf && cp == '\r' && p < end && *p == '\n') continue;
        widest = std::max(widest, uint32_t(cp));
        ++units;
    }
    const uint8_t* stop = p;

    collector::Pause hold;  // keeps `bytes` where it is while the target is sized
    SeriesBuffer* b = prepare_target(target, units, width_for(widest));
    uint32_t unit = b->unit();
    uint8_t* out = b->data() + b->offset;
    for (p = start; p < stop;) {
        uint32_t n = uint32_t(stop - p);
        uint32_t cp = uint32_t(decode_utf8_checked(p, &n));
        p += n;
        if (crlf && cp == '\r') {
            if (p < end && *p == '\n') continue;
            cp = '\n';
        }
        put_unit(out, unit, cp);
        out += unit;
    }
    b->tail = uint32_t(out - b->data());
    if (remaining) *remaining = uint32_t(end - stop);
    return b;
}

SeriesBuffer* load_utf8_into(const uint8_t* bytes, uint32_t length, Cell* text, uint32_t* remaining) {
    return load_utf8(bytes, length, alloc::buffer_of(text->payload2), remaining, false);
}

SeriesBuffer* load_utf8_cstr(const uint8_t* bytes, uint32_t length) {
    return load_utf8(bytes, length, nullptr, nullptr, false);
}

// ---- UTF-16LE

uint32_t utf16_unit_width(const void* units, uint32_t n) {
    const auto* p = static_cast<const uint8_t*>(units);
    uint32_t width = 1;
    for (uint32_t i = 0; i < n; ++i) {
        uint8_t high = p[2 * size_t(i) + 1];
        if (high >= 0xD8 && high <= 0xDF) return 4;
        if (high) width = 2;
    }
    return width;
}

SeriesBuffer* load_utf16le(const void* units, uint32_t n, Cell* target, bool crlf) {
    NodeId scratch = units ? 0 : target->payload3;
    auto source = [&] { return scratch ? alloc::buffer_of(scratch)->data() : static_cast<const uint8_t*>(units); };
    uint32_t width = utf16_unit_width(source(), n);

    collector::Pause hold;  // allocations move only the buffer they grow
    SeriesBuffer* b;
    if (target) {
        b = alloc::buffer_of(target->payload2);
        if (b->size - b->offset < uint64_t(n) * width) b = alloc::realloc_series(b, uint64_t(n) * width);
        set_unit(b, width);
    } else {
        b = alloc::buffer_of(n ? alloc::alloc_series(n, width, 0) : alloc::alloc_series(1, 2, 0));
    }
    b->flags |= loaded_from_utf16;

    const uint8_t* in = source();
    uint8_t* out = b->data() + b->offset;
    uint32_t unit = b->unit();
    if (unit == 2 && !crlf) {
        std::memcpy(out, in, size_t(n) * 2);
        out += size_t(n) * 2;
    } else {
        for (uint32_t i = 0; i < n; ++i) {
            uint32_t cp = get_utf16(in + 2 * size_t(i));
            if (crlf && cp == '\r') {
                if (i + 1 < n && get_utf16(in + 2 * size_t(i) + 2) == '\n') continue;
                cp = '\n';
            }
            if (unit == 4 && cp >= 0xD800 && cp <= 0xDBFF && i + 1 < n) {
                uint32_t low = get_utf16(in + 2 * size_t(i) + 2);
                if (low >= 0xDC00 && low <= 0xDFFF) {
                    cp = (((cp & 0x3FF) << 10) | (low & 0x3FF)) + 0x10000;
                    ++i;
                }
            }
            put_unit(out, unit, cp);
            out += unit;
        }
    }
    b->tail = uint32_t(out - b->data());
    return b;
}

uint64_t utf16_extra_bytes(const uint8_t* start, const uint8_t* end, uint32_t unit) {
    if (unit != 1 && unit != 2 && unit != 4) bad_unit();
    uint64_t n = 0;
    for (; start < end; start += unit) {
        uint32_t cp = get_unit(start, unit);
        if (cp == '\n' || cp > 0xFFFF) n += 2;
    }
    return n;
}

char16_t* to_utf16(Cell* text) {
    int32_t count = -1;
    return to_utf16_part(text, &count, true);
}

char16_t* to_utf16_part(Cell* text, int32_t* count, bool crlf) {
    TextRange r = text_range(text);
    uint32_t n = *count < 0 ? r.count : std::min(uint32_t(*count), r.count);
    uint64_t size = utf16_extra_bytes(r.at, r.at + size_t(n) * r.unit, r.unit) + 2 * uint64_t(n) + 2;
    if (size > alloc::series_limit) error::fire(error::id::no_memory);
    auto* out = reinterpret_cast<char16_t*>(cache_buffer(text, uint32_t(size)));
    r = text_range(text);  // the allocation may have moved the text
    char16_t* p = out;
    for (uint32_t i = 0; i < n; ++i) {
        uint32_t cp = get_unit(r.at + size_t(i) * r.unit, r.unit);
        if (cp == '\n' && crlf) *p++ = u'\r';
        int k = encode_utf16_char(cp, p);
        if (k == 0) return nullptr;
        p += k;
    }
    *p = 0;
    *count = int32_t(p - out);
    return out;
}

int encode_utf16_char(uint32_t cp, char16_t* dest) {
    if (cp < 0x10000) {
        dest[0] = char16_t(cp);
        return 1;
    }
    if (cp > 0x10FFFF) return 0;
    dest[0] = char16_t(0xD800 | ((cp - 0x10000) >> 10));
    dest[1] = char16_t(0xDC00 | ((cp - 0x10000) & 0x3FF));
    return 2;
}

char16_t* ascii_to_utf16(const char* bytes, char16_t* dest) {
    char16_t* p = dest;
    while (*bytes) *p++ = char16_t(uint8_t(*bytes++));
    *p = 0;
    return dest;
}

uint8_t* cache_buffer(Cell* text, uint32_t size) {
    if (text->payload3 == 0) {
        NodeId id = alloc::alloc_bytes(size);
        text->payload3 = id;
        return alloc::buffer_of(id)->data();
    }
    SeriesBuffer* b = alloc::buffer_of(text->payload3);
    if (b->size < size) b = alloc::realloc_series(b, size);
    return b->data();
}

// ---- The platform boundary

int encode_utf8_replacing(uint32_t cp, char* out) {
    return encode_utf8(cp > 0x10FFFF ? 0xFFFD : cp, reinterpret_cast<uint8_t*>(out));
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
        out.append(buf, size_t(encode_utf8_replacing(cp, buf)));
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
