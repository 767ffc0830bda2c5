// percent! and time! take their comparison, remainder and most of their
// arithmetic from float!. Here: their text, and time!'s own conversions,
// arithmetic rules, rounding, parity and fields.
#include "runtime/datatypes/time.hpp"

#include <cmath>
#include <cstring>
#include <string>

#include "runtime/actions.hpp"
#include "runtime/datatype.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/date.hpp"
#include "runtime/datatypes/float.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/error.hpp"
#include "runtime/lexer/lexer.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"
#include "runtime/typesets.hpp"
#include "runtime/words.hpp"

namespace kel {
namespace {

constexpr double tolerance = 1e-06;

[[noreturn]] void fire_type_limit(uint8_t t) {
    Cell kind = cell::datatype_value(t);
    error::fire(error::id::type_limit, &kind);
}

[[noreturn]] void fire_not_related(const Cell* action_word) {
    Cell kind = cell::datatype_value(type::time);
    error::fire(error::id::not_related, action_word, &kind);
}

int32_t checked_int(double d) {
    if (integer::float_overflow_q(d)) fire_type_limit(type::integer);
    return int32_t(d);
}

int32_t put_text(Cell* out, const std::string& t, int32_t limit) {
    string::append_ascii(out, t.data(), t.size());
    return limit - int32_t(t.size());
}

int32_t percent_text(const Cell* v, Cell* out, int32_t limit) {
    return put_text(out, float_::form_float(cell::real(v) * 100.0, float_::kind::percent), limit);
}
int32_t percent_form(const Cell* v, Cell* out, const Cell*, int32_t limit) { return percent_text(v, out, limit); }
int32_t percent_mold(const Cell* v, Cell* out, bool, bool, bool, const Cell*, int32_t limit, int32_t) {
    return percent_text(v, out, limit);
}

int32_t time_form(const Cell* v, Cell* out, const Cell*, int32_t limit) {
    return time::form_time(cell::real(v), out, limit);
}
int32_t time_mold(const Cell* v, Cell* out, bool, bool, bool, const Cell*, int32_t limit, int32_t) {
    return time::form_time(cell::real(v), out, limit);
}

// Whole hours in decimal, also past the 32-bit range.
std::string hours_text(double h) {
    if (h < 9007199254740992.0) return std::to_string(int64_t(h));
    return std::string(float_::form_float(h, float_::kind::seconds));
}

// ---- conversions

double from_block(const Cell* spec) {
    int32_t n = series::length_from(spec);
    if (n > 3) error::fire_bad_to_arg(type::time, spec);
    int32_t at = series::clamped_index(spec);
    double parts[3] = {0, 0, 0};
    bool negative = false;
    for (int32_t i = 0; i < n; ++i) {
        const Cell* v = block::ks_abs_at(spec, at + i);
        double x;
        if (cell::is(v, type::integer)) x = double(integer::get(v));
        else if (i == 2 && cell::is(v, type::float_)) x = cell::real(v);
        else error::fire_bad_to_arg(type::time, spec);
        if (x < 0) {
            if (i > 0) error::fire_bad_to_arg(type::time, spec);
            negative = true;
            x = -x;
        }
        parts[i] = x;
    }
    double total = parts[0] * 3600.0 + parts[1] * 60.0 + parts[2];
    return negative ? -total : total;
}

// Text loaded with the lexer: its first value must be a time.
double from_text(const Cell* spec) {
    Cell first = lexer::load_first(spec);
    if (!cell::is(&first, type::time)) error::fire_bad_to_arg(type::time, spec);
    return cell::real(&first);
}

Cell* time_make(Cell* proto, Cell* spec, uint8_t) {
    double t;
    switch (cell::type_of(spec)) {
        case type::time:
        case type::float_:
        case type::percent: t = cell::real(spec); break;
        case type::integer: t = double(integer::get(spec)); break;
        case type::block:
        case type::paren:
        case type::hash: t = from_block(spec); break;
        case type::string:
        case type::file:
        case type::url:
        case type::tag:
        case type::email:
        case type::ref: t = from_text(spec); break;
        default: error::fire_bad_to_arg(type::time, spec);
    }
    time::box(proto, t);
    return proto;
}

// ---- arithmetic

void time_add() {
    Cell* args = stack::args;
    if (cell::is(args + 1, type::date)) {
        std::swap(args[0], args[1]);
        date::math(integer::op::add);
        return;
    }
    float_::math(integer::op::add);
}

void time_subtract() {
    if (cell::is(stack::args + 1, type::date)) fire_not_related(words::words.subtract);
    float_::math(integer::op::subtract);
}

void time_multiply() {
    if (cell::is(stack::args + 1, type::time)) fire_not_related(words::words.multiply);
    float_::math(integer::op::multiply);
}

void time_divide() {
    bool by_time = cell::is(stack::args + 1, type::time);
    float_::math(integer::op::divide);
    if (by_time) cell::set_type(stack::args, type::float_);
}

// float!'s rounding, always answering a time.
void time_round(Cell* value, const Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
                bool half_ceiling) {
    if (scale && cell::is(scale, type::money)) {
        Cell kind = cell::datatype_value(type::money);
        error::fire(error::id::not_related, &kind);
    }
    float_::round(value, scale, even, down, half_down, floor, ceiling, half_ceiling);
    double t = cell::is(value, type::integer) ? double(integer::get(value)) : cell::real(value);
    time::box(value, t);
}

// The whole seconds of the minute, nudged by the tolerance away from zero
// so that 0:00:03.9999999 counts as 4 seconds.
int32_t whole_seconds(const Cell* value) {
    double t = cell::real(value);
    double s = t < 0 ? t - tolerance : t + tolerance;
    return checked_int(std::fmod(s, 60.0));
}
bool time_even_q(const Cell* value) { return (whole_seconds(value) & 1) == 0; }
bool time_odd_q(const Cell* value) { return (whole_seconds(value) & 1) != 0; }

// ---- fields

int32_t selector_index(const Cell* selector) {
    if (cell::is(selector, type::integer)) {
        int32_t i = integer::get(selector);
        return i >= 1 && i <= 3 ? i : -1;
    }
    return time::field_index(selector);
}

Cell* time_eval_path(Cell* value, const Cell* element, const Cell* store, const Cell* path, const Cell*,
                     const Cell*, int32_t, bool, bool, bool, bool) {
    int32_t index = selector_index(element);
    if (index < 0) {
        Cell p, e = *element;
        if (path) p = *path;
        else cell::set_none(&p);
        error::fire(error::id::invalid_path, &p, &e);
    }
    if (!store) return time::push_field(cell::real(value), index);
    time::box(value, time::with_field(cell::real(value), index, store));
    return value;
}

Cell* time_pick(Cell* value, int32_t, const Cell* index_cell) {
    int32_t index = selector_index(index_cell);
    if (index < 0) {
        Cell e = *index_cell;
        error::fire(error::id::out_of_range, &e);
    }
    return time::push_field(cell::real(value), index);
}

}  // namespace

int32_t time::hour_of(double t) { return checked_int(t < 0 ? std::ceil(t / 3600.0) : std::floor(t / 3600.0)); }

int32_t time::minute_of(double t) {
    double m = std::floor(std::fmod(std::fabs(t), 3600.0) / 60.0);
    return checked_int(m);
}

double time::second_of(double t) { return std::fmod(t, 60.0); }

int32_t time::field_index(const Cell* word) {
    if (!typesets::is_any_word(cell::type_of(word))) return -1;
    uint32_t s = symbol::resolve(word->payload2);
    const words::Symbols& k = words::symbols;
    if (s == symbol::resolve(k.hour)) return 1;
    if (s == symbol::resolve(k.minute)) return 2;
    if (s == symbol::resolve(k.second)) return 3;
    return -1;
}

double time::with_field(double t, int32_t index, const Cell* value) {
    bool whole = cell::is(value, type::integer);
    if (!whole && !(index == 3 && cell::is(value, type::float_))) {
        Cell v = *value;
        error::fire(error::id::invalid_arg, &v);
    }
    double n = whole ? double(integer::get(value)) : cell::real(value);
    switch (index) {
        case 1: return t - 3600.0 * (double(hour_of(t)) - n);
        case 2: return t - 60.0 * (double(minute_of(t)) - n);
        default: return t - (second_of(t) - n);
    }
}

Cell* time::push_field(double t, int32_t index) {
    Cell* c = stack::push_slot();
    switch (index) {
        case 1: cell::set_integer(c, hour_of(t)); break;
        case 2: cell::set_integer(c, minute_of(t)); break;
        default: cell::set_real(c, type::float_, second_of(t)); break;
    }
    return c;
}

bool time::seconds_round_up(double t) {
    double seconds = std::fmod(std::fabs(t), 60.0);
    if (seconds < 59.0) return false;
    const char* text = float_::form_float(seconds, float_::kind::seconds);
    return text[0] == '6' && text[1] == '0' && (text[2] == 0 || text[2] == '.');
}

// The seconds are written with six significant digits. A fraction that
// rounds up to 60 would show "60": the time is then taken to the next
// whole minute instead.
int32_t time::form_time(double t, Cell* out, int32_t limit) {
    std::string s;
    if (t < 0) {
        s += '-';
        t = -t;
    }
    if (!std::isfinite(t)) return put_text(out, s + float_::form_float(t, float_::kind::seconds), limit);
    const char* text = nullptr;
    double seconds = std::fmod(t, 60.0);
    if (seconds_round_up(t)) t = t - seconds + 60.0;
    else if (seconds >= tolerance) text = float_::form_float(seconds, float_::kind::seconds);
    s += hours_text(std::floor(t / 3600.0));
    s += ':';
    int minutes = int(std::floor(std::fmod(t, 3600.0) / 60.0));
    if (minutes < 10) s += '0';
    s += std::to_string(minutes) + ":";
    if (!text) {
        s += "00";
    } else {
        if (std::strlen(text) == 1 || text[1] == '.') s += '0';
        s += text;
    }
    return put_text(out, s, limit);
}

void percent::register_type() {
    datatype::Row row(datatype::unsupported);
    using datatype::inherit;
    for (action::Slot s : {action::make, action::random, action::to, action::compare, action::absolute, action::add,
                           action::divide, action::multiply, action::negate, action::power, action::remainder,
                           action::round, action::subtract, action::even_q, action::odd_q})
        row.handlers[s - 1] = inherit;
    row.set(action::form, &percent_form).set(action::mold, &percent_mold);
    datatype::register_type({type::percent, type::float_, "percent!", row.handlers});
}

void time::register_type() {
    datatype::Row row(datatype::unsupported);
    using datatype::inherit;
    for (action::Slot s : {action::random, action::compare, action::absolute, action::negate, action::remainder})
        row.handlers[s - 1] = inherit;
    row.set(action::make, &time_make).set(action::to, &time_make);
    row.set(action::form, &time_form).set(action::mold, &time_mold).set(action::eval_path, &time_eval_path);
    row.set(action::add, &time_add).set(action::subtract, &time_subtract);
    row.set(action::multiply, &time_multiply).set(action::divide, &time_divide);
    row.set(action::even_q, &time_even_q).set(action::odd_q, &time_odd_q).set(action::round, &time_round);
    row.set(action::pick, &time_pick);
    datatype::register_type({type::time, type::float_, "time!", row.handlers});
}

}  // namespace kel
