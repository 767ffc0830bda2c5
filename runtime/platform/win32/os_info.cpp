// The system's record on Windows: the extended version information and the
// native system information. The application manifest names the versions
// the program supports, so the version reported is the real one.
#include "runtime/platform/os_info.hpp"

#include <windows.h>

namespace kel::os {

VersionRecord version() {
    VersionRecord r{"Windows", "Unknown", {0, 0, 0}, 0};
    OSVERSIONINFOEXA info{};
    info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    BOOL ok = GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info));
#pragma GCC diagnostic pop
    if (ok) {
        bool server = info.wProductType != VER_NT_WORKSTATION;
        r.name += " " + edition_name(info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber, server);
        if (info.szCSDVersion[0]) r.name += std::string(" ") + info.szCSDVersion;
        r.version[0] = uint8_t(info.dwMajorVersion);
        r.version[1] = uint8_t(info.dwMinorVersion);
        r.version[2] = uint8_t(info.wServicePackMajor);
        r.build = int32_t(info.dwBuildNumber);
    }
    SYSTEM_INFO system{};
    GetNativeSystemInfo(&system);
    r.arch = arch_of_windows_code(system.wProcessorArchitecture);
    return r;
}

}  // namespace kel::os
