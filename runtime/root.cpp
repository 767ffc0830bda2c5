#include "runtime/root.hpp"

#include "runtime/output.hpp"
#include "runtime/system.hpp"

namespace kel::root {

NodeId block = 0;

void init() { block = alloc::alloc_external(capacity, sizeof(Cell), 0); }

Cell* record(const Cell* value) {
    SeriesBuffer* b = alloc::buffer_of(block);
    if (b->tail + sizeof(Cell) > b->size) {
        // Growing would move the cells that globals point at.
        const char text[] = "*** Root block full";
        stdio::print_latin1_line(text, sizeof text - 1);
        sys::quit(98, KEL_CALLER_ADDRESS());
    }
    Cell* c = series::bump_tail(b);
    *c = *value;
    return c;
}

NodeId make_fixed_block(uint32_t cells) {
    NodeId node = alloc::alloc_external(cells, sizeof(Cell), 0);
    Cell holder{type::block, 0, node, 0};
    record(&holder);
    return node;
}

}  // namespace kel::root
