// The type predicates of the boot environment: routine! values whose code
// is C++ (block?, integer?, any-string?, series? ...), bound to global words.
#pragma once

namespace kel::environment {

// Makes every predicate and sets its word. A typeset predicate reads its
// typeset word at each call, so it follows a rebinding of that word.
void make_predicates();

}  // namespace kel::environment
