#include "runtime/platform/gui.hpp"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "runtime/platform/std_handles.hpp"

namespace kel::gui {

void do_events() {}

// No message box: the text goes to standard error.
void show_message(const char* title, const char* text) {
    os::write_stderr(text, std::strlen(text));
    os::write_stderr("\n", 1);
}

int caret_blink_ms() { return 500; }

// A terminal has no title this program keeps.
bool set_console_title(const char*) { return false; }

}  // namespace kel::gui

namespace kel::os {

// xdg-open in a grandchild, so that no child is left to reap.
void browse(const char* target) {
    pid_t child = fork();
    if (child < 0) return;
    if (child == 0) {
        if (fork() == 0) {
            int null = ::open("/dev/null", O_RDWR);
            if (null >= 0) dup2(null, 0), dup2(null, 1), dup2(null, 2);
            execlp("xdg-open", "xdg-open", target, static_cast<char*>(nullptr));
        }
        _exit(0);
    }
    while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {}
}

}  // namespace kel::os
