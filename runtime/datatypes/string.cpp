// string!: the text primitives, and make, to, form, mold and compare.
//
// Text is read and written through a node and a unit index, never a raw
// address held across an allocation: an append may widen or grow the
// buffer, which moves it.
#include "runtime/datatypes/string.hpp"

#include <algorithm>
#include <cstdio>
#include <string_view>
#include <vector>

#include "runtime/actions.hpp"
#include "runtime/alloc.hpp"
#include "runtime/case_folding.hpp"
#include "runtime/checks.hpp"
#include "runtime/datatype.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/error.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"
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

Cell* load_at(Cell* out, const uint8_t* bytes, uint32_t n) {
    cell::set_unset(out);  // a collection during the load sees no stale value
    SeriesBuffer* b = unicode::load_utf8_cstr(bytes, n);
    out->header = type::string;
    out->payload1 = 0;
    out->payload2 = b->node;
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
        s.append(buf, size_t(unicode::encode_utf8_replacing(get_char(b->data() + at, unit), buf)));
    return s;
}


uint32_t get_char(const uint8_t* p, uint32_t unit) {
    switch (unit) {
        case 1: return p[0];
        case 2: return uint32_t(p[0]) | uint32_t(p[1]) << 8;
        default: return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    }
}

void put_char(uint8_t* p, uint32_t unit, uint32_t cp) {
    for (uint32_t k = 0; k < unit; ++k) p[k] = uint8_t(cp >> (8 * k));
}

SeriesBuffer* widen_to(NodeId node, uint32_t unit) {
    SeriesBuffer* b = alloc::buffer_of(node);
    uint32_t has = b->unit();
    if (has >= unit) return b;
    if (unit == 2) return unicode::widen_1_to_2(b);
    return has == 1 ? unicode::widen_1_to_4(b) : unicode::widen_2_to_4(b);
}

void append_text(Cell* str, const std::u32string& text) {
    uint32_t widest = 0;
    for (char32_t cp : text) widest = std::max<uint32_t>(widest, cp);
    // Appending widens from U+0080, as append_char does.
    if (widest >= 0x80) widen_to(str->payload2, widest <= 0xFFFF ? 2 : 4);
    SeriesBuffer* b = reserve(str->payload2, text.size());
    uint32_t unit = b->unit();
    uint8_t* p = b->data() + b->tail;
    for (char32_t cp : text) {
        put_char(p, unit, cp);
        p += unit;
    }
    b->tail += uint32_t(text.size() * unit);
}

std::u32string read_text(const Cell* s, int64_t from, int64_t n) {
    SeriesBuffer* b = alloc::buffer_of(s->payload2);
    uint32_t unit = series::unit_of(b);
    int64_t total = (b->tail - b->offset) / unit;
    from = std::clamp<int64_t>(from, 0, total);
    n = std::clamp<int64_t>(n, 0, total - from);
    std::u32string out(size_t(n), U'\0');
    const uint8_t* p = b->data() + b->offset + uint64_t(from) * unit;
    for (int64_t i = 0; i < n; ++i, p += unit) out[size_t(i)] = get_char(p, unit);
    return out;
}

std::string utf8_of(const std::u32string& text) {
    std::string out;
    out.reserve(text.size());
    char buf[4];
    for (char32_t cp : text) out.append(buf, size_t(unicode::encode_utf8_replacing(cp, buf)));
    return out;
}

std::string utf8_of(const Cell* s) { return utf8_of(text_of(s)); }

Units units_of(const Cell* s) {
    SeriesBuffer* b = alloc::buffer_of(s->payload2);
    uint32_t unit = series::unit_of(b);
    return {b->data() + b->offset + uint64_t(series::clamped_index(s)) * unit, uint32_t(series::length_from(s)), unit};
}

std::u32string text_of(const Cell* s) {
    return read_text(s, series::clamped_index(s), series::length_from(s));
}

