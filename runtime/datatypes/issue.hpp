// issue!, tag!, email! and ref!. An issue is a word cell (payload 1 the
// global context, payload 2 its symbol, payload 3 -1), never bound; it
// registers under word!. tag!, email! and ref! are text series exactly like
// string!, under their own type ids, and register under string!.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "runtime/cell.hpp"

namespace kel::issue {
// Writes an issue of the UTF-8 name.
Cell* make_at(Cell* out, const char* text, size_t n);
// make and to: text, a char! or a word becomes the issue of that name; the
// result is written into proto.
Cell* make(Cell* proto, Cell* spec, uint8_t t);
int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, const Cell* part, int32_t limit,
             int32_t indent);
int32_t compare(const Cell* a, const Cell* b, int32_t op);
void register_type();
}  // namespace kel::issue

namespace kel::tag {
// Form and mold alike: "<" text ">", no escapes.
int32_t form(const Cell* value, Cell* out, const Cell* part, int32_t limit);
int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, const Cell* part, int32_t limit,
             int32_t indent);
void register_type();
}  // namespace kel::tag

namespace kel::email {
// The plain text.
int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, const Cell* part, int32_t limit,
             int32_t indent);
// user and host: the text before the first "@" and after it; an integer
// picks or pokes one character.
Cell* eval_path(Cell* value, const Cell* element, const Cell* store, const Cell* path, const Cell* parent,
                const Cell* previous, int32_t step, bool case_, bool get, bool last, bool notify);
void register_type();
}  // namespace kel::email

namespace kel::ref {
// "@" and the text.
int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, const Cell* part, int32_t limit,
             int32_t indent);
void register_type();
}  // namespace kel::ref
