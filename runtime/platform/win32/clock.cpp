// The clock on Windows: the system time as a file time and the local time
// with its zone bias.
#include "runtime/platform/clock.hpp"

#include <windows.h>

#include <cstdint>

namespace kel::sysrt {

void sleep_seconds(double seconds) { Sleep(sleep_milliseconds(seconds)); }

double now_utc_filetime(bool precise) {
    FILETIME ft;
    SYSTEMTIME st;
    GetSystemTimeAsFileTime(&ft);
    FileTimeToSystemTime(&ft, &st);
    double seconds = st.wHour * 3600.0 + st.wMinute * 60.0 + st.wSecond;
    if (precise) {
        uint64_t ticks = (uint64_t(ft.dwHighDateTime) << 32 | ft.dwLowDateTime) % 10000;
        seconds += double(ticks * 100 + uint64_t(st.wMilliseconds) * 1000000) / 1e9;
    }
    return seconds;
}

uint32_t now_fields(bool utc) {
    SYSTEMTIME st;
    uint32_t zone = 0;
    if (utc) {
        GetSystemTime(&st);
    } else {
        GetLocalTime(&st);
        TIME_ZONE_INFORMATION tz;
        DWORD kind = GetTimeZoneInformation(&tz);
        LONG bias = tz.Bias + (kind == TIME_ZONE_ID_DAYLIGHT ? tz.DaylightBias : 0);
        zone = pack_zone(int(-bias));
    }
    return pack_date(st.wYear, st.wMonth, st.wDay, zone);
}

}  // namespace kel::sysrt
