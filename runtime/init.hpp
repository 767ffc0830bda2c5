#pragma once

namespace kel::runtime {

// Brings the language runtime from nothing to the state in which words can
// be made. Leaves the root-recording flag on.
void init();

}  // namespace kel::runtime
