#include "runtime/datatypes/char.hpp"

#include "runtime/datatype.hpp"

namespace kel::char_ {

void register_type() {
    datatype::Row row(datatype::unsupported);
    datatype::register_type({type::char_, type::integer, "char!", row.handlers});
}

}  // namespace kel::char_
