#include "runtime/datatypes/hash.hpp"

#include <algorithm>

#include "runtime/checks.hpp"
#include "runtime/datatype.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/error.hpp"
#include "runtime/hashtable.hpp"
#include "runtime/stack.hpp"
#include "runtime/words.hpp"

namespace kel::hash {
namespace {

Cell* make(Cell* proto, Cell* spec, uint8_t t);

Cell* to(Cell* proto, Cell* spec, uint8_t) {
    const Cell x = *spec;
    Cell* r;
    if (cell::is(&x, type::hash)) {
        r = block::clone(&x, false, false);
    } else {
        Cell* held = stack::push(&x);
        r = block::to(proto, held, type::block);
    }
    return index_block(r);
}

Cell* make(Cell* proto, Cell* spec, uint8_t) {
    const Cell x = *spec;
    switch (cell::type_of(&x)) {
        case type::integer: case type::float_:
            return index_block(block::make_at(stack::push_slot(), std::max(integer::check_float_range(&x), 1)));
        case type::block: case type::hash:
            return index_block(block::clone(&x, false, false));
        default:
            return to(proto, spec, type::hash);
    }
}

int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, const Cell* part, int32_t limit,
             int32_t indent) {
    if (!only) {
        string::append_ascii(out, "make hash! ", 11);
        limit -= 11;
        if (part && limit <= 0) return limit;
    }
    return block::mold_items(value, out, only, all, flat, part, limit, indent, '[', ']');
}

Cell* copy(Cell* value, Cell* result, const Cell* part, bool deep, const Cell* kind) {
    block::copy(value, result, part, deep, kind);
    cell::set_type(result, type::block);
    return index_block(result);
}

// sort and trim: the block action, then the table built again in the new order.
void rebuild(const Cell* h) {
    if (!h->payload3) return;
    hashtable::rebuild(h->payload3, uint32_t(std::max(series::total_length(h), 1)));
}

Cell* sort(Cell* h, bool case_, const Cell* skip, const Cell* comparator, const Cell* part, bool all, bool reverse,
           bool stable) {
    const Cell held = *h;
    Cell* r = block::sort(h, case_, skip, comparator, part, all, reverse, stable);
    rebuild(&held);
    return r;
}

void trim(Cell* h, bool head, bool tail, bool auto_, bool lines, bool all, const Cell* with) {
    block::trim(h, head, tail, auto_, lines, all, with);
    rebuild(h);
}

}  // namespace

Cell* index_block(Cell* out) {
    cell::set_type(out, type::block);  // a collection while the table is made sees a plain block
    uint32_t n = uint32_t(std::max(series::total_length(out), 1));
    NodeId table = hashtable::init(n, out->payload2, hashtable::hash_cells, 0);
    out->payload3 = table;
    cell::set_type(out, type::hash);
    return out;
}

void unindex(const Cell* s, int32_t from) {
    if (!cell::is(s, type::hash) || !s->payload3) return;
    int32_t end = series::total_length(s);
    for (int32_t i = std::max(from, 0); i < end; ++i) hashtable::remove(s->payload3, uint32_t(i));
}

void reindex(const Cell* s, int32_t from) {
    if (!cell::is(s, type::hash) || !s->payload3) return;
    NodeId table = s->payload3;
    int32_t total = series::total_length(s), end = total;
    from = std::max(from, 0);
    if (end <= from) return;
    // A put that fills the table rebuilds it over the whole block, which
    // would index the cells still to come twice: rebuild once instead.
    hashtable::Record* r = hashtable::record(table);
    if (r->occupied + uint32_t(end - from) >= r->upper) {
        hashtable::rebuild(table, uint32_t(std::max(total, 1)));
        return;
    }
    for (int32_t i = from; i < end; ++i) hashtable::put(table, uint32_t(i));
}

int32_t find(const Cell* h, const Cell* value, const Cell* part, bool only, bool case_, bool same,
             const Cell* skip, bool last, bool reverse, bool match) {
    if (!h->payload3 || part || match) return -2;
    uint8_t t = cell::type_of(value);
    if (series::is_any_block(t) && !(same && only)) return -2;
    if ((t == type::datatype || t == type::typeset) && !only) return -2;
    if (t == type::object && !same) return -2;
    int32_t step = 1;
    if (skip) {
        if (!cell::is(skip, type::integer)) error::fire_bad_refinement(words::refinements.skip, skip);
        step = cell::integer(skip);
        if (step < 1) error::fire(error::id::out_of_range, skip);
    }
    int32_t total = series::total_length(h), start = std::clamp(series::index_of(h), 0, total);
    if (!reverse && !last && start >= total) return -1;
    int32_t op = same ? 9 : case_ ? 2 : 0;
    const Cell key = *value;
    Cell* found = hashtable::get(h->payload3, &key, start, step, op, last, reverse);
    if (!found) return -1;
    return int32_t(found - series::cells_of(h->payload2));
}

void register_type() {
    datatype::Row row(datatype::inherit);
    row.set(action::make, &make)
        .set(action::to, &to)
        .set(action::mold, &mold)
        .set(action::copy, &copy)
        .set(action::sort, &sort)
        .set(action::trim, &trim);
    for (action::Slot s : {action::random, action::set_path, action::create, action::close, action::delete_,
                           action::open, action::open_q, action::query, action::read, action::rename,
                           action::update, action::write})
        row.handlers[s - 1] = datatype::unsupported;
    for (int s = action::absolute; s <= action::xor_; ++s) row.handlers[s - 1] = datatype::unsupported;
    datatype::register_type({type::hash, type::block, "hash!", row.handlers});
}

}  // namespace kel::hash
