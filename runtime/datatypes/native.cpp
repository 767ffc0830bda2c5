// native!, action! and op!: making them from a spec and a table index (or,
// for op!, from another callable), and their reflect, form, mold and compare
// handlers. Calling them is the interpreter's work.
#include "runtime/datatypes/native.hpp"

#include <string>

#include "runtime/actions.hpp"
#include "runtime/collector.hpp"
#include "runtime/context.hpp"
#include "runtime/datatype.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/function.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/error.hpp"
#include "runtime/natives/natives.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"
#include "runtime/words.hpp"

namespace kel {
namespace {

bool named(const Cell& w, uint32_t symbol) { return symbol::resolve(w.payload2) == symbol::resolve(symbol); }

int32_t put(Cell* out, const char* text, int32_t limit) {
    size_t n = std::char_traits<char>::length(text);
    string::append_ascii(out, text, n);
    return limit - int32_t(n);
}

bool wraps_function(const Cell* op) {
    uint8_t s = op::source_type(op);
    return s == type::function || s == type::routine;
}

// make native! [spec index] and make action! [spec index].
Cell* make_builtin(Cell* proto, const Cell* arg_in, uint8_t t, uint32_t highest) {
    const Cell arg = *arg_in;
    Cell kind{};
    cell::set_datatype(&kind, t);
    if (!cell::is(&arg, type::block) || block::ks_length_q(&arg) != 2) error::fire_bad_make_arg(&kind, &arg);
    uint32_t at = uint32_t(series::clamped_index(&arg));
    const Cell* items = series::cells_of(series::node_of(&arg));
    Cell spec = items[at], index = items[at + 1];
    if (!cell::is(&spec, type::block) || !cell::is(&index, type::integer) || cell::integer(&index) < 1 ||
        uint32_t(cell::integer(&index)) > highest)
        error::fire_bad_make_arg(&kind, &arg);

    collector::RootCell fn;
    fn.cell = Cell{t, uint32_t(cell::integer(&index)), series::node_of(&spec), 0};
    // The spec is kept at its head, as for functions: reflect and the
    // context see the same words.
    if (series::index_of(&spec) > 0) {
        fn.cell.payload2 = series::node_of(block::clone(&spec, false, false));
        stack::pop(1);
    }
    NodeId extra = alloc::alloc_unset_cells(2);
    SeriesBuffer* b = alloc::buffer_of(extra);
    b->tail = b->offset + 2 * sizeof(Cell);
    cell::set_none(series::cells_of(extra) + 1);
    fn.cell.payload3 = extra;
    Cell spec_block{type::block, 0, function::spec_node(&fn.cell), 0};
    NodeId ctx = context::make_from_block(&spec_block, true, false, function::context_kind);
    series::cells_of(extra)[0] = *context::context_cell(ctx);
    *proto = fn.cell;
    return proto;
}

// The left argument of an op must be a plain word, and it takes exactly
// two; the scan ends at return:, /local or /extern.
bool op_spec_ok(NodeId spec) {
    int32_t count = 0;
    bool word_seen = false;
    for (uint32_t i = 0; i < series::cell_count(spec); ++i) {
        Cell c = series::cells_of(spec)[i];
        switch (cell::type_of(&c)) {
            case type::word:
                word_seen = true;
                ++count;
                break;
            case type::lit_word:
            case type::get_word:
                if (!word_seen) return false;
                ++count;
                break;
            case type::set_word:
                if (named(c, words::symbols.return_)) return count == 2;
                break;
            case type::refinement:
                if (named(c, word::symbol(words::refinements.local)) || named(c, word::symbol(words::refinements.extern_)))
                    return count == 2;
                return false;
            default: break;
        }
    }
    return count == 2;
}

}  // namespace

namespace native {

Cell* make(Cell* proto, Cell* spec, uint8_t t) { return make_builtin(proto, spec, t, natives::count); }

void reflect(Cell* value, uint32_t field) {
    const Cell v = *value;
    uint32_t f = symbol::resolve(field);
    if (f == symbol::resolve(words::symbols.spec)) {
        *value = Cell{type::block, 0, function::spec_node(&v), 0};
    } else if (f == symbol::resolve(words::symbols.body)) {
        if (cell::is(&v, type::op) && wraps_function(&v)) *value = *function::body_of(&v);
        else cell::set_integer(value, int32_t(entry_index(&v)));
    } else {
        error::fire_not_done();
    }
}

int32_t form(const Cell* value, Cell* out, const Cell*, int32_t limit) {
    switch (cell::type_of(value)) {
        case type::native: return put(out, "?native?", limit);
        case type::action: return put(out, "?action?", limit);
        default: return put(out, "?op?", limit);
    }
}

int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, const Cell* part, int32_t limit,
             int32_t indent) {
    const Cell v = *value;
    limit = put(out, cell::is(&v, type::native) ? "make native! [" : "make action! [", limit);
    Cell spec{type::block, 0, function::spec_node(&v), 0};
    limit = block::mold(&spec, out, only, all, flat, part, limit, indent);
    return put(out, "]", limit);
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
    if (cell::type_of(a) != cell::type_of(b)) return -2;
    switch (op) {
        case compare_op::equal: case compare_op::not_equal: case compare_op::strict_equal: case compare_op::sort:
        case compare_op::sort_case: case compare_op::same: case compare_op::find:
            return entry_index(a) < entry_index(b) ? -1 : entry_index(a) > entry_index(b) ? 1 : 0;
        default: return -2;
    }
}

void register_type() {
    datatype::Row row(datatype::unsupported);
    row.set(action::make, &make)
        .set(action::reflect, &reflect)
        .set(action::form, &form)
        .set(action::mold, &mold)
        .set(action::compare, &compare);
    datatype::register_type({type::native, 0, "native!", row.handlers});
}

}  // namespace native

