// Destroying a face's window tree: every face of the tree lets go of its
// window, and the face's own window is closed without asking Kel code.
#include <windows.h>

#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/value_slots.hpp"
#include "view/backend/win32/win32.hpp"

namespace kel::view::win32 {

void destroy_view(const Cell& face, bool post_close) {
    HWND w = face_window(face);
    if (!w) return;
    FaceType t = face_type(face);
    WindowData* d = data_of(w);
    // 1. A window disappears first.
    if (t == FaceType::window)
        SetWindowPos(w, nullptr, 0, 0, 0, 0, SWP_HIDEWINDOW | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER);
    // 2. Its timer stops; its font lets go of it.
    const Cell* rate = facet(face, "rate");
    if (rate && !cell::is(rate, type::none)) KillTimer(w, 1);
    unlink_font(face);
    // 3. The pane's faces, without closing messages of their own.
    if (const Cell* pane = facet(face, "pane"); pane && cell::is(pane, type::block)) {
        Cell kept = *pane;
        int32_t n = series::total_length(&kept);
        for (int32_t i = series::clamped_index(&kept); i < n; ++i) destroy_view(*block::ks_abs_at(&kept, i), false);
    }
    // 4. A panel goes at once.
    if (t == FaceType::group_box && d && d->aux) DestroyWindow(d->aux), d->aux = nullptr;
    // 5. A window's own font, its focus; it closes without asking.
    if (t == FaceType::window) {
        if (d && d->font) DeleteObject(d->font), d->font = nullptr;
        if (Cell* selected = facet(face, "selected")) cell::set_none(selected);
        if (d) d->close_direct = true;
    }
    // 6. The icon, the face reference and the face's state.
    d = data_of(w);
    if (d) {
        if (d->icon) DestroyIcon(d->icon), d->icon = nullptr;
        if (d->face_slot) value_slots::free(d->face_slot), d->face_slot = 0;
    }
    if (Cell* st = facet(face, "state")) cell::set_none(st);
    if (t == FaceType::panel) DestroyWindow(w);
    // 7. The face's own window closes.
    else if (post_close) PostMessageW(w, WM_CLOSE, 0, 0);
    raise_deferred();
}

}  // namespace kel::view::win32
