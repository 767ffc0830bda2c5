// native!, action! and op!: the built-in callables. A native! or action! cell
// holds the 1-based index of its C++ entry (payload 1: in natives::table for
// a native, in actions::table for an action), its spec block at index 0
// (payload 2) and a two-cell series (payload 3): [0] the context! cell of a
// context made from the spec's words, [1] none (the interpreter caches the
// parsed spec there).
//
// An op! is the cell of the native, action, function or routine it was made
// from, payloads unchanged, with the header 23 | (source type << 16): calling
// it retypes a copy back to the source type. An op made from a function or
// routine is also remembered in cell 3 of the source's more series.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"
#include "runtime/typesets.hpp"

namespace kel::native {

// Payload 1 of a native!, action! or op! cell: the entry index (for an op!
// from a function or routine, that function's context).
inline uint32_t entry_index(const Cell* c) {
    KEL_CHECK(typesets::is_any_function(cell::type_of(c)));
    return c->payload1;
}

// Handlers of the native! row; reflect, form and compare serve all three
// types, mold serves native! and action!.
Cell* make(Cell* proto, Cell* spec, uint8_t t);
void reflect(Cell* value, uint32_t field_symbol);
int32_t form(const Cell* value, Cell* out, const Cell* part, int32_t limit);
int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, const Cell* part, int32_t limit,
             int32_t indent);
// Ordered by payload 1 (the entry index, or a function op's context) under
// the equality and sort codes; values of another type and the ordering codes
// are not comparable.
int32_t compare(const Cell* a, const Cell* b, int32_t op);

void register_type();

}  // namespace kel::native

// action! (the namespace `action` holds the action slots).
namespace kel::action_ {
Cell* make(Cell* proto, Cell* spec, uint8_t t);
void register_type();
}  // namespace kel::action_

namespace kel::op {

// The source type an op! wraps (header bits 16-23).
inline uint8_t source_type(const Cell* op) { return uint8_t(op->header >> 16); }
// The callable an op! calls: its cell retyped to the source type, no flags.
inline Cell callable_of(const Cell* op) {
    Cell fn = *op;
    fn.header = source_type(op);
    return fn;
}

// make op! from a native, action, function or routine of exactly two
// arguments whose first is a plain word!.
Cell* make(Cell* proto, Cell* source, uint8_t t);
int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, const Cell* part, int32_t limit,
             int32_t indent);

void register_type();

}  // namespace kel::op
