// Native view updates: a face's pending changes applied to its window in a
// fixed order, series changes of its facets, attaching and detaching
// children, restacking a pane, and the face timer.
#include <windows.h>

#include <algorithm>

#include <cmath>
#include <string>

#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/error.hpp"
#include "runtime/symbol.hpp"
#include "runtime/unicode.hpp"
#include "view/backend/event.hpp"
#include "view/backend/win32/win32.hpp"

namespace kel::view::win32 {
namespace {

// Change bits: bit n stands for facet n of the face.
namespace bit {
constexpr uint32_t offset = 1u << 1, size = 1u << 2, text = 1u << 3, image = 1u << 4, color = 1u << 5,
                   menu = 1u << 6, data = 1u << 7, enabled = 1u << 8, visible = 1u << 9, selected = 1u << 10,
                   flags = 1u << 11, options = 1u << 12, pane = 1u << 14, rate = 1u << 16, para = 1u << 18,
                   font = 1u << 19, draw = 1u << 22;
}

bool drawn(FaceType t) {
    return t == FaceType::base || t == FaceType::rich_text || t == FaceType::window || t == FaceType::panel;
}

// Redraws a face: the drawn content of a drawn face, else the window.
void redraw(HWND w, FaceType t, const Cell& face) {
    if (drawn(t)) refresh_drawn(w, face);
    else InvalidateRect(w, nullptr, TRUE);
}

Cell* pending_bits(const Cell& face) {
    Cell* st = facet(face, "state");
    if (!st || !cell::is(st, type::block) || series::length_from(st) < 2) return nullptr;
    Cell* bits = block::ks_abs_at(st, series::clamped_index(st) + 1);
    return cell::is(bits, type::integer) ? bits : nullptr;
}

void apply_offset(HWND w, FaceType t, const Cell& face) {
    Cell* offset = facet(face, "offset");
    double x, y;
    if (!numbers_of(offset, &x, &y)) return;
    if (cell::is(offset, type::pair)) set_point(offset, px(x), px(y), false), numbers_of(offset, &x, &y);
    if (t == FaceType::window) {
        double sw = 0, sh = 0;
        numbers_of(facet(face, "size"), &sw, &sh);
        dpi_from_rect(x, y, sw, sh);
    }
    WindowData* d = data_of(w);
    if (t == FaceType::base && d && (d->view_bits & 0x02)) SetCaretPos(px(x), px(y));
    SetWindowPos(w, nullptr, px(x), px(y), 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    if (t == FaceType::window) dpi_from_window(w);
}

void apply_size(HWND w, FaceType t, const Cell& face, WindowData* d) {
    const Cell* size = facet(face, "size");
    double sw, sh;
    if (!numbers_of(size, &sw, &sh)) return;
    if (d) d->view_bits = cell::is(size, type::pair) ? d->view_bits | 0x10 : d->view_bits & ~0x10u;
    int32_t cx = px(sw), cy = px(sh);
    if (t == FaceType::window) {
        int32_t ox, oy, ew, eh;
        if (frame_offsets(w, &ox, &oy, &ew, &eh)) cx += ew, cy += eh;
    }
    SetWindowPos(w, nullptr, 0, 0, cx, cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void apply_text(HWND w, FaceType t, const Cell& face) {
    if (t == FaceType::base || (t == FaceType::window && (GetWindowLongW(w, GWL_EXSTYLE) & WS_EX_LAYERED))) {
        refresh_drawn(w, face);
        return;
    }
    if (t == FaceType::rich_text) {
        InvalidateRect(w, nullptr, FALSE);
        return;
    }
    std::wstring text;
    const Cell* v = facet(face, "text");
    if (v && cell::is(v, type::string))
        for (char16_t c : unicode::utf8_to_utf16(string::to_utf8(v))) {
            if (c == u'\n') text += L'\r';
            text += wchar_t(c);
        }
    SetWindowTextW(w, text.c_str());
}

void apply_visible(HWND w, FaceType t, const Cell& face, WindowData* d) {
    const Cell* v = facet(face, "visible?");
    bool show = v && cell::is(v, type::logic) && cell::logic(v);
    if (show && t == FaceType::window && !IsWindowVisible(w) && d) d->not_shown = true;
    if (t == FaceType::base && d && (d->view_bits & 0x02)) {
        if (!show) {
            DestroyCaret();
        } else if (d->caret_window) {
            double x = 0, y = 0, cw = 1, ch = 1;
            numbers_of(facet(face, "offset"), &x, &y);
            numbers_of(facet(face, "size"), &cw, &ch);
            if (CreateCaret(d->caret_window, nullptr, px(cw), px(ch))) SetCaretPos(px(x), px(y));
        }
    }
    ShowWindow(w, !show ? SW_HIDE : t == FaceType::base ? SW_SHOWNA : SW_SHOW);
}

void apply_selected(HWND w, FaceType t, const Cell& face) {
    if (t != FaceType::window) return;
    const Cell* s = facet(face, "selected");
    if (s && cell::is(s, type::object)) {
        if (HWND f = face_window(*s)) SetFocus(f);
    } else if (s && cell::is(s, type::none)) {
        SetFocus(w);
    }
}

// Every face of a pane that has a window, in order.
template <class Each>
void each_pane_face(const Cell* pane, Each&& each) {
    if (!pane || !cell::is(pane, type::block)) return;
    int32_t n = series::total_length(pane);
    for (int32_t i = series::clamped_index(pane); i < n; ++i) {
        Cell f = *block::ks_abs_at(pane, i);
        if (HWND w = face_window(f)) each(f, w);
    }
}

void restack(const Cell* pane, HDWP batch) {
    bool outer = !batch;
    if (outer) batch = BeginDeferWindowPos(std::max<int32_t>(1, series::length_from(pane)));
    each_pane_face(pane, [&](const Cell& f, HWND w) {
        if (batch) batch = DeferWindowPos(batch, w, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE);
        if (face_type(f) == FaceType::tab_panel) restack(facet(f, "pane"), batch);
    });
    if (outer && batch) EndDeferWindowPos(batch);
}

void attach(const Cell& child, const Cell& parent, bool on) {
    HWND w = face_window(child);
    if (!w) return;
    if (face_type(parent) == FaceType::tab_panel) return;
    Cell logic;
    cell::set_logic(&logic, on);
    if (Cell* v = facet(child, "visible?")) *v = logic;
    if (on) {
        SetParent(w, face_window(parent));
    } else {
        ShowWindow(w, SW_HIDE);
        SetParent(w, nullptr);
    }
    show_window(w);
}

VOID CALLBACK timer_procedure(HWND w, UINT, UINT_PTR, DWORD) {
    guarded([&]() -> LRESULT {
        MSG own = own_message(w, WM_TIMER, 1, 0);
        MSG* saved = events.current;
        events.current = &own;
        dispatch(&own, 0, event::code::time);
        events.current = saved;
        return 0;
    });
}

}  // namespace

void set_rate(HWND window, const Cell* rate) {
    if (!rate || cell::is(rate, type::none)) {
        KillTimer(window, 1);
        return;
    }
    UINT ms = 0;
    if (cell::is(rate, type::integer)) {
        int32_t n = cell::integer(rate);
        if (n < 1) error::fire(error::id::invalid_facet_type, rate);
        ms = UINT(1000 / n);
    } else if (cell::is(rate, type::time)) {
        double t = cell::real(rate);
        // A NaN is no time; a time past the timer's range waits the longest it can.
        if (std::isnan(t) || !(t > 0.0)) error::fire(error::id::invalid_facet_type, rate);
        double limit = double(USER_TIMER_MAXIMUM);
        ms = t * 1000.0 >= limit ? UINT(USER_TIMER_MAXIMUM) : UINT(std::trunc(t * 1000.0));
    } else {
        error::fire(error::id::invalid_facet_type, rate);
    }
    SetTimer(window, 1, ms, timer_procedure);
}

void update_view(const Cell& face, uint32_t keep_mask) {
    FaceType t = face_type(face);
    if (t == FaceType::rich_text) {
        Cell* handles = facet(face, "handles");
        if (handles && cell::is(handles, type::block) && series::length_from(handles) > 0) {
            Cell yes;
            cell::set_logic(&yes, true);
            *block::ks_abs_at(handles, series::total_length(handles) - 1) = yes;
        }
    }
    HWND w = face_window(face);
    Cell* bits_cell = pending_bits(face);
    if (!w || !bits_cell) return;
    uint32_t saved = uint32_t(cell::integer(bits_cell));
    uint32_t bits = saved & ~keep_mask;
    cell::set_integer(bits_cell, int32_t(saved & keep_mask));
    WindowData* d = data_of(w);
    DPI_AWARENESS_CONTEXT was = SetThreadDpiAwarenessContext(GetWindowDpiAwarenessContext(w));
    try {
        if (bits & bit::offset) apply_offset(w, t, face);
        if (bits & bit::size) apply_size(w, t, face, d);
        if (bits & bit::text) apply_text(w, t, face);
        if ((bits & bit::data) && t == FaceType::rich_text) InvalidateRect(w, nullptr, FALSE);
        if (bits & bit::enabled) {
            const Cell* e = facet(face, "enabled?");
            EnableWindow(w, e && cell::is(e, type::logic) && cell::logic(e));
        }
        if (bits & bit::visible) apply_visible(w, t, face, d);
        if (bits & bit::selected) apply_selected(w, t, face);
        if ((bits & bit::flags) && d) d->face_flags = face_flags(face);
        if (bits & (bit::draw | bit::color)) {
            redraw(w, t, face);
            // A face that had to become layered has a new window.
            if (!(w = face_window(face))) return;
            d = data_of(w);
        }
        if ((bits & bit::pane) && t != FaceType::tab_panel) restack(facet(face, "pane"), nullptr);
        if (bits & bit::rate) set_rate(w, facet(face, "rate"));
        if (bits & bit::font) apply_font(w, face), redraw(w, t, face);
        if (bits & bit::para) redraw(w, t, face);
        if ((bits & bit::image) && t == FaceType::base) refresh_drawn(w, face);
        if (bits & bit::options) apply_cursor_and_icon(w, face);
    } catch (...) {
        if (Cell* again = pending_bits(face)) cell::set_integer(again, int32_t(uint32_t(cell::integer(again)) | saved));
        if (was) SetThreadDpiAwarenessContext(was);
        throw;
    }
    if (was) SetThreadDpiAwarenessContext(was);
}

void on_change_facet(const Cell& face, const Cell& facet_word, const Cell& action, int32_t index, int32_t part) {
    auto is = [](const Cell& w, const char* name) { return word_is(&w, name); };
    if (!is(facet_word, "pane")) {
        update_view(face, 0);
        return;
    }
    const Cell* pane = facet(face, "pane");
    if (!pane || !cell::is(pane, type::block)) return;
    auto range = [&](bool on) {
        int32_t n = series::total_length(pane);
        for (int32_t i = std::max(0, index); i < std::min(n, index + std::max(1, part)); ++i)
            attach(*block::ks_abs_at(pane, i), face, on);
    };
    if (is(action, "remove") || is(action, "take") || is(action, "clear")) {
        range(false);
    } else if (is(action, "inserted") || is(action, "poke") || is(action, "put") || is(action, "moved") ||
               is(action, "changed")) {
        range(true);
        restack(pane, nullptr);
    }
}

}  // namespace kel::view::win32
