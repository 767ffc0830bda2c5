#include "runtime/datatypes/string.hpp"

#include <string_view>

#include "runtime/alloc.hpp"
#include "runtime/unicode.hpp"

namespace kel::string {
namespace {

// Room for n more units at the tail; answers the (possibly new) buffer.
SeriesBuffer* reserve(NodeId node, size_t n) {
    SeriesBuffer* b = alloc::buffer_of(node);
    uint64_t need = uint64_t(b->tail) + uint64_t(n) * b->unit();
    if (need <= b->size) return b;
    uint64_t grown = uint64_t(b->size) * 2;
    return alloc::expand_series(b, need > grown ? need : grown);
}

uint32_t unit_at(const uint8_t* p, uint32_t unit) {
    switch (unit) {
        case 1: return p[0];
        case 2: return uint32_t(p[0]) | uint32_t(p[1]) << 8;
        default: return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    }
}

}  // namespace

Cell* make(Cell* out, uint32_t capacity) {
    cell::set_unset(out);  // a collection during the allocation sees no stale value
    NodeId node = alloc::alloc_units(capacity, 1);
    out->header = type::string;
    out->payload1 = 0;
    out->payload2 = node;
    out->payload3 = 0;
    return out;
}

Cell* make_from_utf8(Cell* out, const char* text, size_t n) {
    std::string_view s(text, n);
    uint32_t widest = 0;
    size_t count = 0;
    for (size_t i = 0; i < n; ++count) {
        uint32_t cp = unicode::next_utf8(s, i);
        if (cp > widest) widest = cp;
    }
    uint32_t unit = widest <= 0xFF ? 1 : widest <= 0xFFFF ? 2 : 4;
    cell::set_unset(out);
    NodeId node = alloc::alloc_units(count, unit);
    SeriesBuffer* b = alloc::buffer_of(node);
    uint8_t* p = b->data() + b->offset;
    for (size_t i = 0; i < n; p += unit) {
        uint32_t cp = unicode::next_utf8(s, i);
        for (uint32_t k = 0; k < unit; ++k) p[k] = uint8_t(cp >> (8 * k));
    }
    b->tail = b->offset + uint32_t(count * unit);
    out->header = type::string;
    out->payload1 = 0;
    out->payload2 = node;
    out->payload3 = 0;
    return out;
}

void append_ascii(Cell* str, const char* text, size_t n) {
    SeriesBuffer* b = reserve(str->payload2, n);
    uint32_t unit = b->unit();
    uint8_t* p = b->data() + b->tail;
    for (size_t i = 0; i < n; ++i, p += unit) {
        p[0] = uint8_t(text[i]);
        for (uint32_t k = 1; k < unit; ++k) p[k] = 0;
    }
    b->tail += uint32_t(n * unit);
}

namespace {
// A buffer wide enough for the code point.
SeriesBuffer* wide_enough(NodeId node, uint32_t cp) {
    SeriesBuffer* b = alloc::buffer_of(node);
    uint32_t unit = b->unit();
    if (cp <= 0xFF || (cp <= 0xFFFF && unit >= 2) || unit == 4) return b;
    if (cp <= 0xFFFF) return unicode::widen_1_to_2(b);
    return unit == 1 ? unicode::widen_1_to_4(b) : unicode::widen_2_to_4(b);
}
}  // namespace

void append_char(Cell* str, uint32_t cp) {
    wide_enough(str->payload2, cp);
    SeriesBuffer* b = reserve(str->payload2, 1);
    uint32_t unit = b->unit();
    uint8_t* p = b->data() + b->tail;
    for (uint32_t k = 0; k < unit; ++k) p[k] = uint8_t(cp >> (8 * k));
    b->tail += unit;
}

void append_utf8(Cell* str, const char* text, size_t n) {
    std::string_view s(text, n);
    for (size_t i = 0; i < n;) append_char(str, unicode::next_utf8(s, i));
}

void truncate(Cell* str, uint32_t n) {
    SeriesBuffer* b = alloc::buffer_of(str->payload2);
    uint32_t unit = b->unit();
    uint64_t end = uint64_t(b->offset) + (uint64_t(str->payload1) + n) * unit;
    if (end < b->tail) b->tail = uint32_t(end);
}

int32_t append_indent(Cell* str, int32_t n, int32_t limit) {
    for (int32_t i = 0; i < n; ++i) append_ascii(str, "    ", 4);
    return limit - 4 * n;
}

uint32_t length(const Cell* str) {
    SeriesBuffer* b = alloc::buffer_of(str->payload2);
    uint32_t units = (b->tail - b->offset) / b->unit();
    return units > str->payload1 ? units - str->payload1 : 0;
}

std::string to_utf8(const Cell* str) {
    SeriesBuffer* b = alloc::buffer_of(str->payload2);
    uint32_t unit = b->unit();
    std::string s;
    char buf[4];
    for (uint32_t at = b->offset + str->payload1 * unit; at < b->tail; at += unit)
        s.append(buf, size_t(unicode::encode_utf8_replacing(unit_at(b->data() + at, unit), buf)));
    return s;
}

}  // namespace kel::string
