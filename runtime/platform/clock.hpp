// Time: sleeping, the time of day and today's date. The packing and the
// sleep length are shared by both platforms (platform/clock.cpp).
#pragma once
#include <cstdint>

namespace kel::sysrt {

void sleep_seconds(double seconds);
// Seconds since midnight UTC; with precise, to 100 ns.
double now_utc_filetime(bool precise);
// Today as year << 17 | month << 12 | day << 7 | zone, local or UTC.
uint32_t now_fields(bool utc);

uint32_t sleep_milliseconds(double seconds);
uint32_t pack_zone(int offset_minutes);
uint32_t pack_date(int year, int month, int day, uint32_t zone);

}  // namespace kel::sysrt
