#include "runtime/mem.hpp"

#include <cstdlib>
#include <cstring>

#include "runtime/output.hpp"
#include "runtime/system.hpp"

namespace kel::mem {
namespace {

constexpr size_t header_size = sizeof(HeapBlockHeader);
static_assert(header_size % 16 == 0);

HeapList& list() { return *sys::record.heap_list; }

HeapBlockHeader* header_of(void* p) { return static_cast<HeapBlockHeader*>(p) - 1; }

[[noreturn]] void out_of_memory(void* caller) { sys::quit(94, sys::image_offset(caller)); }

// A new block linked at the tail of the list; null when the C heap refuses.
void* take_or_null(size_t len) {
    if (len > SIZE_MAX - header_size) return nullptr;
    auto* h = static_cast<HeapBlockHeader*>(std::malloc(len + header_size));
    if (!h) return nullptr;
    HeapList& l = list();
    h->prev = l.tail;
    h->next = nullptr;
    h->size = len;
    h->spare = 0;
    if (l.tail) l.tail->next = h; else l.head = h;
    l.tail = h;
    return h + 1;
}

void* take(size_t len, void* caller) {
    void* p = take_or_null(len);
    if (!p) out_of_memory(caller);
    return p;
}

// The block p of a new size (len > 0), its neighbours pointing to where it
// now lives; null, with p untouched, when the C heap refuses.
void* realloc_or_null(void* p, size_t len) {
    if (len > SIZE_MAX - header_size) return nullptr;
    auto* n = static_cast<HeapBlockHeader*>(std::realloc(header_of(p), len + header_size));
    if (!n) return nullptr;
    n->size = len;
    HeapList& l = list();
    if (n->prev) n->prev->next = n; else l.head = n;
    if (n->next) n->next->prev = n; else l.tail = n;
    return n + 1;
}

bool in_list(const HeapBlockHeader* h) {
    for (auto* b = list().head; b; b = b->next)
        if (b == h) return true;
    return false;
}

void unlink(HeapBlockHeader* h) {
    HeapList& l = list();
    if (h->prev) h->prev->next = h->next; else l.head = h->next;
    if (h->next) h->next->prev = h->prev; else l.tail = h->prev;
}

}  // namespace

void* allocate(size_t len) { return take(len, __builtin_return_address(0)); }

void* allocate_zeroed(size_t len) {
    void* p = take(len, __builtin_return_address(0));
    std::memset(p, 0, len);
    return p;
}

void release(void* p) {
    if (!p) return;
    HeapBlockHeader* h = header_of(p);
    if (!in_list(h)) return;
    unlink(h);
    std::free(h);
}

void* resize(void* p, size_t len) {
    void* caller = __builtin_return_address(0);
    if (!p) return take(len, caller);
    if (len == 0) {
        release(p);
        return nullptr;
    }
    void* n = realloc_or_null(p, len);
    if (!n) out_of_memory(caller);
    return n;
}

void* resize_or_null(void* p, size_t len) {
    if (!p) return take_or_null(len);
    if (len == 0) {
        release(p);
        return nullptr;
    }
    return realloc_or_null(p, len);
}

void release_all() {
    HeapList& l = list();
    for (auto* b = l.head; b;) {
        auto* next = b->next;
        std::free(b);
        b = next;
    }
    l.head = l.tail = nullptr;
}

void dump_allocations() {
    sysrt::print_line({TypedPrintItem::text("-- Heap-allocations --")});
    sysrt::print_line({TypedPrintItem::text("Asked   Real")});
    size_t sum = 0;
    for (auto* b = list().head; b; b = b->next) {
        size_t real = b->size + header_size;
        sum += real;
        sysrt::print_line({TypedPrintItem::integer(int64_t(b->size)), TypedPrintItem::byte('\t'),
                           TypedPrintItem::integer(int64_t(real))});
    }
    sysrt::print_line({TypedPrintItem::text("-- Sum: "), TypedPrintItem::integer(int64_t(sum)),
                       TypedPrintItem::text(" --")});
}

}  // namespace kel::mem
