#include "runtime/ownership.hpp"

#include "runtime/collector.hpp"
#include "runtime/context.hpp"
#include "runtime/cycles.hpp"
#include "runtime/datatypes/object.hpp"
#include "runtime/error.hpp"
#include "runtime/hashtable.hpp"
#include "runtime/symbol.hpp"
#include "runtime/words.hpp"

namespace kel::ownership {

NodeId table = 0;

namespace {

constexpr uint32_t value_cells = 3;  // owned value, owner object, field word

bool recursive(uint8_t t) {
    switch (t) {
        case type::block: case type::paren: case type::path: case type::lit_path: case type::set_path:
        case type::get_path: case type::hash:
            return true;
        default: return false;
    }
}

bool flat(uint8_t t) {
    switch (t) {
        case type::string: case type::file: case type::url: case type::tag: case type::email: case type::ref:
        case type::binary: case type::vector: case type::image: case type::bitset:
            return true;
        default: return false;
    }
}

bool is_object(uint8_t t) { return t == type::object; }

bool owner_marked(NodeId ctx) { return context::context_cell(ctx)->header & cell::owner_flag; }

// The cells of a block from its index to its tail, by position: the walk
// allocates (table entries), so the buffer is re-read for each cell.
template <class Each>
void each_cell(const Cell& v, Each each) {
    uint32_t start = v.payload1;
    for (uint32_t i = start; i < series::cell_count(v.payload2); ++i) {
        Cell item = series::cells_of(v.payload2)[i];
        each(item);
    }
}

}  // namespace

void init() {
    table = hashtable::init(1000, 0, hashtable::ownership, value_cells);
}

void bind(const Cell* value_in, const Cell* owner_in, const Cell* word_in) {
    // Copies: the table grows as entries are made, and the arguments may
    // live in buffers that move.
    collector::RootCell v, o, w;
    v.cell = *value_in;
    o.cell = *owner_in;
    w.cell = *word_in;
    uint8_t t = cell::type_of(&v.cell);
    if (recursive(t) || flat(t)) {
        NodeId node = v.cell.payload2;
        if (!node) return;
        SeriesBuffer* b = alloc::buffer_of(node);
        if (!(b->flags & alloc::flag::owned)) {
            b->flags |= alloc::flag::owned;
            Cell* entry = hashtable::put_pointer(table, node);
            entry[0] = v.cell;
            entry[1] = o.cell;
            entry[2] = w.cell;
        }
        if (!recursive(t) || cycles::find(node)) return;
        cycles::push(node);
        each_cell(v.cell, [&](const Cell& item) { bind(&item, &o.cell, &w.cell); });
        cycles::pop();
        return;
    }
    if (is_object(t)) {
        NodeId ctx = v.cell.payload1;
        if (owner_marked(ctx) || cycles::find(ctx)) return;
        cycles::push(ctx);
        for (uint32_t i = 0; i < context::word_count(ctx); ++i) {
            Cell item = *object::value_at(ctx, i);
            if (is_object(cell::type_of(&item)) && item.payload1 == o.cell.payload1) continue;
            Cell field = *context::word_at(ctx, i);
            bind(&item, &o.cell, &field);
        }
        cycles::pop();
    }
}

void bind_object(const Cell* value, const Cell* owner, const Cell* word) {
    NodeId ctx = owner->payload1;
    bind(value, owner, word);
    context::context_cell(ctx)->header |= cell::owner_flag;
}

void unbind(const Cell* value_in) {
    collector::RootCell v;
    v.cell = *value_in;
    uint8_t t = cell::type_of(&v.cell);
    if (is_object(t)) {
        NodeId ctx = v.cell.payload1;
        if (owner_marked(ctx) || cycles::find(ctx)) return;
        cycles::push(ctx);
        for (uint32_t i = 0; i < context::word_count(ctx); ++i) {
            Cell item = *object::value_at(ctx, i);
            unbind(&item);
        }
        cycles::pop();
        return;
    }
    if (!recursive(t) && !flat(t)) return;
    NodeId node = v.cell.payload2;
    if (!node) return;
    alloc::buffer_of(node)->flags &= ~alloc::flag::owned;
    Cell* entry = hashtable::get_pointer(table, node);
    if (!entry) return;
    for (uint32_t i = 0; i < value_cells; ++i) cell::set_unset(entry + i);
    hashtable::delete_pointer(table, node);
    // The entry is gone before the walk: a block that holds itself is
    // visited once.
    if (recursive(t)) each_cell(v.cell, [&](const Cell& item) { unbind(&item); });
}

void unbind_range(const Cell* block, int32_t position, int32_t count) {
    Cell b = *block;
    for (int32_t i = 0; i < count; ++i) {
        uint32_t at = uint32_t(position + i);
        if (at >= series::cell_count(b.payload2)) break;
        Cell item = series::cells_of(b.payload2)[at];
        unbind(&item);
    }
}

Cell* owner_of(NodeId series) {
    if (!table || !series) return nullptr;
    Cell* entry = hashtable::get_pointer(table, series);
    return entry ? entry + 1 : nullptr;
}

bool check(const Cell* value, const Cell* action, const Cell* new_value, int32_t index, int32_t part) {
    if (!table) return false;
    NodeId key = is_object(cell::type_of(value)) ? value->payload1 : value->payload2;
    Cell* entry = key ? hashtable::get_pointer(table, key) : nullptr;
    if (!entry) return false;
    // The owner as its context holds it now: its change handlers may have
    // been rebuilt since the entry was made.
    Cell owner = *context::owner_cell(entry[1].payload1);
    if (!owner.payload3) return false;
    Cell word = entry[2], target = *value, act = *action, x;
    if (new_value) x = *new_value;
    else cell::set_none(&x);
    object::fire_on_deep_change(&owner, &word, &target, &act, &x, index, part);
    return true;
}

void sweep() {
    if (table) hashtable::sweep_pointers(table, collector::marked, 1);
}

void reflect_owner(Cell* value, uint32_t field) {
    if (symbol::resolve(field) != symbol::resolve(words::symbols.owned)) error::fire_not_done();
    Cell* owner = owner_of(value->payload2);
    if (!owner) cell::set_none(value);
    else *value = *owner;
}

}  // namespace kel::ownership
