// block!: making, walking and extending cell series, and the handlers of the
// block! row that paren!, the paths and hash! inherit.
//
// Walks that descend into nested blocks (form, mold, compare, deep copies)
// record each container on the cycle stack and consult it first, so a block
// that contains itself ends in a placeholder instead of recursing; each walk
// holds a cycles::Guard, so an error raised half-way leaves the cycle stack
// as the walk found it. Loops hold (node, index) and copy the cell they work
// on, since anything they call may allocate and move the buffer.
#include "runtime/datatypes/block.hpp"

#include <algorithm>
#include <cstring>

#include "runtime/actions.hpp"
#include "runtime/alloc.hpp"
#include "runtime/cycles.hpp"
#include "runtime/datatype.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/map.hpp"
#include "runtime/datatypes/object.hpp"
#include "runtime/datatypes/vector.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/typeset.hpp"
#include "runtime/error.hpp"
#include "runtime/lexer/lexer.hpp"
#include "runtime/root.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"
#include "runtime/typesets.hpp"
#include "runtime/words.hpp"

namespace kel::block {
namespace {

Cell* cells_of(const Cell* b) {
    SeriesBuffer* buf = alloc::buffer_of(b->payload2);
    return reinterpret_cast<Cell*>(buf->data() + buf->offset);
}

// Room for n more cells at the tail; answers the (possibly new) buffer.
SeriesBuffer* reserve(NodeId node, uint64_t n) {
    SeriesBuffer* b = alloc::buffer_of(node);
    uint64_t bytes = n * sizeof(Cell);
    if (b->tail + bytes <= b->size) return b;
    uint64_t used = b->tail - b->offset;
    return alloc::expand_series(b, std::max(used + bytes, 2 * uint64_t(b->size)));
}

// A deep walk enters a container only once.
void enter_once(NodeId node) {
    if (cycles::find(node)) {
        cycles::reset();
        error::fire(error::id::no_cycle);
    }
    cycles::push(node);
}

bool is_number(uint8_t t) { return t == type::integer || t == type::float_ || t == type::percent; }

// The absolute index of the first cell from the index equal to value, or -1.
int32_t find_cell(const Cell* b, const Cell* value, int32_t op) {
    const Cell wanted = *value;
    int32_t total = series::total_length(b);
    for (int32_t i = series::clamped_index(b); i < total; ++i) {
        Cell item = cells_of(b)[i];
        if (actions::compare_raw(&item, &wanted, op) == 0) return i;
    }
    return -1;
}

Cell* after(const Cell* b, int32_t i) {
    return i >= 0 && i + 1 < series::total_length(b) ? cells_of(b) + i + 1 : shared::none();
}

uint32_t last_char(const Cell* str) {
    SeriesBuffer* b = alloc::buffer_of(str->payload2);
    uint32_t unit = series::unit_of(b);
    if (b->tail - b->offset < unit) return 0;
    const uint8_t* p = b->data() + b->tail - unit;
    uint32_t c = 0;
    for (uint32_t k = 0; k < unit; ++k) c |= uint32_t(p[k]) << (8 * k);
    return c;
}

int32_t put_text(Cell* out, const char* text, size_t n, int32_t limit) {
    string::append_ascii(out, text, n);
    return limit - int32_t(n);
}

}  // namespace

// ---- making

Cell* make_at(Cell* out, int32_t capacity, uint8_t t) {
    cell::set_unset(out);  // a collection during the allocation sees no half-made block
    NodeId node = alloc::alloc_cells(uint64_t(std::max(capacity, 1)));
    *out = Cell{t, 0, node, 0};
    return out;
}

Cell* make_in(Cell* parent, int32_t capacity) {
    if (!parent) {
        Cell unset{type::unset, 0, 0, 0};
        return make_at(root::record(&unset), capacity);
    }
    const Cell p = *parent;
    int32_t at = series::total_length(&p);
    series::alloc_tail(&p);  // an unset cell holds the place while the buffer is made
    Cell made{};
    make_at(&made, capacity);
    return &(*ks_abs_at(&p, at) = made);
}

Cell* push_new(int32_t capacity) { return make_at(stack::push_slot(), capacity); }

Cell* push(const Cell* value) { return stack::push(value); }

Cell* clone(const Cell* source, bool deep, bool any) {
    const Cell src = *source;
    int32_t n = series::length_from(&src);
    Cell* out = push_new(n);
    std::memcpy(cells_of(out), cells_of(&src) + series::clamped_index(&src), size_t(n) * sizeof(Cell));
    alloc::buffer_of(out->payload2)->tail += uint32_t(n) * sizeof(Cell);
    out->header = cell::type_of(&src);
    if (!deep) return out;

    cycles::Guard guard;
    enter_once(src.payload2);
    for (int32_t i = 0; i < n; ++i) {
        Cell item = cells_of(out)[i];
        uint8_t t = cell::type_of(&item);
        if (t != type::block && !(any && series::is_any_block(t) && t != type::hash)) continue;
        Cell* nested = clone(&item, true, any);
        nested->header = item.header;
        cells_of(out)[i] = *nested;
        stack::pop(1);
    }
    return out;
}

// ---- walking

int32_t ks_length_q(const Cell* b) { return series::length_from(b); }

bool ks_tail_q(const Cell* b) { return series::index_of(b) == series::total_length(b); }

bool ks_next(Cell* b) { return series::ks_skip(b, 1); }

Cell* ks_head(Cell* b) {
    b->payload1 = uint32_t(series::clamped_index(b));
    return cells_of(b) + b->payload1;
}

Cell* ks_tail(const Cell* b) {
    SeriesBuffer* buf = alloc::buffer_of(b->payload2);
    return reinterpret_cast<Cell*>(buf->data() + buf->tail);
}

Cell* ks_abs_at(const Cell* b, int32_t n) { return cells_of(b) + n; }

// ---- changing

void ks_clear(Cell* b) {
    SeriesBuffer* buf = alloc::buffer_of(b->payload2);
    buf->tail = buf->offset + uint32_t(series::clamped_index(b)) * sizeof(Cell);
}

void ks_truncate_at(Cell* b, int32_t n) {
    SeriesBuffer* buf = alloc::buffer_of(b->payload2);
    int32_t keep = std::clamp(n, 0, series::total_length(b));
    buf->tail = buf->offset + uint32_t(keep) * sizeof(Cell);
}

Cell* ks_append(Cell* parent, const Cell* value) {
    const Cell v = *value;
    Cell* c = series::alloc_tail(parent);
    *c = v;
    return c;
}

void ks_append_block(Cell* dst, const Cell* src) {
    const Cell s = *src;
    int32_t n = series::length_from(&s);
    if (n == 0) return;
    SeriesBuffer* b = reserve(dst->payload2, uint64_t(n));
    // Read the source after the growth: it may be the same buffer. Its cells
    // lie before the old tail, where the new ones begin, so they do not overlap.
    std::memcpy(b->data() + b->tail, cells_of(&s) + series::clamped_index(&s), size_t(n) * sizeof(Cell));
    b->tail += uint32_t(n) * sizeof(Cell);
}

void ks_remove_last(Cell* b) {
    int32_t total = series::total_length(b);
    if (total == 0) return;
    alloc::buffer_of(b->payload2)->tail -= sizeof(Cell);
    if (series::index_of(b) > total - 1) b->payload1 = uint32_t(total - 1);
}

void append_top() {
    Cell* v = stack::last();
    ks_append(v - 1, v);
    stack::pop(1);
}

// ---- looking up

Cell* select_value(Cell* b, const Cell* value, int32_t op) { return after(b, find_cell(b, value, op)); }

Cell* find_word(Cell* b, const Cell* word, bool case_) {
    uint32_t wanted = case_ ? word->payload2 : symbol::resolve(word->payload2);
    int32_t total = series::total_length(b);
    for (int32_t i = series::clamped_index(b); i < total; ++i) {
        const Cell* c = cells_of(b) + i;
        uint8_t t = cell::type_of(c);
        if (t < type::word || t > type::get_word) continue;
        if ((case_ ? c->payload2 : symbol::resolve(c->payload2)) == wanted) return after(b, i);
    }
    return shared::none();
}

void copy_nested_types(Cell* b, int32_t from, int32_t to, bool deep, const Cell* types) {
    to = std::min(to, series::total_length(b));
    for (int32_t i = std::max(from, 0); i < to; ++i) {
        Cell item = cells_of(b)[i];
        uint8_t t = cell::type_of(&item);
        bool wanted = cell::is(types, type::datatype) ? types->payload1 == t : cell::typeset_has(types, t);
        bool copyable = series::is_series(t) || t == type::bitset || t == type::object || t == type::error ||
                        t == type::map;
        if (!wanted || !copyable) continue;
        Cell* v = stack::push(&item);
        Cell* r = stack::push_slot();
        cell::set_unset(r);
        Cell* copied = actions::handler<actions::Copy>(t, action::copy, v)(v, r, nullptr, deep, nullptr);
        cells_of(b)[i] = *copied;
        stack::pop(2);
    }
}

// ---- make and to

namespace {

// A new block of the values a keyed value or a vector holds: an object's or
// a map's body (key and value pairs), a vector's elements.
Cell* values_of(const Cell& x) {
    switch (cell::type_of(&x)) {
        case type::object: {
            Cell* r = stack::push(&x);
            object::reflect(r, words::symbols.body);
            return r;
        }
        case type::map: {
            Cell* r = stack::push_slot();
            cell::set_none(r);
            return map::reflect_block(&x, r, map::reflect_kind::body);
        }
        default: {  // vector!
            int64_t from = series::clamped_index(&x), to = series::total_length(&x);
            Cell* r = push_new(uint32_t(std::max<int64_t>(to - from, 1)));
            for (int64_t i = from; i < to; ++i) {
                Cell e = vector::element_value(&x, i);
                ks_append(r, &e);
            }
            return r;
        }
    }
}

}  // namespace

Cell* make(Cell*, Cell* spec, uint8_t t) {
    const Cell x = *spec;
    switch (cell::type_of(&x)) {
        case type::integer: return make_at(stack::push_slot(), cell::integer(&x), t);
        case type::float_: {
            double d = cell::real(&x);
            if (!(d >= -2147483648.0 && d <= 2147483647.0)) break;
            return make_at(stack::push_slot(), int32_t(d), t);
        }
        case type::object:
        case type::map:
        case type::vector: {
            Cell* r = values_of(x);
            cell::set_type(r, t);
            return r;
        }
        default:
            if (series::is_any_block(cell::type_of(&x))) {
                Cell* r = clone(&x, false, false);
                cell::set_type(r, t);
                return r;
            }
    }
    Cell kind{};
    cell::set_datatype(&kind, t);
    error::fire_bad_make_arg(&kind, &x);
}

Cell* to(Cell*, Cell* spec, uint8_t t) {
    const Cell x = *spec;
    uint8_t tx = cell::type_of(&x);
    Cell* r;
    if (tx == type::object || tx == type::map || tx == type::vector) {
        r = values_of(x);
    } else if (tx == type::string) {  // the values the text loads to
        r = stack::push_slot();
        cell::set_none(r);
        lexer::load(&x, -1, lexer::ScanOptions{}, r);
    } else if (tx == type::typeset) {  // the words naming its datatypes
        r = typeset::to_block(&x, stack::push_slot());
    } else if (series::is_any_block(tx)) {
        r = clone(&x, false, false);
    } else {
        r = push_new(1);
        ks_append(r, &x);
    }
    cell::set_type(r, t);
    return r;
}

// ---- form and mold

int32_t form(const Cell* value, Cell* out, const Cell* part, int32_t limit) {
    const Cell v = *value;
    if (cycles::detect(&v, out, limit, false)) return limit;
    cycles::Guard guard;
    cycles::push(v.payload2);
    int32_t start = series::clamped_index(&v);
    for (int32_t i = start; i < series::total_length(&v); ++i) {
        if (part && limit < 1) break;
        if (i > start) {
            uint32_t c = last_char(out);
            if (c != '\t' && c != '\n' && c != '\r') limit = put_text(out, " ", 1, limit);
        }
        Cell item = cells_of(&v)[i];
        limit = actions::form(&item, out, part, limit);
    }
    return limit;
}

int32_t mold_items(const Cell* value, Cell* out, bool only, bool all, bool flat, const Cell* part, int32_t limit,
                   int32_t indent, char open, char close) {
    const Cell v = *value;
    if (cycles::detect(&v, out, limit, true)) return limit;
    cycles::Guard guard;
    cycles::push(v.payload2);
    if (!only) limit = put_text(out, &open, 1, limit);
    int32_t level = indent;
    bool raised = false;
    int32_t start = series::clamped_index(&v);
    for (int32_t i = start; i < series::total_length(&v); ++i) {
        if (part && limit < 1) break;
        Cell item = cells_of(&v)[i];
        bool first = i == start;
        if (!flat && (item.header & cell::newline_flag)) {
            if (first && !only) {
                ++level;
                raised = true;
            }
            if (!(first && only)) {
                limit = put_text(out, "\n", 1, limit);
                limit = string::append_indent(out, level, limit);
            }
        } else if (!first) {
            limit = put_text(out, " ", 1, limit);
        }
        limit = actions::mold(&item, out, false, all, flat, part, limit, level);
    }
    if (raised) {
        limit = put_text(out, "\n", 1, limit);
        limit = string::append_indent(out, indent, limit);
    }
    if (!only) limit = put_text(out, &close, 1, limit);
    return limit;
}

int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, const Cell* part, int32_t limit,
             int32_t indent) {
    return mold_items(value, out, only, all, flat, part, limit, indent, '[', ']');
}

