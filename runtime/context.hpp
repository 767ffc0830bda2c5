// Contexts map words to value slots. A context is a node whose buffer holds
// two cells: the context! cell (payload 1 the words table, payload 2 the
// values) and the owner cell (the object, error, port or function owning it;
// its payload 3, when set, is the owner's change-handler record).
//
// The words table is a hash table of kind `words` whose block holds one word!
// cell per word, bound to the context, in insertion order; value i belongs to
// word i. A heap context keeps its values in a cell series with one cell per
// word; a stack context's values are the arguments of the running call of its
// function (payload 2 is then the stack position of the first one, plus 1; 0
// while no call runs).
//
// Word cells carry their context and index, so a bound word reaches its value
// in one step. Cell addresses answered here are good until the next
// allocation.
#pragma once
#include <cstdint>

#include "runtime/alloc.hpp"
#include "runtime/cell.hpp"
#include "runtime/stack.hpp"

namespace kel::context {

constexpr uint32_t object_kind = 2;
constexpr uint32_t maker_flag = 0x1000000;  // stored and copied, never tested here

extern NodeId global;

inline Cell* context_cell(NodeId ctx) { return series::cells_of(ctx); }
// The context! cell's fields: the words table, and the values (a cell
// series' node, or with stack values the stack position of the first one
// plus 1, 0 while no call runs).
inline NodeId words_table(const Cell* c) {
    KEL_CHECK(cell::is(c, type::context));
    return c->payload1;
}
inline uint32_t values_of(const Cell* c) {
    KEL_CHECK(cell::is(c, type::context));
    return c->payload2;
}
inline void set_values(Cell* c, uint32_t values) {
    KEL_CHECK(cell::is(c, type::context));
    c->payload2 = values;
}
Cell* owner_cell(NodeId ctx);
NodeId words_block(NodeId ctx);
uint32_t word_count(NodeId ctx);
Cell* word_at(NodeId ctx, uint32_t index);
bool on_stack(NodeId ctx);

NodeId make(uint32_t size, bool stack_values, bool flag24, NodeId source, uint32_t kind);
// A function's context: every word, get-word, lit-word and refinement of the
// spec block from its position.
NodeId make_from_block(const Cell* block, bool stack_values, bool flag24, uint32_t kind);
// A context of the holder's words, bound to the copy; the holder's payload 1
// becomes the new context, which is also the answer.
NodeId clone(Cell* holder, uint32_t kind);

// Lookup: with canonical set, any ASCII-case variant of the symbol matches.
int32_t find_word_index(NodeId ctx, uint32_t symbol, bool canonical);
// Find or add: the index when found; -1 when added, the new index in *added.
int32_t add_symbol(NodeId ctx, uint32_t symbol, bool canonical, int32_t* added);
int32_t add_word_if_absent(NodeId ctx, const Cell* word);
void put_value(NodeId ctx, const Cell* word, const Cell* value);
Cell* append_value_if_absent(NodeId ctx, const Cell* word, const Cell* value);
Cell* value_of_symbol(uint32_t symbol, NodeId ctx);

// Words of the global context. find_or_add_global records a copy of the word
// in the root block while start-up records roots, and answers the copy.
Cell* find_or_add_word(uint32_t symbol, bool canonical, bool record);
Cell* find_or_add_global(uint32_t symbol);

// Writes a value through a word (resolving and adding it when its index is
// unknown); answers the value slot.
Cell* store_word(Cell* word, const Cell* value, NodeId ctx, bool notify);
// The value slot at an index; a context without values raises not-defined.
// Inline: every word the interpreter reads comes through here.
[[noreturn]] void fire_not_defined(NodeId ctx, uint32_t index);
inline Cell* value_address(NodeId ctx, uint32_t index) {
    const Cell* c = context_cell(ctx);
    uint32_t values = values_of(c);
    if (values == 0) [[unlikely]]
        fire_not_defined(ctx, index);
    if (c->header & cell::stack_values_flag) return stack::cells + (values - 1) + index;
    return series::cells_of(values) + index;
}
// The value slot of a word; `self` that resolves to nothing reads the owner.
Cell* word_value_cell_slow(const Cell* word, NodeId ctx);
inline Cell* word_value_cell(const Cell* word, NodeId ctx) {
    int32_t index = int32_t(word->payload3);
    if (index >= 0 && values_of(context_cell(ctx)) != 0) [[likely]]
        return value_address(ctx, uint32_t(index));
    return word_value_cell_slow(word, ctx);
}

int32_t bind_word(NodeId ctx, Cell* word);
// Binds the block's words to the context, into nested blocks, parens and
// paths; a block already being walked is skipped.
Cell* bind_block(Cell* block, NodeId ctx, bool self);
// Adds the set-words of the block; answers whether the context grew.
bool collect_set_words(NodeId ctx, Cell* block);

void register_type();

}  // namespace kel::context

namespace kel::word {
inline Cell* fetch(const Cell* word) { return context::word_value_cell(word, word->payload1); }
// The same for a word that may be bound to nothing, which raises not-defined.
[[noreturn]] void fire_unbound(const Cell* word);
inline Cell* fetch_bound(const Cell* word) {
    if (!word->payload1) [[unlikely]] fire_unbound(word);
    return fetch(word);
}
// Sets the word's value. A resolved word of a context that is not an
// object's (whose field words record the write) stores in one step.
inline Cell* set(Cell* word, const Cell* value) {
    NodeId ctx = word->payload1;
    int32_t index = int32_t(word->payload3);
    if (ctx && index >= 0) [[likely]] {
        const Cell* c = context::context_cell(ctx);
        if (context::values_of(c) != 0 && ((c->header & cell::context_kind_mask) >> 11) != context::object_kind) {
            Cell v = *value;
            Cell* slot = context::value_address(ctx, uint32_t(index));
            *slot = v;
            return slot;
        }
    }
    return context::store_word(word, value, ctx, true);
}
}  // namespace kel::word
