// tuple!: make and to, text, paths and pick, saturating arithmetic,
// complement, reverse and comparison.
//
// Every byte result is clamped to 0..255. A byte computed in floats is
// clamped in the double domain (NaN gives 0), so no out-of-range double is
// ever converted to an integer.
#include "runtime/datatypes/tuple.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "runtime/actions.hpp"
#include "runtime/alloc.hpp"
#include "runtime/datatype.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/float.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/tokenizer.hpp"
#include "runtime/error.hpp"
#include "runtime/random.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"
#include "runtime/words.hpp"

namespace kel::tuple {

Cell* box_bytes(Cell* out, const uint8_t* b, uint32_t n) {
    if (n > max_length) n = max_length;
    uint32_t len = n < 3 ? 3 : n;
    *out = Cell{type::tuple | len << length_shift, 0, 0, 0};
    uint8_t* dest = bytes(out);
    for (uint32_t i = 0; i < n; ++i) dest[i] = b[i];
    return out;
}

Cell* from_binary(const Cell* bin, Cell* out) {
    int32_t n = std::min<int32_t>(series::length_from(bin), int32_t(max_length));
    SeriesBuffer* b = alloc::buffer_of(bin->payload2);
    return box_bytes(out, b->data() + b->offset + series::clamped_index(bin), uint32_t(n));
}

bool zero_q(const Cell* t) {
    for (uint32_t i = 0; i < length(t); ++i)
        if (bytes(t)[i]) return false;
    return true;
}

namespace {

[[noreturn]] void fire_out_of_range(const Cell* v) {
    Cell c = *v;
    error::fire(error::id::out_of_range, &c);
}

void set_length(Cell* t, uint32_t n) {
    t->header = (t->header & ~(0xFu << length_shift)) | n << length_shift;
}

uint8_t clamp(int64_t v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); }

// A double byte: NaN gives 0, the infinities and everything beyond the
// range their end of it; otherwise truncated toward zero.
uint8_t clamp_real(double d) {
    if (!(d > 0)) return 0;
    if (d >= 255) return 255;
    return uint8_t(d);
}

// One byte of a block: an integer!, a char! or a float! in 0..255, the
// float checked before it is truncated.
bool block_byte(const Cell* v, uint8_t* out) {
    switch (cell::type_of(v)) {
        case type::integer:
        case type::char_: {
            int64_t n = cell::is(v, type::integer) ? integer::get(v) : int64_t(v->payload2);
            if (n < 0 || n > 255) return false;
            *out = uint8_t(n);
            return true;
        }
        case type::float_: {
            double d = cell::real(v);
            if (!(d > -1.0 && d < 256.0)) return false;
            *out = uint8_t(d);
            return true;
        }
        default: return false;
    }
}

// #F00 (each digit times 17), #FF0000 and #FF000080.
Cell* from_issue(Cell* out, const Cell* issue) {
    std::string_view name = symbol::name(issue->payload2);
    uint8_t digits[8];
    for (size_t i = 0; i < name.size() && i < 8; ++i) {
        char c = name[i];
        if (c >= '0' && c <= '9') digits[i] = uint8_t(c - '0');
        else if (c >= 'A' && c <= 'F') digits[i] = uint8_t(c - 'A' + 10);
        else if (c >= 'a' && c <= 'f') digits[i] = uint8_t(c - 'a' + 10);
        else name = {};
    }
    uint8_t b[4];
    switch (name.size()) {
        case 3:
            for (int i = 0; i < 3; ++i) b[i] = uint8_t(digits[i] * 17);
            return box_bytes(out, b, 3);
        case 6:
        case 8:
            for (size_t i = 0; i < name.size() / 2; ++i) b[i] = uint8_t(digits[2 * i] << 4 | digits[2 * i + 1]);
            return box_bytes(out, b, uint32_t(name.size() / 2));
        default: {
            Cell v = *issue;
            error::fire(error::id::invalid_data, &v);
        }
    }
}

Cell* make(Cell* proto, Cell* spec, uint8_t) {
    switch (cell::type_of(spec)) {
        case type::block:
        case type::paren:
        case type::hash: {
            const Cell b = *spec;
            int32_t n = series::length_from(&b), at = series::clamped_index(&b);
            if (n > int32_t(max_length)) error::fire_bad_to_arg(type::tuple, spec);
            uint8_t v[max_length];
            for (int32_t i = 0; i < n; ++i)
                if (!block_byte(block::ks_abs_at(&b, at + i), &v[i])) error::fire_bad_to_arg(type::tuple, spec);
            return box_bytes(proto, v, uint32_t(n));
        }
        case type::string:
        case type::file:
        case type::url:
        case type::tag:
        case type::email:
        case type::ref: {
            string::Units text = string::units_of(spec);
            int32_t error = 0;
            Cell t{};
            tokenizer::scan_tuple(text.start, text.count, text.unit, &error, &t);
            if (error) error::fire_bad_to_arg(type::tuple, spec);
            *proto = t;
            return proto;
        }
        case type::issue: return from_issue(proto, spec);
        case type::tuple: *proto = *spec; return proto;
        case type::binary: {
            Cell t;
            from_binary(spec, &t);
            *proto = t;
            return proto;
        }
        default: error::fire_bad_to_arg(type::tuple, spec);
    }
}

int32_t text(const Cell* t, Cell* out, int32_t limit) {
    std::string s;
    for (uint32_t i = 0; i < length(t); ++i) {
        if (i) s += '.';
        s += integer::to_text(bytes(t)[i]);
    }
    string::append_ascii(out, s.data(), s.size());
    return limit - int32_t(s.size());
}

void random(Cell* t, bool seed, bool secure, bool) {
    if (seed) {
        kel::random::init_genrand(t->payload1 ^ t->payload2 ^ t->payload3);
        cell::set_unset(t);
        return;
    }
    for (uint32_t i = 0; i < length(t); ++i)
        bytes(t)[i] = uint8_t(kel::random::next_int(secure, bytes(t)[i] + 1) - 1);
}

Cell* pick(Cell* t, int32_t index, const Cell* index_cell) {
    if (!cell::is(index_cell, type::integer) || index < 1 || uint32_t(index) > length(t)) fire_out_of_range(index_cell);
    cell::set_integer(t, bytes(t)[index - 1]);
    return t;
}

Cell* eval_path(Cell* t, const Cell* element, const Cell* store, const Cell*, const Cell*, const Cell*, int32_t,
                bool, bool, bool, bool) {
    if (!cell::is(element, type::integer)) error::fire_invalid_type(cell::type_of(element));
    int32_t n = integer::get(element);
    if (!store) {
        static Cell answer;
        answer = *t;
        return pick(&answer, n, element);
    }
    if (!cell::is(store, type::integer) && !cell::is(store, type::none)) error::fire_invalid_type(cell::type_of(store));
    if (n < 1 || uint32_t(n) > length(t)) fire_out_of_range(element);
    if (cell::is(store, type::integer)) {
        bytes(t)[n - 1] = clamp(integer::get(store));
    } else {
        for (uint32_t i = uint32_t(n) - 1; i < max_length; ++i) bytes(t)[i] = 0;
        set_length(t, std::max(uint32_t(n) - 1, 3u));
    }
    return const_cast<Cell*>(store);
}

int32_t length_q(const Cell* t) { return int32_t(length(t)); }

Cell* complement(Cell* t) {
    for (uint32_t i = 0; i < length(t); ++i) bytes(t)[i] = uint8_t(~bytes(t)[i]);
    return t;
}

// The first count bytes reversed in records of k bytes.
void reverse(Cell* t, const Cell* part, const Cell* skip) {
    uint32_t count = length(t);
    if (part) {
        if (!cell::is(part, type::integer)) error::fire_bad_refinement(words::refinements.part, part);
        if (integer::get(part) < 0) fire_out_of_range(part);
        count = std::min(count, uint32_t(integer::get(part)));
    }
    uint32_t k = 1;
    if (skip) {
        if (!cell::is(skip, type::integer)) error::fire_bad_refinement(words::refinements.skip, skip);
        int32_t s = integer::get(skip);
        if (s == int32_t(count)) return;
        if (s < 1) fire_out_of_range(skip);
        if (uint32_t(s) > count || count % uint32_t(s)) error::fire_bad_refinement(words::refinements.skip, skip);
        k = uint32_t(s);
    }
    uint8_t* b = bytes(t);
    for (uint32_t lo = 0, hi = count - k; lo < hi && count >= k; lo += k, hi -= k)
        for (uint32_t j = 0; j < k; ++j) std::swap(b[lo + j], b[hi + j]);
}

void add() { math(integer::op::add); }
void subtract() { math(integer::op::subtract); }
void multiply() { math(integer::op::multiply); }
void divide() { math(integer::op::divide); }
void remainder() { math(integer::op::remainder); }
void and_() { math(integer::op::and_); }
void or_() { math(integer::op::or_); }
void xor_() { math(integer::op::xor_); }

const Cell* word_of(int op) {
    return op == integer::op::subtract ? words::words.subtract : words::words.divide;
}

}  // namespace

