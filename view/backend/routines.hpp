// The gui context: the object Kel code reaches the back end through
// (system/view/platform), 35 words in a fixed slot order. Its routines take
// their arguments by their spec blocks and run the entry the active back
// end gives for their slot; with no back end (a platform without a display
// and no recording back end asked for) every routine raises
// not-available. A slot whose routine is not built yet holds none.
#pragma once
#include <cstdint>

#include "runtime/actions.hpp"
#include "runtime/cell.hpp"

namespace kel::view::routines {

// ORDER: the slots of the gui context.
enum Slot : uint32_t {
    mouse_event_q, make_null_handle, fetch_all_screens, get_current_screen, all_windows_closed_q,
    refresh_screens, get_screen_size, size_text, on_change_facet, update_text, update_font, update_para,
    destroy_view, detach_image, update_view, refresh_window, redraw, show_window, make_view, draw_image,
    draw_face, do_event_loop, exit_event_loop, request_font, request_file, request_dir, text_box_metrics,
    update_scroller, set_dark_mode, support_dark_mode_q, toggle_gpu, init, version, build, product,
    count,
};

// A back end: an entry per routine slot (null for the slots that are not
// routines).
struct Backend {
    const char* name;
    Entry entries[count];
};

// Builds the gui context over the back end (null: none available).
void make(const Backend* backend);
// The gui context object.
Cell object();
// The word of a slot (the error of a missing back end names it).
const char* name_of(Slot s);

}  // namespace kel::view::routines
