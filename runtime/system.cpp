// The process-wide runtime record and the top-level catch frame.
#include <new>

#include "runtime/mem.hpp"
#include "runtime/platform/start.hpp"
#include "runtime/system.hpp"
#include "runtime/throws.hpp"

namespace kel::sys {

namespace {
mem::HeapList tracked_heap;
}  // namespace

SystemRecord record = [] {
    SystemRecord r;
    r.heap_list = &tracked_heap;
    return r;
}();

void run_top_level(void (*body)()) {
    int top_frame = 0;
    record.top_frame = &top_frame;
    try {
        body();
    } catch (const Throw& t) {
        top_catch_handler(t.code);
    } catch (const std::bad_alloc&) {
        quit(94, 0);
    }
}

uint32_t image_offset(const void* address) {
    return uint32_t(reinterpret_cast<uintptr_t>(address) - os::image_base());
}

}  // namespace kel::sys
