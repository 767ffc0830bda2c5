// What the event getters ask of the active back end about its windows: the
// face a window shows and the root owner of a window. Each back end fills
// these at its start; until then no window has a face.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"

namespace kel::view::windows {

struct Lookup {
    // Writes the face the window shows into out, or none.
    void (*face_of)(uint64_t window, Cell* out);
    // The root owner of the window (the window itself at the top), 0 none.
    uint64_t (*root_of)(uint64_t window);
};

extern Lookup lookup;

}  // namespace kel::view::windows
