// The C++ routine of the JSON decoder (environment/json.kel): decoding the
// escapes of a JSON string in place.
#pragma once

namespace kel::environment {

// Binds the routine to the global word json-unescape, which json.kel takes
// into its decoder object and then unsets. Runs before the boot sources.
void make_json_routines();

}  // namespace kel::environment
