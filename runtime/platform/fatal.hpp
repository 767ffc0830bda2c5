// Where a fatal report goes: a task-modal message box on Windows, standard
// error elsewhere. The environment variable KEL_FATAL_TO_STDERR (set and not
// "0") sends it to standard error on Windows too: a box would block a
// headless run forever.
#pragma once

namespace kel::os {

// Shows the NUL-terminated report text under title; on standard error the
// text is followed by a line end and the title is not shown.
void report_fatal(const char* title, const char* text);

}  // namespace kel::os
