#include "runtime/value_slots.hpp"

#include "runtime/root.hpp"

namespace kel::value_slots {

NodeId block = 0;

namespace {
int32_t free_head = -1;
uint32_t slots = 0;

Cell* cells() {
    SeriesBuffer* b = alloc::buffer_of(block);
    return reinterpret_cast<Cell*>(b->data() + b->offset);
}

// Makes positions from..capacity-1 free, each linking to the next.
void thread(uint32_t from) {
    Cell* c = cells();
    for (uint32_t i = from; i < slots; ++i) {
        c[i].header = type::integer;
        c[i].payload2 = i + 1 < slots ? i + 1 : uint32_t(-1);
    }
    free_head = int32_t(from);
    SeriesBuffer* b = alloc::buffer_of(block);
    b->tail = b->offset + slots * uint32_t(sizeof(Cell));
}
}  // namespace

void init() {
    slots = 100;
    block = alloc::alloc_cells(slots);
    Cell holder{type::block, 0, block, 0};
    root::record(&holder);
    thread(0);
}

uint32_t alloc(const Cell* value) {
    Cell v = *value;
    if (free_head < 0) {
        uint32_t old = slots;
        slots *= 2;
        alloc::expand_series(alloc::buffer_of(block), uint64_t(slots) * sizeof(Cell));
        thread(old);
    }
    Cell* slot = cells() + free_head;
    int32_t next = int32_t(slot->payload2);
    *slot = v;
    uint32_t n = uint32_t(free_head) + 1;
    free_head = next;
    return n;
}

void free(uint32_t slot) {
    if (slot == 0) return;
    Cell* c = cells() + (slot - 1);
    c->header = type::integer;
    c->payload2 = uint32_t(free_head);
    free_head = int32_t(slot - 1);
}

Cell* at(uint32_t slot) { return cells() + (slot - 1); }

uint32_t capacity() { return slots; }

}  // namespace kel::value_slots
