// unset!, none! and logic!: their action rows and the result, push and truth
// routines. Handlers that answer none, true or false answer the shared
// read-only cells; the rest write into the cell they were given.
#include "runtime/datatypes/logic.hpp"

#include "runtime/actions.hpp"
#include "runtime/context.hpp"
#include "runtime/datatype.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/error.hpp"
#include "runtime/random.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"

namespace kel {

namespace shared {
constinit const Cell none_cell{type::none, 0, 0, 0};
constinit const Cell true_cell{type::logic, 1, 0, 0};
constinit const Cell false_cell{type::logic, 0, 0, 0};
}  // namespace shared

namespace {

// Writes the text, and with /all inside "#(" ")"; answers the budget left.
int32_t write_text(Cell* out, const char* text, size_t n, bool all, int32_t limit) {
    if (all) string::append_ascii(out, "#(", 2);
    string::append_ascii(out, text, n);
    if (all) string::append_ascii(out, ")", 1);
    return limit - int32_t(n) - (all ? 3 : 0);
}

// unset! and none! equal themselves under the equality codes, same, and the
// two sort orders; they have no order of their own.
int32_t compare_unit_type(const Cell* a, const Cell* b, int32_t op) {
    if (cell::type_of(a) != cell::type_of(b)) return -2;
    switch (op) {
        case 0: case 1: case 2: case 7: case 8: case 9: case 12: return 0;
        default: return -2;
    }
}

Cell* appended(Cell* block, const Cell& value) {
    Cell* c = series::alloc_tail(block);
    *c = value;
    return c;
}

}  // namespace

// ---- unset!

namespace unset {
namespace {

Cell* make(Cell* proto, Cell*, uint8_t) {
    cell::set_unset(proto);
    return proto;
}

int32_t form(const Cell*, Cell*, const Cell*, int32_t limit) { return limit; }

int32_t mold(const Cell*, Cell* out, bool, bool all, bool, const Cell*, int32_t limit, int32_t) {
    return write_text(out, "unset", 5, all, limit);
}

}  // namespace

void register_type() {
    datatype::Row row(datatype::unsupported);
    row.set(action::make, &make).set(action::to, &make);
    row.set(action::form, &form).set(action::mold, &mold).set(action::compare, &compare_unit_type);
    datatype::register_type({type::unset, 0, "unset!", row.handlers});
}

Cell* set_last() {
    cell::set_unset(stack::args);
    return stack::args;
}

Cell* push() {
    Cell* c = stack::push_slot();
    cell::set_unset(c);
    return c;
}

Cell* make_in(Cell* block) { return appended(block, Cell{type::unset, 0, 0, 0}); }

}  // namespace unset

// ---- none!

namespace none {
namespace {

Cell* make(Cell*, Cell*, uint8_t) { return shared::none(); }

int32_t form(const Cell*, Cell* out, const Cell*, int32_t limit) {
    return write_text(out, "none", 4, false, limit);
}

int32_t mold(const Cell*, Cell* out, bool, bool all, bool, const Cell*, int32_t limit, int32_t) {
    return write_text(out, "none", 4, all, limit);
}

// The series actions a none! answers with none, so that code walking an
// optional series need not test for it first.
void clear(Cell*) {}
void remove(Cell*, const Cell*, const Cell*) {}
int32_t length(const Cell*) { return -1; }
Cell* find(Cell*, Cell*, const Cell*, bool, bool, bool, bool, const Cell*, const Cell*, bool, bool, bool, bool) {
    return shared::none();
}
Cell* select(Cell*, Cell*, const Cell*, bool, bool, bool, bool, const Cell*, const Cell*, bool, bool) {
    return shared::none();
}
Cell* take(Cell*, const Cell*, bool, bool) { return shared::none(); }

}  // namespace

void register_type() {
    datatype::Row row(datatype::unsupported);
    row.set(action::make, &make).set(action::to, &make);
    row.set(action::form, &form).set(action::mold, &mold).set(action::compare, &compare_unit_type);
    row.set(action::clear, &clear).set(action::find, &find).set(action::length_q, &length);
    row.set(action::remove, &remove).set(action::select, &select).set(action::take, &take);
    datatype::register_type({type::none, 0, "none!", row.handlers});
}

Cell* set_last() {
    cell::set_none(stack::args);
    return stack::args;
}

Cell* push() { return stack::push(&shared::none_cell); }

Cell* make_in(Cell* block) { return appended(block, shared::none_cell); }

}  // namespace none

// ---- logic!

namespace logic {
namespace {

bool truth(const Cell* c) { return c->payload1 == 1; }

Cell* to(Cell*, Cell* spec, uint8_t) {
    switch (cell::type_of(spec)) {
        case type::logic: return shared::logic(truth(spec));
        case type::none: return shared::logic(false);
        default: return shared::logic(true);
    }
}

Cell* make(Cell* proto, Cell* spec, uint8_t t) {
    switch (cell::type_of(spec)) {
        case type::integer: return shared::logic(cell::integer(spec) != 0);
        case type::float_:
        case type::percent: return shared::logic(cell::real(spec) != 0.0);  // a NaN is not 0.0: true
        default: return to(proto, spec, t);
    }
}

int32_t form(const Cell* value, Cell* out, const Cell*, int32_t limit) {
    return truth(value) ? write_text(out, "true", 4, false, limit) : write_text(out, "false", 5, false, limit);
}

int32_t mold(const Cell* value, Cell* out, bool, bool all, bool, const Cell*, int32_t limit, int32_t) {
    return truth(value) ? write_text(out, "true", 4, all, limit) : write_text(out, "false", 5, all, limit);
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
    if (!cell::is(b, type::logic)) return -2;
    switch (op) {
        case 0: case 1: case 2: case 7: case 8: case 9: case 12: return int32_t(a->payload1) - int32_t(b->payload1);
        default: return -2;  // true and false have no order
    }
}

void random(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        random::init_genrand(value->payload1);
        cell::set_unset(value);
        return;
    }
    uint32_t w = secure ? random::secure_word() : random::next_word();
    cell::set_logic(value, w > 1073741823);  // words are below 2^31: half of them lie above 2^30 - 1
}

Cell* complement(Cell* value) {
    value->payload1 ^= 1;
    return value;
}

// and~ or~ xor~ work on the stack: arguments[0] op arguments[1] into arguments[0].
template <class Op>
void bitwise(Op op) {
    Cell* a = stack::args;
    Cell* b = a + 1;
    if (!cell::is(b, type::logic)) {
        Cell where = stack::get_call_word();
        Cell kind;
        cell::set_datatype(&kind, cell::type_of(b));
        Cell argument{type::word, context::global, symbol::make("value2"), uint32_t(-1)};
        error::fire(error::id::expect_arg, &where, &kind, &argument);
    }
    a->payload1 = op(a->payload1, b->payload1);
}

void and_() { bitwise([](uint32_t x, uint32_t y) { return x & y; }); }
void or_() { bitwise([](uint32_t x, uint32_t y) { return x | y; }); }
void xor_() { bitwise([](uint32_t x, uint32_t y) { return x ^ y; }); }

}  // namespace

void register_type() {
    datatype::Row row(datatype::unsupported);
    row.set(action::make, &make).set(action::to, &to).set(action::random, &random);
    row.set(action::form, &form).set(action::mold, &mold).set(action::compare, &compare);
    row.set(action::and_, &and_).set(action::or_, &or_).set(action::xor_, &xor_).set(action::complement, &complement);
    datatype::register_type({type::logic, 0, "logic!", row.handlers});
}

Cell* set_last(bool v) {
    cell::set_logic(stack::args, v);
    return stack::args;
}

Cell* push(bool v) { return stack::push(shared::logic(v)); }

Cell* make_in(Cell* block, bool v) { return appended(block, *shared::logic(v)); }

bool cell_true_q(const Cell* c, bool strict) {
    switch (cell::type_of(c)) {
        case type::none: return false;
        case type::logic: return truth(c);
        case type::unset:
            if (strict) {
                Cell v = *c;
                error::fire(error::id::no_value, &v);
            }
            return true;
        default: return true;
    }
}

bool true_q() { return cell_true_q(stack::args, false); }

bool top_true_q() { return cell_true_q(stack::top == stack::args ? stack::args : stack::top - 1, false); }

bool top_false_q() { return !top_true_q(); }

bool check_condition() {
    if (cell::is(stack::args, type::unset)) error::fire(error::id::no_return);
    return cell_true_q(stack::args, false);
}

}  // namespace logic
}  // namespace kel
