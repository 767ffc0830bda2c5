// POSIX twins of the base runtime's OS services.
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <sys/random.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "runtime/output.hpp"
#include "runtime/platform/clock.hpp"
#include "runtime/platform/crypto.hpp"
#include "runtime/platform/env.hpp"
#include "runtime/platform/gui.hpp"
#include "runtime/platform/memory.hpp"
#include "runtime/platform/start.hpp"
#include "runtime/platform/std_handles.hpp"
#include "runtime/throws.hpp"

namespace kel {

namespace {
void write_all(int fd, const char* bytes, size_t n) {
    while (n) {
        ssize_t k = ::write(fd, bytes, n);
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) return;  // write errors are ignored
        bytes += k;
        n -= size_t(k);
    }
}
}  // namespace

namespace platform {
void init() { stdio::init(); }
}  // namespace platform

namespace os {

void read_std_handles() {}
void write_stdout(const char* bytes, size_t n) { write_all(1, bytes, n); }
void write_stderr(const char* bytes, size_t n) { write_all(2, bytes, n); }
bool stdout_is_console() { return false; }

void* virtual_alloc(size_t size, bool executable) {
    int protection = PROT_READ | PROT_WRITE | (executable ? PROT_EXEC : 0);
    void* p = mmap(nullptr, size, protection, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throws::throw_code(throws::vm_alloc_failed);
    return p;
}

void virtual_free(void* address, size_t size) {
    if (munmap(address, size) != 0) throws::throw_code(throws::vm_free_failed);
}

void gdiplus_start() {}
void gdiplus_stop() {}
bool alloc_console() { return false; }
void free_console() {}

bool secure_random(void* buffer, size_t n) {
    auto* p = static_cast<char*>(buffer);
    while (n) {
        ssize_t k = getrandom(p, n, 0);
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) return false;
        p += k;
        n -= size_t(k);
    }
    return true;
}

}  // namespace os

namespace sysrt {

std::optional<std::string> get_current_dir() {
    std::vector<char> buf(256);
    while (!getcwd(buf.data(), buf.size())) {
        if (errno != ERANGE) return std::nullopt;
        buf.resize(buf.size() * 2);
    }
    return std::string(buf.data());
}

bool set_current_dir(const std::string& path) { return chdir(path.c_str()) == 0; }

void sleep_seconds(double seconds) {
    uint32_t ms = sleep_milliseconds(seconds);
    timespec ts{time_t(ms / 1000), long(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {}
}

bool set_env(const char* name, const char* value) {
    return (value ? setenv(name, value, 1) : unsetenv(name)) == 0;
}

std::optional<std::string> get_env(const char* name) {
    const char* v = getenv(name);
    if (!v) return std::nullopt;
    return std::string(v);
}

double now_utc_filetime(bool precise) {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    double seconds = double(ts.tv_sec % 86400);
    // 100-ns resolution, as the Windows file time has.
    if (precise) seconds += double(ts.tv_nsec / 100 * 100) / 1e9;
    return seconds;
}

uint32_t now_fields(bool utc) {
    time_t now = time(nullptr);
    tm t{};
    if (utc) gmtime_r(&now, &t);
    else localtime_r(&now, &t);
    uint32_t zone = utc ? 0 : pack_zone(int(t.tm_gmtoff / 60));
    return pack_date(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, zone);
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

}  // namespace sysrt

namespace gui {
void show_message(const char* title, const char* text) {
    os::write_stderr(text, std::strlen(text));
    os::write_stderr("\n", 1);
}
}  // namespace gui

namespace os {


// xdg-open in a grandchild, so that no child is left to reap.
void browse(const char* target) {
    pid_t child = fork();
    if (child < 0) return;
    if (child == 0) {
        if (fork() == 0) {
            int null = ::open("/dev/null", O_RDWR);
            if (null >= 0) dup2(null, 0), dup2(null, 1), dup2(null, 2);
            execlp("xdg-open", "xdg-open", target, static_cast<char*>(nullptr));
        }
        _exit(0);
    }
    while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {}
}
}  // namespace os

}  // namespace kel
