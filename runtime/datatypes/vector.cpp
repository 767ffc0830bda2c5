#include "runtime/datatypes/vector.hpp"

#include "runtime/datatype.hpp"

namespace kel::vector {

void register_type() {
    datatype::Row row(datatype::inherit);
    datatype::register_type({type::vector, type::string, "vector!", row.handlers});
}

}  // namespace kel::vector
