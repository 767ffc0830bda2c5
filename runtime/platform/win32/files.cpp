// Windows whole-file services (platform/files.hpp): wide-character calls,
// files opened with read and write sharing.
#include "runtime/platform/files.hpp"

#include <windows.h>

#include <algorithm>
#include <string>

#include "runtime/platform/crypto.hpp"
#include "runtime/platform/win32/shared.hpp"
#include "runtime/unicode.hpp"

namespace kel::files {
namespace {

using win32::wide;

std::string narrow(const wchar_t* w) {
    return unicode::utf16_to_utf8(std::u16string_view(reinterpret_cast<const char16_t*>(w)));
}

HANDLE open_file(const std::wstring& path, DWORD access, DWORD disposition) {
    return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

// A handle closed on every way out, a throw included.
struct Handle {
    HANDLE h;
    explicit Handle(HANDLE handle) : h(handle) {}
    Handle(const Handle&) = delete;
    ~Handle() {
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
    bool open() const { return h != INVALID_HANDLE_VALUE; }
    bool close() {
        HANDLE was = h;
        h = INVALID_HANDLE_VALUE;
        return CloseHandle(was) != 0;
    }
};

bool write_all(HANDLE h, const char* p, size_t n) {
    while (n) {
        DWORD chunk = n > 0x10000000 ? 0x10000000 : DWORD(n), written = 0;
        if (!WriteFile(h, p, chunk, &written, nullptr) || written == 0) return false;
        p += written;
        n -= written;
    }
    return true;
}

bool write_pieces(HANDLE h, const Pieces& pieces) {
    for (std::string_view piece = pieces(); !piece.empty(); piece = pieces())
        if (!write_all(h, piece.data(), piece.size())) return false;
    return true;
}

// A file deleted on the way out unless kept.
struct Temporary {
    std::wstring path;
    bool kept = false;
    ~Temporary() {
        if (!kept && !path.empty()) DeleteFileW(path.c_str());
    }
};

// The attributes a replacement carries over from the file it replaces.
constexpr DWORD kept_attributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

}  // namespace

Target target_of(const std::string& path) {
    std::wstring w = wide(path);
    // Opened for its attributes only, which touches no content, a device's neither.
    Handle h(CreateFileW(w.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!h.open()) {
        DWORD e = GetLastError();
        if (e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND) return {Target::missing, path};
        // Something that will not open for its attributes: the write itself tries.
        return {Target::in_place, path};
    }
    if (GetFileType(h.h) != FILE_TYPE_DISK) return {Target::in_place, path};
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h.h, &info)) return {Target::in_place, path};
    if (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) return {Target::refused, path};
    if (info.nNumberOfLinks > 1) return {Target::in_place, path};
    // Replaced under its final name: through a link, the file the link
    // leads to is replaced and the link stays. (Asked of every file: Wine
    // shows a POSIX symbolic link as a plain file.)
    const DWORD form = FILE_NAME_NORMALIZED | VOLUME_NAME_DOS;
    std::wstring final_path(MAX_PATH + 1, L'\0');
    DWORD n = GetFinalPathNameByHandleW(h.h, final_path.data(), DWORD(final_path.size()), form);
    if (n >= final_path.size()) {  // too short: n is the size it needs
        final_path.resize(n);
        n = GetFinalPathNameByHandleW(h.h, final_path.data(), n, form);
    }
    if (n == 0 || n >= final_path.size()) return {Target::replaced, path};
    final_path.resize(n);
    return {Target::replaced, narrow(final_path.c_str())};
}

bool replace_whole(const std::string& path, const Pieces& pieces) {
    std::wstring target = wide(path);
    DWORD old = GetFileAttributesW(target.c_str());
    bool existed = old != INVALID_FILE_ATTRIBUTES;
    size_t slash = path.find_last_of("\\/");
    std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    Temporary temp;
    HANDLE made = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 16 && made == INVALID_HANDLE_VALUE; ++attempt) {
        uint32_t r = 0;
        if (!os::secure_random(&r, sizeof r)) r = GetTickCount() + uint32_t(attempt);
        char tag[9];
        wsprintfA(tag, "%08x", r);
        std::wstring name = wide(dir + temporary_name(base, tag));
        DWORD attributes = existed && (old & kept_attributes) ? old & kept_attributes : FILE_ATTRIBUTE_NORMAL;
        made = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, attributes, nullptr);
        if (made != INVALID_HANDLE_VALUE) temp.path = name;
        else if (GetLastError() != ERROR_FILE_EXISTS) return false;
    }
    if (made == INVALID_HANDLE_VALUE) return false;
    Handle file(made);
    // On disk before the move: else a crash could leave an empty file in
    // the old one's place.
    if (!write_pieces(file.h, pieces) || !FlushFileBuffers(file.h) || !file.close()) return false;
    // ReplaceFileW keeps the old file's security and attributes; when it
    // fails (without a backup name) both files stay as they were.
    bool moved = existed && ReplaceFileW(target.c_str(), temp.path.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                                         nullptr, nullptr);
    if (!moved)
        moved = MoveFileExW(temp.path.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    temp.kept = moved;
    return moved;
}

bool write_in_place(const std::string& path, const Pieces& pieces, int64_t seek) {
    Handle h(open_file(wide(path), GENERIC_WRITE, OPEN_ALWAYS));
    if (!h.open()) return false;
    if (seek >= 0) {
        LARGE_INTEGER at;
        at.QuadPart = seek;
        if (!SetFilePointerEx(h.h, at, nullptr, FILE_BEGIN)) return false;
    } else if (GetFileType(h.h) == FILE_TYPE_DISK && !SetEndOfFile(h.h)) {
        return false;
    }
    return write_pieces(h.h, pieces) && h.close();
}

bool append_bytes(const std::string& path, const Pieces& pieces) {
    Handle h(open_file(wide(path), FILE_APPEND_DATA, OPEN_ALWAYS));
    if (!h.open()) return false;
    return write_pieces(h.h, pieces) && h.close();
}

std::optional<std::string> read(const std::string& path, int64_t seek, int64_t part, uint64_t limit, Failure* why) {
    auto fail = [why](Failure f) -> std::optional<std::string> {
        if (why) *why = f;
        return std::nullopt;
    };
    Handle h(open_file(wide(path), GENERIC_READ, OPEN_EXISTING));
    if (!h.open()) return fail(Failure::cannot_open);
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(h.h, &size)) size.QuadPart = 0;
    if (seek >= 0) {
        LARGE_INTEGER at;
        at.QuadPart = seek;
        if (!SetFilePointerEx(h.h, at, nullptr, FILE_BEGIN)) return fail(Failure::cannot_open);
        size.QuadPart = seek < size.QuadPart ? size.QuadPart - seek : 0;
    }
    // The size is a hint: reading goes on to the end of the file, so files
    // that report 0 and files that change under us read right.
    uint64_t hint = uint64_t(part >= 0 && part < size.QuadPart ? part : size.QuadPart);
    if (hint > limit) return fail(Failure::too_long);
    std::string bytes;
    bytes.reserve(size_t(hint));
    char buf[65536];
    while (part < 0 || int64_t(bytes.size()) < part) {
        DWORD want = sizeof buf, got = 0;
        if (part >= 0 && int64_t(want) > part - int64_t(bytes.size())) want = DWORD(part - int64_t(bytes.size()));
        if (!ReadFile(h.h, buf, want, &got, nullptr)) return fail(Failure::cannot_open);
        if (got == 0) break;
        if (bytes.size() + got > limit) return fail(Failure::too_long);
        // Doubling, never past the limit.
        if (bytes.size() + got > bytes.capacity())
            bytes.reserve(size_t(std::min<uint64_t>(std::max<uint64_t>(bytes.capacity() * 2, bytes.size() + got), limit)));
        bytes.append(buf, got);
    }
    return bytes;
}

