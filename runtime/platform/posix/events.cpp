#include "runtime/platform/events.hpp"

namespace kel::gui {

void do_events() {}

}  // namespace kel::gui
