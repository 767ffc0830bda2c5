// The console's print hook and its small routines. Once add-gui-print has
// run, every text the runtime prints reaches the console terminal's vprint
// (gui-console-ctx/terminal/vprint, looked up at each print): `print` and
// `prin` through the value hook, the runtime's own output primitives through
// the text hook, whose UTF-8 text is decoded into one reused string.
#pragma once
#include <cstddef>

#include "runtime/cell.hpp"

namespace kel::view::console {

// add-gui-print and get-caret-blink-time as global routines; before the
// boot sources, whose console code calls them.
void make_routines();
// add-gui-print into gui-console-ctx and the engine's init routine into
// system/console, where those objects exist and have the field; after the
// boot sources, and again once the console has made its engine.
void install();

// The two hooks.
void print_value(const Cell* text, bool newline);
void print_text(const char* text, size_t length, int flag);

}  // namespace kel::view::console
