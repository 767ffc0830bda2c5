// The draw dialect on the recording display: each back-end operation
// appends one line to the record back end's log ("draw box 10x10 20x20",
// "draw pen 255.0.0", ...), so tests read what a drawing did in order.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"
#include "view/backend/draw/interpreter.hpp"

namespace kel::view::record {

// draw-face over the recording display: the face's drawing with the block.
// The draw-face routine calls it with its two arguments (a window, strict).
int32_t draw(const Cell& face, const Cell& commands, draw::Options options = {});

// Test seams, each good for the next drawing: the target cannot be opened
// (begin answers false), or the next state push cannot save the state.
void fail_next_begin();
void fail_next_state_push();

}  // namespace kel::view::record
