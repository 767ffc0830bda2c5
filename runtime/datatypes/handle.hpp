// handle!: an opaque handle of the operating system (a window, a font, a
// monitor, a file descriptor) carried through Kel code. Payload 1 is the
// class (0 none, 1 fd, 2 monitor, 3 window, 4 font, 5 rich-text), payload 2
// the handle value (signed 32-bit), payload 3 the index of a handle-table
// record or -1. The collector marks that record while the value lives, so
// the record's object is released only once no handle! reaches it.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"

namespace kel::handle {

namespace klass {
constexpr uint32_t none = 0, fd = 1, monitor = 2, window = 3, font = 4, rich_text = 5;
}

// Writes a handle! owning no record into the cell.
Cell* box(Cell* slot, int32_t value, uint32_t klass);
// Into the current call's result cell.
Cell* push(int32_t value, uint32_t klass);
// Into a new cell on the argument stack; push_null pushes value 0, class 0.
Cell* push_new(int32_t value, uint32_t klass);
Cell* push_null();
// At the tail of a block.
Cell* make_in(Cell* block, int32_t value, uint32_t klass);

int32_t form(const Cell* value, Cell* out, const Cell* part, int32_t limit);
int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, const Cell* part, int32_t limit,
             int32_t indent);
int32_t compare(const Cell* a, const Cell* b, int32_t op);

void register_type();

}  // namespace kel::handle
