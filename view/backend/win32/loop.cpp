// The event loop and its pre-filter: keyboard and mouse input becomes
// events before the message is translated, so that a handler answering
// `stop` swallows it.
#include <windows.h>
#include <windowsx.h>

#include "view/backend/event.hpp"
#include "view/backend/loop.hpp"
#include "view/backend/win32/win32.hpp"

namespace kel::view::win32 {
namespace {

// Mouse key-state bits of a message's wParam as event flags.
uint32_t mouse_flags(WPARAM wp) {
    uint32_t f = 0;
    if (wp & MK_LBUTTON) f |= event::flag::down;
    if (wp & MK_RBUTTON) f |= event::flag::alt_down;
    if (wp & MK_SHIFT) f |= event::flag::shift;
    if (wp & MK_CONTROL) f |= event::flag::control;
    if (wp & MK_MBUTTON) f |= event::flag::mid_down;
    if (wp & (MK_XBUTTON1 | MK_XBUTTON2)) f |= event::flag::aux_down;
    return f;
}

bool modifier_key(int32_t vk) { return vk == 0x10 || vk == 0x11 || (vk >= 0xA0 && vk <= 0xA5); }

bool is_base_window(HWND w) {
    Cell face;
    if (!face_of_window(w, &face)) return false;
    FaceType t = face_type(face);
    return t == FaceType::base || t == FaceType::rich_text;
}

// A face is enabled when it and every parent have `enabled?` true.
bool face_enabled(const Cell& face) {
    Cell f = face;
    for (int depth = 0; depth < 64 && cell::is(&f, type::object); ++depth) {
        const Cell* e = facet(f, "enabled?");
        if (!e || !cell::is(e, type::logic) || !cell::logic(e)) return false;
        const Cell* p = facet(f, "parent");
        if (!p) break;
        f = *p;
    }
    return true;
}

// Runs a pre-filter step with the message as the current one.
int as_current(MSG* msg, uint32_t flags, uint32_t type) {
    MSG* saved = events.current;
    events.current = msg;
    int r = dispatch(msg, flags, type);
    events.current = saved;
    return r;
}

}  // namespace

int prefilter(MSG* msg) {
    using namespace event::code;
    uint32_t flags = mouse_flags(msg->wParam) | live_flags(false);
    switch (msg->message) {
        case WM_KEYDOWN: {
            int r = as_current(msg, 0, key_down);
            if (r && events.special_key != -1 && !modifier_key(events.special_key)) r = as_current(msg, 0, key);
            return r;
        }
        case WM_SYSKEYDOWN: return as_current(msg, 0, key_down);
        case WM_KEYUP:
        case WM_SYSKEYUP: return as_current(msg, 0, key_up);
        case WM_CHAR:
            events.special_key = -1;
            return as_current(msg, 0, key);
        case WM_MOUSEMOVE: {
            if (msg->wParam & 0x8000) {
                msg->wParam &= ~WPARAM(0x8000);
                if (IsWindowEnabled(msg->hwnd)) as_current(msg, mouse_flags(msg->wParam) | live_flags(false), over);
                return 1;
            }
            if (msg->lParam == events.last_mouse) return 0;
            events.last_mouse = msg->lParam;
            if (IsWindowEnabled(msg->hwnd)) {
                WindowData* d = data_of(msg->hwnd);
                bool all_over = d && (d->face_flags & flag::all_over);
                if (msg->hwnd != events.tracked || all_over) {
                    if (msg->hwnd != events.tracked) {
                        TRACKMOUSEEVENT t{sizeof t, TME_LEAVE, msg->hwnd, 0};
                        TrackMouseEvent(&t);
                    }
                    as_current(msg, flags, over);
                }
                events.tracked = msg->hwnd;
            }
            return 1;
        }
        case WM_LBUTTONDOWN: {
            events.menu_position = false;
            HWND was = events.pressed;
            events.pressed = msg->hwnd;
            int r = as_current(msg, flags, down);
            events.pressed = was;
            return r;
        }
        case WM_LBUTTONUP: {
            bool synthetic = msg->wParam & 0x8000;
            msg->wParam &= ~WPARAM(0x8000);
            HWND was = events.released;
            events.released = msg->hwnd;
            if (GetCapture() == msg->hwnd && is_base_window(msg->hwnd)) ReleaseCapture();
            int r = as_current(msg, mouse_flags(msg->wParam) | live_flags(false), up);
            events.released = was;
            Cell face;
            if (synthetic && face_of_window(msg->hwnd, &face) && !face_enabled(face))
                SendMessageW(msg->hwnd, BM_SETSTATE, 0, 0);
            return r;
        }
        case WM_LBUTTONDBLCLK:
            as_current(msg, 0, down);
            as_current(msg, flags, dbl_click);
            return 1;
        case WM_RBUTTONDOWN: {
            if (GetCapture()) return 1;
            events.menu_client = POINT{GET_X_LPARAM(msg->lParam), GET_Y_LPARAM(msg->lParam)};
            events.menu_screen = events.menu_client;
            ClientToScreen(msg->hwnd, &events.menu_screen);
            events.menu_position = true;
            return as_current(msg, flags, alt_down);
        }
        case WM_RBUTTONUP: return as_current(msg, flags, alt_up);
        case WM_MBUTTONDOWN: return as_current(msg, flags, mid_down);
        case WM_MBUTTONUP: return as_current(msg, flags, mid_up);
        case WM_MOUSEWHEEL:
            return as_current(msg, mouse_flags(GET_KEYSTATE_WPARAM(msg->wParam)) | live_flags(false), wheel);
        case WM_XBUTTONDOWN: return as_current(msg, flags, aux_down);
        case WM_XBUTTONUP: return as_current(msg, flags, aux_up);
        case WM_MOUSELEAVE:
            events.last_mouse = -1;
            as_current(msg, flags | event::flag::away, over);
            if (events.tracked == msg->hwnd) events.tracked = nullptr;
            return 1;
        default: return 1;
    }
}

bool event_loop(bool no_wait) {
    int32_t saved_modifiers = events.forced_modifiers;
    events.forced_modifiers = -1;
    bool processed = false;
    if (!no_wait) ++loop::depth;
    MSG msg;
    while (no_wait ? PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE) > 0 : GetMessageW(&msg, nullptr, 0, 0) > 0) {
        processed = true;
        if (prefilter(&msg) >= 1) {
            MSG* saved = events.current;
            events.current = &msg;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
            events.current = saved;
        }
        if (no_wait) {
            events.forced_modifiers = saved_modifiers;
            raise_deferred();
            return true;
        }
        raise_deferred();
    }
    if (!no_wait && loop::end_blocking()) PostQuitMessage(0);
    events.forced_modifiers = saved_modifiers;
    raise_deferred();
    return processed;
}

}  // namespace kel::view::win32
