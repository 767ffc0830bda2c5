#include "runtime/datatypes/time.hpp"

#include "runtime/datatype.hpp"

namespace kel {

void percent::register_type() {
    datatype::Row row(datatype::unsupported);
    datatype::register_type({type::percent, type::float_, "percent!", row.handlers});
}

void time::register_type() {
    datatype::Row row(datatype::unsupported);
    datatype::register_type({type::time, type::float_, "time!", row.handlers});
}

}  // namespace kel
