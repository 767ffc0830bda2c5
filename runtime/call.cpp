#include "runtime/call.hpp"

#include <array>

#include "runtime/actions.hpp"
#include "runtime/context.hpp"
#include "runtime/datatype.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/function.hpp"
#include "runtime/datatypes/native.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/error.hpp"
#include "runtime/exits.hpp"
#include "runtime/interp.hpp"
#include "runtime/interp_trace.hpp"
#include "runtime/natives/control.hpp"
#include "runtime/natives/natives.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"
#include "runtime/system.hpp"
#include "runtime/throws.hpp"
#include "runtime/words.hpp"

namespace kel::call {

using interp::report;
using interp::tracer;
namespace event = interp::event;

namespace {

constexpr uint32_t class_shift = 20;
enum : uint32_t { evaluated, as_is, literal };

uint32_t class_of(const Cell* typeset) { return (typeset->header >> class_shift) & 3; }

// The refinement indices of a call whose refinements are all unused.
constexpr std::array<int32_t, max_refinements> unused_refinements = [] {
    std::array<int32_t, max_refinements> a{};
    a.fill(-1);
    return a;
}();

bool argument_word(const Cell* c) {
    uint8_t t = cell::type_of(c);
    return t == type::word || t == type::get_word || t == type::lit_word;
}

const Cell* spec_at(const Frame& f, uint32_t i) { return series::cells_of(f.spec) + i; }

[[noreturn]] void fire_expect_arg(const Frame& f, const Cell* value, const Cell* word) {
    Cell kind, argument = *word;
    cell::set_datatype(&kind, cell::type_of(value));
    cell::set_type(&argument, type::word);
    error::fire(error::id::expect_arg, &f.name, &kind, &argument);
}

// The argument just pushed against the spec entry at i (its word; its
// typeset follows).
void check_type(const Frame& f, uint32_t i) {
    const Cell* entry = spec_at(f, i);
    if (cell::typeset_has(entry + 1, cell::type_of(stack::last()))) [[likely]] return;
    fire_expect_arg(f, stack::last(), entry);
}

// ---- parsed specs

// Marks (in payload 3 of the cached cell) a parsed spec made while one of its
// type words had no value yet: it admits everything in that argument.
constexpr uint32_t unsettled = 1;

// The types a type block admits: datatypes and typesets by value, type names
// by their name while the words have no values yet; anything unknown admits
// everything. Answers false when something was unknown.
bool add_types(Cell* typeset, const Cell* types) {
    bool known_all = true;
    NodeId node = series::node_of(types);
    for (uint32_t i = uint32_t(series::index_of(types)); i < series::cell_count(node); ++i) {
        Cell t = series::cells_of(node)[i];
        if (cell::is(&t, type::word) && word::context_of(&t)) {
            const Cell* v = word::fetch(&t);
            if (cell::is(v, type::datatype) || cell::is(v, type::typeset)) t = *v;
        }
        if (cell::is(&t, type::datatype)) {
            cell::typeset_add(typeset, cell::datatype(&t));
        } else if (cell::is(&t, type::typeset)) {
            typeset->payload1 |= t.payload1;
            typeset->payload2 |= t.payload2;
            typeset->payload3 |= t.payload3;
        } else if (cell::is(&t, type::word)) {
            std::string_view name = symbol::name(word::symbol(&t));
            bool known = false;
            for (int k = 1; k < type::count; ++k)
                if (datatype::names[k].name && name == datatype::names[k].name) {
                    cell::typeset_add(typeset, uint8_t(k));
                    known = true;
                }
            if (!known) {
                typeset->payload1 = typeset->payload2 = typeset->payload3 = ~0u;
                known_all = false;
            }
        }
    }
    return known_all;
}

Cell everything_but_unset() {
    Cell ts{type::typeset, ~0u, ~0u, ~0u};
    reinterpret_cast<uint8_t*>(&ts.payload1)[type::unset >> 3] &= uint8_t(~(0x80 >> (type::unset & 7)));
    return ts;
}

// settled: every type word was known.
NodeId build_parsed_spec(NodeId spec, bool* settled) {
    *settled = true;
    NodeId out = alloc::alloc_cells(series::cell_count(spec) * 2 + 1);
    auto append = [&](const Cell& c) { *series::bump_tail(alloc::buffer_of(out)) = c; };
    auto at = [&](uint32_t i) { return series::cells_of(spec)[i]; };
    uint32_t refinements = 0, locals = 0;
    for (uint32_t i = 0; i < series::cell_count(spec); ++i) {
        Cell c = at(i);
        uint8_t t = cell::type_of(&c);
        if (t == type::word || t == type::get_word || t == type::lit_word) {
            Cell ts{type::typeset, 0, 0, 0};
            Cell types = i + 1 < series::cell_count(spec) ? at(i + 1) : Cell{type::none, 0, 0, 0};
            if (cell::is(&types, type::block) &&
                series::cell_count(series::node_of(&types)) > uint32_t(series::index_of(&types))) {
                if (!add_types(&ts, &types)) *settled = false;
            } else {
                ts = everything_but_unset();
            }
            uint32_t cls = t == type::word ? evaluated : t == type::get_word ? as_is : literal;
            ts.header |= cls << class_shift;
            append(c);
            append(ts);
        } else if (t == type::set_word) {
            if (word::symbol(&c) != words::symbols.return_) error::fire(error::id::bad_func_def, &c);
        } else if (t == type::refinement) {
            if (word::symbol(&c) == word::symbol(words::refinements.local)) {
                // Locals are not arguments: counted, up to a set-word or the
                // end, with one more slot for /local itself.
                uint32_t j = i + 1;
                locals = 1;
                for (; j < series::cell_count(spec) && !cell::is(&series::cells_of(spec)[j], type::set_word); ++j)
                    if (cell::is(&series::cells_of(spec)[j], type::word)) ++locals;
                i = j;
                continue;
            }
            c.payload3 = ++refinements;
            append(c);
        }
    }
    Cell count;
    cell::set_integer(&count, int32_t(refinements));
    count.payload3 = locals;
    append(count);
    return out;
}

// The stack slot of the parsed-spec entry at i in a function's frame: one
// slot per argument and per refinement, in spec order.
uint32_t function_slot(const Frame& f, uint32_t i) {
    uint32_t slot = 0;
    for (uint32_t k = 0; k < i; ++k, ++slot)
        if (argument_word(spec_at(f, k))) ++k;
    return slot;
}

// ---- the sources

bool exhausted(const Code& s) { return s.pos >= s.end; }
bool exhausted(const Block& s) { return s.exhausted(); }
bool exhausted(const Values& s) { return s.next >= s.count; }

// Pushes the next argument of the class.
uint32_t take(Code& s, uint32_t cls) {
    if (cls == evaluated) {
        // A value that stands for itself with no word after it (that could
        // be an infix op) is its own result: pushed without a walk, unless a
        // tracer would see the walk. An issue may open system code.
        const Cell* c = series::cells_of(s.code) + s.pos;
        if (interp::stands_for_itself(cell::type_of(c)) && !cell::is(c, type::issue) && !tracer.on &&
            (s.no_infix || s.pos + 1 >= s.end || !cell::is(c + 1, type::word))) {
            stack::push(c);
            ++s.pos;
            return 0;
        }
        return interp::eval_expression(s.code, s.pos, s.end, s.no_infix, false, &s.pos);
    }
    Cell c = series::cells_of(s.code)[s.pos++];
    if (cls == literal) {
        if (cell::is(&c, type::paren)) {
            cell::set_type(&c, type::block);
            return interp::eval_block(&c, false);
        }
        if (cell::is(&c, type::get_word)) c = *word::fetch_bound(&c);
    }
    stack::push(&c);
    return 0;
}

uint32_t take(Block& s, uint32_t cls) {
    using natives::guarded;
    if (cls == evaluated && !s.safer) {
        uint32_t end = uint32_t(series::total_length(s.block));
        NodeId code = series::node_of(s.block);
        return guarded([&] { return interp::eval_expression(code, s.pos, end, false, false, &s.pos); });
    }
    Cell c = s.peek();
    ++s.pos;
    if (cls != as_is) {
        if (cell::is(&c, type::paren)) {
            cell::set_type(&c, type::block);
            return guarded([&] { return interp::eval_block(&c, false); });
        }
        if (cell::is(&c, type::get_word)) {
            c = *word::fetch_bound(&c);
        } else if (cls == evaluated && cell::is(&c, type::word)) {
            Cell word = c;
            c = *word::fetch_bound(&word);
            if (cell::is(&c, type::unset)) error::fire(error::id::no_value, &word);
        }
    }
    stack::push(&c);
    return 0;
}

uint32_t take(Values& s, uint32_t) {
    stack::push(s.values + s.next++);
    return 0;
}

// A missing argument (spec entry at i): code raises no-arg, but a literal
// argument that admits unset! takes unset; apply and values give none.
void missing(const Frame& f, const Code&, uint32_t i) {
    const Cell* entry = spec_at(f, i);
    if (class_of(entry + 1) == literal && cell::typeset_has(entry + 1, type::unset)) {
        cell::set_unset(stack::push_slot());
        return;
    }
    Cell argument = *entry;
    cell::set_type(&argument, type::word);
    error::fire(error::id::no_arg, &f.name, &argument);
}
void missing(const Frame&, const Block&, uint32_t) { cell::set_none(stack::push_slot()); }
void missing(const Frame&, const Values&, uint32_t) { cell::set_none(stack::push_slot()); }

// Code evaluates the arguments of an unused refinement (and drops them);
// apply passes over them: skipped with safer, else evaluated and dropped.
constexpr bool evaluates_unused(const Code&) { return true; }
constexpr bool evaluates_unused(const Block&) { return false; }
constexpr bool evaluates_unused(const Values&) { return false; }

uint32_t pass_over(Block& s, uint32_t cls) {
    if (s.exhausted()) return 0;
    if (s.safer) {
        ++s.pos;
        return 0;
    }
    Cell* kept = stack::top;
    uint32_t pending = take(s, cls);
    if (!pending) stack::top = kept;
    return pending;
}
uint32_t pass_over(Code&, uint32_t) { return 0; }  // never called: code evaluates them
uint32_t pass_over(Values& s, uint32_t) {
    if (s.next < s.count) ++s.next;
    return 0;
}

template <class Source>
uint32_t fetch(Frame& f, Source& s) {
    uint32_t i = 0;
    if (f.infix) {
        // The left operand is in place.
        check_type(f, 0);
        i = 2;
    }
    for (;; i += 2) {
        const Cell* entry = spec_at(f, i);
        if (!argument_word(entry)) break;
        if (exhausted(s)) missing(f, s, i);
        else if (uint32_t pending = take(s, class_of(entry + 1))) return pending;
        check_type(f, i);
    }
    if (!f.function || !cell::is(spec_at(f, i), type::refinement)) return 0;
    // A function's refinement slots start unused: false, and none for their
    // arguments.
    for (const Cell* entry = spec_at(f, i); !cell::is(entry, type::integer); ++entry) {
        if (cell::is(entry, type::refinement)) {
            cell::set_logic(stack::push_slot(), false);
        } else {
            cell::set_none(stack::push_slot());
            ++entry;
        }
    }
    return 0;
}

template <class Source>
uint32_t refine_from(Frame& f, uint32_t index, bool used, Source& s, const Cell& where) {
    uint32_t number = refinement_number(spec_at(f, index));
    if (number <= max_refinements) {  // seen holds a bit for each of those
        if (f.seen & (1u << (number - 1))) error::fire(error::id::dup_refine, &where);
        f.seen |= 1u << (number - 1);
    }
    uint32_t slot = f.function ? function_slot(f, index) : 0;
    if (f.function) {
        cell::set_logic(stack::args + slot, used);
    } else if (used) {
        // A native's or action's refinements are located by number, up to
        // the size of the call record.
        if (number > max_refinements) error::fire_not_done();
        if (!f.refined) std::copy(unused_refinements.begin(), unused_refinements.end(), f.refs);
        f.refined = true;
        f.refs[number - 1] = int32_t(stack::top - stack::args);
    }
    Cell* kept = stack::top;
    uint32_t argument = 0;
    for (uint32_t i = index + 1; argument_word(spec_at(f, i)); i += 2) {
        ++argument;
        uint32_t cls = class_of(spec_at(f, i) + 1);
        if (!used && !evaluates_unused(s)) {
            if (uint32_t pending = pass_over(s, cls)) return pending;
            continue;
        }
        if (exhausted(s)) missing(f, s, i);
        else if (uint32_t pending = take(s, cls)) return pending;
        check_type(f, i);
        if (f.function && used) {
            stack::args[slot + argument] = *stack::last();
            stack::pop(1);
        }
    }
    if (!used) stack::top = kept;  // evaluated and dropped
    return 0;
}

// ---- running

// A routine whose code is a plain machine function: every argument's type
// block must start with a word, which the argument must match unless it is
// any-type!; the result takes the routine's return type.
uint32_t run_routine(const Frame& f) {
    const Cell& fn = f.fn;
    Entry entry = routine::entry(uint32_t(cell::integer(function::more(&fn, function::More::native_entry))));
    if (!entry) sys::quit(101, KEL_CALLER_ADDRESS());
    if (!(fn.header & routine::maker_flag)) {
        NodeId source = function::spec_node(&fn);
        uint32_t argument = 0;
        for (uint32_t i = 0; i < series::cell_count(source); ++i) {
            Cell w = series::cells_of(source)[i];
            if (!argument_word(&w)) continue;
            Cell types = i + 1 < series::cell_count(source) ? series::cells_of(source)[i + 1] : Cell{type::none, 0, 0, 0};
            Cell first{type::none, 0, 0, 0};
            if (cell::is(&types, type::block)) {
                uint32_t head = uint32_t(series::index_of(&types));
                if (head < series::cell_count(series::node_of(&types))) first = series::cells_of(series::node_of(&types))[head];
            }
            if (!cell::is(&first, type::word)) error::fire(error::id::invalid_type_spec, &types);
            const Cell* value = stack::args + argument++;
            if (symbol::resolve(word::symbol(&first)) == symbol::resolve(words::symbols.any_type)) continue;
            Cell kind = word::context_of(&first) ? *word::fetch(&first) : first;
            bool ok = cell::is(&kind, type::typeset) ? cell::typeset_has(&kind, cell::type_of(value))
                      : cell::is(&kind, type::datatype) ? cell::datatype(&kind) == cell::type_of(value)
                                                        : true;
            if (!ok) fire_expect_arg(f, value, &w);
        }
    }
    if (uint32_t pending = entry(Call{false, nullptr})) return pending;
    switch (cell::integer(function::more(&fn, function::More::owner_or_result))) {
        case type::logic:  // a machine truth value: non-zero is true
            cell::set_logic(stack::args, cell::is(stack::args, type::integer) ? cell::integer(stack::args) != 0
                                                                               : natives::truthy(stack::args));
            break;
        case type::integer: if (!cell::is(stack::args, type::integer)) cell::set_integer(stack::args, 0); break;
        default: break;
    }
    return 0;
}

// Runs a function's body on its arguments: the stack slots of the frame are
// the values of its context for the call; return and exit end here. A body
// built ahead of time runs its entry of the routine table instead.
uint32_t run_function(const Frame& f) {
    const Cell& fn = f.fn;
    // The slot of /local itself is false, its words none.
    uint32_t locals = locals_count(spec_at(f, series::cell_count(f.spec) - 1));
    for (uint32_t i = 0; i < locals; ++i) {
        if (i == 0) cell::set_logic(stack::push_slot(), false);
        else cell::set_none(stack::push_slot());
    }
    // The frame keeps the context's previous values word and restores it.
    context::set_values(context::context_cell(function::context_of(&fn)), uint32_t(stack::args - stack::cells) + 1);
    const Cell* native = function::more(&fn, function::More::native_entry);
    uint32_t pending = 0;
    if (cell::is(native, type::integer) && cell::integer(native)) [[unlikely]] {
        Entry entry = routine::entry(uint32_t(cell::integer(native)));
        if (!entry) sys::quit(101, KEL_CALLER_ADDRESS());
        pending = entry(Call{false, nullptr});
    } else {
        stack::set_body_flag(true);
        // A function marked for tracing or not sets the flag for its body
        // only; any other leaves what its body set (trace on and off).
        bool kept_on = tracer.on;
        bool marked = fn.header & (function::no_trace_flag | function::trace_flag);
        if (fn.header & function::no_trace_flag) tracer.on = false;
        else if (fn.header & function::trace_flag) tracer.on = tracer.installed;
        if (tracer.on) {
            Cell name = stack::get_call_word();
            report(event::prolog, NodeId(0), -1, &name, nullptr);
        }
        Cell body = *function::more(&fn, function::More::body);
        if (cell::is(&body, type::block)) {
            pending = interp::eval_block(&body, true);
        } else {
            cell::set_none(stack::args);
            stack::keep();
        }
        if (!pending && tracer.on) {
            Cell name = stack::get_call_word();
            report(event::epilog, NodeId(0), -1, &name, stack::args);
        }
        if (marked) tracer.on = kept_on;
    }
    if (pending == throws::return_ || pending == throws::exit_) {
        exits::consume();
        pending = 0;
    }
    return pending;
}

}  // namespace

NodeId parsed_spec(const Cell* fn) {
    const Cell* cached = function::more(fn, function::More::parsed_spec);
    if (cell::is(cached, type::block)) [[likely]] return series::node_of(cached);
    bool settled;
    NodeId parsed = build_parsed_spec(function::spec_node(fn), &settled);
    *function::more(fn, function::More::parsed_spec) = Cell{type::block, 0, parsed, settled ? 0 : unsettled};
    return parsed;
}

void settle_parsed_specs(NodeId ctx) {
    NodeId values = context::values_of(context::context_cell(ctx));
    for (uint32_t i = 0; i < series::cell_count(values); ++i) {
        const Cell* v = series::cells_of(values) + i;
        if (!callable(cell::type_of(v))) continue;
        Cell* cached = function::more(v, function::More::parsed_spec);
        if (cell::is(cached, type::block) && cached->payload3 == unsettled) cell::set_none(cached);
    }
}

void open(Frame& f, const Cell& fn, const Cell& name) {
    f.fn = fn;
    f.name = name;
    f.function = cell::is(&fn, type::function);
    f.base = stack::push(&fn);  // kept safe on the stack during the call
    if (f.function) stack::mark_interp_func(&name, function::context_of(&fn));
    else stack::mark_interp_call(&name);
    f.spec = parsed_spec(&fn);
}

void open_infix(Frame& f, const Cell& fn, const Cell& name) {
    // The op is kept below the frame like any callable: its word may be set
    // to another value during the call. Its spec is parsed first, while the
    // left operand is still on the stack where the collector sees it.
    parsed_spec(&fn);
    Cell left = *stack::last();
    stack::top = stack::last();
    open(f, fn, name);
    f.infix = true;
    stack::push(&left);
}

bool Block::at_end() const { return pos >= uint32_t(series::total_length(block)); }
Cell Block::peek() const { return *block::ks_abs_at(block, int32_t(pos)); }
bool Block::exhausted() const {
    if (at_end()) return true;
    if (!marks) return false;
    Cell c = peek();
    return cell::is(&c, type::refinement);
}

uint32_t Block::truth(bool* on) {
    *on = false;
    if (exhausted()) return 0;
    if (uint32_t pending = take(*this, evaluated)) return pending;
    *on = natives::truthy(stack::last());
    stack::pop(1);
    return 0;
}

uint32_t Values::truth(bool* on) {
    *on = next < count && natives::truthy(values + next);
    if (next < count) ++next;
    return 0;
}

uint32_t fetch_arguments(Frame& f, Code& source) { return fetch(f, source); }
uint32_t fetch_arguments(Frame& f, Block& source) { return fetch(f, source); }
uint32_t fetch_arguments(Frame& f, Values& source) { return fetch(f, source); }

uint32_t find_refinement(const Frame& f, uint32_t symbol, uint32_t from) {
    for (uint32_t i = from, n = series::cell_count(f.spec); i < n; ++i) {
        const Cell* entry = spec_at(f, i);
        if (argument_word(entry)) ++i;
        else if (cell::is(entry, type::refinement) && (!symbol || symbol::resolve(word::symbol(entry)) == symbol))
            return i;
    }
    return no_refinement;
}

uint32_t refine(Frame& f, uint32_t index, bool used, Code& source, const Cell& where) {
    return refine_from(f, index, used, source, where);
}
uint32_t refine(Frame& f, uint32_t index, bool used, Block& source, const Cell& where) {
    return refine_from(f, index, used, source, where);
}

namespace {

template <class Source>
uint32_t refine_in_order(Frame& f, Source& s) {
    for (uint32_t r = find_refinement(f, 0); r != no_refinement; r = find_refinement(f, 0, r + 1)) {
        bool on;
        if (uint32_t pending = s.truth(&on)) return pending;
        if (uint32_t pending = refine_from(f, r, on, s, f.name)) return pending;
    }
    return 0;
}

}  // namespace

uint32_t refine_all(Frame& f, Block& source) { return refine_in_order(f, source); }
uint32_t refine_all(Frame& f, Values& source) { return refine_in_order(f, source); }

uint32_t run(Frame& f) {
    // The call carries the function; one with no name is named by itself.
    if (tracer.on)
        report(event::call, NodeId(0), -1, f.name.payload2 == words::words.anon->payload2 ? &f.fn : &f.name, &f.fn);
    Entry entry = nullptr;
    uint32_t index = native::entry_index(&f.fn);
    switch (cell::type_of(&f.fn)) {
        case type::function: return run_function(f);
        case type::routine: return run_routine(f);
        case type::action:
            if (index >= 1 && index <= uint32_t(action::count)) entry = actions::table[index - 1];
            break;
        default: entry = natives::entry(index); break;
    }
    // A native whose code is not built yet says so.
    if (!entry) error::fire_not_done();
    return entry(Call{false, f.refined ? f.refs : unused_refinements.data()});
}

Cell close(Frame& f) {
    Cell result = *stack::args;
    if (f.function) stack::unwind_func();
    else stack::unwind();
    stack::top = f.base;
    return result;
}

namespace {

uint32_t call_with(const Cell& fn, const Cell& name, const Cell* values, uint32_t n, bool all) {
    if (!callable(cell::type_of(&fn))) sys::quit(101, KEL_CALLER_ADDRESS());
    Frame f;
    open(f, fn, name);
    Values source{values, n};
    if (uint32_t pending = fetch_arguments(f, source)) return pending;
    if (all)
        if (uint32_t pending = refine_all(f, source)) return pending;
    if (uint32_t pending = run(f)) return pending;
    Cell result = close(f);
    stack::push(&result);
    return 0;
}

}  // namespace

uint32_t with_values(const Cell& fn, const Cell& name, const Cell* values, uint32_t n) {
    return call_with(fn, name, values, n, false);
}

uint32_t with_all_values(const Cell& fn, const Cell& name, const Cell* values, uint32_t n) {
    return call_with(fn, name, values, n, true);
}

}  // namespace kel::call
