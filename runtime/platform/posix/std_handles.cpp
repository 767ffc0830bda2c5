// The standard handles on POSIX: file descriptors 0-2, no console to make.
#include "runtime/platform/std_handles.hpp"

#include <unistd.h>

#include <cerrno>

namespace kel::os {
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

void read_std_handles() {}
void write_stdout(const char* bytes, size_t n) { write_all(1, bytes, n); }
void write_stderr(const char* bytes, size_t n) { write_all(2, bytes, n); }
bool stdout_is_console() { return false; }
bool alloc_console() { return false; }
void free_console() {}

}  // namespace kel::os
