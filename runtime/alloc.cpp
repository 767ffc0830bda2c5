// The memory manager.
//
// Every series keeps its content in a buffer: a 32-byte header (flags, node,
// size, offset, tail) followed by a data area of `size` bytes, a multiple of
// 16, and 16 zero bytes of slack, so data is 16-byte aligned and a reader
// that runs a little past the data area finds zeros. offset and tail are byte
// offsets into the data area.
//
// A value never holds a buffer's address: it holds a node id, and the node
// table (memory.nodes, indexed by id) holds the buffer's address. Ids never
// move. They come in node frames of 10,000 ids each; a frame is the
// bookkeeping of one range of the table (free chain, use count, history for
// the collector). A free slot holds the next free id of its frame, tagged
// with bit 0 so that it can never be taken for a buffer.
//
// Buffers live in series frames (virtual-memory blocks with a 1 MiB data area
// for the first, 2 MiB for the rest, kept in address order) and are bumped
// from a frame's heap_top; a buffer whose footprint is 2 MiB or more gets a
// big frame of its own; a few fixed tables live on the tracked C heap.
// Buffers are never freed one by one: growth makes a new buffer and leaves
// the old one unused in its frame, and the collector slides the live buffers
// of each frame together, moving them. When every frame is full, a new frame
// (or a big one) is made without collecting until the frames hold twice what
// the last collection left in use, so the heap grows in proportion to what
// lives and a growing heap collects only now and then.
//
// So a raw buffer address is good only until the next call that can allocate
// (any allocation may collect). C++ code holds a series as (node id, index)
// across such calls and re-reads the buffer through the node afterwards;
// values that live only in C++ locals are registered as collector roots.
// Because of that, the collector needs neither a map of the native frames'
// pointer slots nor a list of interior references to rewrite: this manager
// keeps neither.
#include "runtime/alloc.hpp"

#include <algorithm>
#include <cstring>

#include "runtime/error.hpp"
#include "runtime/mem.hpp"
#include "runtime/platform/memory.hpp"
#include "runtime/system.hpp"
#include "runtime/throws.hpp"

