// The file native: to-local-file.
#pragma once
#include <cstdint>

#include "runtime/actions.hpp"

namespace kel::natives {
uint32_t to_local_file(const Call& call);
void init_files();
}  // namespace kel::natives
