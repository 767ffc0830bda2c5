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
#include <algorithm>
#include <utility>

#include "runtime/platform/crypto.hpp"

namespace kel::files {
namespace {

int open_retry(const char* path, int flags, mode_t mode = 0) {
    int fd;
    do fd = ::open(path, flags | O_CLOEXEC, mode);
    while (fd < 0 && errno == EINTR);
    return fd;
}

// A descriptor closed on every way out, a throw included.
struct Fd {
    int fd;
    explicit Fd(int f) : fd(f) {}
    Fd(const Fd&) = delete;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
    bool close() {
        int f = fd;
        fd = -1;
        return ::close(f) == 0;
    }
};

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

bool write_pieces(int fd, const Pieces& pieces) {
    for (std::string_view piece = pieces(); !piece.empty(); piece = pieces())
        if (!write_all(fd, piece.data(), piece.size())) return false;
    return true;
}

enum class Outcome { done, failed, too_long };

// Reads to the end of the file or `part` bytes (negative: no part), holding
// at most `limit` bytes. The buffer grows by doubling, never past the limit.
Outcome read_all(int fd, std::string& out, int64_t part, uint64_t hint, uint64_t limit) {
    out.reserve(size_t(hint));
    char buf[65536];
    while (part < 0 || int64_t(out.size()) < part) {
        size_t want = sizeof buf;
        if (part >= 0 && int64_t(want) > part - int64_t(out.size())) want = size_t(part - int64_t(out.size()));
        ssize_t k = ::read(fd, buf, want);
        if (k < 0 && errno == EINTR) continue;
        if (k < 0) return Outcome::failed;
        if (k == 0) break;
        if (out.size() + size_t(k) > limit) return Outcome::too_long;
        if (out.size() + size_t(k) > out.capacity())
            out.reserve(size_t(std::min<uint64_t>(std::max<uint64_t>(out.capacity() * 2, out.size() + k), limit)));
        out.append(buf, size_t(k));
    }
    return Outcome::done;
}

// The directory part of a path (with its "/"), and the name after it.
std::pair<std::string, std::string> split(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return {"", path};
    return {path.substr(0, slash + 1), path.substr(slash + 1)};
}

// A file removed on the way out unless kept.
struct Temporary {
    std::string path;
    bool kept = false;
    ~Temporary() {
        if (!kept && !path.empty()) unlink(path.c_str());
    }
};

}  // namespace

Target target_of(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        // A link that leads nowhere is written through: open makes the file it names.
        if (errno == ENOENT && lstat(path.c_str(), &st) == 0) return {Target::in_place, path};
        return {Target::missing, path};
    }
    if (S_ISDIR(st.st_mode)) return {Target::refused, path};
    if (!S_ISREG(st.st_mode) || st.st_nlink > 1) return {Target::in_place, path};
    if (access(path.c_str(), W_OK) != 0) return {Target::refused, path};
    std::string target = path;
    if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        // The link stays; the file it names is replaced.
        char* real = realpath(path.c_str(), nullptr);
        if (!real) return {Target::refused, path};
        target = real;
        std::free(real);
    }
    return {Target::replaced, target};
}

bool replace_whole(const std::string& path, const Pieces& pieces) {
    struct stat old {};
    bool existed = stat(path.c_str(), &old) == 0;
    auto [dir, base] = split(path);
    Temporary temp;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        uint32_t r = 0;
        if (!os::secure_random(&r, sizeof r)) r = uint32_t(std::time(nullptr)) + uint32_t(attempt);
        char tag[9];
        std::snprintf(tag, sizeof tag, "%08x", r);
        std::string name = dir + temporary_name(base, tag);
        // Private until its permission bits are the old file's.
        fd = open_retry(name.c_str(), O_WRONLY | O_CREAT | O_EXCL, existed ? 0600 : 0666);
        if (fd >= 0) temp.path = name;
        else if (errno != EEXIST) return false;
    }
    if (fd < 0) return false;
    Fd file(fd);
    if (!write_pieces(fd, pieces)) return false;
    if (existed) {
        // The owner first (a change of owner clears the set-id bits). Only
        // the superuser may give a file away: a file it replaces stays its owner's.
        if (geteuid() == 0 && fchown(fd, old.st_uid, old.st_gid) != 0) return false;
        if (fchmod(fd, old.st_mode & 07777) != 0) return false;
    }
    // On disk before the rename: else a crash could leave an empty file in
    // the old one's place.
    if (fsync(fd) != 0 || !file.close()) return false;
    if (::rename(temp.path.c_str(), path.c_str()) != 0) return false;
    temp.kept = true;
    return true;
}

bool write_in_place(const std::string& path, const Pieces& pieces, int64_t seek) {
    Fd fd(open_retry(path.c_str(), O_WRONLY | O_CREAT | (seek < 0 ? O_TRUNC : 0), 0666));
    if (fd.fd < 0) return false;
    if (seek >= 0 && lseek(fd.fd, off_t(seek), SEEK_SET) < 0) return false;
    return write_pieces(fd.fd, pieces) && fd.close();
}

bool append_bytes(const std::string& path, const Pieces& pieces) {
    Fd fd(open_retry(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0666));
    if (fd.fd < 0) return false;
    return write_pieces(fd.fd, pieces) && fd.close();
}

std::optional<std::string> read(const std::string& path, int64_t seek, int64_t part, uint64_t limit, Failure* why) {
    Failure failure = Failure::cannot_open;
    Fd fd(open_retry(path.c_str(), O_RDONLY));
    struct stat st {};
    if (fd.fd >= 0 && fstat(fd.fd, &st) == 0 && !S_ISDIR(st.st_mode)) {
        uint64_t hint = uint64_t(st.st_size > 0 ? st.st_size : 0);
        bool placed = true;
        if (seek >= 0) {
            placed = lseek(fd.fd, off_t(seek), SEEK_SET) >= 0;
            hint = uint64_t(seek) < hint ? hint - uint64_t(seek) : 0;
        }
        if (part >= 0 && uint64_t(part) < hint) hint = uint64_t(part);
        std::string bytes;
        Outcome outcome = !placed ? Outcome::failed : hint > limit ? Outcome::too_long
                                                                    : read_all(fd.fd, bytes, part, hint, limit);
        if (outcome == Outcome::done) return bytes;
        if (outcome == Outcome::too_long) failure = Failure::too_long;
    }
    if (why) *why = failure;
    return std::nullopt;
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
