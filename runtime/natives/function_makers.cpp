// func, function, does and has: the natives that make function! values from a
// spec block and a body block. Each prepares the spec (empty for does, /local
// put first for has, the body's set-words added as locals for function) and
// hands both to the function datatype, which validates the spec, copies the
// body and binds it to the new context.
#include <cstdint>

#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/function.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/natives/control.hpp"
#include "runtime/natives/entries.hpp"
#include "runtime/stack.hpp"
#include "runtime/words.hpp"

namespace kel::natives {

namespace {

// An index past the tail counts as the tail.
Cell clamped(const Cell* series) {
    Cell c = *series;
    c.payload1 = uint32_t(series::clamped_index(&c));
    return c;
}

// Makes the function into the call's result. Both cells lie on the stack.
uint32_t make_function(const Cell* spec, const Cell* body) {
    uint32_t flags = function::check_spec(spec);
    function::push(spec, body, 0, 0, 0, flags);
    stack::set_result(stack::last());
    return 0;
}

}  // namespace

uint32_t func(const Call&) {
    Cell* base = stack::args;
    base[0] = clamped(base);
    base[1] = clamped(base + 1);
    return make_function(base, base + 1);
}

// /extern has no effect here: collect_words reads it from the spec.
uint32_t function_(const Call&) {
    Cell* base = stack::args;
    stack::top = base + 2;
    Cell source = clamped(base);
    Cell* spec = block::clone(&source, false, false);
    function::collect_words(spec, base + 1);
    base[1] = clamped(base + 1);
    return make_function(spec, base + 1);
}

uint32_t does(const Call&) {
    Cell* base = stack::args;
    stack::top = base + 1;
    Cell* spec = stack::push_slot();
    cell::set_none(spec);
    block::make_at(spec, 1);
    base[0] = clamped(base);
    return make_function(spec, base);
}

uint32_t has(const Call&) {
    Cell* base = stack::args;
    stack::top = base + 2;
    Cell* spec = stack::push_slot();
    cell::set_none(spec);
    block::make_at(spec, series::length_from(base) + 1);
    block::ks_append(spec, words::refinements.local);
    block::ks_append_block(spec, base);
    base[1] = clamped(base + 1);
    return make_function(spec, base + 1);
}

}  // namespace kel::natives
