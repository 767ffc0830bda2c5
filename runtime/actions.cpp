#include "runtime/actions.hpp"

#include "runtime/context.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/error.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"
#include "runtime/system.hpp"

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
    switch (t) {
        case type::logic: return int32_t(a->payload1) - int32_t(b->payload1);
        case type::op:
        case type::action:
        case type::native: return sign(a->payload1, b->payload1);
        case type::function:
        case type::routine: return sign(a->payload3, b->payload3);
        default: return handler<Compare>(t, action::compare, a)(a, b, op);
    }
}

bool compare_star(const Cell* a, const Cell* b, int32_t op) {
    int32_t r = compare_raw(a, b, op);
    if (r == -2 && !(op <= 2 || op >= 9)) {
        Cell x = *a, y = *b;
        error::fire(error::Id{error::Category::script, "invalid-compare"}, &x, &y);
    }
    switch (op) {
        case 0: case 2: case 9: case 10: case 11: case 12: return r == 0;
        case 1: return r != 0;
        case 3: return r < 0;
        case 4: return r <= 0;
        case 5: return r > 0;
        case 6: return r >= 0;
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
}

}  // namespace kel::actions
