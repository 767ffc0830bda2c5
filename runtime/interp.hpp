// The interpreter: evaluates blocks of values directly. It walks a block
// expression by expression, looks words up, calls natives, actions and ops
// with the arguments their specs ask for, handles set-words, parens and
// paths, and chains infix operators left to right.
//
// Calls go through the one call path (call.hpp). Code is held as (node,
// index): evaluation may allocate, and the collector may move the block
// being walked.
//
// The walk has a traced twin: a block or expression begun while a tracer
// runs reports its steps, any other is walked without a test per step.
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

// Whether a value of the type evaluates to itself: anything but words of
// every kind, paths, parens, ops and callables.
constexpr uint64_t active_types = 1ull << type::word | 1ull << type::set_word | 1ull << type::get_word |
                                  1ull << type::lit_word | 1ull << type::path | 1ull << type::get_path |
                                  1ull << type::set_path | 1ull << type::lit_path | 1ull << type::paren |
                                  1ull << type::op | 1ull << type::native | 1ull << type::action |
                                  1ull << type::function | 1ull << type::routine;
static_assert(type::count <= 64);
constexpr bool stands_for_itself(uint8_t t) { return !(active_types >> t & 1); }

// Evaluates the block from its position to its tail; the last value is the
// result, unset! for an empty block. It is pushed; with into_result it is
// also copied into the caller's args[0].
uint32_t eval_block(const Cell* block, bool into_result);

// Evaluates one expression of the block (node) at position `at`, before
// `end`, and pushes its result; *next receives the position after it. With
// no_infix an infix operator after it is not taken; with keep_callables a
// callable value in the code is pushed rather than called.
uint32_t eval_expression(NodeId code, uint32_t at, uint32_t end, bool no_infix, bool keep_callables, uint32_t* next);

// Reads a path (value null) or sets it to the value, as a get-path or a
// set-path outside code does; the result is pushed. Keys are matched
// case-sensitively with case_.
uint32_t path_value(const Cell& path, const Cell* value, bool case_);

}  // namespace kel::interp
