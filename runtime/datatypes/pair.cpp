#include "runtime/datatypes/pair.hpp"

#include "runtime/datatype.hpp"

namespace kel {

namespace {
void register_plain(uint8_t t, const char* name) {
    datatype::Row row(datatype::unsupported);
    datatype::register_type({t, 0, name, row.handlers});
}
}  // namespace

void pair::register_type() { register_plain(type::pair, "pair!"); }
void point2d::register_type() { register_plain(type::point2d, "point2D!"); }
void point3d::register_type() { register_plain(type::point3d, "point3D!"); }

}  // namespace kel
