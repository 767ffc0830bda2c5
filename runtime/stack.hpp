// The two stacks every evaluation shares: the argument stack of cells, on
// which a call finds its arguments (argument i at args + i) and leaves its
// result in args[0]; and the call-frame stack, one record per active call or
// protected region. The interpreter, natives and actions open and close
// frames with the same operations, so that errors, break, return and throw
// can unwind any mix of them, and backtraces and the collector can walk them.
//
// Both live in fixed root blocks that never move: cell and frame addresses
// stay valid for the whole run. Pushing and opening never allocate.
#pragma once
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "runtime/alloc.hpp"
#include "runtime/cell.hpp"

namespace kel::stack {

// Frame kinds, in header bits 0-3; bit 4 marks a return target, bit 7 a
// frame opened by the interpreter.
namespace kind {
constexpr uint8_t function = 1, native = 2, try_ = 4, barrier = 5, catch_ = 6, eval = 7, loop = 8;
constexpr uint8_t body_flag = 0x10, interp_flag = 0x80, mask = 0x0F;
}  // namespace kind

struct Frame {
    uint8_t header;      // kind and flags
    uint8_t unused[3];
    uint32_t symbol;     // the word naming the call, all 32 bits
    uint32_t prev;       // the caller's arguments base, as a cell index
    NodeId context;      // the naming word's context
    NodeId function;     // kind 1: the called function's context, else 0
    uint32_t saved;      // kind 1: that context's values word at entry
};

// The sizes of the three stacks a call uses: argument cells, frame records
// and the native stack of the thread the runtime runs on (os::run_on_stack).
// A level of Kel recursion takes about 5 records, 7 cells and 2.5 KiB of
// native stack (7 KiB under the sanitizers): room for 25,000 levels, after
// which the frame stack raises stack-overflow with the native stack still
// well short of its limit. Pages of all three are taken only as they are used.
constexpr uint32_t argument_cells = 1u << 18;
constexpr uint32_t frame_records = 1u << 17;
constexpr size_t native_bytes = size_t(256) << 20;

extern Cell* cells;      // the argument stack's first cell (also read by stack contexts)
extern Cell* top;        // next free cell
extern Cell* args;       // the current call's arguments base
extern Frame* frames;    // the frame stack's first record
extern Frame* frame_top; // next free record

// Points the stacks at their storage; both empty.
void init(Cell* argument_storage, Frame* frame_storage);

// A full stack raises internal stack-overflow (after leaving five cells of
// room and emptying the cycle stack).
// The hot operations are inline; overflow raises stack-overflow with five
// cells of room left for the error.
extern Cell* cells_end;
[[noreturn]] void overflow();

inline Cell* push(const Cell* value) {
    Cell* c = top;
    *c = *value;
    if (++top == cells_end) [[unlikely]] overflow();
    return c;
}
inline Cell* push_slot() {
    Cell* c = top;
    // The collector marks every cell below the top: an old value left here
    // would name a series that may be gone.
    cell::set_unset(c);
    if (++top == cells_end) [[unlikely]] overflow();
    return c;
}
inline void pop(uint32_t n) { top = uint32_t(top - cells) < n ? cells : top - n; }
inline Cell* last() { return top == cells ? cells : top - 1; }  // the last pushed cell, or the first when empty
inline Cell* reset() { return top = args; }
inline Cell* keep() {
    top = args + 1;
    return args;
}
void set_last(const Cell* value);
inline void set_result(const Cell* value) {
    *args = *value;
    top = args + 1;
}
void keep_error();

// Opens a frame record of the kind (header) named by the word (or none);
// the arguments pushed from here on are its own.
extern Frame* frames_end;
inline void mark(const Cell* word, uint8_t header) {
    if (frame_top == frames_end) [[unlikely]] overflow();
    *frame_top++ = Frame{header, {}, word ? word->payload2 : 0, uint32_t(args - cells), word ? word->payload1 : 0, 0, 0};
    args = top;
}
inline void mark_native(const Cell* word) { mark(word, kind::native); }
inline void mark_try(const Cell* word) { mark(word, kind::try_); }
inline void mark_barrier(const Cell* word) { mark(word, kind::barrier); }
inline void mark_catch(const Cell* word) { mark(word, kind::catch_); }
inline void mark_loop(const Cell* word) { mark(word, kind::loop); }
inline void mark_interp_call(const Cell* word) { mark(word, kind::native | kind::interp_flag); }
inline void mark_interp_eval(const Cell* word) { mark(word, kind::eval | kind::interp_flag); }
void mark_func(const Cell* word, NodeId function);
inline void mark_interp_func(const Cell* word, NodeId function) {
    mark_func(word, function);
    (frame_top - 1)->header |= kind::interp_flag;
}
// Opens a return-target frame whose stack context takes the arguments just
// pushed as its values.
void mark_func_body(const Cell* word, NodeId context);

void unwind();            // the result stays as the caller's last pushed cell
void unwind_func();
void unwind_last();       // ... and becomes the caller's own result
void unwind_func_last();
void unwind_drop();       // nothing of the call remains
void unwind_func_drop();
void revert();

// Pops frames down to the innermost one of the kind (or a barrier, or the
// bottom), restoring function contexts on the way; that frame stays.
void unwind_to(uint8_t wanted, bool keep);
void unwind_to_last(uint8_t wanted);
inline void unwind_to_loop(bool keep) { unwind_to(kind::loop, keep); }

void set_body_flag(bool on);
void set_interp_flag();
Frame* check_body_flag();
void clear_body_flag(Frame* frame);
Frame* top_frame();
bool has_interp_frame(const Frame* start, bool one_only);
uint32_t depth();  // open frames

// The frame where a user throw started, searched first for the calling word.
extern Frame* throw_origin;

// The word naming the innermost named call, or <not-found>.
Cell get_call_word();
// Appends a word and the caller's argument position for every named frame.
void trace_frames(Cell* block);
// The named calls, innermost first: the called word (bound to the called
// function's context, else the global one) and the call's own arguments
// base in cells from the bottom.
std::vector<std::pair<Cell, int32_t>> active_calls();

}  // namespace kel::stack
