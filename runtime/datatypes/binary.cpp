#include "runtime/datatypes/binary.hpp"

#include "runtime/alloc.hpp"
#include "runtime/datatype.hpp"

namespace kel::binary {

Cell* make_at(Cell* out, uint32_t capacity) {
    cell::set_unset(out);
    NodeId node = alloc::alloc_bytes(capacity);
    *out = Cell{type::binary, 0, node, 0};
    return out;
}

void register_type() {
    datatype::Row row(datatype::unsupported);
    datatype::register_type({type::binary, type::string, "binary!", row.handlers});
}

}  // namespace kel::binary
