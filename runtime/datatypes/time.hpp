// percent! and time!: a double in payloads 2-3, like float!, their parent.
// A percent holds the fraction (50% is 0.5); a time holds signed seconds.
#pragma once
#include "runtime/cell.hpp"

namespace kel::percent {
inline Cell* box(Cell* out, double fraction) {
    cell::set_real(out, type::percent, fraction);
    return out;
}
void register_type();
}  // namespace kel::percent

namespace kel::time {
inline Cell* box(Cell* out, double seconds) {
    cell::set_real(out, type::time, seconds);
    return out;
}
// The text of a duration: [-]h:mm:ss with the fraction of the seconds
// when there is one; answers the limit less the characters written.
int32_t form_time(double seconds, Cell* out, int32_t limit);
// True when the seconds of t, written as form_time writes them, would read
// 60: form_time then writes the next whole minute instead.
bool seconds_round_up(double t);

// The fields of a duration: hours truncated toward zero (a time with no
// 32-bit hour count raises type-limit), whole minutes of the hour, and the
// seconds of the minute with the sign of the time.
int32_t hour_of(double t);
int32_t minute_of(double t);
double second_of(double t);

// Field indexes 1 hour, 2 minute, 3 second; -1 for another word.
int32_t field_index(const Cell* word);
// The time with one field set to the value, the others kept; a value of a
// type the field does not take raises invalid-arg.
double with_field(double t, int32_t index, const Cell* value);
// Pushes field index of t.
Cell* push_field(double t, int32_t index);

void register_type();
}  // namespace kel::time
