#include "runtime/datatypes/vector.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/alloc.hpp"
#include "runtime/checks.hpp"
#include "runtime/datatype.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/float.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/error.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"
#include "runtime/words.hpp"

namespace kel::vector {
namespace {

bool floating(uint8_t t) { return t == type::float_ || t == type::percent; }
uint32_t default_width(uint8_t t) { return floating(t) ? 8 : 4; }
uint32_t width_of(const Cell* v) { return alloc::buffer_of(v->payload2)->unit(); }
uint8_t element_type(const Cell* v) { return uint8_t(v->payload3); }

uint8_t* element_address(const Cell* v, int64_t i) {
    SeriesBuffer* b = alloc::buffer_of(v->payload2);
    return b->data() + b->offset + uint64_t(i) * b->unit();
}

int32_t get_int(const uint8_t* p, uint32_t width) {
    switch (width) {
        case 1: return int8_t(p[0]);
        case 2: return int16_t(uint16_t(p[0] | p[1] << 8));
        default: return int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
    }
}

// A char! element reads back unsigned: a code point is never negative.
uint32_t get_code(const uint8_t* p, uint32_t width) {
    switch (width) {
        case 1: return p[0];
        case 2: return uint32_t(p[0] | p[1] << 8);
        default: return uint32_t(get_int(p, width));
    }
}

double get_float(const uint8_t* p, uint32_t width) {
    if (width == 4) {
        float f;
        std::memcpy(&f, p, 4);
        return f;
    }
    double d;
    std::memcpy(&d, p, 8);
    return d;
}

void put_int(uint8_t* p, uint32_t width, uint32_t v) {
    for (uint32_t k = 0; k < width; ++k) p[k] = uint8_t(v >> (8 * k));
}

void put_float(uint8_t* p, uint32_t width, double d) {
    if (width == 4) {
        float f = float(d);
        std::memcpy(p, &f, 4);
    } else {
        std::memcpy(p, &d, 8);
    }
}

// A value's number as the element type stores it; the type must match.
void check_element(const Cell* v, const Cell* value) {
    if (cell::type_of(value) != element_type(v)) error::fire(error::id::invalid_arg, value);
}

void store(uint8_t* p, uint32_t width, uint8_t t, const Cell* value) {
    if (floating(t)) put_float(p, width, cell::real(value));
    else put_int(p, width, value->payload2);
}

// The cells a value adds: a block's items from its index (at most count
// when count >= 0), or the value itself.
std::vector<Cell> values_to_add(const Cell* value, int32_t count) {
    std::vector<Cell> out;
    uint8_t t = cell::type_of(value);
    if (t == type::block || t == type::paren || t == type::hash || t == type::path) {
        int32_t from = series::clamped_index(value), n = series::total_length(value) - from;
        if (count >= 0) n = std::min(n, count);
        const Cell* c = series::cells_of(value->payload2) + from;
        out.assign(c, c + n);
    } else {
        out.push_back(*value);
    }
    return out;
}

// Opens room for n elements at position `at`, moving the rest up.
void open_gap(const Cell* v, int64_t at, uint64_t n) {
    SeriesBuffer* b = alloc::buffer_of(v->payload2);
    uint32_t width = b->unit();
    uint64_t length = (b->tail - b->offset) / width;
    uint64_t need = (length + n) * width;
    if (need > INT32_MAX) error::fire(error::id::no_memory);
    if (b->offset + need > b->size) b = alloc::expand_series(b, std::max<uint64_t>(need, 2 * uint64_t(b->size)));
    uint8_t* p = b->data() + b->offset + uint64_t(at) * width;
    std::memmove(p + n * width, p, size_t((length - uint64_t(at)) * width));
    b->tail += uint32_t(n * width);
}

// ---- make

Cell* make(Cell*, Cell* spec, uint8_t) {
    const Cell x = *spec;
    Cell* out = stack::push_slot();
    cell::set_unset(out);
    uint8_t t = type::integer;
    uint32_t width = 4;
    int64_t capacity = 0;
    const Cell* values = nullptr;
    Cell values_cell{};
    if (cell::is(&x, type::integer) || cell::is(&x, type::float_)) {
        capacity = std::max(integer::check_float_range(&x), 0);
    } else if (cell::is(&x, type::block)) {
        int32_t from = series::clamped_index(&x), n = series::total_length(&x) - from;
        const Cell* c = series::cells_of(x.payload2) + from;
        if (n > 0 && cell::is(c, type::word)) {
            Cell kind;
            cell::set_datatype(&kind, type::vector);
            if (n < 2) error::fire_bad_make_arg(&kind, &x);
            uint32_t s = symbol::resolve(c->payload2);
            if (s == symbol::resolve(words::symbols.integer_type)) t = type::integer;
            else if (s == symbol::resolve(words::symbols.char_type)) t = type::char_;
            else if (s == symbol::resolve(words::symbols.float_type)) t = type::float_;
            else if (s == symbol::resolve(words::symbols.percent_type)) t = type::percent;
            else error::fire_bad_make_arg(&kind, &x);
            int32_t i = 1;
            if (cell::is(c + 1, type::integer)) {
                int32_t bits = cell::integer(c + 1);
                bool ok = t == type::percent || (floating(t) ? bits == 32 || bits == 64
                                                             : bits == 8 || bits == 16 || bits == 32);
                if (!ok) error::fire_bad_make_arg(&kind, &x);
                width = t == type::percent ? 8 : uint32_t(bits) / 8;
                i = 2;
            } else if (t == type::percent) {
                width = 8;
            } else {
                error::fire(error::id::invalid_spec_field, &x);
            }
            if (i < n && cell::is(c + i, type::integer)) {
                capacity = std::max(cell::integer(c + i), 0);
                ++i;
            }
            if (i < n && cell::is(c + i, type::block)) {
                values_cell = c[i];
                values = &values_cell;
                ++i;
            }
            if (i < n) error::fire(error::id::invalid_spec_field, &x);
        } else {
            values_cell = x;
            values = &values_cell;
            if (n > 0) {
                t = cell::type_of(c);
                if (t != type::integer && t != type::char_ && !floating(t)) {
                    error::fire_invalid_type(t);
                }
            }
            width = default_width(t);
        }
    } else {
        error::fire_not_done();
    }
    bool fill = true;
    int64_t given = values ? series::length_from(values) : 0;
    if (values && given >= capacity) {
        capacity = given;
        fill = false;
    }
    Cell* held = values ? stack::push(values) : nullptr;
    make_at(out, uint32_t(std::max<int64_t>(capacity, 1)), t, width);
    if (held) {
        std::vector<Cell> items = values_to_add(held, -1);
        for (const Cell& item : items) check_element(out, &item);
        SeriesBuffer* b = alloc::buffer_of(out->payload2);
        for (size_t k = 0; k < items.size(); ++k) store(b->data() + b->offset + k * width, width, t, &items[k]);
        b->tail = b->offset + uint32_t(items.size() * width);
        stack::pop(1);
    }
    if (fill) {
        SeriesBuffer* b = alloc::buffer_of(out->payload2);
        uint32_t end = b->offset + uint32_t(capacity * width);
        std::memset(b->data() + b->tail, 0, end - b->tail);
        b->tail = end;
    }
    return out;
}

// ---- text

void append_element_text(Cell* out, const Cell* v, int64_t i, bool molding) {
    uint8_t t = element_type(v);
    uint32_t width = width_of(v);
    const uint8_t* p = element_address(v, i);
    if (t == type::float_ || t == type::percent) {
        double d = get_float(p, width);
        int kind = t == type::percent ? float_::kind::vector_percent
                   : width == 4       ? float_::kind::vector32
                                      : float_::kind::number;
        const char* text = float_::form_float(t == type::percent ? d * 100 : d, kind);
        string::append_ascii(out, text, std::strlen(text));
        return;
    }
    if (t == type::integer) {
        std::string s = std::to_string(get_int(p, width));
        string::append_ascii(out, s.data(), s.size());
        return;
    }
    uint32_t cp = get_code(p, width);
    if (molding) string::append_ascii(out, "#\"", 2);
    if (molding && (cp < 0x20 || cp == '"' || cp == '^' || cp == 0x7F)) {
        static const char escapes[] = "@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_";
        char e[3] = {'^', 0, 0};
        if (cp == '\t') e[1] = '-';
        else if (cp == '\n') e[1] = '/';
        else if (cp == '"') e[1] = '"';
        else if (cp == '^') e[1] = '^';
        else if (cp == 0x7F) e[1] = '~';
        else e[1] = escapes[cp];
        string::append_ascii(out, e, 2);
    } else {
        string::append_char(out, cp);
    }
    if (molding) string::append_ascii(out, "\"", 1);
}

int32_t serialize_values(const Cell* value, Cell* out, bool molding, const Cell* part, int32_t limit) {
    const Cell v = *value;
    int64_t total = series::total_length(&v);
    for (int64_t i = series::clamped_index(&v); i < total; ++i) {
        if (part && limit < 1) break;
        uint32_t before = string::length(out);
        append_element_text(out, &v, i, molding);
        if (i + 1 < total) string::append_ascii(out, " ", 1);
        limit -= int32_t(string::length(out) - before);
    }
    return limit;
}

const char* type_name(uint8_t t) {
    switch (t) {
        case type::char_: return "char!";
        case type::float_: return "float!";
        case type::percent: return "percent!";
        default: return "integer!";
    }
}

int32_t form(const Cell* v, Cell* out, const Cell* part, int32_t limit) {
    return serialize_values(v, out, false, part, limit);
}

int32_t mold(const Cell* value, Cell* out, bool only, bool, bool, const Cell* part, int32_t limit, int32_t) {
    const Cell v = *value;
    if (!only) {
        string::append_ascii(out, "make vector! [", 14);
        limit -= 14;
    }
    bool plain = series::length_from(&v) > 0 && width_of(&v) == default_width(element_type(&v));
    if (!plain) {
        std::string head = std::string(type_name(element_type(&v))) + " " + std::to_string(width_of(&v) * 8) + " [";
        string::append_ascii(out, head.data(), head.size());
        limit -= int32_t(head.size());
    }
    limit = serialize_values(&v, out, true, part, limit);
    // With /only the brackets this text opened are closed, and no other.
    const char* close = plain ? (only ? "" : "]") : (only ? "]" : "]]");
    string::append_ascii(out, close, std::strlen(close));
    return limit - int32_t(std::strlen(close));
}

// ---- comparison

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
    if (!cell::is(b, type::vector)) return -2;
    if (element_type(a) != element_type(b)) error::fire(error::id::not_same_type);
    bool same = a->payload2 == b->payload2 && a->payload1 == b->payload1;
    if (op == 9) return same ? 0 : -1;
    bool equality = op <= 2 || op == 12;
    if (same && equality) return 0;
    int64_t la = series::length_from(a), lb = series::length_from(b);
    if (equality && la != lb) return 1;
    int64_t ia = series::clamped_index(a), ib = series::clamped_index(b);
    uint32_t wa = width_of(a), wb = width_of(b);
    bool fl = floating(element_type(a));
    for (int64_t k = 0; k < std::min(la, lb); ++k) {
        if (fl) {
            double x = get_float(element_address(a, ia + k), wa), y = get_float(element_address(b, ib + k), wb);
            if (x < y) return -1;
            if (x != y) return 1;
        } else {
            double x = number_at(element_address(a, ia + k), wa, element_type(a));
            double y = number_at(element_address(b, ib + k), wb, element_type(b));
            if (x != y) return x < y ? -1 : 1;
        }
    }
    return la < lb ? -1 : la > lb ? 1 : 0;
}

// ---- arithmetic

// Integer element arithmetic, wrapping in 32 bits; the smallest integer
// divided by -1 is itself and its remainder 0 (the division would trap).
int32_t integer_op(int32_t a, int32_t b, int op) {
    uint32_t x = uint32_t(a), y = uint32_t(b);
    switch (op) {
        case 0: return int32_t(x + y);
        case 1: return int32_t(x - y);
        case 2: return int32_t(uint32_t(int64_t(a) * int64_t(b)));
        case 3:
            if (b == -1) return int32_t(0u - x);
            return a / b;
        case 4:
            if (b == -1) return 0;
            return a % b;
        case 5: return int32_t(x | y);
        case 6: return int32_t(x & y);
        default: return int32_t(x ^ y);
    }
}

// An integer division or remainder by 0, or a division whose quotient does
// not fit 32 bits (the smallest integer by -1), raises its math error.
void check_divisor(int op, int32_t a, int32_t b) {
    if (b == 0) error::fire(error::id::zero_divide);
    if (op == 3 && b == -1 && a == INT32_MIN) error::fire(error::id::overflow);
}

double float_op(double a, double b, int op) {
    if (op <= 4) return float_::do_math(a, b, op);
    error::fire(error::id::cannot_use);
}

void do_math(int op) {
    Cell* a = stack::args;
    Cell* b = stack::args + 1;
    if (!cell::is(b, type::vector)) {
        scalar_op(op, a, b, false);
        return;
    }
    if (element_type(a) != element_type(b)) error::fire(error::id::not_same_type);
    uint8_t t = element_type(a);
    uint32_t wa = width_of(a), wb = width_of(b), width = std::max(wa, wb);
    int64_t n = std::min(series::length_from(a), series::length_from(b));
    int64_t ia = series::clamped_index(a), ib = series::clamped_index(b);
    if (!floating(t) && (op == 3 || op == 4))
        for (int64_t k = 0; k < n; ++k)
            check_divisor(op, get_int(element_address(a, ia + k), wa), get_int(element_address(b, ib + k), wb));
    Cell result;
    make_at(&result, uint32_t(std::max<int64_t>(n, 1)), t, width);
    SeriesBuffer* rb = alloc::buffer_of(result.payload2);
    for (int64_t k = 0; k < n; ++k) {
        uint8_t* p = rb->data() + rb->offset + uint64_t(k) * width;
        if (floating(t)) {
            put_float(p, width, float_op(get_float(element_address(a, ia + k), wa),
                                         get_float(element_address(b, ib + k), wb), op));
        } else {
            put_int(p, width, uint32_t(integer_op(get_int(element_address(a, ia + k), wa),
                                                  get_int(element_address(b, ib + k), wb), op)));
        }
    }
    rb->tail = rb->offset + uint32_t(n * width);
    *a = result;
}

void add() { do_math(0); }
void subtract() { do_math(1); }
void multiply() { do_math(2); }
void divide() { do_math(3); }
void remainder() { do_math(4); }
void or_() { do_math(5); }
void and_() { do_math(6); }
void xor_() { do_math(7); }

// ---- edits

void insert(Cell* v, Cell* value, int32_t count, bool, int32_t dup, bool append) {
    std::vector<Cell> added = values_to_add(value, count);
    for (const Cell& item : added) check_element(v, &item);
    int64_t total = series::total_length(v);
    int64_t at = append ? total : series::clamped_index(v);
    uint64_t n = uint64_t(series::checked_total(added.size(), dup, total));
    if (n > 0) {
        bool told = series::notify(v, append ? words::words.append : words::words.insert, int32_t(at), int32_t(n));
        if (told) at = append ? series::total_length(v) : std::min<int64_t>(at, series::total_length(v));
        open_gap(v, at, n);
        uint32_t width = width_of(v);
        for (uint64_t k = 0; k < n; ++k)
            store(element_address(v, at + int64_t(k)), width, element_type(v), &added[k % added.size()]);
        if (told)
            series::notify(v, append ? words::words.appended : words::words.inserted, int32_t(at), int32_t(n));
    }
    if (!append) v->payload1 = uint32_t(at + int64_t(n));
}

void change(Cell* v, Cell* value, int32_t count, bool, int32_t dup) {
    std::vector<Cell> added = values_to_add(value, -1);
    for (const Cell& item : added) check_element(v, &item);
    int64_t total = series::total_length(v), at = series::clamped_index(v), rest = total - at;
    uint64_t n = uint64_t(series::checked_total(added.size(), dup, total));
    int64_t replaced = count >= 0 ? std::min<int64_t>(rest, count) : std::min<int64_t>(rest, int64_t(n));
    bool told = series::notify(v, words::words.change, int32_t(at), int32_t(replaced));
    if (told) {
        total = series::total_length(v);
        at = std::min(at, total);
        replaced = std::min(replaced, total - at);
    }
    uint32_t width = width_of(v);
    if (int64_t(n) > replaced) {
        open_gap(v, at + replaced, uint64_t(int64_t(n) - replaced));
    } else if (int64_t(n) < replaced) {
        uint8_t* p = element_address(v, at);
        std::memmove(p + n * width, p + replaced * width, size_t((total - at - replaced) * width));
        alloc::buffer_of(v->payload2)->tail -= uint32_t((replaced - int64_t(n)) * width);
    }
    for (uint64_t k = 0; k < n; ++k)
        store(element_address(v, at + int64_t(k)), width, element_type(v), &added[k % added.size()]);
    if (told) series::notify(v, words::words.changed, int32_t(at), int32_t(n));
    v->payload1 = uint32_t(at + int64_t(n));
}

}  // namespace

