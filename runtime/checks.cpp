#include "runtime/checks.hpp"

#include <cmath>
#include <cstring>

#include "runtime/error.hpp"

namespace kel {

int32_t integer::check_float_range(const Cell* number) {
    if (!cell::is(number, type::float_)) return int32_t(number->payload2);
    double d = cell::real(number);
    if (std::isnan(d) || d > 2147483647.0 || d < -2147483648.0) error::fire(error::id::out_of_range, number);
    return int32_t(d);
}

// Doubles the filled prefix onto its own end, then copies the remainder.
void sysrt::replicate(uint8_t* buffer, size_t unit, size_t count) {
    size_t total = unit * count;
    if (total == 0 || unit == 0) return;
    size_t filled = unit;
    while (filled * 2 <= total) {
        std::memcpy(buffer + filled, buffer, filled);
        filled *= 2;
    }
    std::memcpy(buffer + filled, buffer, total - filled);
}

}  // namespace kel
