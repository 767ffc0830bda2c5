#include "runtime/datatypes/handle.hpp"

#include <cstdio>
#include <cstring>

#include "runtime/datatype.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/stack.hpp"

namespace kel::handle {
namespace {

const char* const class_names[] = {"", "fd", "monitor", "window", "font", "rich-text"};

}  // namespace

Cell* box(Cell* slot, int32_t value, uint32_t klass) {
    *slot = Cell{type::handle, klass, uint32_t(value), uint32_t(-1)};
    return slot;
}

Cell* push(int32_t value, uint32_t klass) { return box(stack::args, value, klass); }

Cell* push_new(int32_t value, uint32_t klass) { return box(stack::push_slot(), value, klass); }

Cell* push_null() { return push_new(0, klass::none); }

Cell* make_in(Cell* block, int32_t value, uint32_t klass) {
    Cell h;
    box(&h, value, klass);
    return block::ks_append(block, &h);
}

int32_t form(const Cell* value, Cell* out, const Cell*, int32_t limit) {
    char text[16];
    std::snprintf(text, sizeof text, "%08Xh", value->payload2);
    string::append_ascii(out, text, 9);
    return limit - 9;
}

int32_t mold(const Cell* value, Cell* out, bool, bool all, bool, const Cell* part, int32_t limit, int32_t) {
    if (!all) {
        string::append_ascii(out, "handle!", 7);
        return limit - 7;
    }
    const Cell v = *value;
    string::append_ascii(out, "#[handle! ", 10);
    limit = form(&v, out, part, limit - 10);
    if (v.payload1 > 0 && v.payload1 <= klass::rich_text) {
        const char* name = class_names[v.payload1];
        size_t n = std::strlen(name);
        string::append_ascii(out, " ", 1);
        string::append_ascii(out, name, n);
        limit -= int32_t(n) + 1;
    }
    string::append_ascii(out, "]", 1);
    return limit - 1;
}

// The values alone decide, whatever the op: class and record take no part,
// and a value of another type is never equal.
int32_t compare(const Cell* a, const Cell* b, int32_t) {
    if (!cell::is(b, type::handle)) return 1;
    int32_t x = int32_t(a->payload2), y = int32_t(b->payload2);
    return x < y ? -1 : x > y ? 1 : 0;
}

void register_type() {
    datatype::Row row(datatype::unsupported);
    row.set(action::form, &form).set(action::mold, &mold).set(action::compare, &compare);
    datatype::register_type({type::handle, type::integer, "handle!", row.handlers});
}

}  // namespace kel::handle
