// The interpreter: evaluates blocks of values directly. It walks a block
// expression by expression, looks words up, calls natives, actions and ops
// with the arguments their specs ask for, handles set-words, parens and
// paths, and chains infix operators left to right.
//
// Calls use the stack convention of every native: a frame, the arguments
// pushed in spec order (refinements by the indices of their arguments), the
// entry, the result in args[0]. Code is held as (node, index): evaluation may
// allocate, and the collector may move the block being walked.
//
// Every step answers the pending non-local exit code (0 when none); a
// non-zero code makes every step return at once, without closing its frames
// (the exit has already unwound them), up to the native that owns the
// receiving frame.
#pragma once
#include <cstdint>

#include "runtime/alloc.hpp"
#include "runtime/cell.hpp"

namespace kel::interp {

// The block under evaluation, its index at the expression being evaluated;
// an error takes its near field from it. A collector root.
extern Cell current_block;

// Evaluates the block from its position to its tail; the last value is the
// result, unset! for an empty block. With into_result the result goes into
// the caller's args[0], else it stays as the caller's last pushed cell.
uint32_t eval_block(const Cell* block, bool into_result);

// Evaluates one expression of the block (node) at position `at`, before
// `end`; *next receives the position after it. With push the result is
// pushed, else it is written to args[0] with the top just above it.
uint32_t eval_expression(NodeId code, uint32_t at, uint32_t end, bool no_infix, bool push, bool keep_callables,
                         uint32_t* next);

// Calls a callable with argument values given in spec order (missing ones
// are none; refinements stay inactive); the result is pushed.
uint32_t call_values(const Cell& fn, const Cell& name, const Cell* values, uint32_t n);

// Reads a path (value null) or sets it to the value, as a get-path or a
// set-path outside code does; the result is pushed. Keys are matched
// case-sensitively with case_.
uint32_t path_value(const Cell& path, const Cell* value, bool case_);

// The parsed spec of a native, action or op (made once, kept with it): pairs
// of an argument's word and its typeset (the class of the argument in
// header bits 20-21), refinement cells, and a last integer! with the number
// of refinements.
NodeId parsed_spec(const Cell* callable);

// A parsed spec's refinement cell holds its number (from 1) in payload 3;
// the last cell, the locals count (1 + the words after /local, or 0).
inline uint32_t refinement_number(const Cell* refinement) {
    KEL_CHECK(cell::is(refinement, type::refinement));
    return refinement->payload3;
}
inline uint32_t locals_count(const Cell* last) {
    KEL_CHECK(cell::is(last, type::integer));
    return last->payload3;
}

}  // namespace kel::interp
