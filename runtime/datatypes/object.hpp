// object!: a context with an identity. The cell holds the node of the
// object's context (payload 1; kind object, values in a heap series, the
// owner slot a copy of the object cell), a class id telling objects of one
// shape apart (payload 2) and the node of the change-handler record, or 0
// (payload 3). error! and port! are objects too and share construction,
// copy and field access.
//
// The change-handler record is a series of two pair! cells, on-change* then
// on-deep-change*: payload 2 holds the field index of the handler in bits
// 16-31 (0xFFFF: no such field) and the handler's local count in bits 0-15
// (1 + the words after /local, 0 without /local); payload 3 the node of the
// spec for which the count was taken.
//
// A field written after construction carries cell::field_set_flag on its
// word cell; `make` clears it and the new-line flag on every word.
#pragma once
#include <cstdint>

#include "runtime/alloc.hpp"
#include "runtime/cell.hpp"
#include "runtime/typesets.hpp"

namespace kel::object {

// The object cell's fields (object!, error!, port!).
inline NodeId context_of(const Cell* o) {
    KEL_CHECK(typesets::is_any_object(cell::type_of(o)));
    return o->payload1;
}
inline uint32_t class_of(const Cell* o) {
    KEL_CHECK(typesets::is_any_object(cell::type_of(o)));
    return o->payload2;
}
// The change-handler record's node, or 0.
inline NodeId handlers_of(const Cell* o) {
    KEL_CHECK(typesets::is_any_object(cell::type_of(o)));
    return o->payload3;
}

constexpr uint32_t no_handler = 0xFFFF;

// Class ids: one global counter, incremented before each use.
uint32_t next_class_id();
extern uint32_t class_counter;

// A new empty object (fresh context for `size` fields, class 0, no
// handlers) written into the cell, which must not lie in a buffer.
Cell* make_at(Cell* out, uint32_t size, uint8_t t = type::object);
// Pushes an object cell for an existing context; an empty values series is
// filled with one unset value per word.
Cell* box(NodeId ctx, uint32_t class_id);
Cell* push(NodeId ctx, uint32_t class_id, NodeId record);

// construct: a copy of proto (or a fresh object with a new class id), then
// the set-words of the block set without evaluation.
Cell* push_new(const Cell* spec, const Cell* proto, bool only);
// set applied to an object.
void set_many(Cell* object, const Cell* value, bool any, bool only, bool some);

// Field access. value_at: the value cell at a 0-based index (good until the
// next allocation).
Cell* value_at(NodeId ctx, uint32_t index);
int32_t find_word_index(const Cell* object, const Cell* word);
// The value cell, or the shared none when the object has no such field.
Cell* get_word_value(const Cell* object, const Cell* word);
uint32_t field_count(const Cell* object);
// The value is an object! of that class.
bool slot_is_object_q(NodeId ctx, uint32_t index, uint32_t class_id);

// The change handlers: a field changed (word, old value, new value), or a
// series owned by the object changed.
void fire_on_change(const Cell* object, const Cell* word, const Cell* old_value, const Cell* new_value);
void fire_on_deep_change(const Cell* owner, const Cell* word, const Cell* target, const Cell* action,
                         const Cell* new_value, int32_t index, int32_t part);
// An object that owns its fields' series (cell::owner_flag on its context)
// takes the value of field `index` as owned through that field, as it took
// the values it was made with: in-place changes to it are told. Every store
// into such a field calls it with the value it replaced, which is released
// unless another field still holds it.
void own_field(const Cell* object, uint32_t index, const Cell* old_value = nullptr);
// Builds the change-handler record from the object's on-change* and
// on-deep-change* fields (none: payload 3 stays 0), binds ownership when
// on-change* is there, and stores the cell into the context's owner slot.
void build_handlers(Cell* object);

// A copy of an object's context: same words (rebound), values copied as
// cells, function! values rebound to the copy; deep copies series too. The
// holder (a root) receives the new object cell (same type and class, no
// handler record yet).
void copy_context(const Cell* source, Cell* holder, bool deep, const Cell* types);

// Handlers of the object! row (error! inherits several).
Cell* make(Cell* proto, Cell* spec, uint8_t t);
void reflect(Cell* value, uint32_t field_symbol);
int32_t form(const Cell* value, Cell* out, const Cell* part, int32_t limit);
int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, const Cell* part, int32_t limit,
             int32_t indent);
// The fields as mold writes them, without the enclosure.
int32_t mold_fields(const Cell* value, Cell* out, bool only, bool all, bool flat, const Cell* part, int32_t limit,
                    int32_t indent);
Cell* eval_path(Cell* value, const Cell* element, const Cell* store, const Cell* path, const Cell* parent,
                const Cell* previous, int32_t step, bool case_, bool get, bool last, bool notify);
int32_t compare(const Cell* a, const Cell* b, int32_t op);
Cell* copy(Cell* value, Cell* result, const Cell* part, bool deep, const Cell* kind);
Cell* put(Cell* object, Cell* key, Cell* value, bool case_);
Cell* select(Cell* object, Cell* key, const Cell* part, bool only, bool case_, bool same, bool any,
             const Cell* with, const Cell* skip, bool last, bool reverse);
void modify(Cell* target, Cell* field, Cell* value, bool case_);

void register_type();

}  // namespace kel::object
