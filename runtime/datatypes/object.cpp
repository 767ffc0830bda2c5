// object!: construction, field access by path, the change handlers, and the
// handlers of the object! row.
//
// Everything that allocates holds the objects it works on in root cells or
// on the argument stack, and reaches fields through the context node again
// after each allocation: value cells move with their buffer.
#include "runtime/datatypes/object.hpp"

#include <algorithm>
#include <array>
#include <cstring>

#include "runtime/actions.hpp"
#include "runtime/call.hpp"
#include "runtime/collector.hpp"
#include "runtime/context.hpp"
#include "runtime/cycles.hpp"
#include "runtime/datatype.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/function.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/error.hpp"
#include "runtime/exits.hpp"
#include "runtime/interp.hpp"
#include "runtime/ownership.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"
#include "runtime/throws.hpp"
#include "runtime/words.hpp"

namespace kel::object {

uint32_t class_counter = 0;

namespace {

bool is_object_type(uint8_t t) { return t == type::object || t == type::error || t == type::port; }

bool is_field_word(uint8_t t) {
    return t == type::word || t == type::set_word || t == type::get_word || t == type::lit_word;
}

NodeId values_of(NodeId ctx) { return context::context_cell(ctx)->payload2; }

uint32_t values_count(NodeId ctx) { return series::cell_count(values_of(ctx)); }


Cell datatype_of(const Cell* v) {
    Cell d{};
    cell::set_datatype(&d, cell::type_of(v));
    return d;
}

int32_t put_text(Cell* out, const char* text, int32_t limit) {
    size_t n = std::strlen(text);
    string::append_ascii(out, text, n);
    return limit - int32_t(n);
}

// A copy of a series value (deeply with deep), made on the stack and popped.
Cell copy_series(const Cell& v, bool deep) {
    uint8_t t = cell::type_of(&v);
    if (!datatype::handler(t, action::copy)) return v;
    Cell* source = stack::push(&v);
    Cell* result = stack::push_slot();
    cell::set_unset(result);
    Cell copied = *actions::handler<actions::Copy>(t, action::copy, source)(source, result, nullptr, deep, nullptr);
    copied.header = v.header;
    stack::pop(2);
    return copied;
}

// The function at field i of the context, rebuilt with its body copied and
// bound to the context, then to a context of its own.
void rebind_function(NodeId ctx, uint32_t i) {
    Cell fn = *value_at(ctx, i);
    Cell* kept = stack::top;
    stack::push(&fn);
    Cell body = *function::body_of(&fn);
    if (!series::is_any_block(cell::type_of(&body))) error::fire(error::id::bad_func_def, &fn);
    Cell* copy = block::clone(&body, true, true);
    context::bind_block(copy, ctx, true);
    Cell spec{type::block, 0, fn.payload2, 0};
    function::push(&spec, copy, 0, 0, ctx, fn.header & ~(cell::type_mask | cell::newline_flag));
    Cell made = *stack::last();
    made.header |= fn.header & cell::newline_flag;
    stack::top = kept;
    *value_at(ctx, i) = made;
}

bool type_selected(const Cell* types, uint8_t t) {
    if (!types) return true;
    if (cell::is(types, type::datatype)) return types->payload1 == t;
    return cell::typeset_has(types, t);
}

// Calls a change handler with its arguments; an exit it does not end
// itself goes on as an exception.
void call_handler(const Cell& fn, const Cell* name, const Cell* arguments, uint32_t count) {
    Cell* base = stack::top;
    if (call::with_values(fn, *name, arguments, count)) exits::raise_pending();
    stack::top = base;
}

// The handler entry k of the record with its local count brought up to date
// for the function now in the field; answers the function, or null when the
// record names no field.
bool handler_function(const Cell& object, int k, Cell* fn) {
    if (!object.payload3) return false;
    Cell entry = series::cells_of(object.payload3)[k];
    uint32_t index = entry.payload2 >> 16;
    if (index == no_handler) return false;
    *fn = *value_at(object.payload1, index);
    if (!cell::is(fn, type::function)) return true;
    if (entry.payload3 != fn->payload2) {
        Cell spec{type::block, 0, fn->payload2, 0};
        uint32_t count = uint32_t(function::count_locals(&spec, 0, false));
        Cell* e = series::cells_of(object.payload3) + k;
        e->payload2 = index << 16 | (count & 0xFFFF);
        e->payload3 = fn->payload2;
    }
    return true;
}

void clear_word_flags(NodeId ctx) {
    uint32_t n = context::word_count(ctx);
    Cell* w = series::cells_of(context::words_block(ctx));
    for (uint32_t i = 0; i < n; ++i) w[i].header &= ~(cell::field_set_flag | cell::newline_flag);
}

// A field the object lacks (or whose value is unset) on a path: an unset
// value for a get-path's last element, else the error the position asks for.
Cell* missing_field(const Cell* element, const Cell* path, bool get, bool last) {
    static Cell unset_cell{type::unset, 0, 0, 0};
    if (get && last) {
        unset_cell = Cell{type::unset, 0, 0, 0};
        return &unset_cell;
    }
    Cell p, e = *element;
    if (path) p = *path;
    else cell::set_none(&p);
    error::fire(last ? error::id::invalid_path : error::id::unset_path, &p, &e);
}

// The field index of a word element: the cached index when the word is bound
// to this object, else a lookup.
// The fields found last by name on paths: a context, a symbol and the
// index of its word there. An entry is used only while the context's word at
// that index still has that symbol; a context's words are unique by name, so
// that word is the one a lookup would find.
struct FieldLookup {
    NodeId ctx;
    uint32_t symbol;
    uint32_t index;
};
std::array<FieldLookup, 256> field_lookups{};

int32_t element_index(NodeId ctx, const Cell* element) {
    NodeId words = context::words_block(ctx);
    uint32_t count = series::cell_count(words);
    if (element->payload1 == ctx && int32_t(element->payload3) >= 0 && element->payload3 < count)
        return int32_t(element->payload3);
    uint32_t symbol = element->payload2;
    FieldLookup& last = field_lookups[((ctx * 0x9E3779B1u) ^ (symbol * 0x85EBCA6Bu)) >> 24];
    if (last.ctx == ctx && last.symbol == symbol && last.index < count &&
        series::cells_of(words)[last.index].payload2 == symbol)
        return int32_t(last.index);
    int32_t index = context::find_word_index(ctx, symbol, true);
    if (index >= 0) last = FieldLookup{ctx, symbol, uint32_t(index)};
    return index;
}

}  // namespace

uint32_t next_class_id() { return ++class_counter; }

Cell* value_at(NodeId ctx, uint32_t index) { return series::cells_of(values_of(ctx)) + index; }

uint32_t field_count(const Cell* object) { return context::word_count(object->payload1); }

int32_t find_word_index(const Cell* object, const Cell* word) {
    return context::find_word_index(object->payload1, word->payload2, true);
}

Cell* get_word_value(const Cell* object, const Cell* word) {
    int32_t i = find_word_index(object, word);
    return i < 0 ? shared::none() : value_at(object->payload1, uint32_t(i));
}

bool slot_is_object_q(NodeId ctx, uint32_t index, uint32_t class_id) {
    const Cell* v = value_at(ctx, index);
    return cell::is(v, type::object) && v->payload2 == class_id;
}

Cell* make_at(Cell* out, uint32_t size, uint8_t t) {
    cell::set_unset(out);
    NodeId ctx = context::make(size, false, false, 0, context::object_kind);
    *out = Cell{t, ctx, 0, 0};
    *context::owner_cell(ctx) = *out;
    return out;
}

Cell* box(NodeId ctx, uint32_t class_id) {
    SeriesBuffer* b = alloc::buffer_of(values_of(ctx));
    uint32_t n = context::word_count(ctx);
    if (b->tail == b->offset && n) {
        if (n * sizeof(Cell) > b->size) b = alloc::expand_series(b, n * sizeof(Cell));
        Cell* c = reinterpret_cast<Cell*>(b->data() + b->offset);
        for (uint32_t i = 0; i < n; ++i) cell::set_unset(c + i);
        b->tail = b->offset + n * uint32_t(sizeof(Cell));
    }
    return push(ctx, class_id, 0);
}

Cell* push(NodeId ctx, uint32_t class_id, NodeId record) {
    Cell obj{type::object, ctx, class_id, record};
    *context::owner_cell(ctx) = obj;
    return stack::push(&obj);
}

void copy_context(const Cell* source, Cell* holder, bool deep, const Cell* types) {
    const Cell src = *source;
    NodeId sctx = src.payload1;
    uint32_t n = context::word_count(sctx);
    NodeId ctx = context::make(n, false, false, sctx, context::object_kind);
    *holder = Cell{cell::type_of(&src), ctx, src.payload2, 0};
    // The values as cells, then the parts that are not shared.
    uint32_t have = values_count(sctx);
    SeriesBuffer* b = alloc::buffer_of(values_of(ctx));
    Cell* to = reinterpret_cast<Cell*>(b->data() + b->offset);
    std::memcpy(to, series::cells_of(values_of(sctx)), std::min(n, have) * sizeof(Cell));
    for (uint32_t i = have; i < n; ++i) cell::set_unset(to + i);
    b->tail = b->offset + n * uint32_t(sizeof(Cell));
    *context::owner_cell(ctx) = *holder;
    cycles::Guard guard;
    if (deep && types) {
        if (cycles::find(sctx)) {
            cycles::reset();
            error::fire(error::id::no_cycle);
        }
        cycles::push(sctx);
    }
    for (uint32_t i = 0; i < n; ++i) {
        Cell v = *value_at(ctx, i);
        uint8_t t = cell::type_of(&v);
        if (t == type::function) {
            rebind_function(ctx, i);
        } else if (deep && series::is_series(t) && type_selected(types, t)) {
            Cell copied = copy_series(v, true);
            *value_at(ctx, i) = copied;
        }
    }
}

namespace {

// The node by which ownership knows a value: an object's context, a
// series' buffer; 0 for the rest.
NodeId owned_node(const Cell& v) {
    uint8_t t = cell::type_of(&v);
    if (is_object_type(t)) return v.payload1;
    return series::has_buffer(t) ? v.payload2 : 0;
}

}  // namespace

void own_field(const Cell* object, uint32_t index, const Cell* old_value) {
    collector::RootCell owner, old;
    owner.cell = *object;
    if (old_value) old.cell = *old_value;
    NodeId ctx = owner.cell.payload1;
    if (!(context::context_cell(ctx)->header & cell::owner_flag)) return;
    if (NodeId taken_out = old_value ? owned_node(old.cell) : 0) {
        bool held = false;
        for (uint32_t i = 0; i < context::word_count(ctx) && !held; ++i) held = owned_node(*value_at(ctx, i)) == taken_out;
        if (!held) ownership::unbind(&old.cell);
    }
    Cell v = *value_at(ctx, index), w = *context::word_at(ctx, index);
    if (cell::type_of(&v) == type::object && v.payload1 == ctx) return;
    ownership::bind(&v, &owner.cell, &w);
}

void build_handlers(Cell* object) {
    NodeId ctx = object->payload1;
    const Cell* names[2] = {words::words.on_change, words::words.on_deep_change};
    int32_t index[2];
    for (int k = 0; k < 2; ++k) index[k] = context::find_word_index(ctx, names[k]->payload2, true);
    if (index[0] < 0 && index[1] < 0) {
        object->payload3 = 0;
        *context::owner_cell(ctx) = *object;
        return;
    }
    Cell entries[2];
    for (int k = 0; k < 2; ++k) {
        entries[k] = Cell{type::pair, 0, no_handler << 16, 0};
        if (index[k] < 0) continue;
        Cell v = *value_at(ctx, uint32_t(index[k]));
        if (!cell::is(&v, type::function) && !cell::is(&v, type::routine)) {
            Cell w = *context::word_at(ctx, uint32_t(index[k])), d = datatype_of(&v);
            error::fire(error::id::bad_field_set, &w, &d);
        }
        uint32_t count = 0;
        if (cell::is(&v, type::function)) {
            Cell spec{type::block, 0, v.payload2, 0};
            count = uint32_t(function::count_locals(&spec, 0, false));
        }
        entries[k].payload2 = uint32_t(index[k]) << 16 | (count & 0xFFFF);
        entries[k].payload3 = v.payload2;
    }
    NodeId record = alloc::alloc_cells(2);
    SeriesBuffer* b = alloc::buffer_of(record);
    std::memcpy(b->data() + b->offset, entries, sizeof entries);
    b->tail = b->offset + uint32_t(sizeof entries);
    object->payload3 = record;
    *context::owner_cell(ctx) = *object;
    if (index[0] < 0) return;
    // The object owns the series of its fields.
    collector::RootCell owner;
    owner.cell = *object;
    context::context_cell(ctx)->header |= cell::owner_flag;
    for (uint32_t i = 0; i < context::word_count(ctx); ++i)
        if (int32_t(i) != index[0] && int32_t(i) != index[1]) own_field(&owner.cell, i);
}

// ---- change handlers

void fire_on_change(const Cell* object, const Cell* word, const Cell* old_value, const Cell* new_value) {
    const Cell obj = *object;
    Cell fn;
    if (!handler_function(obj, 0, &fn)) return;
    if (!cell::is(&fn, type::function)) error::fire(error::id::invalid_obj_evt, &fn);
    Cell args[3] = {*word, *old_value, *new_value};
    cell::set_type(&args[0], type::word);
    if (args[0].payload1 != obj.payload1) {
        args[0].payload1 = obj.payload1;
        int32_t i = context::find_word_index(obj.payload1, args[0].payload2, true);
        args[0].payload3 = uint32_t(i);
    }
    call_handler(fn, words::words.on_change, args, 3);
}

void fire_on_deep_change(const Cell* owner, const Cell* word, const Cell* target, const Cell* action,
                         const Cell* new_value, int32_t index, int32_t part) {
    const Cell obj = *owner;
    if (!obj.payload3) error::fire(error::id::invalid_obj_evt, &obj);
    Cell fn;
    if (!handler_function(obj, 1, &fn) || !cell::is(&fn, type::function)) return;
    Cell args[7] = {obj, *word, *target, *action, *new_value, {}, {}};
    cell::set_integer(&args[5], index);
    cell::set_integer(&args[6], part);
    call_handler(fn, words::words.on_deep_change, args, 7);
}

// ---- make

Cell* make(Cell* proto, Cell* spec, uint8_t t) {
    const Cell p = *proto;
    collector::RootCell result, code;
    code.cell = *spec;
    bool derived = is_object_type(cell::type_of(&p));
    if (derived) copy_context(&p, &result.cell, false, nullptr);
    else make_at(&result.cell, 4, t);
    NodeId ctx = result.cell.payload1;
    uint32_t inherited = derived ? context::word_count(ctx) : 0;
    switch (cell::type_of(&code.cell)) {
        case type::object:
        case type::error:
        case type::port: {
            // Every field of the other object, its series copied, its
            // functions rebound.
            NodeId other = code.cell.payload1;
            bool grew = false;
            for (uint32_t i = 0; i < context::word_count(other); ++i) {
                Cell w = *context::word_at(other, i);
                int32_t at = context::find_word_index(ctx, w.payload2, true);
                if (at < 0) {
                    at = context::add_word_if_absent(ctx, &w);
                    grew = true;
                }
                Cell v = *value_at(other, i);
                if (series::is_series(cell::type_of(&v))) v = copy_series(v, false);
                *value_at(ctx, uint32_t(at)) = v;
                if (cell::is(&v, type::function)) rebind_function(ctx, uint32_t(at));
            }
            result.cell.payload2 = !derived || grew ? next_class_id() : p.payload2;
            *context::owner_cell(ctx) = result.cell;
            break;
        }
        case type::block: {
            bool grew = context::collect_set_words(ctx, &code.cell);
            result.cell.payload2 = !derived || grew ? next_class_id() : p.payload2;
            *context::owner_cell(ctx) = result.cell;
            context::bind_block(&code.cell, ctx, true);
            // Inherited series are the new object's own, bound to it.
            for (uint32_t i = 0; i < inherited; ++i) {
                Cell v = *value_at(ctx, i);
                uint8_t vt = cell::type_of(&v);
                if (!series::is_series(vt)) continue;
                Cell copied = copy_series(v, true);
                if (series::is_any_block(vt)) context::bind_block(&copied, ctx, true);
                *value_at(ctx, i) = copied;
            }
            Cell* kept = stack::top;
            if (interp::eval_block(&code.cell, false)) exits::raise_pending();
            stack::top = kept;
            break;
        }
        default: {
            Cell bad = code.cell;
            error::fire(error::id::malconstruct, &bad);
        }
    }
    clear_word_flags(ctx);
    build_handlers(&result.cell);
    return stack::push(&result.cell);
}

// ---- construct and set

Cell* push_new(const Cell* spec_in, const Cell* proto, bool only) {
    collector::RootCell result, spec;
    spec.cell = *spec_in;
    if (proto && is_object_type(cell::type_of(proto))) {
        copy_context(proto, &result.cell, false, nullptr);
    } else {
        make_at(&result.cell, 4);
        result.cell.payload2 = next_class_id();
    }
    NodeId ctx = result.cell.payload1;
    *context::owner_cell(ctx) = result.cell;
    NodeId node = spec.cell.payload2;
    uint32_t n = series::cell_count(node);
    for (uint32_t i = uint32_t(series::clamped_index(&spec.cell)); i < n;) {
        Cell w = series::cells_of(node)[i];
        if (!cell::is(&w, type::set_word)) {
            ++i;
            continue;
        }
        // A chain of set-words takes the next value that is not one.
        uint32_t j = i;
        while (j < n && cell::is(&series::cells_of(node)[j], type::set_word)) ++j;
        Cell v;
        if (j < n) v = series::cells_of(node)[j];
        else cell::set_none(&v);
        if (!only && cell::is(&v, type::word)) {
            uint32_t s = symbol::resolve(v.payload2);
            const words::Symbols& k = words::symbols;
            if (s == k.true_ || s == k.yes || s == k.on) cell::set_logic(&v, true);
            else if (s == k.false_ || s == k.no || s == k.off) cell::set_logic(&v, false);
            else if (s == k.none) cell::set_none(&v);
        }
        for (uint32_t k = i; k < j; ++k) {
            Cell name = series::cells_of(node)[k];
            context::put_value(ctx, &name, &v);
        }
        i = j + 1;
    }
    clear_word_flags(ctx);
    build_handlers(&result.cell);
    return stack::push(&result.cell);
}

void set_many(Cell* object, const Cell* value_in, bool any, bool only, bool some) {
    collector::RootCell obj, value;
    obj.cell = *object;
    value.cell = *value_in;
    NodeId ctx = obj.cell.payload1;
    uint8_t vt = cell::type_of(&value.cell);
    bool each = !only && (vt == type::block || is_object_type(vt));
    int32_t skip[2] = {-1, -1};
    if (obj.cell.payload3)
        for (int k = 0; k < 2; ++k) {
            uint32_t i = series::cells_of(obj.cell.payload3)[k].payload2 >> 16;
            if (i != no_handler) skip[k] = int32_t(i);
        }
    uint32_t n = context::word_count(ctx);
    uint32_t from = vt == type::block ? uint32_t(series::clamped_index(&value.cell)) : 0;
    for (uint32_t i = 0; i < n; ++i) {
        Cell v = value.cell;
        if (each && vt == type::block) {
            uint32_t at = from + i;
            if (at < series::cell_count(value.cell.payload2)) v = series::cells_of(value.cell.payload2)[at];
            else cell::set_none(&v);
        } else if (each) {
            Cell w = *context::word_at(ctx, i);
            int32_t at = context::find_word_index(value.cell.payload1, w.payload2, true);
            if (at < 0) continue;  // fields the source lacks are left alone
            v = *value_at(value.cell.payload1, uint32_t(at));
        }
        Cell w = *context::word_at(ctx, i);
        if (!some && !only && !any && cell::is(&v, type::unset)) error::fire(error::id::need_value, &w);
        if (some && cell::is(&v, type::none)) continue;
        Cell old = *value_at(ctx, i);
        *value_at(ctx, i) = v;
        context::word_at(ctx, i)->header |= cell::field_set_flag;
        if (obj.cell.payload3 && int32_t(i) != skip[0] && int32_t(i) != skip[1]) {
            own_field(&obj.cell, i, &old);
            fire_on_change(&obj.cell, &w, &old, &v);
        }
    }
}

// ---- path access

Cell* eval_path(Cell* value, const Cell* element, const Cell* store, const Cell* path, const Cell*, const Cell*,
                int32_t, bool, bool get, bool last, bool) {
    if (!is_field_word(cell::type_of(element))) {
        Cell p, e = *element;
        if (path) p = *path;
        else cell::set_none(&p);
        error::fire(error::id::invalid_path, &p, &e);
    }
    const Cell obj = *value;
    NodeId ctx = obj.payload1;
    int32_t index = element_index(ctx, element);
    if (index < 0) return missing_field(element, path, get, last);
    if (!store) {
        Cell* slot = value_at(ctx, uint32_t(index));
        if (cell::is(slot, type::unset)) return missing_field(element, path, get, last);
        return slot;
    }
    Cell old = *value_at(ctx, uint32_t(index)), v = *store;
    *value_at(ctx, uint32_t(index)) = v;
    context::word_at(ctx, uint32_t(index))->header |= cell::field_set_flag;
    if (obj.payload3) {
        Cell w = *element;
        w.payload1 = ctx;
        w.payload3 = uint32_t(index);
        own_field(&obj, uint32_t(index), &old);
        fire_on_change(&obj, &w, &old, &v);
    }
    return const_cast<Cell*>(store);
}

// ---- reflect

void reflect(Cell* value, uint32_t field_symbol) {
    collector::RootCell obj, out;
    obj.cell = *value;
    NodeId ctx = obj.cell.payload1;
    uint32_t n = context::word_count(ctx);
    uint32_t f = symbol::resolve(field_symbol);
    const words::Symbols& k = words::symbols;
    if (f == symbol::resolve(k.words)) {
        block::make_at(&out.cell, int32_t(n));
        for (uint32_t i = 0; i < n; ++i) {
            Cell w = *context::word_at(ctx, i);
            w.header = type::word;
            w.payload1 = ctx;
            w.payload3 = i;
            block::ks_append(&out.cell, &w);
        }
    } else if (f == symbol::resolve(k.values)) {
        block::make_at(&out.cell, int32_t(n));
        for (uint32_t i = 0; i < n; ++i) {
            Cell v = *value_at(ctx, i);
            block::ks_append(&out.cell, &v);
        }
    } else if (f == symbol::resolve(k.body)) {
        block::make_at(&out.cell, int32_t(n * 2 < 2 ? 2 : n * 2));
        for (uint32_t i = 0; i < n; ++i) {
            Cell w = *context::word_at(ctx, i), v = *value_at(ctx, i);
            w.header = type::set_word | cell::newline_flag;
            w.payload1 = ctx;
            w.payload3 = i;
            if (cell::is(&v, type::word)) cell::set_type(&v, type::lit_word);
            else if (cell::is(&v, type::path)) cell::set_type(&v, type::lit_path);
            block::ks_append(&out.cell, &w);
            block::ks_append(&out.cell, &v);
        }
    } else if (f == symbol::resolve(k.class_)) {
        cell::set_integer(&out.cell, int32_t(obj.cell.payload2));
    } else if (f == symbol::resolve(words::words.changed->payload2)) {
        block::make_at(&out.cell, int32_t(n));
        for (uint32_t i = 0; i < n; ++i) {
            Cell w = *context::word_at(ctx, i);
            if (w.header & cell::field_set_flag) block::ks_append(&out.cell, &w);
        }
    } else if (f == symbol::resolve(k.owner)) {
        cell::set_logic(&out.cell, context::context_cell(ctx)->header & cell::owner_flag);
    } else if (f == symbol::resolve(k.events_q)) {
        cell::set_logic(&out.cell, obj.cell.payload3 != 0);
    } else {
        error::fire_not_done();
    }
    *value = out.cell;
}

// ---- form and mold

int32_t mold_fields(const Cell* value, Cell* out, bool only, bool all, bool flat, const Cell* part, int32_t limit,
                    int32_t indent) {
    const Cell obj = *value;
    NodeId ctx = obj.payload1;
    uint32_t on_change = symbol::resolve(words::words.on_change->payload2);
    uint32_t on_deep_change = symbol::resolve(words::words.on_deep_change->payload2);
    bool first = true;
    for (uint32_t i = 0; i < context::word_count(ctx); ++i) {
        if (part && limit < 1) break;
        Cell w = *context::word_at(ctx, i);
        uint32_t s = symbol::resolve(w.payload2);
        if (!all && (s == on_change || s == on_deep_change)) continue;
        if (flat) {
            if (!first) limit = put_text(out, " ", limit);
        } else if (only) {
            if (!first) limit = put_text(out, "\n", limit);
        } else {
            if (first) limit = put_text(out, "\n", limit);
            limit = string::append_indent(out, indent + 1, limit);
        }
        first = false;
        w.header = type::word;
        limit = actions::mold(&w, out, false, all, flat, part, limit, indent + 1);
        limit = put_text(out, ": ", limit);
        Cell v = i < values_count(ctx) ? *value_at(ctx, i) : Cell{type::unset, 0, 0, 0};
        if (cell::is(&v, type::word)) limit = put_text(out, "'", limit);
        limit = actions::mold(&v, out, false, all, flat, part, limit, indent + 1);
        if (!flat && !only) limit = put_text(out, "\n", limit);
    }
    return limit;
}

int32_t form(const Cell* value, Cell* out, const Cell* part, int32_t limit) {
    const Cell obj = *value;
    if (cycles::detect(&obj, out, limit, false)) return limit;
    cycles::Guard guard;
    cycles::push(obj.payload1);
    return mold_fields(&obj, out, true, false, false, part, limit, 0);
}

int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, const Cell* part, int32_t limit,
             int32_t indent) {
    const Cell obj = *value;
    if (cycles::detect(&obj, out, limit, true)) return limit;
    cycles::Guard guard;
    cycles::push(obj.payload1);
    if (!only) limit = put_text(out, "make object! [", limit);
    limit = mold_fields(&obj, out, only, all, flat, part, limit, indent);
    if (!flat && indent >= 1) limit = string::append_indent(out, indent, limit);
    if (!only) limit = put_text(out, "]", limit);
    return limit;
}

