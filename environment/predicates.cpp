#include "environment/predicates.hpp"

#include <cstring>
#include <array>
#include <string>
#include <utility>

#include "runtime/context.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/function.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"

namespace kel::environment {
namespace {

struct Single {
    const char* word;
    uint8_t type;
};

constexpr Single singles[] = {
    {"bitset?", type::bitset},       {"map?", type::map},           {"word?", type::word},
    {"binary?", type::binary},       {"none?", type::none},         {"image?", type::image},
    {"block?", type::block},         {"pair?", type::pair},         {"date?", type::date},
    {"char?", type::char_},          {"paren?", type::paren},       {"money?", type::money},
    {"email?", type::email},         {"path?", type::path},         {"ref?", type::ref},
    {"file?", type::file},           {"percent?", type::percent},   {"point2D?", type::point2d},
    {"float?", type::float_},        {"refinement?", type::refinement}, {"point3D?", type::point3d},
    {"get-path?", type::get_path},   {"set-path?", type::set_path}, {"handle?", type::handle},
    {"get-word?", type::get_word},   {"set-word?", type::set_word}, {"error?", type::error},
    {"hash?", type::hash},           {"string?", type::string},     {"action?", type::action},
    {"integer?", type::integer},     {"tag?", type::tag},           {"native?", type::native},
    {"issue?", type::issue},         {"time?", type::time},         {"datatype?", type::datatype},
    {"lit-path?", type::lit_path},   {"typeset?", type::typeset},   {"function?", type::function},
    {"lit-word?", type::lit_word},   {"tuple?", type::tuple},       {"object?", type::object},
    {"logic?", type::logic},         {"unset?", type::unset},       {"op?", type::op},
    {"url?", type::url},             {"vector?", type::vector},     {"routine?", type::routine},
};

struct OfTypeset {
    const char* word;
    const char* typeset;
};

constexpr OfTypeset typesets[] = {
    {"any-list?", "any-list!"},   {"any-path?", "any-path!"},     {"any-block?", "any-block!"},
    {"any-function?", "any-function!"}, {"any-object?", "any-object!"}, {"any-string?", "any-string!"},
    {"any-word?", "any-word!"},   {"all-word?", "all-word!"},     {"series?", "series!"},
    {"number?", "number!"},       {"any-point?", "any-point!"},   {"planar?", "planar!"},
    {"scalar?", "scalar!"},       {"immediate?", "immediate!"},
};

// The typeset words' symbols, made when the predicates are.
uint32_t typeset_symbols[std::size(typesets)];

template <size_t I>
uint32_t is_single(const Call&) {
    cell::set_logic(stack::args, cell::type_of(stack::args) == singles[I].type);
    return 0;
}

template <size_t I>
uint32_t is_in_typeset(const Call&) {
    const Cell* ts = context::find_or_add_global(typeset_symbols[I]);
    Cell word = *ts;
    const Cell* set = word::fetch(&word);
    bool in = cell::is(set, type::typeset) && cell::typeset_has(set, cell::type_of(stack::args));
    cell::set_logic(stack::args, in);
    return 0;
}

template <size_t... I>
constexpr auto single_entries(std::index_sequence<I...>) {
    return std::array<Entry, sizeof...(I)>{&is_single<I>...};
}
template <size_t... I>
constexpr auto typeset_entries(std::index_sequence<I...>) {
    return std::array<Entry, sizeof...(I)>{&is_in_typeset<I>...};
}

Cell global_word(const char* name, uint8_t t = type::word) {
    Cell w = *context::find_or_add_global(symbol::make(name));
    cell::set_type(&w, t);
    return w;
}

// The spec every predicate shares: the doc string, `value [any-type!]` and
// `return: [logic!]`. The spec block is the last pushed cell.
void push_spec(const char* doc) {
    Cell* spec = block::push_new(5);
    Cell* text = stack::push_slot();
    string::make_from_utf8(text, doc, std::strlen(doc));
    block::ks_append(spec, text);
    stack::pop(1);
    Cell value{type::word, 0, symbol::make("value"), uint32_t(-1)};
    block::ks_append(spec, &value);
    Cell* types = block::push_new(1);
    Cell any_type = global_word("any-type!");
    block::ks_append(types, &any_type);
    block::ks_append(spec, types);
    stack::pop(1);
    Cell ret{type::set_word, 0, symbol::make("return"), uint32_t(-1)};
    block::ks_append(spec, &ret);
    types = block::push_new(1);
    Cell logic_type = global_word("logic!");
    block::ks_append(types, &logic_type);
    block::ks_append(spec, types);
    stack::pop(1);
}

void define(const char* name, const char* doc, Entry entry) {
    Cell* top = stack::top;
    push_spec(doc);
    Cell* routine = routine::push(stack::last(), nullptr, routine::add_entry(entry), 4, false);
    Cell value = *routine;
    Cell word = global_word(name);
    word::set(&word, &value);
    stack::top = top;
}

}  // namespace

void make_predicates() {
    constexpr auto single = single_entries(std::make_index_sequence<std::size(singles)>());
    for (size_t i = 0; i < std::size(singles); ++i)
        define(singles[i].word, "Returns true if the value is this type", single[i]);
    constexpr auto of_typeset = typeset_entries(std::make_index_sequence<std::size(typesets)>());
    for (size_t i = 0; i < std::size(typesets); ++i) {
        typeset_symbols[i] = symbol::make(typesets[i].typeset);
        // "Returns true if the value is any type of any-list", and so on.
        std::string name(typesets[i].word);
        std::string doc = "Returns true if the value is any type of " + name.substr(0, name.size() - 1);
        define(typesets[i].word, doc.c_str(), of_typeset[i]);
    }
}

}  // namespace kel::environment
