// Small portable helpers: the angle reduction of the trigonometric natives,
// C-string equality and the build date.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numbers>

#include "runtime/sysrt.hpp"

namespace kel {

namespace sysrt {

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
