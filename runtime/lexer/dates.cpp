// Date tokens. Three families:
//   day-month-year with "-" or "/" (the same one twice; year first when the
//   first number is above 99), the month a number or a leading part of its
//   English name, then optionally "/" or "T" and a time with a zone;
//   ISO week dates yyyy-Www[-d] and ordinal dates yyyy-ddd;
//   the compact form yyyymmddThhmm[ss[.f]] with Z or a four-digit zone.
#include <cstring>

#include "runtime/datatypes/date.hpp"
#include "runtime/datatypes/tokenizer.hpp"
#include "runtime/lexer/state.hpp"

namespace kel::lexer {
namespace {

constexpr const char* month_names[12] = {"january", "february", "march",     "april",   "may",      "june",
                                         "july",    "august",   "september", "october", "november", "december"};

struct Cursor {
    const uint8_t* p;
    const uint8_t* end;

    bool at(char c) const { return p < end && *p == uint8_t(c); }
    bool take(char c) {
        if (!at(c)) return false;
        ++p;
        return true;
    }
    bool digit() const { return p < end && *p >= '0' && *p <= '9'; }
    // Up to max digits (at least min); -1 when fewer.
    int32_t number(int min, int max, int* count = nullptr) {
        int32_t v = 0;
        int n = 0;
        while (n < max && digit()) v = v * 10 + (*p++ - '0'), ++n;
        if (count) *count = n;
        return n < min ? -1 : v;
    }
};

struct Fields {
    int32_t year = 0, month = 0, day = 0;
    bool has_time = false;
    double seconds = 0;  // local time of day
    int32_t zone_hours = 0, zone_minutes = 0;
};

// hh:mm[:ss[.f]] then Z or a zone +h[h][:][mm].
bool read_time(Cursor& c, Fields& f) {
    int32_t h = c.number(1, 2);
    if (h < 0 || !c.take(':')) return false;
    int32_t m = c.number(1, 2);
    if (m < 0) return false;
    double s = 0;
    if (c.take(':')) {
        const uint8_t* from = c.p;
        if (c.number(1, 9) < 0) return false;
        if (c.take('.') && c.number(1, 9) < 0) return false;
        int32_t error = 0;
        s = tokenizer::scan_float(from, uint32_t(c.p - from), 1, &error);
        if (error) return false;
    }
    if (h > 23 || m > 59 || s >= 60) return false;
    f.has_time = true;
    f.seconds = h * 3600.0 + m * 60.0 + s;
    if (c.take('Z')) return true;
    if (c.at('+') || c.at('-')) {
        int sign = *c.p++ == '-' ? -1 : 1;
        int32_t zh = c.number(1, 2);
        if (zh < 0) return false;
        c.take(':');
        int32_t zm = c.number(0, 2);
        if (zh > 15 || zm > 59) return false;
        f.zone_hours = sign * zh;
        f.zone_minutes = sign * zm;
    }
    return true;
}

// A month number or a leading part (3 to 9 letters) of a month's name.
int32_t read_month(Cursor& c) {
    if (c.digit()) return c.number(1, 2);
    const uint8_t* from = c.p;
    while (c.p < c.end && ((*c.p | 0x20) >= 'a' && (*c.p | 0x20) <= 'z')) ++c.p;
    auto n = size_t(c.p - from);
    if (n < 3 || n > 9) return -1;
    for (int m = 0; m < 12; ++m) {
        if (std::strlen(month_names[m]) < n) continue;
        bool same = true;
        for (size_t i = 0; i < n && same; ++i) same = char(from[i] | 0x20) == month_names[m][i];
        if (same) return m + 1;
    }
    return -1;
}

bool compact_form(Cursor c, Fields& f) {
    f.year = c.number(4, 4);
    f.month = c.number(2, 2);
    f.day = c.number(2, 2);
    if (f.day < 0 || !c.take('T')) return false;
    int32_t h = c.number(2, 2), m = c.number(2, 2);
    if (m < 0) return false;
    double s = 0;
    if (c.digit()) {
        const uint8_t* from = c.p;
        c.number(1, 2);
        if (c.take('.') && c.number(1, 9) < 0) return false;
        int32_t error = 0;
        s = tokenizer::scan_float(from, uint32_t(c.p - from), 1, &error);
        if (error) return false;
    }
    if (h > 23 || m > 59 || s >= 60) return false;
    f.has_time = true;
    f.seconds = h * 3600.0 + m * 60.0 + s;
    if (!c.take('Z')) {
        if (!c.at('+') && !c.at('-')) return false;
        int sign = *c.p++ == '-' ? -1 : 1;
        int32_t zh = c.number(2, 2), zm = c.number(2, 2);
        if (zm < 0 || zh > 15 || zm > 59) return false;
        f.zone_hours = sign * zh;
        f.zone_minutes = sign * zm;
    }
    return c.p == c.end;
}

bool valid(const Fields& f) {
    return f.month >= 1 && f.month <= 12 && f.day >= 1 && f.day <= date::days_in_month(f.year, f.month) &&
           f.year >= -9999 && f.year <= 9999;
}

}  // namespace

void load_date(State& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    Fields f;
    Cursor c{start, end};
    uint32_t packed = 0;  // set by the ISO forms
    bool ok = false;
    if (end - start > 8 && start[8] == 'T' && compact_form(c, f)) {
        ok = valid(f);
    } else {
        int digits = 0;
        int32_t first = c.number(1, 9, &digits);
        char sep = c.at('-') ? '-' : c.at('/') ? '/' : 0;
        if (first >= 0 && sep) {
            ++c.p;
            if (digits == 4 && sep == '-' && c.take('W')) {
                // ISO week date
                int32_t week = c.number(1, 2), weekday = 1;
                if (c.take('-')) weekday = c.number(1, 1);
                if (week >= 1 && week <= 53 && weekday >= 1 && weekday <= 7 && c.p == end) {
                    uint32_t jan1 = date::from_days(date::to_days(first, 1, 1), 0, false);
                    packed = date::set_weekday(date::set_isoweek(jan1, week), weekday);
                    ok = true;
                }
            } else if (digits == 4 && sep == '-' && end - c.p == 3 && c.digit()) {
                // ordinal date
                int32_t n = c.number(3, 3);
                int32_t days = date::leap_year_q(first) ? 366 : 365;
                if (n >= 1 && n <= days && c.p == end) {
                    packed = date::set_yearday(date::from_days(date::to_days(first, 1, 1), 0, false), n);
                    ok = true;
                }
            } else {
                f.month = read_month(c);
                int year_digits = 0;
                int32_t third = f.month >= 0 && c.take(sep) ? c.number(1, 9, &year_digits) : -1;
                if (third >= 0) {
                    if (first > 99) {
                        f.year = first, f.day = third;
                    } else {
                        f.day = first, f.year = third;
                        if (year_digits <= 2) f.year += third >= 50 ? 1900 : 2000;
                    }
                    ok = valid(f);
                    if (ok && (c.take('/') || c.take('T'))) ok = read_time(c, f);
                    ok = ok && c.p == end;
                }
            }
        }
    }
    if (!ok) throw_error(s, start, type::date);
    if (!load) return;
    Cell* cell = grow_buffer(s);
    uint32_t newline = cell->header & cell::newline_flag;
    if (packed) date::box(cell, packed, 0.0);
    else date::box_from_parts(cell, f.year, f.month, f.day, f.seconds, f.zone_hours, f.zone_minutes, f.has_time);
    cell->header |= newline;
}

}  // namespace kel::lexer
