// The standard handles on Windows: read from the process at start and again
// when a console is made; writes go through WriteFile in chunks.
#include "runtime/platform/std_handles.hpp"

#include <windows.h>

namespace kel::os {
namespace {
HANDLE std_in = nullptr, std_out = nullptr, std_err = nullptr;

void write_handle(HANDLE h, const char* bytes, size_t n) {
    if (!h || h == INVALID_HANDLE_VALUE) return;
    while (n) {
        DWORD chunk = n > 0x10000000 ? 0x10000000 : DWORD(n), written = 0;
        if (!WriteFile(h, bytes, chunk, &written, nullptr) || written == 0) return;  // errors are ignored
        bytes += written;
        n -= written;
    }
}

}  // namespace

void read_std_handles() {
    std_in = GetStdHandle(STD_INPUT_HANDLE);
    std_out = GetStdHandle(STD_OUTPUT_HANDLE);
    std_err = GetStdHandle(STD_ERROR_HANDLE);
}

void write_stdout(const char* bytes, size_t n) { write_handle(std_out, bytes, n); }
void write_stderr(const char* bytes, size_t n) { write_handle(std_err, bytes, n); }

bool stdout_is_console() {
    DWORD mode = 0;
    return std_out && GetConsoleMode(std_out, &mode);
}

bool alloc_console() {
    if (!AllocConsole()) return false;
    read_std_handles();
    return true;
}

void free_console() { FreeConsole(); }

}  // namespace kel::os
