// Virtual memory in whole pages, for the memory manager.
#pragma once
#include <cstddef>

namespace kel::os {

// A failed allocation throws throws::vm_alloc_failed, a failed release
// throws::vm_free_failed.
void* virtual_alloc(size_t size, bool executable);
void virtual_free(void* address, size_t size);

}  // namespace kel::os
