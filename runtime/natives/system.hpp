// The output and system natives: print and prin (through the value print
// hooks), and transcode (the lexer's native entry); wait, set-env, get-env,
// list-env, now, size?, browse and recycle over the platform layer.
#pragma once
#include <cstdint>

#include "runtime/actions.hpp"
#include "runtime/cell.hpp"

namespace kel::natives {

uint32_t print(const Call& call);
uint32_t prin(const Call& call);

// Whether the last print or prin ended its line (print: yes).
extern bool last_lf;

// A value print hook that writes the printed text to standard output: the
// printer of the program when no console window takes the output.
void print_to_stdout(const Cell* text, bool newline);

void init_system();
void init_words();  // words.cpp

}  // namespace kel::natives
