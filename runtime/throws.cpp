#include "runtime/throws.hpp"
#include "runtime/system.hpp"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>

#include "runtime/platform/start.hpp"
#endif

namespace kel::throws {

namespace {
// AddressSanitizer clears the shadow of the frames a throw leaves only when
// they span less than 64 MiB (and then warns once); after a throw from deeper
// recursion the calls that reuse that stack would meet stale poison. This
// clears it the way the sanitizer would.
void clear_stack_shadow() {
#if defined(__SANITIZE_ADDRESS__)
    thread_local uintptr_t high = os::stack_high();
    uintptr_t low = (reinterpret_cast<uintptr_t>(__builtin_frame_address(0)) - 4096) & ~uintptr_t(4095);
    if (high > low + (uintptr_t(64) << 20)) __asan_unpoison_memory_region(reinterpret_cast<void*>(low), high - low);
#endif
}
}  // namespace

void throw_code(uint32_t code) {
    sys::record.throw_code = code;
    clear_stack_shadow();
    throw Throw{code};
}

void clear_current() { sys::record.throw_code = 0; }

}  // namespace kel::throws
