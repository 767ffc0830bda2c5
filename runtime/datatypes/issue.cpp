// issue!, tag!, email! and ref!. An issue is a word that is never bound and
// molds with "#"; the other three are text series that take the string! row
// and differ in how they print, and email! in its user and host paths.
#include "runtime/datatypes/issue.hpp"

#include <string>

#include "runtime/context.hpp"
#include "runtime/datatype.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/error.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"
#include "runtime/words.hpp"

namespace kel {

Cell* issue::make_at(Cell* out, const char* text, size_t n) {
    uint32_t sym = symbol::make_len(text, n);
    *out = Cell{type::issue, context::global, sym, uint32_t(-1)};
    return out;
}

namespace {

// The text from the index, as string::form writes it, between two delimiters.
int32_t form_between(const Cell* value, Cell* out, const char* open, const char* close, int32_t limit) {
    std::u32string text = string::text_of(value);
    string::append_ascii(out, open, std::strlen(open));
    string::append_text(out, text);
    string::append_ascii(out, close, std::strlen(close));
    return limit - int32_t(text.size() + std::strlen(open) + std::strlen(close));
}

}  // namespace

Cell* issue::make(Cell* proto, Cell* spec, uint8_t t) {
    uint8_t st = cell::type_of(spec);
    std::string name;
    if (st == type::string) {
        name = string::utf8_of(spec);
    } else if (st == type::char_) {
        name = string::utf8_of(std::u32string(1, char32_t(spec->payload2)));
    } else if (word::any_word_q(st)) {
        *proto = *spec;
        cell::set_type(proto, t);
        return proto;
    } else {
        return word::make(proto, spec, t);
    }
    make_at(proto, name.data(), name.size());
    cell::set_type(proto, t);
    return proto;
}

int32_t issue::mold(const Cell* value, Cell* out, bool, bool, bool, const Cell* part, int32_t limit, int32_t) {
    string::append_ascii(out, "#", 1);
    return word::form(value, out, part, limit - 1);
}

int32_t issue::compare(const Cell* a, const Cell* b, int32_t op) {
    if (!cell::is(b, type::issue)) return -2;
    return word::compare(a, b, op);
}

int32_t tag::form(const Cell* value, Cell* out, const Cell*, int32_t limit) {
    return form_between(value, out, "<", ">", limit);
}
int32_t tag::mold(const Cell* value, Cell* out, bool, bool, bool, const Cell*, int32_t limit, int32_t) {
    return form_between(value, out, "<", ">", limit);
}

int32_t email::mold(const Cell* value, Cell* out, bool, bool, bool, const Cell* part, int32_t limit, int32_t) {
    return string::form(value, out, part, limit);
}

int32_t ref::mold(const Cell* value, Cell* out, bool, bool, bool, const Cell*, int32_t limit, int32_t) {
    return form_between(value, out, "@", "", limit);
}

Cell* email::eval_path(Cell* value, const Cell* element, const Cell* store, const Cell* path, const Cell* parent,
                       const Cell* previous, int32_t step, bool case_, bool get, bool last, bool notify) {
    if (cell::is(element, type::integer))
        return string::eval_path(value, element, store, path, parent, previous, step, case_, get, last, notify);
    uint32_t sym = cell::is(element, type::word) ? symbol::resolve(element->payload2) : 0;
    bool user = sym && sym == symbol::resolve(words::symbols.user);
    bool host = sym && sym == symbol::resolve(words::symbols.host);
    if (!user && !host) error::fire(error::id::invalid_path, value, element);
    std::u32string text = string::text_of(value);
    size_t at = text.find(U'@');
    bool has_at = at != std::u32string::npos;
    size_t p = has_at ? at : text.size();
    int64_t index = series::clamped_index(value);
    if (!store) {
        std::u32string part = user ? text.substr(0, p) : has_at ? text.substr(p + 1) : std::u32string();
        Cell* out = string::make(stack::push_slot(), uint32_t(part.size()));
        string::append_text(out, part);
        *value = *out;
        stack::pop(1);
        return value;
    }
    Cell stretch = *value;
    if (user) {
        stretch.payload1 = uint32_t(index);
        string::change(&stretch, const_cast<Cell*>(store), int32_t(p), false, 1);
    } else if (has_at) {
        stretch.payload1 = uint32_t(index + int64_t(p) + 1);
        string::change(&stretch, const_cast<Cell*>(store), int32_t(text.size() - p - 1), false, 1);
    } else {  // no "@" yet: the host comes after a new one
        Cell* at_sign = stack::push_slot();
        *at_sign = Cell{type::char_, 0, '@', 0};
        string::insert(&stretch, at_sign, -1, false, 1, true);
        stack::pop(1);
        string::insert(&stretch, const_cast<Cell*>(store), -1, false, 1, true);
    }
    return const_cast<Cell*>(store);
}

void issue::register_type() {
    datatype::Row row(datatype::unsupported);
    row.set(action::make, &make).set(action::to, &make).set(action::mold, &mold).set(action::compare, &compare);
    row.handlers[action::form - 1] = datatype::inherit;
    datatype::register_type({type::issue, type::word, "issue!", row.handlers});
}

namespace {
// The slots a text type does not take from string!.
void text_row(datatype::Row& row, std::initializer_list<action::Slot> unsupported) {
    for (action::Slot s : unsupported) row.handlers[s - 1] = datatype::unsupported;
}
}  // namespace

void tag::register_type() {
    datatype::Row row(datatype::inherit);
    row.set(action::form, &form).set(action::mold, &mold);
    text_row(row, {action::random, action::sort, action::trim});
    datatype::register_type({type::tag, type::string, "tag!", row.handlers});
}

void email::register_type() {
    datatype::Row row(datatype::inherit);
    row.set(action::mold, &mold).set(action::eval_path, &eval_path);
    text_row(row, {action::random, action::sort, action::trim});
    datatype::register_type({type::email, type::string, "email!", row.handlers});
}

void ref::register_type() {
    datatype::Row row(datatype::inherit);
    row.set(action::mold, &mold);
    text_row(row, {action::random, action::eval_path, action::append, action::put, action::sort, action::trim});
    datatype::register_type({type::ref, type::string, "ref!", row.handlers});
}

}  // namespace kel
