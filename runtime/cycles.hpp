// The cycle stack: every walk into nested series or objects (mold, form,
// bind, the ownership walk) records the containers it is inside, and looks
// here before descending, so that a container that contains itself is not
// entered again. An entry is a container's node: the context node of an
// object, the series node of anything else.
//
// A walk pushes on entry and pops on exit. An error or throw leaves its
// entries behind, so every frame that catches one puts the depth back to what
// it saw on entry (cycles::depth, cycles::restore); otherwise a later walk
// would take an ordinary container for a cycle.
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/cell.hpp"

namespace kel::cycles {

constexpr size_t capacity = 1000;  // at most 999 nested containers

// The container a value refers to.
uint32_t reference(const Cell* value);

// Raises internal too-deep (after emptying the stack) when the stack fills.
void push(uint32_t reference);
void pop();
void drop(size_t n);
void reset();
bool find(uint32_t reference);

// When the value is already being walked: appends its placeholder to the
// output string, lowers the remaining length by it and answers true.
bool detect(const Cell* value, Cell* out, int32_t& remaining, bool mold);

size_t depth();
void restore(size_t depth);

// Puts the depth back when the scope ends, however it ends.
class Guard {
public:
    Guard() : depth_(depth()) {}
    ~Guard() { restore(depth_); }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

private:
    size_t depth_;
};

}  // namespace kel::cycles
