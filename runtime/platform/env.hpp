// The process environment: its variables and its current directory. Text
// crosses as UTF-8.
#pragma once
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kel::sysrt {

std::optional<std::string> get_current_dir();
bool set_current_dir(const std::string& path);
// A null value removes the variable.
bool set_env(const char* name, const char* value);
std::optional<std::string> get_env(const char* name);
// The process environment in its own order, as (name, value) pairs. The
// first "=" that is not an entry's first character ends its name.
std::vector<std::pair<std::string, std::string>> list_env();

}  // namespace kel::sysrt

namespace kel::os {

// The process's whole command line as one text (UTF-8), unsplit: on Windows
// what GetCommandLineW gives; on POSIX the arguments joined by spaces, an
// argument holding a space or a tab wrapped in double quotes. An argument
// that holds a double quote cannot be told apart there.
std::string command_line();

}  // namespace kel::os
