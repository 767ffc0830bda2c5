#include "runtime/stack.hpp"

#include "runtime/context.hpp"
#include "runtime/cycles.hpp"
#include "runtime/error.hpp"
#include "runtime/words.hpp"

namespace kel::stack {

Cell* cells = nullptr;
Cell* top = nullptr;
Cell* args = nullptr;
Frame* frames = nullptr;
Frame* frame_top = nullptr;
Frame* throw_origin = nullptr;

Cell* cells_end = nullptr;
Frame* frames_end = nullptr;

// Room for the error's own work, then the error.
void overflow() {
    top = top - 5 < cells ? cells : top - 5;
    cycles::reset();
    error::fire(error::id::stack_overflow);
}

namespace {

uint32_t index_of(const Cell* c) { return uint32_t(c - cells); }

// The frame stack holds only its bottom record: outside every call.
bool outside_calls() { return frame_top == frames + 1; }

void restore_function(const Frame* f) {
    if ((f->header & kind::mask) == kind::function && f->function)
        context::context_cell(f->function)->payload2 = f->saved;
}

bool anonymous(uint32_t symbol) {
    return symbol == words::words.body->payload2 || symbol == words::words.anon->payload2;
}

}  // namespace

void init(Cell* argument_storage, Frame* frame_storage) {
    cells = top = args = argument_storage;
    cells_end = cells + argument_cells;
    frames = frame_top = frame_storage;
    frames_end = frames + frame_records;
    throw_origin = nullptr;
    *frame_top++ = Frame{kind::native, {}, 0, 0, 0, 0, 0};  // the bottom record
}


void set_last(const Cell* value) { *args = *value; }

void keep_error() {
    if (top > cells && cell::is(top - 1, type::error)) *args = *(top - 1);
    top = args + 1;
}

void mark_func(const Cell* word, NodeId function) {
    mark(word, kind::function);
    Frame* f = frame_top - 1;
    f->function = function;
    f->saved = function ? context::context_cell(function)->payload2 : 0;
}

void mark_func_body(const Cell* word, NodeId context) {
    context::context_cell(context)->payload2 = index_of(args) + 1;
    mark(word, kind::native | kind::body_flag);
}

void unwind() {
    const Frame* f = --frame_top;
    top = args + 1;
    args = cells + f->prev;
}

void unwind_func() {
    restore_function(frame_top - 1);
    unwind();
}

void unwind_last() {
    Cell* callee = args;
    unwind();
    *args = *callee;
}

void unwind_func_last() {
    restore_function(frame_top - 1);
    unwind_last();
}

void unwind_drop() {
    const Frame* f = --frame_top;
    args = cells + f->prev;
    top = args;
}

void unwind_func_drop() {
    restore_function(frame_top - 1);
    unwind_drop();
}

void revert() {
    const Frame* f = --frame_top;
    restore_function(f);
    top = args;
    args = cells + f->prev;
    if (outside_calls()) args = top = cells;
}

void unwind_to(uint8_t wanted, bool keep) {
    top = args + 1;
    while (!outside_calls()) {
        const Frame* f = frame_top - 1;
        uint8_t k = f->header & kind::mask;
        if (k == wanted || k == kind::barrier) {
            if (!keep) args = cells + f->prev;
            return;
        }
        --frame_top;
        restore_function(f);
        args = cells + f->prev;
    }
    args = top = cells;
}

void unwind_to_last(uint8_t wanted) {
    Cell* innermost = args;
    Cell result = *innermost;
    unwind_to(wanted, true);
    *args = result;
    top = args + 1;
}

void set_body_flag(bool on) {
    Frame* f = frame_top - 1;
    f->header = on ? (f->header | kind::body_flag) : (f->header & ~kind::body_flag);
}

void set_interp_flag() { (frame_top - 1)->header |= kind::interp_flag; }

Frame* check_body_flag() {
    Frame* f = frame_top - 2;
    if (f < frames || (f->header & kind::body_flag)) return nullptr;
    f->header |= kind::body_flag;
    return f;
}

void clear_body_flag(Frame* frame) {
    if (frame) frame->header &= ~kind::body_flag;
}

Frame* top_frame() { return frame_top - 1; }

bool has_interp_frame(const Frame* start, bool one_only) {
    for (const Frame* f = (start ? start : frame_top) - 1; f >= frames; --f) {
        if (f->header & kind::interp_flag) return true;
        if (one_only) return false;
    }
    return false;
}

uint32_t depth() { return uint32_t(frame_top - frames) - 1; }

Cell get_call_word() {
    const Frame* f = (throw_origin ? throw_origin : frame_top) - 1;
    throw_origin = nullptr;
    for (; f > frames; --f)
        if (f->symbol && !anonymous(f->symbol)) return Cell{type::word, f->context, f->symbol, uint32_t(-1)};
    return *words::words.not_found;
}

std::vector<std::pair<Cell, int32_t>> active_calls() {
    std::vector<std::pair<Cell, int32_t>> calls;
    uint32_t base = uint32_t(args - cells);
    for (const Frame* f = frame_top - 1; f > frames; --f) {
        // a frame's own base is the one the frame opened above it recorded
        uint32_t own = f == frame_top - 1 ? base : (f + 1)->prev;
        if (!f->symbol || anonymous(f->symbol)) continue;
        calls.push_back({Cell{type::word, f->function ? f->function : context::global, f->symbol, uint32_t(-1)},
                         int32_t(own)});
    }
    return calls;
}

void trace_frames(Cell* block) {
    for (const Frame* f = frame_top - 1; f > frames; --f) {
        if (!f->symbol || anonymous(f->symbol)) continue;
        Cell w{type::word, f->function ? f->function : context::global, f->symbol, uint32_t(-1)};
        *series::bump_tail(alloc::buffer_of(block->payload2)) = w;
        Cell position;
        cell::set_integer(&position, int32_t(f->prev));
        *series::bump_tail(alloc::buffer_of(block->payload2)) = position;
    }
}

}  // namespace kel::stack
