#include "runtime/datatypes/map.hpp"

#include <algorithm>
#include <cstring>

#include "runtime/actions.hpp"
#include "runtime/alloc.hpp"
#include "runtime/checks.hpp"
#include "runtime/collector.hpp"
#include "runtime/context.hpp"
#include "runtime/cycles.hpp"
#include "runtime/datatype.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/error.hpp"
#include "runtime/hashtable.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"
#include "runtime/words.hpp"

namespace kel::map {
namespace {

Cell* pairs_of(const Cell* m) { return series::cells_of(m->payload2); }
uint32_t cells_in(const Cell* m) { return series::cell_count(m->payload2); }
bool live(const Cell* m, uint32_t key_at) { return pairs_of(m)[key_at + 1].header != 0; }

bool word_type(uint8_t t) { return t >= type::word && t <= type::get_word; }

// A key as the map shows it: a word key, kept as a set-word!, is a word!.
void shown_key(Cell* key) {
    if (cell::is(key, type::set_word)) cell::set_type(key, type::word);
}

[[noreturn]] void bad_key(const Cell* container, const Cell* key) {
    Cell c = *container, t;
    cell::set_datatype(&t, cell::type_of(key));
    error::fire(error::id::invalid_path, &c, &t);
}

// The key as the map keeps it: words as set-word!, text and binaries copied.
Cell prepared_key(const Cell* container, const Cell* key) {
    Cell k = *key;
    uint8_t t = cell::type_of(&k);
    if (!key_type_q(t)) bad_key(container, &k);
    k.header &= ~cell::newline_flag;
    if (word_type(t)) cell::set_type(&k, type::set_word);
    if (series::is_text(t) || t == type::binary) {
        Cell* source = stack::push(&k);
        Cell* result = stack::push_slot();
        cell::set_unset(result);
        k = *series::copy(source, result, nullptr, false, nullptr);
        stack::pop(2);
    }
    return k;
}

// The block position of the live key, or -1; case-insensitive unless case_.
int32_t find_key(const Cell* m, const Cell* key, bool case_) {
    if (!key_type_q(cell::type_of(key))) return -1;
    Cell* found = hashtable::get(m->payload3, key, 0, 1, case_ ? 2 : 0, false, false);
    return found ? int32_t(found - pairs_of(m)) : -1;
}

// The block position of a removed pair whose key equals k strictly, or -1.
int32_t find_removed(const Cell* m, const Cell* k) {
    for (uint32_t i = 0; i + 1 < cells_in(m); i += 2) {
        const Cell* c = pairs_of(m) + i;
        if (c[1].header == 0 && cell::type_of(c) == cell::type_of(k) && actions::compare_raw(c, k, 2) == 0)
            return int32_t(i);
    }
    return -1;
}

// Drops the removed pairs from the block and indexes the rest anew.
void compact(const Cell* m) {
    Cell* c = pairs_of(m);
    uint32_t n = cells_in(m), kept = 0;
    for (uint32_t i = 0; i + 1 < n; i += 2) {
        if (c[i + 1].header == 0) continue;
        c[kept] = c[i];
        c[kept + 1] = c[i + 1];
        kept += 2;
    }
    alloc::buffer_of(m->payload2)->tail -= (n - kept) * uint32_t(sizeof(Cell));
    hashtable::rebuild(m->payload3, std::max(kept / 2, 1u));
}

// Sets the key's value: a live pair takes it, a removed pair of the same
// key comes back in its place, a new key is appended. m is a stack cell.
Cell* set_value(Cell* m, const Cell* key, const Cell* value, bool case_) {
    const Cell v = *value;
    // One probe finds the key, or where a new one goes.
    hashtable::MapSlot slot;
    if (key_type_q(cell::type_of(key))) slot = hashtable::find_map_key(m->payload3, key, case_ ? 2 : 0);
    if (slot.live >= 0) return &(pairs_of(m)[slot.live + 1] = v);
    Cell* held = stack::push(&v);
    Cell* k = stack::push_slot();
    *k = prepared_key(m, key);
    SeriesBuffer* b = alloc::buffer_of(m->payload2);
    // A table that must grow first drops removed pairs from its index: that
    // case, and a full block, take the general path at the end.
    bool room = b->tail + 2 * sizeof(Cell) <= b->size;
    if (room && !slot.grows && slot.strict >= 0) {
        // A removed pair of this key comes back in its place.
        pairs_of(m)[slot.strict + 1] = *held;
        ++hashtable::record(m->payload3)->count;
        stack::pop(2);
        return pairs_of(m) + slot.strict + 1;
    }
    if (room && !slot.grows && slot.free >= 0) {
        uint32_t position = cells_in(m);
        series::bump_tail(b);
        series::bump_tail(b);
        Cell* c = pairs_of(m);
        c[position] = *k;
        c[position + 1] = *held;
        hashtable::put_at(m->payload3, slot.free, position);
        stack::pop(2);
        return pairs_of(m) + position + 1;
    }
    if (!room) {
        uint32_t pairs = cells_in(m) / 2, alive = count(m);
        if (pairs - alive > alive) {
            // A removed pair of this key comes back in its place before the
            // other removed pairs leave.
            int32_t old = find_removed(m, k);
            if (old >= 0) {
                Cell* c = pairs_of(m);
                c[old + 1] = *held;
                uint32_t before = count(m);
                hashtable::put(m->payload3, uint32_t(old));  // indexed again unless it still is
                if (count(m) == before) ++hashtable::record(m->payload3)->count;
                stack::pop(2);
                return pairs_of(m) + old + 1;
            }
            compact(m);
        }
    }
    uint32_t position = cells_in(m);
    series::bump_tail(alloc::buffer_of(m->payload2));
    series::bump_tail(alloc::buffer_of(m->payload2));
    Cell* c = pairs_of(m);
    c[position] = *k;
    c[position + 1] = *held;
    Cell* kept = hashtable::put(m->payload3, position);
    c = pairs_of(m);
    if (kept != c + position) {  // a removed pair of this key: it comes back
        uint32_t old = uint32_t(kept - c);
        c[old + 1] = *held;
        alloc::buffer_of(m->payload2)->tail -= 2 * uint32_t(sizeof(Cell));
        ++hashtable::record(m->payload3)->count;
        position = old;
    }
    stack::pop(2);
    return pairs_of(m) + position + 1;
}

// A new map in out over a copy of n cells of a block from position `from`.
Cell* from_cells(Cell* out, const Cell* source, int32_t from, uint32_t n) {
    const Cell src = *source;
    if (n % 2) error::fire(error::id::invalid_arg, &src);
    for (uint32_t i = 0; i < n; i += 2) {
        const Cell* k = series::cells_of(src.payload2) + from + i;
        if (!key_type_q(cell::type_of(k))) bad_key(&src, k);
    }
    cell::set_unset(out);
    Cell* held = stack::push(&src);
    Cell* block = block::make_at(stack::push_slot(), int32_t(std::max(n, 2u)));
    std::memcpy(series::cells_of(block->payload2), series::cells_of(held->payload2) + from, n * sizeof(Cell));
    alloc::buffer_of(block->payload2)->tail += n * uint32_t(sizeof(Cell));
    for (uint32_t i = 0; i < n; ++i) {
        Cell* c = series::cells_of(block->payload2) + i;
        c->header &= ~cell::newline_flag;
        if (i % 2 == 0) {
            Cell k = prepared_key(&src, c);
            series::cells_of(block->payload2)[i] = k;
        }
    }
    NodeId table = hashtable::init(n / 2, block->payload2, hashtable::map_keys, 0);
    *out = Cell{type::map, 0, block->payload2, table};
    stack::pop(2);
    return out;
}

// An empty map with room for `pairs` pairs.
Cell* empty_map(Cell* out, uint32_t pairs) {
    cell::set_unset(out);
    uint64_t cells = std::max(2 * uint64_t(pairs), uint64_t(2));
    if (cells > INT32_MAX) error::fire(error::id::no_memory);  // more than a block can hold
    Cell* block = block::make_at(stack::push_slot(), int32_t(cells));
    NodeId table = hashtable::init(pairs, block->payload2, hashtable::map_keys, 0);
    *out = Cell{type::map, 0, block->payload2, table};
    stack::pop(1);
    return out;
}

// A copy of the live pairs; with deep, every series value copied deeply.
Cell* copy_map(Cell* out, const Cell* source, bool deep) {
    const Cell m = *source;
    cycles::Guard guard;
    if (deep) {
        if (cycles::find(m.payload2)) error::fire(error::id::no_cycle);
        cycles::push(m.payload2);
    }
    Cell* body = stack::push_slot();
    reflect_block(&m, body, reflect_kind::body);
    for (uint32_t i = 0; i < series::cell_count(body->payload2); i += 2)
        series::cells_of(body->payload2)[i].header &= ~cell::newline_flag;
    if (deep) {
        for (uint32_t i = 1; i < series::cell_count(body->payload2); i += 2) {
            Cell item = series::cells_of(body->payload2)[i];
            uint8_t t = cell::type_of(&item);
            if (!series::is_series(t) && t != type::map) continue;
            Cell* v = stack::push(&item);
            Cell* r = stack::push_slot();
            cell::set_unset(r);
            Cell copied = *actions::handler<actions::Copy>(t, action::copy, v)(v, r, nullptr, true, nullptr);
            series::cells_of(body->payload2)[i] = copied;
            stack::pop(2);
        }
    }
    from_cells(out, body, 0, series::cell_count(body->payload2));
    stack::pop(1);
    return out;
}

// ---- the row

Cell* make_or_to(Cell* spec, bool to) {
    const Cell x = *spec;
    Cell* out = stack::push_slot();
    cell::set_unset(out);
    switch (cell::type_of(&x)) {
        case type::block: case type::paren: case type::hash:
            return from_cells(out, &x, series::clamped_index(&x), uint32_t(series::length_from(&x)));
        case type::integer: case type::float_: {
            if (to) break;
            int32_t n = integer::check_float_range(&x);
            if (n < 0) error::fire(error::id::out_of_range, &x);
            return empty_map(out, uint32_t(n));
        }
        case type::map: return copy_map(out, &x, false);
        default: break;
    }
    error::fire_bad_to_arg(type::map, &x);
}

Cell* make(Cell*, Cell* spec, uint8_t) { return make_or_to(spec, false); }
Cell* to(Cell*, Cell* spec, uint8_t) { return make_or_to(spec, true); }

void reflect(Cell* value, uint32_t field) {
    uint32_t f = symbol::resolve(field);
    int which = f == symbol::resolve(words::symbols.words)    ? reflect_kind::words
                : f == symbol::resolve(words::symbols.values) ? reflect_kind::values
                : f == symbol::resolve(words::symbols.body)   ? reflect_kind::body
                                                              : -1;
    if (which < 0) error::fire_not_done();
    Cell* out = stack::push_slot();
    reflect_block(value, out, which);
    *value = *out;
    stack::pop(1);
}

// The pairs: mold writes key and value molded, one pair a line (flat: one
// line), form the same without brackets and indentation.
int32_t write_pairs(const Cell* value, Cell* out, bool molding, bool only, bool all, bool flat, const Cell* part,
                    int32_t limit, int32_t indent) {
    const Cell m = *value;
    if (cycles::detect(&m, out, limit, molding)) return limit;
    cycles::Guard guard;
    cycles::push(m.payload2);
    bool brackets = molding && !only;
    bool indenting = molding && !flat && !only;
    if (brackets) {
        string::append_ascii(out, "#[", 2);
        limit -= 2;
    }
    bool wrote = false;
    uint32_t n = cells_in(&m), left = count(&m);
    if (indenting && left > 0) {
        string::append_ascii(out, "\n", 1);
        --limit;
    }
    for (uint32_t i = 0; i + 1 < n && left > 0; i += 2) {
        if (part && limit <= 0) break;
        if (!live(&m, i)) continue;
        --left;
        if (indenting) limit = string::append_indent(out, indent + 1, limit);
        Cell key = pairs_of(&m)[i], item = pairs_of(&m)[i + 1];
        limit = actions::mold(&key, out, false, all, flat, part, limit, indent + 1);
        string::append_ascii(out, " ", 1);
        limit = actions::mold(&item, out, false, all, flat, part, limit - 1, indent + 1);
        if (indenting || left > 0) {
            string::append_ascii(out, flat && molding ? " " : "\n", 1);
            --limit;
        }
        wrote = true;
    }
    if (brackets) {
        if (wrote && indenting && indent > 0) limit = string::append_indent(out, indent, limit);
        string::append_ascii(out, "]", 1);
        --limit;
    }
    cycles::pop();
    return limit;
}

int32_t form(const Cell* v, Cell* out, const Cell* part, int32_t limit) {
    return write_pairs(v, out, false, false, false, true, part, limit, 0);
}

int32_t mold(const Cell* v, Cell* out, bool only, bool all, bool flat, const Cell* part, int32_t limit,
             int32_t indent) {
    return write_pairs(v, out, true, only, all, flat, part, limit, indent);
}

Cell* eval_path(Cell* value, const Cell* element, const Cell* store, const Cell*, const Cell*, const Cell*, int32_t,
                bool case_, bool, bool, bool) {
    if (!store) {
        int32_t at = find_key(value, element, case_);
        if (at < 0) {
            if (!key_type_q(cell::type_of(element))) bad_key(value, element);
            return shared::none();
        }
        return pairs_of(value) + at + 1;
    }
    Cell* m = stack::push(value);
    set_value(m, element, store, case_);
    stack::pop(1);
    return const_cast<Cell*>(store);
}

// Sort codes order maps by identity; the equality codes compare the live
// pairs, each key of a looked up in b.
int32_t compare(const Cell* a, const Cell* b, int32_t op) {
    if (!cell::is(b, type::map)) return -2;
    if (op == 7 || op == 8) return a->payload2 < b->payload2 ? -1 : a->payload2 > b->payload2 ? 1 : 0;
    if (!(op <= 2 || op == 9 || op == 12)) return -2;
    if (a->payload2 == b->payload2) return 0;
    if (op == 9) return -1;
    bool in_a = cycles::find(a->payload2), in_b = cycles::find(b->payload2);
    if (in_a || in_b) return in_a && in_b ? 0 : 1;
    if (count(a) != count(b)) return 1;
    if (count(a) == 0) return 0;
    const Cell x = *a, y = *b;
    cycles::Guard guard;
    cycles::push(x.payload2);
    cycles::push(y.payload2);
    bool strict = op == 2;
    int32_t value_op = strict ? 2 : 0;
    for (uint32_t i = 0; i + 1 < cells_in(&x); i += 2) {
        if (!live(&x, i)) continue;
        Cell key = pairs_of(&x)[i], item = pairs_of(&x)[i + 1];
        bool matched = false;
        for (uint32_t j = 0; j + 1 < cells_in(&y) && !matched; j += 2) {
            if (!live(&y, j)) continue;
            Cell other = pairs_of(&y)[j];
            if (cell::type_of(&other) != cell::type_of(&key) || actions::compare_raw(&other, &key, value_op) != 0)
                continue;
            Cell other_item = pairs_of(&y)[j + 1];
            matched = actions::compare_raw(&item, &other_item, value_op) == 0;
        }
        if (!matched) return 1;
    }
    return 0;
}

void clear(Cell* m) { hashtable::clear(m->payload3); }

Cell* copy(Cell* value, Cell* result, const Cell*, bool deep, const Cell*) { return copy_map(result, value, deep); }

Cell* find(Cell* m, Cell* value, const Cell*, bool, bool case_, bool, bool, const Cell*, const Cell*, bool, bool,
           bool, bool) {
    int32_t at = find_key(m, value, case_);
    if (at < 0) return shared::none();
    Cell* key = pairs_of(m) + at;
    *value = *key;
    shown_key(value);
    return value;
}

Cell* select(Cell* m, Cell* value, const Cell*, bool, bool case_, bool, bool, const Cell*, const Cell*, bool, bool) {
    int32_t at = find_key(m, value, case_);
    return at < 0 ? shared::none() : pairs_of(m) + at + 1;
}

int32_t length_q(const Cell* m) { return int32_t(count(m)); }

Cell* put(Cell* m, Cell* key, Cell* value, bool case_) {
    set_value(m, key, value, case_);
    return value;
}

void remove(Cell* m, const Cell*, const Cell* key) {
    if (!key) error::fire(error::id::missing_arg, m);
    int32_t at = find_key(m, key, true);
    if (at >= 0) hashtable::remove(m->payload3, uint32_t(at));
}

}  // namespace

bool key_type_q(uint8_t t) {
    switch (t) {
        case type::string: case type::file: case type::url: case type::char_: case type::integer:
        case type::float_: case type::word: case type::set_word: case type::lit_word: case type::get_word:
        case type::refinement: case type::issue: case type::pair: case type::percent: case type::tuple:
        case type::binary: case type::time: case type::tag: case type::email: case type::date:
        case type::money: case type::ref: case type::point2d: case type::point3d: return true;
        default: return false;
    }
}

bool keys_ok(const Cell* cells, uint32_t n) {
    for (uint32_t i = 0; i < n; i += 2)
        if (!key_type_q(cell::type_of(cells + i))) return false;
    return true;
}

Cell* box_from_cells(Cell* out, const Cell* cells, uint32_t n) {
    collector::RootCell pairs;
    NodeId node = alloc::alloc_cells(n ? n : 2);
    pairs.cell = Cell{type::block, 0, node, 0};
    SeriesBuffer* b = alloc::buffer_of(node);
    auto* dest = reinterpret_cast<Cell*>(b->data() + b->offset);
    std::memcpy(dest, cells, size_t(n) * sizeof(Cell));
    for (uint32_t i = 0; i < n; ++i) {
        dest[i].header &= ~cell::newline_flag;
        uint8_t t = cell::type_of(dest + i);
        if (i % 2 == 0 && word_type(t)) cell::set_type(dest + i, type::set_word);
    }
    b->tail = b->offset + n * uint32_t(sizeof(Cell));
    NodeId table = hashtable::init(n / 2, node, hashtable::map_keys, 0);  // indexes the keys
    *out = Cell{type::map, 0, node, table};
    return out;
}

uint32_t count(const Cell* m) { return hashtable::record(m->payload3)->count; }

Cell* reflect_block(const Cell* m, Cell* out, int which) {
    const Cell map = *m;
    uint32_t n = count(&map);
    block::make_at(out, int32_t(std::max(which == reflect_kind::body ? 2 * n : n, 1u)));
    for (uint32_t i = 0; i + 1 < cells_in(&map); i += 2) {
        if (!live(&map, i)) continue;
        Cell key = pairs_of(&map)[i], item = pairs_of(&map)[i + 1];
        if (which == reflect_kind::words) {
            shown_key(&key);
            block::ks_append(out, &key);
        } else if (which == reflect_kind::values) {
            block::ks_append(out, &item);
        } else {
            key.header |= cell::newline_flag;
            block::ks_append(out, &key);
            block::ks_append(out, &item);
        }
    }
    return out;
}

bool set_words_from_pairs(const Cell* m, int32_t* at, Cell* key_word, Cell* value_word) {
    const Cell map = *m;
    uint32_t i = uint32_t(*at);
    while (i + 1 < cells_in(&map) && !live(&map, i)) i += 2;
    if (i + 1 >= cells_in(&map)) return false;
    *at = int32_t(i + 2);
    // Held on the stack: setting a word may allocate.
    Cell* key = stack::push(pairs_of(&map) + i);
    Cell* item = stack::push(pairs_of(&map) + i + 1);
    key->header &= ~cell::newline_flag;
    shown_key(key);
    word::set(key_word, key);
    word::set(value_word, item);
    stack::pop(2);
    return true;
}

void extend(Cell* m, const Cell* spec, bool case_) {
    const Cell b = *spec;
    int32_t from = series::clamped_index(&b), n = series::length_from(&b);
    if (n % 2) error::fire(error::id::invalid_arg, &b);
    // Every key is checked first: a bad one leaves the map as it was.
    for (int32_t i = 0; i < n; i += 2) {
        const Cell* key = series::cells_of(b.payload2) + from + i;
        if (!key_type_q(cell::type_of(key))) bad_key(m, key);
    }
    Cell* map = stack::push(m);
    Cell* held = stack::push(&b);
    for (int32_t i = 0; i < n; i += 2) {
        Cell key = series::cells_of(held->payload2)[from + i];
        Cell value = series::cells_of(held->payload2)[from + i + 1];
        Cell* k = stack::push(&key);
        Cell* v = stack::push(&value);
        set_value(map, k, v, case_);
        stack::pop(2);
    }
    stack::pop(2);
}

void register_type() {
    datatype::Row row(datatype::unsupported);
    row.set(action::make, &make)
        .set(action::reflect, &reflect)
        .set(action::to, &to)
        .set(action::form, &form)
        .set(action::mold, &mold)
        .set(action::eval_path, &eval_path)
        .set(action::compare, &compare)
        .set(action::clear, &clear)
        .set(action::copy, &copy)
        .set(action::find, &find)
        .set(action::length_q, &length_q)
        .set(action::put, &put)
        .set(action::remove, &remove)
        .set(action::select, &select);
    datatype::register_type({type::map, 0, "map!", row.handlers});
}

}  // namespace kel::map