// ---- compare

int32_t compare(const Cell* a_, const Cell* b_, int32_t op) {
    const Cell a = *a_, b = *b_;
    if (cell::type_of(&a) != cell::type_of(&b)) return -2;
    if (a.payload1 == b.payload1) return 0;
    if (op == 9) return -1;
    if (cycles::find(a.payload1)) return cycles::find(b.payload1) ? 0 : -1;
    uint32_t na = context::word_count(a.payload1), nb = context::word_count(b.payload1);
    if (na != nb) return na > nb ? 1 : -1;
    cycles::Guard guard;
    cycles::push(a.payload1);
    cycles::push(b.payload1);
    for (uint32_t i = 0; i < na; ++i) {
        uint32_t sa = symbol::resolve(context::word_at(a.payload1, i)->payload2);
        uint32_t sb = symbol::resolve(context::word_at(b.payload1, i)->payload2);
        if (sa != sb) return sa < sb ? -1 : 1;
        Cell va = *value_at(a.payload1, i), vb = *value_at(b.payload1, i);
        uint8_t ta = cell::type_of(&va), tb = cell::type_of(&vb);
        auto number = [](uint8_t t) { return t == type::integer || t == type::float_ || t == type::percent; };
        int32_t r;
        if (ta == tb || (word::any_word_q(ta) && word::any_word_q(tb)) || (number(ta) && number(tb))) {
            r = actions::compare_raw(&va, &vb, op);
            if (r == -2) r = 1;
        } else {
            r = ta < tb ? -1 : 1;
        }
        if (r) return r;
    }
    return 0;
}

