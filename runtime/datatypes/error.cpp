// error!: construction from the catalog, the printed form, mold, path
// access and comparison. Construction, copy and field access are object!'s.
#include "runtime/datatypes/error.hpp"

#include <cstring>
#include <string>

#include "runtime/actions.hpp"
#include "runtime/collector.hpp"
#include "runtime/context.hpp"
#include "runtime/cycles.hpp"
#include "runtime/datatype.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/object.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/error.hpp"
#include "runtime/exits.hpp"
#include "runtime/interp.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"
#include "runtime/words.hpp"

namespace kel::error {

namespace {

constexpr uint32_t category_count = 10;
constexpr uint32_t user_category = 8, internal_category = 9;
constexpr int32_t near_limit = 40, argument_limit = 80;

NodeId ctx_of(const Cell* e) { return e->payload1; }

Cell word_in(NodeId ctx, uint32_t index) {
    Cell w = *context::word_at(ctx, index);
    return Cell{type::word, ctx, w.payload2, index};
}

// The category index named by a word, or -1.
int32_t category_of(const Cell* word) {
    if (!catalog_ready() || !word::any_word_q(cell::type_of(word))) return -1;
    return context::find_word_index(catalog.payload1, word->payload2, true);
}

// The id position in the category named by a word, or -1.
int32_t id_of(NodeId category, const Cell* word) {
    if (!category || !word::any_word_q(cell::type_of(word))) return -1;
    int32_t i = context::find_word_index(category, word->payload2, true);
    return i >= 2 ? i : -1;
}

void set_code(const Cell* e, int32_t category, int32_t id) {
    cell::set_integer(field_of(e, field::code), category * 100 + id - 2);
}

// A fresh error: a copy of the prototype, retyped, class 1, no handlers.
void copy_prototype(Cell* out) {
    object::copy_context(&prototype, out, false, nullptr);
    out->header = type::error;
    out->payload2 = class_id;
    out->payload3 = 0;
    *context::owner_cell(out->payload1) = *out;
}

int32_t put_text(Cell* out, const char* text, size_t n, int32_t limit) {
    string::append_utf8(out, text, n);
    return limit - int32_t(n);
}
int32_t put_text(Cell* out, const char* text, int32_t limit) { return put_text(out, text, std::strlen(text), limit); }

// Molds (or forms) a value into text, cut to `cap` characters; types
// without a handler of their own show their datatype's name.
std::string text_of(const Cell* value, bool molding, bool only, int32_t cap) {
    collector::RootCell v, s;
    v.cell = *value;
    string::make(&s.cell, 32);
    uint8_t t = cell::type_of(&v.cell);
    Cell part;
    cell::set_integer(&part, cap);
    if (datatype::handler(t, molding ? action::mold : action::form)) {
        if (molding) actions::mold(&v.cell, &s.cell, only, false, true, &part, cap, 0);
        else actions::form(&v.cell, &s.cell, &part, cap);
    } else if (series::is_text(t)) {
        std::string text = string::to_utf8(&v.cell);
        if (molding) text = "\"" + text + "\"";
        string::append_utf8(&s.cell, text.data(), text.size());
    } else if (const char* name = datatype::names[t].name) {
        string::append_ascii(&s.cell, name, std::strlen(name));
    }
    string::truncate(&s.cell, uint32_t(cap));
    return string::to_utf8(&s.cell);
}

// The error's trace level: there is no runtime-state object to ask, so 1.
int32_t trace_level() { return 1; }

bool named_frame(const stack::Frame* f) {
    if (!f->symbol) return false;
    uint32_t s = f->symbol;
    return s != words::words.body->payload2 && s != words::words.anon->payload2;
}

// The calls from the bottom up to the frame position: with mode 1 only
// those naming a function!, with mode 2 or more every named one. Each goes
// to the callback as a word.
template <class Each>
void each_call(int32_t mode, uint32_t end, Each each) {
    for (uint32_t i = 1; i < end && i < stack::frame_records; ++i) {
        const stack::Frame* f = stack::frames + i;
        if (!named_frame(f)) continue;
        NodeId ctx = f->context ? f->context : context::global;
        if (mode == 1) {
            const Cell* v = context::on_stack(ctx) ? nullptr : context::value_of_symbol(f->symbol, ctx);
            if (!v || !cell::is(v, type::function)) continue;
        }
        each(Cell{type::word, ctx, f->symbol, uint32_t(-1)});
    }
}

// Turns the error into internal invalid-error with the offending value.
void make_invalid(const Cell* e, const Cell* offending) {
    Cell v = *offending;
    *field_of(e, field::arg1) = v;
    NodeId internal = category_context(internal_category);
    Cell w{type::word, catalog.payload1, symbol::make("internal"), internal_category};
    *field_of(e, field::type) = w;
    int32_t id = internal ? context::find_word_index(internal, symbol::make(id::invalid_error.name), true) : -1;
    if (id >= 0) {
        *field_of(e, field::id) = word_in(internal, uint32_t(id));
        set_code(e, internal_category, id);
    }
}

// The message of a template block: its pieces separated by one space.
int32_t form_message(const Cell* e, const Cell* block, Cell* out, int32_t limit) {
    collector::RootCell tmpl;
    tmpl.cell = *block;
    bool syntax = false;
    int32_t category = category_of(field_of(e, field::type));
    if (category == 2) syntax = true;
    uint32_t n = series::cell_count(tmpl.cell.payload2);
    bool first = true;
    for (uint32_t i = uint32_t(series::clamped_index(&tmpl.cell)); i < n; ++i) {
        Cell piece = series::cells_of(tmpl.cell.payload2)[i];
        std::string text;
        if (series::is_text(cell::type_of(&piece))) {
            text = string::to_utf8(&piece);
        } else if (cell::is(&piece, type::word) || cell::is(&piece, type::get_word)) {
            int32_t at = context::find_word_index(ctx_of(e), piece.payload2, true);
            if (at < 0) continue;
            Cell v = *object::value_at(ctx_of(e), uint32_t(at));
            // In a frame of its own; the caller's cells (the output string)
            // stay on the stack.
            Cell* kept = stack::top;
            stack::mark_native(words::words.body);
            text = text_of(&v, !syntax, false, argument_limit);
            stack::unwind();
            stack::top = kept;
        } else {
            continue;
        }
        if (!first) limit = put_text(out, " ", limit);
        first = false;
        limit = put_text(out, text.data(), text.size(), limit);
    }
    return limit;
}

}  // namespace

Cell* field_of(const Cell* e, uint32_t index) { return object::value_at(ctx_of(e), index); }

void make_with_args(Cell* out, uint32_t category, const char* id, const Cell* arg1, const Cell* arg2,
                    const Cell* arg3) {
    // The arguments first: they may lie in buffers the copy moves.
    collector::RootCell args[3];
    const Cell* given[3] = {arg1, arg2, arg3};
    for (int i = 0; i < 3; ++i)
        if (given[i]) args[i].cell = *given[i];
    copy_prototype(out);
    NodeId cat = category_context(category);
    if (cat) *field_of(out, field::type) = Cell{type::word, catalog.payload1, context::word_at(catalog.payload1, category)->payload2, category};
    uint32_t sym = symbol::make(id);
    int32_t at = cat ? context::find_word_index(cat, sym, true) : -1;
    if (at >= 2) {
        *field_of(out, field::id) = word_in(cat, uint32_t(at));
        set_code(out, int32_t(category), at);
    } else {
        *field_of(out, field::id) = Cell{type::word, 0, sym, uint32_t(-1)};
    }
    for (int i = 0; i < 3; ++i)
        if (given[i]) *field_of(out, field::arg1 + uint32_t(i)) = args[i].cell;
}

void set_where(const Cell* e, const Cell* word) {
    Cell* w = field_of(e, field::where);
    if (cell::is(w, type::none)) *w = *word;
}

void set_stack_trace(const Cell* e_in) {
    collector::RootCell e, trace;
    e.cell = *e_in;
    const Cell* s = field_of(&e.cell, field::stack);
    if (!cell::is(s, type::integer)) return;
    uint32_t end = uint32_t(cell::integer(s));
    block::make_at(&trace.cell, 20);
    each_call(trace_level(), end, [&](const Cell& w) { block::ks_append(&trace.cell, &w); });
    *field_of(&e.cell, field::stack) = trace.cell;
}

Cell get_call_argument_word(const Cell* callable, uint32_t i) {
    uint8_t t = cell::type_of(callable);
    if (t == type::native || t == type::action || t == type::op || t == type::function || t == type::routine) {
        NodeId spec = callable->payload2;
        uint32_t seen = 0;
        for (uint32_t k = 0; spec && k < series::cell_count(spec); ++k) {
            Cell c = series::cells_of(spec)[k];
            uint8_t ct = cell::type_of(&c);
            if (ct != type::word && ct != type::lit_word && ct != type::get_word && ct != type::refinement) continue;
            if (seen++ == i) return c;
        }
    }
    return *words::words.anon;
}

// ---- make

Cell* make(Cell*, Cell* spec_in, uint8_t) {
    collector::RootCell e, spec;
    spec.cell = *spec_in;
    copy_prototype(&e.cell);
    uint8_t st = cell::type_of(&spec.cell);
    Cell type_word = *words::words.type, id_word = *words::words.id;
    if (st == type::integer) {
        int32_t code = cell::integer(&spec.cell);
        int32_t category = code / 100, id = code % 100 + 2;
        NodeId cat = code < 0 ? 0 : category_context(uint32_t(category));
        if (!cat || uint32_t(id) >= context::word_count(cat)) fire(id::out_of_range, &spec.cell);
        *field_of(&e.cell, field::code) = spec.cell;
        *field_of(&e.cell, field::type) = word_in(catalog.payload1, uint32_t(category));
        *field_of(&e.cell, field::id) = word_in(cat, uint32_t(id));
    } else if (st == type::block) {
        Cell first;
        uint32_t at = uint32_t(series::clamped_index(&spec.cell)), n = series::cell_count(spec.cell.payload2);
        if (at < n) first = series::cells_of(spec.cell.payload2)[at];
        else cell::set_none(&first);
        if (cell::is(&first, type::word)) {
            int32_t category = category_of(&first);
            if (category < 0) fire(error::id::invalid_spec_field, &type_word);
            *field_of(&e.cell, field::type) = word_in(catalog.payload1, uint32_t(category));
            if (at + 1 >= n) fire(error::id::invalid_spec_field, &id_word);
            Cell second = series::cells_of(spec.cell.payload2)[at + 1];
            if (!cell::is(&second, type::word)) fire(error::id::invalid_arg, &second);
            NodeId cat = category_context(uint32_t(category));
            int32_t id = id_of(cat, &second);
            if (id < 0) fire(error::id::invalid_spec_field, &id_word);
            *field_of(&e.cell, field::id) = word_in(cat, uint32_t(id));
            set_code(&e.cell, category, id);
        } else if (cell::is(&first, type::set_word)) {
            context::bind_block(&spec.cell, e.cell.payload1, true);
            Cell* kept = stack::top;
            if (interp::eval_block(&spec.cell, false)) exits::raise_pending();
            stack::top = kept;
            Cell t = *field_of(&e.cell, field::type);
            int32_t category = cell::is(&t, type::word) ? category_of(&t) : -1;
            if (category < 0) fire(error::id::invalid_spec_field, &type_word);
            NodeId cat = category_context(uint32_t(category));
            Cell i = *field_of(&e.cell, field::id);
            int32_t id = cell::is(&i, type::word) ? id_of(cat, &i) : -1;
            if (id < 0) fire(error::id::invalid_spec_field, &id_word);
            *field_of(&e.cell, field::type) = word_in(catalog.payload1, uint32_t(category));
            *field_of(&e.cell, field::id) = word_in(cat, uint32_t(id));
            set_code(&e.cell, category, id);
        } else {
            fire(error::id::invalid_error, &spec.cell);
        }
    } else if (st == type::string) {
        NodeId cat = category_context(user_category);
        *field_of(&e.cell, field::type) = word_in(catalog.payload1, user_category);
        *field_of(&e.cell, field::id) = word_in(cat, 2);
        set_code(&e.cell, user_category, 2);
        *field_of(&e.cell, field::arg1) = spec.cell;
    } else {
        Cell kind;
        cell::set_datatype(&kind, type::error);
        fire_bad_make_arg(&kind, &spec.cell);
    }
    return stack::push(&e.cell);
}

// ---- form and mold

int32_t form(const Cell* value, Cell* out, const Cell*, int32_t limit) {
    collector::RootCell e;
    e.cell = *value;
    limit = put_text(out, "*** ", limit);
    Cell t = *field_of(&e.cell, field::type);
    int32_t category = category_of(&t);
    if (category < 0 || !category_context(uint32_t(category))) {
        make_invalid(&e.cell, &t);
        category = int32_t(internal_category);
    }
    NodeId cat = category_context(uint32_t(category));
    Cell i = *field_of(&e.cell, field::id);
    int32_t id = id_of(cat, &i);
    if (id < 0) {
        make_invalid(&e.cell, &i);
        category = int32_t(internal_category);
        cat = category_context(internal_category);
        id = id_of(cat, field_of(&e.cell, field::id));
    }
    Cell tmpl;
    if (id >= 0) tmpl = *object::value_at(cat, uint32_t(id));
    else cell::set_none(&tmpl);
    if (cell::is(&tmpl, type::word)) {
        Cell w = tmpl;
        if (context::bind_word(e.cell.payload1, &w) >= 0) tmpl = *word::fetch(&w);
    }
    Cell text = *object::value_at(cat, 1);
    if (series::is_text(cell::type_of(&text))) {
        std::string s = string::to_utf8(&text);
        limit = put_text(out, s.data(), s.size(), limit);
    }
    limit = put_text(out, ": ", limit);
    if (series::is_text(cell::type_of(&tmpl))) {
        std::string s = string::to_utf8(&tmpl);
        limit = put_text(out, s.data(), s.size(), limit);
    } else if (cell::is(&tmpl, type::block)) {
        limit = form_message(&e.cell, &tmpl, out, limit);
    } else {
        make_invalid(&e.cell, &tmpl);
    }

    limit = put_text(out, "\n*** Where: ", limit);
    Cell where = *field_of(&e.cell, field::where);
    if (cell::is(&where, type::word)) {
        std::string s(symbol::name(where.payload2));
        limit = put_text(out, s.data(), s.size(), limit);
    } else if (series::is_text(cell::type_of(&where))) {
        std::string s = string::to_utf8(&where);
        limit = put_text(out, s.data(), s.size(), limit);
    } else {
        limit = put_text(out, "???", limit);
    }

    limit = put_text(out, "\n*** Near : ", limit);
    Cell near = *field_of(&e.cell, field::near);
    std::string s = text_of(&near, true, true, near_limit);
    limit = put_text(out, s.data(), s.size(), limit);

    if (trace_level() > 0) {
        Cell st = *field_of(&e.cell, field::stack);
        if (cell::is(&st, type::integer)) {
            limit = put_text(out, "\n*** Stack: ", limit);
            std::string calls;
            each_call(trace_level(), uint32_t(cell::integer(&st)), [&](const Cell& w) {
                calls += symbol::name(w.payload2);
                calls += ' ';
            });
            limit = put_text(out, calls.data(), calls.size(), limit);
        } else if (cell::is(&st, type::block)) {
            limit = put_text(out, "\n*** Stack: ", limit);
            std::string calls = text_of(&st, false, false, 0x7FFFFFFF);
            limit = put_text(out, calls.data(), calls.size(), limit);
        }
    }
    Cell files = *field_of(&e.cell, field::files);
    if (cell::is(&files, type::block)) {
        limit = put_text(out, "\n*** Files: ", limit);
        std::string f = text_of(&files, true, true, near_limit);
        limit = put_text(out, f.data(), f.size(), limit);
    }
    return limit;
}

int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, const Cell* part, int32_t limit,
             int32_t indent) {
    const Cell e = *value;
    if (cycles::detect(&e, out, limit, true)) return limit;
    cycles::Guard guard;
    cycles::push(e.payload1);
    if (!only) limit = put_text(out, "make error! [", limit);
    limit = object::mold_fields(&e, out, only, all, flat, part, limit, indent);
    if (indent > 0) limit = string::append_indent(out, indent, limit);
    if (!only) limit = put_text(out, "]", limit);
    return limit;
}

