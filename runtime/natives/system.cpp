#include "runtime/natives/system.hpp"

#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/natives/control.hpp"
#include "runtime/natives/natives.hpp"
#include "runtime/output.hpp"
#include "runtime/stack.hpp"

namespace kel::natives {

bool last_lf = true;

namespace {

// print and prin: a block is reduced first, a string printed as it is, any
// other value formed; the text goes to the value print hooks.
uint32_t print_value(bool newline) {
    Cell* base = stack::args;
    Cell value = base[0];
    if (cell::is(&value, type::block)) {
        // reduce in a frame of its own, its result left in base[1]
        stack::top = base + 1;
        stack::mark_native(nullptr);
        stack::push(&value);
        int32_t no_into = -1;
        if (uint32_t pending = reduce(Call{false, &no_into})) return pending;
        value = *stack::args;
        stack::unwind_drop();
        stack::top = base + 1;
    }
    Cell* text = stack::push_slot();
    if (cell::is(&value, type::string)) {
        *text = value;
        if (series::index_of(text) > series::total_length(text)) text->payload1 = uint32_t(series::total_length(text));
    } else {
        Cell* held = stack::push(&value);
        string::make(text, 16);
        actions::form(held, text, nullptr, INT32_MAX);
    }
    output::run_value_hooks(text, newline);
    last_lf = newline;
    cell::set_unset(base);
    stack::keep();
    return 0;
}

}  // namespace

uint32_t print(const Call&) { return print_value(true); }
uint32_t prin(const Call&) { return print_value(false); }

void print_to_stdout(const Cell* text, bool newline) {
    const Cell s = *text;
    SeriesBuffer* b = alloc::buffer_of(s.payload2);
    uint32_t unit = b->unit() ? b->unit() : 1;
    uint32_t from = uint32_t(series::clamped_index(&s)) * unit;
    stdio::write(b->data() + b->offset + from, b->tail - b->offset - from, int(unit), newline);
}

void init_system() {
    table[22] = print;
    table[23] = prin;
}

}  // namespace kel::natives