int32_t form(const Cell* value, Cell* out, const Cell*, int32_t limit) { return text(value, out, limit); }

int32_t mold(const Cell* value, Cell* out, bool, bool, bool, const Cell*, int32_t limit, int32_t) {
    return text(value, out, limit);
}

// Byte by byte over the longer length, a missing byte counting as 0; the
// same answer serves every op code.
int32_t compare(const Cell* a, const Cell* b, int32_t) {
    if (!cell::is(b, type::tuple)) return -2;
    uint32_t n = std::max(length(a), length(b));
    for (uint32_t i = 0; i < n; ++i) {
        uint8_t x = i < length(a) ? bytes(a)[i] : 0, y = i < length(b) ? bytes(b)[i] : 0;
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

void math(int op) {
    Cell* left = stack::args;
    Cell* right = left + 1;
    if (!cell::is(left, type::tuple)) {
        if (op == integer::op::subtract || op == integer::op::divide) {
            Cell w = *word_of(op), kind = cell::datatype_value(cell::type_of(left));
            error::fire(error::id::not_related, &w, &kind);
        }
        std::swap(*left, *right);
    }
    Cell t = *left;
    uint32_t n = length(&t);
    uint8_t* b = bytes(&t);
    switch (cell::type_of(right)) {
        case type::float_:
        case type::percent: {
            double f = cell::real(right);
            for (uint32_t i = 0; i < n; ++i) b[i] = clamp_real(float_::do_math(b[i], f, op));
            break;
        }
        case type::integer:
        case type::tuple: {
            bool is_tuple = cell::is(right, type::tuple);
            if (is_tuple) n = std::max(n, length(right));
            for (uint32_t i = 0; i < n; ++i) {
                int32_t r = is_tuple ? bytes(right)[i] : integer::get(right);
                Cell spill;
                cell::set_none(&spill);
                int32_t v = integer::do_math(b[i], r, op, op == integer::op::divide ? nullptr : &spill);
                b[i] = cell::is(&spill, type::none) ? clamp(v) : cell::real(&spill) > 0 ? 255 : 0;
            }
            set_length(&t, n);
            break;
        }
        default: error::fire_invalid_type(cell::type_of(right));
    }
    *left = t;
}

void register_type() {
    datatype::Row row(datatype::unsupported);
    row.set(action::make, &make).set(action::to, &make).set(action::random, &random);
    row.set(action::form, &form).set(action::mold, &mold).set(action::eval_path, &eval_path);
    row.set(action::compare, &compare).set(action::add, &add).set(action::divide, &divide);
    row.set(action::multiply, &multiply).set(action::remainder, &remainder).set(action::subtract, &subtract);
    row.set(action::and_, &and_).set(action::complement, &complement).set(action::or_, &or_);
    row.set(action::xor_, &xor_).set(action::length_q, &length_q).set(action::pick, &pick);
    row.set(action::reverse, &reverse);
    datatype::register_type({type::tuple, 0, "tuple!", row.handlers});
}

}  // namespace kel::tuple
