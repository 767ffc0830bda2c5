#include "runtime/context.hpp"

#include "runtime/collector.hpp"
#include "runtime/cycles.hpp"
#include "runtime/datatype.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/error.hpp"
#include "runtime/hashtable.hpp"
#include "runtime/root.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"
#include "runtime/system.hpp"
#include "runtime/typesets.hpp"
#include "runtime/words.hpp"

namespace kel {

namespace context {

NodeId global = 0;

namespace {

NodeId table_of(NodeId ctx) { return words_table(context_cell(ctx)); }

// One more unset value at the tail of a heap context's values.
Cell* append_value(NodeId ctx) {
    Cell* c = series::bump_tail(alloc::buffer_of(values_of(context_cell(ctx))));
    c->header = type::unset;
    return c;
}

// Words of all types but issue! are bound.
bool bindable_word(uint8_t t) { return typesets::is_any_word(t) || t == type::refinement; }

}  // namespace

Cell* owner_cell(NodeId ctx) { return series::cells_of(ctx) + 1; }
NodeId words_block(NodeId ctx) { return hashtable::record(table_of(ctx))->block; }
uint32_t word_count(NodeId ctx) { return series::cell_count(words_block(ctx)); }
Cell* word_at(NodeId ctx, uint32_t index) { return series::cells_of(words_block(ctx)) + index; }
bool on_stack(NodeId ctx) { return context_cell(ctx)->header & cell::stack_values_flag; }

NodeId make(uint32_t size, bool stack_values, bool flag24, NodeId source, uint32_t kind) {
    if (size == 0) size = 1;
    NodeId ctx = alloc::alloc_cells(2);
    series::bump_tail(alloc::buffer_of(ctx));
    series::bump_tail(alloc::buffer_of(ctx));
    // Each part is stored as soon as it is made, and the context is a root
    // while it is built, so a collection on the way keeps all of it.
    collector::RootCell holder;
    holder.cell = Cell{type::object, ctx, 0, 0};
    Cell* c = context_cell(ctx);
    *c = Cell{type::context | (stack_values ? cell::stack_values_flag : 0) | (flag24 ? maker_flag : 0) |
                  ((kind & 3) << 11),
              0, 0, 0};
    NodeId table = source ? hashtable::copy_words(table_of(source)) : hashtable::init(size, 0, hashtable::words, 0);
    context_cell(ctx)->payload1 = table;
    if (!stack_values) {
        NodeId values = alloc::alloc_unset_cells(size);
        set_values(context_cell(ctx), values);
    }
    if (source) {
        // The copied words still name the source: they belong to this context now.
        uint32_t n = word_count(ctx);
        Cell* w = series::cells_of(words_block(ctx));
        for (uint32_t i = 0; i < n; ++i) w[i].payload1 = ctx;
    }
    return ctx;
}

int32_t find_word_index(NodeId ctx, uint32_t symbol, bool canonical) {
    return hashtable::find_context_word(table_of(ctx), symbol, 0, nullptr, canonical);
}

int32_t add_symbol(NodeId ctx, uint32_t symbol, bool canonical, int32_t* added) {
    return hashtable::find_context_word(table_of(ctx), symbol, ctx, added, canonical);
}

int32_t add_word_if_absent(NodeId ctx, const Cell* word) {
    int32_t added = -1;
    int32_t index = add_symbol(ctx, word::symbol(word), true, &added);
    if (index >= 0) return index;
    if (!on_stack(ctx)) append_value(ctx);
    return added;
}

void put_value(NodeId ctx, const Cell* word, const Cell* value) {
    Cell v = *value;  // the value may live in a buffer that the add moves
    int32_t index = add_word_if_absent(ctx, word);
    *value_address(ctx, uint32_t(index)) = v;
}

Cell* append_value_if_absent(NodeId ctx, const Cell* word, const Cell* value) {
    Cell v = *value;
    int32_t added = -1;
    if (add_symbol(ctx, word::symbol(word), true, &added) >= 0) return nullptr;
    Cell* slot = append_value(ctx);
    *slot = v;
    return slot;
}

Cell* value_of_symbol(uint32_t symbol, NodeId ctx) {
    if (on_stack(ctx)) ctx = global;
    int32_t index = find_word_index(ctx, symbol, true);
    return index < 0 ? nullptr : value_address(ctx, uint32_t(index));
}

Cell* find_or_add_word(uint32_t symbol, bool canonical, bool record) {
    int32_t added = -1;
    int32_t index = add_symbol(global, symbol, canonical, &added);
    if (index >= 0) {
        Cell* w = word_at(global, uint32_t(index));
        if (canonical && record && word::symbol(w) != symbol) {
            Cell copy = *w;
            copy.payload2 = symbol;
            return root::record(&copy);
        }
        return w;
    }
    if (symbol::resolve(symbol) != symbol) {
        int32_t first = find_word_index(global, symbol, true);
        if (first >= 0) word::set_index(word_at(global, uint32_t(added)), first);
    }
    append_value(global);
    return word_at(global, uint32_t(added));
}

Cell* find_or_add_global(uint32_t symbol) {
    Cell* w = find_or_add_word(symbol, false, true);
    if (!sys::record.root_recording) return w;
    Cell copy = *w;
    return root::record(&copy);
}

void fire_not_defined(NodeId ctx, uint32_t index) { error::fire(error::id::not_defined, word_at(ctx, index)); }

Cell* store_word(Cell* word, const Cell* value, NodeId ctx, bool notify) {
    Cell v = *value;
    if (word::index_of(word) < 0) {
        int32_t index = find_word_index(ctx, word::symbol(word), false);
        if (index < 0) index = add_word_if_absent(ctx, word);
        word::set_index(word, index);
    }
    uint32_t index = uint32_t(word::index_of(word));
    const Cell* c = context_cell(ctx);
    if (values_of(c) == 0) error::fire(error::id::not_defined, word);
    if (c->header & cell::stack_values_flag) return &(*value_address(ctx, index) = v);
    if (((c->header & cell::context_kind_mask) >> 11) == object_kind) word_at(ctx, index)->header |= cell::field_set_flag;
    // Objects with a change handler are told once they exist (notify).
    (void)notify;
    Cell* slot = value_address(ctx, index);
    *slot = v;
    return slot;
}

Cell* word_value_cell_slow(const Cell* word, NodeId ctx) {
    if (word::index_of(word) < 0) {
        if (word::symbol(word) == words::symbols.self) return owner_cell(ctx);
        error::fire(error::id::no_value, word);
    }
    if (values_of(context_cell(ctx)) == 0) error::fire(error::id::not_in_context, word);
    return value_address(ctx, uint32_t(word::index_of(word)));
}

NodeId make_from_block(const Cell* block, bool stack_values, bool flag24, uint32_t kind) {
    NodeId node = series::node_of(block);
    uint32_t from = uint32_t(series::index_of(block)), length = series::cell_count(node);
    NodeId ctx = make(length > from ? length - from : 0, stack_values, flag24, 0, kind);
    collector::RootCell holder;
    holder.cell = Cell{type::object, ctx, 0, 0};
    uint32_t count = 0;
    for (uint32_t i = from; i < series::cell_count(node); ++i) {
        Cell w = series::cells_of(node)[i];
        uint8_t t = cell::type_of(&w);
        if (t != type::word && t != type::get_word && t != type::lit_word && t != type::refinement) continue;
        int32_t added;
        add_symbol(ctx, word::symbol(&w), true, &added);
        ++count;
    }
    if (!stack_values) {
        SeriesBuffer* values = alloc::buffer_of(values_of(context_cell(ctx)));
        if (count * sizeof(Cell) > values->size) values = alloc::expand_series(values, count * sizeof(Cell));
        values->tail = values->offset + count * uint32_t(sizeof(Cell));
    }
    return ctx;
}

NodeId clone(Cell* holder, uint32_t kind) {
    NodeId source = holder->payload1;
    const Cell* sc = context_cell(source);
    NodeId ctx = make(word_count(source), sc->header & cell::stack_values_flag, sc->header & maker_flag, source, kind);
    // One unset value per word from the start, so that values written by
    // index before the context is boxed are kept alive by a collection.
    if (!on_stack(ctx)) {
        SeriesBuffer* values = alloc::buffer_of(values_of(context_cell(ctx)));
        values->tail = values->offset + word_count(ctx) * uint32_t(sizeof(Cell));
    }
    holder->payload1 = ctx;
    return ctx;
}

int32_t bind_word(NodeId ctx, Cell* word) {
    int32_t index = find_word_index(ctx, word::symbol(word), true);
    if (index >= 0) word::bind_to(word, ctx, index);
    return index;
}

Cell* bind_block(Cell* block, NodeId ctx, bool self) {
    NodeId node = series::node_of(block);
    if (cycles::find(node)) return block;
    cycles::push(node);
    for (uint32_t i = uint32_t(series::index_of(block)); i < series::cell_count(node); ++i) {
        Cell* c = series::cells_of(node) + i;
        uint8_t t = cell::type_of(c);
        if (bindable_word(t)) {
            if (self && t == type::word && word::symbol(c) == words::symbols.self) {
                word::bind_to(c, ctx, -1);
            } else {
                bind_word(ctx, c);
            }
        } else if (typesets::is_any_block(t)) {
            Cell inner = *c;
            bind_block(&inner, ctx, self);
        }
    }
    cycles::pop();
    return block;
}

bool collect_set_words(NodeId ctx, Cell* block) {
    NodeId node = series::node_of(block);
    uint32_t length = series::cell_count(node);
    if (uint32_t(series::index_of(block)) > length) series::set_index(block, int32_t(length));
    uint32_t before = word_count(ctx);
    for (uint32_t i = uint32_t(series::index_of(block)); i < series::cell_count(node); ++i) {
        Cell w = series::cells_of(node)[i];
        if (cell::is(&w, type::set_word)) add_word_if_absent(ctx, &w);
    }
    return word_count(ctx) > before;
}

void register_type() {
    datatype::Row row(datatype::unsupported);
    datatype::register_type({type::context, 0, "context!", row.handlers});
}

}  // namespace context


void word::fire_unbound(const Cell* word) { error::fire(error::id::not_defined, word); }

}  // namespace kel
