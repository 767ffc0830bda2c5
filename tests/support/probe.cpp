// A child program for the tests: starts the platform as the product does,
// then does what its first argument says.
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "runtime/datatype.hpp"
#include "runtime/error.hpp"
#include "program/init.hpp"
#include "runtime/mem.hpp"
#include "runtime/output.hpp"
#include "runtime/platform/start.hpp"
#include "runtime/platform/std_handles.hpp"
#include "runtime/symbol.hpp"
#include "runtime/system.hpp"
#include "runtime/throws.hpp"

namespace {

using namespace kel;

volatile int zero = 0;
volatile int sink = 0;
volatile int dividend = 1000;
int* volatile null_pointer = nullptr;

// The sanitizers would report these before the processor faults.
__attribute__((no_sanitize("undefined"))) void divide_by_zero() { sink = dividend / zero; }
__attribute__((no_sanitize("undefined", "address"))) void store_to_null() { *null_pointer = 1; }

int (*volatile recurse_again)(int);
__attribute__((noinline)) int recurse(int n) {
    volatile char pad[4096];
    pad[0] = char(n);
    return recurse_again(n + 1) + pad[0];
}

void print_args() {
    for (int i = 2; i < sys::record.argc; ++i) {
        os::write_stdout(sys::record.argv[i], std::strlen(sys::record.argv[i]));
        os::write_stdout("\n", 1);
    }
}

// Copies standard input to standard output as it arrives.
void echo_input() {
    std::vector<char> buffer(4096);
    for (;;) {
#ifdef _WIN32
        DWORD n = 0;
        if (!ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer.data(), DWORD(buffer.size()), &n, nullptr) || !n) return;
#else
        ssize_t n = ::read(0, buffer.data(), buffer.size());
        if (n <= 0) return;
#endif
        os::write_stdout(buffer.data(), size_t(n));
    }
}

// 200000 bytes to standard error, then as many to standard output: more
// than a pipe holds, so a reader that waits on one stream alone stalls it.
void flood() {
    std::string e(200000, 'e'), o(200000, 'o');
    os::write_stderr(e.data(), e.size());
    os::write_stdout(o.data(), o.size());
}

// Writes to standard output until the reader goes away.
void endless() {
    std::string block(65536, 'y');
    for (;;) {
#ifdef _WIN32
        DWORD n = 0;
        if (!WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), block.data(), DWORD(block.size()), &n, nullptr)) return;
#else
        if (::write(1, block.data(), block.size()) < 0) return;
#endif
    }
}

}  // namespace

int main(int argc, char** argv) {
    sys::keep_main_args(argc, argv);
    sys::platform_start();
    std::string mode = sys::record.argc > 1 ? sys::record.argv[1] : "";
    output::init_print_hooks();
    platform::init();
    if (mode == "args") print_args();
    else if (mode == "echo") echo_input();
    else if (mode == "flood") flood();
    else if (mode == "endless") endless();
    else if (mode == "divzero") divide_by_zero();
    else if (mode == "segv") store_to_null();
    else if (mode == "stack") {
        recurse_again = recurse;
        recurse(0);
    }
    else if (mode == "quit96") sys::quit(96, 0x1234);
    else if (mode == "heap") mem::allocate(SIZE_MAX / 2);
    else if (mode == "throw") sys::run_top_level([] { throws::throw_code(0x1234); });
    else if (mode == "quiet") sys::run_top_level([] { throws::throw_code(throws::quiet_exit); });
    else if (mode == "unit") stdio::write("x", 1, 3, false);
    else if (mode == "uncaught") {
        sys::run_top_level([] {
            runtime::init_values();
            Cell word{type::word, 0, symbol::make("undefined-word"), uint32_t(-1)};
            error::fire(error::id::no_value, &word);
        });
    } else if (mode == "badtype") {
        datatype::Row row(datatype::unsupported);
        datatype::register_type({55, 0, "short!", std::span(row.handlers, 61)});
    }
    sys::quit(0, 0);
}
