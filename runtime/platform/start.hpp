// What the platform sets up for the process and can tell about it: GDI+ and
// COM for this thread, the console buffers (Windows), the program image and
// the thread's stack.
#pragma once
#include <cstdint>

namespace kel {

namespace platform {
// GDI+ and COM for this thread, the console buffers (Windows); the output layer.
void init();
}  // namespace platform

namespace os {
void gdiplus_start();
void gdiplus_stop();

// Base address of the program image, for reporting fault addresses as offsets.
uintptr_t image_base();

// The lowest address the calling thread's stack may grow to (0 when unknown).
uintptr_t stack_low();
}  // namespace os

}  // namespace kel
