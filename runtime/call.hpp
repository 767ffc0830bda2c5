// The one way a callable (function!, native!, action!, routine!, or an op!
// retyped to its source) is called: open its frame, fetch its arguments by
// their class and check their types, run it, close the frame.
//
// The arguments come from a source: the code under evaluation (the
// interpreter), the block given to `apply`, or values a C++ caller holds
// (change handlers, port actors, sort's compare, callbacks). The source says
// how one argument is taken and what a missing one is; everything else is
// the same for all three.
//
// A call's stack: the callable at base (kept safe there), then the frame
// record, whose arguments start above it. A function's arguments take one slot per spec entry, in spec
// order: each argument, each refinement as a logic! followed by its
// arguments, then the locals; while it runs these slots are the values of
// its context. A native's or action's mandatory arguments come first, then
// the arguments of its used refinements, each refinement's first one named
// by its stack index in the call record.
#pragma once
#include <cstdint>

#include "runtime/alloc.hpp"
#include "runtime/cell.hpp"

namespace kel::call {

// function!, native!, action! and routine!: the values a word calls.
inline bool callable(uint8_t t) {
    return t == type::native || t == type::action || t == type::function || t == type::routine;
}

// A callable's parsed spec (made once, cached with it): pairs of an
// argument's word and its typeset (the class of the argument in header bits
// 20-21: 0 evaluated, 1 taken as it stands, 2 literal with parens and
// get-words evaluated), refinement cells numbered from 1, and a last
// integer! with the number of refinements.
NodeId parsed_spec(const Cell* callable);

// Drops the cached parsed specs of the context's callables that were made
// while a type word of theirs had no value (a typeset the boot defines
// later): they are parsed again at their next call. Only while no call runs.
void settle_parsed_specs(NodeId ctx);

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

constexpr uint32_t max_refinements = 32;

// A call under way.
struct Frame {
    Cell fn;            // the callable, retyped from an op!
    Cell name;          // the word naming the call, for errors and the frame record
    NodeId spec = 0;    // its parsed spec
    Cell* base = nullptr;  // where the result goes when the frame closes
    bool function = false; // the arguments fill a function's slots
    bool infix = false;    // the first argument, the left operand, is in place
    uint32_t seen = 0;     // refinements named so far, by number
    bool refined = false;  // refs is filled (a native's refinement is used)
    int32_t refs[max_refinements];  // per refinement: its first argument's stack index, or -1
};

// Opens the frame of a call: the callable is pushed and the frame record
// opened above it. `name` is the word naming the call.
void open(Frame& f, const Cell& fn, const Cell& name);
// Opens an infix call: the last pushed value, the left operand, becomes its
// first argument.
void open_infix(Frame& f, const Cell& fn, const Cell& name);

// Argument sources.

// Expressions of a code block from pos to end. The right operand of an infix
// call takes no infix operator after it (ops chain left to right).
struct Code {
    NodeId code;
    uint32_t pos;
    uint32_t end;
    bool no_infix;
};

// The block given to apply: one expression per evaluated argument, or with
// safer one value (a word's value, a paren's result, any other value as it
// stands). With marks, a refinement! value ends the arguments before it.
struct Block {
    const Cell* block;  // a stack cell
    uint32_t pos;
    bool safer;
    bool marks;
    bool at_end() const;
    bool exhausted() const;  // at the end or at a refinement! mark
    Cell peek() const;
    // The truth value that follows a refinement (one evaluated argument); a
    // missing one is false.
    uint32_t truth(bool* on);
};

// Values given in spec order; missing ones are none.
struct Values {
    const Cell* values;
    uint32_t count;
    uint32_t next = 0;
    // The next value's truth, for a refinement; a missing one is false.
    uint32_t truth(bool* on);
};

// Fetches the arguments before the first refinement, in spec order, each
// checked against its typeset; a function's refinement slots start unused.
// Answers the pending exit code.
uint32_t fetch_arguments(Frame& f, Code& source);
uint32_t fetch_arguments(Frame& f, Block& source);
uint32_t fetch_arguments(Frame& f, Values& source);

// The spec index of the callable's refinement whose resolved symbol is given,
// or of the first refinement at or after `from` (symbol 0); no_refinement
// when there is none.
constexpr uint32_t no_refinement = ~0u;
uint32_t find_refinement(const Frame& f, uint32_t symbol, uint32_t from = 0);

// Makes the refinement at the spec index used (or not) and fetches its
// arguments: kept when used, evaluated and dropped (or passed over) when
// not. A refinement named twice raises dup-refine naming `where`.
uint32_t refine(Frame& f, uint32_t index, bool used, Code& source, const Cell& where);
uint32_t refine(Frame& f, uint32_t index, bool used, Block& source, const Cell& where);
// Every refinement in spec order: its truth value, then its arguments (as
// apply/all takes them).
uint32_t refine_all(Frame& f, Block& source);
uint32_t refine_all(Frame& f, Values& source);

// Runs the callable on the fetched arguments; its result is in the frame's
// first argument cell. Answers the pending exit code.
uint32_t run(Frame& f);

// Closes the frame and answers the result; the stack's top is back at base.
Cell close(Frame& f);

// Calls a callable with argument values given in spec order (missing ones
// are none; refinements stay unused); the result is pushed.
uint32_t with_values(const Cell& fn, const Cell& name, const Cell* values, uint32_t n);
// The same with a value for every argument and for every refinement (its
// truth, then its arguments) in spec order, as apply/all takes them.
uint32_t with_all_values(const Cell& fn, const Cell& name, const Cell* values, uint32_t n);

}  // namespace kel::call
