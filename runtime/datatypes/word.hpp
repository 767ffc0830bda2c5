// Words: the names of Kel. word!, set-word!, lit-word!, get-word! and
// refinement! (and issue!, whose own module reuses the layout) are one cell
// layout that differs only in its type id: payload 1 the node of the context
// the word is bound to (0 for none), payload 2 its symbol id as spelled,
// payload 3 its index in that context, or -1 until it is resolved.
//
// Two words name the same thing when their symbols resolve to the same
// canonical symbol: comparison, lookup and binding ignore ASCII case, while
// printing shows the spelling the word was made with.
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/alloc.hpp"
#include "runtime/cell.hpp"
#include "runtime/typesets.hpp"

namespace kel::word {

// word! to issue!.
inline bool any_word_q(uint8_t t) { return typesets::is_all_word(t); }

// The word cell's fields.
inline NodeId context_of(const Cell* w) {
    KEL_CHECK(any_word_q(cell::type_of(w)));
    return w->payload1;
}
inline uint32_t symbol(const Cell* w) {
    KEL_CHECK(any_word_q(cell::type_of(w)));
    return w->payload2;
}
// The word's index in its context, or -1 while unresolved.
inline int32_t index_of(const Cell* w) {
    KEL_CHECK(any_word_q(cell::type_of(w)));
    return int32_t(w->payload3);
}
inline void set_index(Cell* w, int32_t index) {
    KEL_CHECK(any_word_q(cell::type_of(w)));
    w->payload3 = uint32_t(index);
}
// Binds the word to the context at the index (-1: not yet resolved).
inline void bind_to(Cell* w, NodeId ctx, int32_t index) {
    KEL_CHECK(any_word_q(cell::type_of(w)));
    w->payload1 = ctx;
    w->payload3 = uint32_t(index);
}

// Making words. The out and block cells must not lie in a buffer that may
// move: a word is made before it is written there.
// The global word of the name (made when new): while start-up records roots,
// a copy kept in the root block; else the word in the global context, good
// until the next allocation.
Cell* load(const char* text);
// A word! of the symbol bound to the global context (added when absent).
Cell* make_in(uint32_t symbol, Cell* out);
Cell* make_at_tail(uint32_t symbol, Cell* block);
Cell* make_at_tail_text(const char* text, Cell* block);
Cell* push_in(uint32_t symbol);
Cell* make_result(uint32_t symbol);  // into the current call's result cell

// Retyping: a copy of a word cell as another word type, into a cell, onto the
// stack, or from the word of a context's field.
Cell* box_as(const Cell* word, Cell* out, uint8_t t);
Cell* push_as(const Cell* word, uint8_t t);
Cell* push_field_as(NodeId ctx, uint32_t index, uint8_t t);

// Values through words. Pushing answers the new stack cell.
// A copy of the field; a context without values raises not-defined.
Cell* get(NodeId ctx, uint32_t index);
// The word's value; unset raises no-value with the word.
Cell* fetch_checked(const Cell* word);
// The word's value without a check.
Cell* push_value(const Cell* word);
// The word's value cell in its own context, or, when that context does not
// hold the symbol, in the global context (added there when absent).
Cell* lookup(const Cell* word);
// Sets the word in arguments[0] to arguments[1] and answers the value in
// arguments[0]. The checked form raises need-value for an unset value first,
// changing nothing.
Cell* set_arg();
Cell* set_arg_checked();

const Cell* symbol_of(const Cell* word);

// Loading a name as source text, for the conversions from text: writes the
// value when the UTF-8 text loads as exactly one value and answers true;
// answers false when it loads as nothing, as several values, or not at all.
// The lexer installs it; until then those conversions raise internal not-done.
using Scanner = bool (*)(const char* text, size_t n, Cell* out);
extern Scanner scanner;

// Handlers of the word! row, shared by the other word types.
Cell* make(Cell* proto, Cell* spec, uint8_t t);  // make and to; the result is written into proto
int32_t form(const Cell* value, Cell* out, const Cell* part, int32_t limit);
int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, const Cell* part, int32_t limit,
             int32_t indent);
int32_t compare(const Cell* a, const Cell* b, int32_t op);
void index_q();  // on the stack: arguments[0]'s index + 1, or none while unresolved

void register_type();

}  // namespace kel::word

namespace kel::set_word {
void register_type();
}
namespace kel::lit_word {
void register_type();
}
namespace kel::get_word {
void register_type();
}
namespace kel::refinement {
void register_type();
// A refinement! of the name, bound to no context.
Cell make_text(const char* text);
// The same from a symbol, on a new stack cell.
Cell* load(uint32_t symbol);
}  // namespace kel::refinement
