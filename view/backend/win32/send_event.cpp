// send-event-os: a made event as the native message its face's window
// would receive, posted or run at once through the pre-filter and the
// window procedure.
#include <windows.h>

#include "environment/routines.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/stack.hpp"
#include "view/backend/event.hpp"
#include "view/backend/win32/win32.hpp"

namespace kel::view::win32 {
namespace {

struct Native {
    uint32_t code;
    UINT message;
    WPARAM start;
};
constexpr Native natives[] = {
    {event::code::down, WM_LBUTTONDOWN, MK_LBUTTON},     {event::code::up, WM_LBUTTONUP, 0},
    {event::code::mid_down, WM_MBUTTONDOWN, MK_MBUTTON}, {event::code::mid_up, WM_MBUTTONUP, 0},
    {event::code::alt_down, WM_RBUTTONDOWN, MK_RBUTTON}, {event::code::alt_up, WM_RBUTTONUP, 0},
    {event::code::aux_down, WM_XBUTTONDOWN, 0x10020},    {event::code::aux_up, WM_XBUTTONUP, 0x10000},
    {event::code::dbl_click, WM_LBUTTONDBLCLK, MK_LBUTTON}, {event::code::wheel, WM_MOUSEWHEEL, 0},
    {event::code::over, WM_MOUSEMOVE, 0},                 {event::code::key, WM_CHAR, 0},
    {event::code::key_down, WM_KEYDOWN, 0},               {event::code::key_up, WM_KEYUP, 0},
};

bool send_event(const Cell& e, bool queued) {
    if (!(e.header & cell::event_block_flag)) return false;
    Cell face;
    event::get_field(&e, event::field::face, &face);
    HWND w = face_window(face);
    if (!w) return false;
    uint32_t code = e.payload1, bits = e.payload3;
    if (code >= event::code::minimize && code <= event::code::restore) {
        if (face_type(face) != FaceType::window) return false;
        LONG style = GetWindowLongW(w, GWL_STYLE);
        if (code == event::code::minimize && !(style & WS_MINIMIZEBOX)) return false;
        if (code == event::code::maximize && !(style & WS_MAXIMIZEBOX)) return false;
        if (queued) return PostMessageW(w, WM_USER + 2, code, 0), true;
        SendMessageW(w, WM_USER + 2, code, 0);
        raise_deferred();
        return true;
    }
    const Native* n = nullptr;
    for (const Native& x : natives)
        if (x.code == code) n = &x;
    if (!n) return false;
    UINT message = n->message;
    WPARAM wp = n->start;
    LPARAM lp = 0;
    bool mouse = code != event::code::key && code != event::code::key_down && code != event::code::key_up;
    if (code == event::code::over && (bits & event::flag::away)) message = WM_MOUSELEAVE;
    POINT screen{0, 0};
    if (mouse) {
        if (bits & event::flag::control) wp |= MK_CONTROL;
        if (bits & event::flag::shift) wp |= MK_SHIFT;
        if (bits & event::flag::down) wp |= MK_LBUTTON;
        if (bits & event::flag::alt_down) wp |= MK_RBUTTON;
        if (bits & event::flag::mid_down) wp |= MK_MBUTTON;
        if (bits & event::flag::aux_down) wp |= MK_XBUTTON1;
        Cell offset;
        event::get_field(&e, event::field::offset, &offset);
        double x, y;
        if (numbers_of(&offset, &x, &y)) {
            POINT p{px(x), px(y)};
            screen = p;
            ClientToScreen(w, &screen);
            if (code == event::code::wheel || message == WM_MOUSELEAVE) p = screen;
            lp = MAKELPARAM(p.x, p.y);
        }
        if (code == event::code::wheel) {
            Cell picked;
            event::get_field(&e, event::field::picked, &picked);
            if (cell::is(&picked, type::integer)) wp += WPARAM(uint32_t(cell::integer(&picked) * 120) << 16);
        }
        if (message == WM_MOUSEMOVE) events.last_mouse = -1;
        if (message == WM_MOUSEMOVE || message == WM_LBUTTONUP) wp |= 0x8000;
    } else {
        uint32_t key = bits & 0xFFFF;
        wp = code == event::code::key ? key : WPARAM(VkKeyScanW(wchar_t(key)) & 0xFF);
    }
    if (queued) return PostMessageW(w, message, wp, lp), true;
    MSG msg{w, message, wp, lp, 0, screen};
    int32_t saved_modifiers = events.forced_modifiers;
    if (!mouse) events.forced_modifiers = int32_t(bits & 0x73C00000);
    if (prefilter(&msg) >= 1) {
        MSG* saved = events.current;
        events.current = &msg;
        DispatchMessageW(&msg);
        events.current = saved;
    }
    events.forced_modifiers = saved_modifiers;
    raise_deferred();
    return true;
}

uint32_t send_event_os(const Call&) {
    Cell e = stack::args[0];
    bool queued = cell::logic(stack::args + 1);
    cell::set_logic(stack::args, send_event(e, queued));
    return 0;
}

}  // namespace

void make_send_event_routine() {
    environment::define_routine("send-event-os", "[event [event!] queued? [logic!] return: [logic!]]", send_event_os);
}

}  // namespace kel::view::win32
