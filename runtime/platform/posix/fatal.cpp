#include "runtime/platform/fatal.hpp"

#include <cstring>

#include "runtime/platform/std_handles.hpp"

namespace kel::os {

void report_fatal(const char*, const char* text) {
    write_stderr(text, std::strlen(text));
    write_stderr("\n", 1);
}

}  // namespace kel::os
