#include "runtime/actions.hpp"

#include <algorithm>

#include "runtime/checks.hpp"
#include "runtime/context.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/function.hpp"
#include "runtime/datatypes/native.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/error.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"
#include "runtime/system.hpp"
#include "runtime/typesets.hpp"
#include "runtime/words.hpp"

namespace kel::actions {

Entry table[action::count] = {};

namespace {

// The word of an action's first argument in its spec, for error reports.
const char* first_argument(action::Slot s) {
    switch (s) {
        case action::make: case action::to: return "type";
        case action::random: case action::reflect: case action::form: case action::mold:
        case action::complement: case action::copy: return "value";
        case action::negate: case action::even_q: case action::odd_q: return "number";
        case action::round: return "n";
        case action::move: return "origin";
        case action::swap: return "series1";
        case action::modify: case action::query: return "target";
        case action::create: case action::close: case action::open_q: case action::update: case action::open:
            return "port";
        case action::delete_: return "file";
        case action::read: return "source";
        case action::rename: return "from";
        case action::write: return "destination";
        default: return "series";
    }
}

Cell* arg(const Call& call, int i) { return call.refs[i] >= 0 ? stack::args + call.refs[i] : nullptr; }
bool flag(const Call& call, int i) { return call.refs[i] >= 0; }

}  // namespace

Handler lookup(uint8_t type, action::Slot slot, const Cell* value) {
    Handler h = datatype::handler(type, slot);
    if (!h) {
        Cell where = stack::get_call_word();
        Cell kind;
        cell::set_datatype(&kind, cell::type_of(value));
        Cell argument{type::word, context::global, symbol::make(first_argument(slot)), uint32_t(-1)};
        error::fire(error::id::expect_arg, &where, &kind, &argument);
    }
    return h;
}

EvalPath path_handler(const Cell* value, const Cell* path, const Cell* element, int32_t step) {
    if (Handler h = datatype::handler(cell::type_of(value), action::eval_path)) return reinterpret_cast<EvalPath>(h);
    Cell kind;
    cell::set_datatype(&kind, cell::type_of(value));
    if (!path) {
        Cell selector = *element;
        error::fire(error::id::bad_path_type2, &selector, &kind);
    }
    const Cell whole = *path;
    int32_t n = std::clamp(step + 1, 0, series::length_from(&whole));
    Cell* lead = block::push_new(n);
    for (int32_t i = 0; i < n; ++i) {
        Cell element_i = series::cells_of(whole.payload2)[series::clamped_index(&whole) + i];
        block::ks_append(lead, &element_i);
    }
    error::fire(error::id::bad_path_type, &whole, &kind, lead);
}

int32_t compare_raw(const Cell* a, const Cell* b, int32_t op) {
    uint8_t t = cell::type_of(a);
    auto sign = [](uint32_t x, uint32_t y) { return x < y ? -1 : x > y ? 1 : 0; };
    // The short cuts read the second value's payload: only for the same
    // type, and functions have no order.
    bool same = cell::type_of(b) == t;
    using namespace compare_op;
    bool by_identity = op <= strict_equal || op == sort || op == sort_case || op == compare_op::same || op == find;
    switch (t) {
        case type::logic: return same ? int32_t(cell::logic(a)) - int32_t(cell::logic(b)) : -2;
        case type::op:
        case type::action:
        case type::native: return same && by_identity ? sign(native::entry_index(a), native::entry_index(b)) : -2;
        case type::function:
        case type::routine: return same && by_identity ? sign(function::more_node(a), function::more_node(b)) : -2;
        default: return handler<Compare>(t, action::compare, a)(a, b, op);
    }
}

bool compare_star(const Cell* a, const Cell* b, int32_t op) {
    using namespace compare_op;
    int32_t r = compare_raw(a, b, op);
    if (r == -2 && op >= lesser && op <= sort_case) {
        Cell x = *a, y = *b;
        error::fire(error::id::invalid_compare, &x, &y);
    }
    switch (op) {
        case equal: case strict_equal: case same: case match_case: case match: case find: return r == 0;
        case not_equal: return r != 0;
        case lesser: return r < 0;
        case lesser_or_equal: return r <= 0;
        case greater: return r > 0;
        case greater_or_equal: return r >= 0;
        default: sys::quit(101, KEL_CALLER_ADDRESS());
    }
}

int32_t form(const Cell* value, Cell* out, const Cell* part, int32_t limit) {
    uint8_t t = cell::type_of(value);
    return handler<Form>(t, action::form, value)(value, out, part, limit);
}

int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, const Cell* part, int32_t limit,
             int32_t indent) {
    uint8_t t = cell::type_of(value);
    return handler<Mold>(t, action::mold, value)(value, out, only, all, flat, part, limit, indent);
}

