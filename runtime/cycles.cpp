#include "runtime/cycles.hpp"

#include "runtime/datatypes/string.hpp"
#include "runtime/error.hpp"

namespace kel::cycles {
namespace {
uint32_t entries[capacity];
size_t top = 0;

struct Placeholder {
    const char* text;
    size_t length;
};

Placeholder placeholder(uint8_t t, bool mold) {
    if (!mold) return {"...", 3};
    switch (t) {
        case type::block:
        case type::hash: return {"[...]", 5};
        case type::paren: return {"(...)", 5};
        case type::map: return {"#[...]", 6};
        case type::object: return {"make object! [...]", 18};
        default: return {"...", 3};
    }
}
}  // namespace

uint32_t reference(const Cell* value) {
    uint8_t t = cell::type_of(value);
    return t == type::object || t == type::error || t == type::port ? value->payload1 : value->payload2;
}

void push(uint32_t reference) {
    entries[top++] = reference;
    if (top == capacity) {
        top = 0;
        error::fire(error::id::too_deep);
    }
}

void pop() {
    if (top) --top;
}

void drop(size_t n) { top = n > top ? 0 : top - n; }

void reset() { top = 0; }

bool find(uint32_t reference) {
    for (size_t i = 0; i < top; ++i)
        if (entries[i] == reference) return true;
    return false;
}

bool detect(const Cell* value, Cell* out, int32_t& remaining, bool mold) {
    if (!find(reference(value))) return false;
    Placeholder p = placeholder(cell::type_of(value), mold);
    string::append_ascii(out, p.text, p.length);
    remaining -= int32_t(p.length);
    return true;
}

size_t depth() { return top; }

void restore(size_t depth) {
    if (depth < top) top = depth;
}

}  // namespace kel::cycles
