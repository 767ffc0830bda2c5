// Helpers for the tests of number types: cells of each kind, and calls of
// action wrappers in a native frame of their own whose outcome is shown as
// "type! text" or "error <id>".
#pragma once
#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "runtime/actions.hpp"
#include "runtime/alloc.hpp"
#include "runtime/datatype.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/error.hpp"
#include "runtime/dtoa.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"
#include "runtime/throws.hpp"
#include "tests/support/keep.hpp"

namespace kel::test {

inline Cell int_v(int32_t v) {
    Cell c{};
    cell::set_integer(&c, v);
    return c;
}
inline Cell real_v(double d, uint8_t t = type::float_) {
    Cell c{};
    cell::set_real(&c, t, d);
    return c;
}
inline Cell char_v(uint32_t cp) { return Cell{type::char_, 0, cp, 0}; }
inline Cell type_v(uint8_t t) {
    Cell c{};
    cell::set_datatype(&c, t);
    return c;
}
inline Cell bare(uint8_t t) { return Cell{t, 0, 0, 0}; }  // only the type matters to the case
inline Cell issue_v(const char* name) { return Cell{type::issue, 0, symbol::make(name), uint32_t(-1)}; }
// text_v and binary_v keep their series until the test ends (keep.hpp).
inline Cell text_v(const char* s) {
    Cell& c = keep();
    string::make_from_utf8(&c, s, std::strlen(s));
    return c;
}
inline Cell binary_v(std::initializer_list<uint8_t> bytes, uint32_t index = 0) {
    NodeId n = keep_series(alloc::alloc_bytes(bytes.size()));
    uint8_t* p = series::bump_tail_bytes(alloc::buffer_of(n), uint32_t(bytes.size()));
    std::copy(bytes.begin(), bytes.end(), p);
    return Cell{type::binary, index, n, 0};
}

// A value as "type! text", the double by its shortest exact text.
inline std::string show(const Cell& c) {
    uint8_t t = cell::type_of(&c);
    std::string s = datatype::names[t].name ? datatype::names[t].name : "?";
    switch (t) {
        case type::integer: return s + " " + std::to_string(cell::integer(&c));
        case type::float_:
        case type::percent:
        case type::time: return s + " " + dtoa::format(cell::real(&c), 0, true);
        case type::logic: return s + (c.payload1 ? " true" : " false");
        default: return s;
    }
}

// Runs the body in a native frame of its own; answers show() of its result,
// or "error <id>" when it raises.
template <class Body>
inline std::string outcome(Body body) {
    Cell* top = stack::top;
    Cell* args = stack::args;
    stack::Frame* frames = stack::frame_top;
    stack::mark_native(nullptr);
    Cell result;
    uint32_t code = throws::protect(throws::error, [&] { result = body(); });
    stack::top = top, stack::args = args, stack::frame_top = frames;
    return code == throws::error ? std::string("error ") + error::pending.id : show(result);
}

// An action's wrapper with the arguments pushed; refs per refinement: -1
// unused, else the position of its argument (any position for a flag).
inline Cell call(action::Slot s, std::initializer_list<Cell> args, std::vector<int32_t> refs = {}) {
    for (const Cell& a : args) stack::push(&a);
    refs.resize(16, -1);
    actions::table[s - 1](Call{false, refs.data()});
    return *stack::args;
}

inline std::string run(action::Slot s, std::initializer_list<Cell> args, std::vector<int32_t> refs = {}) {
    return outcome([&] { return call(s, args, refs); });
}

inline std::string text_of(action::Slot s, const Cell& v) {
    std::string t;
    outcome([&] {
        Cell r = call(s, {v});
        t = string::to_utf8(&r);
        return r;
    });
    return t;
}

}  // namespace kel::test
