#include "runtime/error.hpp"

#include <initializer_list>

#include "runtime/exits.hpp"
#include "runtime/stack.hpp"
#include "runtime/throws.hpp"

namespace kel::error {

Pending pending;

void fire(Id id, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
    Pending p;
    p.category = id.category;
    p.id = id.name;
    for (const Cell* a : {arg1, arg2, arg3}) {
        if (!a) break;
        p.args[p.arg_count++] = *a;
    }
    pending = p;
    if (stack::frames) stack::throw_error();
    throws::throw_code(throws::error);
}

void fire(Category category, const char* id) { fire(Id{category, id}); }

void fire_bad_make_arg(const Cell* value1, const Cell* value2) { fire(id::bad_make_arg, value1, value2); }

}  // namespace kel::error
