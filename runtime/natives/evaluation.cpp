// do, reduce and compose: evaluation of values and blocks, and the building
// of blocks from evaluated parts; apply, a call with its arguments in a block.
//
// Blocks under construction live on the argument stack (in a native frame
// opened above the arguments) so that the collector sees them while the
// code they are built from runs. A value is evaluated as one expression by
// walking a one-cell block made for it; values that stand for themselves
// skip that.
//
// do/expand hands a block to the boot environment's preprocessor (its
// object's `expand`, with none as job) before evaluating it; files and urls
// are expanded by do-file itself.
//
// apply makes the call the interpreter would make, through the same call
// path, but takes the arguments from its block by its modes: in spec order
// with every refinement given as a truth value (/all), or the mandatory
// arguments followed by refinement! values, each with a truth value and then
// its own arguments. A missing argument is none; /safer takes each argument
// from one value of the block and skips, unevaluated, the arguments of an
// unused refinement.
#include <cstdint>

#include "runtime/actions.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/native.hpp"
#include "runtime/datatypes/object.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/context.hpp"
#include "runtime/error.hpp"
#include "runtime/call.hpp"
#include "runtime/interp.hpp"
#include "runtime/lexer/lexer.hpp"
#include "runtime/symbol.hpp"
#include "runtime/words.hpp"
#include "runtime/interp_trace.hpp"
#include "runtime/natives/control.hpp"
#include "runtime/natives/entries.hpp"
#include "runtime/stack.hpp"

