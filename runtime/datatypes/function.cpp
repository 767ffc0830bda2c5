// function! and routine!: the spec grammar, building the values, the word
// collection of the `function` native, and their action handlers.
//
// Building allocates several times (the spec copy, the more series, the
// context, the body copy, the binding walk): the value being built lives in a
// rooted cell until it is complete, and every block is read through its node
// after each allocation. Errors are raised before anything is pushed, so no
// half-built value is left on the stack.
#include "runtime/datatypes/function.hpp"

#include <vector>

#include "runtime/collector.hpp"
#include "runtime/context.hpp"
#include "runtime/cycles.hpp"
#include "runtime/datatype.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/error.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"
#include "runtime/words.hpp"

namespace kel {
namespace {

// Cell i of a block, by value: the buffer may move under the caller.
Cell item(NodeId node, uint32_t i) { return series::cells_of(node)[i]; }

uint8_t type_at(NodeId node, uint32_t i) { return cell::type_of(series::cells_of(node) + i); }

// Whether a word cell names the symbol, ignoring case.
bool named(const Cell& w, uint32_t symbol) { return symbol::resolve(word::symbol(&w)) == symbol::resolve(symbol); }

bool is_argument_word(uint8_t t) { return t == type::word || t == type::lit_word || t == type::get_word; }

bool is_local(const Cell& c) {
    return cell::is(&c, type::refinement) && named(c, word::symbol(words::refinements.local));
}

int32_t put(Cell* out, const char* text, int32_t limit) {
    size_t n = std::char_traits<char>::length(text);
    string::append_ascii(out, text, n);
    return limit - int32_t(n);
}

[[noreturn]] void fire_with(error::Id id, const Cell& value) {
    Cell v = value;
    error::fire(id, &v);
}

// ---- the spec grammar

// Each entry of a type block names a datatype or typeset, directly or
// through a word.
void check_type_block(const Cell& types) {
    NodeId node = series::node_of(&types);
    for (uint32_t i = uint32_t(series::clamped_index(&types)); i < series::cell_count(node); ++i) {
        Cell entry = item(node, i);
        uint8_t t = cell::type_of(&entry);
        if (t == type::datatype || t == type::typeset) continue;
        if (t == type::word) {
            if (!word::context_of(&entry)) error::fire(error::id::no_value, &entry);
            const Cell* v = word::fetch(&entry);
            uint8_t vt = cell::type_of(v);
            if (vt == type::unset) error::fire(error::id::no_value, &entry);
            if (vt == type::datatype || vt == type::typeset || vt == type::word) continue;
        }
        error::fire(error::id::invalid_type_spec, &entry);
    }
}

void check_duplicates(const Cell& spec) {
    NodeId node = series::node_of(&spec);
    std::vector<uint32_t> seen;
    for (uint32_t i = uint32_t(series::clamped_index(&spec)); i < series::cell_count(node); ++i) {
        Cell c = item(node, i);
        uint8_t t = cell::type_of(&c);
        if (!is_argument_word(t) && t != type::refinement) continue;
        uint32_t s = symbol::resolve(word::symbol(&c));
        for (uint32_t earlier : seen)
            if (earlier == s) error::fire(error::id::dup_vars, &c);
        seen.push_back(s);
    }
}

// ---- building

// Fills fn (a rooted cell whose header is set) with the spec at index 0, a
// fresh more series and the context; answers whether the context was made.
bool build(Cell& fn, const Cell& spec_in, NodeId ctx) {
    fn.payload1 = ctx;  // a given context is held from the first allocation on
    Cell spec = spec_in;
    if (series::index_of(&spec) > 0) {
        spec = *block::clone(&spec, false, false);
        stack::pop(1);
    }
    fn.payload2 = series::node_of(&spec);
    NodeId more = alloc::alloc_unset_cells(function::more_cells);
    SeriesBuffer* b = alloc::buffer_of(more);
    b->tail = b->offset + function::more_cells * sizeof(Cell);
    fn.payload3 = more;
    bool made = !ctx;
    if (made) {
        Cell s{type::block, 0, function::spec_node(&fn), 0};
        ctx = context::make_from_block(&s, true, false, function::context_kind);
    }
    fn.payload1 = ctx;
    return made;
}

Cell integer_cell(int32_t v) {
    Cell c{};
    cell::set_integer(&c, v);
    return c;
}

// ---- word collection

bool in_list(NodeId list, const Cell& w) {
    uint32_t s = symbol::resolve(word::symbol(&w));
    for (uint32_t i = 0; i < series::cell_count(list); ++i) {
        Cell c = item(list, i);
        if (cell::is(&c, type::word) && symbol::resolve(word::symbol(&c)) == s) return true;
    }
    return false;
}

struct Collection {
    Cell* ignore;
    Cell* result;

