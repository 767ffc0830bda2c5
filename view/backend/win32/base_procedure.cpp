// The procedures of drawn faces: `base` and `rich-text` windows, the
// transparent carrier of a layered base's child windows, and the camera
// window (which only keeps its data here).
#include <windows.h>
#include <imm.h>

#include "runtime/collector.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/handle.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/tuple.hpp"
#include "view/backend/event.hpp"
#include "view/backend/win32/d2d.hpp"
#include "view/backend/win32/win32.hpp"

namespace kel::view::win32 {
namespace {

bool layered(HWND w) { return GetWindowLongW(w, GWL_EXSTYLE) & WS_EX_LAYERED; }

// Paints an opaque drawn face: with a draw block, through the Direct2D
// layer its background and the block; without one, its background, then its
// `drawing` event, whose actor draws into the open paint with draw-face.
// Without a device, its colour with GDI.
void paint(HWND w, const Cell& face) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(w, &ps);
    const Cell* draw = facet(face, "draw");
    bool has_block = draw && cell::is(draw, type::block);
    if (d2d::has_device() && has_block) {
        d2d::paint_window(w, face);
    } else if (d2d::has_device()) {
        bool open = d2d::begin_paint(w, face);
        MSG msg = own_message(w, WM_PAINT, 0, 0);
        dispatch(&msg, 0, event::code::drawing);
        if (open) d2d::end_paint(w);
    } else {
        RECT r{};
        GetClientRect(w, &r);
        COLORREF c;
        if (colorref_of(facet(face, "color"), &c)) {
            HBRUSH b = CreateSolidBrush(c);
            FillRect(dc, &r, b);
            DeleteObject(b);
        }
    }
    EndPaint(w, &ps);
}

// The input method composes in the face's font.
void composition_font(HWND w, const Cell& face) {
    const Cell* font = facet(face, "font");
    HFONT h = font && cell::is(font, type::object) ? native_font(*font, true) : state.default_font;
    LOGFONTW lf{};
    if (!h || !GetObjectW(h, sizeof lf, &lf)) return;
    if (HIMC context = ImmGetContext(w)) {
        ImmSetCompositionFontW(context, &lf);
        ImmReleaseContext(w, context);
    }
}

LRESULT base_messages(HWND w, UINT m, WPARAM wp, LPARAM lp) {
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
    bool has_face = d && face_of_window(w, &face);
    switch (m) {
        case WM_DESTROY:
            KillTimer(w, 1);
            d2d::release_window(w);
            if (d && (d->view_bits & 0x02)) DestroyCaret();
            break;
        case WM_SIZE:
            d2d::resize_window(w, LOWORD(lp), HIWORD(lp));
            if (has_face && layered(w)) {
                Sleep(16);
                refresh_drawn(w, face);
            }
            break;
        case WM_PAINT:
        case WM_DISPLAYCHANGE:
        case WM_PRINT:
        case WM_PRINTCLIENT:
            if (!has_face || layered(w) || m != WM_PAINT) break;
            paint(w, face);
            return 0;
        case WM_NCHITTEST: {
            LRESULT hit = DefWindowProcW(w, m, wp, lp);
            if (d && d->cursor) d->cursor_inside = hit == HTCLIENT;
            return hit;
        }
        case WM_SETCURSOR: {
            WindowData* u = data_of(reinterpret_cast<HWND>(wp));
            if (u && u->cursor && u->cursor_inside) {
                SetCursor(u->cursor);
                return 1;
            }
            break;
        }
        case WM_ERASEBKGND: return 1;
        case WM_MOUSEACTIVATE:
            if (layered(w)) {
                if (HWND parent = GetParent(w)) SetForegroundWindow(GetAncestor(parent, GA_ROOT));
                return MA_NOACTIVATE;
            }
            break;
        case WM_HSCROLL:
        case WM_VSCROLL:
            if (lp == 0 && has_face) {
                MSG msg = own_message(w, m, wp, lp);
                dispatch(&msg, 0, event::code::scroll);
                return 0;
            }
            break;
        case WM_LBUTTONDOWN:
            if (!d) break;
            if (++d->capture_count == 1) {
                SetCapture(w);
                return 0;
            }
            break;
        case WM_LBUTTONUP:
            if (d && d->capture_count >= 1) {
                --d->capture_count;
                ReleaseCapture();
                return 0;
            }
            break;
        case WM_IME_STARTCOMPOSITION:
            // Composed text comes as characters: key-down names no special key meanwhile.
            events.composition = 1;
            if (has_face) composition_font(w, face);
            break;
        case WM_IME_ENDCOMPOSITION: events.composition = 0; break;
        default: break;
    }
    return DefWindowProcW(w, m, wp, lp);
}

LRESULT internal_messages(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    switch (m) {
        case WM_NCCREATE: attach_data(w); break;
        case WM_NCDESTROY: detach_data(w); break;
        case WM_ERASEBKGND: {
            RECT r{};
            GetClientRect(w, &r);
            FillRect(reinterpret_cast<HDC>(wp), &r, GetSysColorBrush(COLOR_BTNFACE));
            return 1;
        }
        case WM_MOUSEACTIVATE: return MA_NOACTIVATE;
        case WM_NCHITTEST: return HTTRANSPARENT;
        default: break;
    }
    return DefWindowProcW(w, m, wp, lp);
}

// A drawn face whose colour now asks for transparency must become layered.
bool must_be_layered(const Cell& face) {
    FaceType t = face_type(face);
    const Cell* color = facet(face, "color");
    if (t == FaceType::base || t == FaceType::rich_text) return needs_transparency(color);
    return t == FaceType::window && (face_flags(face) & flag::no_border) && color &&
           cell::is(color, type::tuple) && needs_transparency(color);
}

// Makes the face's window again (now layered) under the same parent and at
// the same place in the z-order; the face's state holds the new handle.
HWND remake_layered(HWND window, const Cell& face) {
    HWND before = GetWindow(window, GW_HWNDPREV);
    HWND parent = GetParent(window);
    Cell* st = facet(face, "state");
    if (!st || !cell::is(st, type::block)) return nullptr;
    collector::RootCell kept{*st};
    destroy_view(face, false);
    DestroyWindow(window);
    raise_deferred();
    if (Cell* again = facet(face, "state")) *again = kept.cell;
    HWND made = make_view(face, parent);
    if (!made) return nullptr;
    Cell* h = block::ks_abs_at(&kept.cell, series::clamped_index(&kept.cell));
    handle::box(h, int32_t(intptr_t(made)), handle::klass::window);
    SetWindowPos(made, before ? before : HWND_TOP, 0, 0, 0, 0, 0x71B);
    return made;
}

}  // namespace

