#include "runtime/datatypes/port.hpp"

#include <cstring>

#include "runtime/actions.hpp"
#include "runtime/call.hpp"
#include "runtime/collector.hpp"
#include "runtime/context.hpp"
#include "runtime/cycles.hpp"
#include "runtime/datatype.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/function.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/object.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/error.hpp"
#include "runtime/exits.hpp"
#include "runtime/interp.hpp"
#include "runtime/lexer/lexer.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"
#include "runtime/throws.hpp"

namespace kel::port {
namespace {

Cell word_of(const char* name) { return Cell{type::word, context::global, symbol::make(name), uint32_t(-1)}; }

// A field of an object by name; none when the value is no object or has no
// such field.
Cell field_of(const Cell& object, const char* name) {
    if (!cell::is(&object, type::object)) return *shared::none();
    Cell w = word_of(name);
    return *object::get_word_value(&object, &w);
}

Cell system_field(const char* name) {
    Cell system = *word::fetch(context::find_or_add_global(symbol::make("system")));
    return field_of(system, name);
}

// system/standard/<name> when it is an object, else a bare object of the
// given fields, pushed.
Cell* push_prototype(const char* name, const char* fields) {
    Cell proto = field_of(system_field("standard"), name);
    if (cell::is(&proto, type::object)) return stack::push(&proto);
    Cell* block = stack::push_slot();
    cell::set_none(block);
    lexer::load_utf8(fields, std::strlen(fields), lexer::ScanOptions{}, block);
    return object::push_new(block, nullptr, false);
}

// The scheme object registered under the name, or none.
Cell find_scheme(const Cell& name) {
    Cell registry = system_field("schemes");
    if (!cell::is(&registry, type::block)) return *shared::none();
    uint32_t wanted = symbol::resolve(name.payload2);
    for (int32_t i = series::clamped_index(&registry), n = series::total_length(&registry); i + 1 < n; i += 2) {
        Cell key = *block::ks_abs_at(&registry, i);
        if (word::any_word_q(cell::type_of(&key)) && symbol::resolve(key.payload2) == wanted)
            return *block::ks_abs_at(&registry, i + 1);
    }
    return *shared::none();
}

Cell flag(bool on) { return *shared::logic(on); }
Cell or_none(const Cell* c) { return c ? *c : *shared::none(); }
Cell count_or_none(int32_t n) {
    Cell c{type::none, 0, 0, 0};
    if (n < 0) cell::set_none(&c);
    else cell::set_integer(&c, n);
    return c;
}

// Forwards and leaves the actor's answer in the caller's result cell.
template <size_t N>
Cell* forward(const char* action, const Cell (&args)[N]) {
    return call_actor(&args[0], action, args, N);
}

// Handlers whose slot answers nothing: the actor's answer replaces the
// port in its argument cell, which the wrapper keeps as the result.
template <size_t N>
void forward_into(Cell* port, const char* action, const Cell (&args)[N]) {
    *port = *call_actor(port, action, args, N);
}

void insert(Cell* p, Cell* value, int32_t count, bool only, int32_t dup, bool) {
    forward_into(p, "insert", {*p, *value, flag(count >= 0), count_or_none(count), flag(only), flag(dup != 1),
                               count_or_none(dup != 1 ? dup : -1)});
}
void change(Cell* p, Cell* value, int32_t count, bool only, int32_t dup) {
    forward_into(p, "change", {*p, *value, flag(count >= 0), count_or_none(count), flag(only), flag(dup != 1),
                               count_or_none(dup != 1 ? dup : -1)});
}
void clear(Cell* p) { forward_into(p, "clear", {*p}); }
Cell* copy(Cell* p, Cell*, const Cell* part, bool deep, const Cell* kind) {
    return forward("copy", {*p, flag(part), or_none(part), flag(deep), flag(kind), or_none(kind)});
}
Cell* find(Cell* p, Cell* value, const Cell* part, bool only, bool case_, bool same, bool any, const Cell* with,
           const Cell* skip, bool last, bool reverse, bool tail, bool match) {
    return forward("find", {*p, *value, flag(part), or_none(part), flag(only), flag(case_), flag(same), flag(any),
                            flag(with), or_none(with), flag(skip), or_none(skip), flag(last), flag(reverse),
                            flag(tail), flag(match)});
}
Cell* select(Cell* p, Cell* value, const Cell* part, bool only, bool case_, bool same, bool any, const Cell* with,
             const Cell* skip, bool last, bool reverse) {
    return forward("select", {*p, *value, flag(part), or_none(part), flag(only), flag(case_), flag(same),
                              flag(any), flag(with), or_none(with), flag(skip), or_none(skip), flag(last),
                              flag(reverse)});
}
int32_t length_q(const Cell* p) {
    Cell* r = forward("length?", {*p});
    return cell::is(r, type::integer) ? cell::integer(r) : -1;
}
Cell* move(Cell* p, Cell* target, const Cell* part) {
    return forward("move", {*p, *target, flag(part), or_none(part)});
}
Cell* pick(Cell* p, int32_t, const Cell* index) { return forward("pick", {*p, *index}); }
Cell* poke(Cell* p, int32_t, Cell* value, const Cell* index) { return forward("poke", {*p, *index, *value}); }
Cell* put(Cell* p, Cell* key, Cell* value, bool case_) { return forward("put", {*p, *key, *value, flag(case_)}); }
void remove(Cell* p, const Cell* part, const Cell* key) {
    forward_into(p, "remove", {*p, flag(part), or_none(part), flag(key), or_none(key)});
}
void reverse(Cell* p, const Cell* part, const Cell* skip) {
    forward_into(p, "reverse", {*p, flag(part), or_none(part), flag(skip), or_none(skip)});
}
Cell* sort(Cell* p, bool case_, const Cell* skip, const Cell* comparator, const Cell* part, bool all, bool reverse,
           bool stable) {
    return forward("sort", {*p, flag(case_), flag(skip), or_none(skip), flag(comparator), or_none(comparator),
                            flag(part), or_none(part), flag(all), flag(reverse), flag(stable)});
}
void swap(Cell* p, Cell* other) { forward_into(p, "swap", {*p, *other}); }
Cell* take(Cell* p, const Cell* part, bool deep, bool last) {
    return forward("take", {*p, flag(part), or_none(part), flag(deep), flag(last)});
}
void trim(Cell* p, bool head, bool tail, bool auto_, bool lines, bool all, const Cell* with) {
    forward_into(p, "trim", {*p, flag(head), flag(tail), flag(auto_), flag(lines), flag(all), flag(with),
                             or_none(with)});
}
void modify(Cell* p, Cell* field, Cell* value, bool case_) {
    forward_into(p, "modify", {*p, *field, *value, flag(case_)});
}
Cell* rename(Cell* p, Cell* to) { return forward("rename", {*p, *to}); }

template <size_t N>
struct Name {
    char text[N];
    constexpr Name(const char (&s)[N]) {
        for (size_t i = 0; i < N; ++i) text[i] = s[i];
    }
};

// create close delete query update: the port alone.
template <Name A>
Cell* alone(Cell* p) {
    return forward(A.text, {*p});
}

// The positional actions read the stack: the port, and the offset of at and skip.
template <Name A, bool Two>
void positional() {
    Cell* p = stack::args;
    if constexpr (Two) forward_into(p, A.text, {*p, p[1]});
    else forward_into(p, A.text, {*p});
}

}  // namespace

Cell get_actor(const Cell* p) {
    Cell actor = *object::value_at(p->payload1, field::actor);
    if (!cell::is(&actor, type::object)) error::fire(error::id::invalid_port);
    return actor;
}

Cell* call_actor(const Cell* p, const char* action, const Cell* args, uint32_t n) {
    Cell actor = get_actor(p);
    Cell name = word_of(action);
    Cell fn = *object::get_word_value(&actor, &name);
    if (!cell::is(&fn, type::function)) error::fire(error::id::no_port_action, &name);
    if (call::with_all_values(fn, name, args, n)) exits::raise_pending();
    return stack::last();
}

Cell* make(Cell*, Cell* spec_in, uint8_t) {
    Cell* spec = stack::push(spec_in);
    Cell* spec_object;
    if (cell::is(spec, type::object)) {
        spec_object = stack::push_slot();
        object::copy_context(spec, spec_object, false, nullptr);
    } else {
        Cell* proto = push_prototype("port-spec", "scheme: none");
        spec_object = object::make(proto, spec, type::object);
    }
    Cell scheme_name = *object::value_at(spec_object->payload1, 0);
    if (object::field_count(spec_object) == 0 || !cell::is(&scheme_name, type::word)) error::fire(error::id::no_scheme, spec);
    Cell* proto = push_prototype("port", "spec: none scheme: none actor: none");
    Cell* result = stack::push_slot();
    object::copy_context(proto, result, false, nullptr);
    result->header = type::port;
    result->payload2 = class_id;
    result->payload3 = 0;
    *context::owner_cell(result->payload1) = *result;
    *object::value_at(result->payload1, field::spec) = *spec_object;
    *object::value_at(result->payload1, field::scheme) = scheme_name;
    Cell scheme = find_scheme(scheme_name);
    if (!cell::is(&scheme, type::object)) error::fire(error::id::unknown_scheme, spec);
    Cell actor = object::field_count(&scheme) > 3 ? *object::value_at(scheme.payload1, 3) : *shared::none();
    if (!cell::is(&actor, type::object) && !cell::is(&actor, type::handle)) error::fire(error::id::invalid_actor, spec);
    *object::value_at(result->payload1, field::actor) = actor;
    return result;
}

int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, const Cell* part, int32_t limit,
             int32_t indent) {
    const Cell p = *value;
    if (cycles::detect(&p, out, limit, true)) return limit;
    cycles::Guard guard;
    cycles::push(p.payload1);
    string::append_ascii(out, "make port! [", 12);
    limit = object::mold_fields(&p, out, only, all, flat, part, limit - 12, indent);
    if (indent > 0) limit = string::append_indent(out, indent, limit);
    string::append_ascii(out, "]", 1);
    return limit - 1;
}

