// Word, comparison and reflection natives: get and set, the comparisons,
// same?, not, type?, stats, bind, in, construct, value?, extend, unset,
// new-line, new-line? and context?.
#include <cstring>

#include "runtime/actions.hpp"
#include "runtime/call.hpp"
#include "runtime/context.hpp"
#include "runtime/datatype.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/map.hpp"
#include "runtime/datatypes/object.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/tuple.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/error.hpp"
#include "runtime/interp.hpp"
#include "runtime/natives/control.hpp"
#include "runtime/natives/entries.hpp"
#include "runtime/natives/natives.hpp"
#include "runtime/stack.hpp"
#include "runtime/alloc_stats.hpp"
#include "runtime/symbol.hpp"
#include "runtime/words.hpp"

namespace kel::natives {
namespace {

bool used(const Call& call, int i) { return call.refs[i] >= 0; }

uint32_t answer(const Cell& value) {
    stack::set_result(&value);
    return 0;
}

uint32_t answer_logic(bool v) { return answer(*shared::logic(v)); }

bool is_path(uint8_t t) {
    return t == type::path || t == type::lit_path || t == type::set_path || t == type::get_path;
}

void set_word(Cell* word, const Cell* value) {
    if (!word->payload1) error::fire(error::id::not_defined, word);
    word::set(word, value);
}

// The comparison natives differ only in the comparison code.
template <int32_t Op>
uint32_t compare(const Call&) {
    return answer_logic(actions::compare_star(stack::args, stack::args + 1, Op));
}

}  // namespace

// ---- get and set

uint32_t get(const Call& call) {
    enum { any, case_ };
    Cell target = stack::args[0];
    if (is_path(cell::type_of(&target))) {
        if (uint32_t pending = interp::path_value(target, nullptr, used(call, case_))) return pending;
        return answer(*stack::last());
    }
    if (cell::is(&target, type::object)) {
        actions::handler<actions::Reflect>(type::object, action::reflect, &target)(stack::args, words::symbols.values);
        stack::keep();
        return 0;
    }
    Cell value = *word::fetch_bound(&target);
    if (cell::is(&value, type::unset) && !used(call, any)) error::fire(error::id::no_value, &target);
    return answer(value);
}

uint32_t set(const Call& call) {
    enum { any, case_, only, some };
    Cell* base = stack::args;
    Cell target = base[0];
    const Cell value = base[1];
    if (cell::is(&value, type::unset) && !used(call, any)) error::fire(error::id::need_value, &target);
    uint8_t t = cell::type_of(&target);
    if (word::any_word_q(t) && t != type::refinement && t != type::issue) {
        set_word(base, &value);
    } else if (is_path(t)) {
        if (uint32_t pending = interp::path_value(target, &value, used(call, case_))) return pending;
    } else if (t == type::object) {
        object::set_many(base, base + 1, used(call, any), used(call, only), used(call, some));
    } else if (t == type::block) {
        bool spread = !used(call, only) && (series::is_any_block(cell::type_of(&value)) || cell::is(&value, type::map));
        // A map gives its live pairs, key and value, keys as it keeps them.
        Cell* items = stack::push(&value);
        if (spread && cell::is(items, type::map)) {
            map::reflect_block(&value, items, map::reflect_kind::body);
            for (int32_t i = 0; i < series::total_length(items); i += 2)
                block::ks_abs_at(items, i)->header &= ~cell::newline_flag;
        }
        // Every pair is checked before any word is set.
        int32_t from = series::clamped_index(&target), n = series::total_length(&target) - from;
        for (int32_t i = 0; i < n; ++i) {
            const Cell* w = block::ks_abs_at(&target, from + i);
            uint8_t wt = cell::type_of(w);
            if (wt != type::word && wt != type::set_word && wt != type::get_word && wt != type::lit_word)
                error::fire(error::id::invalid_arg, w);
            if (spread && !used(call, any)) {
                int32_t at = series::clamped_index(items) + i;
                if (at < series::total_length(items) && cell::is(block::ks_abs_at(items, at), type::unset))
                    error::fire(error::id::need_value, w);
            }
        }
        for (int32_t i = 0; i < n; ++i) {
            Cell w = *block::ks_abs_at(&target, from + i);
            Cell v = value;
            if (spread) {
                int32_t at = series::clamped_index(items) + i;
                if (at < series::total_length(items)) v = *block::ks_abs_at(items, at);
                else cell::set_none(&v);
            }
            if (used(call, some) && cell::is(&v, type::none)) continue;
            set_word(&w, &v);
        }
    } else {
        error::fire(error::id::invalid_arg, &target);
    }
    return answer(value);
}

// ---- comparisons

uint32_t equal_q(const Call& call) { return compare<0>(call); }
uint32_t not_equal_q(const Call& call) { return compare<1>(call); }
uint32_t strict_equal_q(const Call& call) { return compare<2>(call); }
uint32_t lesser_q(const Call& call) { return compare<3>(call); }
uint32_t lesser_or_equal_q(const Call& call) { return compare<4>(call); }
uint32_t greater_q(const Call& call) { return compare<5>(call); }
uint32_t greater_or_equal_q(const Call& call) { return compare<6>(call); }

uint32_t same_q(const Call&) {
    const Cell a = stack::args[0], b = stack::args[1];
    uint8_t t = cell::type_of(&a);
    if (t != cell::type_of(&b)) return answer_logic(false);
    bool same;
    switch (t) {
        case type::none: case type::unset: same = true; break;
        case type::datatype: case type::logic: case type::object: same = a.payload1 == b.payload1; break;
        case type::char_: case type::integer: case type::bitset: same = a.payload2 == b.payload2; break;
        case type::float_: case type::percent: case type::pair: case type::time:
            same = a.payload2 == b.payload2 && a.payload3 == b.payload3;
            break;
        case type::action: case type::native: case type::point2d:
            same = a.payload1 == b.payload1 && a.payload2 == b.payload2;
            break;
        case type::op: same = a.payload2 == b.payload2 && a.payload3 == b.payload3; break;
        case type::money: same = actions::compare_raw(&a, &b, 0) == 0; break;
        case type::tuple:
            same = tuple::length(&a) == tuple::length(&b) && a.payload1 == b.payload1 && a.payload2 == b.payload2 &&
                   a.payload3 == b.payload3;
            break;
        default:
            if (series::is_series(t)) same = a.payload1 == b.payload1 && a.payload2 == b.payload2;
            else same = a.payload1 == b.payload1 && a.payload2 == b.payload2 && a.payload3 == b.payload3;
    }
    return answer_logic(same);
}

uint32_t not_(const Call&) { return answer_logic(!truthy(stack::args)); }

uint32_t type_q(const Call& call) {
    enum { word_ };
    uint8_t t = cell::type_of(stack::args);
    if (used(call, word_)) {
        const char* name = datatype::names[t].name;
        Cell w = *context::find_or_add_global(symbol::make(name ? name : "unset!"));
        return answer(w);
    }
    Cell d;
    cell::set_datatype(&d, t);
    return answer(d);
}

// stats/show hands the detailed block to the boot environment's
// show-memory-stats, which prints the report.
uint32_t stats(const Call& call) {
    enum { show, info };
    Cell* out = stack::push_slot();
    cell::set_none(out);
    if (used(call, show) || used(call, info)) {
        block::make_at(out, 5);
        alloc::stats_block(out, 2);
        if (!used(call, show)) return answer(*out);
        Cell name = *context::find_or_add_global(symbol::make("show-memory-stats"));
        Cell fn = *word::fetch(&name);
        if (!cell::is(&fn, type::function)) error::fire(error::id::no_value, &name);
        Cell data = *out;
        if (uint32_t pending = call::with_values(fn, name, &data, 1)) return pending;
        Cell nothing;
        cell::set_unset(&nothing);
        return answer(nothing);
    }
    double bytes = alloc::stats_block(nullptr, 1);
    Cell r;
    if (bytes > 2147483647.0) cell::set_real(&r, type::float_, bytes);
    else cell::set_integer(&r, int32_t(bytes));
    return answer(r);
}

// ---- binding

namespace {

// The context a bind or in argument names: an object's or function's own,
// or the one a word is bound to.
NodeId context_of(const Cell* v) {
    uint8_t t = cell::type_of(v);
    if (t == type::object || t == type::error || t == type::port || t == type::function || t == type::routine)
        return v->payload1;
    if (word::any_word_q(t)) {
        if (!v->payload1) error::fire(error::id::not_defined, v);
        return v->payload1;
    }
    error::fire(error::id::invalid_arg, v);
}

}  // namespace

uint32_t bind(const Call& call) {
    enum { copy };
    Cell* base = stack::args;
    NodeId ctx = context_of(base + 1);
    if (word::any_word_q(cell::type_of(base))) {
        context::bind_word(ctx, base);
        stack::keep();
        return 0;
    }
    if (used(call, copy)) {
        Cell* copied = stack::push_slot();
        cell::set_unset(copied);
        actions::handler<actions::Copy>(type::block, action::copy, base)(base, copied, nullptr, true, nullptr);
        base[0] = *copied;
    }
    context::bind_block(base, ctx, cell::is(base + 1, type::object));
    stack::top = base + 1;
    return 0;
}

uint32_t in(const Call&) {
    Cell* base = stack::args;
    NodeId ctx = context_of(base);
    Cell w = base[1];
    if (cell::is(&w, type::refinement)) cell::set_type(&w, type::word);
    if (context::find_word_index(ctx, w.payload2, true) < 0) return answer(*shared::none());
    context::bind_word(ctx, &w);
    return answer(w);
}

uint32_t construct(const Call& call) {
    enum { with, only };
    Cell* base = stack::args;
    const Cell* proto = used(call, with) ? base + call.refs[with] : nullptr;
    Cell made = *object::push_new(base, proto, used(call, only));
    return answer(made);
}

uint32_t value_q(const Call&) {
    const Cell* v = stack::args;
    if (word::any_word_q(cell::type_of(v)) && cell::type_of(v) != type::refinement && cell::type_of(v) != type::issue) {
        if (!v->payload1) return answer_logic(false);
        return answer_logic(!cell::is(word::fetch(v), type::unset));
    }
    return answer_logic(!cell::is(v, type::unset));
}

// Objects do not grow: only a map! takes new pairs. A map! spec gives its
// live pairs.
uint32_t extend(const Call& call) {
    enum { case_ };
    Cell* base = stack::args;
    if (!cell::is(base, type::map)) error::fire_not_done();
    Cell* spec = base + 1;
    if (cell::is(spec, type::map)) {
        Cell* pairs = stack::push_slot();
        cell::set_none(pairs);
        map::reflect_block(spec, pairs, map::reflect_kind::body);
        spec = pairs;
    }
    map::extend(base, spec, used(call, case_));
    stack::keep();
    return 0;
}

uint32_t unset(const Call&) {
    Cell target = stack::args[0];
    Cell nothing;
    cell::set_unset(&nothing);
    if (cell::is(&target, type::word)) {
        set_word(&target, &nothing);
    } else {
        for (int32_t i = series::clamped_index(&target); i < series::total_length(&target); ++i) {
            Cell w = *block::ks_abs_at(&target, i);
            if (cell::is(&w, type::word)) set_word(&w, &nothing);
        }
    }
    return answer(nothing);
}

uint32_t new_line(const Call& call) {
    enum { all, skip };
    Cell* base = stack::args;
    const Cell position = base[0];
    bool on = truthy(base + 1);
    int32_t from = series::clamped_index(&position), total = series::total_length(&position);
    int32_t size = 0;
    if (used(call, skip)) {
        size = cell::integer(base + call.refs[skip]);
        if (size < 1) error::fire(error::id::out_of_range, base + call.refs[skip]);
    }
    int32_t last = used(call, all) || size ? total : std::min(from + 1, total);
    for (int32_t i = from; i < last; ++i) {
        Cell* c = block::ks_abs_at(&position, i);
        bool mark = size ? (((i - from) % size == 0) == on) : on;
        if (mark) c->header |= cell::newline_flag;
        else c->header &= ~cell::newline_flag;
    }
    return answer(position);
}

uint32_t new_line_q(const Call&) {
    const Cell p = stack::args[0];
    if (series::ks_tail_q(&p)) return answer_logic(false);
    return answer_logic(block::ks_abs_at(&p, series::clamped_index(&p))->header & cell::newline_flag);
}

// A context without an owner value (the global one while nothing holds it)
// answers none, as an unbound word does.
uint32_t context_q(const Call&) {
    const Cell* w = stack::args;
    if (!w->payload1) return answer(*shared::none());
    Cell owner = *context::owner_cell(w->payload1);
    if (cell::is(&owner, type::unset)) return answer(*shared::none());
    return answer(owner);
}

}  // namespace kel::natives