std::u32string formed(const Cell* value, int32_t limit) {
    Cell* held = stack::push(value);
    Cell* out = stack::push_slot();
    make(out, 16);
    actions::form(held, out, nullptr, limit);
    std::u32string text = read_text(out, 0, std::min<int64_t>(series::total_length(out), limit));
    stack::pop(2);
    return text;
}

// ---- mold

namespace {

// The escape of each code point below 0x5F: "^" and the entry, when not 0.
constexpr char escapes[0x5F] = {
    '@', 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', '-', '/', 'K', 'L', 'M', 'N', 'O',
    'P', 'Q', 'R', 'S', 'T', 'U', 'V', 'W', 'X', 'Y', 'Z', '[', '\\', ']', '^', '_',
    0, 0, '"', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, '^',
};

// Code points written in the "^(hex)" form: 0x1E (whose caret form "^^"
// would read back as a caret), the C1 controls, and the values UTF-8 text
// cannot carry back to the lexer (surrogates, U+FFFE and U+FFFF).
bool hex_escaped(uint32_t cp, bool ascii) {
    return cp == 0x1E || (cp >= 0x80 && cp <= 0x9F) || (ascii && cp > 0x7F) || (cp >= 0xD800 && cp <= 0xDFFF) ||
           cp == 0xFFFE || cp == 0xFFFF;
}

}  // namespace

int32_t mold_char_escaped(Cell* out, uint32_t cp, bool ascii) {
    if (hex_escaped(cp, ascii)) {
        char buf[16];
        int n = std::snprintf(buf, sizeof buf, "^(%X)", cp);
        append_ascii(out, buf, size_t(n));
        return n;
    }
    if (cp < 0x5F && escapes[cp]) {
        char buf[2] = {'^', escapes[cp]};
        append_ascii(out, buf, 2);
        return 2;
    }
    if (cp == 0x7F) {
        append_ascii(out, "^~", 2);
        return 2;
    }
    append_char(out, cp);
    return 1;
}

int32_t form(const Cell* value, Cell* out, const Cell* part, int32_t limit) {
    const Cell v = *value;
    std::u32string text = text_of(&v);
    int32_t n = int32_t(text.size());
    if (part && limit < n) text.resize(size_t(std::max(limit, 0)));
    append_text(out, text);
    return limit - n;
}

int32_t mold(const Cell* value, Cell* out, bool, bool all, bool, const Cell* part, int32_t limit, int32_t) {
    const Cell v = *value;
    std::u32string text = text_of(&v);
    int32_t length = int32_t(text.size());
    if (part && limit < length) text.resize(size_t(std::max(limit, 0)));
    size_t quotes = 0, lines = 0;
    for (char32_t cp : text) {
        quotes += cp == '"';
        lines += cp == '\n';
    }
    bool braces = lines >= 3 || quotes > 0 || length >= 50;
    if (!braces) {
        append_ascii(out, "\"", 1);
        for (char32_t cp : text) mold_char_escaped(out, cp, all);
        append_ascii(out, "\"", 1);
        return limit - int32_t(text.size()) - 2;
    }
    // A brace is written plain only when it has its partner in the text, so
    // that the lexer's brace count closes the string exactly at the end.
    std::vector<bool> plain(text.size(), false);
    std::vector<size_t> open;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '{') {
            open.push_back(i);
        } else if (text[i] == '}' && !open.empty()) {
            plain[open.back()] = plain[i] = true;
            open.pop_back();
        }
    }
    append_ascii(out, "{", 1);
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        if (cp == '{' || cp == '}') {
            if (!plain[i]) append_ascii(out, "^", 1);
            append_char(out, cp);
        } else if (cp == '"') {
            append_char(out, cp);
        } else {
            mold_char_escaped(out, cp, all);
        }
    }
    append_ascii(out, "}", 1);
    return limit - int32_t(text.size()) - 2;
}

