// Message snapshots: the facts of one dispatched message that the getters
// of a native event! read. When the back end dispatches a message it fills
// a Snapshot (positions already in client pixels, the scroll bar's position
// already read) and keeps it in a process-wide ring; the event! cell holds
// a reference to that slot: the slot in the low bits, the slot's generation
// above them. A kept event reads its own message after later dispatches,
// until the ring comes round to its slot again; from then its reference is
// stale and the fields that come from the message read none.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"

namespace kel::view::snapshot {

struct Snapshot {
    uint64_t window = 0;       // the face window the message went to (0: none found)
    bool has_offset = false;   // x and y hold the event's position
    bool offset_pair = false;  // the position is given as a pair! (a face sized by a pair!)
    int32_t x = 0, y = 0;      // pixels, client coordinates of `window`
    bool vertical = false;     // a scroll message of a vertical bar
    int32_t scroll_code = 0;   // a scroll message's request (0 up/left ... 5 track)
    int32_t scroll_pos = 0;    // the bar's position; the thumb's track position while tracking
    int32_t wheel = 0;         // the signed wheel delta of a wheel message
    int32_t list_item = 0;     // 1-based list item under the pointer, 0 none
    int32_t gesture = 0;       // a gesture's argument
    bool has_zoom = false;     // zoom: the ratio to the previous zoom event
    double zoom = 0;
    int32_t special_key = -1;  // the virtual-key code of a special key, -1 for a character
    uint32_t menu_symbol = 0;  // the chosen menu item's symbol id, 0 none
};

// Keeps a copy in the ring and answers its reference.
uint32_t keep(const Snapshot& s);
// The snapshot of a reference, or null when the ring has reused its slot.
const Snapshot* find(uint32_t ref);

// Empties the ring (start-up of the runtime and of tests).
void reset();

}  // namespace kel::view::snapshot
