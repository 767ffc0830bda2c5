// Virtual memory on Windows: committed VirtualAlloc regions.
#include "runtime/platform/memory.hpp"

#include <windows.h>

#include "runtime/throws.hpp"

namespace kel::os {

void* virtual_alloc(size_t size, bool executable) {
    void* p = VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, executable ? PAGE_EXECUTE_READWRITE : PAGE_READWRITE);
    if (!p) throws::throw_code(throws::vm_alloc_failed);
    return p;
}

void virtual_free(void* address, size_t) {
    if (!VirtualFree(address, 0, MEM_RELEASE)) throws::throw_code(throws::vm_free_failed);
}

}  // namespace kel::os