namespace kel::alloc {

MemoryRecord memory;
CollectHook collect_hook = nullptr;
bool stress = false;

namespace {

constexpr size_t page = 4096;
constexpr uint8_t type_unset = 2;
constexpr uint32_t max_node_ranges = (UINT32_MAX - 1) / node_frame_ids;

// Leads every virtual-memory block: the rounded size, which the POSIX
// release needs and `total` gives back.
struct alignas(16) VmBlock {
    size_t size;
};

[[noreturn]] void no_memory() { error::fire(error::id::no_memory); }

void collect() {
    if (collect_hook && sys::record.collector_enabled) collect_hook();
}

SeriesBuffer* free_link(NodeId next) { return reinterpret_cast<SeriesBuffer*>((uintptr_t(next) << 1) | 1); }
NodeId next_free(SeriesBuffer* slot) { return NodeId(reinterpret_cast<uintptr_t>(slot) >> 1); }

// Bytes of data for n units: rounded up to 16, refused above the series limit.
uint64_t data_size(uint64_t n, uint32_t unit) {
    if (n > series_limit) no_memory();
    uint64_t size = (n * unit + 15) & ~uint64_t(15);
    if (size > series_limit) no_memory();
    return size;
}

// Room for one more range of ids in the node table.
void grow_node_table() {
    uint32_t old = memory.node_ranges;
    if (old == max_node_ranges) no_memory();
    uint32_t ranges = std::min(old ? old * 2 : 1, max_node_ranges);
    memory.nodes = static_cast<SeriesBuffer**>(
        mem::resize(memory.nodes, (size_t(ranges) * node_frame_ids + 1) * sizeof(SeriesBuffer*)));
    memory.nodes[0] = nullptr;
    memory.node_frames = static_cast<NodeFrame**>(mem::resize(memory.node_frames, ranges * sizeof(NodeFrame*)));
    std::fill(memory.node_frames + old, memory.node_frames + ranges, nullptr);
    memory.node_ranges = ranges;
}

// The active frame has no free id: the first frame from the head that has
// one and is not being emptied, else a new frame.
NodeFrame* node_frame_with_room() {
    NodeFrame* f = memory.node_head;
    while (f && (!f->free_head || f->evacuated)) f = f->next;
    if (!f) f = new_node_frame(node_frame_ids);
    memory.node_active = f;
    return f;
}

// Whether making `more` bytes of frames now should collect first: only once
// the frames have grown past what the last collection planned, so a heap
// that keeps growing collects a number of times logarithmic in its size
// rather than once per frame.
bool collection_due(uint64_t more) { return memory.total + more > memory.collect_at; }

// The active series frame has no room for `need` bytes. A frame found only
// after a collection must keep min_free_after_collect bytes free, or a nearly
// full frame would collect on almost every allocation.
SeriesFrame* series_frame_with_room(uint64_t need) {
    SeriesFrame* f = find_series_frame(need);
    if (!f && collection_due(memory.series_next)) {
        collect();
        f = find_series_frame(need);
        if (f && uint64_t(f->end - f->heap_top) < min_free_after_collect) f = nullptr;
    }
    if (!f) {
        if (need >= memory.series_next) memory.series_next = memory.s_max;
        f = new_series_frame();
    }
    memory.series_active = f;
    return f;
}

// The larger buffer for b: takes over b's node and keeps b's length; b is
// marked unused. Answers the old buffer (re-read, since the allocation may
// have moved it) and the new one.
struct Replacement {
    SeriesBuffer* old;
    SeriesBuffer* now;
};

Replacement replace(SeriesBuffer* b, uint64_t new_size) {
    uint32_t unit = b->unit();
    if (new_size == 0) new_size = b->size ? 2 * uint64_t(b->size) : 16;  // an empty buffer must grow too
    if (new_size > series_limit) no_memory();
    NodeId id = b->node;
    SeriesBuffer* nb = alloc_buffer((new_size + unit - 1) / unit, unit, 0);
    if (id) b = buffer_of(id);
    nb->flags |= b->flags & ~flag::placement;
    nb->node = id;
    nb->tail = std::min(b->tail - b->offset, nb->size);
    if (id) memory.nodes[id] = nb;
    b->node = 0;
    b->flags &= ~flag::in_use;
    return {b, nb};
}

}  // namespace

// ---- start and end

void init() { memory = MemoryRecord{}; }

void make_first_frames() {
    new_node_frame(node_frame_ids);
    new_series_frame();
}

void release_all_frames() {
    for (NodeFrame* f = memory.node_head; f;) {
        NodeFrame* next = f->next;
        mem::release(f);
        f = next;
    }
    mem::release(memory.nodes);
    mem::release(memory.node_frames);
    memory.nodes = nullptr;
    memory.node_frames = nullptr;
    memory.node_ranges = 0;
    memory.node_head = memory.node_tail = memory.node_active = nullptr;

    for (SeriesFrame* f = memory.series_head; f;) {
        SeriesFrame* next = f->next;
        virtual_free(f);
        f = next;
    }
    memory.series_head = memory.series_tail = memory.series_active = nullptr;

    for (BigFrame* f = memory.big_head; f;) {
        BigFrame* next = f->next;
        virtual_free(f);
        f = next;
    }
    memory.big_head = nullptr;
}

// ---- virtual memory

void* virtual_alloc(size_t n, bool executable) {
    if (n > SIZE_MAX - sizeof(VmBlock) - page) no_memory();
    size_t rounded = (n + sizeof(VmBlock) + page - 1) & ~(page - 1);
    void* p = nullptr;
    if (throws::protect(throws::vm_level, [&] { p = os::virtual_alloc(rounded, executable); })) no_memory();
    KEL_UNPOISON(p, rounded);  // a range mapped again may still carry old poison
    auto* block = static_cast<VmBlock*>(p);
    block->size = rounded;
    memory.total += rounded;
    return block + 1;
}

void virtual_free(void* p) {
    VmBlock* block = static_cast<VmBlock*>(p) - 1;
    size_t size = block->size;
    if (throws::protect(throws::vm_level, [&] { os::virtual_free(block, size); }))
        error::fire(error::id::wrong_mem);
    memory.total -= size;
}

// ---- nodes

NodeFrame* new_node_frame(uint32_t n) {
    n = std::clamp<uint32_t>(n, 1, node_frame_ids);
    uint32_t k = 0;
    while (k < memory.node_ranges && memory.node_frames[k]) ++k;
    if (k == memory.node_ranges) grow_node_table();

    auto* f = static_cast<NodeFrame*>(mem::allocate(sizeof(NodeFrame)));
    *f = NodeFrame{};
    f->first = k * node_frame_ids + 1;
    f->capacity = n;
    f->epoch = memory.collections;
    memory.node_frames[k] = f;
    if (!memory.node_head) {
        memory.node_head = memory.node_tail = memory.node_active = f;
    } else {
        f->prev = memory.node_tail;
        memory.node_tail->next = f;
        memory.node_tail = f;
    }

    SeriesBuffer** slot = memory.nodes + f->first;
    for (uint32_t i = 0; i + 1 < n; ++i) slot[i] = free_link(f->first + i + 1);
    slot[n - 1] = free_link(0);
    f->free_head = f->first;
    return f;
}

void free_node_frame(NodeFrame* f) {
    if (f->prev) f->prev->next = f->next; else memory.node_head = f->next;
    if (f->next) f->next->prev = f->prev; else memory.node_tail = f->prev;
    if (memory.node_active == f) memory.node_active = memory.node_tail;
    memory.node_frames[(f->first - 1) / node_frame_ids] = nullptr;
    mem::release(f);
}

NodeId take_node() {
    NodeFrame* f = memory.node_active;
    if (!f || !f->free_head) [[unlikely]] f = node_frame_with_room();
    NodeId id = f->free_head;
    f->free_head = next_free(memory.nodes[id]);
    memory.nodes[id] = nullptr;
    ++f->used;
    return id;
}

NodeFrame* frame_of(NodeId id) { return memory.node_frames[(id - 1) / node_frame_ids]; }

void free_node(NodeId id) {
    NodeFrame* f = frame_of(id);
    memory.nodes[id] = free_link(f->free_head);
    f->free_head = id;
    --f->used;
}

// ---- series frames

SeriesFrame* new_series_frame() {
    uint32_t size = memory.series_next;
    if (size < memory.s_max) memory.series_next = std::min(size * 2, memory.s_max);

    auto* f = static_cast<SeriesFrame*>(virtual_alloc(sizeof(SeriesFrame) + size, false));
    f->next = f->prev = nullptr;
    f->size = sizeof(SeriesFrame) + size;
    f->heap_top = f->data();
    f->end = f->data() + size;
    KEL_POISON(f->data(), size);

    // Keep the list in address order: insert before the first frame above f.
    auto above = [f](SeriesFrame* g) { return uintptr_t(g) > uintptr_t(f); };
    SeriesFrame* at = memory.series_head;
    while (at && !above(at)) at = at->next;
    if (!memory.series_head) {
        memory.series_head = memory.series_tail = memory.series_active = f;
    } else if (!at) {
        f->prev = memory.series_tail;
        memory.series_tail->next = f;
        memory.series_tail = f;
    } else {
        f->next = at;
        f->prev = at->prev;
        if (at->prev) at->prev->next = f; else memory.series_head = f;
        at->prev = f;
    }
    return f;
}

void free_series_frame(SeriesFrame* f) {
    if (f->prev) f->prev->next = f->next; else memory.series_head = f->next;
    if (f->next) f->next->prev = f->prev; else memory.series_tail = f->prev;
    if (memory.series_active == f) memory.series_active = memory.series_tail;
    virtual_free(f);
}

// A frame filled exactly to its end counts as full.
SeriesFrame* find_series_frame(uint64_t need) {
    for (SeriesFrame* f = memory.series_head; f; f = f->next)
        if (uint64_t(f->end - f->heap_top) > need) return f;
    return nullptr;
}

// ---- buffers

SeriesBuffer* alloc_buffer(uint64_t n, uint32_t unit, int32_t head) {
    if (stress) [[unlikely]] collect();
    uint64_t size = data_size(n, unit);
    uint64_t need = footprint(size);
    uint32_t flags = unit | flag::in_use | flag::made;
    SeriesBuffer* b;
    if (need < memory.s_max) [[likely]] {
        SeriesFrame* f = memory.series_active;
        if (!f || uint64_t(f->end - f->heap_top) <= need) [[unlikely]] f = series_frame_with_room(need);
        b = reinterpret_cast<SeriesBuffer*>(f->heap_top);
        KEL_UNPOISON(b, need);
        f->heap_top += need;
    } else {
        if (collection_due(need)) collect();
        b = alloc_big(need);
        flags |= flag::big;
    }
    if (head < 0) {  // room to insert at the head; the head stays on a unit boundary
        flags |= flag::mid_head;
        head = int32_t(size / 2 / unit * unit);
    }
    b->flags = flags;
    b->node = 0;
    b->size = uint32_t(size);
    b->offset = b->tail = uint32_t(head);
    std::memset(b->data() + size, 0, buffer_slack);
    return b;
}

SeriesBuffer* alloc_big(uint64_t need) {
    auto* f = static_cast<BigFrame*>(virtual_alloc(sizeof(BigFrame) + need, false));
    f->next = nullptr;
    f->size = need;
    BigFrame** link = &memory.big_head;
    while (*link) link = &(*link)->next;
    *link = f;
    return f->buffer();
}

void free_big(SeriesBuffer* b) {
    BigFrame* f = reinterpret_cast<BigFrame*>(b) - 1;
    BigFrame** link = &memory.big_head;
    while (*link && *link != f) link = &(*link)->next;
    if (*link) *link = f->next;
    virtual_free(f);
}

// The buffer first: it may collect, and a node taken before would hold
// nothing the collector can mark.
NodeId alloc_series(uint64_t n, uint32_t unit, int32_t head) {
    SeriesBuffer* b = alloc_buffer(n, unit, head);
    NodeId id = take_node();
    b->node = id;
    memory.nodes[id] = b;
    return id;
}

NodeId alloc_external(uint64_t n, uint32_t unit, uint32_t head) {
    uint64_t size = data_size(n, unit);
    auto* b = static_cast<SeriesBuffer*>(mem::allocate(footprint(size)));
    b->flags = unit | flag::in_use | flag::fixed | flag::made;
    b->node = 0;
    b->size = uint32_t(size);
    b->offset = b->tail = head;
    std::memset(b->data() + size, 0, buffer_slack);
    NodeId id = take_node();
    b->node = id;
    memory.nodes[id] = b;
    return id;
}

NodeId alloc_cells(uint64_t n) { return alloc_series(n, sizeof(Cell), 0); }

NodeId alloc_unset_cells(uint64_t n) {
    NodeId id = alloc_series(n, sizeof(Cell), 0);
    SeriesBuffer* b = buffer_of(id);
    auto* c = reinterpret_cast<Cell*>(b->data());
    for (uint32_t i = 0; i < b->size / sizeof(Cell); ++i) c[i] = Cell{type_unset, 0, 0, 0};
    return id;
}

NodeId alloc_bytes(uint64_t n) { return alloc_series(n ? n : 16, 1, 0); }

NodeId alloc_units(uint64_t n, uint32_t unit) { return alloc_series(n ? n : 16 >> (unit >> 1), unit, 0); }

NodeId alloc_filled_bytes(uint64_t n, uint8_t byte) {
    NodeId id = alloc_bytes(n);
    SeriesBuffer* b = buffer_of(id);
    std::memset(b->data(), byte, b->size);
    return id;
}

void set_flags(NodeId id, uint32_t bits) { buffer_of(id)->flags |= bits; }

// ---- growth and copies

SeriesBuffer* realloc_series(SeriesBuffer* b, uint64_t new_size) { return replace(b, new_size).now; }

// The head moves to the data start, which also drops any room a mid-buffer
// head had kept.
SeriesBuffer* expand_series(SeriesBuffer* b, uint64_t new_size) {
    Replacement r = replace(b, new_size);
    uint32_t n = std::min(r.old->size - r.old->offset, r.now->size);
    std::memcpy(r.now->data(), r.old->data() + r.old->offset, n);
    // The old buffer is dead: a pointer kept into it is stale.
    if (!(r.old->flags & flag::big)) KEL_POISON(r.old->data(), r.old->size);
    return r.now;
}

SeriesBuffer* expand_fill(SeriesBuffer* b, uint64_t new_size, uint8_t byte) {
    uint32_t old_size = b->size;
    SeriesBuffer* nb = expand_series(b, new_size);
    uint64_t end = new_size ? std::min<uint64_t>(new_size, nb->size) : nb->size;
    if (end > old_size) std::memset(nb->data() + old_size, byte, end - old_size);
    return nb;
}

// A new byte-unit series with b's unit, type-level flags and content. The
// copy is a new series of its own: not fixed, not big unless it had to be,
// and owned by nobody.
NodeId clone_buffer(SeriesBuffer* b) {
    NodeId src = b->node;
    NodeId id = alloc_bytes(b->size);
    if (src) b = buffer_of(src);
    SeriesBuffer* nb = buffer_of(id);
    nb->flags = (nb->flags & flag::big) | (b->flags & ~(flag::placement | flag::owned)) | flag::in_use | flag::made;
    nb->tail = b->tail - b->offset;
    if (b->size) std::memcpy(nb->data(), b->data() + b->offset, b->size - b->offset);
    return id;
}

// ---- end of a collection

void plan_collection() {
    uint64_t in_use = 0;
    for (SeriesFrame* f = memory.series_head; f; f = f->next) in_use += uint64_t(f->heap_top - f->data());
    for (BigFrame* f = memory.big_head; f; f = f->next) in_use += f->size;
    memory.collect_at = std::max(2 * in_use, min_collect_at);
}

uint32_t sweep_node_frames() {
    bool active_chosen = false;
    uint32_t released = 0;
    for (NodeFrame* f = memory.node_head; f;) {
        NodeFrame* next = f->next;
        if (f->used == 0 || f->evacuated) {
            free_node_frame(f);
            ++released;
        } else {
            if (!active_chosen && f->used < f->capacity) {
                memory.node_active = f;
                active_chosen = true;
            }
            f->history = (f->history << 1) | (f->used == f->last_used ? 1 : 0);
            f->last_used = f->used;
        }
        f = next;
    }
    return released;
}

// Ids are stable and free_node is constant time, so the node of a dead big
// buffer goes straight back to its frame rather than through a queue.
void sweep_big_frames(bool (*marked)(NodeId)) {
    for (BigFrame* f = memory.big_head; f;) {
        BigFrame* next = f->next;
        SeriesBuffer* b = f->buffer();
        if (!marked(b->node)) {
            if (b->node) free_node(b->node);
            free_big(b);
        }
        f = next;
    }
}

}  // namespace kel::alloc
