// Platform start on POSIX: the runtime runs on a thread with the stack it asks
// for, processor faults become runtime-error reports through signal handlers
// on an alternate stack, and the arguments arrive as UTF-8 from argv.
#include <pthread.h>
#include <signal.h>
#include <ucontext.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "runtime/mem.hpp"
#include "runtime/output.hpp"
#include "runtime/platform/start.hpp"
#include "runtime/platform/std_handles.hpp"
#include "runtime/system.hpp"

extern "C" char __executable_start;

namespace kel {
namespace {

int main_argc = 0;
char** main_argv = nullptr;

// Faults this far below the thread's stack count as stack overflow.
constexpr uintptr_t stack_slack = 1u << 20;
uintptr_t stack_low = 0;

int32_t fault_code(int sig, const siginfo_t* info) {
    switch (sig) {
        case SIGSEGV: {
            auto addr = reinterpret_cast<uintptr_t>(info->si_addr);
            if (stack_low && addr < stack_low + 65536 && addr + stack_slack >= stack_low) return 19;
            return 1;
        }
        case SIGFPE:
            switch (info->si_code) {
                case FPE_INTDIV: return 13;
                case FPE_INTOVF: return 14;
                case FPE_FLTDIV: return 7;
                case FPE_FLTOVF: return 10;
                case FPE_FLTUND: return 12;
                case FPE_FLTRES: return 8;
                case FPE_FLTINV: return 9;
                case FPE_FLTSUB: return 5;
                default: return 99;
            }
        case SIGILL: return 17;
        case SIGBUS: return info->si_code == BUS_ADRALN ? 2 : 16;
        case SIGTRAP: return 3;
        default: return 99;
    }
}

void on_fault(int sig, siginfo_t* info, void* context) {
    const void* at = info->si_addr;
#if defined(__x86_64__)
    auto* uc = static_cast<ucontext_t*>(context);
    at = reinterpret_cast<const void*>(uc->uc_mcontext.gregs[REG_RIP]);
    sys::record.failure_point.sp = uintptr_t(uc->uc_mcontext.gregs[REG_RSP]);
    sys::record.failure_point.fp = uintptr_t(uc->uc_mcontext.gregs[REG_RBP]);
#endif
    sys::quit_from_fault(fault_code(sig, info), sys::image_offset(at));
}

struct StackBounds {
    uintptr_t low = 0, high = 0;
};

// The calling thread's stack without its guard page.
StackBounds stack_bounds() {
    StackBounds b;
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) != 0) return b;
    void* base = nullptr;
    size_t size = 0;
    if (pthread_attr_getstack(&attr, &base, &size) == 0)
        b = {reinterpret_cast<uintptr_t>(base), reinterpret_cast<uintptr_t>(base) + size};
    pthread_attr_destroy(&attr);
    return b;
}

void* run_function(void* fn) {
    (*static_cast<void (**)()>(fn))();
    return nullptr;
}

}  // namespace

namespace sys {

void keep_main_args(int argc, char** argv) {
    main_argc = argc;
    main_argv = argv;
}

// The handlers run on an alternate stack so that a stack overflow is reported too.
void stack_guard() {
    static char* alternate = nullptr;
    if (!alternate) alternate = static_cast<char*>(std::malloc(size_t(SIGSTKSZ) * 4));
    if (!alternate) return;
    stack_t ss{};
    ss.ss_sp = alternate;
    ss.ss_size = size_t(SIGSTKSZ) * 4;
    sigaltstack(&ss, nullptr);
    stack_low = os::stack_low();
}

void platform_start() {
    stack_guard();
    struct sigaction sa{};
    sa.sa_sigaction = on_fault;
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGSEGV, SIGFPE, SIGILL, SIGBUS, SIGTRAP}) sigaction(sig, &sa, nullptr);
    os::read_std_handles();
    get_args();
}

void get_args() {
    int argc = main_argv ? main_argc : 0;
    auto** argv = static_cast<char**>(mem::allocate(sizeof(char*) * size_t(argc + 1)));
    for (int i = 0; i < argc; ++i) {
        size_t n = std::strlen(main_argv[i]) + 1;
        argv[i] = static_cast<char*>(mem::allocate(n));
        std::memcpy(argv[i], main_argv[i], n);
    }
    argv[argc] = nullptr;
    record.argc = argc;
    record.argv = argv;
}

}  // namespace sys

namespace os {
// The stack's pages are mapped as the thread first touches them.
void run_on_stack(size_t bytes, void (*fn)()) {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, bytes);
    pthread_t thread;
    bool made = pthread_create(&thread, &attr, run_function, &fn) == 0;
    pthread_attr_destroy(&attr);
    if (made) pthread_join(thread, nullptr);
    else fn();
}

uintptr_t image_base() { return reinterpret_cast<uintptr_t>(&__executable_start); }

uintptr_t stack_low() { return stack_bounds().low; }
uintptr_t stack_high() { return stack_bounds().high; }

// No GDI+ outside Windows.
void gdiplus_start() {}
void gdiplus_stop() {}
}  // namespace os

namespace platform {
void init() { stdio::init(); }
}  // namespace platform

}  // namespace kel
