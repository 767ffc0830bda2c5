// What a test holds in C++ locals across calls that can allocate. The
// collector marks only its roots, so the fixtures' helpers register what they
// make here, and tests register what they make themselves; a mark callback
// keeps all of it alive until the test ends (WithRuntime starts and clears
// the list around each test).
#pragma once
#include <deque>
#include <vector>

#include "runtime/collector.hpp"

namespace kel::test {

namespace kept {

inline std::deque<Cell> cells;  // a deque: the cells keep their addresses as it grows
inline std::vector<NodeId> blocks, series, tables, contexts;

inline void mark() {
    for (const Cell& c : cells) collector::mark_cells(&c, &c + 1);
    for (NodeId n : blocks) collector::mark_block(n);
    for (NodeId n : series) collector::mark_series(n);
    for (NodeId n : tables) collector::mark_table(n);
    for (NodeId n : contexts) collector::mark_context(n);
}

inline void clear() {
    cells.clear();
    blocks.clear();
    series.clear();
    tables.clear();
    contexts.clear();
}

// After the collector's init, which drops the callbacks.
inline void start() {
    clear();
    collector::add_callback(mark);
}

}  // namespace kept

// Keeps what the value refers to alive until the test ends. The cell answered
// is itself marked: a value made into it later is kept too.
inline Cell& keep(const Cell& v = Cell{}) {
    kept::cells.push_back(v);
    return kept::cells.back();
}

// The same for a bare node: a block with its cells, a buffer alone, a hash
// table with what its entries keep, or a context with its words and values.
inline NodeId keep_block(NodeId n) {
    kept::blocks.push_back(n);
    return n;
}
inline NodeId keep_series(NodeId n) {
    kept::series.push_back(n);
    return n;
}
inline NodeId keep_table(NodeId n) {
    kept::tables.push_back(n);
    return n;
}

inline NodeId keep_context(NodeId n) {
    kept::contexts.push_back(n);
    return n;
}

}  // namespace kel::test
