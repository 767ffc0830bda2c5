#include "runtime/datatypes/tuple.hpp"

#include "runtime/datatype.hpp"

namespace kel::tuple {

Cell* box_bytes(Cell* out, const uint8_t* b, uint32_t n) {
    if (n > max_length) n = max_length;
    uint32_t len = n < 3 ? 3 : n;
    *out = Cell{type::tuple | len << length_shift, 0, 0, 0};
    uint8_t* dest = bytes(out);
    for (uint32_t i = 0; i < n; ++i) dest[i] = b[i];
    return out;
}

void register_type() {
    datatype::Row row(datatype::unsupported);
    datatype::register_type({type::tuple, 0, "tuple!", row.handlers});
}

}  // namespace kel::tuple
