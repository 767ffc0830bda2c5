// Raising language errors. Every failure of the runtime that a Kel program
// may catch goes through error::fire, which never returns: the error unwinds
// to the nearest frame that catches language errors (throws::error).
//
// An error is designated by its category and its id word, named in C++ by a
// constant of error::id. The list in runtime/error_ids.def holds them all and
// gives each id its position in the catalog, hence its code, and its message.
#pragma once
#include <cstdint>
#include <new>

#include "runtime/cell.hpp"

namespace kel::error {

enum class Category : uint8_t {
    throw_ = 0, note = 1, syntax = 2, script = 3, math = 4, access = 5,
    reserved1 = 6, reserved2 = 7, user = 8, internal = 9,
};

struct id;

// An error's category and id word. Only the list makes one, as a constant
// of error::id below: a misspelled id does not compile.
struct Id {
    Category category;
    const char* name;  // the id word, e.g. "no-memory"

private:
    constexpr Id(Category c, const char* n) : category(c), name(n) {}
    friend struct id;
};

// One constant per line of the list: error::id::invalid_arg and so on.
struct id {
#define KEL_ERROR(category, name, text, message) static constexpr Id name{Category::category, text};
#include "runtime/error_ids.def"
#undef KEL_ERROR
};

// The error in flight: what error::fire was given, and the error! value
// made of it (none while the catalog does not exist yet). Its cells are
// collector roots while it is pending.
struct Pending {
    Category category = Category::internal;
    const char* id = nullptr;
    int arg_count = 0;
    Cell args[3] = {};
    Cell value = {type::none, 0, 0, 0};
};

extern Pending pending;

// Raises the error with up to three argument values (null: absent).
[[noreturn]] void fire(Id id, const Cell* arg1 = nullptr, const Cell* arg2 = nullptr, const Cell* arg3 = nullptr);
// Raises an error! value as it is (do of an error).
[[noreturn]] void fire_value(const Cell* value);
[[noreturn]] void fire_bad_make_arg(const Cell* value1, const Cell* value2);

// Makes the error without raising it and prints it, as an uncaught error
// is shown; the caller's frames stay as they are. A failure inside a
// callback of the GUI is reported this way, the GUI's own stack intact.
void make_value(Id id, const Cell* arg1 = nullptr, const Cell* arg2 = nullptr, const Cell* arg3 = nullptr);

// The errors many modules raise with arguments made the same way.
// not-done: a case that is not implemented.
[[noreturn]] void fire_not_done();
// invalid-refine-arg: the refinement word and the value it was given.
[[noreturn]] void fire_bad_refinement(const Cell* refinement, const Cell* value);
// expect-arg: the running native's name, the value's datatype and the
// argument's name.
[[noreturn]] void fire_expect_arg(const Cell* value, const char* argument);
// bad-to-arg: the target datatype and the value.
[[noreturn]] void fire_bad_to_arg(uint8_t target, const Cell* value);
// invalid-type: the datatype of the type id.
[[noreturn]] void fire_invalid_type(uint8_t t);

// Runs the work and answers what it answers; the C++ heap running out inside
// it (std::bad_alloc) raises no-memory, where it would end the process.
template <class Work>
auto heap_guarded(Work&& work) -> decltype(work()) {
    try {
        return work();
    } catch (const std::bad_alloc&) {
        fire(id::no_memory);
    }
}

}  // namespace kel::error
