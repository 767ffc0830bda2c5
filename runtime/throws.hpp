// Runtime throw levels: a non-local exit inside the runtime's own procedures.
//
// A throw carries a 32-bit code. A protected region has a catch level and takes
// every throw whose code is at most that level (unsigned); higher codes pass on
// to the next region out. The process entry's top-level region has level
// 0xFFFFFFFF and takes everything. Throws travel as C++ exceptions; the
// language-level exits that happen inside loops (break, continue, return) are
// handled by the interpreter with status checks and reach this path only when
// they leave the interpreter.
#pragma once
#include <cstdint>

namespace kel {

struct Throw {
    uint32_t code;
};

namespace throws {

constexpr uint32_t quiet_exit = 0x0BADCAFE;        // ends the process silently, status 0
constexpr uint32_t top_level = 0xFFFFFFFF;
constexpr uint32_t error = 0x7FFFFFFF;             // language-level exits
constexpr uint32_t break_ = 0x7FFFFFFE;
constexpr uint32_t continue_ = 0x7FFFFFFD;
constexpr uint32_t return_ = 0x7FFFFFFC;
constexpr uint32_t exit_ = 0x7FFFFFFB;
constexpr uint32_t throw_ = 0x7FFFFFFA;
constexpr uint32_t integer_overflow = 0x7FFFFFF9;
constexpr uint32_t vm_level = 0x7FFFFFF8;          // memory manager's region
constexpr uint32_t vm_alloc_failed = 0x7FFFFFF7;
constexpr uint32_t vm_free_failed = 0x7FFFFFF6;
constexpr uint32_t syntax = 10;                    // the lexer's syntax errors

// Stores the code as the current throw code and unwinds to the innermost
// region whose level is at least the code.
[[noreturn]] void throw_code(uint32_t code);

// Runs body in a region of the given level. Answers 0 when the body ends
// normally, else the code of the throw the region took (the current throw
// code is then cleared: the throw is handled). Throws above the level pass on.
template <class Body>
uint32_t protect(uint32_t level, Body&& body);

void clear_current();

}  // namespace throws

template <class Body>
uint32_t throws::protect(uint32_t level, Body&& body) {
    try {
        body();
        return 0;
    } catch (const Throw& t) {
        if (t.code > level) throw;
        clear_current();
        return t.code;
    }
}

}  // namespace kel
