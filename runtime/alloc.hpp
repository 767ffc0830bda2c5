// The memory manager: nodes, series buffers and the frames they live in.
// alloc.cpp's head says how they fit together and who may hold raw addresses.
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/cell.hpp"

// Under AddressSanitizer the free part of each series frame is poisoned: a
// raw pointer kept across a collection that moved its buffer faults when it
// lands where no buffer lives any more.
#if defined(__SANITIZE_ADDRESS__)
#define KEL_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KEL_ASAN 1
#endif
#endif
#ifdef KEL_ASAN
#include <sanitizer/asan_interface.h>
#define KEL_POISON(p, n) ASAN_POISON_MEMORY_REGION((p), (n))
#define KEL_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION((p), (n))
#else
#define KEL_POISON(p, n) ((void)(p), (void)(n))
#define KEL_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace kel {

// A series' identity, as stored in payload 2 of its cells. 0 is no node.
using NodeId = uint32_t;

namespace alloc::flag {
constexpr uint32_t unit_mask = 0x0000001F;  // bytes per unit: 1, 2, 4 or 16 (cells)
constexpr uint32_t fixed = 0x00100000;      // on the tracked C heap: never moved, never reclaimed
constexpr uint32_t big = 0x01000000;        // alone in a big frame
constexpr uint32_t mid_head = 0x10000000;   // made with its head in the middle of the data area
constexpr uint32_t made = 0x20000000;       // set on every buffer when it is made
constexpr uint32_t in_use = 0x80000000;     // cleared when a larger buffer replaces this one
constexpr uint32_t owned = 0x00020000;      // set by the ownership module: the series has an owner
// Flags that describe where and how a buffer was placed: they never pass to
// the buffer that replaces or copies it.
constexpr uint32_t placement = fixed | big | mid_head;
}  // namespace alloc::flag

// Header of a series buffer; the data area of `size` bytes follows it, then
// `alloc::buffer_slack` zero bytes. offset and tail are byte offsets into the
// data area, offset <= tail <= size.
struct alignas(16) SeriesBuffer {
    uint32_t flags;
    NodeId node;      // 0 once a larger buffer has replaced this one
    uint32_t size;    // bytes of data: the request rounded up to 16
    uint32_t offset;  // the series head
    uint32_t tail;    // one past the last used byte

    uint8_t* data() { return reinterpret_cast<uint8_t*>(this + 1); }
    uint32_t unit() const { return flags & alloc::flag::unit_mask; }
};
static_assert(sizeof(SeriesBuffer) == 32);

// The record of one range of node ids. Its slots are the node table entries
// first .. first + capacity - 1; the free ones form a chain.
struct NodeFrame {
    NodeFrame* next;     // 0 at the tail
    NodeFrame* prev;     // 0 at the head
    NodeId first;        // first id of the frame's range
    uint32_t capacity;   // number of ids (10,000)
    NodeId free_head;    // first free id, 0 when the frame is full
    uint32_t used;       // ids in use
    uint32_t epoch;      // collection count when the frame was made
    uint32_t last_used;  // used at the end of the previous collection
    uint32_t history;    // shifted left per collection; bit 0: used did not change
    uint32_t evacuated;  // 1: the collector emptied it; released at the end of that collection
};

// A virtual-memory frame whose data area holds buffers one after another,
// from data() up to heap_top.
struct alignas(16) SeriesFrame {
    SeriesFrame* next;
    SeriesFrame* prev;
    size_t size;        // header + data area, in bytes
    uint8_t* heap_top;  // first unused byte
    uint8_t* end;       // one past the data area

    uint8_t* data() { return reinterpret_cast<uint8_t*>(this + 1); }
};
static_assert(sizeof(SeriesFrame) % 16 == 0);

// A virtual-memory frame holding exactly one buffer, right after this header.
struct BigFrame {
    BigFrame* next;
    size_t size;  // the buffer's footprint

    SeriesBuffer* buffer() { return reinterpret_cast<SeriesBuffer*>(this + 1); }
};
static_assert(sizeof(BigFrame) == 16);

struct MemoryRecord {
    SeriesBuffer** nodes = nullptr;  // the node table: buffer of each id (the hot path)
    uint64_t total = 0;              // bytes of virtual memory held by series and big frames
    NodeFrame* node_head = nullptr;
    NodeFrame* node_tail = nullptr;
    NodeFrame* node_active = nullptr;  // frame from which nodes are taken
    SeriesFrame* series_head = nullptr;  // the list is in ascending address order
    SeriesFrame* series_active = nullptr;  // frame in which buffers are placed
    SeriesFrame* series_tail = nullptr;
    uint32_t series_initial = 0x100000;  // data area of the first series frame
    uint32_t series_next = 0x100000;     // data area of the next series frame
    uint32_t s_max = 0x200000;           // largest data area; a footprint this big gets a big frame
    BigFrame* big_head = nullptr;
    NodeFrame** node_frames = nullptr;  // frame of each id range, null where none lives
    uint32_t node_ranges = 0;           // entries of node_frames; nodes has node_ranges x 10,000 + 1
    uint32_t collections = 0;           // advanced by the collector; stamps new node frames
    uint64_t collect_at = 0;  // `total` past which a new frame collects first; 0: the next one does
};

