// The clock on POSIX: the real-time clock and the C library's calendar.
#include "runtime/platform/clock.hpp"

#include <time.h>

#include <cerrno>

namespace kel::sysrt {

void sleep_seconds(double seconds) {
    uint32_t ms = sleep_milliseconds(seconds);
    timespec ts{time_t(ms / 1000), long(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {}
}

double now_utc_filetime(bool precise) {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    double seconds = double(ts.tv_sec % 86400);
    // 100-ns resolution, as the Windows file time has.
    if (precise) seconds += double(ts.tv_nsec / 100 * 100) / 1e9;
    return seconds;
}

uint32_t now_fields(bool utc) {
    time_t now = time(nullptr);
    tm t{};
    if (utc) gmtime_r(&now, &t);
    else localtime_r(&now, &t);
    uint32_t zone = utc ? 0 : pack_zone(int(t.tm_gmtoff / 60));
    return pack_date(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, zone);
}

}  // namespace kel::sysrt
