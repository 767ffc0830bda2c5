// paren! and the path family (path!, lit-path!, set-path!, get-path!): blocks
// under another type id. The cell, the buffer and nearly every handler are
// block!'s; turning a block into a path or a paren is a retype of its cell,
// never a copy. What differs is how they are made from other values and how
// they print: a paren molds as a block between parentheses, a path as its
// items joined by "/", with "'" before a lit-path, ":" before a get-path and
// ":" after a set-path.
//
// Rows: paren! and path! inherit from block!; lit-path!, set-path! and
// get-path! from path!, so path! registers before them.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"

namespace kel::path {

// Pushes a copy of a block-like cell typed path!.
Cell* push(const Cell* value);
// Writes an empty path! with room for `capacity` items into out.
Cell* box(Cell* out, int32_t capacity);

Cell* make(Cell* proto, Cell* spec, uint8_t t);
Cell* to(Cell* proto, Cell* spec, uint8_t t);
int32_t form(const Cell* value, Cell* out, const Cell* part, int32_t limit);
// The items joined by "/", without the mark of the path's kind.
int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, const Cell* part, int32_t limit,
             int32_t indent);

void register_type();

}  // namespace kel::path

namespace kel::lit_path {
Cell* push(const Cell* value);
int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, const Cell* part, int32_t limit,
             int32_t indent);
void register_type();
}  // namespace kel::lit_path

namespace kel::set_path {
Cell* push(const Cell* value);
int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, const Cell* part, int32_t limit,
             int32_t indent);
void register_type();
}  // namespace kel::set_path

namespace kel::get_path {
Cell* push(const Cell* value);
int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, const Cell* part, int32_t limit,
             int32_t indent);
void register_type();
}  // namespace kel::get_path

namespace kel::paren {
Cell* push(const Cell* value);
int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, const Cell* part, int32_t limit,
             int32_t indent);
void register_type();
}  // namespace kel::paren
