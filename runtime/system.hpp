// The process-wide runtime record and the entry points of the process:
// entry, platform start, quit handler.
#pragma once
#include <cstddef>
#include <cstdint>

namespace kel {

namespace mem { struct HeapList; }

// Stack and frame pointer of the place where a fatal error was detected.
struct FailurePoint {
    uintptr_t sp = 0;
    uintptr_t fp = 0;
};

struct SystemRecord {
    int argc = 0;                  // arguments as UTF-8, the program path first
    char** argv = nullptr;         // argc entries, then a null pointer
    uint32_t throw_code = 0;       // the throw in flight, 0 when none
    const uint8_t* boot_image = nullptr;
    FailurePoint failure_point;
    mem::HeapList* heap_list = nullptr;
    const void* top_frame = nullptr;  // the top-level catch frame
    bool collector_enabled = false;
    bool root_recording = false;
};

namespace sys {

extern SystemRecord record;

// Keeps main()'s arguments for get_args (POSIX; Windows reads its command line).
void keep_main_args(int argc, char** argv);
void platform_start();
void stack_guard();
void get_args();

// Ends the process. Code 0 exits quietly; any other code first reports
// "*** Runtime Error <code>: <message>" with the place of failure `at` (an
// offset into the program image). The exit status is the code.
[[noreturn]] void quit(int32_t code, uint32_t at);

// The same report and status from a processor-fault handler: no exit hooks
// run, since the heap may be what faulted.
[[noreturn]] void quit_from_fault(int32_t code, uint32_t at);

// Runs body inside the top-level catch frame: a throw that nothing in body
// takes ends the process (quietly for throws::quiet_exit, else runtime error 95).
void run_top_level(void (*body)());
[[noreturn]] void top_catch_handler(uint32_t code);

const char* error_message(int32_t code);

// The report text of code and address, into out (NUL-terminated); answers its length.
size_t format_report(char* out, size_t capacity, int32_t code, uint32_t at);

// The offset of an address from the program image's base, as reported.
uint32_t image_offset(const void* address);

// Where the calling procedure was called from, as an image offset.
#define KEL_CALLER_ADDRESS() ::kel::sys::image_offset(__builtin_return_address(0))

}  // namespace sys
}  // namespace kel
