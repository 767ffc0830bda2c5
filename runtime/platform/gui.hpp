// The desktop: message boxes, the desktop's handler for a file or URL, and
// the pass over pending window messages that `wait` takes after its sleep.
// Windows: the thread's queued messages are translated and dispatched
// without blocking. POSIX hosts have no window messages: nothing to do.
#pragma once

namespace kel::gui {

void do_events();

// A task-modal message box with the stop icon, no owner window.
void show_message(const char* title, const char* text);

// The caret's blink interval in milliseconds; -1 when the caret does not
// blink. POSIX hosts answer 500.
int caret_blink_ms();
// Titles the process's text console; false when there is none to title.
bool set_console_title(const char* utf8);

}  // namespace kel::gui

namespace kel::os {

// Opens the file or URL with the desktop's handler; failures are ignored.
void browse(const char* target);

}  // namespace kel::os
