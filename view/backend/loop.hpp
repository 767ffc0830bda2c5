// The counters by which nested event loops end one another: the depth of
// blocking loops and the exits still owed to enclosing loops (a window
// closed from inside a handler ends the loop that showed it).
#pragma once
#include <cstdint>

namespace kel::view::loop {

extern int32_t depth;          // +1 as each blocking loop starts
extern int32_t pending_exits;  // loops still to end, never below 0

// destroy-view with no window left: the running loop ends, and one more.
void owe_exit();
// A blocking loop has ended: whether an enclosing loop must end too.
bool end_blocking();

void reset();

}  // namespace kel::view::loop
