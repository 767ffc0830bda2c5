// date!: make and to (from blocks and epoch seconds), the text form, and
// the fields read and set by path and pick. Fields are read on the local
// time: the stored (UTC) time plus the zone.
#include <cmath>
#include <string>

#include "runtime/datatype.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/date.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/time.hpp"
#include "runtime/error.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"
#include "runtime/system_object.hpp"
#include "runtime/typesets.hpp"
#include "runtime/words.hpp"

namespace kel::date {
namespace {

enum Field : int32_t {
    date_ = 1, year, month, day, zone, time_, hour, minute, second, weekday_, yearday, timezone, week_, isoweek_
};

int32_t last_day() { return to_days(max_year, 12, 31); }

double local_time(const Cell* d) {
    uint32_t packed = d->payload1;
    return has_time(packed) ? to_local(cell::real(d), packed & zone_mask) : 0.0;
}

// ---- the block spec

// The moves of the spec reader: for each state, the next state after an
// integer!, a time! and a float! (0: refused). The slot a value fills is
// known from the state it leaves.
struct Move {
    uint8_t integer, time, real;
};
constexpr Move moves[14] = {
    {1, 0, 0},  {2, 0, 0},  {3, 0, 0}, {8, 4, 0},  {6, 5, 0},  {0, 0, 0},  {7, 0, 0},
    {0, 0, 0},  {9, 0, 0},  {10, 0, 10}, {12, 11, 0}, {0, 0, 0}, {13, 0, 0}, {0, 0, 0},
};

struct Spec {
    int32_t first = 0, month = 0, third = 0, hour = 0, minute = 0, int_second = 0, zone_hours = 0, zone_minutes = 0;
    double real_second = 0, time = 0, zone_time = 0;
    bool hour_given = false, time_given = false, zone_as_time = false;
    int32_t count = 0;
};

Spec read_spec(const Cell* spec) {
    Spec s;
    int32_t n = series::length_from(spec), at = series::clamped_index(spec);
    uint8_t state = 0;
    for (int32_t i = 0; i < n; ++i) {
        const Cell* v = block::ks_abs_at(spec, at + i);
        uint8_t t = cell::type_of(v);
        uint8_t next = t == type::integer ? moves[state].integer
                       : t == type::time  ? moves[state].time
                       : t == type::float_ ? moves[state].real
                                           : 0;
        if (next == 0) error::fire_bad_to_arg(type::date, spec);
        int32_t k = t == type::integer ? integer::get(v) : 0;
        switch (state) {
            case 0: s.first = k; break;
            case 1: s.month = k; break;
            case 2: s.third = k; break;
            case 3:
                if (t == type::integer) s.hour = k, s.hour_given = true;
                else s.time = cell::real(v), s.time_given = true;
                break;
            case 4:
            case 10:
                if (t == type::integer) s.zone_hours = k;
                else s.zone_time = cell::real(v), s.zone_as_time = true;
                break;
            case 6:
            case 12: s.zone_minutes = k; break;
            case 8: s.minute = k; break;
            case 9:
                if (t == type::integer) s.int_second = k;
                else s.real_second = cell::real(v);
                break;
            default: break;
        }
        state = next;
    }
    s.count = n;
    if (n < 3) error::fire_bad_to_arg(type::date, spec);
    return s;
}

// A zone given as a time or as hours and minutes; hours past 15 do not fit.
uint32_t spec_zone(const Spec& s, const Cell* spec) {
    int64_t hours = s.zone_hours, minutes = s.zone_minutes;
    if (s.zone_as_time) {
        if (!(std::fabs(s.zone_time) < 16 * 3600.0)) error::fire_bad_to_arg(type::date, spec);
        hours = time::hour_of(s.zone_time);
        minutes = time::minute_of(s.zone_time);
        if (s.zone_time < 0) minutes = -minutes;
    }
    if (hours > 15 || hours < -15 || minutes > 59 || minutes < -59) error::fire_bad_to_arg(type::date, spec);
    return zone_bits(int32_t(hours), int32_t(minutes));
}

// ---- text

// Appends the first (up to) three characters of the month's name.
int32_t month_name(int32_t m, Cell* out) {
    Cell months = system_object::months();
    int32_t index = m - 1;
    if (!typesets::is_any_block(cell::type_of(&months)) || m < 1 || index >= series::length_from(&months))
        error::fire(error::id::invalid_months);
    Cell name = *block::ks_abs_at(&months, series::clamped_index(&months) + index);
    if (!cell::is(&name, type::string)) error::fire(error::id::invalid_months);
    string::Units text = string::units_of(&name);
    uint32_t n = text.count < 3 ? text.count : 3;
    uint32_t cps[3];
    for (uint32_t i = 0; i < n; ++i) cps[i] = string::get_char(text.start + i * text.unit, text.unit);
    for (uint32_t i = 0; i < n; ++i) string::append_char(out, cps[i]);
    return int32_t(n);
}

std::string two_digits(int32_t v) { return v < 10 ? "0" + std::to_string(v) : std::to_string(v); }

int32_t write(const Cell* value, Cell* out, int32_t limit) {
    uint32_t packed = value->payload1;
    // A time a hair before midnight is written as midnight of the next day,
    // never as 24:00:00.
    double local = local_time(value);
    if (has_time(packed) && local >= 86340.0 && time::seconds_round_up(local) && to_days(packed) < last_day()) {
        Cell next = *value;
        set_time(&next, 86400.0, true);
        return write(&next, out, limit);
    }
    int32_t y = year_of(packed);
    std::string sep = y < 0 ? "/" : "-";
    std::string head = std::to_string(day_of(packed)) + sep;
    string::append_ascii(out, head.data(), head.size());
    int32_t written = int32_t(head.size()) + month_name(month_of(packed), out);
    std::string tail = sep;
    if (y < 0) tail += '-';
    std::string digits = std::to_string(std::abs(y));
    if (digits.size() < 4) digits.insert(0, 4 - digits.size(), '0');
    tail += digits;
    string::append_ascii(out, tail.data(), tail.size());
    written += int32_t(tail.size());
    if (has_time(packed)) {
        string::append_ascii(out, "/", 1);
        written += 1 + (limit - time::form_time(local, out, limit));
        uint32_t zone = packed & zone_mask;
        if (zone) {
            std::string z = zone & 0x40 ? "-" : "+";
            z += two_digits(int32_t((zone >> 2) & 0xF)) + ":" + two_digits(int32_t(zone & 3) * 15);
            string::append_ascii(out, z.data(), z.size());
            written += int32_t(z.size());
        }
    }
    return limit - written;
}

// ---- fields

[[noreturn]] void fire_invalid_arg(const Cell* value) {
    Cell v = *value;
    error::fire(error::id::invalid_arg, &v);
}

int64_t integer_arg(const Cell* value) {
    if (!cell::is(value, type::integer)) fire_invalid_arg(value);
    return integer::get(value);
}

// Moves the date part to the day count, keeping the zone, time and flag.
void move_to(Cell* d, int64_t days) {
    uint32_t packed = d->payload1;
    box(d, from_days(checked_days(days), packed & zone_mask, has_time(packed)), cell::real(d));
}

// The zone of an integer! (hours) or a time! (hours and minutes).
uint32_t zone_of(const Cell* value) {
    if (cell::is(value, type::integer)) return zone_bits(integer::get(value), 0);
    if (!cell::is(value, type::time)) fire_invalid_arg(value);
    double t = cell::real(value);
    if (!(std::fabs(t) < 1e9)) fire_invalid_arg(value);
    int32_t minutes = time::minute_of(t);
    return zone_bits(time::hour_of(t) % 16, t < 0 ? -minutes : minutes);
}

// Sets the zone bits and the has-time flag; the local time (keep_wall) or
// the instant stays.
void set_zone(Cell* d, uint32_t zone, bool keep_wall) {
    double local = local_time(d);
    d->payload1 = (d->payload1 & ~zone_mask) | zone | has_time_bit;
    if (keep_wall) set_time(d, local, true);
    else set_time(d, cell::real(d), false);
}

void set_local(Cell* d, double local) {
    d->payload1 |= has_time_bit;
    set_time(d, local, true);
}

int32_t selector_index(const Cell* selector) {
    if (cell::is(selector, type::integer)) {
        int32_t i = integer::get(selector);
        return i >= 1 && i <= 14 ? i : -1;
    }
    return field_index(selector);
}

}  // namespace

int32_t field_index(const Cell* word) {
    if (!typesets::is_any_word(cell::type_of(word))) return -1;
    uint32_t s = symbol::resolve(word->payload2);
    const words::Symbols& k = words::symbols;
    const std::pair<uint32_t, int32_t> names[] = {
        {k.date, date_},   {k.year, year},       {k.month, month},       {k.day, day},       {k.zone, zone},
        {k.time, time_},   {k.hour, hour},       {k.minute, minute},     {k.second, second}, {k.weekday, weekday_},
        {k.yearday, yearday}, {k.julian, yearday}, {k.timezone, timezone}, {k.week, week_},  {k.isoweek, isoweek_},
    };
    for (const auto& [symbol, index] : names)
        if (s == symbol::resolve(symbol)) return index;
    return -1;
}

Cell* push_field(const Cell* d, int32_t index) {
    uint32_t packed = d->payload1;
    double local = local_time(d);
    Cell* c = stack::push_slot();
    switch (index) {
        case date_: box(c, packed & ~(has_time_bit | zone_mask), 0.0); break;
        case year: cell::set_integer(c, year_of(packed)); break;
        case month: cell::set_integer(c, month_of(packed)); break;
        case day: cell::set_integer(c, day_of(packed)); break;
        case zone:
        case timezone:
            if (has_time(packed)) time::box(c, zone_seconds(packed & zone_mask));
            else cell::set_none(c);
            break;
        case time_:
            if (has_time(packed)) time::box(c, local);
            else cell::set_none(c);
            break;
        case hour: cell::set_integer(c, time::hour_of(local)); break;
        case minute: cell::set_integer(c, time::minute_of(local)); break;
        case second: cell::set_real(c, type::float_, time::second_of(local)); break;
        case weekday_: cell::set_integer(c, weekday(to_days(packed))); break;
        case yearday: cell::set_integer(c, year_day(packed)); break;
        case week_: cell::set_integer(c, week(packed)); break;
        default: cell::set_integer(c, isoweek(packed)); break;
    }
    return c;
}

void set_field(Cell* d, int32_t index, const Cell* value) {
    uint32_t packed = d->payload1;
    switch (index) {
        case date_: {
            if (!cell::is(value, type::date)) fire_invalid_arg(value);
            uint32_t kept = zone_mask;
            d->payload1 = (packed & kept) | (value->payload1 & ~kept);
            // A date that loses its time keeps no stored time either.
            if (!has_time(d->payload1)) box(d, d->payload1, 0.0);
            return;
        }
        case year: {
            int64_t y = integer_arg(value);
            if (y < min_year || y > max_year) error::fire(error::id::invalid_arg, value);
            move_to(d, int64_t(to_days(int32_t(y), month_of(packed), 1)) + day_of(packed) - 1);
            return;
        }
        case month: set_month(d, integer_arg(value)); return;
        case day: move_to(d, int64_t(to_days(year_of(packed), month_of(packed), 1)) + integer_arg(value) - 1); return;
        case zone: set_zone(d, zone_of(value), true); return;
        case timezone: set_zone(d, zone_of(value), false); return;
        case time_:
            if (cell::is(value, type::none)) {
                box(d, packed & ~has_time_bit, 0.0);
                return;
            }
            if (!cell::is(value, type::time)) fire_invalid_arg(value);
            set_local(d, cell::real(value));
            return;
        case hour:
        case minute:
        case second: set_local(d, time::with_field(local_time(d), index - hour + 1, value)); return;
        case weekday_: {
            int32_t days = to_days(packed);
            move_to(d, int64_t(days) - (weekday(days) - 1) + integer_arg(value) - 1);
            return;
        }
        case yearday: move_to(d, int64_t(year_start(packed)) + integer_arg(value) - 1); return;
        case week_: {
            int64_t n = integer_arg(value), jan1 = year_start(packed);
            int32_t w0 = weekday(int32_t(jan1)) % 7;
            move_to(d, n == 1 ? jan1 : jan1 + 7 * (n - 2) + 7 - w0);
            return;
        }
        default: move_to(d, int64_t(isoweek_start(packed, nullptr)) + 7 * (integer_arg(value) - 1)); return;
    }
}

Cell* from_block(Cell* out, const Cell* spec, bool validate) {
    Spec s = read_spec(spec);
    int32_t d = s.first, y = s.third;
    if (s.first >= 100 && s.first > s.third) d = s.third, y = s.first;
    if (y < min_year || y > max_year) error::fire_bad_to_arg(type::date, spec);
    bool timed = s.count > 3;
    double seconds = s.time;
    if (s.hour_given) {
        double sec = s.real_second != 0 ? s.real_second : double(s.int_second);
        seconds = sec + 60.0 * s.minute + 3600.0 * s.hour;
    }
    uint32_t zone = timed ? spec_zone(s, spec) : 0;
    box(out, from_days(to_days(y, 1, 1), 0, timed), 0.0);
    set_month(out, s.month);
    move_to(out, int64_t(to_days(out->payload1)) + int64_t(d) - 1);
    set_time(out, seconds, false);
    if (validate) {
        uint32_t p = out->payload1;
        bool ok = year_of(p) == y && month_of(p) == s.month && day_of(p) == d;
        if (s.hour_given)
            ok = ok && s.hour >= 0 && s.hour <= 23 && s.minute >= 0 && s.minute <= 59 &&
                 seconds - 60.0 * s.minute - 3600.0 * s.hour >= 0 && seconds - 60.0 * s.minute - 3600.0 * s.hour < 60;
        else if (s.time_given)
            ok = ok && s.time >= 0 && s.time < 86400;
        if (!ok) error::fire_bad_to_arg(type::date, spec);
    }
    if (timed) {
        out->payload1 = (out->payload1 & ~zone_mask) | zone;
        set_time(out, cell::real(out), true);
    }
    return out;
}

Cell* make(Cell* proto, Cell* spec, uint8_t) {
    switch (cell::type_of(spec)) {
        case type::date: *proto = *spec; return proto;
        case type::block:
        case type::paren:
        case type::hash: {
            Cell result;
            from_block(&result, spec, true);
            *proto = result;
            return proto;
        }
        default: error::fire_bad_to_arg(type::date, spec);
    }
}

Cell* to(Cell* proto, Cell* spec, uint8_t) {
    Cell result;
    switch (cell::type_of(spec)) {
        case type::date: result = *spec; break;
        case type::integer: from_epoch(&result, integer::get(spec)); break;
        case type::block:
        case type::paren:
        case type::hash: from_block(&result, spec, false); break;
        default: error::fire_bad_to_arg(type::date, spec);
    }
    *proto = result;
    return proto;
}

int32_t form(const Cell* value, Cell* out, const Cell*, int32_t limit) { return write(value, out, limit); }

int32_t mold(const Cell* value, Cell* out, bool, bool, bool, const Cell*, int32_t limit, int32_t) {
    return write(value, out, limit);
}

Cell* eval_path(Cell* value, const Cell* element, const Cell* store, const Cell* path, const Cell*, const Cell*,
                int32_t, bool, bool, bool, bool) {
    int32_t index = selector_index(element);
    if (index < 0) {
        Cell p, e = *element;
        if (path) p = *path;
        else cell::set_none(&p);
        error::fire(error::id::invalid_path, &p, &e);
    }
    if (!store) return push_field(value, index);
    set_field(value, index, store);
    return value;
}

Cell* pick(Cell* value, int32_t, const Cell* index_cell) {
    int32_t index = selector_index(index_cell);
    if (index < 0) {
        Cell e = *index_cell;
        error::fire(error::id::out_of_range, &e);
    }
    return push_field(value, index);
}

}  // namespace kel::date
