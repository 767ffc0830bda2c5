// The boot environment: the Kel-level library that exists before any script
// runs. Its sources are compiled into the program as text (boot_sources,
// made by the build from environment/*.kel); start-up loads each with the
// lexer and evaluates it, in order.
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/cell.hpp"

namespace kel::environment {

struct BootSource {
    const char* name;  // the file it came from, for error reports
    const char* text;
};
extern const BootSource boot_sources[];
extern const size_t boot_source_count;

// Makes what the sources cannot make themselves (the `make` action they
// start with, the predicates' C++ code, the external! typeset) and
// evaluates the sources. An error in them is reported as an uncaught one.
void boot();

// Evaluates Kel source text: loaded by the lexer, its header (the word Kel
// and a block) skipped, its values evaluated in order. Answers the pending
// exit code; the result is left as the last pushed cell.
// With a callback (a function!), the code runs traced by it.
uint32_t run_text(const char* text, size_t length, const Cell* callback = nullptr);

}  // namespace kel::environment
