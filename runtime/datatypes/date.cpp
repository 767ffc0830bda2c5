// date!: the calendar (day counts both ways, weeks), the zone carry, the
// builders other modules use, arithmetic, comparison and random. The text,
// the conversions and the fields are in date_text.cpp.
#include "runtime/datatypes/date.hpp"

#include <bit>
#include <cmath>
#include <cstdlib>

#include "runtime/datatype.hpp"
#include "runtime/datatypes/float.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/time.hpp"
#include "runtime/error.hpp"
#include "runtime/random.hpp"
#include "runtime/stack.hpp"
#include "runtime/words.hpp"

namespace kel::date {
namespace {

constexpr double day_seconds = 86400.0;

int64_t floor_div(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }
int64_t floor_mod(int64_t a, int64_t b) { return a - floor_div(a, b) * b; }

// Day count of 1 March of year y (March-based years).
int64_t march_start(int64_t y) { return 365 * y + floor_div(y, 4) - floor_div(y, 100) + floor_div(y, 400); }

[[noreturn]] void fire_type_limit() {
    Cell kind{};
    cell::set_datatype(&kind, type::date);
    error::fire(error::id::type_limit, &kind);
}

uint32_t pack(int32_t year, int32_t month, int32_t day, uint32_t zone, bool has_time) {
    return (uint32_t(year) & 0x7FFF) << 17 | (has_time ? has_time_bit : 0) | (uint32_t(month) & 0xF) << 12 |
           (uint32_t(day) & 0x1F) << 7 | (zone & zone_mask);
}

uint32_t moved(uint32_t packed, int64_t days) {
    return from_days(checked_days(days), packed & zone_mask, has_time(packed));
}

const int32_t first_day = to_days(min_year, 1, 1);
const int32_t last_day = to_days(max_year, 12, 31);

}  // namespace

bool leap_year_q(int32_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int32_t days_in_month(int32_t year, int32_t month) {
    static constexpr int32_t days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 0;
    return month == 2 && leap_year_q(year) ? 29 : days[month - 1];
}

int32_t to_days(int32_t y, int32_t m, int32_t d) {
    int64_t mm = floor_mod(m + 9, 12);  // March = 0
    int64_t yy = int64_t(y) - mm / 10;
    return int32_t(march_start(yy) + (mm * 306 + 5) / 10 + (d - 1));
}

int32_t to_days(uint32_t packed) { return to_days(year_of(packed), month_of(packed), day_of(packed)); }

uint32_t from_days(int32_t g, uint32_t zone, bool has_time) {
    auto y = int64_t(std::floor((10000.0 * g + 14780.0) / 3652425.0));
    int64_t r = g - march_start(y);
    if (r < 0) {
        --y;
        r = g - march_start(y);
    }
    int64_t mi = (100 * r + 52) / 3060;
    auto month = int32_t((mi + 2) % 12 + 1);
    auto year = int32_t(y + (mi + 2) / 12);
    auto day = int32_t(r - (mi * 306 + 5) / 10 + 1);
    return pack(year, month, day, zone, has_time);
}

int32_t checked_days(int64_t days) {
    if (days < first_day || days > last_day) fire_type_limit();
    return int32_t(days);
}

int32_t year_start(uint32_t packed) { return to_days(year_of(packed), 1, 1); }
int32_t year_day(uint32_t packed) { return to_days(packed) - year_start(packed) + 1; }
int32_t weekday(int32_t days) { return int32_t(floor_mod(int64_t(days) + 2, 7)) + 1; }

double zone_seconds(uint32_t zone) {
    double s = double((zone >> 2) & 0xF) * 3600.0 + double(zone & 3) * 900.0;
    return zone & 0x40 ? -s : s;
}

uint32_t zone_bits(int32_t hours, int32_t minutes) {
    bool west = hours < 0 || minutes < 0;
    return (west ? 0x40u : 0u) | (uint32_t(std::abs(int64_t(hours)) % 16) << 2) |
           (uint32_t(std::abs(int64_t(minutes)) / 15) & 3);
}

int32_t carry_zone(int64_t days, double& seconds, uint32_t zone) {
    double offset = zone_seconds(zone);
    double k = std::trunc((seconds + offset) / day_seconds);
    // Past this many days no date is left to land on.
    if (!(std::fabs(k) < 1e8)) fire_type_limit();
    seconds -= k * day_seconds;
    days += int64_t(k);
    if (seconds + offset < 0) {
        seconds += day_seconds;
        --days;
    }
    return checked_days(days);
}

void set_time(Cell* d, double seconds, bool convert) {
    uint32_t packed = d->payload1, zone = packed & zone_mask;
    if (convert) seconds = to_utc(seconds, zone);
    int32_t days = carry_zone(to_days(packed), seconds, zone);
    box(d, from_days(days, zone, has_time(packed)), seconds);
}

void set_month(Cell* d, int64_t n) {
    uint32_t packed = d->payload1;
    int64_t carry = floor_div(n - 1, 12);
    auto month = int32_t(floor_mod(n - 1, 12) + 1);
    int64_t year = year_of(packed) + carry;
    if (year < min_year || year > max_year) fire_type_limit();
    int64_t days = int64_t(to_days(int32_t(year), month, 1)) + day_of(packed) - 1;
    box(d, moved(packed, days), cell::real(d));
}

int32_t isoweek_start(uint32_t packed, int32_t* weekday_out) {
    int32_t jan1 = year_start(packed);
    int32_t wd = weekday(jan1) - 1;  // 0 on Mondays
    if (weekday_out) *weekday_out = wd + 1;
    return wd <= 3 ? jan1 - wd : jan1 + 7 - wd;
}

int32_t week(uint32_t packed) {
    int32_t w0 = weekday(year_start(packed)) % 7;  // days since Sunday
    int32_t yd = year_day(packed);
    return yd <= 7 - w0 ? 1 : (yd + w0 - 1) / 7 + 1;
}

int32_t isoweek(uint32_t packed) {
    int32_t days = to_days(packed), jan1_weekday;
    int32_t start = isoweek_start(packed, &jan1_weekday);
    int32_t next = isoweek_start(pack(year_of(packed) + 1, 1, 1, 0, false), nullptr);
    if (days >= next) return 1;
    if (days >= start) return (days - start) / 7 + 1;
    if (jan1_weekday == 5) return 53;
    if (jan1_weekday == 6) return leap_year_q(year_of(packed) - 1) ? 53 : 52;
    return 52;
}

uint32_t set_isoweek(uint32_t packed, int32_t w) {
    return moved(packed, int64_t(isoweek_start(packed, nullptr)) + 7 * (int64_t(w) - 1));
}

uint32_t set_weekday(uint32_t packed, int32_t d) {
    int32_t days = to_days(packed);
    return moved(packed, int64_t(days) - (weekday(days) - 1) + (int64_t(d) - 1));
}

uint32_t set_yearday(uint32_t packed, int32_t n) { return moved(packed, int64_t(year_start(packed)) + n - 1); }

Cell* box_from_parts(Cell* out, int32_t year, int32_t month, int32_t day, double seconds, int32_t zone_hours,
                     int32_t zone_minutes, bool has_time) {
    uint32_t zone = zone_bits(zone_hours, zone_minutes);
    return box(out, pack(year, month, day, zone, has_time), has_time ? to_utc(seconds, zone) : 0.0);
}

Cell* box_from_fields(Cell* out, int32_t year, int32_t month, int32_t day, int32_t hour, int32_t minute,
                      double second) {
    return box(out, pack(year, month, day, 0, true), hour * 3600.0 + minute * 60.0 + second);
}

Cell* box(Cell* out, uint32_t packed, double seconds) {
    cell::set_real(out, type::date, seconds);
    out->payload1 = packed;
    return out;
}

Cell* push(uint32_t packed, double seconds) { return box(stack::push_slot(), packed, seconds); }

Cell* from_epoch(Cell* out, int64_t n) {
    int64_t days = int64_t(to_days(1970, 1, 1)) + n / 86400;
    box(out, from_days(checked_days(days), 0, true), 0.0);
    set_time(out, double(n % 86400), false);
    return out;
}

// The stored time is rounded to the nearest second, halves up.
int64_t to_epoch(const Cell* d) {
    double t = std::floor(cell::real(d) + 0.5);
    if (!std::isfinite(t)) fire_type_limit();
    return (int64_t(to_days(d->payload1)) - to_days(1970, 1, 1)) * 86400 + int64_t(t);
}

void math(int op) {
    Cell* a = stack::args;
    Cell* b = a + 1;
    uint32_t packed = a->payload1, zone = packed & zone_mask;
    double t = cell::real(a);
    int64_t days = to_days(packed);
    double sign = op == integer::op::add ? 1.0 : -1.0;
    switch (cell::type_of(b)) {
        case type::integer: days += op == integer::op::add ? int64_t(integer::get(b)) : -int64_t(integer::get(b)); break;
        case type::time:
            t += sign * cell::real(b);
            packed |= has_time_bit;
            break;
        case type::date: {
            if (op == integer::op::add) {
                Cell kind{};
                cell::set_datatype(&kind, type::date);
                error::fire(error::id::not_related, words::words.add, &kind);
            }
            double s = t - cell::real(b);
            int32_t n = carry_zone(days - to_days(b->payload1), s, zone);
            cell::set_integer(a, n);
            return;
        }
        default: {
            error::fire_invalid_type(cell::type_of(b));
        }
    }
    // A date without a time keeps none: only the day count moves.
    if (!has_time(packed)) {
        box(a, moved(packed, days), t);
        return;
    }
    int32_t n = carry_zone(days, t, zone);
    box(a, from_days(n, zone, true), t);
}

// Dates compare as instants: the day count x 86400 + the stored time, so a
// time in one zone equals the same moment written in another. The times are
// compared on a's day, exactly (same?) or within float!'s tolerance.
int32_t compare(const Cell* a, const Cell* b, int32_t op) {
    if (!cell::is(b, type::date)) return -2;
    int64_t shift = int64_t(to_days(b->payload1)) - to_days(a->payload1);
    double ta = cell::real(a), tb = cell::real(b) + double(shift) * day_seconds;
    int32_t order = ta < tb ? -1 : ta > tb ? 1 : 0;
    bool equal = op == 9 ? std::bit_cast<uint64_t>(ta) == std::bit_cast<uint64_t>(tb) : float_::near_equal(ta, tb);
    if (equal) return 0;
    return order ? order : 1;
}

namespace {

// A date between day 0 (1 March of year 0) and the value; with a time, a
// zone of 7 random bits and a local time that is a multiple of 24 seconds.
void random(Cell* value, bool seed, bool secure, bool) {
    uint32_t packed = value->payload1;
    if (seed) {
        double t = cell::real(value);
        auto whole = std::isfinite(t) && std::fabs(t) < 2147483647.0 ? uint32_t(int32_t(t)) : 0u;
        kel::random::init_genrand(packed + whole);
        cell::set_unset(value);
        return;
    }
    int32_t n = to_days(packed);
    int64_t days = int64_t(kel::random::next_int(secure, n)) - 1;
    if (!has_time(packed)) {
        box(value, from_days(checked_days(days), 0, false), 0.0);
        return;
    }
    uint32_t zone = (secure ? kel::random::secure_word() : kel::random::next_word()) & zone_mask;
    if (zone == 0x40) zone = 0;  // a west zone of no hours is no zone
    double fraction = secure ? (kel::random::secure_word() + kel::random::secure_word() / 2147483647.0) / 2147483648.0
                             : kel::random::next_word() / 2147483647.0;
    double local = 24.0 * std::floor(3600.0 * fraction);
    box(value, from_days(checked_days(days), zone, true), 0.0);
    set_time(value, local, true);
}

void add() { math(integer::op::add); }
void subtract() { math(integer::op::subtract); }

}  // namespace

void register_type() {
    datatype::Row row(datatype::unsupported);
    row.set(action::make, &make).set(action::random, &random).set(action::to, &to);
    row.set(action::form, &form).set(action::mold, &mold).set(action::eval_path, &eval_path);
    row.set(action::compare, &compare).set(action::add, &add).set(action::subtract, &subtract);
    row.set(action::pick, &pick);
    datatype::register_type({type::date, 0, "date!", row.handlers});
}

}  // namespace kel::date