// ---- compare

int32_t compare(const Cell* a_, const Cell* b_, int32_t op) {
    const Cell a = *a_, b = *b_;
    uint8_t ta = cell::type_of(&a), tb = cell::type_of(&b);
    if (ta != tb) {
        bool path_as_lit = (op == 10 || op == 11) && ((ta == type::path && tb == type::lit_path) ||
                                                      (ta == type::lit_path && tb == type::path));
        if (!path_as_lit) return -2;
    }
    bool same = a.payload2 == b.payload2 && a.payload1 == b.payload1;
    if (op == 9) return same ? 0 : -1;
    if (same) return 0;
    // A container already being compared stands for the cycle it closes; the
    // answer is the same whichever side it is on, so the order stays one.
    bool cycle_a = cycles::find(a.payload2), cycle_b = cycles::find(b.payload2);
    if (cycle_a || cycle_b) return cycle_a && cycle_b ? 0 : cycle_a ? -1 : 1;
    int32_t la = series::length_from(&a), lb = series::length_from(&b);
    bool equality = op <= 2 || op >= 10;
    if (la != lb && equality) return 1;

    cycles::Guard guard;
    cycles::push(a.payload2);
    cycles::push(b.payload2);
    int32_t ia = series::clamped_index(&a), ib = series::clamped_index(&b);
    for (int32_t k = 0; k < std::min(la, lb); ++k) {
        Cell x = cells_of(&a)[ia + k], y = cells_of(&b)[ib + k];
        uint8_t tx = cell::type_of(&x), ty = cell::type_of(&y);
        if (tx != ty && !(typesets::is_all_word(tx) && typesets::is_all_word(ty)) && !(is_number(tx) && is_number(ty)))
            return tx < ty ? -1 : 1;
        int32_t r = actions::compare_raw(&x, &y, op);
        if (r == -2) return -2;
        if (r != 0) return r < 0 ? -1 : 1;
    }
    return la < lb ? -1 : la > lb ? 1 : 0;
}

