// The part of the file services both platforms share: a write over the file
// from an offset is built whole and replaces the file.
#include "runtime/platform/files.hpp"

namespace kel::files {

bool write(const std::string& path, std::string_view bytes, int64_t seek, bool append) {
    if (append) return append_bytes(path, bytes);
    if (seek < 0) return replace_bytes(path, bytes);
    // A failure leaves the old file.
    std::string content;
    if (exists(path)) {
        std::optional<std::string> old = read(path, -1, -1);
        if (!old) return false;
        content = std::move(*old);
    }
    if (content.size() < uint64_t(seek) + bytes.size()) content.resize(size_t(seek) + bytes.size(), '\0');
    content.replace(size_t(seek), bytes.size(), bytes);
    return replace_bytes(path, content);
}

}  // namespace kel::files
