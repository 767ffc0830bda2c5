// The process environment on Windows: the wide-character calls, with text
// converted to and from UTF-8.
#include "runtime/platform/env.hpp"

#include <windows.h>

#include "runtime/platform/win32/shared.hpp"
#include "runtime/unicode.hpp"

namespace kel::sysrt {

using win32::wide;

std::optional<std::string> get_current_dir() {
    DWORD n = GetCurrentDirectoryW(0, nullptr);
    if (!n) return std::nullopt;
    std::vector<char16_t> buf(n);
    n = GetCurrentDirectoryW(DWORD(buf.size()), reinterpret_cast<LPWSTR>(buf.data()));
    if (!n || n >= buf.size()) return std::nullopt;
    return unicode::utf16_to_utf8(std::u16string_view(buf.data(), n));
}

bool set_current_dir(const std::string& path) { return SetCurrentDirectoryW(wide(path.c_str()).c_str()); }

bool set_env(const char* name, const char* value) {
    return SetEnvironmentVariableW(wide(name).c_str(), value ? wide(value).c_str() : nullptr);
}

std::optional<std::string> get_env(const char* name) {
    std::wstring n = wide(name);
    std::vector<wchar_t> buf(256);
    for (;;) {
        SetLastError(0);
        DWORD k = GetEnvironmentVariableW(n.c_str(), buf.data(), DWORD(buf.size()));
        if (k == 0) {
            if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
            return std::string();
        }
        if (k < buf.size()) return unicode::utf16_to_utf8(std::u16string_view(reinterpret_cast<char16_t*>(buf.data()), k));
        buf.resize(k);
    }
}

std::vector<std::pair<std::string, std::string>> list_env() {
    std::vector<std::pair<std::string, std::string>> entries;
    LPWCH block = GetEnvironmentStringsW();
    if (!block) return entries;
    auto* p = reinterpret_cast<const char16_t*>(block);
    while (*p) {
        size_t n = 0;
        while (p[n]) ++n;
        std::u16string_view entry(p, n);
        size_t eq = entry.find(u'=', 1);  // a leading "=" belongs to the name (=C:=C:\)
        if (eq != std::u16string_view::npos)
            entries.emplace_back(unicode::utf16_to_utf8(entry.substr(0, eq)), unicode::utf16_to_utf8(entry.substr(eq + 1)));
        p += n + 1;
    }
    FreeEnvironmentStringsW(block);
    return entries;
}

}  // namespace kel::sysrt

namespace kel::os {

std::string command_line() {
    const wchar_t* line = GetCommandLineW();
    if (!line) return {};
    return unicode::utf16_to_utf8(std::u16string_view(reinterpret_cast<const char16_t*>(line), size_t(lstrlenW(line))));
}

}  // namespace kel::os
