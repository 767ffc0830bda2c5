// The garbage collector: stop-the-world mark and compact.
//
// Roots: the module roots (the runtime's globals that hold values, listed in
// one table in collector.cpp: the root block, the symbol table, the global
// context, the value-slot block, the ownership table, the block being
// evaluated, the error in flight), the argument stack from its first cell to
// its top, the call frames, the cells C++ code registers while it holds
// them, and the mark callbacks. Marking uses an explicit work list, so data
// nested to any depth cannot overflow the native stack.
//
// What moves: the live buffers of each series frame slide down over the dead
// ones, and the node table follows them. Node ids never move. So C++ code
// holds a series as (node id, index) across anything that can allocate and
// re-reads the buffer address afterwards; raw addresses are good only in
// stretches that cannot allocate. Fixed buffers (the stacks, the root block)
// and big buffers never move.
//
// C++ code keeps a value alive across a call that can allocate in one of two
// ways: on the argument stack (pushed, and dropped when done), or in a cell
// of its own registered as a root (RootCell, or a Root guard over a member
// cell). A value kept for the whole run goes into the root block
// (root::record). Pause is the one way to hold collections off.
//
// Mark callbacks remain for structures outside the value graph that are not
// cells at fixed places: the lexer's chain of scan states and its value
// stack, and what the test fixtures keep.
#pragma once
#include <cstdint>

#include "runtime/alloc.hpp"
#include "runtime/cell.hpp"
#include "runtime/system.hpp"

namespace kel::collector {

struct Counters {
    uint64_t collections = 0;
    uint64_t freed_nodes = 0;  // over all collections
    uint64_t node_frame_cycles = 0;  // collections that released a node frame
};
extern Counters counters;

void init();
// Empties every module root (start-up, before the modules make them again).
void reset_module_roots();
void collect();
// A collection when the enabled flag is set.
void collect_now();
bool in_collection();
// During a collection, once marking is done: whether the series is live.
bool marked(NodeId node);

// Mark callbacks: procedures that mark what their module holds outside the
// value graph with the services below. The collector's init drops them.
using Callback = void (*)();
void add_callback(Callback proc);
void remove_callback(Callback proc);

// Marking services for callbacks.
void mark_series(NodeId node);        // the buffer only
void mark_block(NodeId node);         // the buffer and its cells
void mark_context(NodeId context);
void mark_cells(const Cell* first, const Cell* last);
void mark_table(NodeId table);        // a hash table's buffers (and entries it keeps alive)

// Registers a cell held in C++ storage as a root while the guard lives.
// Guards nest: they are released in reverse order.
class Root {
public:
    explicit Root(Cell* cell);
    ~Root();
    Root(const Root&) = delete;
    Root& operator=(const Root&) = delete;
};

// Holds collections off while it lives, and puts the switch back as it was:
// for stretches that keep raw addresses across calls that allocate.
class Pause {
public:
    Pause() : was_(sys::record.collector_enabled) { sys::record.collector_enabled = false; }
    ~Pause() { sys::record.collector_enabled = was_; }
    Pause(const Pause&) = delete;
    Pause& operator=(const Pause&) = delete;

private:
    bool was_;
};

// A cell that is a root for its lifetime.
struct RootCell {
    Cell cell{};
    Root root{&cell};
};

}  // namespace kel::collector
