// error!: the value of a Kel error, an object of ten fixed fields (below)
// whose type and id name an entry of the error catalog. The catalog object
// has one field per category, in category order; each category is an object
// whose field 0 is `code`, field 1 `type` (the display text, such as
// "Script Error") and fields 2 onward the ids, each holding its message
// template: a string!, or a block! of strings and get-words naming fields of
// the error (:arg1 :arg2 :arg3).
//
// An error's code is category index x 100 + (id position - 2).
#pragma once
#include <cstdint>

#include "runtime/alloc.hpp"
#include "runtime/cell.hpp"

namespace kel::error {

namespace field {
enum : uint32_t { code = 0, type, id, arg1, arg2, arg3, near, where, stack, files, count };
}

constexpr uint32_t class_id = 1;

// The catalog object (none until made) and the error prototype.
extern Cell catalog;
extern Cell prototype;

// Makes the catalog and the prototype at start-up.
void init_catalog();
bool catalog_ready();

// The category object of an index (0-9), or 0.
NodeId category_context(uint32_t index);

// Builds an error of the catalog entry named by the category index and the
// id's name into out (a root or stack cell), with the given arguments (null:
// absent). Never raises: an id the catalog lacks keeps its word, unbound,
// and no code; form then reports it as an invalid error.
void make_with_args(Cell* out, uint32_t category, const char* id, const Cell* arg1, const Cell* arg2,
                    const Cell* arg3);

// The field cell of an error (good until the next allocation).
Cell* field_of(const Cell* error, uint32_t index);
// Stores the word into `where` unless it holds something already.
void set_where(const Cell* error, const Cell* word);
// Replaces an integer! `stack` (a frame position) by the block of the calls
// from that position down.
void set_stack_trace(const Cell* error);
// The i-th (0-based) word of a callable's spec, or <anon>.
Cell get_call_argument_word(const Cell* callable, uint32_t i);

// Handlers of the error! row.
Cell* make(Cell* proto, Cell* spec, uint8_t t);
int32_t form(const Cell* value, Cell* out, const Cell* part, int32_t limit);
int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, const Cell* part, int32_t limit,
             int32_t indent);
Cell* eval_path(Cell* value, const Cell* element, const Cell* store, const Cell* path, const Cell* parent,
                const Cell* previous, int32_t step, bool case_, bool get, bool last, bool notify);
int32_t compare(const Cell* a, const Cell* b, int32_t op);

void register_type();

}  // namespace kel::error
