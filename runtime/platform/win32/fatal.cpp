#include "runtime/platform/fatal.hpp"

#include <cstdlib>
#include <cstring>

#include "runtime/platform/gui.hpp"
#include "runtime/platform/std_handles.hpp"

namespace kel::os {

void report_fatal(const char* title, const char* text) {
    const char* v = std::getenv("KEL_FATAL_TO_STDERR");
    if (v && *v && std::strcmp(v, "0") != 0) {
        write_stderr(text, std::strlen(text));
        write_stderr("\n", 1);
    } else {
        gui::show_message(title, text);
    }
}

}  // namespace kel::os
