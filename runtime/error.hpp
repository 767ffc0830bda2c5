// Raising language errors. Every failure of the runtime that a Kel program
// may catch goes through error::fire, which never returns: the error unwinds
// to the nearest frame that catches language errors (throws::error).
#pragma once
#include <cstdint>

namespace kel::error {

enum class Category : uint8_t {
    throw_ = 0, note = 1, syntax = 2, script = 3, math = 4, access = 5,
    reserved1 = 6, reserved2 = 7, user = 8, internal = 9,
};

// The error in flight: what error::fire was given.
struct Pending {
    Category category = Category::internal;
    const char* id = nullptr;  // the id word's name, e.g. "no-memory"
};

extern Pending pending;

[[noreturn]] void fire(Category category, const char* id);

}  // namespace kel::error
