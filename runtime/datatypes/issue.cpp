#include "runtime/datatypes/issue.hpp"

#include "runtime/context.hpp"
#include "runtime/datatype.hpp"
#include "runtime/symbol.hpp"

namespace kel {

Cell* issue::make_at(Cell* out, const char* text, size_t n) {
    uint32_t sym = symbol::make_len(text, n);
    *out = Cell{type::issue, context::global, sym, uint32_t(-1)};
    return out;
}

namespace {
void register_plain(uint8_t t, uint8_t parent, const char* name) {
    datatype::Row row(datatype::unsupported);
    datatype::register_type({t, parent, name, row.handlers});
}
}  // namespace

void issue::register_type() { register_plain(type::issue, type::word, "issue!"); }
void tag::register_type() { register_plain(type::tag, type::string, "tag!"); }
void email::register_type() { register_plain(type::email, type::string, "email!"); }
void ref::register_type() { register_plain(type::ref, type::string, "ref!"); }

}  // namespace kel
