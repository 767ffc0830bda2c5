#include "view/backend/loop.hpp"

namespace kel::view::loop {

int32_t depth = 0;
int32_t pending_exits = 0;

void owe_exit() {
    ++pending_exits;
    --depth;
}

// Every ended loop pays one owed exit; with none owed the count stays at 0,
// so that exits owed later still reach their loops.
bool end_blocking() {
    if (pending_exits > 0) --pending_exits;
    return pending_exits > 0;
}

void reset() { depth = pending_exits = 0; }

}  // namespace kel::view::loop
