// issue!, tag!, email! and ref!. An issue is a word cell (payload 1 the
// global context, payload 2 its symbol, payload 3 -1), never bound; it
// registers under word!. tag!, email! and ref! are text series exactly like
// string!, under their own type ids, and register under string!.
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/cell.hpp"

namespace kel::issue {
// Writes an issue of the UTF-8 name.
Cell* make_at(Cell* out, const char* text, size_t n);
void register_type();
}  // namespace kel::issue

namespace kel::tag {
void register_type();
}
namespace kel::email {
void register_type();
}
namespace kel::ref {
void register_type();
}
