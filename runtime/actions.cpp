#include "runtime/actions.hpp"

#include "runtime/checks.hpp"
#include "runtime/context.hpp"
#include "runtime/datatypes/function.hpp"
#include "runtime/datatypes/native.hpp"
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
        error::fire(error::Id{error::Category::script, "invalid-compare"}, &x, &y);
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
    Cell* value = stack::args;
    const Cell* part = molding ? arg(call, 3) : arg(call, 0);
    int32_t limit = 2147483647;
    if (part) limit = part->payload2 > 0x7FFFFFFF ? 0 : int32_t(part->payload2);
    Cell* out = stack::push_slot();
    string::make(out, 16);
    if (!part || limit > 0) {
        if (molding) mold(value, out, flag(call, 0), flag(call, 1), flag(call, 2), part, limit, 0);
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
    of<Random>(action::random)(stack::args, flag(c, 0), flag(c, 1), flag(c, 2));
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
    of<Round>(action::round)(stack::args, arg(c, 0), flag(c, 1), flag(c, 2), flag(c, 3), flag(c, 4), flag(c, 5),
                             flag(c, 6));
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
    uint32_t unit = b->unit() ? b->unit() : 1;
    return (b->tail - b->offset) / unit;
}

void clamp_index(Cell* v) {
    uint32_t n = series_length(v);
    if (v->payload1 > n) v->payload1 = n;
}

[[noreturn]] void invalid_part_refinement(const Cell* p) {
    Cell refinement = *words::refinements.part, value = *p;
    error::fire(error::Id{error::Category::script, "invalid-refine-arg"}, &refinement, &value);
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
    Cell* series = stack::args;
    Cell* value = stack::args + 1;
    if (!Append && !cell::is(series, type::port) && series_type(cell::type_of(series))) clamp_index(series);
    int64_t count = -1;
    if (const Cell* p = arg(c, 0)) {
        if (!series_type(cell::type_of(value)) || !value->payload2) {
            Cell bad = *p;
            error::fire(error::Id{error::Category::script, "invalid-part"}, &bad);
        }
        clamp_index(value);
        count = part_count(p, value);
        if (count == 0 || (count < 0 && value->payload1 == 0)) return 0;
        count = step_back(value, count);
    }
    int32_t dup = 1;
    if (const Cell* n = arg(c, 2)) {
        dup = integer::check_float_range(n);
        if (dup < 1) return 0;
    }
    of<Insert>(Append ? action::append : action::insert)(series, value, int32_t(count), flag(c, 1), dup, Append);
    stack::keep();
    return 0;
}

uint32_t change_star(const Call& c) {
    Cell* series = stack::args;
    Cell* value = stack::args + 1;
    bool fixed = cell::is(series, type::port) || cell::is(series, type::image);
    int64_t count = -1;
    if (const Cell* p = arg(c, 0)) {
        if (!fixed && series_type(cell::type_of(series))) clamp_index(series);
        if (cell::is(p, type::integer)) count = cell::integer(p);
        else if (fixed) invalid_part_refinement(p);
        else count = part_count(p, series);
        if (count < 0) count = fixed ? 0 : step_back(series, count);
    }
    int32_t dup = 1;
    if (const Cell* n = arg(c, 2)) {
        dup = integer::check_float_range(n);
        if (dup < 1) {
            stack::keep();
            return 0;
        }
    }
    of<Change>(action::change)(series, value, int32_t(count), flag(c, 1), dup);
    stack::keep();
    return 0;
}

uint32_t copy_star(const Call& c) {
    const Cell* kind = arg(c, 2);
    if (kind && !cell::is(kind, type::datatype) && !cell::is(kind, type::typeset)) {
        Cell where = stack::get_call_word();
        Cell datatype;
        cell::set_datatype(&datatype, cell::type_of(kind));
        Cell argument{type::word, context::global, symbol::make("kind"), uint32_t(-1)};
        error::fire(error::id::expect_arg, &where, &datatype, &argument);
    }
    Cell* result = stack::push_slot();
    cell::set_unset(result);
    stack::set_result(of<Copy>(action::copy)(stack::args, result, arg(c, 0), flag(c, 1), kind));
    return 0;
}

uint32_t find_star(const Call& c) {
    Cell* r = of<Find>(action::find)(stack::args, stack::args + 1, arg(c, 0), flag(c, 1), flag(c, 2), flag(c, 3),
                                     flag(c, 4), arg(c, 5), arg(c, 6), flag(c, 7), flag(c, 8), flag(c, 9),
                                     flag(c, 10));
    stack::set_result(r);
    return 0;
}

uint32_t select_star(const Call& c) {
    Cell* r = of<Select>(action::select)(stack::args, stack::args + 1, arg(c, 0), flag(c, 1), flag(c, 2),
                                         flag(c, 3), flag(c, 4), arg(c, 5), arg(c, 6), flag(c, 7), flag(c, 8));
    stack::set_result(r);
    return 0;
}

uint32_t move_star(const Call& c) {
    stack::set_result(of<Move>(action::move)(stack::args, stack::args + 1, arg(c, 0)));
    return 0;
}

uint32_t put_star(const Call& c) {
    stack::set_result(of<Put>(action::put)(stack::args, stack::args + 1, stack::args + 2, flag(c, 0)));
    return 0;
}

uint32_t remove_star(const Call& c) {
    of<Remove>(action::remove)(stack::args, arg(c, 0), arg(c, 1));
    stack::keep();
    return 0;
}

uint32_t reverse_star(const Call& c) {
    of<Reverse>(action::reverse)(stack::args, arg(c, 0), arg(c, 1));
    stack::keep();
    return 0;
}

