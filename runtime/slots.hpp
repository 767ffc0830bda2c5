// The handle table: one record per object of the operating system or of COM
// (a decoded image, a font, an interface) that values stand for and that must
// be released once no value refers to it. Values hold a record's index, which
// never changes: the record array grows by doubling and never shrinks.
//
// A record is tagged with a kind, whose release procedure frees the object.
// Every record is on exactly one of two singly linked chains, the free chain
// or the used chain, and its free flag says which. The collector marks the
// records that live values reach; its sweep releases and frees the others.
// Interpreter thread only.
#pragma once
#include <cstdint>

namespace kel::slots {

using ReleaseProc = void (*)(uintptr_t data);

struct HandleKind {
    const char* name;
    ReleaseProc release;  // null: nothing to release
};

struct HandleRecord {
    uint32_t flags;   // kind id in bits 0-7, flag_free, flag_mark
    int32_t next;     // the next record on the same chain; -1 ends it
    uintptr_t data;   // the object's address or handle; 0 in a free record
};

constexpr uint32_t kind_mask = 0xFF;
constexpr uint32_t flag_free = 0x40000000;
constexpr uint32_t flag_mark = 0x80000000;
constexpr int32_t kind_limit = 20;
constexpr int32_t initial_capacity = 1000;

struct Table {
    HandleKind kinds[kind_limit] = {};  // kind id i is kinds[i - 1]
    int32_t kind_count = 0;
    HandleRecord* records = nullptr;    // on the tracked heap
    int32_t capacity = 0;
    int32_t free_head = -1;
    int32_t used_head = -1;
};

extern Table table;

// An empty table of initial_capacity free records and no kinds.
void init();

// Answers the new kind's id, from 1 up. The 21st kind ends the process with
// runtime error 98.
int32_t register_kind(const char* name, ReleaseProc release);

// Answers the index of a record now holding data, of the given kind (0: none).
int32_t alloc(uintptr_t data, int32_t kind);

// Replaces the data; an old word that differs is released through the kind.
void set_data(int32_t index, uintptr_t data);

// Puts a used record back on the free chain, releasing its data first when
// `release` is set. A record that is already free is left alone. Answers -1
// (the index a value keeps once its record is gone).
int32_t free(int32_t index, bool release);

// The collector's mark: answers true when the record was not marked before.
// A non-zero data replaces the record's data without releasing the old one.
bool mark(int32_t index, uintptr_t data);

// Calls proc with the data of every used record of the kind, newest first.
void for_each_of_kind(int32_t kind, void (*proc)(uintptr_t data));

// The collector's sweep: marked records lose their mark; every unmarked used
// record is released through its kind and freed.
void sweep();

}  // namespace kel::slots
