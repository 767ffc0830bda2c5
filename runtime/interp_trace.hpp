// The interpreter's tracer: while a tracing run is open (do/trace), the
// evaluator reports each step to a Kel callback function. The callback gets
// six arguments: the event word; the block being evaluated (or none) and the
// 0-based position in it (-1 when none); the event's value (none when absent
// or unset!); the reference of set, prolog, epilog, return and call events
// (the word set, the function's name); and a pair! of the arguments base and
// the stack top, in cells from the stack's first cell.
//
// The interpreter walks a block begun while the tracer is on in a traced
// twin of its loop, whose report sites test `tracer.on`; any other block is
// walked without them.
#pragma once
#include <cstdint>

#include "runtime/alloc.hpp"
#include "runtime/cell.hpp"

namespace kel::interp {

namespace event {
constexpr uint32_t init = 1, end = 2, prolog = 4, epilog = 8, enter = 0x10, exit = 0x20, open = 0x40,
                   return_ = 0x80, fetch = 0x100, push = 0x200, set = 0x400, call = 0x800, error = 0x1000,
                   throw_ = 0x2000, catch_ = 0x4000, expr = 0x8000;
constexpr uint32_t all = 0x1FFFF;
}  // namespace event

struct Tracer {
    bool on = false;         // reports are made (off while the callback runs)
    bool installed = false;  // a tracing run is open
    uint32_t mask = 0;       // the events the callback asked for
    Cell callback{};         // the function! (held by the do/trace call that opened the run)
};
extern Tracer tracer;

// Reports an event of the code at `position` (a block node, or 0 for none).
void report(uint32_t event, NodeId code, int32_t position, const Cell* reference, const Cell* value);
// The same for a value that is a series itself (a path, a block).
void report(uint32_t event, const Cell* series, uint32_t position, const Cell* reference, const Cell* value);

// The event mask of a callback: the events named in a block that opens its
// body, else every event.
uint32_t check_header(const Cell* function);

// Opens a tracing run with the callback, evaluates the block into args[0]
// and closes the run, reporting init and end (end also after an error). A
// run inside a run installs no second callback. Answers the pending code.
uint32_t trace_block(const Cell* callback, const Cell* block);

// Throws and catches, told by the throw and catch natives.
void trace_throw(const Cell* value, const Cell* name);
void trace_catch(const Cell* value);
// The error being raised, before it unwinds.
void trace_error(const Cell* error);

}  // namespace kel::interp
