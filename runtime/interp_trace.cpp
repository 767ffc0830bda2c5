#include "runtime/interp_trace.hpp"

#include <exception>

#include "runtime/call.hpp"

#include "runtime/datatypes/function.hpp"
#include "runtime/error.hpp"
#include "runtime/exits.hpp"
#include "runtime/interp.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"
#include "runtime/system.hpp"
#include "runtime/words.hpp"

namespace kel::interp {

Tracer tracer;

namespace {

const Cell* event_word(uint32_t event) {
    const words::Words& w = words::words;
    switch (event) {
        case event::init: return w.init;
        case event::end: return w.end;
        case event::prolog: return w.prolog;
        case event::epilog: return w.epilog;
        case event::enter: return w.enter;
        case event::exit: return w.exit;
        case event::open: return w.open;
        case event::return_: return w.return_;
        case event::fetch: return w.fetch;
        case event::push: return w.push;
        case event::set: return w.set;
        case event::call: return w.call;
        case event::error: return w.error;
        case event::throw_: return w.throw_;
        case event::catch_: return w.catch_;
        default: return w.expr;
    }
}

// Calls the callback with tracing off; the stacks come back as they were.
// An exit the callback leaves pending (a throw, a break) goes on unwinding.
void call_callback(uint32_t event, const Cell& series, int32_t position, const Cell* reference,
                   const Cell* value) {
    Cell values[6];
    values[0] = *event_word(event);
    values[1] = series;
    cell::set_integer(&values[2], position);
    if (value && !cell::is(value, type::unset)) values[3] = *value;
    else cell::set_none(&values[3]);
    if (reference) values[4] = *reference;
    else cell::set_none(&values[4]);
    values[5] = Cell{type::pair, 0, uint32_t(stack::args - stack::cells), uint32_t(stack::top - stack::cells)};

    Cell* kept_top = stack::top;
    uint32_t kept_code = sys::record.throw_code;
    sys::record.throw_code = 0;
    tracer.on = false;
    uint32_t pending;
    try {
        pending = call::with_values(tracer.callback, *words::words.interp_callback, values, 6);
    } catch (...) {
        tracer.on = tracer.installed;
        throw;
    }
    tracer.on = tracer.installed;
    if (pending) exits::raise_pending();
    sys::record.throw_code = kept_code;
    stack::top = kept_top;
}

// Whether the event's reference is reported.
constexpr uint32_t with_reference = event::set | event::epilog | event::prolog | event::return_ | event::call;

}  // namespace

void report(uint32_t event, NodeId code, int32_t position, const Cell* reference, const Cell* value) {
    if (!tracer.on || !(tracer.mask & event)) return;
    Cell series;
    if (code) {
        series = Cell{type::block, 0, code, 0};
        if (position < 0 || uint32_t(position) > series::cell_count(code)) position = -1;
    } else {
        cell::set_none(&series);
        position = -1;
    }
    call_callback(event, series, position, event & with_reference ? reference : nullptr, value);
}

void report(uint32_t event, const Cell* series, uint32_t position, const Cell* reference, const Cell* value) {
    if (!tracer.on || !(tracer.mask & event)) return;
    Cell s = *series;
    s.payload1 = 0;
    int32_t at = position <= series::cell_count(s.payload2) ? int32_t(position) : -1;
    call_callback(event, s, at, event & with_reference ? reference : nullptr, value);
}

uint32_t check_header(const Cell* fn) {
    const Cell* body = function::body_of(fn);
    if (!cell::is(body, type::block) || body->payload1 >= series::cell_count(body->payload2)) return event::all;
    const Cell first = series::cells_of(body->payload2)[body->payload1];
    if (!cell::is(&first, type::block)) return event::all;
    uint32_t mask = 0;
    for (uint32_t i = first.payload1; i < series::cell_count(first.payload2); ++i) {
        const Cell w = series::cells_of(first.payload2)[i];
        if (!cell::is(&w, type::word)) continue;
        uint32_t wanted = symbol::resolve(w.payload2);
        for (uint32_t e = 1; e <= event::expr; e <<= 1)
            if (symbol::resolve(event_word(e)->payload2) == wanted) mask |= e;
    }
    return mask;
}

uint32_t trace_block(const Cell* callback, const Cell* block) {
    if (tracer.installed) return eval_block(block, true);
    tracer = Tracer{true, true, check_header(callback), *callback};
    Cell* base = stack::args;
    auto close = [] {
        report(event::end, NodeId(0), -1, nullptr, nullptr);
        tracer = Tracer{};
    };
    uint32_t pending;
    try {
        report(event::init, NodeId(0), -1, nullptr, nullptr);
        pending = eval_block(block, true);
        if (!pending) {
            Cell result = *base;
            close();
            *base = result;
            return 0;
        }
    } catch (...) {
        // The error's record stays as it was raised while the callback runs.
        error::Pending raised = error::pending;
        try {
            close();
        } catch (...) {
            tracer = Tracer{};
        }
        error::pending = raised;
        throw;
    }
    // An exit passing through has already put its value where it goes: the
    // run ends without a callback that could write over it.
    tracer = Tracer{};
    return pending;
}

void trace_throw(const Cell* value, const Cell* name) {
    if (tracer.on) report(event::throw_, NodeId(0), -1, name, value);
}

void trace_catch(const Cell* value) {
    if (tracer.on) report(event::catch_, NodeId(0), -1, nullptr, value);
}

void trace_error(const Cell* error) {
    if (tracer.on) report(event::error, NodeId(0), -1, nullptr, error);
}

}  // namespace kel::interp
