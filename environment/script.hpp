// Running a script named on the command line: its text is read, its header
// found, and the code after the header evaluated. An error the script does
// not catch ends the program with the uncaught-error report.
#pragma once

namespace kel::environment {

void run_script(const char* path);

// Makes `do-file`, the runner that `do` of a file! calls.
void make_script_runner();

}  // namespace kel::environment
