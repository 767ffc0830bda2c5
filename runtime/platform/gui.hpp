// The desktop: message boxes, the desktop's handler for a file or URL, and
// the pass over pending window messages that `wait` takes after its sleep.
// Windows: the thread's queued messages are translated and dispatched
// without blocking. POSIX hosts have no window messages: nothing to do.
#pragma once

namespace kel::gui {

void do_events();

// A task-modal message box with the stop icon, no owner window.
void show_message(const char* title, const char* text);

}  // namespace kel::gui

namespace kel::os {

// Opens the file or URL with the desktop's handler; failures are ignored.
void browse(const char* target);

}  // namespace kel::os