int32_t form(const Cell* value, Cell* out, const Cell* part, int32_t limit) {
    return mold(value, out, false, false, false, part, limit, 0);
}

Cell* open(Cell* p, bool new_, bool read_, bool write_, bool seek, const Cell* allow) {
    return forward("open", {*p, flag(new_), flag(read_), flag(write_), flag(seek), flag(allow), or_none(allow)});
}

Cell* read(Cell* p, const Cell* part, const Cell* seek, bool, bool, bool, const Cell*) {
    Cell* base = stack::top;
    open(p, false, false, false, false, nullptr);
    Cell answer = *forward("copy", {*p, flag(part), or_none(part), flag(false), flag(false), *shared::none()});
    stack::top = base;
    Cell* held = stack::push(&answer);
    forward("close", {*p});
    stack::top = held + 1;
    return held;
}

Cell* write(Cell* p, Cell* data, bool, bool, bool, bool, const Cell*, const Cell*, const Cell*, const Cell*) {
    Cell* base = stack::top;
    open(p, false, false, true, false, nullptr);
    forward("insert", {*p, *data, flag(false), *shared::none(), flag(false), flag(false), *shared::none()});
    Cell answer = *forward("copy", {*p, flag(false), *shared::none(), flag(false), flag(false), *shared::none()});
    stack::top = base;
    Cell* held = stack::push(&answer);
    forward("close", {*p});
    stack::top = held + 1;
    return held;
}

