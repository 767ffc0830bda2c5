// Conditionals, loops and exits. Each native keeps its arguments where the
// caller pushed them for the whole call: they hold the blocks it evaluates,
// so the collector sees them. A loop runs in a loop frame of its own opened
// above its arguments; that frame's first cell receives each value of the
// body, and a break's value when one ends the loop. catch and try work the
// same way with a catch, try or barrier frame.
#include "runtime/natives/control.hpp"

#include <cmath>
#include <cstdint>

#include "runtime/actions.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/context.hpp"
#include "runtime/datatypes/error.hpp"
#include "runtime/error.hpp"
#include "runtime/exits.hpp"
#include "runtime/interp.hpp"
#include "runtime/natives/entries.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"
#include "runtime/words.hpp"

namespace kel::natives {

bool truthy(const Cell* value) { return logic::cell_true_q(value, false); }

uint32_t eval_into_result(const Cell* block) {
    Cell code = *block;
    if (uint32_t pending = guarded([&] { return interp::eval_block(&code, true); })) return pending;
    stack::keep();
    return 0;
}

uint32_t close_with(const Cell& result) {
    stack::unwind_drop();
    stack::set_result(&result);
    return 0;
}

uint32_t close_with_value() {
    Cell result = *stack::args;
    return close_with(result);
}

Step loop_step(uint32_t code) {
    switch (code) {
        case 0: return Step::go_on;
        case throws::break_: exits::consume(); return Step::stop;
        case throws::continue_: exits::consume(); return Step::go_on;
        default: return Step::pass_on;
    }
}

uint32_t run_body(const Cell& body) {
    stack::top = stack::args;
    return eval_into_result(&body);
}

namespace {

bool used(const Call& call, int i) { return call.refs[i] >= 0; }

void set_none_result() {
    Cell none;
    cell::set_none(&none);
    stack::set_result(&none);
}

// A loop count: a float! is truncated toward zero; NaN counts as 0 and a
// value beyond the integer range as the largest integer.
int32_t loop_count(const Cell* count) {
    if (!cell::is(count, type::float_)) return cell::integer(count);
    double d = cell::real(count);
    if (std::isnan(d)) return 0;
    if (d >= 2147483647.0) return INT32_MAX;
    if (d <= -2147483648.0) return INT32_MIN;
    return int32_t(d);
}

}  // namespace

// ---- conditionals

uint32_t if_(const Call&) {
    if (truthy(stack::args)) return eval_into_result(stack::args + 1);
    set_none_result();
    return 0;
}

uint32_t unless(const Call&) {
    if (!truthy(stack::args)) return eval_into_result(stack::args + 1);
    set_none_result();
    return 0;
}

uint32_t either(const Call&) { return eval_into_result(stack::args + (truthy(stack::args) ? 1 : 2)); }

namespace {

// any and all: each expression's value is pushed above the block argument.
template <bool Any>
uint32_t any_all() {
    Cell* base = stack::args;
    Cell conds = base[0];
    NodeId code = series::node_of(&conds);
    uint32_t pos = uint32_t(series::clamped_index(&conds));
    bool seen = false;
    while (pos < uint32_t(series::total_length(&conds))) {
        stack::top = base + 1;
        uint32_t end = uint32_t(series::total_length(&conds));
        if (uint32_t pending =
                guarded([&] { return interp::eval_expression(code, pos, end, false, false, &pos); }))
            return pending;
        seen = true;
        if (truthy(base + 1) == Any) {
            if (Any) stack::set_result(base + 1);
            else set_none_result();
            return 0;
        }
    }
    if (Any || !seen) set_none_result();
    else stack::set_result(base + 1);
    return 0;
}

}  // namespace

uint32_t any(const Call&) { return any_all<true>(); }
uint32_t all(const Call&) { return any_all<false>(); }

uint32_t switch_(const Call& call) {
    enum { default_ };
    Cell* base = stack::args;
    const Cell value = base[0];
    const Cell cases = base[1];
    uint8_t t = cell::type_of(&value);
    // A block value is never compared: the blocks of cases are the bodies.
    if (t != type::block) {
        for (int32_t i = series::clamped_index(&cases); i < series::total_length(&cases); ++i) {
            Cell c = *block::ks_abs_at(&cases, i);
            if (cell::type_of(&c) != t || !actions::compare_star(&value, &c, 0)) continue;
            // The first block after the match; a match with none after it
            // selects nothing, and the result is none.
            for (int32_t j = i + 1; j < series::total_length(&cases); ++j) {
                Cell body = *block::ks_abs_at(&cases, j);
                if (cell::is(&body, type::block)) return eval_into_result(&body);
            }
            set_none_result();
            return 0;
        }
    }
    if (used(call, default_)) return eval_into_result(base + call.refs[default_]);
    set_none_result();
    return 0;
}

uint32_t case_(const Call& call) {
    enum { all_ };
    bool all = used(call, all_);
    const Cell cases = stack::args[0];
    NodeId code = series::node_of(&cases);
    stack::mark_native(nullptr);
    Cell* frame = stack::args;
    cell::set_none(stack::push_slot());  // frame[0]: the value of the last block that ran
    bool ran = false;
    uint32_t pos = uint32_t(series::clamped_index(&cases));
    auto length = [&] { return uint32_t(series::total_length(&cases)); };
    while (pos < length()) {
        ran = false;
        stack::top = frame + 1;
        uint32_t end = length();
        if (uint32_t pending =
                guarded([&] { return interp::eval_expression(code, pos, end, false, false, &pos); }))
            return pending;
        if (pos >= length()) {
            Cell name = *words::words.case_;
            error::fire(error::id::need_value, &name);
        }
        bool chosen = truthy(frame + 1);
        stack::top = frame + 1;
        if (!chosen) {
            ++pos;
            continue;
        }
        Cell item = *block::ks_abs_at(&cases, int32_t(pos));
        uint32_t pending;
        if (cell::is(&item, type::block)) {
            ++pos;
            pending = guarded([&] { return interp::eval_block(&item, false); });
        } else {
            end = length();
            pending = guarded([&] { return interp::eval_expression(code, pos, end, false, false, &pos); });
        }
        if (pending) return pending;
        frame[0] = frame[1];
        ran = true;
        if (!all) break;
    }
    if (ran) return close_with_value();
    Cell none;
    cell::set_none(&none);
    return close_with(none);
}

// ---- loops

uint32_t while_(const Call&) {
    const Cell cond = stack::args[0], body = stack::args[1];
    stack::mark_loop(nullptr);
    for (;;) {
        uint32_t code = run_body(cond);
        if (code == throws::break_ || code == throws::continue_) {
            exits::consume();
            error::fire(error::id::while_cond);
        }
        if (code) return code;
        if (!truthy(stack::args)) break;
        code = run_body(body);
        Step s = loop_step(code);
        if (s == Step::stop) break;
        if (s == Step::pass_on) return code;
    }
    Cell unset;
    cell::set_unset(&unset);
    return close_with(unset);
}

uint32_t until(const Call&) {
    const Cell body = stack::args[0];
    stack::mark_loop(nullptr);
    for (;;) {
        uint32_t code = run_body(body);
        if (code == throws::continue_) {
            exits::consume();
            continue;
        }
        Step s = loop_step(code);
        if (s == Step::stop) break;
        if (s == Step::pass_on) return code;
        if (truthy(stack::args)) break;
    }
    return close_with_value();
}

uint32_t loop(const Call&) {
    int32_t count = loop_count(stack::args);
    if (count < 1) {
        set_none_result();
        return 0;
    }
    const Cell body = stack::args[1];
    stack::mark_loop(nullptr);
    for (int32_t i = 0; i < count; ++i) {
        uint32_t code = run_body(body);
        Step s = loop_step(code);
        if (s == Step::stop) break;
        if (s == Step::pass_on) return code;
    }
    return close_with_value();
}

uint32_t repeat(const Call&) {
    Cell* base = stack::args;
    int32_t count = loop_count(base + 1);
    if (count < 1) {
        set_none_result();
        return 0;
    }
    if (!word::context_of(base)) {
        Cell w = base[0];
        error::fire(error::id::not_defined, &w);
    }
    const Cell body = base[2];
    stack::mark_loop(nullptr);
    for (int64_t i = 1; i <= count; ++i) {
        // The counter is set through the word in its own context: it is not
        // made local, and keeps the last count after the loop.
        Cell n;
        cell::set_integer(&n, int32_t(i));
        word::set(base, &n);
        uint32_t code = run_body(body);
        Step s = loop_step(code);
        if (s == Step::stop) break;
        if (s == Step::pass_on) return code;
    }
    return close_with_value();
}

uint32_t forever(const Call&) {
    const Cell body = stack::args[0];
    stack::mark_loop(nullptr);
    for (;;) {
        uint32_t code = run_body(body);
        Step s = loop_step(code);
        if (s == Step::stop) break;
        if (s == Step::pass_on) return code;
    }
    return close_with_value();
}

// ---- exits

uint32_t break_(const Call& call) {
    enum { return_ };
    return stack::throw_break(used(call, return_), false);
}
uint32_t continue_(const Call&) { return stack::throw_break(false, true); }
uint32_t exit(const Call&) { return stack::throw_return(false); }
uint32_t return_(const Call&) { return stack::throw_return(true); }

uint32_t throw_(const Call& call) {
    enum { name_ };
    Cell* base = stack::args;
    Cell name;
    if (used(call, name_)) name = base[call.refs[name_]];
    else cell::set_unset(&name);
    stack::top = base + 1;
    stack::push(&name);
    return stack::throw_user(throws::throw_);
}

namespace {

// Whether a throw's name is one the /name refinement of catch accepts: the
// word itself, or any word of a block; names compare by canonical symbol.
bool name_matches(const Cell* names, const Cell* name) {
    bool named = word::any_word_q(cell::type_of(name)) && !cell::is(name, type::refinement);
    uint32_t wanted = named ? symbol::resolve(word::symbol(name)) : 0;
    if (!cell::is(names, type::block)) return named && symbol::resolve(word::symbol(names)) == wanted;
    bool found = false;
    for (int32_t i = series::clamped_index(names); i < series::total_length(names); ++i) {
        const Cell* w = block::ks_abs_at(names, i);
        if (!cell::is(w, type::word)) {
            Cell refinement = *words::words.catch_, block = *names;
            error::fire_bad_refinement(&refinement, &block);
        }
        found |= named && symbol::resolve(word::symbol(w)) == wanted;
    }
    return found;
}

const char* category_name(error::Category c) {
    static const char* names[] = {"throw", "note", "syntax", "script", "math",
                                  "access", "reserved1", "reserved2", "user", "internal"};
    return names[int(c)];
}

// The value try answers for a caught error, into out (a stack cell): the
// error! value. With /keep its call trace becomes a block; without, the
// frame position is dropped, since the frames it names are gone and later
// calls reuse their records. Before the catalog exists, a block of the
// category word, the id word and the error's arguments.
void error_value(Cell* out, bool keep) {
    const error::Pending& e = error::pending;
    if (cell::is(&e.value, type::error)) {
        *out = e.value;
        if (keep) error::set_stack_trace(out);
        else if (cell::is(error::field_of(out, error::field::stack), type::integer))
            cell::set_none(error::field_of(out, error::field::stack));
        return;
    }
    block::make_at(out, 2 + e.arg_count);
    word::make_at_tail(symbol::make(category_name(e.category)), out);
    word::make_at_tail(symbol::make(e.id ? e.id : "unknown"), out);
    for (int i = 0; i < error::pending.arg_count; ++i) block::ks_append(out, &error::pending.args[i]);
}

}  // namespace

uint32_t catch_(const Call& call) {
    enum { name };
    Cell* base = stack::args;
    const Cell body = base[0];
    stack::mark_catch(nullptr);
    uint32_t code = eval_into_result(&body);
    if (code == throws::throw_) {
        // The catch frame received the value and the name: args[0], args[1].
        if (used(call, name) && !name_matches(base + call.refs[name], stack::args + 1))
            return stack::throw_user(code);  // on to the next catch frame, value and name
        exits::consume();
    } else if (code) {
        return code;
    }
    return close_with_value();
}

uint32_t try_(const Call& call) {
    enum { all, keep };
    Cell* base = stack::args;
    const Cell body = base[0];
    // With /all, a barrier: every exit that would leave the block becomes an
    // error there, and comes back as the error.
    if (used(call, all)) stack::mark_barrier(nullptr);
    else stack::mark_try(nullptr);
    uint32_t code = 0;
    uint32_t raised = throws::protect(throws::error, [&] { code = eval_into_result(&body); });
    if (raised) {
        if (raised != throws::error) throws::throw_code(raised);  // not a language error: not ours
        // The error unwound to the try frame and popped it: the current call
        // is this native's again.
        stack::args = base;
        stack::top = base + 1;
        error_value(base, used(call, keep));
        return 0;
    }
    if (code) return code;  // break, continue, return, exit and throw pass on
    return close_with_value();
}

}  // namespace kel::natives
