// The quit handler: the one way the runtime itself ends the process.
// Code 0 exits quietly; any other code first shows the runtime-error report,
// in a message box titled "Kel App Error", or on standard error where there is
// no GUI or when the environment variable KEL_FATAL_TO_STDERR is set (a box
// would block a headless run forever). The exit status is the code.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "runtime/exits.hpp"
#include "runtime/mem.hpp"
#include "runtime/throws.hpp"
#include "runtime/output.hpp"
#include "runtime/platform/fatal.hpp"
#include "runtime/system.hpp"

namespace kel::sys {
namespace {

struct Message {
    int32_t code;
    const char* text;
};

constexpr Message messages[] = {
    {1, "access violation"},
    {2, "invalid alignment"},
    {3, "breakpoint"},
    {4, "single step"},
    {5, "bounds exceeded"},
    {6, "float denormal operan"},
    {7, "float divide by zero"},
    {8, "float inexact result"},
    {9, "float invalid operation"},
    {10, "float overflow"},
    {11, "float stack check"},
    {12, "float underflow"},
    {13, "integer divide by zero"},
    {14, "integer overflow"},
    {15, "privileged instruction"},
    {16, "invalid virtual address"},
    {17, "illegal instruction"},
    {18, "non-continuable exception"},
    {19, "stack error or overflow"},
    {20, "invalid disposition"},
    {21, "guard page"},
    {22, "invalid handle"},
    {23, "illegal operand"},
    {24, "illegal addressing mode"},
    {25, "illegal trap"},
    {26, "coprocessor error"},
    {27, "non-existent physical address"},
    {28, "object specific hardware error"},
    {29, "hardware memory error consumed AR"},
    {30, "hardware memory error consumed AO"},
    {31, "privileged register"},
    {32, "segmentation fault"},
    {33, "FPU error"},
    {34, "Bus error"},
    {94, "out of memory"},
    {95, "no CATCH for THROW"},
    {98, "assertion failed"},
    {99, "unknown error"},
    {100, "no value matched in CASE"},
    {101, "no value matched in SWITCH"},
};

void report(int32_t code, uint32_t at) {
    char text[512];
    format_report(text, sizeof text, code, at);
    os::report_fatal("Kel App Error", text);
}

void exit_hooks() { mem::release_all(); }

}  // namespace

const char* error_message(int32_t code) {
    for (const Message& m : messages)
        if (m.code == code) return m.text;
    return "unknown error code!";
}

size_t format_report(char* out, size_t capacity, int32_t code, uint32_t at) {
    int n = std::snprintf(out, capacity, "*** Runtime Error %d: %s\n*** at: %08Xh", code, error_message(code), at);
    if (n < 0) n = 0;
    return size_t(n) < capacity ? size_t(n) : capacity - 1;
}

void quit(int32_t code, uint32_t at) {
    if (code != 0) report(code, at);
    exit_hooks();
    std::exit(code);
}

void quit_from_fault(int32_t code, uint32_t at) {
    if (code != 0) report(code, at);
    std::_Exit(code);
}

void top_catch_handler(uint32_t code) {
    if (code == 0x0BADCAFE) quit(0, 0);
    if (code == throws::error) exits::report_uncaught();
    quit(95, image_offset(reinterpret_cast<const void*>(&top_catch_handler)));
}

}  // namespace kel::sys
