// Whole-file access: every call opens and closes what it uses, so no handle
// outlives it. Paths are host paths in UTF-8 (the file! datatype makes them
// with file::to_local_path, which refuses a NUL: the system would end the
// name there); the Windows side converts them to UTF-16, the POSIX side
// passes the bytes on.
//
// A whole-file write goes by what the path names, after following symbolic
// links (the link stays, the file it names is written):
// - nothing, or a regular file with one name: the bytes go to a temporary
//   file in the same directory, flushed to disk and renamed over the old
//   one, which keeps its permission bits. A failed write leaves the old file
//   as it was and no temporary file behind.
// - a regular file with more than one name (hard links): truncated and
//   written where it is, so that every name still shows the one file.
// - anything else that is not a directory (a device, a pipe, a socket): opened and
//   written where it is; a rename would put a plain file in its place.
#pragma once
#include <cstdint>
#include <functional>
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

// Why a read gave nothing.
enum class Failure { cannot_open, too_long };

// The bytes of a file from `seek` (absent when negative) up to `part` bytes
// (absent when negative). A seek at or past the end gives no bytes. Nothing
// when the file cannot be opened or read, or when it holds more than `limit`
// bytes (a device without end, too); `why` tells which. Running out of
// memory throws std::bad_alloc, with nothing left open.
std::optional<std::string> read(const std::string& path, int64_t seek, int64_t part, uint64_t limit = UINT64_MAX,
                                Failure* why = nullptr);

// The entries of a directory but "." and "..", in the order the system
// gives them. Nothing when it cannot be listed.
std::optional<std::vector<Entry>> list(const std::string& path);

// The logical drives as letters ("C", "D"); empty where the host has none.
std::vector<std::string> drives();

// The bytes of a write, handed out in pieces so that a large text is
// encoded as it is written: each call answers the next piece (good until the
// next call); an empty piece ends them. A piece may throw (and so may the
// write, std::bad_alloc): the write then stops, closes what it opened and
// leaves the target as a failed write does.
using Pieces = std::function<std::string_view()>;

// Writes the bytes: appended to the end (the file made when missing), or
// over the file from `seek` (when 0 or more; the rest of the file stays),
// or replacing the file whole.
bool write(const std::string& path, const Pieces& pieces, int64_t seek, bool append);
bool write(const std::string& path, std::string_view bytes, int64_t seek, bool append);

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

// ---- what each platform provides under write (which is shared)

// What a write finds at a path, symbolic links followed.
struct Target {
    enum Kind {
        missing,    // nothing there: made by a replace
        replaced,   // a regular file with one name: replaced through a temporary file
        in_place,   // a device, pipe, socket or hard-linked file: written where it is
        refused,    // a directory, or a file this process may not write
    } kind;
    std::string path;  // where a replace writes: the file the links lead to
};
Target target_of(const std::string& path);

// Writes a new file at `path` through a temporary file and a rename.
bool replace_whole(const std::string& path, const Pieces& pieces);
// Opens the file where it is (made when missing) and writes from `seek`,
// or from the start after truncating it when seek is negative.
bool write_in_place(const std::string& path, const Pieces& pieces, int64_t seek);
bool append_bytes(const std::string& path, const Pieces& pieces);

// The name of a temporary file beside a target named `base` (UTF-8): a dot,
// as much of the base as fits (cut between characters), a dot, `tag` and
// "~", within 255 bytes (the longest name of a directory entry: 255 bytes
// on POSIX, 255 UTF-16 units on Windows), however long the base is.
std::string temporary_name(std::string_view base, std::string_view tag);

}  // namespace kel::files
