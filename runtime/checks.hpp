// Small value checks and helpers of the value core that raise the common
// script errors.
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/cell.hpp"

namespace kel {

namespace integer {
// The value as a 32-bit integer: a float! is truncated toward zero, and one
// that is NaN or outside the 32-bit range raises out-of-range; any other type
// answers its payload 2.
int32_t check_float_range(const Cell* number);
}  // namespace integer

namespace sysrt {
// Fills unit x count bytes at buffer by repeating its first `unit` bytes.
void replicate(uint8_t* buffer, size_t unit, size_t count);
}  // namespace sysrt

}  // namespace kel