namespace alloc {

extern MemoryRecord memory;

constexpr uint32_t node_frame_ids = 10000;   // ids per node frame
constexpr uint32_t buffer_slack = 16;        // zero bytes after every data area
constexpr uint64_t series_limit = 0x7FFFFFFF;  // largest data area of one buffer
constexpr uint32_t min_free_after_collect = 0xCCCC;
constexpr uint64_t min_collect_at = 0x400000;  // a small heap grows to 4 MiB between collections

// Bytes a buffer of `size` data bytes takes in its frame.
constexpr uint64_t footprint(uint64_t size) { return sizeof(SeriesBuffer) + size + buffer_slack; }

// Runs a collection where the allocator wants one. Null until the collector
// exists; called only while sys::record.collector_enabled is set.
using CollectHook = void (*)();
extern CollectHook collect_hook;
// Stress mode: a collection before every buffer (tests of the root rules).
extern bool stress;

// The hot path: one id, one buffer. Re-read it after any call that can allocate.
inline SeriesBuffer* buffer_of(NodeId id) { return memory.nodes[id]; }

// Start-up: the record to its initial values, then (later in start-up) the
// first node frame of 10,000 ids and the first 1 MiB series frame.
void init();
void make_first_frames();
void release_all_frames();

// Virtual-memory blocks, rounded up to whole pages; they count in memory.total.
// A refusal raises internal no-memory; a failed release internal wrong-mem.
void* virtual_alloc(size_t n, bool executable);
void virtual_free(void* block);

NodeFrame* new_node_frame(uint32_t n = node_frame_ids);  // n is clamped to 1 .. 10,000
void free_node_frame(NodeFrame* f);
NodeId take_node();                // a free id whose slot holds null
void free_node(NodeId id);         // back to its frame's free chain
NodeFrame* frame_of(NodeId id);

SeriesFrame* new_series_frame();
void free_series_frame(SeriesFrame* f);
SeriesFrame* find_series_frame(uint64_t footprint);  // first from the head with room, or null

// Sizes and counts are taken in 64 bits: a data area above series_limit
// raises internal no-memory. head is a byte offset into the data area (at
// most n x unit), or -1 for the middle with room to insert at the head.
SeriesBuffer* alloc_buffer(uint64_t n, uint32_t unit, int32_t head);  // no node yet
SeriesBuffer* alloc_big(uint64_t footprint);
void free_big(SeriesBuffer* b);
NodeId alloc_series(uint64_t n, uint32_t unit, int32_t head);
NodeId alloc_external(uint64_t n, uint32_t unit, uint32_t head);  // fixed, on the tracked C heap
NodeId alloc_cells(uint64_t n);
NodeId alloc_unset_cells(uint64_t n);  // data area full of unset cells, tail at the head
NodeId alloc_bytes(uint64_t n);        // 0 asks for 16
NodeId alloc_units(uint64_t n, uint32_t unit);  // text storage; 0 asks for 16 bytes' worth
NodeId alloc_filled_bytes(uint64_t n, uint8_t byte);
void set_flags(NodeId id, uint32_t bits);

// Growth: new_size 0 doubles (an empty buffer grows to 16 bytes). The larger
// buffer takes over the node and starts its head at the data start; the old
// one stays, unused, until the collector reclaims it. Both may collect, so
// b is re-read through its node: use only the buffer they answer.
SeriesBuffer* realloc_series(SeriesBuffer* b, uint64_t new_size);  // content not copied
SeriesBuffer* expand_series(SeriesBuffer* b, uint64_t new_size);
SeriesBuffer* expand_fill(SeriesBuffer* b, uint64_t new_size, uint8_t byte);
NodeId clone_buffer(SeriesBuffer* b);

// End-of-collection passes, run by the collector. plan_collection sets
// collect_at: the frames may grow to twice the bytes in use (at least
// min_collect_at) before the next collection. sweep_node_frames answers the
// number of node frames it released.
uint32_t sweep_node_frames();
void sweep_big_frames(bool (*marked)(NodeId));  // frees the unmarked
void plan_collection();

}  // namespace alloc

namespace series {

// Appends one cell (its header set to unset!, payloads untouched) and answers
// it; the buffer may be replaced on the way, so re-read it through its node.
inline Cell* bump_tail(SeriesBuffer* b) {
    if (b->tail + sizeof(Cell) > b->size) [[unlikely]]
        b = alloc::expand_series(b, 0);
    auto* c = reinterpret_cast<Cell*>(b->data() + b->tail);
    c->header = 2;
    b->tail += sizeof(Cell);
    return c;
}

// Appends n bytes and answers where they start (content untouched).
inline uint8_t* bump_tail_bytes(SeriesBuffer* b, uint32_t n) {
    if (uint64_t(b->tail) + n > b->size) [[unlikely]]
        b = alloc::expand_series(b, n > b->size ? 2 * uint64_t(n) : 0);
    uint8_t* p = b->data() + b->tail;
    b->tail += n;
    return p;
}

// The cells of a series of cells from its head, and how many there are:
// good until the next allocation.
inline Cell* cells_of(NodeId node) {
    SeriesBuffer* b = alloc::buffer_of(node);
    return reinterpret_cast<Cell*>(b->data() + b->offset);
}
inline uint32_t cell_count(NodeId node) {
    SeriesBuffer* b = alloc::buffer_of(node);
    return (b->tail - b->offset) / sizeof(Cell);
}

// bump_tail on the buffer of a series cell.
inline Cell* alloc_tail(const Cell* v) { return bump_tail(alloc::buffer_of(v->payload2)); }

}  // namespace series
}  // namespace kel
