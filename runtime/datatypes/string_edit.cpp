// string!: searching and changing text. find and select, append, insert and
// change, swap, trim, sort, the path access and the set operations; the
// other any-string types take them through the string! row.
//
// Every edit first reads the code points it will add into C++ storage (the
// value may be a position in the very string being changed, whose buffer
// the edit may widen, grow or move), then checks its counts against the
// series, then tells the owner, re-reads the series, and changes it.
#include <algorithm>
#include <cstring>
#include <unordered_set>
#include <vector>

#include "runtime/actions.hpp"
#include "runtime/alloc.hpp"
#include "runtime/case_folding.hpp"
#include "runtime/collector.hpp"
#include "runtime/datatypes/bitset.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/vector.hpp"
#include "runtime/error.hpp"
#include "runtime/exits.hpp"
#include "runtime/call.hpp"
#include "runtime/interp.hpp"
#include "runtime/sort.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"
#include "runtime/system.hpp"
#include "runtime/unicode.hpp"
#include "runtime/words.hpp"

namespace kel::string {
namespace {

uint32_t upper(uint32_t cp) { return case_folding::change_case(cp, true); }

uint32_t unit_of(NodeId node) { return series::unit_of(alloc::buffer_of(node)); }

uint8_t* address(NodeId node, int64_t i) {
    SeriesBuffer* b = alloc::buffer_of(node);
    return b->data() + b->offset + uint64_t(i) * series::unit_of(b);
}

// ---- the text a value adds

enum class PartMeans {
    elements,  // /part counts the elements of a block value
    budget,    // /part is a budget of formed units
    nothing,   // /part does not limit the value (change)
};

std::u32string text_to_add(const Cell* value, int32_t count, PartMeans part) {
    uint8_t t = cell::type_of(value);
    bool limited = count >= 0 && part != PartMeans::nothing;
    std::u32string text;
    if (t == type::char_) {
        text.push_back(char32_t(value->payload2));
    } else if (t == type::tag) {
        text = U"<" + text_of(value) + U">";
        if (limited && text.size() > size_t(count)) text.resize(size_t(count));
    } else if (series::is_text(t)) {
        text = text_of(value);
        if (limited && text.size() > size_t(count)) text.resize(size_t(count));
    } else if (t == type::block || t == type::paren || t == type::hash) {
        const Cell source = *value;
        int64_t from = series::clamped_index(&source), to = series::total_length(&source);
        if (limited && part == PartMeans::elements) to = std::min<int64_t>(to, from + count);
        int64_t budget = limited && part == PartMeans::budget ? count : INT32_MAX;
        for (int64_t i = from; i < to && budget > 0 && i < series::total_length(&source); ++i) {
            Cell item = series::cells_of(source.payload2)[i];
            std::u32string piece = formed(&item, int32_t(budget));
            if (int64_t(piece.size()) > budget) piece.resize(size_t(budget));
            budget -= int64_t(piece.size());
            text += piece;
        }
    } else {
        text = formed(value);
        if (limited && part == PartMeans::budget && text.size() > size_t(count)) text.resize(size_t(count));
    }
    return text;
}


// ---- find

// The units a value is searched as, in a text series or (bytes) a binary.
// A binary sought in text is an error; an integer in a binary is one byte.
// False when the value can match nothing (an integer beyond a byte).
bool needle_of(const Cell* value, bool bytes, std::u32string& needle) {
    switch (cell::type_of(value)) {
        case type::char_: needle.assign(1, char32_t(value->payload2)); return true;
        case type::string: case type::file: case type::url: case type::email: case type::ref:
            needle = text_of(value);
            return true;
        case type::binary: {
            if (!bytes) error::fire(error::id::invalid_arg, value);
            SeriesBuffer* b = alloc::buffer_of(value->payload2);
            const uint8_t* p = b->data() + b->offset + series::clamped_index(value);
            needle.assign(p, p + series::length_from(value));
            return true;
        }
        case type::integer:
            if (!bytes) break;
            needle.assign(1, char32_t(value->payload2));
            return cell::integer(value) >= 0 && cell::integer(value) <= 255;
        case type::word: {
            std::string_view name = symbol::name(value->payload2);
            needle.clear();
            for (size_t i = 0; i < name.size();) needle.push_back(unicode::next_utf8(name, i));
            return true;
        }
        default: break;
    }
    needle = formed(value);  // a tag! with its angle brackets
    return true;
}

// Where a search runs: from the position forward to end, or backward (/last
// from the end, /reverse from before the position) down to low, by step.
struct Stretch {
    int64_t position, total, end, low, step;
    bool last, reverse, match;
};

// The first position, in the stretch's direction, where a run of n units
// matches, or -1.
template <typename Match>
int64_t scan(const Stretch& r, int64_t n, Match matches_at) {
    int64_t from, to, by;
    if (r.reverse) {
        if (r.match || r.position == 0) return -1;
        from = r.position - 1, to = r.low, by = -r.step;
    } else if (r.last) {
        from = r.end - n, to = r.position, by = -r.step;
    } else {
        from = r.position, to = r.end - n, by = r.step;
    }
    for (int64_t i = from; by > 0 ? i <= to : i >= to; i += by) {
        if (i >= 0 && i + n <= r.total && matches_at(i)) return i;
        if (r.match) break;
    }
    return -1;
}

// find in a vector!: the elements compare exactly with the numbers sought
// (a number is one element, a char! its code point, text its code points).
int64_t find_element(const Cell* v, const Cell* value, const Stretch& stretch, int64_t* matched) {
    std::vector<double> needle;
    switch (cell::type_of(value)) {
        case type::integer: needle.push_back(double(cell::integer(value))); break;
        case type::float_: case type::percent: needle.push_back(cell::real(value)); break;
        default: {
            std::u32string text;
            needle_of(value, false, text);
            needle.assign(text.begin(), text.end());
        }
    }
    int64_t n = int64_t(needle.size());
    if (n == 0) return -1;
    SeriesBuffer* b = alloc::buffer_of(v->payload2);
    uint32_t width = b->unit();
    const uint8_t* base = b->data() + b->offset;
    uint8_t element = uint8_t(v->payload3);
    *matched = n;
    return scan(stretch, n, [&](int64_t i) {
        for (int64_t k = 0; k < n; ++k)
            if (vector::number_at(base + uint64_t(i + k) * width, width, element) != needle[size_t(k)]) return false;
        return true;
    });
}

// The position of the match, or -1; *matched gets its length.
int64_t find_at(const Cell* s, const Cell* value, const Cell* part, bool case_, const Cell* skip, bool last,
                bool reverse, bool match, int64_t* matched) {
    int64_t total = series::total_length(s), position = series::index_of(s);
    if (total == 0 || (position >= total && !reverse)) return -1;
    position = std::clamp<int64_t>(position, 0, total);
    int64_t step = 1;
    if (skip) {
        if (!cell::is(skip, type::integer)) error::fire_bad_refinement(words::refinements.skip, skip);
        step = cell::integer(skip);
        if (step < 1) error::fire(error::id::out_of_range, skip);
    }
    int64_t end = total, low = 0;  // searched: forward up to end, backward down to low
    if (part) {
        if (cell::is(part, type::integer)) {
            int64_t n = cell::integer(part);
            if (n < 1) return -1;
            end = std::min(position + n, total);
            low = std::max<int64_t>(position - n, 0);
        } else {
            if (!series::same_series(part, s)) error::fire_bad_refinement(words::refinements.part, part);
            end = series::clamped_index(part);
            low = std::min<int64_t>(end, position);
        }
    }
    Stretch stretch{position, total, end, low, step, last, reverse, match};
    if (cell::is(s, type::vector)) return find_element(s, value, stretch, matched);
    // A binary compares its bytes exactly; a bitset matches one member unit.
    bool bytes = cell::is(s, type::binary);
    const Cell* members = cell::is(value, type::bitset) ? value : nullptr;
    std::u32string needle;
    if (!members && !needle_of(value, bytes, needle)) return -1;
    int64_t n = members ? 1 : int64_t(needle.size());
    if (n == 0) return -1;
    bool fold = !case_ && !bytes;
    if (fold)
        for (char32_t& cp : needle) cp = upper(cp);
    // Nothing below allocates: the buffer stays where it is.
    SeriesBuffer* b = alloc::buffer_of(s->payload2);
    uint32_t unit = series::unit_of(b);
    const uint8_t* base = b->data() + b->offset;
    *matched = n;
    return scan(stretch, n, [&](int64_t i) {
        if (members) return bitset::member(members, get_char(base + uint64_t(i) * unit, unit));
        for (int64_t k = 0; k < n; ++k) {
            uint32_t cp = get_char(base + uint64_t(i + k) * unit, unit);
            if ((fold ? upper(cp) : cp) != needle[size_t(k)]) return false;
        }
        return true;
    });
}

// ---- sort

struct SortSpec {
    uint32_t unit;
    int64_t size;       // units per record
    int64_t offset;     // /compare with an integer: the unit compared; -1: the whole record
    bool fold;
    bool reverse;
    bool all;
    const Cell* function;
    Cell* scratch[2];   // /all /skip with a function: the records as strings (binaries)
    uint8_t type;       // the series' type: a binary's records are bytes
    uint8_t element;    // a vector's element type: its records are numbers
};

// Unit k of a record as the number it orders by.
double sort_key(const SortSpec& s, const uint8_t* record, int64_t k) {
    const uint8_t* p = record + k * s.unit;
    if (s.type == type::vector) return vector::number_at(p, s.unit, s.element);
    uint32_t cp = get_char(p, s.unit);
    return s.fold ? case_folding::change_case(cp, false) : cp;
}

int compare_records(const void* x, const void* y, intptr_t ctx, intptr_t) {
    const SortSpec& s = *reinterpret_cast<const SortSpec*>(ctx);
    auto a = static_cast<const uint8_t*>(x), b = static_cast<const uint8_t*>(y);
    int64_t from = s.offset >= 0 ? s.offset : 0, to = s.offset >= 0 ? s.offset + 1 : s.size;
    for (int64_t k = from; k < to; ++k) {
        double p = sort_key(s, a, k), q = sort_key(s, b, k);
        // NaN sorts after every number, so that the order stays total.
        bool p_nan = p != p, q_nan = q != q;
        if (p_nan || q_nan) {
            if (p_nan == q_nan) continue;
            return q_nan != s.reverse ? -1 : 1;
        }
        if (p != q) return (p < q) != s.reverse ? -1 : 1;
    }
    return 0;
}

// The function's answer as an order. Its integer and float answers count
// with the opposite sign of those of block! sort.
int order_of(const Cell* r) {
    switch (cell::type_of(r)) {
        case type::logic: return r->payload1 ? 1 : -1;
        case type::integer: return cell::integer(r) > 0 ? -1 : cell::integer(r) < 0 ? 1 : 0;
        case type::float_: {
            double d = cell::real(r);
            return d > 0.0 ? -1 : d < 0.0 ? 1 : 0;
        }
        case type::none: return -1;
        default: return 1;
    }
}

int call_function(const void* x, const void* y, intptr_t ctx, intptr_t) {
    const SortSpec& s = *reinterpret_cast<const SortSpec*>(ctx);
    // The second record first: the answer tells whether the first sorts after it.
    const uint8_t* records[2] = {static_cast<const uint8_t*>(s.reverse ? x : y),
                                 static_cast<const uint8_t*>(s.reverse ? y : x)};
    Cell values[2];
    for (int k = 0; k < 2; ++k) {
        if (s.all && s.size > 1) {
            SeriesBuffer* b = alloc::buffer_of(s.scratch[k]->payload2);
            std::memcpy(b->data() + b->offset, records[k], size_t(s.size) * s.unit);
            b->tail = b->offset + uint32_t(s.size * s.unit);
            values[k] = *s.scratch[k];
        } else {
            uint32_t unit = get_char(records[k], s.unit);
            if (s.type == type::vector) {
                double d = vector::number_at(records[k], s.unit, s.element);
                if (s.element == type::float_ || s.element == type::percent) cell::set_real(&values[k], s.element, d);
                else values[k] = Cell{s.element, 0, uint32_t(int32_t(d)), 0};
            } else if (s.type == type::binary) {
                cell::set_integer(&values[k], int32_t(unit));
            } else {
                values[k] = Cell{type::char_, 0, unit, 0};
            }
        }
    }
    Cell* top = stack::top;
    if (call::with_values(*s.function, *words::words.compare_callback, values, 2)) exits::raise_pending();
    int r = order_of(stack::last());
    stack::top = top;
    return r;
}


// ---- trim

bool in_w(uint32_t c) {
    return (c >= 0x01 && c <= 0x20) || c == 0x85 || c == 0xA0 || c == 0x1680 || c == 0x180E ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}
bool in_s(uint32_t c) { return c == 0x20 || c == 0x09 || (c > 0x7F && in_w(c)); }

std::u32string trimmed(const std::u32string& t, bool head, bool tail, bool lines) {
    size_t lo = 0, hi = t.size();
    bool plain = !head && !tail;
    if (head || plain || lines)
        while (lo < hi && in_w(t[lo])) ++lo;
    bool line_feed = false;
    if (tail || plain || lines)
        while (hi > lo && in_w(t[hi - 1])) line_feed |= t[--hi] == '\n';
    std::u32string out;
    if (lines) {
        for (size_t i = lo; i < hi; ++i) {
            if (!in_w(t[i])) out.push_back(t[i]);
            else if (!in_w(t[i - 1])) out.push_back(' ');
        }
        return out;
    }
    if (!plain) return t.substr(lo, hi - lo);
    // Inside: spaces after a line feed go, and so does a run of spaces
    // directly before one.
    bool after_line_feed = false;
    size_t run = std::u32string::npos;
    for (size_t i = lo; i < hi; ++i) {
        char32_t c = t[i];
        if (c == '\n') {
            if (run != std::u32string::npos) out.resize(run);
            run = std::u32string::npos;
            after_line_feed = true;
            out.push_back(c);
        } else if (in_s(c)) {
            if (after_line_feed) continue;
            if (run == std::u32string::npos) run = out.size();
            out.push_back(c);
        } else {
            after_line_feed = false;
            run = std::u32string::npos;
            out.push_back(c);
        }
    }
    if (line_feed) out.push_back('\n');
    return out;
}

}  // namespace

// Replaces `removed` units at `at` by the text repeated dup times, widening
// the buffer first when the text needs it. Appends grow the buffer to twice
// its size when that is enough; other edits to exactly the needed size.
void splice(NodeId node, int64_t at, int64_t removed, const std::u32string& text, int64_t dup, bool roomy) {
    uint32_t widest = 0;
    for (char32_t cp : text) widest = std::max<uint32_t>(widest, cp);
    SeriesBuffer* b = widen_to(node, widest < 0x80 ? 1 : widest <= 0xFFFF ? 2 : 4);
    uint32_t unit = b->unit();
    int64_t total = (b->tail - b->offset) / unit;
    int64_t added = int64_t(text.size()) * dup;
    uint64_t need = uint64_t(total - removed + added) * unit;
    if (b->offset + need > b->size) {
        uint64_t room = roomy ? std::max<uint64_t>(2 * uint64_t(b->size), need) : need;
        b = alloc::expand_series(b, room);
    }
    uint8_t* base = b->data() + b->offset;
    std::memmove(base + uint64_t(at + added) * unit, base + uint64_t(at + removed) * unit,
                 uint64_t(total - at - removed) * unit);
    uint8_t* p = base + uint64_t(at) * unit;
    for (int64_t k = 0; k < dup; ++k)
        for (char32_t cp : text) {
            put_char(p, unit, cp);
            p += unit;
        }
    b->tail = b->offset + uint32_t(need);
}

// ---- find and select

Cell* find(Cell* s, Cell* value, const Cell* part, bool, bool case_, bool same, bool any, const Cell* with,
           const Cell* skip, bool last, bool reverse, bool tail, bool match) {
    if (any || with) error::fire_not_done();
    int64_t matched = 0;
    int64_t at = find_at(s, value, part, case_ || same, skip, last, reverse, match, &matched);
    if (at < 0) return shared::none();
    s->payload1 = uint32_t(tail ? at + matched : at);
    return s;
}

Cell* select(Cell* s, Cell* value, const Cell* part, bool, bool case_, bool same, bool any, const Cell* with,
             const Cell* skip, bool last, bool reverse) {
    if (any || with) error::fire_not_done();
    int64_t matched = 0;
    int64_t at = find_at(s, value, part, case_ || same, skip, last, reverse, false, &matched);
    if (at < 0 || at + matched >= series::total_length(s)) return shared::none();
    uint32_t cp = get_char(address(s->payload2, at + matched), unit_of(s->payload2));
    if (cell::is(s, type::vector)) *s = vector::element_value(s, at + matched);
    else if (cell::is(s, type::binary)) cell::set_integer(s, int32_t(cp));
    else *s = Cell{type::char_, 0, cp, 0};
    return s;
}

// ---- adding and replacing

void insert(Cell* s, Cell* value, int32_t count, bool only, int32_t dup, bool append) {
    int64_t total = series::total_length(s);
    bool at_tail = append || series::clamped_index(s) >= total;
    PartMeans part = at_tail && !only ? PartMeans::elements : PartMeans::budget;
    std::u32string text = text_to_add(value, count, part);
    if (text.empty()) return;  // nothing changes, the series stays where it is
    int64_t n = series::checked_total(text.size(), dup, total);
    int64_t at = at_tail ? total : series::clamped_index(s);
    const Cell* before = append ? words::words.append : words::words.insert;
    bool told = series::notify(s, before, int32_t(at), int32_t(n), value);
    if (told) {
        total = series::total_length(s);
        at = at_tail ? total : std::min(at, total);
    }
    splice(s->payload2, at, 0, text, std::max(dup, 1), append);
    if (told) series::notify(s, append ? words::words.appended : words::words.inserted, int32_t(at), int32_t(n), value);
    s->payload1 = append ? 0 : uint32_t(std::min(at + n, int64_t(series::total_length(s))));
}

void change(Cell* s, Cell* value, int32_t count, bool, int32_t dup) {
    std::u32string text = text_to_add(value, -1, PartMeans::nothing);
    int64_t total = series::total_length(s), at = series::clamped_index(s), rest = total - at;
    int64_t n = series::checked_total(text.size(), dup, total);
    int64_t replaced = count >= 0 ? std::min<int64_t>(rest, count) : std::min(rest, n);
    bool told = series::notify(s, words::words.change, int32_t(at), int32_t(replaced), value);
    if (told) {
        total = series::total_length(s);
        at = std::min(at, total);
        replaced = std::min(replaced, total - at);
    }
    splice(s->payload2, at, replaced, text, std::max(dup, 1), false);
    if (told) series::notify(s, words::words.changed, int32_t(at), int32_t(n), value);
    s->payload1 = uint32_t(std::min(at + n, int64_t(series::total_length(s))));
}

void swap(Cell* a, Cell* b) {
    // Text swaps with text, bytes with bytes.
    bool bytes = cell::is(a, type::binary);
    if (bytes ? !cell::is(b, type::binary) : !series::is_text(cell::type_of(b))) error::fire(error::id::invalid_arg, b);
    if (series::ks_tail_q(a) || series::ks_tail_q(b)) return;
    int64_t i = series::clamped_index(a), j = series::clamped_index(b);
    bool told_a = series::notify(a, words::words.swap, int32_t(i), 1);
    bool told_b = series::notify(b, words::words.swap, int32_t(j), 1);
    if ((told_a || told_b) && (i >= series::total_length(a) || j >= series::total_length(b))) return;
    uint32_t x = get_char(address(a->payload2, i), unit_of(a->payload2));
    uint32_t y = get_char(address(b->payload2, j), unit_of(b->payload2));
    widen_to(a->payload2, unit_for(y));
    put_char(address(a->payload2, i), unit_of(a->payload2), y);
    widen_to(b->payload2, unit_for(x));
    put_char(address(b->payload2, j), unit_of(b->payload2), x);
    if (told_a) series::notify(a, words::words.swaped, int32_t(i), 1);
    if (told_b) series::notify(b, words::words.swaped, int32_t(j), 1);
}

void trim(Cell* s, bool head, bool tail, bool auto_, bool lines, bool all, const Cell* with) {
    if (auto_) error::fire_not_done();
    std::u32string set;
    if (with) {
        switch (cell::type_of(with)) {
            case type::char_: case type::integer: set.push_back(char32_t(with->payload2)); break;
            case type::binary: {
                SeriesBuffer* b = alloc::buffer_of(with->payload2);
                int64_t from = series::clamped_index(with);
                for (int64_t i = from; i < series::total_length(with); ++i) set.push_back(b->data()[b->offset + i]);
                break;
            }
            default:
                if (!series::is_text(cell::type_of(with))) error::fire(error::id::invalid_arg, with);
                set = text_of(with);
        }
        if (set.empty()) return;
    } else if (all) {
        set = U"\t\n\r ";
    }
    int64_t at = series::clamped_index(s), total = series::total_length(s);
    bool told = series::notify(s, words::words.trim, int32_t(at), int32_t(total - at));
    if (told) {
        total = series::total_length(s);
        at = std::min(at, total);
    }
    std::u32string text = read_text(s, at, total - at), kept;
    if (!set.empty()) {
        for (char32_t c : text)
            if (set.find(c) == std::u32string::npos) kept.push_back(c);
    } else {
        kept = trimmed(text, head, tail, lines);
    }
    // The kept text is never longer: it is written back in the same units.
    uint32_t unit = unit_of(s->payload2);
    uint8_t* p = address(s->payload2, at);
    for (char32_t c : kept) {
        put_char(p, unit, c);
        p += unit;
    }
    SeriesBuffer* b = alloc::buffer_of(s->payload2);
    b->tail = b->offset + uint32_t((at + int64_t(kept.size())) * unit);
    if (told) series::notify(s, words::words.trimmed, int32_t(at), int32_t(total - at));
}

// ---- sort

Cell* sort(Cell* s, bool case_, const Cell* skip, const Cell* comparator, const Cell* part, bool all, bool reverse,
           bool stable) {
    series::SortRange range = series::sort_range(s, part);
    int64_t start = range.start, count = range.count;
    series::SortRecords layout = series::sort_records(count, skip, comparator, all);
    uint8_t kind = cell::type_of(s);
    SortSpec spec{unit_of(s->payload2), layout.size, layout.offset, !case_ && series::is_text(kind), reverse, all,
                  layout.function, {nullptr, nullptr}, kind, uint8_t(kind == type::vector ? s->payload3 : 0)};
    sort::Compare compare = spec.function ? call_function : compare_records;
    if (count <= 0) return s;
    bool told = series::notify(s, words::words.sort, int32_t(start), int32_t(count));
    if (told) {
        count = std::min<int64_t>(count, std::max<int64_t>(series::total_length(s) - start, 0));
        count -= count % spec.size;
    }
    spec.unit = unit_of(s->payload2);
    size_t records = size_t(count / spec.size), width = size_t(spec.size) * spec.unit;
    if (!spec.function) {
        // Comparisons do not allocate: the records are sorted where they are.
        uint8_t* base = address(s->payload2, start);
        if (stable) sort::stable_sort(base, records, width, intptr_t(&spec), 0, compare);
        else sort::sort_records(base, records, width, intptr_t(&spec), 0, compare);
    } else {
        Cell* kept_top = stack::top;
        if (spec.all && spec.size > 1)
            for (auto& scratch : spec.scratch) {
                scratch = stack::push_slot();
                cell::set_unset(scratch);
                NodeId node = alloc::alloc_units(uint64_t(spec.size), spec.unit);
                uint8_t record_type = series::is_text(kind) ? type::string : kind;
                *scratch = Cell{record_type, 0, node, kind == type::vector ? s->payload3 : 0};
            }
        // The records are sorted in a copy and written back when the sort
        // ends; the function's Kel code collects nothing meanwhile.
        collector::Pause pause;
        const uint8_t* first = address(s->payload2, start);
        std::vector<uint8_t> snapshot(first, first + records * width);
        if (stable) sort::stable_sort(snapshot.data(), records, width, intptr_t(&spec), 0, compare);
        else sort::sort_records(snapshot.data(), records, width, intptr_t(&spec), 0, compare);
        // The function may have changed the series: write back what still fits, in its width.
        int64_t room = std::clamp<int64_t>(series::total_length(s) - start, 0, count);
        uint32_t unit = unit_of(s->payload2);
        if (!series::is_text(kind)) {  // bytes and numbers keep their width
            if (unit == spec.unit) std::memcpy(address(s->payload2, start), snapshot.data(), size_t(room) * unit);
            room = 0;
        }
        for (int64_t i = 0; i < room; ++i) {
            uint32_t cp = get_char(snapshot.data() + i * spec.unit, spec.unit);
            if (unit_for(cp) > unit) unit = widen_to(s->payload2, unit_for(cp))->unit();
            put_char(address(s->payload2, start + i), unit, cp);
        }
        stack::top = kept_top;
    }
    if (told) series::notify(s, words::words.sorted, int32_t(start), int32_t(count));
    return s;
}

// ---- path access

Cell* eval_path(Cell* value, const Cell* element, const Cell* store, const Cell* path, const Cell*, const Cell*,
                int32_t, bool case_, bool, bool, bool) {
    if (cell::is(element, type::integer)) {
        int32_t i = cell::integer(element);
        return store ? series::poke(value, i, const_cast<Cell*>(store), element) : series::pick(value, i, element);
    }
    if (cell::is(element, type::word)) error::fire(error::id::invalid_path, value, element);
    Cell key = *element;
    if (!store) return select(value, &key, nullptr, false, case_, false, false, nullptr, nullptr, false, false);
    Cell at = *value;
    int64_t matched = 0;
    int64_t found = find_at(&at, &key, nullptr, case_, nullptr, false, false, false, &matched);
    if (found < 0) error::fire(error::id::bad_path_set, element, path);
    at.payload1 = uint32_t(found);
    change(&at, const_cast<Cell*>(store), int32_t(matched), false, 1);
    return const_cast<Cell*>(store);
}

// ---- set operations

void do_set_op(Cell* first, const Cell* second, bool case_, const Cell* skip, int32_t op) {
    int64_t n = 1;
    if (skip) {
        if (!cell::is(skip, type::integer) || cell::integer(skip) < 1) error::fire_bad_refinement(words::refinements.skip, skip);
        n = cell::integer(skip);
    }
    std::u32string a = text_of(first), b = second ? text_of(second) : std::u32string();
    auto key = [&](char32_t cp) { return case_ ? uint32_t(cp) : upper(cp); };
    // The keys of a text: the first code point of each record.
    auto keys_of = [&](const std::u32string& t) {
        std::unordered_set<uint32_t> keys;
        for (size_t i = 0; i < t.size(); i += size_t(n)) keys.insert(key(t[i]));
        return keys;
    };
    std::u32string result;
    std::unordered_set<uint32_t> held;
    auto pass = [&](const std::u32string& t, const std::unordered_set<uint32_t>* other, bool keep_found) {
        for (size_t i = 0; i < t.size(); i += size_t(n)) {
            uint32_t k = key(t[i]);
            if (other && (other->count(k) > 0) != keep_found) continue;
            if (!held.insert(k).second) continue;
            result.append(t, i, size_t(n));
        }
    };
    switch (op) {
        case 8: pass(a, nullptr, false); break;                       // unique
        case 9: pass(a, nullptr, false); pass(b, nullptr, false); break;  // union
        case 10: { auto kb = keys_of(b); pass(a, &kb, true); break; }  // intersect
        case 11: { auto kb = keys_of(b); pass(a, &kb, false); break; } // exclude
        default: {                                                       // difference
            auto kb = keys_of(b), ka = keys_of(a);
            pass(a, &kb, false);
            pass(b, &ka, false);
        }
    }
    Cell* kept_top = stack::top;
    Cell* out = make(stack::push_slot(), uint32_t(std::max<size_t>(result.size(), 1)));
    append_text(out, result);
    *first = *out;
    stack::top = kept_top;
}

}  // namespace kel::string
