// Whole-file access: every call opens and closes what it uses, so no handle
// outlives it. Paths are host paths in UTF-8 (the file! datatype makes them
// with file::to_local_string); the Windows side converts them to UTF-16, the
// POSIX side passes the bytes on.
//
// A write that replaces a file writes a temporary file in the same directory
// and renames it over the old one: a failed write leaves the old file as it
// was, never a truncated one.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kel::files {

struct Entry {
    std::string name;  // UTF-8, without any directory part
    bool directory;
};

// A last-write time in UTC, to the millisecond.
struct Stamp {
    int year, month, day, hour, minute, second, millisecond;
};

// The bytes of a file from `seek` (absent when negative) up to `part` bytes
// (absent when negative). A seek at or past the end gives no bytes. Nothing
// when the file cannot be opened or read.
std::optional<std::string> read(const std::string& path, int64_t seek, int64_t part);

// The entries of a directory but "." and "..", in the order the system
// gives them. Nothing when it cannot be listed.
std::optional<std::vector<Entry>> list(const std::string& path);

// The logical drives as letters ("C", "D"); empty where the host has none.
std::vector<std::string> drives();

// Writes the bytes: appended to the end, or over the file from `seek` (when
// 0 or more; the rest of the file stays), or replacing the file whole.
bool write(const std::string& path, std::string_view bytes, int64_t seek, bool append);

// What each platform provides under write (which is shared): the bytes
// appended, the file made when missing; the file replaced whole.
bool append_bytes(const std::string& path, std::string_view bytes);
bool replace_bytes(const std::string& path, std::string_view bytes);

// The last-write time; nothing when the path names nothing, or when
// `want_directory` is set and it is not a directory.
std::optional<Stamp> modified(const std::string& path, bool want_directory);

// The size of a file that can be opened for reading; nothing for a
// directory or a file that cannot be opened.
std::optional<int64_t> size(const std::string& path);

// Deletes a file, or an empty directory when `directory` is set.
bool remove(const std::string& path, bool directory);

// Renames; fails when the target exists.
bool rename(const std::string& from, const std::string& to);

bool make_dir(const std::string& path);
bool exists(const std::string& path);
bool is_directory(const std::string& path);

}  // namespace kel::files