// ---- compare

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
    uint8_t ta = cell::type_of(a), tb = cell::type_of(b);
    if (ta != tb && !(series::is_text(tb) && (op == compare_op::equal || op == compare_op::not_equal))) return -2;
    if (!series::is_text(tb)) return -2;
    bool same = a->payload2 == b->payload2 && series::clamped_index(a) == series::clamped_index(b);
    bool equality = op == compare_op::equal || op == compare_op::not_equal || op == compare_op::strict_equal ||
                    op == compare_op::find;
    if (op == compare_op::same) return same && ta == tb ? 0 : -1;
    if (same && equality) return 0;
    // Compared in place, unit by unit: nothing here allocates.
    Units x = units_of(a), y = units_of(b);
    if (x.count != y.count && (equality || y.count == 0)) return 1;
    bool fold = op != compare_op::strict_equal && op != compare_op::sort_case;
    uint32_t n = std::min(x.count, y.count);
    for (uint32_t i = 0; i < n; ++i) {
        uint32_t p = get_char(x.start + uint64_t(i) * x.unit, x.unit);
        uint32_t q = get_char(y.start + uint64_t(i) * y.unit, y.unit);
        if (p == q) continue;
        if (fold) {
            p = case_folding::change_case(p, true);
            q = case_folding::change_case(q, true);
            if (p == q) continue;
        }
        return p > q ? 1 : -1;
    }
    return x.count == y.count ? 0 : x.count > y.count ? 1 : -1;
}

// ---- make and to

namespace {

Cell* new_text(uint32_t capacity) {
    Cell* out = stack::push_slot();
    return make(out, capacity);
}
}  // namespace

Cell* make_value(Cell* proto, Cell* spec, uint8_t t) {
    if (cell::is(spec, type::integer) || cell::is(spec, type::float_)) {
        int32_t n = cell::is(spec, type::integer) ? cell::integer(spec) : integer::check_float_range(spec);
        if (n < 0) error::fire(error::id::out_of_range, spec);
        Cell* out = new_text(uint32_t(n));
        cell::set_type(out, t);
        return out;
    }
    return to(proto, spec, t);
}

Cell* to(Cell*, Cell* spec, uint8_t t) {
    uint8_t st = cell::type_of(spec);
    Cell* out;
    if (st == type::none) {
        error::fire_bad_to_arg(type::string, spec);
    } else if (st == type::block || st == type::paren || st == type::hash) {
        out = new_text(16);
        for (int32_t i = series::clamped_index(spec); i < series::total_length(spec); ++i) {
            Cell item = series::cells_of(spec->payload2)[i];
            append_text(out, formed(&item));
        }
    } else if (series::is_text(st)) {
        out = stack::push_slot();
        cell::set_unset(out);
        series::copy(spec, out, nullptr, false, nullptr);
        out->header = st;
    } else if (st == type::refinement && t != type::string) {
        out = new_text(16);
        actions::mold(spec, out, false, false, false, nullptr, 0x7FFFFFFF, 0);
    } else if (st == type::binary) {
        SeriesBuffer* b = alloc::buffer_of(spec->payload2);
        const uint8_t* bytes = b->data() + b->offset + series::clamped_index(spec);
        out = load_at(stack::push_slot(), bytes, uint32_t(series::length_from(spec)));
    } else {
        out = new_text(16);
        std::u32string text = formed(spec);
        append_text(out, text);
    }
    cell::set_type(out, t);
    out->header &= ~cell::newline_flag;
    out->payload3 = 0;
    return out;
}

void register_type() {
    datatype::Row row(datatype::inherit);
    row.set(action::make, &make_value)
        .set(action::to, &to)
        .set(action::form, &form)
        .set(action::mold, &mold)
        .set(action::eval_path, &eval_path)
        .set(action::set_path, static_cast<void (*)()>(nullptr))
        .set(action::compare, &compare)
        .set(action::append, &insert)
        .set(action::change, &change)
        .set(action::find, &find)
        .set(action::insert, &insert)
        .set(action::put, static_cast<void (*)()>(nullptr))
        .set(action::select, &select)
        .set(action::sort, &sort)
        .set(action::swap, &swap)
        .set(action::trim, &trim);
    datatype::register_type({type::string, type::series, "string!", row.handlers});
}

}  // namespace kel::string
