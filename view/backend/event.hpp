// event!: one user-interface event. The cell:
//   header     type id 54; event_block_flag set on a made event (one built
//              by `make`), clear on a native one (the back end's)
//   payload 1  the event type code, 1-38; 0 for a made event given no type
//   payload 2  native: a message snapshot reference (view/backend/snapshot);
//              made: the node of a 4-cell side record (face, window,
//              offset, picked), 0 when none of them was given
//   payload 3  bits 0-20 the key or character code; bits 22-31 the flags
// Fields are read through paths or pick, by accessor word or index 1-15;
// only `type` can be set.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"

namespace kel::event {

// Type codes; the words `down` ... `restore` name them in this order.
namespace code {
enum : uint32_t {
    down = 1, up, mid_down, mid_up, alt_down, alt_up, aux_down, aux_up, click, dbl_click,
    wheel, over, key, key_down, key_up, ime, focus, unfocus, enter, zoom,
    pan, rotate, two_tap, press_tap, select, change, menu, close, move, resize,
    moving, resizing, time, drawing, scroll, minimize, maximize, restore,
};
constexpr uint32_t last = restore;
}  // namespace code

// Flag bits of payload 3.
namespace flag {
constexpr uint32_t aux_down = 1u << 22, alt_down = 1u << 23, mid_down = 1u << 24, down = 1u << 25,
                   away = 1u << 26, control = 1u << 28, shift = 1u << 29, alt = 1u << 30, command = 1u << 31;
constexpr uint32_t key_mask = 0x1FFFFF;
}  // namespace flag

// Accessor indexes: the order of the accessor words and of pick.
namespace field {
enum : int32_t {
    type = 1, face, window, offset, key, picked, flags, away_q, down_q, mid_down_q, alt_down_q, aux_down_q,
    ctrl_q, shift_q, orientation,
};
constexpr int32_t last = orientation;
}  // namespace field

// A native event of the type code, key and flags (payload 3) and snapshot.
Cell* make_native(Cell* out, uint32_t code, uint32_t key_and_flags, uint32_t snapshot_ref);

// The type code a word names, 0 when it names none.
uint32_t code_of(const Cell* word);
// The virtual-key code of a special key's word, -1 when it names none.
int32_t vk_of(const Cell* word);
// The flag bit a word names, 0 when it names none.
uint32_t flag_of(const Cell* word);

// Writes the field (an accessor index) of the event into out (which may be
// the event's own cell).
void get_field(const Cell* event, int32_t field, Cell* out);

// Registers event! and makes its words; then `event?` and `find-flag?`.
void register_type();
void make_routines();

}  // namespace kel::event
