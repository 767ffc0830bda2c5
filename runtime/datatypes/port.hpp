// port!: an object standing for an external resource handled by a scheme.
// Its first three fields are the spec (an object whose first field names
// the scheme), the scheme name and the actor: an object whose fields are
// functions named after actions. Every series and I/O action on a port is
// forwarded to the actor's function of the same name, which receives the
// port and the action's arguments in the action's own order: its value
// arguments, then per refinement a logic! flag and the refinement's
// argument or none.
//
// The prototypes and the scheme registry are the boot environment's:
// system/standard/port-spec, system/standard/port and system/schemes (a block
// of scheme names and scheme objects, whose fourth field is the actor).
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"

namespace kel::port {

constexpr uint32_t class_id = 2;
namespace field {
enum : uint32_t { spec = 0, scheme, actor };
}

Cell* make(Cell* proto, Cell* spec, uint8_t t);
int32_t form(const Cell* value, Cell* out, const Cell* part, int32_t limit);
int32_t mold(const Cell* value, Cell* out, bool only, bool all, bool flat, const Cell* part, int32_t limit,
             int32_t indent);

// read: open, copy (with the part), close; write: open for writing, insert
// the data, copy, close.
Cell* read(Cell* port, const Cell* part, const Cell* seek, bool binary, bool lines, bool info, const Cell* as);
Cell* write(Cell* port, Cell* data, bool binary, bool lines, bool info, bool append, const Cell* part,
            const Cell* seek, const Cell* allow, const Cell* as);
Cell* open(Cell* port, bool new_, bool read, bool write, bool seek, const Cell* allow);

// The actor object of a port; raises access invalid-port when it is none.
Cell get_actor(const Cell* port);
// Runs the actor's function named by the action with the cells as its
// frame, in order; the result is pushed.
Cell* call_actor(const Cell* port, const char* action, const Cell* args, uint32_t n);

void register_type();

}  // namespace kel::port
