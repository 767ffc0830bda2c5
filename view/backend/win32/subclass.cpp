// The procedures of the copied system classes: each keeps the window's data
// from WM_NCCREATE to WM_NCDESTROY, handles its own few messages and passes
// every other message to the procedure of the class it was copied from.
#include <windows.h>

#include "view/backend/win32/win32.hpp"

namespace kel::view::win32 {
namespace {

LRESULT pass_on(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    wchar_t name[32];
    WNDPROC original = GetClassNameW(w, name, 32) ? original_procedure(name) : DefWindowProcW;
    return CallWindowProcW(original, w, m, wp, lp);
}

// The data every copied class keeps; true when the message is consumed.
LRESULT common(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    if (m == WM_NCCREATE) {
        attach_face_data(w, lp);
    } else if (m == WM_NCDESTROY) {
        LRESULT r = pass_on(w, m, wp, lp);
        detach_data(w);
        return r;
    }
    return pass_on(w, m, wp, lp);
}

}  // namespace

LRESULT CALLBACK control_subclass(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    return guarded([&] { return common(w, m, wp, lp); });
}

LRESULT CALLBACK combo_subclass(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    return guarded([&] { return common(w, m, wp, lp); });
}

// A static control takes the mouse: it captures on a press and hit-tests as
// client area.
LRESULT CALLBACK text_subclass(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    return guarded([&]() -> LRESULT {
        switch (m) {
            case WM_LBUTTONDOWN: SetCapture(w); return 0;
            case WM_LBUTTONUP: ReleaseCapture(); return 0;
            case WM_NCHITTEST: return HTCLIENT;
            default: return common(w, m, wp, lp);
        }
    });
}

LRESULT CALLBACK calendar_subclass(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    return guarded([&] {
        if (m == WM_LBUTTONDOWN) SetFocus(w);
        return common(w, m, wp, lp);
    });
}

// Edit controls: Ctrl+A selects all in a multi-line one; a single-line one
// takes no Enter or Tab (no beep).
LRESULT CALLBACK edit_subclass(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    return guarded([&]() -> LRESULT {
        if (m == WM_CHAR) {
            bool multi = GetWindowLongW(w, GWL_STYLE) & ES_MULTILINE;
            if (multi && wp == 1) {
                SendMessageW(w, EM_SETSEL, 0, -1);
                return 1;
            }
            if (!multi && (wp == 13 || wp == 9)) return 0;
        }
        return common(w, m, wp, lp);
    });
}

}  // namespace kel::view::win32
