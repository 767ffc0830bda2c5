// What both launchers share: how a capture grows.
#include "runtime/platform/process.hpp"

#include <algorithm>
#include <new>

namespace kel::process {

// The capture doubles as it fills, as a series would, but never reserves
// past the limit: a capture near the largest series does not ask for twice
// its size.
Stop capture(std::string& data, const char* bytes, size_t n) {
    if (data.size() > capture_limit || n > capture_limit - data.size()) return Stop::too_long;
    try {
        if (data.size() + n > data.capacity()) {
            uint64_t grown = std::max<uint64_t>(2 * uint64_t(data.capacity()), data.size() + n);
            data.reserve(size_t(std::min<uint64_t>(grown, capture_limit)));
        }
        data.append(bytes, n);
    } catch (const std::bad_alloc&) {
        return Stop::no_memory;
    }
    return Stop::none;
}

}  // namespace kel::process
