#include "view/start.hpp"

#include "environment/routines.hpp"
#include "runtime/context.hpp"
#include "runtime/datatypes/handle.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/platform/env.hpp"
#include "runtime/symbol.hpp"
#include "view/backend/event.hpp"
#include "view/backend/loop.hpp"
#include "view/backend/record/record.hpp"
#include "view/backend/record/view_record.hpp"
#include "view/backend/routines.hpp"
#include "view/backend/snapshot.hpp"
#include "view/backend/units.hpp"

namespace kel::view {

void register_types() {
    snapshot::reset();
    loop::reset();
    units::scale = 1.0;
    event::register_type();
    event::make_routines();
}

void start() {
    // KEL_VIEW=record: the display kept in memory; otherwise there is no
    // back end on this platform yet.
    if (sysrt::get_env("KEL_VIEW") == "record") {
        record::reset();
        record::install();
        routines::make(&record::backend);
        record::make_view_record();
    } else {
        routines::make(nullptr);
    }
    Cell system = *word::fetch(context::find_or_add_global(symbol::make("system")));
    if (const Cell* view = environment::field(system, "view"))
        if (Cell* platform = environment::field(*view, "platform")) {
            // The view system's sources left here the Kel functions that
            // fill three slots of the routine object.
            Cell made = routines::object();
            if (cell::is(platform, type::object))
                for (const char* name : {"all-windows-closed?", "refresh-screens", "init"})
                    if (const Cell* fn = environment::field(*platform, name))
                        *environment::field(made, name) = *fn;
            *platform = made;
        }
    // The parent handle of a view made without one.
    Cell null_word = *context::find_or_add_global(symbol::make("null-handle")), null_handle;
    handle::box(&null_handle, 0, handle::klass::none);
    word::set(&null_word, &null_handle);
}

}  // namespace kel::view
