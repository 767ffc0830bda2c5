// The boot environment: the Kel-level library that exists before any script
// runs. The build loads its sources (environment/*.kel) and encodes them as
// a KELBIN boot image compiled into the program (boot_image, made by
// tools/boot_image.cpp); start-up decodes it and evaluates its blocks, one
// per source, in order.
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/cell.hpp"

namespace kel::environment {

extern const unsigned char boot_image[];
extern const size_t boot_image_size;

// Makes what the sources cannot make themselves (the `make` action they
// start with, the predicates' C++ code, the external! typeset) and
// evaluates the boot image. An error in them is reported as an uncaught one.
void boot();

// Evaluates Kel source text: loaded by the lexer, its header (the word Kel
// and a block) skipped, its values evaluated in order. Answers the pending
// exit code; the result is left as the last pushed cell.
// With a callback (a function!), the code runs traced by it.
uint32_t run_text(const char* text, size_t length, const Cell* callback = nullptr);

}  // namespace kel::environment
