#include "runtime/datatype.hpp"

#include <cstring>

#include "runtime/actions.hpp"
#include "runtime/context.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/symbol.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/output.hpp"
#include "runtime/system.hpp"

namespace kel::datatype {

TypeName names[type::count];
Handler actions[type::count][action::count];
uint8_t highest = 0;

void inherit_marker() {}

void reset() {
    for (TypeName& n : names) n = {};
    for (auto& row : actions)
        for (Handler& h : row) h = unsupported;
    highest = 0;
}

void register_type(const Registration& r) {
    if (r.type > highest) highest = r.type;
    TypeName& n = names[r.type];
    n.name = r.name;
    n.length = uint32_t(std::strlen(r.name)) - 1;
    if (r.handlers.size() != size_t(action::count)) {
        sysrt::print_line({TypedPrintItem::text("*** Datatype Error: invalid actions count for type: "),
                           TypedPrintItem::integer(r.type)});
        sysrt::print_line({TypedPrintItem::text("*** Found: "), TypedPrintItem::integer(int64_t(r.handlers.size()))});
        sysrt::print_line({TypedPrintItem::text("*** Expected: "), TypedPrintItem::integer(action::count)});
        sys::quit(98, KEL_CALLER_ADDRESS());
    }
    Handler* row = actions[r.type];
    const Handler* parent = r.parent ? actions[r.parent] : nullptr;
    int s = 0;
    for (Handler h : r.handlers) {
        row[s] = h == inherit ? (parent ? parent[s] : unsupported) : h;
        ++s;
    }
}

void make_name_word(uint8_t t) {
    names[t].word = context::find_or_add_global(symbol::make(names[t].name));
    Cell value;
    cell::set_datatype(&value, t);
    Cell word = *names[t].word;
    word::set(&word, &value);
}

// datatype! values: a cell whose payload 1 is the type id it denotes.

int32_t form(const Cell* value, Cell* out, const Cell*, int32_t limit) {
    const TypeName& n = names[value->payload1];
    string::append_ascii(out, n.name, n.length);
    return limit - int32_t(n.length);
}

int32_t mold(const Cell* value, Cell* out, bool, bool all, bool, const Cell*, int32_t limit, int32_t) {
    const TypeName& n = names[value->payload1];
    uint32_t len = n.length + 1;
    if (all) string::append_ascii(out, "#(", 2);
    string::append_ascii(out, n.name, len);
    if (all) string::append_ascii(out, ")", 1);
    return limit - int32_t(len) - (all ? 3 : 0);
}

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
    switch (op) {
        case compare_op::equal: case compare_op::not_equal: case compare_op::strict_equal: case compare_op::same:
        case compare_op::find:
            return cell::is(b, type::datatype) && cell::datatype(b) == cell::datatype(a) ? 0 : 1;
        default:
            return -2;  // types have no order
    }
}

void register_datatype() {
    Row row(unsupported);
    row.set(action::form, &form).set(action::mold, &mold).set(action::compare, &compare);
    register_type({type::datatype, 0, "datatype!", row.handlers});
}

}  // namespace kel::datatype