// ---- copy, select, put, modify

Cell* copy(Cell* value, Cell* result, const Cell* part, bool deep, const Cell* kind) {
    if (part) {
        Cell refinement = *words::refinements.part, p = *part;
        error::fire_bad_refinement(&refinement, &p);
    }
    collector::RootCell made;
    copy_context(value, &made.cell, deep, deep ? kind : nullptr);
    build_handlers(&made.cell);
    *result = made.cell;
    return result;
}

Cell* select(Cell* object, Cell* key, const Cell*, bool, bool, bool, bool, const Cell*, const Cell*, bool, bool) {
    if (!is_field_word(cell::type_of(key))) {
        Cell d = datatype_of(key);
        error::fire(error::id::invalid_type, &d);
    }
    return get_word_value(object, key);
}

Cell* put(Cell* object, Cell* key, Cell* value, bool) {
    if (!cell::is(key, type::word)) {
        Cell d = datatype_of(key);
        error::fire(error::id::invalid_key_type, &d);
    }
    eval_path(object, key, value, nullptr, nullptr, nullptr, -1, false, false, true, true);
    return value;
}

void modify(Cell* target, Cell* field, Cell* value, bool) {
    collector::RootCell obj, v;
    obj.cell = *target;
    v.cell = *value;
    NodeId ctx = obj.cell.payload1;
    uint32_t f = symbol::resolve(field->payload2);
    if (f == symbol::resolve(words::words.changed->payload2)) {
        if (!cell::is(&v.cell, type::none)) error::fire(error::id::invalid_arg, &v.cell);
        uint32_t n = context::word_count(ctx);
        for (uint32_t i = 0; i < n; ++i) context::word_at(ctx, i)->header &= ~cell::field_set_flag;
    } else if (f == symbol::resolve(words::symbols.owner)) {
        context::context_cell(ctx)->header |= cell::owner_flag;
        for (uint32_t i = 0; i < context::word_count(ctx); ++i) own_field(&obj.cell, i);
    } else if (f == symbol::resolve(words::symbols.owned)) {
        if (cell::is(&v.cell, type::none)) {
            ownership::unbind(&obj.cell);
        } else if (cell::is(&v.cell, type::block) && series::length_from(&v.cell) >= 2) {
            uint32_t at = uint32_t(series::clamped_index(&v.cell));
            Cell owner = series::cells_of(v.cell.payload2)[at], word = series::cells_of(v.cell.payload2)[at + 1];
            if (cell::is(&owner, type::object)) ownership::bind(&obj.cell, &owner, &word);
        }
    }
    *target = v.cell;
}

void register_type() {
    datatype::Row row(datatype::unsupported);
    row.set(action::make, &make)
        .set(action::reflect, &reflect)
        .set(action::form, &form)
        .set(action::mold, &mold)
        .set(action::eval_path, &eval_path)
        .set(action::set_path, &eval_path)
        .set(action::compare, &compare)
        .set(action::copy, &copy)
        .set(action::put, &put)
        .set(action::select, &select)
        .set(action::modify, &modify);
    datatype::register_type({type::object, 0, "object!", row.handlers});
}

}  // namespace kel::object
