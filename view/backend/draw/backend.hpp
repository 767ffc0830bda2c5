// What the draw dialect draws through: one operation per command, called by
// the interpreter (view/backend/draw/interpreter.hpp) between begin and end
// on one target. Each platform (the recording display, Direct2D) is one
// implementation; the interpreter knows only this class.
//
// The state is the back end's own: brushes, line width, font and the clips
// pushed. push_state and pop_state nest strictly (the interpreter pairs them
// even when a block fails); a push that cannot save the state still counts,
// and its pop then only pops the clips pushed since, leaving the rest as it is.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"

namespace kel::view::draw {

// A colour as the back ends take it: R in bits 0-7, G 8-15, B 16-23 and the
// transparency (0 opaque, 255 invisible) in 24-31, as a tuple! keeps its
// bytes. All bits set is fully transparent.
using Color = uint32_t;

// The colour of a tuple!: a three-component tuple is opaque.
Color color_of_tuple(const Cell& tuple);

// The colour as the graphics devices take it: components and opacity from
// 0.0 to 1.0.
struct ColorF {
    float r, g, b, a;
};
inline ColorF to_float(Color c) {
    return {float(c & 0xFF) / 255.0f, float(c >> 8 & 0xFF) / 255.0f, float(c >> 16 & 0xFF) / 255.0f,
            float(255 - (c >> 24)) / 255.0f};
}

struct Point {
    double x = 0, y = 0;
};

class Backend {
public:
    virtual ~Backend() = default;

    // Opens the target of a drawing of the face (none when drawing into an
    // image): a window clears to the face's colour and shows its image and
    // text. Answers false when there is nothing to draw on; the interpreter
    // then walks nothing, and end is still called.
    virtual bool begin(const Cell& face) = 0;
    // Closes the drawing: pops what is still pushed and presents.
    virtual void end() = 0;

    virtual void push_state() = 0;
    virtual void pop_state() = 0;

    // off: nothing is stroked (filled) until the next pen (fill-pen) colour.
    virtual void pen(Color color, bool off) = 0;
    virtual void fill_pen(Color color, bool off) = 0;
    virtual void line_width(double width) = 0;
    // A rectangle between two corners (in any order), rounded when radius is
    // not 0: filled, then stroked.
    virtual void box(Point a, Point b, double radius) = 0;
    // The font! object that later text is drawn with.
    virtual void font(const Cell& font) = 0;
    // A string! at the point with the current font, or a face object's own
    // text layout.
    virtual void text(Point at, const Cell& value) = 0;
};

}  // namespace kel::view::draw
