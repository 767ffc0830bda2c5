// POSIX twin of the whole-file services (platform/files.hpp).
#include "runtime/platform/files.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "runtime/platform/crypto.hpp"

namespace kel::files {
namespace {

int open_retry(const char* path, int flags, mode_t mode = 0) {
    int fd;
    do fd = ::open(path, flags | O_CLOEXEC, mode);
    while (fd < 0 && errno == EINTR);
    return fd;
}

bool write_all(int fd, const char* p, size_t n) {
    while (n) {
        ssize_t k = ::write(fd, p, n);
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) return false;
        p += k;
        n -= size_t(k);
    }
    return true;
}

// Reads to the end of the file or `limit` bytes (negative: no limit).
bool read_all(int fd, std::string& out, int64_t limit, size_t hint) {
    if (limit >= 0 && size_t(limit) < hint) hint = size_t(limit);
    out.reserve(hint);
    char buf[65536];
    while (limit < 0 || int64_t(out.size()) < limit) {
        size_t want = sizeof buf;
        if (limit >= 0 && int64_t(want) > limit - int64_t(out.size())) want = size_t(limit - int64_t(out.size()));
        ssize_t k = ::read(fd, buf, want);
        if (k < 0 && errno == EINTR) continue;
        if (k < 0) return false;
        if (k == 0) break;
        out.append(buf, size_t(k));
    }
    return true;
}

std::string directory_of(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// Writes the content to a new file beside `path` and renames it over it.
bool replace_whole(const std::string& path, std::string_view bytes) {
    std::string target = path;
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        // The link stays; the file it names is replaced.
        if (char* real = realpath(path.c_str(), nullptr)) {
            target = real;
            std::free(real);
        }
    }
    bool existed = stat(target.c_str(), &st) == 0;
    if (existed && (S_ISDIR(st.st_mode) || access(target.c_str(), W_OK) != 0)) return false;
    std::string dir = directory_of(target);
    size_t slash = target.find_last_of('/');
    std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        uint32_t r = 0;
        if (!os::secure_random(&r, sizeof r)) r = uint32_t(std::time(nullptr)) + uint32_t(attempt);
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, ".%08x~", r);
        temp = (dir == "/" ? std::string("/") : dir + "/") + "." + base + suffix;
        fd = open_retry(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
        if (fd < 0 && errno != EEXIST) return false;
    }
    if (fd < 0) return false;
    bool ok = write_all(fd, bytes.data(), bytes.size());
    if (ok && existed) ok = fchmod(fd, st.st_mode & 07777) == 0;
    if (::close(fd) != 0) ok = false;
    if (ok) ok = ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) unlink(temp.c_str());
    return ok;
}

}  // namespace

std::optional<std::string> read(const std::string& path, int64_t seek, int64_t part) {
    int fd = open_retry(path.c_str(), O_RDONLY);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    std::optional<std::string> out;
    if (fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode)) {
        size_t hint = size_t(st.st_size > 0 ? st.st_size : 0);
        bool placed = true;
        if (seek >= 0) {
            placed = lseek(fd, off_t(seek), SEEK_SET) >= 0;
            hint = seek < int64_t(hint) ? hint - size_t(seek) : 0;
        }
        std::string bytes;
        if (placed && read_all(fd, bytes, part, hint)) out = std::move(bytes);
    }
    ::close(fd);
    return out;
}

std::optional<std::vector<Entry>> list(const std::string& path) {
    DIR* d = opendir(path.empty() ? "." : path.c_str());
    if (!d) return std::nullopt;
    std::vector<Entry> entries;
    std::string prefix = path.empty() || path.back() == '/' ? path : path + "/";
    while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        bool dir = e->d_type == DT_DIR;
        if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) dir = is_directory(prefix + name);
        entries.push_back({std::move(name), dir});
    }
    closedir(d);
    return entries;
}

std::vector<std::string> drives() { return {}; }

bool append_bytes(const std::string& path, std::string_view bytes) {
    int fd = open_retry(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0666);
    if (fd < 0) return false;
    bool ok = write_all(fd, bytes.data(), bytes.size());
    if (::close(fd) != 0) ok = false;
    return ok;
}

bool replace_bytes(const std::string& path, std::string_view bytes) { return replace_whole(path, bytes); }

std::optional<Stamp> modified(const std::string& path, bool want_directory) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return std::nullopt;
    if (want_directory && !S_ISDIR(st.st_mode)) return std::nullopt;
    tm t{};
    time_t seconds = st.st_mtim.tv_sec;
    if (!gmtime_r(&seconds, &t)) return std::nullopt;
    return Stamp{t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec,
                 int(st.st_mtim.tv_nsec / 1000000)};
}

std::optional<int64_t> size(const std::string& path) {
    int fd = open_retry(path.c_str(), O_RDONLY);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    std::optional<int64_t> n;
    if (fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode)) n = int64_t(st.st_size);
    ::close(fd);
    return n;
}

bool remove(const std::string& path, bool directory) {
    return (directory ? rmdir(path.c_str()) : unlink(path.c_str())) == 0;
}

bool rename(const std::string& from, const std::string& to) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // A file system without the flag: check, then rename.
    struct stat st {};
    if (lstat(to.c_str(), &st) == 0) return false;
    return ::rename(from.c_str(), to.c_str()) == 0;
}

bool make_dir(const std::string& path) { return mkdir(path.c_str(), 0777) == 0; }

bool exists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

bool is_directory(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace kel::files
