// Small portable helpers of the base runtime: the angle reduction of the
// trigonometric natives, C-string equality and the build date.
#pragma once

namespace kel {

namespace sysrt {
double normalize_angle(double degrees, int mode);
bool cstr_equal(const char* a, const char* b);
}  // namespace sysrt

namespace build {
const char* date();  // "DD-Mon-YYYY/HH:MM:SS"
}  // namespace build

}  // namespace kel
