// block!: searching and changing blocks. find and select, put, append and
// insert, change, take, swap, trim, sort and the set operations; paren!, the
// path types and hash! inherit them.
//
// Every edit first takes copies of the cells it will add (the value may be a
// position in the very block being changed, whose buffer the edit may grow
// or move), then checks its arguments, then changes the block: nothing
// changes before a check that fails. Counts are clamped to the block.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "runtime/actions.hpp"
#include "runtime/alloc.hpp"
#include "runtime/collector.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/hash.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/error.hpp"
#include "runtime/exits.hpp"
#include "runtime/hashtable.hpp"
#include "runtime/call.hpp"
#include "runtime/interp.hpp"
#include "runtime/sort.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"
#include "runtime/system.hpp"
#include "runtime/words.hpp"

namespace kel::block {
namespace {

Cell* cells(NodeId node) { return series::cells_of(node); }

// The cells a value adds: an any-block's cells from its index (unless
// only), else the value itself; copied out, so that the block they come
// from may change under them. One value needs no buffer of its own.
class CellsToAdd {
public:
    CellsToAdd(const Cell* value, bool only, int32_t count) {
        if (!only && series::is_any_block(cell::type_of(value))) {
            int32_t from = series::clamped_index(value), n = series::total_length(value) - from;
            if (count >= 0) n = std::min(n, count);
            const Cell* c = cells(value->payload2) + from;
            many_.assign(c, c + n);
            data_ = many_.data();
            size_ = many_.size();
        } else {
            one_ = *value;
        }
    }
    CellsToAdd(const CellsToAdd&) = delete;
    CellsToAdd& operator=(const CellsToAdd&) = delete;
    size_t size() const { return size_; }
    const Cell& operator[](size_t k) const { return data_[k]; }

private:
    Cell one_{};
    std::vector<Cell> many_;
    const Cell* data_ = &one_;
    size_t size_ = 1;
};

// Opens a gap of n cells at position `at`; answers the buffer. Grows to the
// needed size, doubled when `roomy`.
SeriesBuffer* open_gap(NodeId node, uint32_t at, uint32_t n, bool roomy) {
    SeriesBuffer* b = alloc::buffer_of(node);
    uint32_t length = (b->tail - b->offset) / sizeof(Cell);
    uint64_t need = (uint64_t(length) + n) * sizeof(Cell);
    if (b->offset + need > b->size) {
        b = alloc::expand_series(b, roomy ? 2 * need : need);
    }
    Cell* c = reinterpret_cast<Cell*>(b->data() + b->offset);
    std::memmove(c + at + n, c + at, size_t(length - at) * sizeof(Cell));
    b->tail += n * uint32_t(sizeof(Cell));
    return b;
}

// ---- find

struct Search {
    int32_t start;      // first position tried
    int32_t low;        // positions tried lie in low .. high
    int32_t high;
    int32_t step;
    bool one;           // /match: only the first position
};

// Whether the cells at i match the wanted value (a run of `run` cells when
// the value is a block searched for its content).
bool matches(const Cell* b, int32_t i, const Cell& wanted, int32_t run, bool only, int32_t op) {
    const Cell item = cells(b->payload2)[i];
    if (!only && cell::is(&wanted, type::datatype)) return cell::type_of(&item) == wanted.payload1;
    if (cell::is(&wanted, type::typeset)) return cell::typeset_has(&wanted, cell::type_of(&item));
    if (run >= 0) {
        for (int32_t k = 0; k < run; ++k) {
            const Cell a = cells(b->payload2)[i + k];
            const Cell v = cells(wanted.payload2)[series::clamped_index(&wanted) + k];
            if (actions::compare_raw(&a, &v, op) != 0) return false;
        }
        return true;
    }
    return actions::compare_raw(&item, &wanted, op) == 0;
}

// The position of the match and the length of what matched, or -1.
int32_t find_at(Cell* b, const Cell* value, const Cell* part, bool only, bool case_, bool same, const Cell* skip,
                bool last, bool reverse, bool match, int32_t* matched) {
    const Cell wanted = *value;
    int32_t total = series::total_length(b), position = series::index_of(b);
    if (total == 0 || (position >= total && !reverse)) return -1;
    position = std::clamp(position, 0, total);
    int32_t step = 1;
    if (skip) {
        if (!cell::is(skip, type::integer)) error::fire_bad_refinement(words::refinements.skip, skip);
        step = cell::integer(skip);
        if (step < 1) error::fire(error::id::out_of_range, skip);
    }
    int32_t end = total;  // one past the last cell searched
    if (part) {
        if (cell::is(part, type::integer)) {
            if (cell::integer(part) < 1) return -1;
            end = int32_t(std::min<int64_t>(int64_t(position) + cell::integer(part), total));
        } else {
            if (!series::same_series(part, b)) error::fire_bad_refinement(words::refinements.part, part);
            end = series::clamped_index(part);
        }
    }
    int32_t run = -1;  // a block value searched for its content
    if (!only && series::is_any_block(cell::type_of(&wanted))) run = series::length_from(&wanted);
    int32_t width = run >= 0 ? std::max(run, 1) : 1;
    if (run == 0) return -1;
    int32_t op = same ? 9 : case_ ? 2 : 12;
    Search s{};
    if (last) {
        s = {end - width, position, end - width, -step, match};
    } else if (reverse) {
        int32_t from = part ? end - width : position - width;
        s = {from, 0, from, -step, match};
    } else {
        s = {position, position, end - width, step, match};
    }
    if (s.start < s.low || s.start > s.high) return -1;
    for (int32_t i = s.start; i >= s.low && i <= s.high; i += s.step) {
        if (matches(b, i, wanted, run, only, op)) {
            *matched = width;
            return i;
        }
        if (s.one) break;
    }
    return -1;
}

// ---- sort

struct SortSpec {
    int32_t op;          // 7, or 8 with /case
    bool reverse;
    bool all;            // compare every cell of the record
    int32_t width;       // cells per record
    int32_t offset;      // /compare with an integer: the cell compared
    const Cell* function;  // /compare with a function
    Cell* scratch[2];    // /all /skip with a function: the records as blocks
};

bool nan_real(const Cell* c) {
    uint8_t t = cell::type_of(c);
    return (t == type::float_ || t == type::percent) && std::isnan(cell::real(c));
}

bool real_comparable(uint8_t t) {
    return t == type::integer || t == type::float_ || t == type::percent || t == type::time;
}

int compare_cells(const Cell* a, const Cell* b, int32_t op) {
    // A NaN is unordered against numbers, which would leave the order
    // partial and the numbers unsorted: it sorts after every number instead.
    bool nan_a = nan_real(a), nan_b = nan_real(b);
    if (nan_a || nan_b) [[unlikely]] {
        if (nan_a && nan_b) return 0;
        if (real_comparable(cell::type_of(nan_a ? b : a))) return nan_a ? 1 : -1;
    }
    int32_t r = actions::compare_raw(a, b, op);
    if (r == -2) r = int32_t(cell::type_of(a)) - int32_t(cell::type_of(b));
    return r;
}

int sort_compare(const void* x, const void* y, intptr_t ctx1, intptr_t) {
    const SortSpec& s = *reinterpret_cast<const SortSpec*>(ctx1);
    const Cell* a = static_cast<const Cell*>(s.reverse ? y : x);
    const Cell* b = static_cast<const Cell*>(s.reverse ? x : y);
    if (s.all) {
        for (int32_t k = 0; k < s.width; ++k)
            if (int r = compare_cells(a + k, b + k, s.op)) return r;
        return 0;
    }
    return compare_cells(a + s.offset, b + s.offset, s.op);
}

// The function's answer as an order: true 1, false -1, a number by its sign
// (a float by its comparison with 0.0), none -1, anything else 1.
int order_of(const Cell* r) {
    switch (cell::type_of(r)) {
        case type::logic: return r->payload1 ? 1 : -1;
        case type::integer: return cell::integer(r) > 0 ? 1 : cell::integer(r) < 0 ? -1 : 0;
        case type::float_: {
            double d = cell::real(r);
            return d > 0.0 ? 1 : d < 0.0 ? -1 : 0;
        }
        case type::none: return -1;
        default: return 1;
    }
}

int sort_call_function(const void* x, const void* y, intptr_t ctx1, intptr_t) {
    const SortSpec& s = *reinterpret_cast<const SortSpec*>(ctx1);
    // The second record first: the answer tells whether the first sorts after it.
    const Cell* first = static_cast<const Cell*>(s.reverse ? x : y);
    const Cell* second = static_cast<const Cell*>(s.reverse ? y : x);
    Cell values[2];
    const Cell* records[2] = {first, second};
    for (int k = 0; k < 2; ++k) {
        if (s.all && s.width > 1) {
            std::memcpy(cells(s.scratch[k]->payload2), records[k], size_t(s.width) * sizeof(Cell));
            values[k] = *s.scratch[k];
        } else {
            values[k] = *records[k];
        }
    }
    Cell* top = stack::top;
    if (call::with_values(*s.function, *words::words.compare_callback, values, 2)) exits::raise_pending();
    int r = order_of(stack::last());
    stack::top = top;
    return r;
}


// ---- set operations

// Looks the record at i of block up in a table over another block.
bool in_table(NodeId table, const Cell* key, int32_t skip, int32_t op) {
    return hashtable::get(table, key, 0, skip, op, false, false) != nullptr;
}

}  // namespace

// ---- find and select

Cell* find(Cell* b, Cell* value, const Cell* part, bool only, bool case_, bool same, bool, const Cell*,
           const Cell* skip, bool last, bool reverse, bool tail, bool match) {
    int32_t matched = 1;
    int32_t at = cell::is(b, type::hash) ? hash::find(b, value, part, only, case_, same, skip, last, reverse, match)
                                         : -2;
    if (at == -2) at = find_at(b, value, part, only, case_, same, skip, last, reverse, match, &matched);
    if (at < 0) return shared::none();
    b->payload1 = uint32_t(tail ? at + matched : at);
    return b;
}

Cell* select(Cell* b, Cell* value, const Cell* part, bool only, bool case_, bool same, bool any, const Cell* with,
             const Cell* skip, bool last, bool reverse) {
    int32_t matched = 1;
    int32_t at = cell::is(b, type::hash) ? hash::find(b, value, part, only, case_, same, skip, last, reverse, false)
                                         : -2;
    if (at == -2) at = find_at(b, value, part, only, case_, same, skip, last, reverse, false, &matched);
    if (at < 0) return shared::none();
    int32_t next = at + (only ? 1 : matched);
    if (next >= series::total_length(b)) return shared::none();
    return cells(b->payload2) + next;
}

Cell* put(Cell* b, Cell* key, Cell* value, bool case_) {
    const Cell k = *key, v = *value;
    Cell at = *b;
    int32_t matched = 0;
    int32_t found = cell::is(b, type::hash)
                        ? hash::find(&at, &k, nullptr, true, case_, false, nullptr, false, false, false)
                        : -2;
    if (found == -2) found = find_at(&at, &k, nullptr, true, case_, false, nullptr, false, false, false, &matched);
    int32_t total = series::total_length(b);
    if (found < 0) {
        bool told = series::notify(b, words::words.put, total, 1, &v);
        if (told) total = series::total_length(b);
        SeriesBuffer* buf = open_gap(b->payload2, uint32_t(total), 2, true);
        Cell* c = reinterpret_cast<Cell*>(buf->data() + buf->offset) + total;
        c[0] = k;
        c[1] = v;
        hash::reindex(b, total);
        if (told) series::notify(b, words::words.put_ed, total, 1, &v);
        *value = v;
        return value;
    }
    bool told = series::notify(b, words::words.put, found + 1, 1, &v);
    if (told) {
        total = series::total_length(b);
        found = std::min(found, total);
    }
    if (found + 1 < total) {
        Cell* slot = cells(b->payload2) + found + 1;
        if (actions::compare_raw(slot, &v, 12) != 0) {
            hash::unindex(b, found + 1);
            cells(b->payload2)[found + 1] = v;
            hash::reindex(b, found + 1);
        }
    } else {
        SeriesBuffer* buf = open_gap(b->payload2, uint32_t(total), 1, true);
        reinterpret_cast<Cell*>(buf->data() + buf->offset)[total] = v;
        hash::reindex(b, total);
    }
    if (told) series::notify(b, words::words.put_ed, found + 1, 1, &v);
    *value = v;
    return value;
}

// ---- adding and replacing

void insert(Cell* b, Cell* value, int32_t count, bool only, int32_t dup, bool append) {
    CellsToAdd added(value, only, count);
    int32_t total = series::total_length(b);
    int32_t at = append ? total : series::clamped_index(b);
    uint32_t n = uint32_t(series::checked_total(added.size(), dup, total));
    if (n > 0) {
        bool told = series::notify(b, append ? words::words.append : words::words.insert, at, int32_t(n), value);
        if (told) at = append ? series::total_length(b) : std::min(at, series::total_length(b));
        hash::unindex(b, at);  // the cells behind move up
        SeriesBuffer* buf = open_gap(b->payload2, uint32_t(at), n, dup < 5);
        Cell* c = reinterpret_cast<Cell*>(buf->data() + buf->offset) + at;
        for (uint32_t k = 0; k < n; ++k) c[k] = added[k % added.size()];
        hash::reindex(b, at);
        if (told) series::notify(b, append ? words::words.appended : words::words.inserted, at, int32_t(n), value);
    }
    b->payload1 = append ? 0 : uint32_t(std::min(at + int32_t(n), series::total_length(b)));
}

void change(Cell* b, Cell* value, int32_t count, bool only, int32_t dup) {
    CellsToAdd added(value, only, -1);
    int32_t total = series::total_length(b);
    int32_t at = series::clamped_index(b), rest = total - at;
    uint32_t n = uint32_t(series::checked_total(added.size(), dup, total));
    int32_t replaced = count >= 0 ? std::min(rest, count) : std::min<int64_t>(rest, n);
    bool told = series::notify(b, words::words.change, at, replaced, value);
    if (told) {
        total = series::total_length(b);
        at = std::min(at, total);
        replaced = std::min(replaced, total - at);
    }
    hash::unindex(b, at);
    if (n > uint32_t(replaced)) {
        open_gap(b->payload2, uint32_t(at + replaced), n - uint32_t(replaced), true);
    } else if (n < uint32_t(replaced)) {
        Cell* c = cells(b->payload2);
        std::memmove(c + at + n, c + at + replaced, size_t(total - at - replaced) * sizeof(Cell));
        alloc::buffer_of(b->payload2)->tail -= (uint32_t(replaced) - n) * uint32_t(sizeof(Cell));
    }
    Cell* c = cells(b->payload2) + at;
    for (uint32_t k = 0; k < n; ++k) c[k] = added[k % added.size()];
    hash::reindex(b, at);
    if (told) series::notify(b, words::words.changed, at, int32_t(n), value);
    b->payload1 = uint32_t(std::min(at + int32_t(n), series::total_length(b)));
}

Cell* take(Cell* b, const Cell* part, bool deep, bool last) {
    Cell* taken = series::take(b, part, deep, last);
    if (!deep || cell::is(taken, type::none)) return taken;
    // Each series among the taken cells becomes a deep copy of itself.
    auto deep_copy = [](Cell* slot) {
        if (!series::is_series(cell::type_of(slot))) return;
        Cell* source = stack::push(slot);
        Cell* result = stack::push_slot();
        cell::set_unset(result);
        Cell copied = *actions::handler<actions::Copy>(cell::type_of(source), action::copy, source)(
            source, result, nullptr, true, nullptr);
        stack::pop(2);
        *slot = copied;
    };
    if (!part) {
        deep_copy(taken);
        return taken;
    }
    for (int32_t i = 0; i < series::total_length(taken); ++i) {
        Cell item = cells(taken->payload2)[i];
        Cell* held = stack::push(&item);
        deep_copy(held);
        cells(taken->payload2)[i] = *held;
        stack::pop(1);
    }
    return taken;
}

void swap(Cell* a, Cell* b) {
    if (!series::is_any_block(cell::type_of(b))) error::fire(error::id::invalid_arg, b);
    if (series::ks_tail_q(a) || series::ks_tail_q(b)) return;
    int32_t i = series::clamped_index(a), j = series::clamped_index(b);
    bool told_a = series::notify(a, words::words.swap, i, 1);
    bool told_b = series::notify(b, words::words.swap, j, 1);
    if ((told_a || told_b) && (i >= series::total_length(a) || j >= series::total_length(b))) return;
    bool shared = a->payload2 == b->payload2;  // one table: kept in step once
    hash::unindex(a, shared ? std::min(i, j) : i);
    if (!shared) hash::unindex(b, j);
    std::swap(cells(a->payload2)[i], cells(b->payload2)[j]);
    hash::reindex(a, shared ? std::min(i, j) : i);
    if (!shared) hash::reindex(b, j);
    if (told_a) series::notify(a, words::words.swaped, i, 1);
    if (told_b) series::notify(b, words::words.swaped, j, 1);
}

void trim(Cell* b, bool, bool, bool, bool, bool, const Cell*) {
    int32_t at = series::clamped_index(b), total = series::total_length(b);
    bool told = series::notify(b, words::words.trim, at, total - at);
    if (told) {
        total = series::total_length(b);
        at = std::min(at, total);
    }
    Cell* c = cells(b->payload2);
    int32_t kept = at;
    for (int32_t i = at; i < total; ++i)
        if (!cell::is(c + i, type::none)) c[kept++] = c[i];
    alloc::buffer_of(b->payload2)->tail -= uint32_t(total - kept) * uint32_t(sizeof(Cell));
    if (told) series::notify(b, words::words.trimmed, at, total - at);
}

// ---- sort

Cell* sort(Cell* b, bool case_, const Cell* skip, const Cell* comparator, const Cell* part, bool all, bool reverse,
           bool stable) {
    series::SortRange range = series::sort_range(b, part);
    int32_t start = int32_t(range.start), count = int32_t(range.count);
    if (count <= 0) return b;
    series::SortRecords layout = series::sort_records(count, skip, comparator, all);
    SortSpec s{case_ ? 8 : 7, reverse, all, int32_t(layout.size), layout.offset < 0 ? 0 : int32_t(layout.offset),
               layout.function, {nullptr, nullptr}};
    sort::Compare compare = s.function ? sort_call_function : sort_compare;
    if (!all) s.all = false;
    size_t records = size_t(count / s.width), width = size_t(s.width) * sizeof(Cell);
    bool told = series::notify(b, words::words.sort, start, count);
    if (told) {
        count = std::min(count, std::max(series::total_length(b) - start, 0));
        count -= count % s.width;
        records = size_t(count / s.width);
    }
    if (!s.function) {
        Cell* base = cells(b->payload2) + start;
        if (stable) sort::stable_sort(base, records, width, intptr_t(&s), 0, compare);
        else sort::sort_records(base, records, width, intptr_t(&s), 0, compare);
    } else {
        Cell* kept_top = stack::top;
        if (s.all && s.width > 1)
            for (auto& scratch : s.scratch) {
                scratch = make_at(stack::push_slot(), s.width);
                alloc::buffer_of(scratch->payload2)->tail += uint32_t(width);
            }
        // The function runs Kel code while the records are sorted in a
        // snapshot the collector does not see (the block still holds their
        // cells): nothing is collected until they are written back, however
        // the function changed the block.
        collector::Pause pause;
        const Cell* first = cells(b->payload2) + start;
        std::vector<Cell> snapshot(first, first + count);
        if (stable) sort::stable_sort(snapshot.data(), records, width, intptr_t(&s), 0, compare);
        else sort::sort_records(snapshot.data(), records, width, intptr_t(&s), 0, compare);
        int32_t room = std::max(0, series::total_length(b) - start);
        std::copy_n(snapshot.begin(), std::min(count, room), cells(b->payload2) + start);
        stack::top = kept_top;
    }
    if (told) series::notify(b, words::words.sorted, start, count);
    return b;
}

// ---- set operations

void do_set_op(Cell* first, const Cell* second, bool case_, const Cell* skip, int32_t op) {
    int32_t n = 1;
    if (skip) {
        if (!cell::is(skip, type::integer) || cell::integer(skip) < 1)
            error::fire_bad_refinement(words::refinements.skip, skip);
        n = cell::integer(skip);
    }
    int32_t compare = case_ ? 2 : 12;
    const Cell a = *first;
    const Cell b = second ? *second : a;
    Cell* kept_top = stack::top;
    int32_t capacity = std::max(series::length_from(&a) + (op == 9 ? series::length_from(&b) : 0), 1);
    // Working values are hash! cells on the stack, so that the collector
    // keeps each block and the table over it. The result indexes its own
    // cells: an item is added once.
    Cell* result = make_at(stack::push_slot(), capacity, type::block);
    result->payload3 = hashtable::init(uint32_t(capacity), result->payload2, hashtable::hash_cells, 0);
    cell::set_type(result, type::hash);
    Cell* other = stack::push_slot();
    cell::set_none(other);
    // A table over the items of a series from its position.
    auto index_items = [&](const Cell& source) {
        Cell* from = stack::push(&source);
        Cell* copied = stack::push_slot();
        cell::set_unset(copied);
        series::copy(from, copied, nullptr, false, nullptr);
        Cell items = *copied;
        stack::pop(2);
        cell::set_type(&items, type::hash);
        *other = items;
        other->payload3 =
            hashtable::init(uint32_t(std::max(series::total_length(&items), 1)), items.payload2, hashtable::hash_cells, 0);
        hashtable::load_block(other->payload3, 0, uint32_t(n));
    };
    if (op != 8) index_items(b);
    auto add_from = [&](const Cell& source, bool keep_if_in_other, bool check_other) {
        int32_t total = series::total_length(&source);
        for (int32_t i = series::clamped_index(&source); i + n <= total; i += n) {
            Cell key = cells(source.payload2)[i];
            if (check_other && in_table(other->payload3, &key, n, compare) != keep_if_in_other) continue;
            if (in_table(result->payload3, &key, n, compare)) continue;
            int32_t at = series::total_length(result);
            SeriesBuffer* buf = open_gap(result->payload2, uint32_t(at), uint32_t(n), true);
            std::memcpy(reinterpret_cast<Cell*>(buf->data() + buf->offset) + at, cells(source.payload2) + i,
                        size_t(n) * sizeof(Cell));
            hashtable::put(result->payload3, uint32_t(at));
        }
    };
    switch (op) {
        case 8: add_from(a, false, false); break;                                     // unique
        case 9: add_from(a, false, false); add_from(b, false, false); break;           // union
        case 10: add_from(a, true, true); break;                                       // intersect
        case 11: add_from(a, false, true); break;                                      // exclude
        default: {                                                                     // difference
            add_from(a, false, true);
            index_items(a);  // then the items of the second not in the first
            add_from(b, false, true);
        }
    }
    // The result is a hash! (keeping the table over its cells) when the
    // first series is one, or the second outside unique.
    Cell out = *result;
    bool as_hash = cell::is(&a, type::hash) || (op != 8 && cell::is(&b, type::hash));
    out.header = as_hash ? uint32_t(type::hash) : a.header;
    out.payload1 = 0;
    if (!as_hash) out.payload3 = 0;
    stack::top = kept_top;
    *first = out;
}

}  // namespace kel::block
