#include "view/backend/windows.hpp"

namespace kel::view::windows {
namespace {
void no_face(uint64_t, Cell* out) { cell::set_none(out); }
uint64_t no_root(uint64_t) { return 0; }
}  // namespace

Lookup lookup = {no_face, no_root};

}  // namespace kel::view::windows