// ---- path access and comparison

Cell* eval_path(Cell* value, const Cell* element, const Cell* store, const Cell* path, const Cell* parent,
                const Cell* previous, int32_t step, bool case_, bool get, bool last, bool notify) {
    if (cell::is(element, type::word) && symbol::resolve(element->payload2) == symbol::resolve(words::symbols.stack)) {
        Cell p;
        if (path) p = *path;
        else p = *element;
        fire(error::id::invalid_path_set, &p);
    }
    return object::eval_path(value, element, store, path, parent, previous, step, case_, get, last, notify);
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
    if (cell::type_of(a) != cell::type_of(b)) return -2;
    return object::compare(a, b, op);
}

void register_type() {
    datatype::Row row(datatype::unsupported);
    row.handlers[action::reflect - 1] = datatype::inherit;
    row.handlers[action::copy - 1] = datatype::inherit;
    row.handlers[action::find - 1] = datatype::inherit;
    row.handlers[action::select - 1] = datatype::inherit;
    row.set(action::make, &make)
        .set(action::form, &form)
        .set(action::mold, &mold)
        .set(action::eval_path, &eval_path)
        .set(action::set_path, &eval_path)
        .set(action::compare, &compare);
    datatype::register_type({type::error, type::object, "error!", row.handlers});
}

}  // namespace kel::error
