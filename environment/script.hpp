// Start-up's part in running scripts: the command line split into
// system/options by the boot environment's extract-boot-args, and the
// script named on it run by do-file, the runner `do` of a file! calls too.
#pragma once

namespace kel::environment {

// Calls extract-boot-args, which splits system/script/args (the raw
// command line) into system/options/boot and system/options/args.
void extract_boot_args();

// Runs the script named by the first of system/options/args, when there is
// one: it is taken out of the arguments, and system/script/args keeps the
// text after its name. An error the script does not catch ends the program
// with the uncaught-error report.
void run_script();

}  // namespace kel::environment
