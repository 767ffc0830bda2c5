#include "view/start.hpp"

#include "runtime/platform/env.hpp"
#include "view/backend/event.hpp"
#include "view/backend/loop.hpp"
#include "view/backend/record/record.hpp"
#include "view/backend/routines.hpp"
#include "view/backend/snapshot.hpp"
#include "view/backend/units.hpp"

namespace kel::view {

void start() {
    snapshot::reset();
    loop::reset();
    units::scale = 1.0;
    event::register_type();
    event::make_routines();
    // KEL_VIEW=record: the display kept in memory; otherwise there is no
    // back end on this platform yet.
    if (sysrt::get_env("KEL_VIEW") == "record") {
        record::reset();
        record::install();
        routines::make(&record::backend);
    } else {
        routines::make(nullptr);
    }
}

}  // namespace kel::view