Cell* make_at(Cell* out, uint32_t capacity, uint8_t element_type, uint32_t width) {
    if (uint64_t(capacity) * width > INT32_MAX) error::fire(error::id::no_memory);
    cell::set_unset(out);
    NodeId node = alloc::alloc_series(std::max(capacity, 1u), width, 0);
    *out = Cell{type::vector, 0, node, element_type};
    return out;
}

Cell element_value(const Cell* v, int64_t i) {
    uint8_t t = element_type(v);
    const uint8_t* p = element_address(v, i);
    Cell out{};
    if (floating(t)) cell::set_real(&out, t, get_float(p, width_of(v)));
    else if (t == type::char_) out = Cell{t, 0, get_code(p, width_of(v)), 0};
    else out = Cell{t, 0, uint32_t(get_int(p, width_of(v))), 0};
    return out;
}

double number_at(const uint8_t* p, uint32_t width, uint8_t t) {
    if (floating(t)) return get_float(p, width);
    return t == type::char_ ? double(get_code(p, width)) : double(get_int(p, width));
}

void write_value(const Cell* v, int64_t i, const Cell* value) {
    check_element(v, value);
    store(element_address(v, i), width_of(v), element_type(v), value);
}

void scalar_op(int op, Cell* v, const Cell* scalar, bool scalar_first) {
    uint8_t st = cell::type_of(scalar);
    bool whole = st == type::integer || st == type::char_;
    if (!whole && st != type::float_ && st != type::percent) error::fire_not_done();
    uint8_t t = element_type(v);
    uint32_t width = width_of(v);
    int64_t from = series::clamped_index(v), total = series::total_length(v);
    // Adding 0 and multiplying by 1 change nothing; so do subtracting 0 and
    // dividing by 1, with the scalar second.
    auto identity = [&](double s) {
        bool zero_op = op == 0 || (op == 1 && !scalar_first), one_op = op == 2 || (op == 3 && !scalar_first);
        return (zero_op && s == 0) || (one_op && s == 1);
    };
    if (floating(t)) {
        double s = whole ? double(int32_t(scalar->payload2)) : cell::real(scalar);
        if (identity(s)) return;
        for (int64_t i = from; i < total; ++i) {
            uint8_t* p = element_address(v, i);
            double e = get_float(p, width);
            put_float(p, width, scalar_first ? float_op(s, e, op) : float_op(e, s, op));
        }
        return;
    }
    int32_t s = whole ? int32_t(scalar->payload2) : float_::to_int_offset(cell::real(scalar));
    if (identity(s)) return;
    if (op == 3 || op == 4)  // checked whole before the vector changes
        for (int64_t i = from; i < total; ++i) {
            int32_t e = get_int(element_address(v, i), width);
            if (scalar_first) check_divisor(op, s, e);
            else check_divisor(op, e, s);
        }
    for (int64_t i = from; i < total; ++i) {
        uint8_t* p = element_address(v, i);
        int32_t e = get_int(p, width);
        put_int(p, width, uint32_t(scalar_first ? integer_op(s, e, op) : integer_op(e, s, op)));
    }
}

