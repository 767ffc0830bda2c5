#include "view/backend/snapshot.hpp"

namespace kel::view::snapshot {
namespace {

constexpr uint32_t slot_bits = 10;
constexpr uint32_t slot_count = 1u << slot_bits;
constexpr uint32_t slot_mask = slot_count - 1;

struct Slot {
    uint32_t generation = 0;  // 0: never used; the generations kept start at 1
    Snapshot snapshot;
};

Slot ring[slot_count];
uint32_t next = 0;         // the slot the next snapshot takes
uint32_t generation = 1;   // the generation of the current round of the ring

}  // namespace

uint32_t keep(const Snapshot& s) {
    uint32_t at = next;
    ring[at] = {generation, s};
    next = (next + 1) & slot_mask;
    uint32_t ref = (generation << slot_bits) | at;
    // The generation wraps within the bits above the slot; it never becomes 0.
    if (next == 0 && ++generation >= (1u << (32 - slot_bits))) generation = 1;
    return ref;
}

const Snapshot* find(uint32_t ref) {
    const Slot& slot = ring[ref & slot_mask];
    if (slot.generation == 0 || slot.generation != ref >> slot_bits) return nullptr;
    return &slot.snapshot;
}

void reset() {
    for (Slot& s : ring) s = {};
    next = 0;
    generation = 1;
}

}  // namespace kel::view::snapshot
