// The environment routines over values and the evaluator's state: the
// 32-bit shifts, the colour and address tuples, the UTF-8 character count,
// the stack and frame probes (positions as cell counts from the argument
// stack's bottom, never addresses), the tracer and last-line-feed flags.
#include <algorithm>
#include <utility>
#include <vector>

#include "environment/routines.hpp"
#include "runtime/alloc.hpp"
#include "runtime/context.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/tuple.hpp"
#include "runtime/error.hpp"
#include "runtime/interp_trace.hpp"
#include "runtime/natives/entries.hpp"
#include "runtime/natives/system.hpp"
#include "runtime/stack.hpp"

namespace kel::environment {
namespace {

// shift with the refinement chosen: its index is the two arguments' count.
template <int Refinement>
uint32_t shift_by(const Call&) {
    int32_t refs[2] = {-1, -1};
    if (Refinement >= 0) refs[Refinement] = 2;
    return natives::shift(Call{false, refs});
}

// The components as tuple bytes; a negative one raises invalid-arg, and so,
// without wrap, does one above 255.
template <int N, bool Wrap>
uint32_t tuple_of(const Call&) {
    uint8_t bytes[N];
    for (int i = 0; i < N; ++i) {
        const Cell* c = stack::args + i;
        int32_t v = cell::integer(c);
        if (v < 0 || (!Wrap && v > 255)) error::fire(error::id::invalid_arg, c);
        bytes[i] = uint8_t(v & 0xFF);
    }
    tuple::box_bytes(stack::args, bytes, N);
    return 0;
}

// The UTF-8 characters from start's index to pos's: one step per lead byte
// and its continuation bytes, never past the tail.
uint32_t count_chars(const Call&) {
    const Cell* start = stack::args;
    const Cell* pos = stack::args + 1;
    if (!series::same_series(start, pos) || series::index_of(pos) < series::index_of(start))
        error::fire(error::id::invalid_arg, pos);
    SeriesBuffer* b = alloc::buffer_of(start->payload2);
    const uint8_t* head = b->data() + b->offset;
    int32_t total = series::total_length(start);
    int32_t at = series::clamped_index(start), end = std::min(series::index_of(pos), total);
    int32_t count = 0;
    while (at < end) {
        uint8_t lead = head[at];
        at += lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        ++count;
    }
    cell::set_integer(stack::args, count);
    return 0;
}

int32_t cells_below(const Cell* c) { return int32_t(c - stack::cells); }

uint32_t stack_size(const Call&) {
    cell::set_integer(stack::args, cells_below(stack::top));
    return 0;
}

uint32_t pick_stack(const Call&) {
    int32_t idx = cell::integer(stack::args);
    if (idx > 0 && idx < cells_below(stack::top)) *stack::args = stack::cells[idx - 1];
    else cell::set_none(stack::args);
    return 0;
}

uint32_t frame_index(const Call&) {
    cell::set_integer(stack::args, cells_below(stack::args));
    return 0;
}

uint32_t collect_calls(const Call&) {
    Cell* blk = stack::args;
    for (const auto& [word, position] : stack::active_calls()) {
        block::ks_append(blk, &word);
        Cell at;
        cell::set_integer(&at, position);
        block::ks_append(blk, &at);
    }
    return 0;
}

uint32_t tracing(const Call&) {
    cell::set_logic(stack::args, interp::tracer.on);
    return 0;
}

// Suspends or resumes the reports of an open tracing run; without one,
// tracing stays off.
uint32_t set_tracing(const Call&) {
    interp::tracer.on = cell::is(stack::args, type::logic) && stack::args->payload1 && interp::tracer.installed;
    cell::set_logic(stack::args, interp::tracer.on);
    return 0;
}

uint32_t last_lf(const Call&) {
    cell::set_logic(stack::args, natives::last_lf);
    return 0;
}

}  // namespace

void make_value_routines() {
    define_routine("shift-right", R"~(["Shift bits to the right" data [integer!] bits [integer!]])~", shift_by<-1>);
    define_routine("shift-left", R"~(["Shift bits to the left" data [integer!] bits [integer!]])~", shift_by<0>);
    define_routine("shift-logical", R"~(["Shift bits to the right (unsigned)" data [integer!] bits [integer!]])~",
                   shift_by<1>);
    define_routine("last-lf?", R"~(["Internal Use Only"])~", last_lf);
    define_routine("as-color", R"~(["Combine R, G and B values into a tuple" r [integer!] g [integer!] b [integer!]])~",
                   tuple_of<3, true>);
    define_routine("as-ipv4",
                   R"~(["Combine a, b, c and d values into a tuple" a [integer!] b [integer!] c [integer!] d [integer!]])~",
                   tuple_of<4, false>);
    define_routine(
        "as-rgba",
        R"~(["Combine R, G, B and A color components into a tuple" r [integer!] g [integer!] b [integer!] a [integer!]])~",
        tuple_of<4, false>);
    define_routine(
        "count-chars",
        R"~(["Count UTF-8 encoded characters between two positions in a binary series" start [binary!] pos [binary!] return: [integer!]])~",
        count_chars, type::integer);
    define_routine("stack-size?", "[return: [integer!]]", stack_size, type::integer);
    define_routine("pick-stack", "[idx [integer!]]", pick_stack);
    define_routine("frame-index?", "[return: [integer!]]", frame_index, type::integer);
    define_routine("collect-calls", "[blk [block!]]", collect_calls);
    define_routine("tracing?", "[]", tracing);
    define_routine("set-tracing", R"~(["Internal Use Only" on? [logic!]])~", set_tracing);
}

}  // namespace kel::environment
