// The procedure of window and panel faces: the window-level messages
// (sizing, moving, activation, closing, cursor, limits, state changes, the
// display, the window's own scroll bars, capture) become events.
#include <windows.h>
#include <windowsx.h>

#include "environment/routines.hpp"
#include "runtime/call.hpp"
#include "runtime/collector.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"
#include "view/backend/event.hpp"
#include "view/backend/win32/d2d.hpp"
#include "view/backend/win32/win32.hpp"

namespace kel::view::win32 {
namespace {

int send(HWND w, UINT m, WPARAM wp, LPARAM lp, uint32_t type, uint32_t flags = 0) {
    MSG msg = own_message(w, m, wp, lp);
    return dispatch(&msg, flags, type);
}

// The outer top-left corner relative to the client area, computed once.
void know_frame(HWND w, WindowData* d) {
    if (d->frame_known) return;
    int32_t ox, oy, ew, eh;
    if (frame_offsets(w, &ox, &oy, &ew, &eh)) {
        d->frame_x = ox;
        d->frame_y = oy;
        d->frame_known = true;
    }
}

void call_refresh_screens() {
    Cell gui = routines::object();
    const Cell* fn = environment::field(gui, "refresh-screens");
    if (!fn || !cell::is(fn, type::function)) return;
    Cell f = *fn, name;
    word::make_in(symbol::make("refresh-screens"), &name);
    Cell* args = stack::args;
    Cell* top = stack::top;
    stack::mark_barrier(nullptr);
    uint32_t raised = throws::protect(throws::error, [&] {
        call::with_values(f, name, nullptr, 0);
        stack::unwind_drop();
    });
    if (raised && raised != throws::error) throws::throw_code(raised);
    stack::args = args;
    stack::top = top;
}

// WM_MOVE and WM_SIZE of a window face: its offset or size, then the event.
LRESULT moved_or_sized(HWND w, UINT m, WPARAM wp, LPARAM lp, const Cell& face, WindowData* d) {
    if (m == WM_SIZE && wp == SIZE_MINIMIZED) return 0;
    if (m == WM_MOVE && IsIconic(w)) return 0;
    int32_t x = GET_X_LPARAM(lp), y = GET_Y_LPARAM(lp);
    if (x < -9999 && y < -9999) return 0;
    LPARAM value;
    if (m == WM_MOVE) {
        know_frame(w, d);
        d->origin_x = x;
        d->origin_y = y;
        int32_t ox = x + d->frame_x, oy = y + d->frame_y;
        set_point(facet(face, "offset"), ox, oy, false);
        value = MAKELPARAM(ox, oy);
    } else {
        set_point(facet(face, "size"), x, y, d->view_bits & 0x10);
        value = lp;
    }
    send(w, m, wp, value, m == WM_MOVE ? event::code::move : event::code::resize);
    return 0;
}

LRESULT main_messages(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    if (m == WM_NCCREATE) {
        attach_face_data(w, lp);
        return DefWindowProcW(w, m, wp, lp);
    }
    if (m == WM_NCDESTROY) {
        detach_data(w);
        return DefWindowProcW(w, m, wp, lp);
    }
    WindowData* d = data_of(w);
    Cell face;
    if (!d || !face_of_window(w, &face)) return DefWindowProcW(w, m, wp, lp);
    bool window_face = face_type(face) == FaceType::window;
    switch (m) {
        case WM_DESTROY:
            KillTimer(w, 1);
            d2d::release_window(w);
            if (d->font) DeleteObject(d->font), d->font = nullptr;
            if (d->icon) DestroyIcon(d->icon), d->icon = nullptr;
            break;
        case WM_SIZE:
            d2d::resize_window(w, LOWORD(lp), HIWORD(lp));
            if (GetWindowLongW(w, GWL_EXSTYLE) & WS_EX_LAYERED) refresh_drawn(w, face);
            else InvalidateRect(w, nullptr, TRUE);
            if (window_face) return moved_or_sized(w, m, wp, lp, face, d);
            break;
        case WM_MOVE:
            if (window_face) return moved_or_sized(w, m, wp, lp, face, d);
            break;
        case WM_ACTIVATE:
            if (!window_face) break;
            if (LOWORD(wp) != WA_INACTIVE) {
                dpi_from_window(w);
                send(w, m, wp, lp, event::code::focus);
                give_focus(face);
                return 0;
            }
            send(w, m, wp, lp, event::code::unfocus);
            break;
        case WM_CLOSE:
            if (d->close_direct) {
                events.current = nullptr;
                break;
            }
            if (!window_face) break;
            SetFocus(w);
            if (!send(w, m, wp, lp, event::code::close)) {
                events.current = nullptr;
                PostQuitMessage(0);
            }
            return 0;
        case WM_PAINT: {
            // A draw block is drawn as a layered frame and copied in.
            const Cell* draw = facet(face, "draw");
            if (!draw || !cell::is(draw, type::block) || !d2d::has_device()) break;
            d2d::paint_window(w, face, true);
            HDC frame = d2d::update_layered(w);
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(w, &ps);
            RECT r{};
            GetClientRect(w, &r);
            if (frame) BitBlt(dc, 0, 0, r.right, r.bottom, frame, 0, 0, SRCCOPY);
            EndPaint(w, &ps);
            return 0;
        }
        case WM_ERASEBKGND: {
            const Cell* draw = facet(face, "draw");
            if (draw && cell::is(draw, type::block)) return 1;
            if (paint_background(w, reinterpret_cast<HDC>(wp), face)) return 1;
            break;
        }
        case WM_SETCURSOR: {
            HWND under = reinterpret_cast<HWND>(wp);
            WindowData* u = data_of(under);
            if (!u || !u->cursor) break;
            Cell f;
            if (face_of_window(under, &f) &&
                (face_type(f) == FaceType::base || face_type(f) == FaceType::rich_text) && !u->cursor_inside)
                return 0;
            SetCursor(u->cursor);
            return 1;
        }
        case WM_GETMINMAXINFO: {
            double sw, sh;
            if (!numbers_of(facet(face, "size"), &sw, &sh)) break;
            RECT r{0, 0, px(sw), px(sh)};
            AdjustWindowRectEx(&r, DWORD(GetWindowLongW(w, GWL_STYLE)), GetMenu(w) != nullptr,
                               DWORD(GetWindowLongW(w, GWL_EXSTYLE)));
            auto* info = reinterpret_cast<MINMAXINFO*>(lp);
            LONG need_w = r.right - r.left, need_h = r.bottom - r.top;
            bool raised = false;
            if (info->ptMaxSize.x < need_w || info->ptMaxSize.y < need_h ||
                info->ptMaxTrackSize.x < need_w || info->ptMaxTrackSize.y < need_h) {
                info->ptMaxSize.x = std::max(info->ptMaxSize.x, need_w);
                info->ptMaxSize.y = std::max(info->ptMaxSize.y, need_h);
                info->ptMaxTrackSize.x = std::max(info->ptMaxTrackSize.x, need_w);
                info->ptMaxTrackSize.y = std::max(info->ptMaxTrackSize.y, need_h);
                raised = true;
            }
            if (raised) return 0;
            break;
        }
        case WM_WINDOWPOSCHANGED: {
            auto* pos = reinterpret_cast<WINDOWPOS*>(lp);
            if (!window_face || !(pos->flags & 0x8000 /* SWP_STATECHANGED */)) break;
            if (IsIconic(w)) {
                send(w, m, wp, lp, event::code::minimize);
            } else {
                RECT c{};
                GetClientRect(w, &c);
                POINT origin{0, 0};
                ClientToScreen(w, &origin);
                know_frame(w, d);
                set_point(facet(face, "size"), c.right, c.bottom, d->view_bits & 0x10);
                set_point(facet(face, "offset"), origin.x + d->frame_x, origin.y + d->frame_y, false);
                send(w, m, wp, lp,
                     (GetWindowLongW(w, GWL_STYLE) & WS_MAXIMIZE) ? event::code::maximize : event::code::restore);
            }
            break;
        }
        case WM_DISPLAYCHANGE:
            call_refresh_screens();
            RedrawWindow(w, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
            break;
        case WM_HSCROLL:
        case WM_VSCROLL:
            if (lp == 0) send(w, m, wp, lp, event::code::scroll);
            return 0;
        case WM_LBUTTONDOWN:
            SetCapture(w);
            return 0;
        case WM_LBUTTONUP:
            ReleaseCapture();
            return 0;
        case WM_MOVING:
        case WM_SIZING: {
            if (!window_face) break;
            auto* r = reinterpret_cast<RECT*>(lp);
            int32_t ox, oy, ew, eh;
            if (!frame_offsets(w, &ox, &oy, &ew, &eh)) ox = oy = ew = eh = 0;
            if (m == WM_MOVING) {
                set_point(facet(face, "offset"), r->left, r->top, d->view_bits & 0x10);
                d->sizing_kind = event::code::moving;
            } else {
                set_point(facet(face, "size"), r->right - r->left - ew, r->bottom - r->top - eh,
                          d->view_bits & 0x10);
                d->sizing_kind = event::code::resizing;
            }
            send(w, m, wp, lp, d->sizing_kind);
            return 1;
        }
        case WM_ENTERSIZEMOVE:
            if (window_face) d->in_size_move = true;
            break;
        case WM_EXITSIZEMOVE:
            if (!window_face) break;
            d->in_size_move = false;
            send(w, m, wp, lp, d->sizing_kind == event::code::moving ? event::code::move : event::code::resize);
            return 0;
        case WM_USER + 2: {
            if (wp == event::code::minimize) SendMessageW(w, WM_SYSCOMMAND, SC_MINIMIZE, 0);
            else if (wp == event::code::maximize) SendMessageW(w, WM_SYSCOMMAND, SC_MAXIMIZE, 0);
            else if (wp == event::code::restore) {
                if (IsIconic(w) || IsZoomed(w)) ShowWindow(w, SW_SHOWNORMAL);
                SetForegroundWindow(w);
                give_focus(face);
            }
            return 0;
        }
        default: break;
    }
    return DefWindowProcW(w, m, wp, lp);
}

}  // namespace

LRESULT CALLBACK main_procedure(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    return guarded([&] { return main_messages(w, m, wp, lp); });
}

bool paint_background(HWND window, HDC dc, const Cell& face) {
    RECT r{};
    GetClientRect(window, &r);
    COLORREF c;
    if (colorref_of(facet(face, "color"), &c)) {
        HBRUSH b = CreateSolidBrush(c);
        FillRect(dc, &r, b);
        DeleteObject(b);
        return true;
    }
    if (GetWindowLongW(window, GWL_STYLE) & WS_CHILD) return false;
    FillRect(dc, &r, GetSysColorBrush(COLOR_BTNFACE));
    return true;
}

}  // namespace kel::view::win32
