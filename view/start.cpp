#include "view/start.hpp"

#include "view/backend/event.hpp"
#include "view/backend/snapshot.hpp"

namespace kel::view {

void start() {
    snapshot::reset();
    event::register_type();
    event::make_routines();
}

}  // namespace kel::view
