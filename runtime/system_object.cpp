#include "runtime/system_object.hpp"

#include <initializer_list>

#include "runtime/context.hpp"
#include "runtime/datatypes/object.hpp"
#include "runtime/symbol.hpp"

namespace kel::system_object {
namespace {

struct Names {
    uint32_t system, locale, currencies, list, options, money_digits, months;
};
Names names;

// The value reached from `system` through the fields named, or none.
Cell field(std::initializer_list<uint32_t> path) {
    Cell none{type::none, 0, 0, 0};
    if (!names.system || !context::global) return none;
    const Cell* at = context::value_of_symbol(names.system, context::global);
    if (!at) return none;
    Cell v = *at;
    for (uint32_t name : path) {
        if (!cell::is(&v, type::object)) return none;
        int32_t i = context::find_word_index(object::context_of(&v), name, true);
        if (i < 0) return none;
        v = *object::value_at(object::context_of(&v), uint32_t(i));
    }
    return v;
}

}  // namespace

void init() {
    names = {symbol::make("system"),  symbol::make("locale"),  symbol::make("currencies"),
             symbol::make("list"),    symbol::make("options"), symbol::make("money-digits"),
             symbol::make("months")};
}

Cell currency_list() { return field({names.locale, names.currencies, names.list}); }

Cell money_digits() { return field({names.options, names.money_digits}); }

Cell months() { return field({names.locale, names.months}); }

}  // namespace kel::system_object