    void collect(Cell w) {
        cell::set_type(&w, type::word);
        w.header &= cell::type_mask;
        if (in_list(series::node_of(ignore), w)) return;
        block::ks_append(ignore, &w);
        block::ks_append(result, &w);
    }

    void collect_words_of(const Cell& b) {
        NodeId node = series::node_of(&b);
        for (uint32_t i = uint32_t(series::clamped_index(&b)); i < series::cell_count(node); ++i)
            if (is_argument_word(type_at(node, i))) collect(item(node, i));
    }

    void walk(const Cell& b) {
        NodeId node = series::node_of(&b);
        if (cycles::find(node)) return;
        cycles::push(node);
        for (uint32_t i = uint32_t(series::clamped_index(&b)); i < series::cell_count(node); ++i) {
            Cell v = item(node, i);
            uint8_t t = cell::type_of(&v);
            if (t == type::set_word) {
                collect(v);
            } else if (t == type::word && i + 1 < series::cell_count(node)) {
                bool each = named(v, words::symbols.foreach) || named(v, words::symbols.remove_each);
                Cell next = item(node, i + 1);
                uint8_t nt = cell::type_of(&next);
                if (each && nt == type::block) collect_words_of(next);
                if ((each || named(v, words::symbols.repeat)) && (nt == type::word || nt == type::set_word))
                    collect(next);
            } else if (t == type::block || t == type::paren) {
                walk(v);
            }
        }
        cycles::pop();
    }
};

// The first cell at or after `from` that is the refinement, or -1.
int32_t find_refinement(NodeId node, uint32_t from, uint32_t symbol) {
    for (uint32_t i = from; i < series::cell_count(node); ++i) {
        Cell c = item(node, i);
        if (cell::is(&c, type::refinement) && named(c, symbol)) return int32_t(i);
    }
    return -1;
}

int32_t compare_identity(uint32_t x, uint32_t y, int32_t op) {
    switch (op) {
        case compare_op::equal: case compare_op::not_equal: case compare_op::strict_equal: case compare_op::sort:
        case compare_op::sort_case: case compare_op::same: case compare_op::find:
            return x < y ? -1 : x > y ? 1 : 0;
        default: return -2;
    }
}

}  // namespace

namespace function {

uint32_t check_spec(const Cell* spec_cell) {
    const Cell spec = *spec_cell;
    NodeId node = series::node_of(&spec);
    uint32_t n = series::cell_count(node), i = uint32_t(series::clamped_index(&spec));
    auto bad = [&]() { fire_with(error::id::bad_func_def, spec); };
    uint32_t flags = 0;

    if (i < n && type_at(node, i) == type::block) {
        Cell attributes = item(node, i++);
        NodeId a = series::node_of(&attributes);
        for (uint32_t k = uint32_t(series::clamped_index(&attributes)); k < series::cell_count(a); ++k) {
            Cell w = item(a, k);
            if (!cell::is(&w, type::word)) bad();
            if (named(w, words::symbols.trace)) flags |= trace_flag;
            else if (named(w, words::symbols.no_trace)) flags |= no_trace_flag;
        }
    }

    bool return_seen = false, local_seen = false;
    while (i < n) {
        Cell v = item(node, i);
        uint8_t t = cell::type_of(&v);
        if (is_argument_word(t)) {
            if (local_seen && t != type::word) bad();
            if (return_seen && !local_seen) bad();
            ++i;
            if (i < n && type_at(node, i) == type::block) {
                check_type_block(item(node, i));
                ++i;
            } else if (i + 1 < n && type_at(node, i) == type::string && type_at(node, i + 1) == type::block) {
                bad();  // the type block comes before the doc string
            }
        } else if (t == type::set_word) {
            if (!named(v, words::symbols.return_) || return_seen || local_seen) bad();
            if (i + 1 >= n || type_at(node, i + 1) != type::block) bad();
            if (i + 2 < n && type_at(node, i + 2) != type::refinement && type_at(node, i + 2) != type::string) bad();
            return_seen = true;
            i += 2;
        } else if (t == type::refinement) {
            if (is_local(v)) local_seen = true;
            else if (local_seen || return_seen) bad();
            ++i;
            if (i < n) {
                uint8_t nt = type_at(node, i);
                if (!is_argument_word(nt) && nt != type::refinement && nt != type::set_word && nt != type::string)
                    bad();
            }
        } else if (t == type::string) {
            ++i;
        } else {
            bad();
        }
    }
    check_duplicates(spec);
    return flags;
}

NodeId push(const Cell* spec, const Cell* body_in, NodeId ctx, uint32_t entry, NodeId owner, uint32_t flags) {
    collector::RootCell fn, body;
    cell::set_none(&body.cell);
    if (body_in) body.cell = *body_in;
    fn.cell = Cell{type::function | (flags & ~cell::type_mask), 0, 0, 0};
    bool made = build(fn.cell, *spec, ctx);
    ctx = function::context_of(&fn.cell);

    Cell copy = body.cell;
    if (series::is_any_block(cell::type_of(&copy))) {
        copy = *block::clone(&body.cell, true, true);
        stack::pop(1);
    }
    *function::more(&fn.cell, More::body) = copy;
    if (made && series::is_any_block(cell::type_of(&copy))) context::bind_block(&copy, ctx, false);

    if (entry) *function::more(&fn.cell, More::native_entry) = integer_cell(int32_t(entry));
    if (owner) *function::more(&fn.cell, More::owner_or_result) = integer_cell(int32_t(owner));
    *context::owner_cell(ctx) = fn.cell;
    stack::push(&fn.cell);
    return ctx;
}

Cell collect_words(Cell* spec_cell, const Cell* body_cell) {
    collector::RootCell spec, body, ignore, result;
    spec.cell = *spec_cell;
    body.cell = *body_cell;
    block::make_at(&result.cell, 8);
    ignore.cell = *block::clone(&spec.cell, false, false);
    stack::pop(1);

    NodeId node = series::node_of(&spec.cell);
    uint32_t from = uint32_t(series::clamped_index(&spec.cell));
    int32_t ext = find_refinement(node, from, word::symbol(words::refinements.extern_));
    if (ext >= 0) {
        int32_t local = find_refinement(node, uint32_t(ext) + 1, word::symbol(words::refinements.local));
        if (local >= 0)
            for (uint32_t i = uint32_t(local) + 1; i < series::cell_count(node); ++i)
                if (type_at(node, i) == type::word) block::ks_append(&result.cell, series::cells_of(node) + i);
        block::ks_truncate_at(&spec.cell, ext);
    }

    NodeId list = series::node_of(&ignore.cell);
    for (uint32_t i = 0; i < series::cell_count(list); ++i) {
        Cell* c = series::cells_of(list) + i;
        uint8_t t = cell::type_of(c);
        if (t == type::set_word || t == type::lit_word || t == type::get_word || t == type::refinement)
            cell::set_type(c, type::word);
        else if (ext >= 0 && t != type::block && t != type::string && t != type::word)
            fire_with(error::id::bad_func_extern, *c);
    }

    if (series::is_any_block(cell::type_of(&body.cell))) {
        cycles::Guard guard;
        Collection{&ignore.cell, &result.cell}.walk(body.cell);
    }

    if (block::ks_length_q(&result.cell) > 0) {
        if (find_refinement(node, from, word::symbol(words::refinements.local)) < 0)
            block::ks_append(&spec.cell, words::refinements.local);
        NodeId r = series::node_of(&result.cell);
        uint32_t kept = 0;
        for (uint32_t i = 0; i < series::cell_count(r); ++i) {
            Cell w = item(r, i);
            if (named(w, word::symbol(words::words.local))) continue;
            series::cells_of(r)[kept++] = w;
        }
        block::ks_truncate_at(&result.cell, int32_t(kept));
        Cell collected = result.cell;
        block::ks_append_block(&spec.cell, &collected);
    }
    return result.cell;
}

int32_t count_locals(const Cell* spec, int32_t index, bool must) {
    NodeId node = series::node_of(spec);
    int32_t at = find_refinement(node, uint32_t(index < 0 ? 0 : index), word::symbol(words::refinements.local));
    if (at < 0) return must ? -1 : 0;
    int32_t n = 1;
    for (uint32_t i = uint32_t(at) + 1; i < series::cell_count(node); ++i)
        if (type_at(node, i) == type::word) ++n;
    return n;
}

void init_locals(int32_t n) {
    stack::push(shared::logic(false));
    for (int32_t i = 1; i < n; ++i) stack::push(shared::none());
}

Cell* body_of(const Cell* value) { return more(value, More::body); }

Cell* make(Cell*, Cell* spec, uint8_t) {
    const Cell arg = *spec;
    if (!cell::is(&arg, type::block) || block::ks_length_q(&arg) < 2) fire_with(error::id::bad_func_def, arg);
    uint32_t at = uint32_t(series::clamped_index(&arg));
    Cell s = item(series::node_of(&arg), at), b = item(series::node_of(&arg), at + 1);
    if (!cell::is(&s, type::block) || !cell::is(&b, type::block)) fire_with(error::id::bad_func_def, arg);
    uint32_t flags = check_spec(&s);
    push(&s, &b, 0, 0, 0, flags);
    return stack::last();
}

void reflect(Cell* value, uint32_t field) {
    const Cell v = *value;
    uint32_t f = symbol::resolve(field);
    if (f == symbol::resolve(words::symbols.spec)) {
        *value = Cell{type::block, 0, spec_node(&v), 0};
    } else if (f == symbol::resolve(words::symbols.body)) {
        *value = *body_of(&v);
    } else if (f == symbol::resolve(words::symbols.words)) {
        Cell list{type::block, 0, context::words_block(context_of(&v)), 0};
        Cell copy = *block::clone(&list, false, false);
        stack::pop(1);
        Cell* w = series::cells_of(series::node_of(&copy));
        for (uint32_t i = 0, n = series::cell_count(series::node_of(&copy)); i < n; ++i) {
            cell::set_type(&w[i], type::word);
            w[i].payload1 = context_of(&v);
            w[i].payload3 = i;
        }
        *value = copy;
    } else {
        error::fire_not_done();
    }
}

int32_t form(const Cell*, Cell* out, const Cell*, int32_t limit) { return put(out, "?function?", limit); }

int32_t mold(const Cell* value, Cell* out, bool, bool all, bool flat, const Cell* part, int32_t limit,
             int32_t indent) {
    const Cell fn = *value;
    limit = put(out, "func ", limit);
    Cell spec{type::block, 0, spec_node(&fn), 0};
    limit = block::mold(&spec, out, false, all, flat, part, limit, indent);
    Cell body = *body_of(&fn);
    if (cell::is(&body, type::none)) return put(out, " none", limit);
    return block::mold(&body, out, false, all, flat, part, limit, indent);
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
    if (cell::type_of(a) != cell::type_of(b)) return -2;
    return compare_identity(more_node(a), more_node(b), op);
}

void register_type() {
    datatype::Row row(datatype::unsupported);
    row.set(action::make, &make)
        .set(action::reflect, &reflect)
        .set(action::form, &form)
        .set(action::mold, &mold)
        .set(action::compare, &compare);
    datatype::register_type({type::function, type::context, "function!", row.handlers});
}

}  // namespace function

namespace routine {
namespace {
std::vector<Entry> entries;  // the routine table; index i + 1 is entries[i]
}

uint32_t add_entry(Entry e) {
    for (size_t i = 0; i < entries.size(); ++i)
        if (entries[i] == e) return uint32_t(i + 1);
    entries.push_back(e);
    return uint32_t(entries.size());
}

Entry entry(uint32_t index) { return index >= 1 && index <= entries.size() ? entries[index - 1] : nullptr; }

Cell* push(const Cell* spec_in, const Cell* body_in, uint32_t entry_index, int32_t result_kind, bool flag) {
    collector::RootCell fn, body;
    cell::set_none(&body.cell);
    if (body_in) body.cell = *body_in;
    const Cell spec = *spec_in;
    // The count lives in five header bits; a longer spec would spill into
    // the new-line marker.
    uint32_t words = 0;
    NodeId node = series::node_of(&spec);
    for (uint32_t i = uint32_t(series::clamped_index(&spec)); i < series::cell_count(node); ++i)
        if (type_at(node, i) == type::word) ++words;
    if (words > max_arity) fire_with(error::id::bad_func_def, spec);

    fn.cell = Cell{type::routine | (flag ? maker_flag : 0) | (words << arity_shift), 0, 0, 0};
    build(fn.cell, spec, 0);
    *function::more(&fn.cell, function::More::body) = body.cell;
    *function::more(&fn.cell, function::More::native_entry) = integer_cell(int32_t(entry_index));
    *function::more(&fn.cell, function::More::owner_or_result) = integer_cell(result_kind);
    *context::owner_cell(function::context_of(&fn.cell)) = fn.cell;
    return stack::push(&fn.cell);
}

uint32_t arity(const Cell* routine) { return (routine->header >> arity_shift) & max_arity; }

int32_t form(const Cell*, Cell* out, const Cell*, int32_t limit) { return put(out, "?routine?", limit); }

int32_t mold(const Cell* value, Cell* out, bool, bool all, bool flat, const Cell* part, int32_t limit,
             int32_t indent) {
    const Cell fn = *value;
    limit = put(out, "routine ", limit);
    Cell spec{type::block, 0, function::spec_node(&fn), 0};
    limit = block::mold(&spec, out, false, all, flat, part, limit, indent);
    Cell body = *function::body_of(&fn);
    if (cell::is(&body, type::block)) return block::mold(&body, out, false, all, flat, part, limit, indent);
    limit = put(out, " ", limit);
    return actions::mold(&body, out, false, all, flat, part, limit, indent);
}

void register_type() {
    datatype::Row row(datatype::unsupported);
    row.handlers[action::reflect - 1] = datatype::inherit;
    row.set(action::form, &form).set(action::mold, &mold).set(action::compare, &function::compare);
    datatype::register_type({type::routine, type::function, "routine!", row.handlers});
}

}  // namespace routine
}  // namespace kel
