// What the core must know of the host when it is compiled.
#pragma once

namespace kel::os {

#ifdef _WIN32
inline constexpr bool windows = true;
inline constexpr char line_end[] = "\r\n";
#else
inline constexpr bool windows = false;
inline constexpr char line_end[] = "\n";
#endif

}  // namespace kel::os
