// triple!: form and mold write "make triple! [a b c]"; no other action.
#include "runtime/datatypes/triple.hpp"

#include <string>

#include "runtime/datatype.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/string.hpp"

namespace kel::triple {
namespace {

int32_t text(const Cell* v, Cell* out, int32_t limit) {
    std::string t = "make triple! [";
    for (uint32_t w : {v->payload1, v->payload2, v->payload3}) {
        if (t.back() != '[') t += ' ';
        t += integer::to_text(int32_t(w));
    }
    t += ']';
    string::append_ascii(out, t.data(), t.size());
    return limit - int32_t(t.size());
}
int32_t form(const Cell* v, Cell* out, const Cell*, int32_t limit) { return text(v, out, limit); }
int32_t mold(const Cell* v, Cell* out, bool, bool, bool, const Cell*, int32_t limit, int32_t) {
    return text(v, out, limit);
}

}  // namespace

void register_type() {
    datatype::Row row(datatype::unsupported);
    row.set(action::form, &form).set(action::mold, &mold);
    datatype::register_type({type::triple, 0, "triple!", row.handlers});
}

}  // namespace kel::triple
