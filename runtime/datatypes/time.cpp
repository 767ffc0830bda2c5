// percent! and time! take their arithmetic and comparison from float!;
// here their text.
#include "runtime/datatypes/time.hpp"

#include <cmath>
#include <cstring>
#include <string>

#include "runtime/datatype.hpp"
#include "runtime/datatypes/float.hpp"
#include "runtime/datatypes/string.hpp"

namespace kel {
namespace {

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

}  // namespace

int32_t time::form_time(double t, Cell* out, int32_t limit) {
    std::string s;
    if (t < 0) {
        s += '-';
        t = -t;
    }
    s += std::to_string(int64_t(std::floor(t / 3600.0)));
    s += ':';
    int minutes = int(std::floor(std::fmod(t, 3600.0) / 60.0));
    if (minutes < 10) s += '0';
    s += std::to_string(minutes) + ":";
    double seconds = std::fmod(t, 60.0);
    if (seconds < 1e-06) {
        s += "00";
    } else {
        const char* text = float_::form_float(seconds, float_::kind::seconds);
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
    // add, subtract, multiply and divide keep the float! rules, which
    // already give a time! result.
    for (action::Slot s : {action::random, action::compare, action::absolute, action::negate, action::remainder,
                           action::add, action::subtract})
        row.handlers[s - 1] = inherit;
    row.set(action::form, &time_form).set(action::mold, &time_mold);
    datatype::register_type({type::time, type::float_, "time!", row.handlers});
}

}  // namespace kel
