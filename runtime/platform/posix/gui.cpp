#include "runtime/platform/gui.hpp"

namespace kel::gui {

void do_events() {}

}  // namespace kel::gui
