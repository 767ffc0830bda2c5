#include "runtime/interp.hpp"

#include <climits>
#include <vector>

#include "runtime/actions.hpp"
#include "runtime/call.hpp"
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
#include "runtime/natives/entries.hpp"
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

// The value of a word that can be read without raising anything: a bound
// word of a context that has its values; null for anything else.
const Cell* plain_value(const Cell* c) {
    if (!cell::is(c, type::word) || !word::context_of(c) || word::index_of(c) < 0) return nullptr;
    if (context::values_of(context::context_cell(word::context_of(c))) == 0) return nullptr;
    return word::fetch(c);
}

// ---- integer infix ops

// The result of an infix op on two integers when it needs no call: the ops
// made from add, subtract and multiply (while the result fits) and from the
// comparisons. Answers whether it was made.
bool integer_op(uint8_t source, uint32_t index, int64_t a, int64_t b, Cell* out) {
    if (source == type::action) {
        int64_t r;
        switch (index) {
            case action::add: r = a + b; break;
            case action::subtract: r = a - b; break;
            case action::multiply: r = a * b; break;
            default: return false;
        }
        if (r < INT32_MIN || r > INT32_MAX) return false;
        cell::set_integer(out, int32_t(r));
        return true;
    }
    if (source != type::native) return false;
    Entry entry = natives::entry(index);
    bool r;
    if (entry == natives::lesser_q) r = a < b;
    else if (entry == natives::greater_q) r = a > b;
    else if (entry == natives::equal_q || entry == natives::strict_equal_q) r = a == b;
    else if (entry == natives::not_equal_q) r = a != b;
    else if (entry == natives::lesser_or_equal_q) r = a <= b;
    else if (entry == natives::greater_or_equal_q) r = a >= b;
    else return false;
    cell::set_logic(out, r);
    return true;
}

// The integer a right operand stands for without being evaluated: an
// integer! in the code, or a bound word whose value is one; null for
// anything else.
const Cell* plain_integer(NodeId code, uint32_t pos) {
    const Cell* c = series::cells_of(code) + pos;
    if (cell::is(c, type::integer)) return c;
    const Cell* v = plain_value(c);
    return v && cell::is(v, type::integer) ? v : nullptr;
}

// An infix op on the last pushed value and a plain right operand, made
// without a call when integer_op can; never while traced, as the tracer
// sees every call.
template <bool traced>
bool integer_infix(const Cell& op, NodeId code, uint32_t& pos, uint32_t end) {
    if (traced || pos >= end) return false;
    Cell* left = stack::top - 1;
    if (!cell::is(left, type::integer)) return false;
    const Cell* right = plain_integer(code, pos);
    if (!right || !integer_op(op::source_type(&op), native::entry_index(&op), cell::integer(left),
                              cell::integer(right), left))
        return false;
    ++pos;
    return true;
}

// ---- calls

// Makes the refinements named by path elements from `from` on used (or not,
// for a get-word whose value is falsy), in path order, and fetches their
// arguments after the mandatory ones.
uint32_t path_refinements(call::Frame& f, const Cell* path, uint32_t from, call::Code& source) {
    NodeId elements = series::node_of(path);
    for (uint32_t e = from; e < series::cell_count(elements); ++e) {
        Cell element = at(elements, e);
        bool get = cell::is(&element, type::get_word);
        if (!get && !cell::is(&element, type::word)) error::fire(error::id::bad_refine, &element);
        uint32_t index = call::find_refinement(f, symbol::resolve(word::symbol(&element)));
        if (index == call::no_refinement) error::fire(error::id::no_refine, &f.name, &element);
        bool used = true;
        if (get) {
            const Cell* v = word::fetch_bound(&element);
            if (cell::is(v, type::unset)) error::fire(error::id::no_value, &element);
            used = natives::truthy(v);
        }
        if (uint32_t pending = call::refine(f, index, used, source, *path)) return pending;
    }
    return 0;
}