LRESULT CALLBACK base_procedure(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    return guarded([&] { return base_messages(w, m, wp, lp); });
}

LRESULT CALLBACK internal_procedure(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    return guarded([&] { return internal_messages(w, m, wp, lp); });
}

LRESULT CALLBACK camera_procedure(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    return guarded([&] {
        if (m == WM_NCCREATE) {
            attach_face_data(w, lp);
        } else if (m == WM_NCDESTROY) {
            detach_data(w);
        }
        return DefWindowProcW(w, m, wp, lp);
    });
}

// Refreshes a drawn face. An opaque one repaints. A layered one is pushed
// whole with UpdateLayeredWindow: the frame the Direct2D layer drew, or
// without a device its colour with the colour's transparency.
void refresh_drawn(HWND window, const Cell& face) {
    if (!(GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_LAYERED)) {
        if (!must_be_layered(face)) {
            InvalidateRect(window, nullptr, TRUE);
            return;
        }
        window = remake_layered(window, face);
        if (!window) return;
    }
    RECT r{};
    GetClientRect(window, &r);
    if (r.right <= 0 || r.bottom <= 0) return;
    SIZE size{r.right, r.bottom};
    POINT origin{0, 0};
    BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    if (d2d::has_device()) {
        d2d::paint_window(window, face, true);
        if (HDC frame = d2d::update_layered(window)) {
            UpdateLayeredWindow(window, state.screen_dc, nullptr, &size, frame, &origin, 0, &blend, ULW_ALPHA);
            return;
        }
    }
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = r.right;
    bi.bmiHeader.biHeight = -r.bottom;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(state.screen_dc);
    HBITMAP bitmap = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap) {
        DeleteDC(dc);
        return;
    }
    HGDIOBJ old = SelectObject(dc, bitmap);
    const Cell* color = facet(face, "color");
    COLORREF c;
    uint32_t pixel = 0;  // premultiplied BGRA; no colour: fully clear
    if (colorref_of(color, &c)) {
        uint32_t alpha = 255 - (tuple::length(color) >= 4 ? tuple::bytes(color)[3] : 0);
        pixel = alpha << 24 | (GetRValue(c) * alpha / 255) << 16 | (GetGValue(c) * alpha / 255) << 8 |
                (GetBValue(c) * alpha / 255);
    }
    auto* p = static_cast<uint32_t*>(bits);
    for (LONG i = 0, n = r.right * r.bottom; i < n; ++i) p[i] = pixel;
    UpdateLayeredWindow(window, state.screen_dc, nullptr, &size, dc, &origin, 0, &blend, ULW_ALPHA);
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
}

}  // namespace kel::view::win32
