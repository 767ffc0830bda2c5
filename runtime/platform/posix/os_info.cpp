// The system's record on POSIX, from uname: the system name, the machine's
// architecture, and the kernel release's first three numbers as the version
// with the fourth (the distribution's revision in "6.1.0-18-amd64") as the
// build.
#include "runtime/platform/os_info.hpp"

#include <sys/utsname.h>

#include <cctype>
#include <cstdlib>

namespace kel::os {

VersionRecord version() {
    VersionRecord r{"Unknown", "Unknown", {0, 0, 0}, 0};
    utsname u;
    if (uname(&u) != 0) return r;
    r.name = u.sysname;
    r.arch = arch_of_machine(u.machine);
    const char* p = u.release;
    for (int i = 0; i < 4; ++i) {
        while (*p && !std::isdigit(static_cast<unsigned char>(*p))) ++p;
        if (!*p) break;
        char* end;
        long n = std::strtol(p, &end, 10);
        if (i < 3) r.version[i] = uint8_t(n & 0xFF);
        else r.build = int32_t(n);
        p = end;
    }
    return r;
}

}  // namespace kel::os
