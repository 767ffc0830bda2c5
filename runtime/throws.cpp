#include "runtime/throws.hpp"
#include "runtime/system.hpp"

namespace kel::throws {

void throw_code(uint32_t code) {
    sys::record.throw_code = code;
    throw Throw{code};
}

void clear_current() { sys::record.throw_code = 0; }

}  // namespace kel::throws
