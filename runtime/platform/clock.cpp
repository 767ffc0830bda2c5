// The part of the clock both platforms share: sleep lengths and the packing
// of today's date.
#include "runtime/platform/clock.hpp"

namespace kel::sysrt {

uint32_t sleep_milliseconds(double seconds) {
    // NaN, negative and tiny lengths sleep the minimum; huge ones the maximum.
    double ms = seconds * 1000.0;
    if (!(ms >= 1.0)) return 1;
    if (ms >= 4294967294.0) return 0xFFFFFFFE;
    return uint32_t(ms);
}

// Quarter hours east of UTC: bits 2-6 the hours with bit 6 set west of UTC,
// bits 0-1 the extra quarters. The sign comes from the offset itself, so
// zones less than an hour west keep it.
uint32_t pack_zone(int offset_minutes) {
    bool west = offset_minutes < 0;
    int magnitude = west ? -offset_minutes : offset_minutes;
    uint32_t hours = uint32_t(magnitude / 60) & 0xF;
    uint32_t quarters = uint32_t((magnitude % 60) / 15) & 3;
    uint32_t hour_field = west ? (0x10 | hours) : hours;
    return hour_field << 2 | quarters;
}

uint32_t pack_date(int year, int month, int day, uint32_t zone) {
    return uint32_t(year) << 17 | uint32_t(month) << 12 | uint32_t(day) << 7 | zone;
}

}  // namespace kel::sysrt
