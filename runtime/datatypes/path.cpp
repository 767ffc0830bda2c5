// paren! and the path family: construction, printed forms and action rows.
// Everything else is block!'s, reached through the rows' inheritance.
#include "runtime/datatypes/path.hpp"

#include <cmath>

#include "runtime/actions.hpp"
#include "runtime/cycles.hpp"
#include "runtime/datatype.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/error.hpp"
#include "runtime/stack.hpp"

namespace kel {
namespace {

Cell* push_as(const Cell* value, uint8_t t) {
    Cell* c = stack::push(value);
    cell::set_type(c, t);
    return c;
}

// One mark before or after a path's mold, counted against the limit.
int32_t mark(Cell* out, char c, int32_t limit) {
    string::append_ascii(out, &c, 1);
    return limit - 1;
}

}  // namespace

namespace path {

Cell* push(const Cell* value) { return push_as(value, type::path); }

Cell* box(Cell* out, int32_t capacity) { return block::make_at(out, capacity, type::path); }

Cell* make(Cell* proto, Cell* spec, uint8_t t) {
    const Cell x = *spec;
    uint8_t tx = cell::type_of(&x);
    if (series::is_any_block(tx)) return block::to(proto, spec, t);
    if (tx == type::integer) return block::make_at(stack::push_slot(), cell::integer(&x), t);
    if (tx == type::float_ || tx == type::percent) {
        double d = std::trunc(cell::real(&x));
        int32_t n = d >= 2147483647.0 ? 2147483647 : d >= 1.0 ? int32_t(d) : 1;  // NaN and below 1: 1
        return block::make_at(stack::push_slot(), n, t);
    }
    Cell kind{};
    cell::set_datatype(&kind, t);
    error::fire_bad_make_arg(&kind, &x);
}

Cell* to(Cell* proto, Cell* spec, uint8_t t) {
    uint8_t tx = cell::type_of(spec);
    if (tx != type::object && tx != type::typeset && tx != type::map) return block::to(proto, spec, t);
    const Cell x = *spec;
    Cell* r = block::push_new(1);
    block::ks_append(r, &x);
    cell::set_type(r, t);
    return r;
}

int32_t form(const Cell* value, Cell* out, const Cell* part, int32_t limit) {
    const Cell v = *value;
    if (cycles::detect(&v, out, limit, false)) return limit;
    cycles::Guard guard;
    cycles::push(v.payload2);
    int32_t start = series::clamped_index(&v);
    for (int32_t i = start; i < series::total_length(&v); ++i) {
        if (part && limit < 1) break;
        if (i > start) limit = mark(out, '/', limit);
        Cell item = *block::ks_abs_at(&v, i);
        limit = actions::form(&item, out, part, limit);
    }
    return limit;
}

int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, const Cell* part, int32_t limit,
             int32_t) {
    const Cell v = *value;
    if (cycles::detect(&v, out, limit, true)) return limit;
    cycles::Guard guard;
    cycles::push(v.payload2);
    int32_t start = series::clamped_index(&v);
    for (int32_t i = start; i < series::total_length(&v); ++i) {
        if (part && limit < 1) break;
        if (i > start) limit = mark(out, '/', limit);
        Cell item = *block::ks_abs_at(&v, i);
        limit = actions::mold(&item, out, only, all, flat, part, limit, 0);
    }
    return limit;
}

void register_type() {
    datatype::Row row(datatype::inherit);
    row.set(action::make, &make).set(action::to, &to).set(action::form, &form).set(action::mold, &mold);
    for (action::Slot s : {action::random, action::sort, action::trim}) row.handlers[s - 1] = datatype::unsupported;
    datatype::register_type({type::path, type::block, "path!", row.handlers});
}

}  // namespace path

namespace lit_path {

Cell* push(const Cell* value) { return push_as(value, type::lit_path); }

int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, const Cell* part, int32_t limit,
             int32_t indent) {
    limit = mark(out, '\'', limit);
    return path::mold(value, out, only, all, flat, part, limit, indent);
}

void register_type() {
    datatype::Row row(datatype::inherit);
    row.set(action::mold, &mold);
    datatype::register_type({type::lit_path, type::path, "lit-path!", row.handlers});
}

}  // namespace lit_path

namespace get_path {

Cell* push(const Cell* value) { return push_as(value, type::get_path); }

int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, const Cell* part, int32_t limit,
             int32_t indent) {
    limit = mark(out, ':', limit);
    return path::mold(value, out, only, all, flat, part, limit, indent);
}

void register_type() {
    datatype::Row row(datatype::inherit);
    row.set(action::mold, &mold);
    datatype::register_type({type::get_path, type::path, "get-path!", row.handlers});
}

}  // namespace get_path

namespace set_path {

Cell* push(const Cell* value) { return push_as(value, type::set_path); }

int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, const Cell* part, int32_t limit,
             int32_t indent) {
    limit = path::mold(value, out, only, all, flat, part, limit, indent);
    return mark(out, ':', limit);
}

void register_type() {
    datatype::Row row(datatype::inherit);
    row.set(action::mold, &mold);
    datatype::register_type({type::set_path, type::path, "set-path!", row.handlers});
}

}  // namespace set_path

namespace paren {

Cell* push(const Cell* value) { return push_as(value, type::paren); }

int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, const Cell* part, int32_t limit,
             int32_t indent) {
    return block::mold_items(value, out, only, all, flat, part, limit, indent, '(', ')');
}

void register_type() {
    datatype::Row row(datatype::inherit);
    row.set(action::mold, &mold);
    datatype::register_type({type::paren, type::block, "paren!", row.handlers});
}

}  // namespace paren
}  // namespace kel
