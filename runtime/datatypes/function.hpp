// function! and routine!: callables whose arguments are described by a spec
// block. A function! cell holds its context (payload 1: the spec's argument
// words, values on the argument stack while it runs), its spec block at index
// 0 (payload 2) and its "more" series (payload 3), five cells:
//   0  the body: a deep copy of the given block (a routine keeps the cell), or none
//   1  unset!; the interpreter caches the parsed spec there
//   2  native code: integer!, payload 2 = index in the routine table; unset! when interpreted
//   3  a copy of the value once an op! has been made from it
//   4  function: the owning object's context node (integer!, payload 2), or unset!
//      routine: its result kind (integer!: 4 logic!, 11 integer!, -1 none)
// The header carries 0x400 (trace) and 0x200 (no-trace) from the attribute
// block; a routine! also 0x8000 (the maker's flag) and its argument count in
// bits 25-29. Two functions are equal only when they are the same value: the
// more series is their identity.
//
// Native code is never an address in a cell: C++ functions exposed as
// routines, and the code of functions built ahead of time, are entries of the
// routine table, one uniform signature (Entry), reached by a 1-based index.
#pragma once
#include <cstdint>

#include "runtime/actions.hpp"
#include "runtime/alloc.hpp"
#include "runtime/cell.hpp"
#include "runtime/typesets.hpp"

namespace kel::function {

constexpr uint32_t trace_flag = 0x400;
constexpr uint32_t no_trace_flag = 0x200;
constexpr uint32_t more_cells = 5;
// Context kind of function, routine and native contexts (values on the stack).
constexpr uint32_t context_kind = 1;

// The cells of a function's or routine's more series, in order. A native's
// or action's two-cell series shares parsed_spec.
enum class More : uint32_t { body, parsed_spec, native_entry, op_copy, owner_or_result };

// The fields of a callable cell (any-function!). The context is a function's
// or routine's (or an op!'s made from one); a native or action holds its
// entry index there.
inline NodeId context_of(const Cell* fn) {
    KEL_CHECK(typesets::is_any_function(cell::type_of(fn)));
    return fn->payload1;
}
inline NodeId spec_node(const Cell* fn) {
    KEL_CHECK(typesets::is_any_function(cell::type_of(fn)));
    return fn->payload2;
}
inline NodeId more_node(const Cell* fn) {
    KEL_CHECK(typesets::is_any_function(cell::type_of(fn)));
    return fn->payload3;
}
inline Cell* more(const Cell* fn, More m) { return series::cells_of(more_node(fn)) + uint32_t(m); }

// Validates a spec block from its position; answers the header flags of its
// attribute block. A bad spec raises bad-func-def (with the spec),
// invalid-type-spec (with the type block entry) or dup-vars (with the later
// word), before anything is made.
uint32_t check_spec(const Cell* spec);

// Builds a function! on the stack top and answers its context. body may be
// null (none); ctx, entry (routine table index) and owner (an object's
// context) may be 0. A context made here gets the body copy bound to it.
NodeId push(const Cell* spec, const Cell* body, NodeId ctx, uint32_t entry, NodeId owner, uint32_t flags);

// The `function` native's worker: collects the set-words of the body (and
// the words of foreach, remove-each and repeat) that the spec does not name,
// in first-seen order, and appends them to the spec after /local; an
// /extern section names words that stay global and is cut from the spec.
// The spec block is changed in place; answers the collected words.
Cell collect_words(Cell* spec, const Cell* body);

// 1 + the number of word! cells after /local, scanning from cell `index`;
// with no /local, 0, or -1 when `must` is set.
int32_t count_locals(const Cell* spec, int32_t index, bool must);

// Pushes false, then n - 1 nones: an absent refinement and its arguments.
void init_locals(int32_t n);

// Handlers of the function! row (reflect is shared with routine!).
Cell* make(Cell* proto, Cell* spec, uint8_t t);
void reflect(Cell* value, uint32_t field_symbol);
int32_t form(const Cell* value, Cell* out, const Cell* part, int32_t limit);
int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, const Cell* part, int32_t limit,
             int32_t indent);
// Shared with routine!: equal only for the same value, ordered by identity
// under the equality and sort codes; the ordering codes cannot order them.
int32_t compare(const Cell* a, const Cell* b, int32_t op);

// The body slot of a function or routine (cell 0 of its more series).
Cell* body_of(const Cell* value);

void register_type();

}  // namespace kel::function

namespace kel::routine {

constexpr uint32_t maker_flag = 0x8000;
constexpr uint32_t arity_shift = 25;
constexpr uint32_t max_arity = 31;

// The routine table: answers the 1-based index of the entry (the same index
// for an entry added twice). entry() answers null for an unknown index.
uint32_t add_entry(Entry e);
Entry entry(uint32_t index);

// Builds a routine! on the stack top and answers it: spec, body (kept as
// given; null for none), routine table index, result kind (type::logic,
// type::integer or -1) and the maker's flag. A spec of more than 31 words raises bad-func-def.
Cell* push(const Cell* spec, const Cell* body, uint32_t entry, int32_t result_kind, bool flag);
uint32_t arity(const Cell* routine);

int32_t form(const Cell* value, Cell* out, const Cell* part, int32_t limit);
int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, const Cell* part, int32_t limit,
             int32_t indent);

void register_type();

}  // namespace kel::routine
