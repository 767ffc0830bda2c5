// The output and system natives: print and prin (through the value print
// hooks), and transcode (the lexer's native entry); wait, set-env, get-env,
// list-env, now, size?, browse and recycle over the platform layer.
#pragma once
#include <cstdint>

#include "runtime/actions.hpp"
#include "runtime/cell.hpp"

namespace kel::natives {

// Whether the last print or prin ended its line (print: yes).
extern bool last_lf;

// A value print hook that writes the printed text to standard output: the
// printer of the program when no console window takes the output.
void print_to_stdout(const Cell* text, bool newline);

}  // namespace kel::natives

namespace kel::os {

// Returns when the value is of the type; otherwise raises invalid-arg with
// the value.
void check_arg_type(const Cell* value, uint8_t t);

}  // namespace kel::os
