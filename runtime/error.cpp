#include "runtime/error.hpp"

#include <initializer_list>
#include <string>

#include "runtime/context.hpp"
#include "runtime/datatypes/error.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/exits.hpp"
#include "runtime/natives/natives.hpp"
#include "runtime/symbol.hpp"
#include "runtime/stack.hpp"
#include "runtime/throws.hpp"
#include "runtime/words.hpp"

namespace kel::error {

Pending pending;

namespace {

bool building = false;

// The error! value of the pending record. An error raised while it is made
// (memory running out) leaves the record as it was, without a value.
void build_value() {
    if (building || !catalog_ready()) return;
    Pending kept = pending;
    building = true;
    try {
        const Cell* a[3] = {};
        for (int i = 0; i < pending.arg_count; ++i) a[i] = &pending.args[i];
        make_with_args(&pending.value, uint32_t(pending.category), pending.id ? pending.id : "", a[0], a[1], a[2]);
    } catch (const Throw&) {
        pending = kept;
        cell::set_none(&pending.value);
    }
    building = false;
}

}  // namespace

void fire(Id id, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
    Pending p;
    p.category = id.category;
    p.id = id.name;
    for (const Cell* a : {arg1, arg2, arg3}) {
        if (!a) break;
        p.args[p.arg_count++] = *a;
    }
    pending = p;
    // Failing while the value of another error is made: straight back to
    // build_value, the frames untouched.
    if (building) throws::throw_code(throws::error);
    build_value();
    if (stack::frames) stack::throw_error();
    throws::throw_code(throws::error);
}

void fire_value(const Cell* value) {
    // The record names the error by its fields; the id text is kept here,
    // since symbol names move with the symbol table.
    static std::string id_text;
    static const char* const categories[] = {"throw", "note", "syntax", "script", "math",
                                             "access", "reserved1", "reserved2", "user", "internal"};
    Pending p;
    p.value = *value;
    const Cell* type = field_of(value, field::type);
    const Cell* id = field_of(value, field::id);
    p.category = Category::user;
    if (word::any_word_q(cell::type_of(type)))
        for (uint8_t k = 0; k < 10; ++k)
            if (symbol::name(type->payload2) == categories[k]) p.category = Category(k);
    id_text = word::any_word_q(cell::type_of(id)) ? std::string(symbol::name(id->payload2)) : std::string("user");
    p.id = id_text.c_str();
    pending = p;
    if (stack::frames) stack::throw_error();
    throws::throw_code(throws::error);
}

void make_value(Id id, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
    static const uint32_t print = natives::index_of("print");
    Cell* kept = stack::top;
    stack::mark_native(words::words.body);
    Cell* made = stack::push_slot();
    cell::set_none(made);
    make_with_args(made, uint32_t(id.category), id.name, arg1, arg2, arg3);
    const int32_t no_refinements[1] = {-1};
    if (Entry entry = natives::entry(print)) entry(Call{false, no_refinements});
    stack::unwind_drop();
    stack::top = kept;
}

void fire_bad_make_arg(const Cell* value1, const Cell* value2) { fire(id::bad_make_arg, value1, value2); }

void fire_not_done() { fire(id::not_done); }

void fire_bad_refinement(const Cell* refinement, const Cell* value) { fire(id::invalid_refine_arg, refinement, value); }

void fire_expect_arg(const Cell* value, const char* argument) {
    Cell where = stack::get_call_word();
    Cell kind;
    cell::set_datatype(&kind, cell::type_of(value));
    Cell word{type::word, context::global, symbol::make(argument), uint32_t(-1)};
    fire(id::expect_arg, &where, &kind, &word);
}

void fire_bad_to_arg(uint8_t target, const Cell* value) {
    Cell kind = cell::datatype_value(target);
    fire(id::bad_to_arg, &kind, value);
}

void fire_invalid_type(uint8_t t) {
    Cell kind = cell::datatype_value(t);
    fire(id::invalid_type, &kind);
}

}  // namespace kel::error
