#include "runtime/exits.hpp"

#include <cstdlib>
#include <cstring>
#include <string>

#include "runtime/actions.hpp"
#include "runtime/collector.hpp"
#include "runtime/context.hpp"
#include "runtime/cycles.hpp"
#include "runtime/datatype.hpp"
#include "runtime/datatypes/error.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/error.hpp"
#include "runtime/interp.hpp"
#include "runtime/interp_trace.hpp"
#include "runtime/platform/fatal.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"
#include "runtime/throws.hpp"

namespace kel {

namespace stack {
namespace {

// The arguments base of frame f: the arguments of the frame above it, or the
// current ones for the top frame.
Cell* own_base(const Frame* f) { return f + 1 < frame_top ? cells + (f + 1)->prev : args; }

void restore_function(const Frame* f) {
    if ((f->header & kind::mask) == kind::function && f->function)
        context::context_cell(f->function)->payload2 = f->saved;
}

// Pops every frame above f, restoring function contexts on the way.
void pop_above(const Frame* f) {
    while (frame_top - 1 > f) restore_function(--frame_top);
}

// The frame below the caller's own frame for which receives(frame) holds,
// or null when a barrier or the bottom comes first.
template <class Receives>
Frame* receiver(Receives receives) {
    for (Frame* f = frame_top - 2; f > frames; --f) {
        if ((f->header & kind::mask) == kind::barrier) return nullptr;
        if (receives(f)) return f;
    }
    return nullptr;
}

// Puts the carried value in the receiving frame's first argument and leaves
// the code pending for the natives on the way back to it.
uint32_t deliver(Frame* target, const Cell& value, uint32_t code) {
    Cell* base = own_base(target);
    pop_above(target);
    args = base;
    top = base;
    *base = value;
    return sys::record.throw_code = code;
}

// Tells the tracer of the error about to unwind, its frames still in
// place. The callback may raise and catch errors of its own: the pending
// record is kept aside meanwhile.
[[gnu::noinline]] void report_error() {
    static std::string id_text;
    error::Pending kept = error::pending;
    std::string id = kept.id ? kept.id : "";
    collector::RootCell value, a0, a1, a2;
    value.cell = kept.value;
    a0.cell = kept.args[0];
    a1.cell = kept.args[1];
    a2.cell = kept.args[2];
    Cell* kept_top = top;
    interp::trace_error(&value.cell);
    top = kept_top;
    error::pending = kept;
    id_text = id;
    error::pending.id = kept.id ? id_text.c_str() : nullptr;
    error::pending.value = value.cell;
    error::pending.args[0] = a0.cell;
    error::pending.args[1] = a1.cell;
    error::pending.args[2] = a2.cell;
}

}  // namespace

void throw_error() {
    Cell* kept_top = top;
    // Where it happened: the calling word, and the frame position from which
    // the call trace is taken.
    const Cell* e = &error::pending.value;
    if (frame_top - 1 > frames && cell::is(e, type::error)) {
        Cell where = get_call_word();
        error::set_where(e, &where);
        Cell* near = error::field_of(e, error::field::near);
        if (cell::is(near, type::none) && cell::is(&interp::current_block, type::block)) *near = interp::current_block;
        Cell* trace = error::field_of(e, error::field::stack);
        if (!cell::is(trace, type::block)) cell::set_integer(trace, int32_t(frame_top - frames));
    }
    if (interp::tracer.on) report_error();
    for (;;) {
        if (frame_top - 1 == frames) break;  // only the bottom record: nothing catches
        Frame* f = frame_top - 1;
        uint8_t k = f->header & kind::mask;
        Cell* base = own_base(f);
        --frame_top;
        restore_function(f);
        args = cells + f->prev;
        if (k == kind::try_ || k == kind::barrier) {
            top = kept_top < base ? base : kept_top;
            break;
        }
    }
    throws::throw_code(throws::error);
}

uint32_t throw_break(bool has_value, bool is_continue) {
    Frame* loop = receiver([](const Frame* f) { return (f->header & kind::mask) == kind::loop; });
    if (!loop) error::fire(is_continue ? error::id::continue_ : error::id::break_);
    Cell value;
    if (has_value && !is_continue) value = *args;
    else cell::set_unset(&value);
    return deliver(loop, value, is_continue ? throws::continue_ : throws::break_);
}

uint32_t throw_return(bool has_value) {
    Frame* body = receiver([](const Frame* f) { return (f->header & kind::body_flag) != 0; });
    if (!body) error::fire(error::id::return_);
    Cell value;
    if (has_value) value = *args;
    else cell::set_unset(&value);
    return deliver(body, value, has_value ? throws::return_ : throws::exit_);
}

uint32_t throw_user(uint32_t code) {
    if (!throw_origin) throw_origin = frame_top;
    Cell value = args[0], name = args[1];
    Frame* target = receiver([](const Frame* f) { return (f->header & kind::mask) == kind::catch_; });
    if (!target) error::fire(error::id::throw_, &value);
    Cell* base = own_base(target);
    pop_above(target);
    args = base;
    top = base;
    push(&value);
    push(&name);
    return sys::record.throw_code = code;
}

}  // namespace stack

namespace exits {

// A throw that was caught has no origin left to report.
void consume() {
    sys::record.throw_code = 0;
    stack::throw_origin = nullptr;
}

void raise_pending() { throws::throw_code(sys::record.throw_code); }

namespace {
const char* category_name(error::Category c) {
    static const char* names[] = {"Throw", "Note", "Syntax", "Script", "Math",
                                  "Access", "Reserved1", "Reserved2", "User", "Internal"};
    return names[int(c)];
}
}  // namespace

void form_pending(Cell* out) {
    const error::Pending& e = error::pending;
    if (cell::is(&e.value, type::error)) {
        Cell value = e.value;
        error::form(&value, out, nullptr, 2147483647);
        return;
    }
    // Before the catalog exists: the category and id as words.
    string::append_ascii(out, "*** ", 4);
    const char* category = category_name(e.category);
    string::append_ascii(out, category, std::strlen(category));
    string::append_ascii(out, " Error: ", 8);
    const char* id = e.id ? e.id : "unknown";
    string::append_ascii(out, id, std::strlen(id));
    for (int i = 0; i < e.arg_count; ++i) {
        string::append_ascii(out, " ", 1);
        const Cell* a = &e.args[i];
        if (datatype::handler(cell::type_of(a), action::form)) {
            actions::form(a, out, nullptr, 2147483647);
        } else if (const char* name = datatype::names[cell::type_of(a)].name) {
            string::append_ascii(out, name, std::strlen(name));
        }
    }
}

void report_uncaught() {
    // The report must not fail in turn: when the error cannot be formed,
    // its id is shown.
    std::string text = std::string("*** Error: ") + (error::pending.id ? error::pending.id : "unknown");
    if (symbol::table) {
        error::Pending raised = error::pending;
        collector::RootCell out;
        throws::protect(throws::error, [&] {
            string::make(&out.cell, 64);
            form_pending(&out.cell);
            text = string::to_utf8(&out.cell);
        });
        error::pending = raised;
    }
    os::report_fatal("Kel NoName App", text.c_str());
    std::exit(-2);
}

}  // namespace exits
}  // namespace kel
