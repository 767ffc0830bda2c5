// Virtual memory on POSIX: anonymous private mappings.
#include "runtime/platform/memory.hpp"

#include <sys/mman.h>

#include "runtime/throws.hpp"

namespace kel::os {

// Blocks up to the size of a series frame have their pages mapped in at
// once: the memory manager fills a frame from its start, and one populating
// call costs far less than a fault per page. A larger block holds one big
// buffer, which may be reserved and used only in part: its pages come in
// as they are touched.
constexpr size_t populate_limit = size_t(4) << 20;

void* virtual_alloc(size_t size, bool executable) {
    int protection = PROT_READ | PROT_WRITE | (executable ? PROT_EXEC : 0);
    int flags = MAP_PRIVATE | MAP_ANONYMOUS | (size <= populate_limit ? MAP_POPULATE : 0);
    void* p = mmap(nullptr, size, protection, flags, -1, 0);
    if (p == MAP_FAILED) throws::throw_code(throws::vm_alloc_failed);
    return p;
}

void virtual_free(void* address, size_t size) {
    if (munmap(address, size) != 0) throws::throw_code(throws::vm_free_failed);
}

}  // namespace kel::os
