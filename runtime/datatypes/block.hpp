// block!: the list of values and the shape of all code. A block cell is a
// series cell (head index, node) over a buffer of 16-byte cells; paren!, the
// path family and hash! are the same cell under another type id.
//
// Here: the routines every module uses to make, walk and extend blocks, and
// the block! row's own handlers (make, to, form, mold, compare, the path
// access, copy). Positions come from series!.
//
// Cell addresses answered here point into a buffer and are good only until
// the next allocation; a routine that allocates takes copies of the cells it
// was given before it does.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"

namespace kel::block {

// ---- making

// An empty block of the type (any-block) with room for `capacity` cells
// (below 1: 1), written into out.
Cell* make_at(Cell* out, int32_t capacity, uint8_t t = type::block);
// The same in a new cell at the tail of an any-block or map! parent, or in
// the root block when parent is null; answers the new cell.
Cell* make_in(Cell* parent, int32_t capacity);
// Pushes a new empty block, or a copy of a value.
Cell* push_new(int32_t capacity);
Cell* push(const Cell* value);
// Pushes a new block holding copies of the cells of source from its index;
// deep clones nested blocks too, and with any nested parens and paths.
// Nested clones keep their header and start at index 0; the top one has
// source's type and no flags. A cycle raises internal no-cycle.
Cell* clone(const Cell* source, bool deep, bool any);

// ---- walking

int32_t ks_length_q(const Cell* b);              // cells from the index
bool ks_tail_q(const Cell* b);                   // exactly at the tail
bool ks_next(Cell* b);                           // series::ks_skip by one
Cell* ks_head(Cell* b);                          // the cell at the index, an index past the tail clamped
Cell* ks_tail(const Cell* b);                    // one past the last cell
Cell* ks_abs_at(const Cell* b, int32_t n);       // cell n from the buffer start

// ---- changing

void ks_clear(Cell* b);                          // tail := the position
void ks_truncate_at(Cell* b, int32_t n);         // tail := cell n, if that shortens it
Cell* ks_append(Cell* parent, const Cell* value);  // answers the new cell
void ks_append_block(Cell* dst, const Cell* src);  // every cell of src from its index
void ks_remove_last(Cell* b);                    // drops the last cell; the index follows the tail
// Appends the stack's last cell to the block below it and pops it.
void append_top();

// ---- looking up

// The cell after the first cell equal to value under the comparison op
// (12 loose, 2 strict), or the shared none.
Cell* select_value(Cell* b, const Cell* value, int32_t op);
// The cell after the first word (word!, set-word!, lit-word!, get-word!)
// whose symbol is the word's, canonically unless case_; else the shared none.
Cell* find_word(Cell* b, const Cell* word, bool case_);
// Replaces, in cells from .. to of the block, each value of the types
// (a datatype! or typeset!) that can be copied by its copy.
void copy_nested_types(Cell* b, int32_t from, int32_t to, bool deep, const Cell* types);

// ---- the block! row

Cell* make(Cell* proto, Cell* spec, uint8_t t);
Cell* to(Cell* proto, Cell* spec, uint8_t t);
int32_t form(const Cell* value, Cell* out, const Cell* part, int32_t limit);
int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, const Cell* part, int32_t limit,
             int32_t indent);
// The block mold between the given brackets (paren! and hash! use it too).
int32_t mold_items(const Cell* value, Cell* out, bool only, bool all, bool flat, const Cell* part, int32_t limit,
                   int32_t indent, char open, char close);
int32_t compare(const Cell* a, const Cell* b, int32_t op);
Cell* eval_path(Cell* value, const Cell* element, const Cell* store, const Cell* path, const Cell* parent,
                const Cell* previous, int32_t step, bool case_, bool get, bool last, bool notify);
Cell* copy(Cell* value, Cell* result, const Cell* part, bool deep, const Cell* kind);

// ---- searching and changing (block_edit.cpp)
// find answers the block moved to the match (after it with /tail), or none;
// select the value after the match. A block value is searched for as the
// run of its cells unless /only; a datatype! or typeset! value matches
// cells of its types.
Cell* find(Cell* b, Cell* value, const Cell* part, bool only, bool case_, bool same, bool any, const Cell* with,
           const Cell* skip, bool last, bool reverse, bool tail, bool match);
Cell* select(Cell* b, Cell* value, const Cell* part, bool only, bool case_, bool same, bool any, const Cell* with,
             const Cell* skip, bool last, bool reverse);
// Sets the value after the key, appending both when the key is absent.
Cell* put(Cell* b, Cell* key, Cell* value, bool case_);
// append and insert: count limits the cells of a block value (-1: all),
// dup repeats them. append leaves the block at its head, insert after the
// new cells.
void insert(Cell* b, Cell* value, int32_t count, bool only, int32_t dup, bool append);
// Replaces count cells (-1: as many as are added) from the position.
void change(Cell* b, Cell* value, int32_t count, bool only, int32_t dup);
Cell* take(Cell* b, const Cell* part, bool deep, bool last);
void swap(Cell* a, Cell* b);
// Removes every none! from the position on.
void trim(Cell* b, bool head, bool tail, bool auto_, bool lines, bool all, const Cell* with);
Cell* sort(Cell* b, bool case_, const Cell* skip, const Cell* comparator, const Cell* part, bool all, bool reverse,
           bool stable);
// The set operations on the items of first (and second): 8 unique, 9
// union, 10 intersect, 11 exclude, 12 difference. Records of /skip cells
// are compared by their first cell. The new block replaces first.
void do_set_op(Cell* first, const Cell* second, bool case_, const Cell* skip, int32_t op);

void register_type();

}  // namespace kel::block
