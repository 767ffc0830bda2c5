// Routines of the boot environment: routine! values whose code is C++. The
// helpers make one from a spec written as Kel source and an entry of the
// routine table, and bind it to a global word or store it into an object's
// field; make_environment_routines makes those that reach runtime and
// process services directly.
#pragma once
#include <cstdint>
#include <string>

#include "runtime/actions.hpp"
#include "runtime/cell.hpp"

namespace kel::environment {

// Makes each routine and sets its word; runs before the boot sources, whose
// functions call them.
void make_environment_routines();
// Those over values and the evaluator's state, and those over the system.
void make_value_routines();
void make_os_routines();

// Pushes the process's current directory as a file! in the language's
// form, ending in "/".
Cell* push_current_dir();

// Pushes a host path as a file!: through the environment's to-kel-file
// when it is there, else by the file module's own conversion.
void push_kel_file(const std::string& path);

// Pushes the routine of the spec (the text of a spec block) and entry; its
// result kind is type::logic, type::integer or -1 (the entry writes it).
Cell* push_routine(const char* spec, Entry entry, int32_t result_kind = -1);

// Binds the routine to the global word of the name.
void define_routine(const char* name, const char* spec, Entry entry, int32_t result_kind = -1);

// The value slot of the object's field of that name (good until the next
// allocation), or null when the value is no object or has no such field.
Cell* field(Cell object, const char* name);

// Stores the routine into the object's field of that name, when it has one.
void set_field_routine(Cell object, const char* name, const char* spec, Entry entry,
                       int32_t result_kind = -1);

}  // namespace kel::environment