std::optional<std::vector<Entry>> list(const std::string& path) {
    std::wstring pattern = wide(path);
    if (!pattern.empty() && pattern.back() != L'\\' && pattern.back() != L'/') pattern += L'\\';
    pattern += L'*';
    WIN32_FIND_DATAW found;
    HANDLE h = FindFirstFileW(pattern.c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) return std::nullopt;
    std::vector<Entry> entries;
    do {
        std::string name = narrow(found.cFileName);
        if (name == "." || name == "..") continue;
        entries.push_back({std::move(name), (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
    } while (FindNextFileW(h, &found));
    FindClose(h);
    return entries;
}

std::vector<std::string> drives() {
    std::vector<std::string> letters;
    DWORD n = GetLogicalDriveStringsW(0, nullptr);
    if (n == 0) return letters;
    std::wstring buf(n, L'\0');
    n = GetLogicalDriveStringsW(n, buf.data());
    // NUL-separated strings "C:\"; the letter of each.
    for (size_t i = 0; i < n && i < buf.size();) {
        size_t end = buf.find(L'\0', i);
        if (end == std::wstring::npos || end == i) break;
        letters.push_back(narrow(buf.substr(i, 1).c_str()));
        i = end + 1;
    }
    return letters;
}

std::optional<Stamp> modified(const std::string& path, bool want_directory) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(wide(path).c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
    if (want_directory && !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return std::nullopt;
    SYSTEMTIME t;
    if (!FileTimeToSystemTime(&data.ftLastWriteTime, &t)) return std::nullopt;
    return Stamp{t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}

std::optional<int64_t> size(const std::string& path) {
    std::wstring w = wide(path);
    DWORD attributes = GetFileAttributesW(w.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return std::nullopt;
    HANDLE h = open_file(w, GENERIC_READ, OPEN_EXISTING);
    if (h == INVALID_HANDLE_VALUE) return std::nullopt;
    LARGE_INTEGER n{};
    std::optional<int64_t> result;
    if (GetFileSizeEx(h, &n)) result = int64_t(n.QuadPart);
    CloseHandle(h);
    return result;
}

bool remove(const std::string& path, bool directory) {
    std::wstring w = wide(path);
    return (directory ? RemoveDirectoryW(w.c_str()) : DeleteFileW(w.c_str())) != 0;
}

bool rename(const std::string& from, const std::string& to) {
    return MoveFileW(wide(from).c_str(), wide(to).c_str()) != 0;
}

bool make_dir(const std::string& path) { return CreateDirectoryW(wide(path).c_str(), nullptr) != 0; }

bool exists(const std::string& path) { return GetFileAttributesW(wide(path).c_str()) != INVALID_FILE_ATTRIBUTES; }

bool is_directory(const std::string& path) {
    DWORD attributes = GetFileAttributesW(wide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace kel::files
