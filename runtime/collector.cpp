#include "runtime/collector.hpp"

#include "runtime/interp.hpp"

#include <cstring>
#include <vector>

#include "runtime/context.hpp"
#include "runtime/datatypes/function.hpp"
#include "runtime/datatypes/image.hpp"
#include "runtime/datatypes/native.hpp"
#include "runtime/datatypes/object.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/error.hpp"
#include "runtime/hashtable.hpp"
#include "runtime/ownership.hpp"
#include "runtime/root.hpp"
#include "runtime/slots.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"
#include "runtime/system.hpp"
#include "runtime/value_slots.hpp"
#include "runtime/words.hpp"

namespace kel::collector {

Counters counters;

namespace {

bool collecting = false;
std::vector<Callback> callbacks;
std::vector<Cell*> roots;
std::vector<NodeId> pending_blocks;  // marked blocks whose cells are still to be marked

// The marks: one bit per node id, beside the buffers rather than in their
// headers. Marking a string then never reads its buffer, and compaction
// only reads the headers of buffers that stay where they are, so a
// collection with much live data writes few cache lines it did not have to.
std::vector<uint64_t> marks;

bool mark_buffer(NodeId node) {
    if (!node) return false;
    uint64_t& word = marks[node >> 6];
    uint64_t bit = uint64_t(1) << (node & 63);
    if (word & bit) return false;
    word |= bit;
    return true;
}

void mark_cell(const Cell* c);

// Marking never moves or grows a buffer: the address holds throughout.
void mark_cells_of(NodeId node) {
    SeriesBuffer* b = alloc::buffer_of(node);
    auto* c = reinterpret_cast<const Cell*>(b->data() + b->offset);
    auto* end = reinterpret_cast<const Cell*>(b->data() + b->tail);
    for (; c < end; ++c) mark_cell(c);
}

void drain() {
    while (!pending_blocks.empty()) {
        NodeId node = pending_blocks.back();
        pending_blocks.pop_back();
        mark_cells_of(node);
    }
}

void mark_cell(const Cell* c) {
    uint8_t t = cell::type_of(c);
    switch (t) {
        case type::word: case type::set_word: case type::lit_word: case type::get_word: case type::refinement:
            if (!word::context_of(c)) return;
            if (word::symbol(c) == words::symbols.self) mark_block(word::context_of(c));
            else mark_context(word::context_of(c));
            return;
        case type::block: case type::paren: case type::path: case type::lit_path: case type::set_path:
        case type::get_path:
            mark_block(series::node_of(c));
            return;
        case type::symbol:
            mark_buffer(c->payload3);
            mark_buffer(c->payload2);
            return;
        case type::string: case type::file: case type::url: case type::tag: case type::email: case type::ref:
            mark_buffer(series::node_of(c));
            mark_buffer(c->payload3);
            return;
        case type::bitset: case type::vector: case type::binary:
            mark_buffer(series::node_of(c));
            return;
        case type::object: case type::error: case type::port:
            mark_context(object::context_of(c));
            mark_buffer(object::handlers_of(c));
            return;
        case type::context:
            mark_table(context::words_table(c));
            if (!(c->header & cell::stack_values_flag)) mark_block(context::values_of(c));
            return;
        case type::map: case type::hash:
            mark_block(series::node_of(c));
            mark_table(c->payload3);
            return;
        case type::function: case type::routine:
            mark_context(function::context_of(c));
            mark_block(function::spec_node(c));
            mark_block(function::more_node(c));
            return;
        case type::native: case type::action: case type::op: {
            mark_block(function::spec_node(c));
            mark_block(function::more_node(c));
            uint8_t source = op::source_type(c);
            if (t == type::op && (source == type::function || source == type::routine))
                mark_context(function::context_of(c));
            return;
        }
        case type::image:
            if (mark_buffer(series::node_of(c))) image::finalize_node(series::node_of(c));
            return;
        case type::handle:
            if (int32_t(c->payload3) >= 0) slots::mark(int32_t(c->payload3), 0);
            return;
        case type::event:
            if ((c->header & cell::event_block_flag) && c->payload2) mark_block(c->payload2);
            return;
        default:
            return;
    }
}

void mark_frames() {
    for (const stack::Frame* f = stack::frames; f < stack::frame_top; ++f) {
        if (f->context) {
            if (f->symbol == words::symbols.self) mark_block(f->context);
            else mark_context(f->context);
        }
        if (f->function) {
            mark_context(f->function);
            if (f->saved && !context::on_stack(f->function)) mark_block(f->saved);
        }
    }
}

// A global of some module that holds values: a node with the procedure that
// marks it, a cell, or the error in flight.
struct ModuleRoot {
    NodeId* node = nullptr;
    void (*mark)(NodeId) = nullptr;
    Cell* cell = nullptr;
    error::Pending* error = nullptr;

