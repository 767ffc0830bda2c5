#include "runtime/datatypes/date.hpp"

#include <cstdlib>

#include "runtime/datatype.hpp"

namespace kel::date {

bool leap_year_q(int32_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int32_t days_in_month(int32_t year, int32_t month) {
    static constexpr int32_t days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 0;
    return month == 2 && leap_year_q(year) ? 29 : days[month - 1];
}

int32_t to_days(int32_t y, int32_t m, int32_t d) {
    int32_t mm = (m + 9) % 12;
    int32_t yy = y - mm / 10;
    return 365 * yy + yy / 4 - yy / 100 + yy / 400 + (mm * 306 + 5) / 10 + (d - 1);
}

int32_t to_days(uint32_t packed) { return to_days(year_of(packed), month_of(packed), day_of(packed)); }

uint32_t from_days(int32_t g, uint32_t zone, bool has_time) {
    auto y = int32_t((10000.0 * g + 14780.0) / 3652425.0);
    auto start = [](int32_t yy) { return 365 * yy + yy / 4 - yy / 100 + yy / 400; };
    int32_t r = g - start(y);
    if (r < 0) {
        --y;
        r = g - start(y);
    }
    int32_t mi = (100 * r + 52) / 3060;
    int32_t month = (mi + 2) % 12 + 1;
    int32_t year = y + (mi + 2) / 12;
    int32_t day = r - (mi * 306 + 5) / 10 + 1;
    return (uint32_t(year) & 0x7FFF) << 17 | (has_time ? has_time_bit : 0) | uint32_t(month) << 12 |
           uint32_t(day) << 7 | (zone & zone_mask);
}

double zone_seconds(uint32_t zone) {
    double s = double((zone >> 2) & 0xF) * 3600.0 + double(zone & 3) * 900.0;
    return zone & 0x40 ? -s : s;
}

int32_t isoweek_start(uint32_t packed, int32_t* weekday) {
    int32_t jan1 = to_days(year_of(packed), 1, 1);
    int32_t wd = (jan1 + 2) % 7;  // 0 on Mondays
    if (weekday) *weekday = wd + 1;
    return wd <= 3 ? jan1 - wd : jan1 + 7 - wd;
}

namespace {
uint32_t moved(uint32_t packed, int32_t days) {
    return from_days(days, packed & zone_mask, (packed & has_time_bit) != 0);
}
}  // namespace

uint32_t set_isoweek(uint32_t packed, int32_t w) { return moved(packed, isoweek_start(packed, nullptr) + 7 * (w - 1)); }

uint32_t set_weekday(uint32_t packed, int32_t d) {
    int32_t days = to_days(packed);
    return moved(packed, days - (days + 2) % 7 + (d - 1));
}

uint32_t set_yearday(uint32_t packed, int32_t n) { return moved(packed, to_days(year_of(packed), 1, 1) + n - 1); }

Cell* box_from_parts(Cell* out, int32_t year, int32_t month, int32_t day, double seconds, int32_t zone_hours,
                     int32_t zone_minutes, bool has_time) {
    bool west = zone_hours < 0 || zone_minutes < 0;
    uint32_t zone = (west ? 0x40u : 0u) | (uint32_t(std::abs(zone_hours)) & 0xF) << 2 |
                    (uint32_t(std::abs(zone_minutes)) / 15 & 3);
    uint32_t packed = (uint32_t(year) & 0x7FFF) << 17 | (has_time ? has_time_bit : 0) | (uint32_t(month) & 0xF) << 12 |
                      (uint32_t(day) & 0x1F) << 7 | zone;
    return box(out, packed, has_time ? to_utc(seconds, zone) : 0.0);
}

Cell* box(Cell* out, uint32_t packed, double seconds) {
    cell::set_real(out, type::date, seconds);
    out->payload1 = packed;
    return out;
}

void register_type() {
    datatype::Row row(datatype::unsupported);
    datatype::register_type({type::date, 0, "date!", row.handlers});
}

}  // namespace kel::date
