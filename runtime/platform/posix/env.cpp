// The process environment on POSIX: environ, getcwd and chdir; names and
// values are bytes, taken as UTF-8.
#include "runtime/platform/env.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "runtime/system.hpp"

namespace kel::sysrt {

std::optional<std::string> get_current_dir() {
    std::vector<char> buf(256);
    while (!getcwd(buf.data(), buf.size())) {
        if (errno != ERANGE) return std::nullopt;
        buf.resize(buf.size() * 2);
    }
    return std::string(buf.data());
}

bool set_current_dir(const std::string& path) { return chdir(path.c_str()) == 0; }

bool set_env(const char* name, const char* value) {
    return (value ? setenv(name, value, 1) : unsetenv(name)) == 0;
}

std::optional<std::string> get_env(const char* name) {
    const char* v = getenv(name);
    if (!v) return std::nullopt;
    return std::string(v);
}

std::vector<std::pair<std::string, std::string>> list_env() {
    std::vector<std::pair<std::string, std::string>> entries;
    for (char** e = environ; e && *e; ++e) {
        const char* entry = *e;
        const char* eq = entry[0] ? std::strchr(entry + 1, '=') : nullptr;
        if (!eq) continue;  // no value: not an entry
        entries.emplace_back(std::string(entry, size_t(eq - entry)), std::string(eq + 1));
    }
    return entries;
}

}  // namespace kel::sysrt

namespace kel::os {

std::string command_line() {
    std::string line;
    for (int i = 0; i < sys::record.argc; ++i) {
        std::string_view arg = sys::record.argv[i];
        if (i) line += ' ';
        bool quote = arg.find_first_of(" \t") != std::string_view::npos;
        if (quote) line += '"';
        line += arg;
        if (quote) line += '"';
    }
    return line;
}

}  // namespace kel::os
