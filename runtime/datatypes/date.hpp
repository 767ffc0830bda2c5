// date!: a calendar date with an optional time of day and zone. Payload 1 is
// the packed date; payloads 2-3 hold the time in seconds as a double (0.0
// without a time). The time is stored as UTC: the local time less the zone.
//
// Packed date, by bits: 17-31 year (15 bits), 16 has-time, 12-15 month,
// 7-11 day, 6 zone sign (1 west), 2-5 zone hours, 0-1 zone quarter hours.
//
// Day counts are proleptic Gregorian from day 0 = 1 March of year 0.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"

namespace kel::date {

constexpr uint32_t has_time_bit = 1u << 16;
constexpr uint32_t zone_mask = 0x7F;

inline int32_t year_of(uint32_t packed) { return int32_t(packed >> 17); }
inline int32_t month_of(uint32_t packed) { return int32_t((packed >> 12) & 0xF); }
inline int32_t day_of(uint32_t packed) { return int32_t((packed >> 7) & 0x1F); }

bool leap_year_q(int32_t year);
int32_t days_in_month(int32_t year, int32_t month);

int32_t to_days(int32_t year, int32_t month, int32_t day);
int32_t to_days(uint32_t packed);
// The packed word of a day count with the zone bits and the has-time flag.
uint32_t from_days(int32_t days, uint32_t zone, bool has_time);

// Zone offsets in seconds.
double zone_seconds(uint32_t zone);
inline double to_utc(double seconds, uint32_t zone) { return seconds - zone_seconds(zone); }

// Day count of the Monday that starts ISO week 1 of the date's year;
// *weekday receives the weekday of 1 January (1 Monday .. 7 Sunday).
int32_t isoweek_start(uint32_t packed, int32_t* weekday);
// The date moved to the Monday of ISO week w, to day d (1 Monday) of its
// week, or to day n of its year; the zone and has-time bits are kept.
uint32_t set_isoweek(uint32_t packed, int32_t w);
uint32_t set_weekday(uint32_t packed, int32_t d);
uint32_t set_yearday(uint32_t packed, int32_t n);

// Packs the fields; with has_time the local seconds are stored as UTC.
Cell* box_from_parts(Cell* out, int32_t year, int32_t month, int32_t day, double seconds, int32_t zone_hours,
                     int32_t zone_minutes, bool has_time);
// The packed word as it stands, with a stored time.
Cell* box(Cell* out, uint32_t packed, double seconds);

void register_type();

}  // namespace kel::date
