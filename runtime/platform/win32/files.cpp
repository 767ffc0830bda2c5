// Windows whole-file services (platform/files.hpp): wide-character calls,
// files opened with read and write sharing.
#include "runtime/platform/files.hpp"

#include <windows.h>

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

bool write_all(HANDLE h, const char* p, size_t n) {
    while (n) {
        DWORD chunk = n > 0x10000000 ? 0x10000000 : DWORD(n), written = 0;
        if (!WriteFile(h, p, chunk, &written, nullptr) || written == 0) return false;
        p += written;
        n -= written;
    }
    return true;
}

// Writes the content to a new file beside `path` and moves it over it.
bool replace_whole(const std::wstring& path, std::string_view bytes) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    bool existed = attributes != INVALID_FILE_ATTRIBUTES;
    if (existed && (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY))) return false;
    size_t slash = path.find_last_of(L"\\/");
    std::wstring dir = slash == std::wstring::npos ? L"." : path.substr(0, slash + 1);
    std::wstring base = slash == std::wstring::npos ? path : path.substr(slash + 1);
    std::wstring temp;
    HANDLE h = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 16 && h == INVALID_HANDLE_VALUE; ++attempt) {
        uint32_t r = 0;
        if (!os::secure_random(&r, sizeof r)) r = GetTickCount() + uint32_t(attempt);
        wchar_t suffix[16];
        wsprintfW(suffix, L".%08x~", r);
        temp = (slash == std::wstring::npos ? L"" : dir) + L"." + base + suffix;
        h = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) return false;
    }
    if (h == INVALID_HANDLE_VALUE) return false;
    bool ok = write_all(h, bytes.data(), bytes.size());
    if (!CloseHandle(h)) ok = false;
    if (ok) ok = MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
    if (!ok) DeleteFileW(temp.c_str());
    return ok;
}

}  // namespace

std::optional<std::string> read(const std::string& path, int64_t seek, int64_t part) {
    HANDLE h = open_file(wide(path), GENERIC_READ, OPEN_EXISTING);
    if (h == INVALID_HANDLE_VALUE) return std::nullopt;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(h, &size)) size.QuadPart = 0;
    std::optional<std::string> out;
    bool placed = true;
    if (seek >= 0) {
        LARGE_INTEGER at;
        at.QuadPart = seek;
        placed = SetFilePointerEx(h, at, nullptr, FILE_BEGIN) != 0;
        size.QuadPart = seek < size.QuadPart ? size.QuadPart - seek : 0;
    }
    if (placed) {
        // The size is a hint: reading goes on to the end of the file, so
        // files that report 0 and files that change under us read right.
        std::string bytes;
        size_t hint = size_t(part >= 0 && part < size.QuadPart ? part : size.QuadPart);
        bytes.reserve(hint);
        char buf[65536];
        bool ok = true;
        while (part < 0 || int64_t(bytes.size()) < part) {
            DWORD want = sizeof buf, got = 0;
            if (part >= 0 && int64_t(want) > part - int64_t(bytes.size())) want = DWORD(part - int64_t(bytes.size()));
            if (!ReadFile(h, buf, want, &got, nullptr)) {
                ok = false;
                break;
            }
            if (got == 0) break;
            bytes.append(buf, got);
        }
        if (ok) out = std::move(bytes);
    }
    CloseHandle(h);
    return out;
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

bool append_bytes(const std::string& path, std::string_view bytes) {
    HANDLE h = open_file(wide(path), FILE_APPEND_DATA, OPEN_ALWAYS);
    if (h == INVALID_HANDLE_VALUE) return false;
    bool ok = write_all(h, bytes.data(), bytes.size());
    if (!CloseHandle(h)) ok = false;
    return ok;
}

bool replace_bytes(const std::string& path, std::string_view bytes) { return replace_whole(wide(path), bytes); }

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
