#include "runtime/datatypes/tuple.hpp"

#include <algorithm>
#include <string>

#include "runtime/datatype.hpp"
#include "runtime/datatypes/string.hpp"

namespace kel::tuple {

Cell* box_bytes(Cell* out, const uint8_t* b, uint32_t n) {
    if (n > max_length) n = max_length;
    uint32_t len = n < 3 ? 3 : n;
    *out = Cell{type::tuple | len << length_shift, 0, 0, 0};
    uint8_t* dest = bytes(out);
    for (uint32_t i = 0; i < n; ++i) dest[i] = b[i];
    return out;
}

bool zero_q(const Cell* t) {
    for (uint32_t i = 0; i < length(t); ++i)
        if (bytes(t)[i]) return false;
    return true;
}

namespace {

int32_t text(const Cell* t, Cell* out, int32_t limit) {
    std::string s;
    for (uint32_t i = 0; i < length(t); ++i) {
        if (i) s += '.';
        s += std::to_string(bytes(t)[i]);
    }
    string::append_ascii(out, s.data(), s.size());
    return limit - int32_t(s.size());
}

}  // namespace

int32_t form(const Cell* value, Cell* out, const Cell*, int32_t limit) { return text(value, out, limit); }

int32_t mold(const Cell* value, Cell* out, bool, bool, bool, const Cell*, int32_t limit, int32_t) {
    return text(value, out, limit);
}

// Byte by byte over the longer length, a missing byte counting as 0; the
// same answer serves every op code.
int32_t compare(const Cell* a, const Cell* b, int32_t) {
    if (!cell::is(b, type::tuple)) return -2;
    uint32_t n = std::max(length(a), length(b));
    for (uint32_t i = 0; i < n; ++i) {
        uint8_t x = i < length(a) ? bytes(a)[i] : 0, y = i < length(b) ? bytes(b)[i] : 0;
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

void register_type() {
    datatype::Row row(datatype::unsupported);
    row.set(action::form, &form).set(action::mold, &mold).set(action::compare, &compare);
    datatype::register_type({type::tuple, 0, "tuple!", row.handlers});
}

}  // namespace kel::tuple