void register_type() {
    datatype::Row row(datatype::unsupported);
    row.set(action::make, &make)
        .set(action::reflect, &object::reflect)
        .set(action::form, &form)
        .set(action::mold, &mold)
        .set(action::eval_path, &object::eval_path)
        .set(action::compare, &object::compare)
        .set(action::append, &insert)
        .set(action::at, &positional<"at", true>)
        .set(action::back, &positional<"back", false>)
        .set(action::change, &change)
        .set(action::clear, &clear)
        .set(action::copy, &copy)
        .set(action::find, &find)
        .set(action::head, &positional<"head", false>)
        .set(action::head_q, &positional<"head?", false>)
        .set(action::index_q, &positional<"index?", false>)
        .set(action::insert, &insert)
        .set(action::length_q, &length_q)
        .set(action::move, &move)
        .set(action::next, &positional<"next", false>)
        .set(action::pick, &pick)
        .set(action::poke, &poke)
        .set(action::put, &put)
        .set(action::remove, &remove)
        .set(action::reverse, &reverse)
        .set(action::select, &select)
        .set(action::sort, &sort)
        .set(action::skip, &positional<"skip", true>)
        .set(action::swap, &swap)
        .set(action::tail, &positional<"tail", false>)
        .set(action::tail_q, &positional<"tail?", false>)
        .set(action::take, &take)
        .set(action::trim, &trim)
        .set(action::create, &alone<"create">)
        .set(action::close, &alone<"close">)
        .set(action::delete_, &alone<"delete">)
        .set(action::modify, &modify)
        .set(action::open, &open)
        .set(action::query, &alone<"query">)
        .set(action::read, &read)
        .set(action::rename, &rename)
        .set(action::update, &alone<"update">)
        .set(action::write, &write);
    datatype::register_type({type::port, type::object, "port!", row.handlers});
}

}  // namespace kel::port