// ---- path access

Cell* eval_path(Cell* value, const Cell* element, const Cell* store, const Cell* path, const Cell*, const Cell*,
                int32_t, bool case_, bool, bool, bool) {
    if (cell::is(element, type::integer)) {
        int32_t i = cell::integer(element);
        return store ? series::poke(value, i, const_cast<Cell*>(store), element) : series::pick(value, i, element);
    }
    int32_t op = case_ ? 2 : 12;
    if (!store) {
        if (cell::is(element, type::word) && !cell::is(value, type::hash)) return find_word(value, element, case_);
        return select_value(value, element, op);
    }
    int32_t found = find_cell(value, element, op);
    if (found < 0) error::fire(error::id::bad_path_set, element, path);
    Cell key = *value;
    key.payload1 = uint32_t(found);
    series::poke(&key, 2, const_cast<Cell*>(store), nullptr);  // the cell after the key
    return const_cast<Cell*>(store);
}

// ---- copy

Cell* copy(Cell* value, Cell* result, const Cell* part, bool deep, const Cell* kind) {
    const Cell source = *value;
    series::copy(value, result, part, false, nullptr);
    if (!deep && !kind) return result;
    if (cell::is(&source, type::hash)) cell::set_type(result, type::block);

    cycles::Guard guard;
    if (deep) enter_once(source.payload2);
    int32_t n = series::total_length(result);
    if (kind) {
        copy_nested_types(result, 0, n, deep, kind);
        return result;
    }
    for (int32_t i = 0; i < n; ++i) {
        Cell item = cells_of(result)[i];
        uint8_t t = cell::type_of(&item);
        if (!series::is_series(t)) continue;
        Cell* v = stack::push(&item);
        Cell* r = stack::push_slot();
        cell::set_unset(r);
        Cell* copied = actions::handler<actions::Copy>(t, action::copy, v)(v, r, nullptr, true, nullptr);
        cells_of(result)[i] = *copied;
        stack::pop(2);
    }
    return result;
}

void register_type() {
    datatype::Row row(datatype::inherit);
    row.set(action::make, &make)
        .set(action::to, &to)
        .set(action::form, &form)
        .set(action::mold, &mold)
        .set(action::eval_path, &eval_path)
        .set(action::compare, &compare)
        .set(action::copy, &copy)
        .set(action::find, &find)
        .set(action::select, &select)
        .set(action::put, &put)
        .set(action::append, &insert)
        .set(action::insert, &insert)
        .set(action::change, &change)
        .set(action::take, &block::take)
        .set(action::swap, &block::swap)
        .set(action::trim, &trim)
        .set(action::sort, &block::sort);
    datatype::register_type({type::block, type::series, "block!", row.handlers});
}

}  // namespace kel::block
