// file!: a text series (under url!) naming a file or directory in the
// language's own form: "/" is the only separator, a leading one-letter
// segment names a drive (/c/dir/file.txt). Here: the conversion to the
// host's form, the molded form and the five file actions, which hand their
// work to the file services (runtime/simpleio.hpp). Everything else a file
// does is url!'s and string!'s.
#pragma once
#include <cstdint>
#include <string>

#include "runtime/cell.hpp"
#include "runtime/platform/host.hpp"

namespace kel::file {

// The host's path conventions. Windows: "\" separators, /c/x is c:\x,
// /srv/share is \\srv\share, //x is \x. POSIX: the language form itself,
// a leading "//" naming the root.
enum class Host { windows, posix };
constexpr Host host = os::windows ? Host::windows : Host::posix;

// The host form of path text; with full, a relative path is prefixed with
// the current directory (which must end in the host's separator).
std::u32string local_text(const std::u32string& path, bool full, const std::u32string& current, Host h = host);

// The process's current directory, ending in the host's separator.
std::u32string current_dir();

// The language form of a host path. POSIX paths are that form already.
// Windows: each run of "\" or "/" becomes one "/", and a drive colon makes
// the drive the first segment (C:\Users is /C/Users, C: is /C/); a colon
// after a separator or after the drive colon ends the text there, with no
// leading "/" (C:\a:b gives C/a).
std::u32string kel_text(const std::u32string& local, Host h = host);

// Appends the host form of the file's text from its index to out.
void to_local_string(const Cell* file, Cell* out, bool full);
// The host form of the file's text from its index as UTF-8, for the file
// services and every other path handed to the system. A NUL in it raises
// script invalid-arg with the value: the system would cut the name there.
std::string to_local_path(const Cell* file);

// Replaces every "\" of the file's text from its index by "/".
void slashes_to_kel(Cell* file);

// True when the text ends in "/" or "\" or its last segment is "." or "..".
bool directory_like(const std::u32string& path);

int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, const Cell* part, int32_t limit,
             int32_t indent);

void register_type();

}  // namespace kel::file
