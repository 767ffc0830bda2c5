// The system's record on Windows: the extended version information and the
// native system information. The version comes from RtlGetVersion, which
// tells the real one to any program; GetVersionExA, which answers a program
// without a manifest naming the newer systems as if it ran on Windows 8, is
// the fallback.
#include "runtime/platform/os_info.hpp"

#include <windows.h>

#include "runtime/unicode.hpp"

namespace kel::os {
namespace {

struct Version {
    uint32_t major = 0, minor = 0, build = 0, service_pack = 0;
    bool server = false;
    std::string service_pack_text;
};

bool real_version(Version& v) {
    using Get = LONG(WINAPI*)(OSVERSIONINFOEXW*);
    auto get = reinterpret_cast<Get>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (!get || get(&info) != 0) return false;
    v = {info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber, info.wServicePackMajor,
         info.wProductType != VER_NT_WORKSTATION,
         unicode::utf16_to_utf8(std::u16string_view(reinterpret_cast<const char16_t*>(info.szCSDVersion)))};
    return true;
}

bool reported_version(Version& v) {
    OSVERSIONINFOEXA info{};
    info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info))) return false;
#pragma GCC diagnostic pop
    v = {info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber, info.wServicePackMajor,
         info.wProductType != VER_NT_WORKSTATION, info.szCSDVersion};
    return true;
}

}  // namespace

VersionRecord version() {
    VersionRecord r{"Windows", "Unknown", {0, 0, 0}, 0};
    Version v;
    if (real_version(v) || reported_version(v)) {
        r.name += " " + edition_name(v.major, v.minor, v.build, v.server);
        if (!v.service_pack_text.empty()) r.name += " " + v.service_pack_text;
        r.version[0] = uint8_t(v.major);
        r.version[1] = uint8_t(v.minor);
        r.version[2] = uint8_t(v.service_pack);
        r.build = int32_t(v.build);
    }
    SYSTEM_INFO system{};
    GetNativeSystemInfo(&system);
    r.arch = arch_of_windows_code(system.wProcessorArchitecture);
    return r;
}

}  // namespace kel::os
