// The edition and architecture names both twins share.
#include "runtime/platform/os_info.hpp"

#include <cstring>

namespace kel::os {

std::string edition_name(uint32_t major, uint32_t minor, uint32_t build, bool server) {
    if (major == 5) {
        switch (minor) {
        case 0: return "2000";
        case 1: return "XP";
        // 5.2 is XP x64 on a workstation and Server 2003 on a server; the R2
        // release cannot be told from the product type and is not claimed.
        case 2: return server ? "Server 2003" : "XP";
        }
    } else if (major == 6) {
        switch (minor) {
        case 0: return server ? "Server 2008" : "Vista";
        case 1: return server ? "Server 2008 R2" : "7";
        case 2: return server ? "Server 2012" : "8";
        case 3: return server ? "Server 2012 R2" : "8.1";
        }
    } else {
        if (!server) return build < 22000 ? "10" : "11";
        return build < 17134 ? "Server 2016" : build < 20285 ? "Server 2019" : "Server 2022";
    }
    // A version the table does not know yet is named by its numbers.
    return std::to_string(major) + "." + std::to_string(minor);
}

const char* arch_of_windows_code(uint32_t code) {
    switch (code) {
    case 0: return "x86-32";
    case 5: return "ARM";
    case 6: return "IA-64";
    case 9: return "x86-64";
    case 12: return "ARM64";
    default: return "Unknown";
    }
}

const char* arch_of_machine(const char* machine) {
    struct Name {
        const char* machine;
        const char* arch;
    };
    static constexpr Name names[] = {
        {"x86_64", "x86-64"}, {"amd64", "x86-64"}, {"aarch64", "ARM64"}, {"arm64", "ARM64"},
        {"i386", "x86-32"},   {"i486", "x86-32"},  {"i586", "x86-32"},   {"i686", "x86-32"},
        {"ia64", "IA-64"},
    };
    for (const Name& n : names)
        if (std::strcmp(machine, n.machine) == 0) return n.arch;
    if (std::strncmp(machine, "arm", 3) == 0) return "ARM";
    return "Unknown";
}

}  // namespace kel::os
