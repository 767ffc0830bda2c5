// Storage of the natives table; the native modules fill it (natives.hpp).
#include "runtime/natives/natives.hpp"

namespace kel::natives {

Entry table[count] = {};

}  // namespace kel::natives
