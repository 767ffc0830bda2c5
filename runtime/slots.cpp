// The handle table. The free chain never runs empty: taking its last record
// first doubles the array and chains the new half behind it. Release
// procedures run only after the table is consistent again, so one that calls
// back into the table (to take or free a record) finds the chains whole.
#include "runtime/slots.hpp"

#include <cstdint>

#include "runtime/mem.hpp"
#include "runtime/system.hpp"

namespace kel::slots {

Table table;

namespace {

// Records first to end - 1 become free, each linked to the next, the last to -1.
void thread(int32_t first, int32_t end) {
    for (int32_t i = first; i < end; ++i) table.records[i] = {flag_free, i + 1, 0};
    table.records[end - 1].next = -1;
}

void grow(void* caller) {
    int32_t old = table.capacity;
    if (old > INT32_MAX / 2) sys::quit(94, sys::image_offset(caller));
    table.records = static_cast<HandleRecord*>(
        mem::resize(table.records, sizeof(HandleRecord) * size_t(old) * 2));
    table.capacity = old * 2;
    thread(old, table.capacity);
}

void release(uint32_t flags, uintptr_t data) {
    uint32_t kind = flags & kind_mask;
    if (kind == 0 || kind > uint32_t(table.kind_count)) return;
    if (ReleaseProc proc = table.kinds[kind - 1].release) proc(data);
}

void unlink_used(int32_t index) {
    int32_t before = -1;
    int32_t i = table.used_head;
    while (i != -1 && i != index) {
        before = i;
        i = table.records[i].next;
    }
    if (i == -1) return;
    if (before == -1)
        table.used_head = table.records[i].next;
    else
        table.records[before].next = table.records[i].next;
}

void push_free(int32_t index) {
    table.records[index] = {flag_free, table.free_head, 0};
    table.free_head = index;
}

}  // namespace

void init() {
    mem::release(table.records);
    table = Table{};
    table.records = static_cast<HandleRecord*>(mem::allocate(sizeof(HandleRecord) * initial_capacity));
    table.capacity = initial_capacity;
    thread(0, initial_capacity);
    table.free_head = 0;
}

int32_t register_kind(const char* name, ReleaseProc release) {
    if (table.kind_count == kind_limit) sys::quit(98, KEL_CALLER_ADDRESS());
    table.kinds[table.kind_count++] = {name, release};
    return table.kind_count;
}

int32_t alloc(uintptr_t data, int32_t kind) {
    int32_t i = table.free_head;
    if (table.records[i].next == -1) {
        grow(__builtin_return_address(0));
        table.records[i].next = table.capacity / 2;
    }
    HandleRecord& r = table.records[i];
    table.free_head = r.next;
    r = {uint32_t(kind) & kind_mask, table.used_head, data};
    table.used_head = i;
    return i;
}

void set_data(int32_t index, uintptr_t data) {
    HandleRecord& r = table.records[index];
    uintptr_t old = r.data;
    if (old == data) return;
    r.data = data;
    release(r.flags, old);
}

int32_t free(int32_t index, bool release_data) {
    HandleRecord r = table.records[index];
    // Pushed twice, a record would later be handed out twice.
    if (r.flags & flag_free) return -1;
    unlink_used(index);
    push_free(index);
    if (release_data) release(r.flags, r.data);
    return -1;
}

bool mark(int32_t index, uintptr_t data) {
    HandleRecord& r = table.records[index];
    if (data != 0) r.data = data;
    bool was_marked = r.flags & flag_mark;
    r.flags |= flag_mark;
    return !was_marked;
}

void for_each_of_kind(int32_t kind, void (*proc)(uintptr_t data)) {
    for (int32_t i = table.used_head; i != -1;) {
        HandleRecord r = table.records[i];
        if ((r.flags & kind_mask) == uint32_t(kind)) proc(r.data);
        i = r.next;
    }
}

void sweep() {
    // First the unmarked records leave the used chain for a chain of their
    // own, flagged free so that a release procedure's slots::free passes
    // them by; then each is freed and released.
    int32_t doomed = -1;
    int32_t kept = -1;
    for (int32_t i = table.used_head; i != -1;) {
        HandleRecord& r = table.records[i];
        int32_t next = r.next;
        if (r.flags & flag_mark) {
            r.flags &= ~flag_mark;
            kept = i;
        } else {
            if (kept == -1)
                table.used_head = next;
            else
                table.records[kept].next = next;
            r.flags |= flag_free;
            r.next = doomed;
            doomed = i;
        }
        i = next;
    }
    while (doomed != -1) {
        HandleRecord r = table.records[doomed];
        push_free(doomed);
        release(r.flags, r.data);
        doomed = r.next;
    }
}

}  // namespace kel::slots
