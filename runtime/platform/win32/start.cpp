// Platform start on Windows: the runtime's thread with the stack it asks for,
// an unhandled-exception filter that turns processor exceptions into
// runtime-error reports, no system error dialogs, the standard handles, and
// the command line split into UTF-8 arguments.
//
// The stack keeps its guard page; the thread's stack guarantee leaves the
// filter room to report a stack overflow.
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <cstring>

#include "runtime/ansi_console.hpp"
#include "runtime/mem.hpp"
#include "runtime/output.hpp"
#include "runtime/platform/start.hpp"
#include "runtime/platform/win32/shared.hpp"
#include "runtime/platform/std_handles.hpp"
#include "runtime/system.hpp"

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

// Stack kept below the guard page for the exception filter's own work.
constexpr ULONG stack_guarantee = 256 * 1024;

struct ExceptionCode {
    DWORD exception;
    int32_t code;
};

constexpr ExceptionCode exception_codes[] = {
    {0xC0000005, 1},  {0x80000002, 2},  {0x80000003, 3},  {0x80000004, 4},  {0xC000008C, 5},
    {0xC000008D, 6},  {0xC000008E, 7},  {0xC000008F, 8},  {0xC0000090, 9},  {0xC0000091, 10},
    {0xC0000092, 11}, {0xC0000093, 12}, {0xC0000094, 13}, {0xC0000095, 14}, {0xC0000096, 15},
    {0xC0000006, 16}, {0xC000001D, 17}, {0xC0000025, 18}, {0xC00000FD, 19}, {0xC0000026, 20},
    {0x80000001, 21}, {0xC0000008, 22}, {0xC000013A, 0},
};

int32_t fault_code(DWORD exception) {
    for (const ExceptionCode& e : exception_codes)
        if (e.exception == exception) return e.code;
    return 99;
}

LONG WINAPI on_exception(EXCEPTION_POINTERS* info) {
    if (const CONTEXT* c = info->ContextRecord) {
        sys::record.failure_point.sp = c->Rsp;
        sys::record.failure_point.fp = c->Rbp;
    }
    const EXCEPTION_RECORD* e = info->ExceptionRecord;
    sys::quit_from_fault(fault_code(e->ExceptionCode), sys::image_offset(e->ExceptionAddress));
    return EXCEPTION_EXECUTE_HANDLER;
}

DWORD WINAPI run_function(void* fn) {
    (*static_cast<void (**)()>(fn))();
    return 0;
}

}  // namespace

namespace sys {

void keep_main_args(int, char**) {}

void stack_guard() {
    ULONG guarantee = stack_guarantee;
    SetThreadStackGuarantee(&guarantee);
}

void platform_start() {
    stack_guard();
    SetUnhandledExceptionFilter(on_exception);
    SetErrorMode(SEM_FAILCRITICALERRORS);
    os::read_std_handles();
    ansi_console::device = &ansi_console::windows_console;
    get_args();
}

void get_args() {
    int argc = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!wide) argc = 0;
    auto** argv = static_cast<char**>(mem::allocate(sizeof(char*) * size_t(argc + 1)));
    if (!wide) {
        const char text[] = "CommandLineToArgvW failed!";
        stdio::print_latin1_line(text, sizeof text - 1);
    }
    for (int i = 0; i < argc; ++i) {
        int n = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        argv[i] = static_cast<char*>(mem::allocate(size_t(n > 0 ? n : 1)));
        argv[i][0] = 0;
        if (n > 0) WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, argv[i], n, nullptr, nullptr);
    }
    if (wide) LocalFree(wide);
    argv[argc] = nullptr;
    record.argc = argc;
    record.argv = argv;
}

}  // namespace sys

namespace os {
// Without STACK_SIZE_PARAM_IS_A_RESERVATION the size would be committed at once.
void run_on_stack(size_t bytes, void (*fn)()) {
    HANDLE thread = CreateThread(nullptr, bytes, run_function, &fn, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (!thread) return fn();
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
}

uintptr_t image_base() { return reinterpret_cast<uintptr_t>(GetModuleHandleW(nullptr)); }

// The system raises stack overflow when the guard page comes within the
// guarantee (and a page) of the reserve's end, not at the end itself.
uintptr_t stack_low() {
    ULONG_PTR low = 0, high = 0;
    GetCurrentThreadStackLimits(&low, &high);
    return low ? low + stack_guarantee + 2 * 4096 : 0;
}

uintptr_t stack_high() {
    ULONG_PTR low = 0, high = 0;
    GetCurrentThreadStackLimits(&low, &high);
    return high;
}

namespace {
ULONG_PTR gdiplus_token = 0;
}  // namespace

void gdiplus_start() {
    GdiplusStartupInputFlat input{1, nullptr, FALSE, FALSE};
    GdiplusStartup(&gdiplus_token, &input, nullptr);
}

void gdiplus_stop() { GdiplusShutdown(gdiplus_token); }
}  // namespace os

namespace platform {
void init() {
    os::gdiplus_start();
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    win32::crypto_provider();
    stdio::init();
}
}  // namespace platform

}  // namespace kel
