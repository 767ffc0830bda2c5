#include "runtime/interp.hpp"

#include <array>

#include "runtime/actions.hpp"
#include "runtime/context.hpp"
#include "runtime/cycles.hpp"
#include "runtime/platform/start.hpp"
#include "runtime/datatype.hpp"
#include "runtime/datatypes/function.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/native.hpp"
#include "runtime/datatypes/object.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/error.hpp"
#include "runtime/exits.hpp"
#include "runtime/natives/control.hpp"
#include "runtime/natives/natives.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"
#include "runtime/system.hpp"
#include "runtime/throws.hpp"
#include "runtime/interp_trace.hpp"
#include "runtime/typesets.hpp"
#include "runtime/words.hpp"

namespace kel::interp {

namespace {

constexpr uint32_t class_shift = 20;
constexpr uint32_t class_mask = 3u << class_shift;

Cell at(NodeId node, uint32_t i) { return series::cells_of(node)[i]; }

// The native stack is finite too: evaluation nested deeper than it allows
// raises stack-overflow as the stacks of values and frames do, well before
// the thread's guard page. Room kept for the error's own work: 256 KiB.
uintptr_t native_limit = 0;

void check_native_stack() {
    if (!native_limit) {
        uintptr_t low = os::stack_low();
        native_limit = low ? low + (256u << 10) : 1;
    }
    if (reinterpret_cast<uintptr_t>(__builtin_frame_address(0)) < native_limit) [[unlikely]] {
        cycles::reset();
        error::fire(error::id::stack_overflow);
    }
}

bool callable(uint8_t t) {
    return t == type::native || t == type::action || t == type::function || t == type::routine;
}

// Callables whose arguments fill one slot per spec entry (refinements
// included): the values of their context while they run.
bool slotted(uint8_t t) { return t == type::function; }

// The value of a word; a word bound to nothing is not defined.
Cell* fetch(const Cell* word) {
    if (!word::context_of(word)) error::fire(error::id::not_defined, word);
    return word::fetch(word);
}

// Places an expression's result: pushed, or into args[0] with the top above it.
void place(const Cell& value, bool push) {
    if (push) stack::push(&value);
    else stack::set_result(&value);
}

// ---- parsed specs

// The types a type block admits: datatypes and typesets by value, type names
// by their name while the words have no values yet; anything unknown admits
// everything.
void add_types(Cell* typeset, const Cell* types) {
    NodeId node = series::node_of(types);
    for (uint32_t i = uint32_t(series::index_of(types)); i < series::cell_count(node); ++i) {
        Cell t = at(node, i);
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
            if (!known) typeset->payload1 = typeset->payload2 = typeset->payload3 = ~0u;
        }
    }
}

Cell everything_but_unset() {
    Cell ts{type::typeset, ~0u, ~0u, ~0u};
    reinterpret_cast<uint8_t*>(&ts.payload1)[type::unset >> 3] &= uint8_t(~(0x80 >> (type::unset & 7)));
    return ts;
}

NodeId build_parsed_spec(NodeId spec) {
    NodeId out = alloc::alloc_cells(series::cell_count(spec) * 2 + 1);
    auto append = [&](const Cell& c) { *series::bump_tail(alloc::buffer_of(out)) = c; };
    uint32_t refinements = 0, locals = 0;
    for (uint32_t i = 0; i < series::cell_count(spec); ++i) {
        Cell c = at(spec, i);
        uint8_t t = cell::type_of(&c);
        if (t == type::word || t == type::get_word || t == type::lit_word) {
            Cell ts{type::typeset, 0, 0, 0};
            Cell types = i + 1 < series::cell_count(spec) ? at(spec, i + 1) : Cell{type::none, 0, 0, 0};
            if (cell::is(&types, type::block) &&
                series::cell_count(series::node_of(&types)) > uint32_t(series::index_of(&types))) {
                add_types(&ts, &types);
            } else {
                ts = everything_but_unset();
            }
            uint32_t cls = t == type::word ? 0 : t == type::get_word ? 1 : 2;
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

// ---- calls

// Per refinement of a native or action, the stack index of its first
// argument, -1 while unused. Entries past the spec's refinements stay -1, so
// an entry reading more refinements than its spec names sees them unused.
struct Refinements {
    std::array<int32_t, 32> index;
    uint32_t count = 0;
    Refinements() { index.fill(-1); }
};

// Pushes one argument by its class; answers the pending code.
uint32_t fetch_argument(NodeId code, uint32_t& pos, uint32_t end, uint32_t cls, bool no_infix) {
    Cell c = at(code, pos);
    if (cls == 0) return eval_expression(code, pos, end, no_infix, true, false, &pos);
    ++pos;
    if (cls == 2) {
        if (cell::is(&c, type::paren)) {
            Cell block = c;
            cell::set_type(&block, type::block);
            return eval_block(&block, false);
        }
        if (cell::is(&c, type::get_word)) c = *fetch(&c);
    }
    stack::push(&c);
    return 0;
}

void check_type(const Cell& typeset, const Cell* value, const Cell& name, const Cell& word) {
    if (cell::typeset_has(&typeset, cell::type_of(value))) return;
    Cell kind;
    cell::set_datatype(&kind, cell::type_of(value));
    Cell argument = word;
    cell::set_type(&argument, type::word);
    error::fire(error::id::expect_arg, &name, &kind, &argument);
}

// The stack slot of the parsed-spec entry at i in a function's frame: one
// slot per argument and per refinement, in spec order.
uint32_t function_slot(NodeId spec, uint32_t i) {
    uint32_t slot = 0;
    for (uint32_t k = 0; k < i; ++k) {
        Cell s = at(spec, k);
        if (cell::is(&s, type::refinement)) ++slot;
        else if (cell::is(&s, type::word) || cell::is(&s, type::get_word) || cell::is(&s, type::lit_word)) ++slot, ++k;
    }
    return slot;
}

uint32_t eval_body(const Cell& fn, NodeId spec);

// A routine whose code is a plain machine function: every argument's type
// block must start with a word, which the argument must match unless it is
// any-type!; the result takes the routine's return type.
uint32_t call_routine(const Cell& fn, NodeId spec, const Cell& name) {
    Entry entry = routine::entry(uint32_t(cell::integer(function::more(&fn, function::More::native_entry))));
    if (!entry) sys::quit(101, KEL_CALLER_ADDRESS());
    if (!(fn.header & routine::maker_flag)) {
        NodeId source = function::spec_node(&fn);
        uint32_t argument = 0;
        for (uint32_t i = 0; i < series::cell_count(source); ++i) {
            Cell w = at(source, i);
            if (!cell::is(&w, type::word) && !cell::is(&w, type::get_word) && !cell::is(&w, type::lit_word)) continue;
            Cell types = i + 1 < series::cell_count(source) ? at(source, i + 1) : Cell{type::none, 0, 0, 0};
            Cell first{type::none, 0, 0, 0};
            if (cell::is(&types, type::block)) {
                uint32_t head = uint32_t(series::index_of(&types));
                if (head < series::cell_count(series::node_of(&types))) first = at(series::node_of(&types), head);
            }
            if (!cell::is(&first, type::word)) error::fire(error::id::invalid_type_spec, &types);
            const Cell* value = stack::args + argument++;
            if (symbol::resolve(word::symbol(&first)) == symbol::resolve(words::symbols.any_type)) continue;
            Cell kind = word::context_of(&first) ? *word::fetch(&first) : first;
            bool ok = cell::is(&kind, type::typeset) ? cell::typeset_has(&kind, cell::type_of(value))
                      : cell::is(&kind, type::datatype) ? cell::datatype(&kind) == cell::type_of(value)
                                                        : true;
            if (!ok) {
                Cell got, arg = w;
                cell::set_datatype(&got, cell::type_of(value));
                cell::set_type(&arg, type::word);
                error::fire(error::id::expect_arg, &name, &got, &arg);
            }
        }
    }
    (void)spec;
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

// Runs a callable whose arguments are fetched (a native's or action's
// refinements by the table refs).
uint32_t run(const Cell& fn, NodeId spec, Refinements& refs, const Cell& name) {
    if (tracer.on) report(event::call, NodeId(0), -1, &name, nullptr);
    uint8_t kind = cell::type_of(&fn);
    if (kind == type::function) return eval_body(fn, spec);
    if (kind == type::routine) return call_routine(fn, spec, name);
    Entry entry = nullptr;
    uint32_t index = native::entry_index(&fn);
    if (kind == type::action && index >= 1 && index <= uint32_t(action::count))
        entry = actions::table[index - 1];
    else if (kind == type::native)
        entry = natives::entry(index);
    // A native whose code is not built yet says so.
    if (!entry) error::fire_not_done();
    return entry(Call{false, refs.index.data()});
}

// Makes the refinements named by path elements from `from` on active, in
// path order, and fetches their arguments after the mandatory ones.
uint32_t path_refinements(NodeId spec, Refinements& refs, const Cell& name, const Cell* path, uint32_t from,
                          NodeId code, uint32_t& pos, uint32_t end, bool function) {
    NodeId elements = series::node_of(path);
    for (uint32_t e = from; e < series::cell_count(elements); ++e) {
        Cell element = at(elements, e);
        bool get = cell::is(&element, type::get_word);
        if (!get && !cell::is(&element, type::word)) error::fire(error::id::bad_refine, &element);
        uint32_t wanted = symbol::resolve(word::symbol(&element));
        uint32_t i = 0, n = series::cell_count(spec);
        for (; i < n; ++i) {
            Cell s = at(spec, i);
            if (cell::is(&s, type::refinement) && symbol::resolve(word::symbol(&s)) == wanted) break;
        }
        if (i == n) error::fire(error::id::no_refine, &name, &element);
        Cell refinement = at(spec, i);
        int32_t& slot = refs.index[refinement_number(&refinement) - 1];
        if (slot >= 0) error::fire(error::id::dup_refine, path);
        bool active = true;
        if (get) {
            const Cell* v = fetch(&element);
            if (cell::is(v, type::unset)) error::fire(error::id::no_value, &element);
            active = !(cell::is(v, type::none) || (cell::is(v, type::logic) && !cell::logic(v)));
        }
        Cell* kept_top = stack::top;
        if (active) slot = int32_t(stack::top - stack::args);
        // A function's slots stay in spec order: the refinement's slot and
        // then its arguments' slots.
        uint32_t slot_of_refinement = function ? function_slot(spec, i) : 0;
        if (function && active) cell::set_logic(stack::args + slot_of_refinement, true);
        uint32_t argument = 0;
        for (++i; i + 1 < n; i += 2) {
            Cell w = at(spec, i);
            if (!cell::is(&w, type::word) && !cell::is(&w, type::get_word) && !cell::is(&w, type::lit_word)) break;
            Cell ts = at(spec, i + 1);
            if (pos >= end) {
                Cell argument = w;
                cell::set_type(&argument, type::word);
                error::fire(error::id::no_arg, &name, &argument);
            }
            uint32_t cls = (ts.header & class_mask) >> class_shift;
            if (uint32_t pending = fetch_argument(code, pos, end, cls, false)) return pending;
            check_type(ts, stack::last(), name, w);
            ++argument;
            if (function && active) {
                stack::args[slot_of_refinement + argument] = *stack::last();
                stack::pop(1);
            }
        }
        if (!active) stack::top = kept_top;  // evaluated and dropped
    }
    return 0;
}

// Calls a native, action or op value whose frame is open; args are fetched
// from the code at *pos, refinements named by the path from element `from`.
uint32_t call_entry(const Cell& fn, const Cell& name, NodeId code, uint32_t& pos, uint32_t end, bool left_done,
                    const Cell* path = nullptr, uint32_t from = 0) {
    NodeId spec = parsed_spec(&fn);
    bool function = cell::is(&fn, type::function);
    Refinements refs;
    bool active = true;
    for (uint32_t i = 0, n = series::cell_count(spec); i < n; ++i) {
        Cell s = at(spec, i);
        uint8_t t = cell::type_of(&s);
        if (t == type::refinement) {
            active = false;
            refs.index[refs.count++] = -1;
            if (function) stack::push(shared::logic(false));
            continue;
        }
        if (t != type::word && t != type::get_word && t != type::lit_word) continue;
        Cell ts = at(spec, ++i);
        if (!active) {
            if (function) stack::push(shared::none());
            continue;
        }
        uint32_t cls = (ts.header & class_mask) >> class_shift;
        if (left_done && stack::top - stack::args == 1 && i == 1) {
            check_type(ts, stack::args, name, s);
            continue;
        }
        if (pos >= end) {
            if (cls == 2 && cell::typeset_has(&ts, type::unset)) {
                Cell u;
                cell::set_unset(&u);
                stack::push(&u);
                continue;
            }
            Cell argument = s;
            cell::set_type(&argument, type::word);
            error::fire(error::id::no_arg, &name, &argument);
        }
        if (uint32_t code_pending = fetch_argument(code, pos, end, cls, left_done)) return code_pending;
        check_type(ts, stack::last(), name, s);
    }
    if (path)
        if (uint32_t pending = path_refinements(spec, refs, name, path, from, code, pos, end, function))
            return pending;
    return run(fn, spec, refs, name);
}

// Runs a function's body on its arguments: the stack slots of the frame are
// the values of its context for the call; return and exit end here. A body
// built ahead of time runs its entry of the routine table instead.
uint32_t eval_body(const Cell& fn, NodeId spec) {
    // The slot of /local itself is false, its words none.
    Cell count = at(spec, series::cell_count(spec) - 1);
    for (uint32_t i = 0; i < locals_count(&count); ++i) stack::push(i == 0 ? shared::logic(false) : shared::none());
    // The frame keeps the context's previous values word and restores it.
    context::set_values(context::context_cell(function::context_of(&fn)), uint32_t(stack::args - stack::cells) + 1);
    Cell native = *function::more(&fn, function::More::native_entry);
    uint32_t pending = 0;
    if (cell::is(&native, type::integer) && cell::integer(&native)) {
        Entry entry = routine::entry(uint32_t(cell::integer(&native)));
        if (!entry) sys::quit(101, KEL_CALLER_ADDRESS());
        pending = entry(Call{false, nullptr});
    } else {
        stack::set_body_flag(true);
        bool kept_on = tracer.on;
        if (fn.header & function::no_trace_flag) tracer.on = false;
        else if (fn.header & function::trace_flag) tracer.on = tracer.installed;
        Cell name;
        if (tracer.on) {
            name = stack::get_call_word();
            report(event::prolog, NodeId(0), -1, &name, nullptr);
        }
        Cell body = *function::more(&fn, function::More::body);
        if (cell::is(&body, type::block)) {
            pending = eval_block(&body, true);
        } else {
            cell::set_none(stack::args);
            stack::keep();
        }
        if (!pending && tracer.on) {
            name = stack::get_call_word();
            report(event::epilog, NodeId(0), -1, &name, stack::args);
        }
        tracer.on = kept_on;
    }
    if (pending == throws::return_ || pending == throws::exit_) {
        exits::consume();
        pending = 0;
    }
    return pending;
}

// Calls the callable value fn; *pos is the position after the value (or
// after the op word for an infix call, whose left operand is args[0]).
uint32_t eval_code(Cell fn, NodeId code, uint32_t& pos, uint32_t end, bool push, const Cell* name_word,
                   bool left_done, const Cell* path = nullptr, uint32_t from = 0) {
    Cell name = name_word && cell::is(name_word, type::word) ? *name_word : *words::words.anon;
    uint8_t t = cell::type_of(&fn);
    if (!callable(t)) sys::quit(101, KEL_CALLER_ADDRESS());
    if (tracer.on) report(event::open, code, int32_t(pos), &name, &fn);
    Cell* base;
    Cell left;
    if (left_done) {
        // The left operand, the last result, becomes the first argument.
        left = *stack::last();
        stack::top = stack::last();
    } else {
        stack::push(&fn);  // kept safe on the stack during the call
    }
    base = left_done ? stack::top : stack::top - 1;
    if (slotted(t)) stack::mark_interp_func(&name, function::context_of(&fn));
    else stack::mark_interp_call(&name);
    if (left_done) stack::push(&left);
    if (uint32_t pending = call_entry(fn, name, code, pos, end, left_done, path, from)) return pending;
    Cell result = *stack::args;
    if (slotted(t)) stack::unwind_func();
    else stack::unwind();
    stack::top = base;
    if (tracer.on) report(event::return_, code, int32_t(pos), &name, &result);
    place(result, push);
    return 0;
}

// Where the walk's current value came from, so that it can be found again
// after a paren element has run: the paren may set the head word, or change,
// grow or move the series or object holding the value.
struct Place {
    enum Kind : uint8_t { head_word, stack_cell, in_block, in_object, copy } kind = copy;
    uint32_t index = 0;  // cell index in the parent's buffer (in_block, in_object)
};

// The parent of a head word's value: the owner of a context other than the
// global one, unless that owner is an object.
Cell head_parent(const Cell& head) {
    Cell parent;
    cell::set_none(&parent);
    if (word::context_of(&head) != context::global) {
        const Cell* owner = context::owner_cell(word::context_of(&head));
        if (!cell::is(owner, type::object)) parent = *owner;
    }
    return parent;
}

// A path's parent that holds its values in a block: any-block! and map!.
bool block_like(uint8_t t) { return typesets::is_any_block(t) || t == type::map; }

// The heap series holding an object-like parent's values, 0 when its values
// live on the stack.
NodeId object_values(const Cell& parent) {
    uint8_t t = cell::type_of(&parent);
    if (t != type::object && t != type::error && t != type::port) return 0;
    const Cell* c = context::context_cell(object::context_of(&parent));
    return c->header & cell::stack_values_flag ? 0 : context::values_of(c);
}

// The place of the value the path action answered, a cell of the parent's
// buffer when it lies within the used part of it.
Place place_of(const Cell* value, const Cell& parent) {
    NodeId holder = block_like(cell::type_of(&parent)) ? series::node_of(&parent) : object_values(parent);
    Place p;
    if (value >= stack::cells && value < stack::top) return {Place::stack_cell, 0};
    if (!holder) return p;
    const Cell* first = series::cells_of(holder);
    if (value >= first && value < first + series::cell_count(holder)) {
        p.kind = block_like(cell::type_of(&parent)) ? Place::in_block : Place::in_object;
        p.index = uint32_t(value - first);
    }
    return p;
}

// Evaluates or sets a path. A callable reached by a plain path is called with
// the path's remaining elements as refinements.
uint32_t eval_path(const Cell& path, NodeId code, uint32_t& pos, uint32_t end, bool set, bool get, bool push,
                   bool case_ = false) {
    NodeId elements = series::node_of(&path);
    uint32_t first = uint32_t(series::index_of(&path));
    if (first >= series::cell_count(elements)) error::fire(error::id::empty_path, &path);
    if (tracer.on) report(event::enter, &path, first, nullptr, nullptr);
    Cell head = at(elements, first);
    if (tracer.on) report(event::fetch, &path, first, nullptr, &head);
    if (!cell::is(&head, type::word)) error::fire(error::id::word_first, &path);
    Cell* kept_top = stack::top;
    Cell current = *fetch(&head);
    uint8_t t = cell::type_of(&current);
    if (callable(t)) {
        if (set) error::fire(error::id::invalid_path_set, &path);
        if (get) error::fire(error::id::invalid_path_get, &path);
        uint32_t pending = eval_code(current, code, pos, end, push, &head, false, &path, first + 1);
        if (!pending && tracer.on) report(event::exit, &path, series::cell_count(elements), nullptr, stack::last());
        return pending;
    }
    if (t == type::unset) error::fire(error::id::unset_path, &path, &head);
    if (tracer.on) report(event::push, &path, first, nullptr, &current);
    // The walk's values live on the stack, where the collector sees them: the
    // current value and its parent.
    Cell* work = stack::push(&current);
    Cell* parent_slot = stack::push_slot();
    *parent_slot = head_parent(head);
    Place where{Place::copy, 0};
    Cell previous;
    cell::set_none(&previous);
    for (uint32_t i = first + 1; i < series::cell_count(elements); ++i) {
        Cell element = at(elements, i);
        if (tracer.on) report(event::fetch, &path, i, nullptr, &element);
        Cell selector = element;
        if (cell::is(&element, type::get_word)) {
            selector = *fetch(&element);
        } else if (cell::is(&element, type::paren)) {
            if (i == first + 1) where.kind = Place::head_word;
            Cell block = element;
            cell::set_type(&block, type::block);
            if (uint32_t pending = eval_block(&block, false)) return pending;
            selector = *stack::last();
            stack::top = parent_slot + 1;
            // Find the current value again where it was.
            switch (where.kind) {
                case Place::head_word:
                    *work = *fetch(&head);
                    *parent_slot = head_parent(head);
                    break;
                case Place::in_block:
                case Place::in_object: {
                    NodeId holder =
                        where.kind == Place::in_block ? series::node_of(parent_slot) : object_values(*parent_slot);
                    if (holder && where.index < series::cell_count(holder)) *work = at(holder, where.index);
                    break;
                }
                default:
                    break;
            }
        }
        if (tracer.on) report(event::push, &path, i, nullptr, &selector);
        if (cell::is(&selector, type::unset)) error::fire(error::id::invalid_path, &path, &element);
        bool last = i + 1 == series::cell_count(elements);
        Cell store;
        cell::set_none(&store);
        if (set && last) store = *stack::args;
        Cell* sel = stack::push(&selector);
        Cell* st = stack::push(&store);
        auto handler = actions::handler<actions::EvalPath>(cell::type_of(work), action::eval_path, work);
        Cell* found = handler(work, sel, set && last ? st : nullptr, &path,
                              cell::is(parent_slot, type::none) ? nullptr : parent_slot,
                              cell::is(&previous, type::none) ? nullptr : &previous, int32_t(i - first - 1), case_,
                              get, last, false);
        Cell next = *found;
        Place next_place = place_of(found, *work);
        stack::top = parent_slot + 1;
        if (!set && !get && callable(cell::type_of(&next))) {
            stack::top = kept_top;
            uint32_t pending = eval_code(next, code, pos, end, push, &element, false, &path, i + 1);
            if (!pending && tracer.on) report(event::exit, &path, series::cell_count(elements), nullptr, stack::last());
            return pending;
        }
        *parent_slot = *work;
        *work = next;
        where = next_place;
        previous = element;
    }
    Cell result = *work;
    if (tracer.on) report(event::exit, &path, series::cell_count(elements), nullptr, &result);
    stack::top = kept_top;
    place(result, push);
    return 0;
}

bool next_is_op(NodeId code, uint32_t pos, uint32_t end, Cell* op) {
    if (pos >= end) return false;
    Cell w = at(code, pos);
    if (!cell::is(&w, type::word) || !word::context_of(&w)) return false;
    if (context::values_of(context::context_cell(word::context_of(&w))) == 0) return false;
    const Cell* v = word::fetch(&w);
    if (!cell::is(v, type::op)) return false;
    *op = *v;
    return true;
}

}  // namespace

Cell current_block{};

uint32_t path_value(const Cell& path, const Cell* value, bool case_) {
    Cell* base = stack::top;
    stack::mark_interp_call(value ? words::words.set_path : words::words.anon);
    Cell store;
    if (value) store = *value;
    else cell::set_none(&store);
    stack::push(&store);  // a set-path stores what its frame holds in args[0]
    uint32_t pos = 0;
    Cell p = path;
    if (uint32_t pending = eval_path(p, 0, pos, 0, value != nullptr, value == nullptr, true, case_)) return pending;
    Cell result = *stack::last();
    stack::unwind();
    stack::top = base;
    stack::push(&result);
    return 0;
}

uint32_t call_values(const Cell& fn, const Cell& name, const Cell* values, uint32_t n) {
    uint8_t t = cell::type_of(&fn);
    if (!callable(t)) sys::quit(101, KEL_CALLER_ADDRESS());
    Cell* base = stack::push(&fn);
    if (slotted(t)) stack::mark_interp_func(&name, function::context_of(&fn));
    else stack::mark_interp_call(&name);
    NodeId spec = parsed_spec(&fn);
    Refinements refs;
    bool active = true;
    uint32_t given = 0;
    for (uint32_t i = 0, count = series::cell_count(spec); i < count; ++i) {
        Cell s = at(spec, i);
        uint8_t kind = cell::type_of(&s);
        if (kind == type::refinement) {
            active = false;
            refs.index[refs.count++] = -1;
            if (slotted(t)) stack::push(shared::logic(false));
            continue;
        }
        if (kind != type::word && kind != type::get_word && kind != type::lit_word) continue;
        Cell ts = at(spec, ++i);
        if (!active) {
            if (slotted(t)) stack::push(shared::none());
            continue;
        }
        if (given < n) stack::push(values + given++);
        else stack::push(shared::none());
        check_type(ts, stack::last(), name, s);
    }
    if (uint32_t pending = run(fn, spec, refs, name)) return pending;
    Cell result = *stack::args;
    if (slotted(t)) stack::unwind_func();
    else stack::unwind();
    stack::top = base;
    stack::push(&result);
    return 0;
}

NodeId parsed_spec(const Cell* fn) {
    const Cell* cached = function::more(fn, function::More::parsed_spec);
    if (cell::is(cached, type::block)) return series::node_of(cached);
    NodeId parsed = build_parsed_spec(function::spec_node(fn));
    *function::more(fn, function::More::parsed_spec) = Cell{type::block, 0, parsed, 0};
    return parsed;
}

uint32_t eval_block(const Cell* block, bool into_result) {
    check_native_stack();
    NodeId code = series::node_of(block);
    uint32_t pos = uint32_t(series::index_of(block));
    // The block being evaluated, at the expression under way, for the near
    // field of an error (filled before the error unwinds); the outer block
    // is current again however this evaluation ends.
    struct Restore {
        Cell outer = current_block;
        ~Restore() { current_block = outer; }
    } restore;
    current_block = Cell{type::block, pos, code, 0};
    stack::mark_interp_eval(words::words.body);
    if (tracer.on) report(event::enter, code, int32_t(pos), nullptr, nullptr);
    if (pos >= series::cell_count(code)) cell::set_unset(stack::args), stack::keep();
    while (pos < series::cell_count(code)) {
        series::set_index(&current_block, int32_t(pos));
        if (uint32_t pending = eval_expression(code, pos, series::cell_count(code), false, false, false, &pos))
            return pending;
        if (pos < series::cell_count(code)) stack::reset();
    }
    if (tracer.on) report(event::exit, code, int32_t(series::cell_count(code)), nullptr, stack::args);
    if (into_result) stack::unwind_last();
    else stack::unwind();
    return 0;
}

uint32_t eval_expression(NodeId code, uint32_t pos, uint32_t end, bool no_infix, bool push, bool keep_callables,
                         uint32_t* next) {
    Cell value = at(code, pos);
    if (tracer.on) report(event::fetch, code, int32_t(pos), nullptr, &value);
    ++pos;
    uint32_t pending = 0;
    switch (cell::type_of(&value)) {
        case type::paren: {
            Cell block = value;
            cell::set_type(&block, type::block);
            if ((pending = eval_block(&block, false))) return pending;
            if (!push) stack::set_result(stack::last());  // into args[0]
            break;
        }
        case type::set_word: {
            stack::mark_interp_call(&value);
            stack::push(&value);
            if (pos >= end) error::fire(error::id::need_value, &value);
            if ((pending = eval_expression(code, pos, end, false, true, false, &pos))) return pending;
            Cell v = stack::args[1];
            if (cell::is(&v, type::unset)) error::fire(error::id::need_value, &value);
            if (!word::context_of(&value)) error::fire(error::id::not_defined, &value);
            if (tracer.on) report(event::set, code, int32_t(pos), &value, &v);
            word::set(stack::args, &v);
            stack::args[0] = v;
            if (push) stack::unwind();
            else stack::unwind_last(), stack::keep();
            break;
        }
        case type::get_word:
            place(*fetch(&value), push);
            break;
        case type::lit_word:
            cell::set_type(&value, type::word);
            place(value, push);
            break;
        case type::word: {
            Cell v = *fetch(&value);
            uint8_t t = cell::type_of(&v);
            if (t == type::unset) error::fire(error::id::no_value, &value);
            if (t == type::op) error::fire(error::id::no_op_arg, &value);
            if (callable(t)) {
                if ((pending = eval_code(v, code, pos, end, push, &value, false))) return pending;
            } else {
                place(v, push);
            }
            break;
        }
        case type::path:
        case type::get_path:
            if ((pending = eval_path(value, code, pos, end, false, cell::is(&value, type::get_path), push)))
                return pending;
            break;
        case type::set_path: {
            stack::mark_interp_call(words::words.set_path);
            if (pos >= end) error::fire(error::id::need_value, &value);
            if ((pending = eval_expression(code, pos, end, false, true, false, &pos))) return pending;
            Cell v = *stack::args;
            if (tracer.on) report(event::set, code, int32_t(pos), &value, &v);
            if ((pending = eval_path(value, code, pos, end, true, false, true))) return pending;
            stack::args[0] = v;
            if (push) stack::unwind();
            else stack::unwind_last(), stack::keep();
            break;
        }
        case type::lit_path:
            cell::set_type(&value, type::path);
            value.payload3 = 0;
            place(value, push);
            break;
        case type::op:
            error::fire_not_done();
        default:
            if (callable(cell::type_of(&value)) && !keep_callables) {
                if ((pending = eval_code(value, code, pos, end, push, nullptr, false))) return pending;
            } else {
                place(value, push);
            }
    }
    Cell op;
    while (!no_infix && next_is_op(code, pos, end, &op)) {
        Cell name = at(code, pos++);
        Cell fn = op;
        cell::set_type(&fn, uint8_t(op.header >> 16));
        fn.header &= 0xFF;
        if ((pending = eval_code(fn, code, pos, end, push, &name, true))) return pending;
    }
    if (tracer.on && !push) report(event::expr, code, int32_t(pos), nullptr, stack::args);
    *next = pos;
    return 0;
}

}  // namespace kel::interp