namespace action_ {

Cell* make(Cell* proto, Cell* spec, uint8_t t) { return make_builtin(proto, spec, t, action::count); }

void register_type() {
    datatype::Row row(datatype::unsupported);
    row.handlers[action::reflect - 1] = datatype::inherit;
    row.set(action::make, &make)
        .set(action::form, &native::form)
        .set(action::mold, &native::mold)
        .set(action::compare, &native::compare);
    datatype::register_type({type::action, type::native, "action!", row.handlers});
}

}  // namespace action_

namespace op {

Cell* make(Cell* proto, Cell* source, uint8_t) {
    const Cell src = *source;
    uint8_t t = cell::type_of(&src);
    if (t != type::native && t != type::action && t != type::function && t != type::routine) {
        error::fire_invalid_type(t);
    }
    if (!op_spec_ok(function::spec_node(&src))) error::fire(error::id::bad_op_spec);
    if (t == type::function || t == type::routine) *function::more(&src, function::More::op_copy) = src;
    Cell result = src;
    result.header = type::op | uint32_t(t) << 16;
    *proto = result;
    return proto;
}

int32_t mold(const Cell* value, Cell* out, bool, bool all, bool flat, const Cell* part, int32_t limit,
             int32_t indent) {
    const Cell v = *value;
    bool from_function = source_type(&v) == type::function;
    limit = put(out, "make op! ", limit);
    limit = put(out, from_function ? "func " : "[", limit);
    Cell spec{type::block, 0, function::spec_node(&v), 0};
    // Closing the frame must not drop what the caller has pushed, even when
    // no frame was open before this one.
    Cell* top = stack::top;
    Cell* args = stack::args;
    stack::mark_native(words::words.anon);
    limit = block::mold(&spec, out, false, all, flat, part, limit, indent);
    stack::revert();
    stack::top = top;
    stack::args = args;
    if (!from_function) return put(out, "]", limit);
    Cell body = *function::body_of(&v);
    if (cell::is(&body, type::block)) limit = block::mold(&body, out, false, all, flat, part, limit, indent);
    return limit;
}

void register_type() {
    datatype::Row row(datatype::unsupported);
    row.handlers[action::reflect - 1] = datatype::inherit;
    row.set(action::make, &make)
        .set(action::form, &native::form)
        .set(action::mold, &mold)
        .set(action::compare, &native::compare);
    datatype::register_type({type::op, type::native, "op!", row.handlers});
}

}  // namespace op
}  // namespace kel