void scalar_first_op(int op) {
    Cell* scalar = stack::args;
    scalar_op(op, scalar + 1, scalar, true);
    *scalar = scalar[1];
}

void register_type() {
    datatype::Row row(datatype::inherit);
    row.set(action::make, &make)
        .set(action::form, &form)
        .set(action::mold, &mold)
        .set(action::compare, &compare)
        .set(action::add, &add)
        .set(action::subtract, &subtract)
        .set(action::multiply, &multiply)
        .set(action::divide, &divide)
        .set(action::remainder, &remainder)
        .set(action::or_, &or_)
        .set(action::and_, &and_)
        .set(action::xor_, &xor_)
        .set(action::append, &insert)
        .set(action::insert, &insert)
        .set(action::change, &change);
    // Positions, pick, poke and the edits come from series! (the row of
    // string!, its parent, may not hold them); the rest is not supported.
    for (action::Slot s : {action::at, action::back, action::clear, action::copy, action::head, action::head_q,
                           action::index_q, action::length_q, action::move, action::next, action::pick,
                           action::poke, action::remove, action::reverse, action::skip, action::tail,
                           action::tail_q, action::random, action::take})
        row.handlers[s - 1] = datatype::handler(type::series, s);
    for (action::Slot s : {action::to, action::set_path, action::absolute, action::negate, action::power,
                           action::round, action::even_q, action::odd_q, action::complement, action::swap,
                           action::trim, action::put})
        row.handlers[s - 1] = datatype::unsupported;
    datatype::register_type({type::vector, type::string, "vector!", row.handlers});
}

}  // namespace kel::vector