int32_t index_argument(const Cell* index) {
    switch (cell::type_of(index)) {
        case type::integer:
        case type::char_: return int32_t(index->payload2);
        case type::logic: return index->payload1 ? 1 : 2;
        default: return 0;
    }
}

namespace {

// form and mold: a new string for the output, cut to the /part limit.
uint32_t form_or_mold(const Call& call, bool molding) {
    enum FormRefinement { form_part };
    enum MoldRefinement { only, all, flat, mold_part };
    Cell* value = stack::args;
    const Cell* part = molding ? arg(call, mold_part) : arg(call, form_part);
    int32_t limit = 2147483647;
    if (part) limit = part->payload2 > 0x7FFFFFFF ? 0 : int32_t(part->payload2);
    Cell* out = stack::push_slot();
    string::make(out, 16);
    if (!part || limit > 0) {
        if (molding) mold(value, out, flag(call, only), flag(call, all), flag(call, flat), part, limit, 0);
        else form(value, out, part, limit);
        if (part) string::truncate(out, uint32_t(limit));
    }
    stack::set_result(out);
    return 0;
}

uint32_t form_star(const Call& call) { return form_or_mold(call, false); }
uint32_t mold_star(const Call& call) { return form_or_mold(call, true); }

// The actions whose handlers work on the stack themselves.
template <action::Slot S>
uint32_t stack_star(const Call&) {
    handler<StackHandler>(cell::type_of(stack::args), S, stack::args)();
    return 0;
}

uint32_t length_star(const Call&) {
    Cell* v = stack::args;
    int32_t n = handler<Length>(cell::type_of(v), action::length_q, v)(v);
    if (n < 0) cell::set_none(v);
    else cell::set_integer(v, n);
    stack::keep();
    return 0;
}

template <action::Slot S>
uint32_t predicate_star(const Call&) {
    Cell* v = stack::args;
    cell::set_logic(v, handler<Predicate>(cell::type_of(v), S, v)(v));
    stack::keep();
    return 0;
}

uint32_t pick_star(const Call&) {
    Cell* v = stack::args;
    Cell* r = handler<Pick>(cell::type_of(v), action::pick, v)(v, index_argument(v + 1), v + 1);
    stack::set_result(r);
    return 0;
}

uint32_t poke_star(const Call&) {
    Cell* v = stack::args;
    handler<Poke>(cell::type_of(v), action::poke, v)(v, index_argument(v + 1), v + 2, v + 1);
    stack::set_result(v + 2);
    return 0;
}

template <action::Slot S>
uint32_t make_star(const Call&) {
    Cell* proto = stack::args;
    uint8_t t = cell::is(proto, type::datatype) ? uint8_t(proto->payload1) : cell::type_of(proto);
    Cell* r = handler<Make>(t, S, proto)(proto, proto + 1, t);
    stack::set_result(r);
    return 0;
}

uint32_t clear_star(const Call&) {
    Cell* v = stack::args;
    handler<Clear>(cell::type_of(v), action::clear, v)(v);
    stack::keep();
    return 0;
}

// ---- Typed dispatch wrappers: each converts its refinement stack indices
// into cell pointers and flags and calls the handler of its first argument.

template <class Fn>
Fn of(action::Slot slot) {
    return handler<Fn>(cell::type_of(stack::args), slot, stack::args);
}

uint32_t random_star(const Call& c) {
    enum { seed, secure, only };
    of<Random>(action::random)(stack::args, flag(c, seed), flag(c, secure), flag(c, only));
    stack::keep();
    return 0;
}

uint32_t reflect_star(const Call&) {
    of<Reflect>(action::reflect)(stack::args, stack::args[1].payload2);
    stack::keep();
    return 0;
}

uint32_t negate_star(const Call&) {
    of<Negate>(action::negate)(stack::args);
    stack::keep();
    return 0;
}

uint32_t round_star(const Call& c) {
    enum { to, even, down, half_down, floor, ceiling, half_ceiling };
    of<Round>(action::round)(stack::args, arg(c, to), flag(c, even), flag(c, down), flag(c, half_down),
                             flag(c, floor), flag(c, ceiling), flag(c, half_ceiling));
    stack::keep();
    return 0;
}

uint32_t complement_star(const Call&) {
    stack::set_result(of<Complement>(action::complement)(stack::args));
    return 0;
}

bool series_type(uint8_t t) { return typesets::is_series(t) || t == type::map; }

uint32_t series_length(const Cell* v) {
    SeriesBuffer* b = alloc::buffer_of(v->payload2);
    uint32_t unit = series::unit_of(b);
    return (b->tail - b->offset) / unit;
}

void clamp_index(Cell* v) {
    uint32_t n = series_length(v);
    if (v->payload1 > n) v->payload1 = n;
}

[[noreturn]] void invalid_part_refinement(const Cell* p) {
    Cell refinement = *words::refinements.part, value = *p;
    error::fire_bad_refinement(&refinement, &value);
}

// The /part count of an argument: an integer!, or a position in the same series.
int64_t part_count(const Cell* p, Cell* series) {
    if (cell::is(p, type::integer)) return cell::integer(p);
    if (cell::type_of(p) != cell::type_of(series) || p->payload2 != series->payload2 ||
        cell::is(series, type::port))
        invalid_part_refinement(p);
    Cell q = *p;
    clamp_index(&q);
    return int64_t(q.payload1) - int64_t(series->payload1);
}

// A negative count takes that many units from before the position.
int64_t step_back(Cell* v, int64_t count) {
    if (count >= 0) return count;
    uint32_t back = uint32_t(-count) > v->payload1 ? v->payload1 : uint32_t(-count);
    v->payload1 -= back;
    return back;
}

template <bool Append>
uint32_t insert_star(const Call& c) {
    enum { part, only, dup_ };
    Cell* series = stack::args;
    Cell* value = stack::args + 1;
    if (!Append && !cell::is(series, type::port) && series_type(cell::type_of(series))) clamp_index(series);
    int64_t count = -1;
    if (const Cell* p = arg(c, part)) {
        if (!series_type(cell::type_of(value)) || !value->payload2) {
            Cell bad = *p;
            error::fire(error::id::invalid_part, &bad);
        }
        clamp_index(value);
        count = part_count(p, value);
        if (count == 0 || (count < 0 && value->payload1 == 0)) return 0;
        count = step_back(value, count);
    }
    int32_t dup = 1;
    if (const Cell* n = arg(c, dup_)) {
        dup = integer::check_float_range(n);
        if (dup < 1) return 0;
    }
    of<Insert>(Append ? action::append : action::insert)(series, value, int32_t(count), flag(c, only), dup, Append);
    stack::keep();
    return 0;
}

uint32_t change_star(const Call& c) {
    enum { part, only, dup_ };
    Cell* series = stack::args;
    Cell* value = stack::args + 1;
    bool fixed = cell::is(series, type::port) || cell::is(series, type::image);
    int64_t count = -1;
    if (const Cell* p = arg(c, part)) {
        if (!fixed && series_type(cell::type_of(series))) clamp_index(series);
        if (cell::is(p, type::integer)) count = cell::integer(p);
        else if (fixed) invalid_part_refinement(p);
        else count = part_count(p, series);
        if (count < 0) count = fixed ? 0 : step_back(series, count);
    }
    int32_t dup = 1;
    if (const Cell* n = arg(c, dup_)) {
        dup = integer::check_float_range(n);
        if (dup < 1) {
            stack::keep();
            return 0;
        }
    }
    of<Change>(action::change)(series, value, int32_t(count), flag(c, only), dup);
    stack::keep();
    return 0;
}

uint32_t copy_star(const Call& c) {
    enum { part, deep, types };
    const Cell* kind = arg(c, types);
    if (kind && !cell::is(kind, type::datatype) && !cell::is(kind, type::typeset)) {
        Cell where = stack::get_call_word();
        Cell datatype;
        cell::set_datatype(&datatype, cell::type_of(kind));
        Cell argument{type::word, context::global, symbol::make("kind"), uint32_t(-1)};
        error::fire(error::id::expect_arg, &where, &datatype, &argument);
    }
    Cell* result = stack::push_slot();
    cell::set_unset(result);
    stack::set_result(of<Copy>(action::copy)(stack::args, result, arg(c, part), flag(c, deep), kind));
    return 0;
}

uint32_t find_star(const Call& c) {
    enum { part, only, case_, same, any, with, skip, last, reverse, tail, match };
    Cell* r = of<Find>(action::find)(stack::args, stack::args + 1, arg(c, part), flag(c, only), flag(c, case_),
                                     flag(c, same), flag(c, any), arg(c, with), arg(c, skip), flag(c, last),
                                     flag(c, reverse), flag(c, tail), flag(c, match));
    stack::set_result(r);
    return 0;
}

uint32_t select_star(const Call& c) {
    enum { part, only, case_, same, any, with, skip, last, reverse };
    Cell* r = of<Select>(action::select)(stack::args, stack::args + 1, arg(c, part), flag(c, only), flag(c, case_),
                                         flag(c, same), flag(c, any), arg(c, with), arg(c, skip), flag(c, last),
                                         flag(c, reverse));
    stack::set_result(r);
    return 0;
}

uint32_t move_star(const Call& c) {
    enum { part };
    stack::set_result(of<Move>(action::move)(stack::args, stack::args + 1, arg(c, part)));
    return 0;
}

uint32_t put_star(const Call& c) {
    enum { case_ };
    stack::set_result(of<Put>(action::put)(stack::args, stack::args + 1, stack::args + 2, flag(c, case_)));
    return 0;
}

uint32_t remove_star(const Call& c) {
    enum { part, key };
    of<Remove>(action::remove)(stack::args, arg(c, part), arg(c, key));
    stack::keep();
    return 0;
}

uint32_t reverse_star(const Call& c) {
    enum { part, skip };
    of<Reverse>(action::reverse)(stack::args, arg(c, part), arg(c, skip));
    stack::keep();
    return 0;
}

uint32_t sort_star(const Call& c) {
    enum { case_, skip, compare, part, all, reverse, stable };
    stack::set_result(of<Sort>(action::sort)(stack::args, flag(c, case_), arg(c, skip), arg(c, compare),
                                             arg(c, part), flag(c, all), flag(c, reverse), flag(c, stable)));
    return 0;
}

uint32_t swap_star(const Call&) {
    of<Swap>(action::swap)(stack::args, stack::args + 1);
    stack::keep();
    return 0;
}

uint32_t take_star(const Call& c) {
    enum { part, deep, last };
    stack::set_result(of<Take>(action::take)(stack::args, arg(c, part), flag(c, deep), flag(c, last)));
    return 0;
}

uint32_t trim_star(const Call& c) {
    enum { head, tail, auto_, lines, all, with };
    of<Trim>(action::trim)(stack::args, flag(c, head), flag(c, tail), flag(c, auto_), flag(c, lines), flag(c, all),
                           arg(c, with));
    stack::keep();
    return 0;
}

template <action::Slot S>
uint32_t port_star(const Call&) {
    stack::set_result(of<Port>(S)(stack::args));
    return 0;
}

uint32_t modify_star(const Call& c) {
    enum { case_ };
    of<Modify>(action::modify)(stack::args, stack::args + 1, stack::args + 2, flag(c, case_));
    stack::keep();
    return 0;
}

uint32_t open_star(const Call& c) {
    enum { new_, read, write, seek, allow };
    stack::set_result(
        of<Open>(action::open)(stack::args, flag(c, new_), flag(c, read), flag(c, write), flag(c, seek), arg(c, allow)));
    return 0;
}

uint32_t read_star(const Call& c) {
    enum { part, seek, binary, lines, info, as };
    stack::set_result(of<Read>(action::read)(stack::args, arg(c, part), arg(c, seek), flag(c, binary),
                                             flag(c, lines), flag(c, info), arg(c, as)));
    return 0;
}

uint32_t rename_star(const Call&) {
    stack::set_result(of<Rename>(action::rename)(stack::args, stack::args + 1));
    return 0;
}

uint32_t write_star(const Call& c) {
    enum { binary, lines, info, append, part, seek, allow, as };
    stack::set_result(of<Write>(action::write)(stack::args, stack::args + 1, flag(c, binary), flag(c, lines),
                                               flag(c, info), flag(c, append), arg(c, part), arg(c, seek),
                                               arg(c, allow), arg(c, as)));
    return 0;
}

// The path wrapper: no path, parent or previous element; the value to set,
// when given, is the third argument.
uint32_t eval_path_star(const Call& c) {
    enum { set };
    Cell* v = stack::args;
    const Cell* store = flag(c, set) ? v + 2 : nullptr;
    EvalPath handler = path_handler(v, nullptr, v + 1, -1);
    Cell* r = handler(v, v + 1, store, nullptr, nullptr, nullptr, -1, false, false, true, false);
    stack::set_result(r);
    return 0;
}

// ORDER: one row per action slot, in the order of action::Slot
// (datatype.hpp), with the name environment/actions.kel gives that slot;
// start-up checks the names against actions.kel (natives::check_boot).
constexpr EntryRow all_rows[] = {
    {action::make, "make", make_star<action::make>},
    {action::random, "random", random_star},
    {action::reflect, "reflect", reflect_star},
    {action::to, "to", make_star<action::to>},
    {action::form, "form", form_star},
    {action::mold, "mold", mold_star},
    {action::eval_path, nullptr, eval_path_star},  // paths call it; no word
    {action::set_path, nullptr, nullptr},
    {action::compare, nullptr, nullptr},
    {action::absolute, "absolute", stack_star<action::absolute>},
    {action::add, "add", stack_star<action::add>},
    {action::divide, "divide", stack_star<action::divide>},
    {action::multiply, "multiply", stack_star<action::multiply>},
    {action::negate, "negate", negate_star},
    {action::power, "power", stack_star<action::power>},
    {action::remainder, "remainder", stack_star<action::remainder>},
    {action::round, "round", round_star},
    {action::subtract, "subtract", stack_star<action::subtract>},
    {action::even_q, "even?", predicate_star<action::even_q>},
    {action::odd_q, "odd?", predicate_star<action::odd_q>},
    {action::and_, "and~", stack_star<action::and_>},
    {action::complement, "complement", complement_star},
    {action::or_, "or~", stack_star<action::or_>},
    {action::xor_, "xor~", stack_star<action::xor_>},
    {action::append, "append", insert_star<true>},
    {action::at, "at", stack_star<action::at>},
    {action::back, "back", stack_star<action::back>},
    {action::change, "change", change_star},
    {action::clear, "clear", clear_star},
    {action::copy, "copy", copy_star},
    {action::find, "find", find_star},
    {action::head, "head", stack_star<action::head>},
    {action::head_q, "head?", stack_star<action::head_q>},
    {action::index_q, "index?", stack_star<action::index_q>},
    {action::insert, "insert", insert_star<false>},
    {action::length_q, "length?", length_star},
    {action::move, "move", move_star},
    {action::next, "next", stack_star<action::next>},
    {action::pick, "pick", pick_star},
    {action::poke, "poke", poke_star},
    {action::put, "put", put_star},
    {action::remove, "remove", remove_star},
    {action::reverse, "reverse", reverse_star},
    {action::select, "select", select_star},
    {action::sort, "sort", sort_star},
    {action::skip, "skip", stack_star<action::skip>},
    {action::swap, "swap", swap_star},
    {action::tail, "tail", stack_star<action::tail>},
    {action::tail_q, "tail?", stack_star<action::tail_q>},
    {action::take, "take", take_star},
    {action::trim, "trim", trim_star},
    {action::create, "create", port_star<action::create>},
    {action::close, "close", port_star<action::close>},
    {action::delete_, "delete", port_star<action::delete_>},
    {action::modify, "modify", modify_star},
    {action::open, "open", open_star},
    {action::open_q, "open?", port_star<action::open_q>},
    {action::query, "query", port_star<action::query>},
    {action::read, "read", read_star},
    {action::rename, "rename", rename_star},
    {action::update, "update", port_star<action::update>},
    {action::write, "write", write_star},
};

constexpr bool in_slot_order() {
    for (size_t i = 0; i < std::size(all_rows); ++i)
        if (all_rows[i].index != i + 1) return false;
    return true;
}
static_assert(std::size(all_rows) == action::count && in_slot_order(), "one action row per slot, in slot order");

}  // namespace

const std::span<const EntryRow> rows{all_rows};

void init() {
    for (int i = 0; i < action::count; ++i) table[i] = rows[i].entry;
}

}  // namespace kel::actions
