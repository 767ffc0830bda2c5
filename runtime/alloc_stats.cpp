// Memory statistics: the bytes in use in the memory manager's frames, and on
// request a block that describes every frame (free, used and total bytes of
// each node frame and series frame, the size of each big frame, then all
// bytes held and the bytes of the tracked C heap).
#include "runtime/alloc_stats.hpp"

#include <initializer_list>

#include "runtime/alloc.hpp"
#include "runtime/collector.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/mem.hpp"
#include "runtime/system.hpp"

namespace kel::alloc {
namespace {

// An integer!, or a float! above the largest 32-bit integer.
Cell number(double v) {
    Cell c;
    if (v <= 2147483647.0) cell::set_integer(&c, int32_t(v));
    else cell::set_real(&c, type::float_, v);
    return c;
}

// The bytes taken from the system and from the C heap, as the integer! the
// report expects. A 64-bit process can hold more than the largest 32-bit
// integer; the totals then stay at that largest integer (2147483647)
// rather than turn into float!, so their type does not depend on the size.
Cell saturated(double v) {
    Cell c;
    cell::set_integer(&c, v < 2147483647.0 ? int32_t(v) : 2147483647);
    return c;
}

// Appends a value on a line of its own.
void append_line(Cell* block, const Cell& value) {
    Cell* c = block::ks_append(block, &value);
    c->header |= cell::newline_flag;
}

// Appends [free used total] on a line of its own.
void append_triple(Cell* block, double free, double used, double total) {
    Cell triple;
    block::make_at(&triple, 3);
    for (double v : {free, used, total}) {
        Cell n = number(v);
        block::ks_append(&triple, &n);
    }
    append_line(block, triple);
}

}  // namespace

double stats_block(Cell* block, int level) {
    collector::Pause pause;  // nothing collects while the frames are walked
    bool describe = level == 2 && block;
    double used = 0, total = 0;
    constexpr double node_bytes = sizeof(SeriesBuffer*);

    Cell nodes, series, bigs;
    if (describe) {
        block::make_at(&nodes, 8);
        block::make_at(&series, 8);
        block::make_at(&bigs, 8);
    }
    for (NodeFrame* f = memory.node_head; f; f = f->next) {
        used += f->used * node_bytes;
        if (describe) append_triple(&nodes, f->capacity - f->used, f->used, f->capacity);
        total += f->capacity * node_bytes + sizeof(NodeFrame);
    }
    for (SeriesFrame* f = memory.series_head; f; f = f->next) {
        double in_use = double(f->heap_top - f->data());
        used += in_use;
        if (describe) append_triple(&series, double(f->end - f->heap_top), in_use, double(f->end - f->data()));
        total += double(f->size);
    }
    for (BigFrame* f = memory.big_head; f; f = f->next) {
        used += double(f->size);
        if (describe) append_line(&bigs, number(double(f->size)));
        total += double(f->size + sizeof(BigFrame));
    }
    if (describe) {
        double heap = 0;
        for (auto* b = sys::record.heap_list->head; b; b = b->next) heap += double(b->size + sizeof(*b));
        total += heap;
        for (const Cell& part : {nodes, series, bigs, saturated(total), saturated(heap)}) block::ks_append(block, &part);
    }
    return describe ? 0 : used;
}

}  // namespace kel::alloc
