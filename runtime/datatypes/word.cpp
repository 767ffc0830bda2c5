// The word types: making and retyping words, reading and writing through
// them, and the word! row that the other four inherit (refinement! has no
// index?). Every word type shares one mold handler, which writes the type's
// prefix or suffix around the name; form writes the bare name.
//
// Words made from text or from a symbol are bound to the global context,
// where they are added when absent, so that their index is known at once.
#include "runtime/datatypes/word.hpp"

#include <string>
#include <string_view>

#include "runtime/context.hpp"
#include "runtime/datatype.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/error.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"
#include "runtime/unicode.hpp"
#include "runtime/words.hpp"

namespace kel {
namespace word {

Scanner scanner = nullptr;

namespace {

// Appends the symbol's name as spelled; answers the characters written.
int32_t append_name(Cell* out, uint32_t symbol) {
    std::string name(symbol::name(symbol));  // appending may move the name's buffer
    bool ascii = true;
    for (unsigned char c : name) ascii = ascii && c < 0x80;
    if (ascii) {
        string::append_ascii(out, name.data(), name.size());
        return int32_t(name.size());
    }
    int32_t n = 0;
    for (size_t i = 0; i < name.size(); ++n) string::append_char(out, unicode::next_utf8(name, i));
    return n;
}

bool word_and_lit_word(uint8_t a, uint8_t b) {
    return (a == type::word && b == type::lit_word) || (a == type::lit_word && b == type::word);
}

bool scan_name(const std::string& text, Cell* out) {
    if (!scanner) error::fire_not_done();
    return scanner(text.data(), text.size(), out);
}

// Text that must load as one word of any kind.
void word_from_text(const std::string& text, Cell* out) {
    if (!scan_name(text, out) || !any_word_q(cell::type_of(out))) error::fire(error::id::invalid_chars);
}

}  // namespace

// ---- making words

Cell* load(const char* text) { return context::find_or_add_global(symbol::make(text)); }

Cell* make_in(uint32_t symbol, Cell* out) {
    *out = *context::find_or_add_word(symbol, false, false);
    out->header = type::word;
    return out;
}

Cell* make_at_tail(uint32_t symbol, Cell* block) {
    Cell w;
    make_in(symbol, &w);
    Cell* c = series::alloc_tail(block);
    *c = w;
    return c;
}

Cell* make_at_tail_text(const char* text, Cell* block) { return make_at_tail(symbol::make(text), block); }

Cell* push_in(uint32_t symbol) {
    Cell w;
    make_in(symbol, &w);
    return stack::push(&w);
}

Cell* make_result(uint32_t symbol) { return make_in(symbol, stack::args); }

Cell* box_as(const Cell* word, Cell* out, uint8_t t) {
    cell::copy(word, out);
    cell::set_type(out, t);
    return out;
}

Cell* push_as(const Cell* word, uint8_t t) {
    Cell c = *word;
    cell::set_type(&c, t);
    return stack::push(&c);
}

Cell* push_field_as(NodeId ctx, uint32_t index, uint8_t t) {
    Cell c = *context::word_at(ctx, index);
    c.header = t;  // the field's modified flag belongs to the context, not to the value
    return stack::push(&c);
}

// ---- values through words

Cell* get(NodeId ctx, uint32_t index) { return stack::push(context::value_address(ctx, index)); }

Cell* fetch_checked(const Cell* word) {
    Cell* v = fetch(word);
    if (cell::is(v, type::unset)) {
        Cell w = *word;
        error::fire(error::id::no_value, &w);
    }
    return stack::push(v);
}

Cell* push_value(const Cell* word) { return stack::push(fetch(word)); }

Cell* lookup(const Cell* word) {
    if (NodeId ctx = word->payload1) {
        int32_t i = context::find_word_index(ctx, word->payload2, true);
        if (i >= 0) return context::value_address(ctx, uint32_t(i));
    }
    const Cell* g = context::find_or_add_word(word->payload2, true, false);
    return context::value_address(context::global, g->payload3);
}

namespace {
Cell* set_from_args(bool checked) {
    Cell* w = stack::args;
    Cell v = w[1];
    if (checked && cell::is(&v, type::unset)) {
        Cell copy = *w;
        error::fire(error::id::need_value, &copy);
    }
    set(w, &v);
    stack::set_result(&v);
    return stack::args;
}
}  // namespace

Cell* set_arg() { return set_from_args(false); }
Cell* set_arg_checked() { return set_from_args(true); }

const Cell* symbol_of(const Cell* word) { return symbol::get(word->payload2); }

// ---- the word! row

Cell* make(Cell* proto, Cell* spec, uint8_t t) {
    Cell result;
    switch (cell::type_of(spec)) {
        case type::datatype: {
            const char* name = spec->payload1 < type::count ? datatype::names[spec->payload1].name : nullptr;
            if (!name) error::fire_bad_to_arg(t, spec);
            make_in(symbol::make(name), &result);
            break;
        }
        case type::logic:
            make_in(spec->payload1 == 1 ? words::symbols.true_ : words::symbols.false_, &result);
            break;
        case type::string: word_from_text(string::to_utf8(spec), &result); break;
        case type::char_: {
            char text[4];
            int n = unicode::encode_utf8_replacing(spec->payload2, text);
            word_from_text(std::string(text, size_t(n)), &result);
            break;
        }
        case type::word:
        case type::set_word:
        case type::lit_word:
        case type::get_word: result = *spec; break;
        case type::refinement:
        case type::issue: {
            // The name must be one a word could be spelled with.
            Cell loaded;
            bool ok = scan_name(std::string(symbol::name(spec->payload2)), &loaded);
            uint8_t lt = cell::type_of(&loaded);
            if (!ok || lt < type::word || lt > type::get_word) error::fire_bad_to_arg(t, spec);
            make_in(spec->payload2, &result);
            break;
        }
        default: error::fire_bad_to_arg(t, spec);
    }
    result.header = t;
    *proto = result;
    return proto;
}

int32_t form(const Cell* value, Cell* out, const Cell*, int32_t limit) {
    return limit - append_name(out, value->payload2);
}

int32_t mold(const Cell* value, Cell* out, bool, bool, bool, const Cell*, int32_t limit, int32_t) {
    uint8_t t = cell::type_of(value);
    const char* prefix = t == type::lit_word ? "'" : t == type::get_word ? ":" : t == type::refinement ? "/" : "";
    bool suffix = t == type::set_word;
    if (*prefix) {
        string::append_ascii(out, prefix, 1);
        --limit;
    }
    limit -= append_name(out, value->payload2);
    if (suffix) {
        string::append_ascii(out, ":", 1);
        --limit;
    }
    return limit;
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
    uint8_t ta = cell::type_of(a), tb = cell::type_of(b);
    if (!any_word_q(tb) || (tb == type::issue && ta != type::issue)) return -2;
    uint32_t sa = a->payload2, sb = b->payload2;
    bool same_name = symbol::resolve(sa) == symbol::resolve(sb);
    switch (op) {
        case 0: case 1: case 12: return same_name ? 0 : 1;
        case 2: return ta == tb && sa == sb ? 0 : 1;
        case 9: return ta == tb && sa == sb && a->payload1 == b->payload1 ? 0 : 1;
        // The matches of parse against a lit-word rule.
        case 10: return (word_and_lit_word(ta, tb) || ta == tb) && sa == sb ? 0 : 1;
        case 11: return (word_and_lit_word(ta, tb) || ta == tb) && same_name ? 0 : 1;
        default: return symbol::compare_names(sa, sb, op);
    }
}

void index_q() {
    Cell* w = stack::args;
    int32_t i = int32_t(w->payload3);
    if (i < 0) cell::set_none(w);
    else cell::set_integer(w, i + 1);
}

void register_type() {
    datatype::Row row(datatype::unsupported);
    row.set(action::make, &make).set(action::to, &make).set(action::form, &form).set(action::mold, &mold);
    row.set(action::compare, &compare).set(action::index_q, &index_q);
    datatype::register_type({type::word, type::symbol, "word!", row.handlers});
}

}  // namespace word

namespace {
void register_word_child(uint8_t t, const char* name, bool index_q) {
    datatype::Row row(datatype::inherit);
    if (!index_q) row.handlers[action::index_q - 1] = datatype::unsupported;
    datatype::register_type({t, type::word, name, row.handlers});
}
}  // namespace

void set_word::register_type() { register_word_child(type::set_word, "set-word!", true); }
void lit_word::register_type() { register_word_child(type::lit_word, "lit-word!", true); }
void get_word::register_type() { register_word_child(type::get_word, "get-word!", true); }
void refinement::register_type() { register_word_child(type::refinement, "refinement!", false); }

Cell refinement::make_text(const char* text) { return Cell{type::refinement, 0, symbol::make(text), uint32_t(-1)}; }

Cell* refinement::load(uint32_t symbol) {
    Cell c{type::refinement, 0, symbol, uint32_t(-1)};
    return stack::push(&c);
}

}  // namespace kel
