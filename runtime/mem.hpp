// The tracked C heap: every block the runtime takes from the C library goes
// through these wrappers, which keep the live blocks in one doubly linked list
// so that all of them can be listed and released at exit. Values never live
// here: only a few long-lived tables and buffers do.
#pragma once
#include <cstddef>
#include <cstdint>

namespace kel::mem {

struct HeapBlockHeader {
    HeapBlockHeader* prev;  // 0 at the head
    HeapBlockHeader* next;  // 0 at the tail
    size_t size;            // what the caller asked for
    size_t spare;           // keeps the caller's block 16-byte aligned
};

struct HeapList {
    HeapBlockHeader* head = nullptr;
    HeapBlockHeader* tail = nullptr;
};

// A failed allocation never returns: the process ends with runtime error 94.
void* allocate(size_t len);
void* allocate_zeroed(size_t len);
void release(void* p);              // a pointer not in the list is ignored
void* resize(void* p, size_t len);  // null p: allocate; len 0: release, answers null
// As resize, but where the C heap refuses, answers null and leaves p as it
// was: for callers that turn the refusal into a Kel error.
void* resize_or_null(void* p, size_t len);
void release_all();
void dump_allocations();

}  // namespace kel::mem