    constexpr ModuleRoot(NodeId* n, void (*m)(NodeId)) : node(n), mark(m) {}
    constexpr ModuleRoot(Cell* c) : cell(c) {}
    constexpr ModuleRoot(error::Pending* e) : error(e) {}
};

// The module roots: marked at every collection, emptied by
// reset_module_roots before start-up makes them again. A new global that
// holds values is one line here.
constexpr ModuleRoot module_roots[] = {
    {&root::block, mark_block},
    {&symbol::table, mark_table},
    {&context::global, mark_context},
    {&value_slots::block, mark_block},
    {&ownership::table, mark_table},  // weak: its entries keep nothing alive
    {&interp::current_block},
    {&error::pending},
};

void mark_module_roots() {
    for (const ModuleRoot& r : module_roots) {
        if (r.node) r.mark(*r.node);
        else if (r.cell) mark_cell(r.cell);
        else {
            mark_cells(r.error->args, r.error->args + r.error->arg_count);
            mark_cell(&r.error->value);
        }
    }
}

void mark_roots() {
    mark_module_roots();
    if (stack::cells) {
        mark_cells(stack::cells, stack::top);
        mark_frames();
    }
    for (Cell* c : roots) mark_cell(c);
    drain();
    for (Callback cb : callbacks)
        if (cb) cb();
    drain();
}

// Slides the live buffers of a frame down over the dead ones; frees the
// nodes of the dead. A run of neighbouring live buffers moves in one copy:
// the node table learns their new places first, and the copy waits until
// the run ends, so it never overwrites a header still to be read. A frame
// left empty is released unless it is the last.
void compact(SeriesFrame* f) {
    KEL_UNPOISON(f->data(), size_t(f->heap_top - f->data()));
    uint8_t* dest = f->data();
    uint8_t* run = nullptr;  // first buffer of the live run not yet moved
    auto move_run = [&](uint8_t* end) {
        if (dest != run) std::memmove(dest, run, size_t(end - run));
        dest += end - run;
        run = nullptr;
    };
    for (uint8_t* p = f->data(); p < f->heap_top;) {
        auto* b = reinterpret_cast<SeriesBuffer*>(p);
        size_t size = alloc::footprint(b->size);
        if (b->node && marked(b->node)) {
            if (!run) run = p;
            if (dest != run) alloc::memory.nodes[b->node] = reinterpret_cast<SeriesBuffer*>(dest + (p - run));
        } else {
            if (run) move_run(p);
            if ((b->flags & alloc::flag::in_use) && b->node) {
                alloc::free_node(b->node);
                ++counters.freed_nodes;
            }
        }
        p += size;
    }
    if (run) move_run(f->heap_top);
    // Stress mode fills the space given up, so that a raw address kept across
    // the collection reads garbage at once instead of a stale copy.
    if (alloc::stress) std::memset(dest, 0xDB, size_t(f->heap_top - dest));
    KEL_POISON(dest, size_t(f->heap_top - dest));  // where moved and dead buffers were
    f->heap_top = dest;
    if (dest == f->data() && f != alloc::memory.series_tail) alloc::free_series_frame(f);
}

}  // namespace

void reset_module_roots() {
    for (const ModuleRoot& r : module_roots) {
        if (r.node) *r.node = 0;
        else if (r.cell) *r.cell = Cell{type::none, 0, 0, 0};
        else *r.error = {};
    }
}

void init() {
    counters = {};
    callbacks.clear();
    alloc::collect_hook = collect;
}

bool in_collection() { return collecting; }

bool marked(NodeId node) { return node && (marks[node >> 6] >> (node & 63) & 1); }

void collect_now() {
    if (sys::record.collector_enabled) collect();
}

void collect() {
    if (collecting) return;
    collecting = true;
    marks.assign((size_t(alloc::memory.node_ranges) * alloc::node_frame_ids + 1 + 63) / 64, 0);
    mark_roots();
    ownership::sweep();  // weak entries: those of unmarked series go
    slots::sweep();
    for (SeriesFrame* f = alloc::memory.series_head; f;) {
        SeriesFrame* next = f->next;
        compact(f);
        f = next;
    }
    alloc::sweep_big_frames(marked);
    if (alloc::sweep_node_frames()) ++counters.node_frame_cycles;
    alloc::plan_collection();
    ++alloc::memory.collections;
    ++counters.collections;
    collecting = false;
}

void add_callback(Callback proc) { callbacks.push_back(proc); }

void remove_callback(Callback proc) {
    for (Callback& cb : callbacks)
        if (cb == proc) {
            cb = nullptr;
            return;
        }
}

void mark_series(NodeId node) { mark_buffer(node); }

void mark_block(NodeId node) {
    if (mark_buffer(node)) pending_blocks.push_back(node);
}

void mark_context(NodeId ctx) {
    if (!mark_buffer(ctx)) return;
    SeriesBuffer* b = alloc::buffer_of(ctx);
    const Cell* cells = reinterpret_cast<const Cell*>(b->data() + b->offset);
    Cell context = cells[0], owner = cells[1];
    mark_cell(&context);
    mark_cell(&owner);
}

void mark_cells(const Cell* first, const Cell* last) {
    for (const Cell* c = first; c < last; ++c) mark_cell(c);
}

void mark_table(NodeId table) {
    if (!mark_buffer(table)) return;
    const hashtable::Record r = *hashtable::record(table);
    mark_buffer(r.flags);
    mark_buffer(r.keys);
    switch (r.kind) {
        case hashtable::hash_cells: {
            mark_buffer(r.aux);
            if (mark_buffer(r.dups)) {
                SeriesBuffer* d = alloc::buffer_of(r.dups);
                for (uint32_t at = d->offset; at + 4 <= d->tail; at += 4) {
                    uint32_t list;
                    std::memcpy(&list, d->data() + at, 4);
                    mark_buffer(list);
                }
            }
            mark_block(r.block);
            break;
        }
        case hashtable::identity:
            mark_block(r.block);  // entries keep their values alive
            break;
        case hashtable::ownership:
            mark_buffer(r.block);  // weak: the entries keep nothing alive
            break;
        default:
            mark_block(r.block);
    }
}

Root::Root(Cell* cell) { roots.push_back(cell); }
Root::~Root() { roots.pop_back(); }

}  // namespace kel::collector
