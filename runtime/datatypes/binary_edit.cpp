// binary!: the byte image of values and the edits of the binary! row: make
// and to, append and insert, change, the bitwise actions, complement and
// trim. find, select, sort, swap and take come from string!, positions and
// the rest from series!.
//
// Every edit first gathers the bytes it adds into C++ storage (the value may
// be a position in the very binary being changed, whose buffer the edit may
// grow or move), then checks its counts, tells the owner, re-reads the
// series and changes it.
#include <algorithm>
#include <cstring>
#include <vector>

#include "runtime/actions.hpp"
#include "runtime/alloc.hpp"
#include "runtime/cycles.hpp"
#include "runtime/datatypes/binary.hpp"
#include "runtime/datatypes/bitset.hpp"
#include "runtime/datatypes/image.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/tuple.hpp"
#include "runtime/error.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"
#include "runtime/unicode.hpp"
#include "runtime/words.hpp"

namespace kel::binary {
namespace {

using Bytes = std::vector<uint8_t>;

void raw_bytes(const uint8_t* p, size_t n, int64_t limit, Bytes& out) {
    if (limit >= 0) n = std::min<size_t>(n, size_t(limit));
    out.insert(out.end(), p, p + n);
}

// The byte image of a value, appended to out. `limit` caps the bytes taken
// (negative: no cap); for a block without `only` it counts elements instead.
// `any` forms the values that have no image of their own; without it they
// raise bad-to-arg.
void value_bytes(const Cell* value, int64_t limit, bool only, bool any, Bytes& out) {
    uint8_t t = cell::type_of(value);
    switch (t) {
        case type::char_: {
            uint8_t sequence[4];
            int n = unicode::encode_utf8(value->payload2, sequence);
            raw_bytes(sequence, size_t(n), limit, out);
            return;
        }
        case type::integer: {
            int32_t v = cell::integer(value);
            if (v < -128 || v > 255) error::fire(error::id::invalid_arg, value);
            if (limit != 0) out.push_back(uint8_t(v));
            return;
        }
        case type::binary:
            raw_bytes(ks_head(value), ks_length_q(value), limit, out);
            return;
        case type::tuple:
            raw_bytes(tuple::bytes(value), tuple::length(value), limit, out);
            return;
        case type::block: case type::paren: case type::hash: {
            const Cell block = *value;
            if (cycles::find(block.payload2)) return;  // a block inside itself adds its bytes once
            cycles::Guard guard;
            cycles::push(block.payload2);
            int64_t from = series::clamped_index(&block);
            int64_t to = series::total_length(&block);
            if (limit >= 0 && !only) to = std::min(to, from + limit);
            size_t start = out.size();
            for (int64_t i = from; i < to && i < series::total_length(&block); ++i) {
                int64_t left = -1;  // with only, the bytes the limit still allows
                if (only && limit >= 0) {
                    left = limit - int64_t(out.size() - start);
                    if (left <= 0) break;
                }
                Cell item = series::cells_of(block.payload2)[i];
                value_bytes(&item, left, only, any, out);
            }
            return;
        }
        default:
            // Text, and in `any` mode a formed value, as UTF-8.
            if (!series::is_text(t) && !any) error::fire_bad_to_arg(type::binary, value);
            std::string utf8 = string::utf8_of(series::is_text(t) ? string::text_of(value) : string::formed(value));
            raw_bytes(reinterpret_cast<const uint8_t*>(utf8.data()), utf8.size(), limit, out);
    }
}

// Replaces `removed` bytes at byte `at` (from the index 0 of the buffer) by
// the bytes repeated dup times. Roomy edits grow the buffer to twice its
// size when that is enough; the others to exactly the needed size.
void splice(NodeId node, int64_t at, int64_t removed, const Bytes& bytes, int64_t dup, bool roomy) {
    SeriesBuffer* b = alloc::buffer_of(node);
    int64_t total = b->tail - b->offset;
    int64_t added = int64_t(bytes.size()) * dup;
    uint64_t need = uint64_t(total - removed + added);
    if (b->offset + need > b->size) {
        uint64_t room = roomy ? std::max<uint64_t>(2 * uint64_t(b->size), need) : need;
        b = alloc::expand_series(b, room);
    }
    uint8_t* base = b->data() + b->offset;
    std::memmove(base + at + added, base + at + removed, size_t(total - at - removed));
    for (int64_t k = 0; k < dup && !bytes.empty(); ++k)
        std::memcpy(base + at + k * int64_t(bytes.size()), bytes.data(), bytes.size());
    b->tail = b->offset + uint32_t(need);
}


Cell* new_binary(const Bytes& bytes) {
    Cell* out = stack::push_slot();
    cell::set_unset(out);
    return load_at(out, bytes.data(), bytes.size());
}

}  // namespace

Cell* to(Cell*, Cell* spec, uint8_t) {
    Bytes bytes;
    switch (cell::type_of(spec)) {
        case type::block: case type::paren: case type::hash:
        case type::char_: case type::binary: case type::tuple:
            value_bytes(spec, -1, false, false, bytes);
            break;
        case type::integer: {
            uint32_t v = uint32_t(cell::integer(spec));
            for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(uint8_t(v >> shift));
            break;
        }
        case type::float_: case type::percent: {
            double d = cell::real(spec);
            uint64_t v;
            std::memcpy(&v, &d, sizeof v);
            for (int shift = 56; shift >= 0; shift -= 8) bytes.push_back(uint8_t(v >> shift));
            break;
        }
        case type::issue: {
            std::string name(symbol::name(spec->payload2));
            if (!base16_decode(reinterpret_cast<const uint8_t*>(name.data()), uint32_t(name.size()), 1, bytes))
                error::fire(error::id::invalid_data, spec);
            break;
        }
        case type::bitset: {
            const uint8_t* p = alloc::buffer_of(spec->payload2)->data() + alloc::buffer_of(spec->payload2)->offset;
            bytes.assign(p, p + bitset::byte_count(spec));
            break;
        }
        case type::image: {
            // The raw stored pixels, B, G, R, A each.
            Cell* out = stack::push_slot();
            return image::to_binary(spec, out, 2);
        }
        default:
            if (!series::is_text(cell::type_of(spec))) error::fire_bad_to_arg(type::binary, spec);
            value_bytes(spec, -1, false, false, bytes);
    }
    return new_binary(bytes);
}

Cell* make_value(Cell* proto, Cell* spec, uint8_t t) {
    if (cell::is(spec, type::integer) || cell::is(spec, type::float_)) return string::make_value(proto, spec, t);
    if (cell::is(spec, type::money)) {
        Cell kind;
        cell::set_datatype(&kind, type::binary);
        error::fire_bad_make_arg(&kind, spec);
    }
    return to(proto, spec, t);
}

void insert(Cell* s, Cell* value, int32_t count, bool only, int32_t dup, bool append) {
    Bytes bytes;
    value_bytes(value, count, only, false, bytes);
    if (bytes.empty()) return;  // nothing changes, the series stays where it is
    int64_t total = series::total_length(s);
    int64_t n = series::checked_total(bytes.size(), dup, total);
    bool at_tail = append || series::clamped_index(s) >= total;
    int64_t at = at_tail ? total : series::clamped_index(s);
    bool told = series::notify(s, append ? words::words.append : words::words.insert, int32_t(at), int32_t(n));
    if (told) {
        total = series::total_length(s);
        at = at_tail ? total : std::min(at, total);
        series::checked_total(bytes.size(), dup, total);
    }
    splice(s->payload2, at, 0, bytes, std::max(dup, 1), true);
    if (told) series::notify(s, append ? words::words.appended : words::words.inserted, int32_t(at), int32_t(n));
    s->payload1 = append ? 0 : uint32_t(std::min(at + n, int64_t(series::total_length(s))));
}

void change(Cell* s, Cell* value, int32_t count, bool only, int32_t dup) {
    Bytes bytes;
    value_bytes(value, -1, only, true, bytes);
    int64_t total = series::total_length(s), at = series::clamped_index(s);
    int64_t n = series::checked_total(bytes.size(), dup, total);
    int64_t replaced = count >= 0 ? std::min<int64_t>(total - at, count) : std::min(total - at, n);
    bool told = series::notify(s, words::words.change, int32_t(at), int32_t(replaced));
    if (told) {
        total = series::total_length(s);
        at = std::min(at, total);
        replaced = std::min(replaced, total - at);
        series::checked_total(bytes.size(), dup, total);
    }
    splice(s->payload2, at, replaced, bytes, std::max(dup, 1), false);
    if (told) series::notify(s, words::words.changed, int32_t(at), int32_t(std::max<int64_t>(n, 1)));
    s->payload1 = uint32_t(std::min(at + n, int64_t(series::total_length(s))));
}

namespace {

// and~ or~ xor~ on arguments 0 and 1: a new binary as long as the longer
// operand; beyond the shorter one, or~ and xor~ copy the longer's bytes and
// and~ gives 0.
void do_bitwise(char op) {
    const Cell* a = stack::args;
    const Cell* b = stack::args + 1;
    if (!cell::is(b, type::binary)) error::fire(error::id::invalid_arg, b);
    Bytes x(ks_head(a), ks_head(a) + ks_length_q(a));
    Bytes y(ks_head(b), ks_head(b) + ks_length_q(b));
    if (x.size() < y.size()) std::swap(x, y);
    for (size_t i = 0; i < x.size(); ++i) {
        uint8_t other = i < y.size() ? y[i] : 0;
        if (op == '&') x[i] = i < y.size() ? uint8_t(x[i] & other) : 0;
        else if (op == '|') x[i] = uint8_t(x[i] | other);
        else x[i] = uint8_t(x[i] ^ other);
    }
    Cell* top = stack::top;
    Cell result = *new_binary(x);
    stack::top = top;
    *stack::args = result;
}

}  // namespace

void and_() { do_bitwise('&'); }
void or_() { do_bitwise('|'); }
void xor_() { do_bitwise('^'); }

Cell* complement(Cell* value) {
    uint8_t* p = const_cast<uint8_t*>(ks_head(value));
    for (uint32_t i = 0, n = ks_length_q(value); i < n; ++i) p[i] = uint8_t(~p[i]);
    return value;
}

void trim(Cell* s, bool head, bool tail, bool auto_, bool lines, bool all, const Cell* with) {
    // The bytes removed wherever they are (/all, /with), or none: then zero
    // bytes at the ends.
    bool remove[256] = {};
    bool anywhere = all || with;
    if (with) {
        switch (cell::type_of(with)) {
            case type::char_: case type::integer:
                if (with->payload2 < 256) remove[with->payload2] = true;
                break;
            case type::binary:
                for (uint32_t i = 0, n = ks_length_q(with); i < n; ++i) remove[ks_head(with)[i]] = true;
                break;
            default:
                if (!series::is_text(cell::type_of(with))) error::fire(error::id::invalid_arg, with);
                for (char32_t cp : string::text_of(with))
                    if (cp < 256) remove[cp] = true;
        }
    } else if (all) {
        remove[0] = true;
    } else if (auto_ || lines) {
        error::fire_not_done();
    }
    int64_t at = series::clamped_index(s), total = series::total_length(s);
    bool told = series::notify(s, words::words.trim, int32_t(at), int32_t(total - at));
    if (told) {
        total = series::total_length(s);
        at = std::min(at, total);
    }
    SeriesBuffer* b = alloc::buffer_of(s->payload2);
    uint8_t* first = b->data() + b->offset + at;
    uint8_t* last = b->data() + b->tail;
    uint8_t* kept_end;
    if (anywhere) {
        kept_end = std::remove_if(first, last, [&](uint8_t byte) { return remove[byte]; });
    } else {
        uint8_t* from = first;
        uint8_t* to = last;
        if (head || !tail)
            while (from < to && *from == 0) ++from;
        if (tail || !head)
            while (to > from && to[-1] == 0) --to;
        std::memmove(first, from, size_t(to - from));
        kept_end = first + (to - from);
    }
    b->tail = uint32_t(kept_end - b->data());
    if (told) series::notify(s, words::words.trimmed, int32_t(at), int32_t(total - at));
}

}  // namespace kel::binary
