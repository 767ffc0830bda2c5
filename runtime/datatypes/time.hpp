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
void register_type();
}  // namespace kel::time
