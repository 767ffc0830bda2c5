// Windows versions of the base runtime's OS services.
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
#include <wincrypt.h>

#include <cstdint>
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
#include "runtime/unicode.hpp"

// The flat GDI+ start-up entry points (gdiplus.dll).
extern "C" {
struct GdiplusStartupInputFlat {
    UINT32 version;
    void* debug_callback;
    BOOL suppress_background_thread;
    BOOL suppress_external_codecs;
};
int WINAPI GdiplusStartup(ULONG_PTR* token, const GdiplusStartupInputFlat* input, void* output);
void WINAPI GdiplusShutdown(ULONG_PTR token);
}

namespace kel {

namespace {
HANDLE std_in = nullptr, std_out = nullptr, std_err = nullptr;
ULONG_PTR gdiplus_token = 0;
HCRYPTPROV crypto_provider_handle = 0;

void acquire_crypto() {
    if (!crypto_provider_handle)
        CryptAcquireContextW(&crypto_provider_handle, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT | CRYPT_SILENT);
}

void write_handle(HANDLE h, const char* bytes, size_t n) {
    if (!h || h == INVALID_HANDLE_VALUE) return;
    while (n) {
        DWORD chunk = n > 0x10000000 ? 0x10000000 : DWORD(n), written = 0;
        if (!WriteFile(h, bytes, chunk, &written, nullptr) || written == 0) return;  // errors are ignored
        bytes += written;
        n -= written;
    }
}

std::wstring wide(const char* utf8) {
    std::u16string w = unicode::utf8_to_utf16(utf8);
    return std::wstring(w.begin(), w.end());
}
}  // namespace

namespace platform {
void init() {
    os::gdiplus_start();
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    acquire_crypto();
    stdio::init();
}
}  // namespace platform

namespace os {

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

void* virtual_alloc(size_t size, bool executable) {
    void* p = VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, executable ? PAGE_EXECUTE_READWRITE : PAGE_READWRITE);
    if (!p) throws::throw_code(throws::vm_alloc_failed);
    return p;
}

void virtual_free(void* address, size_t) {
    if (!VirtualFree(address, 0, MEM_RELEASE)) throws::throw_code(throws::vm_free_failed);
}

void gdiplus_start() {
    GdiplusStartupInputFlat input{1, nullptr, FALSE, FALSE};
    GdiplusStartup(&gdiplus_token, &input, nullptr);
}

void gdiplus_stop() { GdiplusShutdown(gdiplus_token); }

bool alloc_console() {
    if (!AllocConsole()) return false;
    read_std_handles();
    return true;
}

void free_console() { FreeConsole(); }

HCRYPTPROV crypto_provider() {
    acquire_crypto();
    return crypto_provider_handle;
}

bool secure_random(void* buffer, size_t n) {
    acquire_crypto();
    if (!crypto_provider_handle) return false;
    auto* p = static_cast<BYTE*>(buffer);
    while (n) {
        DWORD chunk = n > 0x10000000 ? 0x10000000 : DWORD(n);
        if (!CryptGenRandom(crypto_provider_handle, chunk, p)) return false;
        p += chunk;
        n -= chunk;
    }
    return true;
}

}  // namespace os

namespace sysrt {

std::optional<std::string> get_current_dir() {
    DWORD n = GetCurrentDirectoryW(0, nullptr);
    if (!n) return std::nullopt;
    std::vector<char16_t> buf(n);
    n = GetCurrentDirectoryW(DWORD(buf.size()), reinterpret_cast<LPWSTR>(buf.data()));
    if (!n || n >= buf.size()) return std::nullopt;
    return unicode::utf16_to_utf8(std::u16string_view(buf.data(), n));
}

bool set_current_dir(const std::string& path) { return SetCurrentDirectoryW(wide(path.c_str()).c_str()); }

void sleep_seconds(double seconds) { Sleep(sleep_milliseconds(seconds)); }

bool set_env(const char* name, const char* value) {
    return SetEnvironmentVariableW(wide(name).c_str(), value ? wide(value).c_str() : nullptr);
}

std::optional<std::string> get_env(const char* name) {
    std::wstring n = wide(name);
    std::vector<wchar_t> buf(256);
    for (;;) {
        SetLastError(0);
        DWORD k = GetEnvironmentVariableW(n.c_str(), buf.data(), DWORD(buf.size()));
        if (k == 0) {
            if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
            return std::string();
        }
        if (k < buf.size()) return unicode::utf16_to_utf8(std::u16string_view(reinterpret_cast<char16_t*>(buf.data()), k));
        buf.resize(k);
    }
}

std::vector<std::pair<std::string, std::string>> list_env() {
    std::vector<std::pair<std::string, std::string>> entries;
    LPWCH block = GetEnvironmentStringsW();
    if (!block) return entries;
    auto* p = reinterpret_cast<const char16_t*>(block);
    while (*p) {
        size_t n = 0;
        while (p[n]) ++n;
        std::u16string_view entry(p, n);
        size_t eq = entry.find(u'=', 1);  // a leading "=" belongs to the name (=C:=C:\)
        if (eq != std::u16string_view::npos)
            entries.emplace_back(unicode::utf16_to_utf8(entry.substr(0, eq)), unicode::utf16_to_utf8(entry.substr(eq + 1)));
        p += n + 1;
    }
    FreeEnvironmentStringsW(block);
    return entries;
}

double now_utc_filetime(bool precise) {
    FILETIME ft;
    SYSTEMTIME st;
    GetSystemTimeAsFileTime(&ft);
    FileTimeToSystemTime(&ft, &st);
    double seconds = st.wHour * 3600.0 + st.wMinute * 60.0 + st.wSecond;
    if (precise) {
        uint64_t ticks = (uint64_t(ft.dwHighDateTime) << 32 | ft.dwLowDateTime) % 10000;
        seconds += double(ticks * 100 + uint64_t(st.wMilliseconds) * 1000000) / 1e9;
    }
    return seconds;
}

uint32_t now_fields(bool utc) {
    SYSTEMTIME st;
    uint32_t zone = 0;
    if (utc) {
        GetSystemTime(&st);
    } else {
        GetLocalTime(&st);
        TIME_ZONE_INFORMATION tz;
        DWORD kind = GetTimeZoneInformation(&tz);
        LONG bias = tz.Bias + (kind == TIME_ZONE_ID_DAYLIGHT ? tz.DaylightBias : 0);
        zone = pack_zone(int(-bias));
    }
    return pack_date(st.wYear, st.wMonth, st.wDay, zone);
}

}  // namespace sysrt

namespace gui {
void show_message(const char* title, const char* text) {
    MessageBoxW(nullptr, wide(text).c_str(), wide(title).c_str(), MB_TASKMODAL | MB_ICONHAND);
}
}  // namespace gui

namespace os {


void browse(const char* target) {
    ShellExecuteW(nullptr, L"open", wide(target).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}
}  // namespace os

}  // namespace kel
