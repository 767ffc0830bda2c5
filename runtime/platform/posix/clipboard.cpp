// No clipboard on POSIX hosts: every read and write fails.
#include "runtime/platform/clipboard.hpp"

namespace kel::os {

ClipboardData clipboard_read() { return {ClipboardData::Kind::failed}; }

bool clipboard_write(const ClipboardData&) { return false; }

}  // namespace kel::os
