// What the platform sets up for the process and can tell about it: the
// thread the runtime runs on and its stack, GDI+ and COM for that thread, the
// console buffers (Windows), the program image.
#pragma once
#include <cstddef>
#include <cstdint>

namespace kel {

namespace platform {
// GDI+ and COM for this thread, the console buffers (Windows); the output layer.
void init();
}  // namespace platform

namespace os {
// Runs fn on a new thread whose stack reserves `bytes`, committed only as it
// is used, and returns when fn does; fn runs on the calling thread when no
// thread can be made. Everything the runtime does (windows and their message
// loop included) happens on that one thread.
void run_on_stack(size_t bytes, void (*fn)());

void gdiplus_start();
void gdiplus_stop();

// Base address of the program image, for reporting fault addresses as offsets.
uintptr_t image_base();

// The lowest address the calling thread's stack may grow to before the system
// reports a stack overflow, and the address just above the stack (0 when
// unknown).
uintptr_t stack_low();
uintptr_t stack_high();
}  // namespace os

}  // namespace kel
