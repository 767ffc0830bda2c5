// Units: Kel code sees logical units, the back end works in pixels. One
// process-wide scale factor, the display's DPI / 96, converts between them.
#pragma once
#include <cmath>
#include <cstdint>

namespace kel::view::units {

extern double scale;  // DPI / 96.0; 1.0 until the back end reads the display

inline double to_logical(int32_t pixels) { return pixels / scale; }
// Rounded to the nearest pixel, halves up, for negative values too.
inline int32_t to_pixels(double logical) { return int32_t(std::floor(logical * scale + 0.5)); }

}  // namespace kel::view::units