// Calls the callable value fn and pushes its result; pos is the position
// after the value (or after the op word for an infix call, whose left
// operand is the last pushed value). Refinements are named by the path's
// elements from `from` on.
template <bool traced>
uint32_t eval_code(const Cell& fn, NodeId code, uint32_t& pos, uint32_t end, const Cell* name_word,
                   bool infix, const Cell* path = nullptr, uint32_t from = 0) {
    bool named = name_word && cell::is(name_word, type::word);
    Cell name = named ? *name_word : *words::words.anon;
    // A call opens with the word that names it, else with the function.
    if (traced && tracer.on) report(event::open, code, int32_t(pos), &name, named ? &name : &fn);
    call::Frame f;
    if (infix) call::open_infix(f, fn, name);
    else call::open(f, fn, name);
    call::Code source{code, pos, end, infix};
    if (uint32_t pending = call::fetch_arguments(f, source)) return pending;
    if (path)
        if (uint32_t pending = path_refinements(f, path, from, source)) return pending;
    pos = source.pos;
    // Both operands of an integer op are in: the op needs no call.
    if (!(f.infix && !traced && cell::is(stack::args, type::integer) && cell::is(stack::args + 1, type::integer) &&
          integer_op(cell::type_of(&fn), native::entry_index(&fn), cell::integer(stack::args),
                     cell::integer(stack::args + 1), stack::args)))
        if (uint32_t pending = call::run(f)) return pending;
    Cell result = call::close(f);
    if (traced && tracer.on) report(event::return_, code, int32_t(pos), &name, &result);
    stack::push(&result);
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

// Values that a set-path changes in place (d/year: 2020, t/hour: 1): the
// walk holds a copy of them, so the changed copy is stored back where it
// was taken from.
bool changed_in_place(uint8_t t) {
    switch (t) {
        case type::date:
        case type::time:
        case type::pair:
        case type::point2d:
        case type::point3d:
        case type::tuple:
        case type::event: return true;
        default: return false;
    }
}

// Stores value into parent at selector through the parent's own path
// handler, which tells the parent's owner of the change as any set-path does.
void store_into(Cell* parent, const Cell& path, const Cell& selector, const Cell& value, int32_t step, bool case_) {
    Cell* top = stack::top;
    Cell* held = stack::push(parent);
    Cell* sel = stack::push(&selector);
    Cell* st = stack::push(&value);
    auto handler = actions::path_handler(held, &path, sel, step);
    handler(held, sel, st, &path, nullptr, nullptr, step, case_, false, true, false);
    *parent = *held;
    stack::top = top;
}

// What a set-path walked through since the last value that is not changed
// in place: a set that changes such a value changes the walk's copy, so the
// copy is stored back where it was read, and on up while that place is a
// copy too (d/time/hour: 5 stores the time into the date, the date into d).
// The values kept are scalars, which hold no series the collector must see.
class Lineage {
  public:
    void descend(const Cell& value, const Cell& selector, int32_t step) {
        if (changed_in_place(cell::type_of(&value))) {
            copies_.push_back({value, selector, step});
            return;
        }
        copies_.clear();
        holder_ = {value, selector, step};
        held_ = true;
    }

    void store_back(Cell head, const Cell& path, const Cell& changed, bool case_) {
        Cell value = changed;
        for (auto it = copies_.rbegin(); it != copies_.rend(); ++it) {
            store_into(&it->value, path, it->selector, value, it->step, case_);
            value = it->value;
        }
        if (held_) store_into(&holder_.value, path, holder_.selector, value, holder_.step, case_);
        else word::set(&head, &value);
    }

  private:
    struct Step {
        Cell value;
        Cell selector;
        int32_t step;
    };
    std::vector<Step> copies_;
    Step holder_{};
    bool held_ = false;
};

// A path of words through objects, the common shape, read or set by the
// object handler straight away. Answers false, having changed nothing, for
// any other shape (or a function at its end), which the general walk takes.
bool object_path(const Cell& path, bool set, bool get, Cell* result) {
    NodeId elements = series::node_of(&path);
    uint32_t first = uint32_t(series::index_of(&path)), n = series::cell_count(elements);
    if (first + 2 > n) return false;
    const Cell* head = plain_value(series::cells_of(elements) + first);
    if (!head || !cell::is(head, type::object)) return false;
    Cell* store = set ? stack::args : nullptr;  // a set-path's frame holds the value
    Cell* work = stack::push(head);
    for (uint32_t i = first + 1; i < n; ++i) {
        Cell element = series::cells_of(elements)[i];
        if (!cell::is(&element, type::word) || !cell::is(work, type::object)) {
            stack::pop(1);
            return false;
        }
        bool last = i + 1 == n;
        *work = *object::eval_path(work, &element, last ? store : nullptr, &path, nullptr, nullptr,
                                   int32_t(i - first - 1), false, get, last, false);
    }
    *result = *work;
    stack::pop(1);
    return set || get || !call::callable(cell::type_of(result));
}

// Evaluates or sets a path and pushes the result. A callable reached by a
// plain path is called with the path's remaining elements as refinements.
template <bool traced>
uint32_t eval_path(const Cell& path, NodeId code, uint32_t& pos, uint32_t end, bool set, bool get,
                   bool case_ = false) {
    Cell value;
    if (!traced && object_path(path, set, get, &value)) {
        stack::push(&value);
        return 0;
    }
    NodeId elements = series::node_of(&path);
    uint32_t first = uint32_t(series::index_of(&path));
    if (first >= series::cell_count(elements)) error::fire(error::id::empty_path, &path);
    if (traced && tracer.on) report(event::enter, &path, first, nullptr, nullptr);
    Cell head = at(elements, first);
    if (traced && tracer.on) report(event::fetch, &path, first, nullptr, &head);
    if (!cell::is(&head, type::word)) error::fire(error::id::word_first, &path);
    Cell* kept_top = stack::top;
    Cell current = *word::fetch_bound(&head);
    uint8_t t = cell::type_of(&current);
    if (call::callable(t)) {
        if (set) error::fire(error::id::invalid_path_set, &path);
        if (get) error::fire(error::id::invalid_path_get, &path);
        uint32_t pending = eval_code<traced>(current, code, pos, end, &head, false, &path, first + 1);
        if (traced && !pending && tracer.on) report(event::exit, &path, series::cell_count(elements), nullptr, stack::last());
        return pending;
    }
    if (t == type::unset) error::fire(error::id::unset_path, &path, &head);
    if (traced && tracer.on) report(event::push, &path, first, nullptr, &current);
    // The walk's values live on the stack, where the collector sees them: the
    // current value and its parent.
    Cell* work = stack::push(&current);
    Cell* parent_slot = stack::push_slot();
    *parent_slot = head_parent(head);
    Place where{Place::copy, 0};
    Cell previous;
    cell::set_none(&previous);
    Lineage lineage;
    for (uint32_t i = first + 1; i < series::cell_count(elements); ++i) {
        Cell element = at(elements, i);
        if (traced && tracer.on) report(event::fetch, &path, i, nullptr, &element);
        Cell selector = element;
        if (cell::is(&element, type::get_word)) {
            selector = *word::fetch_bound(&element);
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
                    *work = *word::fetch_bound(&head);
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
        if (traced && tracer.on) report(event::push, &path, i, nullptr, &selector);
        if (cell::is(&selector, type::unset)) error::fire(error::id::invalid_path, &path, &element);
        bool last = i + 1 == series::cell_count(elements);
        Cell store{};
        cell::set_none(&store);
        if (set && last) store = *stack::args;
        Cell* sel = stack::push(&selector);
        Cell* st = stack::push(&store);
        auto handler = actions::path_handler(work, &path, &element, int32_t(i - first - 1));
        Cell* found = handler(work, sel, set && last ? st : nullptr, &path,
                              cell::is(parent_slot, type::none) ? nullptr : parent_slot,
                              cell::is(&previous, type::none) ? nullptr : &previous, int32_t(i - first - 1), case_,
                              get, last, false);
        Cell next = *found;
        Place next_place = place_of(found, *work);
        stack::top = parent_slot + 1;
        if (set && last && changed_in_place(cell::type_of(work))) lineage.store_back(head, path, *work, case_);
        if (set && !last) lineage.descend(*work, selector, int32_t(i - first - 1));
        if (!set && !get && call::callable(cell::type_of(&next))) {
            stack::top = kept_top;
            uint32_t pending = eval_code<traced>(next, code, pos, end, &element, false, &path, i + 1);
            if (traced && !pending && tracer.on) report(event::exit, &path, series::cell_count(elements), nullptr, stack::last());
            return pending;
        }
        *parent_slot = *work;
        *work = next;
        where = next_place;
        previous = element;
    }
    Cell result = *work;
    if (traced && tracer.on) report(event::exit, &path, series::cell_count(elements), nullptr, &result);
    stack::top = kept_top;
    stack::push(&result);
    return 0;
}

// The op! value of the word at pos, if it names one.
// Asked after every value: a bound, resolved word reaches its value cell
// here in one step; the rest take word::fetch.
bool next_is_op(NodeId code, uint32_t pos, uint32_t end, Cell* op) {
    if (pos >= end) return false;
    const Cell* w = series::cells_of(code) + pos;
    if (!cell::is(w, type::word)) return false;
    NodeId ctx = word::context_of(w);
    if (!ctx) return false;
    if (context::values_of(context::context_cell(ctx)) == 0) return false;
    int32_t index = word::index_of(w);
    const Cell* v = index < 0 ? word::fetch(w) : context::value_address(ctx, uint32_t(index));
    if (!cell::is(v, type::op)) return false;
    *op = *v;
    return true;
}


template <bool traced>
uint32_t expression(NodeId code, uint32_t pos, uint32_t end, bool no_infix, bool statement, bool keep_callables,
                    uint32_t* next);

// A set-word or set-path, copied: the code may move while its value is
// evaluated. Its frame names it, so that the error of a missing or unset
// value says where.
template <bool traced>
[[gnu::noinline]] uint32_t set_expression(Cell target, NodeId code, uint32_t& pos, uint32_t end) {
    bool path = cell::is(&target, type::set_path);
    if (traced && tracer.on) report(event::push, code, int32_t(pos - 1), nullptr, &target);
    stack::mark_interp_call(path ? words::words.set_path : &target);
    if (!path) stack::push(&target);
    if (pos >= end) error::fire(error::id::need_value, &target);
    if (uint32_t pending = expression<traced>(code, pos, end, false, false, false, &pos)) return pending;
    Cell v = path ? *stack::args : stack::args[1];
    if (path) {
        if (traced && tracer.on) report(event::set, code, int32_t(pos), &target, &v);
        if (uint32_t pending = eval_path<traced>(target, code, pos, end, true, false)) return pending;
    } else {
        if (cell::is(&v, type::unset)) error::fire(error::id::need_value, &target);
        if (!word::context_of(&target)) error::fire(error::id::not_defined, &target);
        if (traced && tracer.on) report(event::set, code, int32_t(pos), &target, &v);
        word::set(stack::args, &v);
    }
    stack::args[0] = v;
    stack::unwind();
    return 0;
}

// The other active values but words and set-words.
template <bool traced>
[[gnu::noinline]] uint32_t special_expression(Cell value, NodeId code, uint32_t& pos, uint32_t end,
                                              bool keep_callables) {
    switch (cell::type_of(&value)) {
        case type::paren:
            cell::set_type(&value, type::block);
            return eval_block(&value, false);
        case type::get_word:
            stack::push(word::fetch_bound(&value));
            if (traced && tracer.on) report(event::push, code, int32_t(pos - 1), nullptr, stack::last());
            return 0;
        case type::lit_word:
            cell::set_type(&value, type::word);
            stack::push(&value);
            if (traced && tracer.on) report(event::push, code, int32_t(pos - 1), nullptr, stack::last());
            return 0;
        case type::path:
        case type::get_path:
            return eval_path<traced>(value, code, pos, end, false, cell::is(&value, type::get_path));
        case type::set_path:
            return set_expression<traced>(value, code, pos, end);
        case type::lit_path:
            cell::set_type(&value, type::path);
            value.payload3 = 0;
            stack::push(&value);
            return 0;
        case type::op:
            error::fire_not_done();
        default:
            if (keep_callables) {
                stack::push(&value);
                return 0;
            }
            return eval_code<traced>(value, code, pos, end, nullptr, false);
    }
}

// #system or #system-global before a block opens code of the system
// dialect, which runs only compiled.
[[gnu::noinline]] void refuse_system_code(NodeId code, uint32_t next, uint32_t end, const Cell* issue) {
    if (next >= end || !cell::is(series::cells_of(code) + next, type::block)) return;
    uint32_t name = symbol::resolve(issue->payload2);
    if (name == symbol::resolve(words::symbols.system) || name == symbol::resolve(words::symbols.system_global))
        error::fire(error::id::kel_system);
}

// Evaluates one expression and pushes its result. A statement (an
// expression of a block being evaluated) is reported to the tracer.
template <bool traced>
uint32_t expression(NodeId code, uint32_t pos, uint32_t end, bool no_infix, bool statement, bool keep_callables,
                    uint32_t* next) {
    const Cell* at_pos = series::cells_of(code) + pos++;
    if (traced && tracer.on) {
        report(event::fetch, code, int32_t(pos - 1), nullptr, at_pos);
        at_pos = series::cells_of(code) + pos - 1;  // the callback may have moved the buffer
    }
    uint8_t t = cell::type_of(at_pos);
    uint32_t pending = 0;
    if (stands_for_itself(t)) {
        if (t == type::issue) [[unlikely]] refuse_system_code(code, pos, end, at_pos);
        stack::push(at_pos);
        if (traced && tracer.on) report(event::push, code, int32_t(pos - 1), nullptr, stack::last());
    } else if (t == type::word) {
        Cell word = *at_pos;
        const Cell* v = word::fetch_bound(&word);
        uint8_t vt = cell::type_of(v);
        if (call::callable(vt)) {
            Cell fn = *v;
            if ((pending = eval_code<traced>(fn, code, pos, end, &word, false))) return pending;
        } else {
            if (vt == type::unset) error::fire(error::id::no_value, &word);
            if (vt == type::op) error::fire(error::id::no_op_arg, &word);
            stack::push(v);
            if (traced && tracer.on) report(event::push, code, int32_t(pos - 1), nullptr, stack::last());
        }
    } else if (t == type::set_word) {
        if ((pending = set_expression<traced>(*at_pos, code, pos, end))) return pending;
    } else if ((pending = special_expression<traced>(*at_pos, code, pos, end, keep_callables))) {
        return pending;
    }
    // A set-word's or set-path's value took every infix op after it.
    bool infix_taken = t == type::set_word || t == type::set_path;
    Cell op;
    while (!no_infix && !infix_taken && next_is_op(code, pos, end, &op)) {
        ++pos;
        if (traced && tracer.on) report(event::fetch, code, int32_t(pos - 1), nullptr, series::cells_of(code) + pos - 1);
        if (integer_infix<traced>(op, code, pos, end)) continue;
        Cell name = at(code, pos - 1);
        Cell fn = op::callable_of(&op);
        if ((pending = eval_code<traced>(fn, code, pos, end, &name, true))) return pending;
    }
    if (traced && statement && tracer.on) report(event::expr, code, int32_t(pos), nullptr, stack::last());
    *next = pos;
    return 0;
}

}  // namespace

Cell current_block{};

uint32_t path_value(const Cell& path, const Cell* value, bool case_) {
    Cell* base = stack::top;
    stack::mark_interp_call(value ? words::words.set_path : words::words.anon);
    Cell store{};
    if (value) store = *value;
    else cell::set_none(&store);
    stack::push(&store);  // a set-path stores what its frame holds in args[0]
    uint32_t pos = 0;
    Cell p = path;
    bool set = value != nullptr;
    if (uint32_t pending = tracer.on ? eval_path<true>(p, 0, pos, 0, set, !set, case_)
                                     : eval_path<false>(p, 0, pos, 0, set, !set, case_))
        return pending;
    Cell result = *stack::last();
    stack::unwind();
    stack::top = base;
    stack::push(&result);
    return 0;
}

namespace {

// Evaluates a block, traced or not.
template <bool traced>
uint32_t walk_block(const Cell* block, bool into_result) {
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
    // Each expression's result replaces the one before at base.
    Cell* base = stack::top;
    if (traced && tracer.on) report(event::enter, code, int32_t(pos), nullptr, nullptr);
    if (pos >= series::cell_count(code)) cell::set_unset(stack::push_slot());
    while (pos < series::cell_count(code)) {
        stack::top = base;
        series::set_index(&current_block, int32_t(pos));
        if (uint32_t pending = expression<traced>(code, pos, series::cell_count(code), false, true, false, &pos))
            return pending;
    }
    if (traced && tracer.on) report(event::exit, code, int32_t(series::cell_count(code)), nullptr, base);
    if (into_result) *stack::args = *base;
    return 0;
}

}  // namespace

uint32_t eval_block(const Cell* code, bool into_result) {
    return tracer.on ? walk_block<true>(code, into_result) : walk_block<false>(code, into_result);
}

uint32_t eval_expression(NodeId code, uint32_t pos, uint32_t end, bool no_infix, bool keep_callables,
                         uint32_t* next) {
    return tracer.on ? expression<true>(code, pos, end, no_infix, false, keep_callables, next)
                     : expression<false>(code, pos, end, no_infix, false, keep_callables, next);
}

}  // namespace kel::interp
