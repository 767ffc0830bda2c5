// The draw dialect: a block of command words, each followed by its arguments
// as literal values, walked once per drawing and turned into calls of a draw
// back end. Nothing is compiled or kept between drawings.
//
// Errors are script errors: draw-invalid ("DRAW - invalid input at:") with
// the block positioned at the offending value, draw-infinite for a block
// reached again through its own nested blocks. Nesting deeper than
// max_depth blocks is refused with draw-invalid, so that a deep acyclic
// block cannot exhaust the native stack.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"
#include "view/backend/draw/backend.hpp"

namespace kel::view::draw {

constexpr int max_depth = 256;

struct Options {
    // Drawing into a window: the drawing runs (and clears the face's
    // background) even without a block. Without one (an image), a value that
    // is not a non-empty block draws nothing.
    bool window = true;
    // A window painting its face: an error stops the drawing and is dropped
    // (what was drawn before stays). Off (draw-image), the error reaches the
    // caller after the target is closed.
    bool strict = true;
};

// The draw-face entry: begin on the face, the block walked, end always.
// Answers 1 when nothing was to be drawn into an image, else 0. With the view
// system's silent? setting on, a draw error only stops the drawing.
int32_t draw_face(Backend& backend, const Cell& face, const Cell& commands, Options options);
// The block walked into a back end already begun (a window's paint that
// its drawing actor draws in, call by call): no begin, no end.
int32_t draw_into(Backend& backend, const Cell& commands, Options options);

}  // namespace kel::view::draw