namespace kel::natives {

namespace {

bool used(const Call& call, int i) { return call.refs[i] >= 0; }

bool callable(uint8_t t) {
    return t == type::function || t == type::native || t == type::action || t == type::op || t == type::routine;
}

// Values whose evaluation is the value itself.
bool inert(uint8_t t) {
    return !word::any_word_q(t) && t != type::paren && t != type::path && t != type::lit_path &&
           t != type::set_path && t != type::get_path && !callable(t);
}

// Evaluates the value as one expression and pushes the result.
uint32_t push_evaluated(const Cell& value) {
    if (inert(cell::type_of(&value))) {
        stack::push(&value);
        return 0;
    }
    Cell* code = stack::push_slot();
    cell::set_none(code);
    block::make_at(code, 1);
    block::ks_append(code, &value);
    NodeId node = series::node_of(code);
    uint32_t next = 0;
    if (uint32_t pending = guarded([&] { return interp::eval_expression(node, 0, 1, false, false, &next); }))
        return pending;
    *code = *stack::last();
    stack::pop(1);
    return 0;
}

// Puts what was built into a /into target: appended when out is a block! at
// its tail, else inserted at out's position by the insert action (which also
// keeps a hash!'s table). `values` is spliced, or put as one value with only.
void put_into(Cell* out, Cell* values, bool only) {
    if (cell::is(out, type::block) && series::ks_tail_q(out)) {
        if (only) block::ks_append(out, values);
        else block::ks_append_block(out, values);
        return;
    }
    Cell* target = stack::push(out);
    Cell* value = stack::push(values);
    actions::handler<actions::Insert>(cell::type_of(target), action::insert, target)(target, value, -1, only, 1,
                                                                                       false);
    stack::pop(2);
}

// Runs preprocessor/expand over the code, which it changes in place; the
// stack's top is left as it was.
uint32_t expand_directives(const Cell& code) {
    Cell pre_word = *context::find_or_add_global(symbol::make("preprocessor"));
    const Cell* pre = word::fetch(&pre_word);
    if (!cell::is(pre, type::object)) error::fire(error::id::no_value, &pre_word);
    Cell name{type::word, context::global, symbol::make("expand"), uint32_t(-1)};
    Cell fn = *object::get_word_value(pre, &name);
    Cell values[2] = {code, *shared::none()};
    Cell* top = stack::top;
    if (uint32_t pending = guarded([&] { return call::with_values(fn, name, values, 2); })) return pending;
    stack::top = top;
    return 0;
}

}  // namespace

uint32_t do_(const Call& call) {
    enum { expand, args, next, trace };
    // /args only matters for scripts.
    Cell* base = stack::args;
    const Cell value = base[0];
    switch (cell::type_of(&value)) {
        case type::block:
        case type::paren:
        case type::hash: {
            if (used(call, expand))
                if (uint32_t pending = expand_directives(value)) return pending;
            if (used(call, trace) && !used(call, next)) {
                Cell block = value;
                cell::set_type(&block, type::block);
                Cell callback = base[call.refs[trace]];
                if (uint32_t pending = guarded([&] { return interp::trace_block(&callback, &block); }))
                    return pending;
                stack::keep();
                return 0;
            }
            if (!used(call, next)) return eval_into_result(&value);
            NodeId code = series::node_of(&value);
            uint32_t pos = uint32_t(series::clamped_index(&value));
            uint32_t end = uint32_t(series::total_length(&value));
            stack::top = base + call.refs[next] + 1;
            if (pos < end) {
                if (uint32_t pending =
                        guarded([&] { return interp::eval_expression(code, pos, end, false, false, &pos); }))
                    return pending;
            } else {
                cell::set_unset(stack::push_slot());
            }
            Cell position = value;
            series::set_index(&position, int32_t(pos));
            word::set(base + call.refs[next], &position);
            stack::set_result(stack::last());
            return 0;
        }
        case type::string: {
            // Loaded into a block and evaluated.
            stack::top = base + 1;
            Cell* code = stack::push_slot();
            cell::set_none(code);
            lexer::load(&value, -1, lexer::ScanOptions{}, code);
            Cell block = *code;
            if (used(call, expand))
                if (uint32_t pending = expand_directives(block)) return pending;
            return eval_into_result(&block);
        }
        case type::file:
        case type::url: {
            // Run as a script by the boot environment's do-file.
            Cell runner = *context::find_or_add_global(symbol::make("do-file"));
            const Cell* fn = word::fetch(&runner);
            if (cell::is(fn, type::unset)) error::fire(error::id::no_value, &runner);
            Cell values[3] = {value, Cell{type::none, 0, 0, 0}, Cell{type::none, 0, 0, 0}};
            if (used(call, args)) values[2] = base[call.refs[args]];
            Cell callable = *fn;
            stack::top = base + 1;
            if (uint32_t pending = guarded([&] { return call::with_values(callable, runner, values, 3); }))
                return pending;
            stack::set_result(stack::last());
            return 0;
        }
        case type::error:
            error::fire_value(&value);
        default: {
            stack::top = base + 1;
            if (uint32_t pending = push_evaluated(value)) return pending;
            stack::set_result(stack::last());
            return 0;
        }
    }
}

uint32_t reduce(const Call& call) {
    enum { into_ };
    Cell* base = stack::args;
    const Cell value = base[0];
    int32_t into = call.refs[into_];
    if (!cell::is(&value, type::block)) {
        stack::top = base + 1 + (into >= 0);
        if (callable(cell::type_of(&value))) stack::push(&value);
        else if (uint32_t pending = push_evaluated(value)) return pending;
        if (into < 0) {
            stack::set_result(stack::last());
            return 0;
        }
        Cell out = base[into];
        put_into(base + into, stack::last(), true);
        stack::set_result(&out);
        return 0;
    }
    NodeId code = series::node_of(&value);
    uint32_t pos = uint32_t(series::clamped_index(&value));
    stack::mark_native(nullptr);
    Cell* frame = stack::args;
    Cell* result = stack::push_slot();
    cell::set_none(result);
    block::make_at(result, series::length_from(&value));
    while (pos < uint32_t(series::total_length(&value))) {
        stack::top = frame + 1;
        uint32_t end = uint32_t(series::total_length(&value));
        if (uint32_t pending =
                guarded([&] { return interp::eval_expression(code, pos, end, false, false, &pos); }))
            return pending;
        cell::clear_newline(frame + 1);
        block::ks_append(result, frame + 1);
    }
    stack::top = frame + 1;
    if (into >= 0) put_into(base + into, result, false);
    Cell r = into >= 0 ? base[into] : *result;
    stack::unwind_drop();
    stack::set_result(&r);
    return 0;
}

namespace {

// Pushes a new block composed from the source block; answers the pending
// exit code.
uint32_t compose_block(const Cell& source, bool deep, bool only) {
    Cell* out = stack::push_slot();
    cell::set_none(out);
    block::make_at(out, series::length_from(&source));
    for (int32_t i = series::clamped_index(&source); i < series::total_length(&source); ++i) {
        Cell c = *block::ks_abs_at(&source, i);
        switch (cell::type_of(&c)) {
            case type::block:
                if (deep) {
                    if (uint32_t pending = compose_block(c, deep, only)) return pending;
                    Cell* nested = stack::last();
                    nested->header |= c.header & cell::newline_flag;
                    block::ks_append(out, nested);
                    stack::pop(1);
                } else {
                    block::ks_append(out, &c);
                }
                break;
            case type::paren: {
                if (series::length_from(&c) == 0) break;
                cell::set_type(&c, type::block);
                if (uint32_t pending = guarded([&] { return interp::eval_block(&c, false); })) return pending;
                Cell* r = stack::last();
                if (cell::is(r, type::block) && !only) block::ks_append_block(out, r);
                else if (!cell::is(r, type::unset)) block::ks_append(out, r);
                stack::pop(1);
                break;
            }
            default:
                block::ks_append(out, &c);
        }
    }
    return 0;
}

}  // namespace

uint32_t compose(const Call& call) {
    enum { deep, only, into };
    Cell* base = stack::args;
    const Cell value = base[0];
    if (!cell::is(&value, type::block)) {
        Cell kind, wanted;
        cell::set_datatype(&kind, cell::type_of(&value));
        cell::set_datatype(&wanted, type::block);
        error::fire(error::id::expect_val, &kind, &wanted);
    }
    stack::mark_native(nullptr);
    if (uint32_t pending = compose_block(value, used(call, deep), used(call, only))) return pending;
    Cell* result = stack::last();
    if (used(call, into)) put_into(base + call.refs[into], result, false);
    Cell r = used(call, into) ? base[call.refs[into]] : *result;
    stack::unwind_drop();
    stack::set_result(&r);
    return 0;
}

// ---- apply

namespace {

// Refinement! values, in any order, each followed by its truth value and
// its own arguments.
uint32_t refine_by_marks(call::Frame& f, call::Block& s) {
    while (!s.at_end()) {
        Cell r = s.peek();
        if (!cell::is(&r, type::refinement)) error::fire(error::id::invalid_arg, &r);
        ++s.pos;
        uint32_t index = call::find_refinement(f, symbol::resolve(word::symbol(&r)));
        if (index == call::no_refinement) error::fire(error::id::no_refine, &f.name, &r);
        bool on;
        if (uint32_t pending = s.truth(&on)) return pending;
        if (uint32_t pending = call::refine(f, index, on, s, r)) return pending;
    }
    return 0;
}

}  // namespace

uint32_t apply(const Call& call) {
    enum { all, safer };
    Cell* base = stack::args;  // func, args
    Cell fn = base[0], name = *words::words.applied;
    if (cell::is(&fn, type::word)) {
        name = fn;
        fn = *word::fetch_bound(&name);
    } else if (cell::is(&fn, type::path)) {
        // A path stands for its head word's value.
        Cell head = series::length_from(&fn) ? *block::ks_abs_at(&fn, series::clamped_index(&fn)) : fn;
        if (!cell::is(&head, type::word)) error::fire(error::id::invalid_arg, base);
        name = head;
        fn = *word::fetch_bound(&head);
    }
    if (cell::is(&fn, type::op)) fn = op::callable_of(&fn);
    if (!call::callable(cell::type_of(&fn))) error::fire(error::id::invalid_arg, base);
    stack::top = base + 2;
    call::Frame f;
    call::open(f, fn, name);
    call::Block s{base + 1, uint32_t(series::clamped_index(base + 1)), used(call, safer), !used(call, all)};
    uint32_t pending = call::fetch_arguments(f, s);
    if (!pending) pending = used(call, all) ? call::refine_all(f, s) : refine_by_marks(f, s);
    if (pending) return pending;
    if (!s.at_end()) {
        Cell extra = s.peek();
        error::fire(error::id::invalid_arg, &extra);
    }
    if ((pending = guarded([&] { return call::run(f); }))) return pending;
    Cell result = call::close(f);
    stack::set_result(&result);
    return 0;
}

}  // namespace kel::natives
