// Virtual memory on POSIX: anonymous private mappings.
#include "runtime/platform/memory.hpp"

#include <sys/mman.h>

#include "runtime/throws.hpp"

namespace kel::os {

// The pages are mapped in at once: the memory manager fills a series frame
// from its start, and one populating call costs far less than a fault per
// page.
void* virtual_alloc(size_t size, bool executable) {
    int protection = PROT_READ | PROT_WRITE | (executable ? PROT_EXEC : 0);
    void* p = mmap(nullptr, size, protection, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    if (p == MAP_FAILED) throws::throw_code(throws::vm_alloc_failed);
    return p;
}

void virtual_free(void* address, size_t size) {
    if (munmap(address, size) != 0) throws::throw_code(throws::vm_free_failed);
}

}  // namespace kel::os