uint32_t sort_star(const Call& c) {
    stack::set_result(of<Sort>(action::sort)(stack::args, flag(c, 0), arg(c, 1), arg(c, 2), arg(c, 3), flag(c, 4),
                                             flag(c, 5), flag(c, 6)));
    return 0;
}

uint32_t swap_star(const Call&) {
    of<Swap>(action::swap)(stack::args, stack::args + 1);
    stack::keep();
    return 0;
}

uint32_t take_star(const Call& c) {
    stack::set_result(of<Take>(action::take)(stack::args, arg(c, 0), flag(c, 1), flag(c, 2)));
    return 0;
}

uint32_t trim_star(const Call& c) {
    of<Trim>(action::trim)(stack::args, flag(c, 0), flag(c, 1), flag(c, 2), flag(c, 3), flag(c, 4), arg(c, 5));
    stack::keep();
    return 0;
}

template <action::Slot S>
uint32_t port_star(const Call&) {
    stack::set_result(of<Port>(S)(stack::args));
    return 0;
}

uint32_t modify_star(const Call& c) {
    of<Modify>(action::modify)(stack::args, stack::args + 1, stack::args + 2, flag(c, 0));
    stack::keep();
    return 0;
}

uint32_t open_star(const Call& c) {
    stack::set_result(of<Open>(action::open)(stack::args, flag(c, 0), flag(c, 1), flag(c, 2), flag(c, 3), arg(c, 4)));
    return 0;
}

uint32_t read_star(const Call& c) {
    stack::set_result(of<Read>(action::read)(stack::args, arg(c, 0), arg(c, 1), flag(c, 2), flag(c, 3), flag(c, 4),
                                             arg(c, 5)));
    return 0;
}

uint32_t rename_star(const Call&) {
    stack::set_result(of<Rename>(action::rename)(stack::args, stack::args + 1));
    return 0;
}

uint32_t write_star(const Call& c) {
    stack::set_result(of<Write>(action::write)(stack::args, stack::args + 1, flag(c, 0), flag(c, 1), flag(c, 2),
                                               flag(c, 3), arg(c, 4), arg(c, 5), arg(c, 6), arg(c, 7)));
    return 0;
}

// The path wrapper: no path, parent or previous element; the value to set,
// when given, is the third argument.
uint32_t eval_path_star(const Call& c) {
    Cell* v = stack::args;
    const Cell* store = flag(c, 0) ? v + 2 : nullptr;
    Cell* r = of<EvalPath>(action::eval_path)(v, v + 1, store, nullptr, nullptr, nullptr, -1, false, false, true,
                                              false);
    stack::set_result(r);
    return 0;
}

}  // namespace

void init() {
    table[action::make - 1] = make_star<action::make>;
    table[action::to - 1] = make_star<action::to>;
    table[action::form - 1] = form_star;
    table[action::mold - 1] = mold_star;
    table[action::absolute - 1] = stack_star<action::absolute>;
    table[action::add - 1] = stack_star<action::add>;
    table[action::divide - 1] = stack_star<action::divide>;
    table[action::multiply - 1] = stack_star<action::multiply>;
    table[action::power - 1] = stack_star<action::power>;
    table[action::remainder - 1] = stack_star<action::remainder>;
    table[action::subtract - 1] = stack_star<action::subtract>;
    table[action::and_ - 1] = stack_star<action::and_>;
    table[action::or_ - 1] = stack_star<action::or_>;
    table[action::xor_ - 1] = stack_star<action::xor_>;
    table[action::at - 1] = stack_star<action::at>;
    table[action::back - 1] = stack_star<action::back>;
    table[action::head - 1] = stack_star<action::head>;
    table[action::head_q - 1] = stack_star<action::head_q>;
    table[action::index_q - 1] = stack_star<action::index_q>;
    table[action::next - 1] = stack_star<action::next>;
    table[action::skip - 1] = stack_star<action::skip>;
    table[action::tail - 1] = stack_star<action::tail>;
    table[action::tail_q - 1] = stack_star<action::tail_q>;
    table[action::even_q - 1] = predicate_star<action::even_q>;
    table[action::odd_q - 1] = predicate_star<action::odd_q>;
    table[action::length_q - 1] = length_star;
    table[action::pick - 1] = pick_star;
    table[action::poke - 1] = poke_star;
    table[action::clear - 1] = clear_star;
    table[action::random - 1] = random_star;
    table[action::reflect - 1] = reflect_star;
    table[action::eval_path - 1] = eval_path_star;
    table[action::negate - 1] = negate_star;
    table[action::round - 1] = round_star;
    table[action::complement - 1] = complement_star;
    table[action::append - 1] = insert_star<true>;
    table[action::insert - 1] = insert_star<false>;
    table[action::change - 1] = change_star;
    table[action::copy - 1] = copy_star;
    table[action::find - 1] = find_star;
    table[action::select - 1] = select_star;
    table[action::move - 1] = move_star;
    table[action::put - 1] = put_star;
    table[action::remove - 1] = remove_star;
    table[action::reverse - 1] = reverse_star;
    table[action::sort - 1] = sort_star;
    table[action::swap - 1] = swap_star;
    table[action::take - 1] = take_star;
    table[action::trim - 1] = trim_star;
    table[action::create - 1] = port_star<action::create>;
    table[action::close - 1] = port_star<action::close>;
    table[action::delete_ - 1] = port_star<action::delete_>;
    table[action::open_q - 1] = port_star<action::open_q>;
    table[action::query - 1] = port_star<action::query>;
    table[action::update - 1] = port_star<action::update>;
    table[action::modify - 1] = modify_star;
    table[action::open - 1] = open_star;
    table[action::read - 1] = read_star;
    table[action::rename - 1] = rename_star;
    table[action::write - 1] = write_star;
}

}  // namespace kel::actions
