#include "runtime/error.hpp"

#include "runtime/throws.hpp"

namespace kel::error {

Pending pending;

void fire(Category category, const char* id) {
    pending = {category, id};
    throws::throw_code(throws::error);
}

}  // namespace kel::error
