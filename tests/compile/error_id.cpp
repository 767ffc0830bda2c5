// Compiled, never linked, by the ctest entries error-id.*: an error is named
// by a constant of runtime/error_ids.def and in no other way, so a wrong
// name fails the build instead of making an invalid error at run time.
#include "runtime/error.hpp"

void raise_named_error() {
#ifdef KEL_LITERAL
    kel::error::fire(kel::error::Id{kel::error::Category::script, "invalid-arg"});
#else
    kel::error::fire(kel::error::id::KEL_ID);
#endif
}
