// Facts about the operating system for os-info: its name, the processor
// architecture, the version and the build. The naming of Windows editions
// is a pure function of the version numbers, shared by both twins so that
// it can be checked on any host.
#pragma once
#include <cstdint>
#include <string>

namespace kel::os {

struct VersionRecord {
    std::string name;      // "Windows 11", "Windows Server 2019 <service pack>", "Linux"
    const char* arch;      // x86-32, ARM, IA-64, x86-64, ARM64 or Unknown
    uint8_t version[3];    // major, minor, service pack (Linux: the kernel's first three numbers)
    int32_t build;
};

// The edition of a Windows version, as it follows "Windows ". A pair of
// 5.x or 6.x numbers the table does not know gives the generic "6.4".
std::string edition_name(uint32_t major, uint32_t minor, uint32_t build, bool server);

// The architecture word of a Windows processor-architecture code.
const char* arch_of_windows_code(uint32_t code);
// The architecture word of a uname machine name.
const char* arch_of_machine(const char* machine);

// The running system's record.
VersionRecord version();

}  // namespace kel::os
