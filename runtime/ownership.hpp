// Ownership of series by objects. An object with change handlers owns the
// series in its fields, down through nested blocks and plain nested objects;
// when an owned series is modified in place, the owner's on-deep-change* is
// told which field changed and how.
//
// The record is an identity table keyed by the owned series' node, each entry
// holding a copy of the owned value, the owner object cell and the field
// word. The owned series carries a mark in its buffer flags
// (alloc::flag::owned), so the series actions look the table up only for
// owned series. An owner object's context! cell carries cell::owner_flag: it
// owns its own fields and other owners do not walk into it.
//
// Entries are weak: the table keeps nothing alive, and a collection drops
// the entries whose series or owner died (ownership::sweep).
#pragma once
#include <cstdint>

#include "runtime/alloc.hpp"
#include "runtime/cell.hpp"

namespace kel::ownership {

extern NodeId table;  // a module root of the collector

// Makes the table.
void init();

// Records the owner and field word for the value and what it contains.
void bind(const Cell* value, const Cell* owner, const Cell* word);
// bind, then marks the owner's context as an owner.
void bind_object(const Cell* value, const Cell* owner, const Cell* word);
// Removes the records of the value and of what it contains.
void unbind(const Cell* value);
// unbind on count cells of the block from the position.
void unbind_range(const Cell* block, int32_t position, int32_t count);
// The owner object and field word recorded for the series (two cells), or null.
Cell* owner_of(NodeId series);
// The reflect action of owned values (series, bitsets): only the field owned
// is known, replacing the value by its owner object, or none.
void reflect_owner(Cell* value, uint32_t field);

// Tells the owner of the value (if any, and if it has change handlers) about
// a change: the action word, the new value (null: none), the index and the
// count. Answers whether a notification was sent; callers that notify before
// a change notify again after it, with the past-tense word, only then.
bool check(const Cell* value, const Cell* action, const Cell* new_value, int32_t index, int32_t part);

// Cheap test for the series actions: the series is marked owned.
inline bool is_owned(const Cell* series) {
    return series->payload2 && (alloc::buffer_of(series->payload2)->flags & alloc::flag::owned);
}

// Called by the collector once marking is done: drops the entries whose
// series or owner context is unmarked.
void sweep();

}  // namespace kel::ownership
