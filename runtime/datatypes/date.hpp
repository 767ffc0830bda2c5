// date!: a calendar date with an optional time of day and zone. Payload 1 is
// the packed date; payloads 2-3 hold the time in seconds as a double (0.0
// without a time). The date fields are the local calendar date; the time is
// stored as UTC: the local time less the zone, so it may lie below 0 or past
// 86400 when the zone moves it across midnight. The instant of a date is
// therefore its day count x 86400 + the stored time, whatever its zone.
//
// Packed date, by bits: 17-31 year (15 bits, read signed: -16384 to 16383,
// the same everywhere), 16 has-time, 12-15 month, 7-11 day, 6 zone sign
// (1 west), 2-5 zone hours, 0-1 zone quarter hours.
//
// Day counts are proleptic Gregorian from day 0 = 1 March of year 0, with
// floor division, so years before 1 count on without a seam. Anything that
// moves a date by a user's amount works in 64 bits and raises type-limit
// when the result leaves the years a date can hold; nothing wraps.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"

namespace kel::date {

constexpr uint32_t has_time_bit = 1u << 16;
constexpr uint32_t zone_mask = 0x7F;
constexpr int32_t min_year = -16384, max_year = 16383;

inline int32_t year_of(uint32_t packed) { return int32_t(packed) >> 17; }
inline int32_t month_of(uint32_t packed) { return int32_t((packed >> 12) & 0xF); }
inline int32_t day_of(uint32_t packed) { return int32_t((packed >> 7) & 0x1F); }
inline bool has_time(uint32_t packed) { return (packed & has_time_bit) != 0; }

bool leap_year_q(int32_t year);
int32_t days_in_month(int32_t year, int32_t month);

int32_t to_days(int32_t year, int32_t month, int32_t day);
int32_t to_days(uint32_t packed);
// The packed word of a day count with the zone bits and the has-time flag.
uint32_t from_days(int32_t days, uint32_t zone, bool has_time);
// The day count, or type-limit when it lies outside the years a date holds.
int32_t checked_days(int64_t days);
// Day count of 1 January of the date's year; the 1-based day of the year.
int32_t year_start(uint32_t packed);
int32_t year_day(uint32_t packed);
// 1 Monday .. 7 Sunday.
int32_t weekday(int32_t days);

// Zone offsets in seconds.
double zone_seconds(uint32_t zone);
inline double to_utc(double seconds, uint32_t zone) { return seconds - zone_seconds(zone); }
inline double to_local(double seconds, uint32_t zone) { return seconds + zone_seconds(zone); }
// The zone bits of hours and minutes (the sign of either makes it west);
// the hours are taken modulo 16, the minutes in quarters.
uint32_t zone_bits(int32_t hours, int32_t minutes);

// Moves whole days between the time and the day count so that the local
// time (seconds plus the zone offset) lies in 0 .. 86400; answers the new
// day count (type-limit past the date range, or for a time that is no
// number).
int32_t carry_zone(int64_t days, double& seconds, uint32_t zone);
// Stores the time in the date, carrying whole days into its date; with
// `convert` the seconds are local and are made UTC first. The has-time
// flag is kept.
void set_time(Cell* d, double seconds, bool convert);
// Sets the month; months beyond 1-12 carry into the years (floor division,
// so month 0 is December of the year before) and the day is normalised
// through the day count (31 January with month 2 becomes 2 or 3 March).
void set_month(Cell* d, int64_t n);

// Day count of the Monday that starts ISO week 1 of the date's year;
// *weekday receives the weekday of 1 January (1 Monday .. 7 Sunday).
int32_t isoweek_start(uint32_t packed, int32_t* weekday);
// Sunday-based week number (week 1 holds 1 January), ISO 8601 week number.
int32_t week(uint32_t packed);
int32_t isoweek(uint32_t packed);
// The date moved to the Monday of ISO week w, to day d (1 Monday) of its
// week, or to day n of its year; the zone and has-time bits are kept.
uint32_t set_isoweek(uint32_t packed, int32_t w);
uint32_t set_weekday(uint32_t packed, int32_t d);
uint32_t set_yearday(uint32_t packed, int32_t n);

// Packs the fields; with has_time the local seconds are stored as UTC.
Cell* box_from_parts(Cell* out, int32_t year, int32_t month, int32_t day, double seconds, int32_t zone_hours,
                     int32_t zone_minutes, bool has_time);
// A UTC date and time of day (file times).
Cell* box_from_fields(Cell* out, int32_t year, int32_t month, int32_t day, int32_t hour, int32_t minute,
                      double second);
// The packed word as it stands, with a stored time.
Cell* box(Cell* out, uint32_t packed, double seconds);
Cell* push(uint32_t packed, double seconds);

// Seconds since 1-Jan-1970/0:00 UTC and back. to_epoch answers the value
// in 64 bits; the caller decides what range it takes.
Cell* from_epoch(Cell* out, int64_t seconds);
int64_t to_epoch(const Cell* d);

// date + or - the operand in argument 1 (op 0 add, 1 subtract), the date
// in argument 0; the result in argument 0.
void math(int op);
int32_t compare(const Cell* a, const Cell* b, int32_t op);

// Field indexes: 1 date, 2 year, 3 month, 4 day, 5 zone, 6 time, 7 hour,
// 8 minute, 9 second, 10 weekday, 11 yearday (julian), 12 timezone, 13 week,
// 14 isoweek. field_index answers -1 for another word.
int32_t field_index(const Cell* word);
Cell* push_field(const Cell* d, int32_t index);
// Sets a field, as the path d/field: value does.
void set_field(Cell* d, int32_t index, const Cell* value);

// make (validating) and to from a block of [day month year ...].
Cell* from_block(Cell* out, const Cell* spec, bool validate);

// The handlers of the date! row that live beside the text and fields.
Cell* make(Cell* proto, Cell* spec, uint8_t t);
Cell* to(Cell* proto, Cell* spec, uint8_t t);
int32_t form(const Cell* value, Cell* out, const Cell* part, int32_t limit);
int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, const Cell* part, int32_t limit,
             int32_t indent);
Cell* eval_path(Cell* value, const Cell* element, const Cell* store, const Cell* path, const Cell* parent,
                const Cell* previous, int32_t step, bool case_, bool get, bool last, bool notify);
Cell* pick(Cell* value, int32_t index, const Cell* index_cell);

void register_type();

}  // namespace kel::date
