// The portable parts of the base runtime's OS services: units, packing and
// the angle reduction of the trigonometric natives.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numbers>

#include "runtime/platform/platform.hpp"

namespace kel {

namespace sysrt {

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

double normalize_angle(double degrees, int mode) {
    double a = std::fmod(degrees, 360.0);
    if (a > 180.0 || a < -180.0) a += a < 0 ? 360.0 : -360.0;
    if (a > 90.0 || a < -90.0) {
        if (mode == 0) a += a < 0 ? 180.0 : -180.0;
        else if (mode == 2) a = (a < 0 ? -180.0 : 180.0) - a;
    }
    return a * std::numbers::pi / 180.0;
}

bool cstr_equal(const char* a, const char* b) {
    size_t n = std::strlen(a);
    return n == std::strlen(b) && std::memcmp(a, b, n) == 0;
}

}  // namespace sysrt

namespace build {

const char* date() {
    // __DATE__ is "Mmm dd yyyy" (day space-padded), __TIME__ "hh:mm:ss".
    static char text[24];
    if (!text[0]) {
        const char* d = __DATE__;
        char day[3] = {d[4] == ' ' ? '0' : d[4], d[5], 0};
        std::snprintf(text, sizeof text, "%s-%.3s-%.4s/%s", day, d, d + 7, __TIME__);
    }
    return text;
}

}  // namespace build
}  // namespace kel
