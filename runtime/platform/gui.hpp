// The pass over pending window messages that `wait` takes after its sleep.
// Windows: the thread's queued messages are translated and dispatched
// without blocking. POSIX hosts have no window messages: nothing to do.
#pragma once

namespace kel::gui {

void do_events();

}  // namespace kel::gui
