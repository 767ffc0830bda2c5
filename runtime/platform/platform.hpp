// Operating-system services of the base runtime. Each has a Windows version
// (platform/win32) and a POSIX twin (platform/posix). Text crosses this
// boundary as UTF-8; the Windows side converts to and from UTF-16.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kel {

namespace platform {
// GDI+ and COM for this thread, the console buffers (Windows); the output layer.
void init();
}  // namespace platform

namespace os {
void read_std_handles();
void write_stdout(const char* bytes, size_t n);
void write_stderr(const char* bytes, size_t n);
bool stdout_is_console();

// Virtual memory in whole pages. A failed allocation throws
// throws::vm_alloc_failed, a failed release throws::vm_free_failed.
void* virtual_alloc(size_t size, bool executable);
void virtual_free(void* address, size_t size);

void gdiplus_start();
void gdiplus_stop();
bool alloc_console();
void free_console();

// Fills the buffer with cryptographically secure random bytes; false on failure.
bool secure_random(void* buffer, size_t n);

// Base address of the program image, for reporting fault addresses as offsets.
uintptr_t image_base();

// The lowest address the calling thread's stack may grow to (0 when unknown).
uintptr_t stack_low();

// Opens the file or URL with the desktop's handler; failures are ignored.
void browse(const char* target);
}  // namespace os

namespace sysrt {
std::optional<std::string> get_current_dir();
bool set_current_dir(const std::string& path);
void sleep_seconds(double seconds);
// A null value removes the variable.
bool set_env(const char* name, const char* value);
std::optional<std::string> get_env(const char* name);
// The process environment in its own order, as (name, value) pairs. The
// first "=" that is not an entry's first character ends its name.
std::vector<std::pair<std::string, std::string>> list_env();
// Seconds since midnight UTC; with precise, to 100 ns.
double now_utc_filetime(bool precise);
// Today as year << 17 | month << 12 | day << 7 | zone, local or UTC.
uint32_t now_fields(bool utc);

// Portable pieces of the above (sysrt.cpp).
uint32_t sleep_milliseconds(double seconds);
uint32_t pack_zone(int offset_minutes);
uint32_t pack_date(int year, int month, int day, uint32_t zone);
double normalize_angle(double degrees, int mode);
bool cstr_equal(const char* a, const char* b);
}  // namespace sysrt

namespace gui {
// A task-modal message box with the stop icon, no owner window.
void show_message(const char* title, const char* text);
}  // namespace gui

namespace build {
const char* date();  // "DD-Mon-YYYY/HH:MM:SS"
}  // namespace build

}  // namespace kel
