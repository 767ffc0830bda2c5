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
