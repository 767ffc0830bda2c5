// The routines of the gui context on Windows: each takes its arguments as
// its spec block gave them and runs the back end's operation.
#include <windows.h>
#include <uxtheme.h>

#include "environment/routines.hpp"
#include "runtime/call.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/handle.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/error.hpp"
#include "runtime/ownership.hpp"
#include "runtime/stack.hpp"
#include "view/backend/loop.hpp"
#include "view/backend/win32/d2d.hpp"
#include "view/backend/win32/win32.hpp"
#include "view/backend/windows.hpp"

namespace kel::view::win32 {
namespace {

uint32_t answer_none() {
    cell::set_none(stack::args);
    return 0;
}

HWND hwnd_of(const Cell& h) { return reinterpret_cast<HWND>(intptr_t(int32_t(h.payload2))); }

uint32_t make_null_handle(const Call&) {
    handle::push(0, handle::klass::none);
    return 0;
}

uint32_t fetch_all_screens_entry(const Call&) {
    fetch_all_screens(stack::args);
    return 0;
}

uint32_t get_current_screen(const Call&) {
    current_screen(stack::args);
    return 0;
}

uint32_t get_screen_size(const Call&) {
    screen_size(stack::args);
    return 0;
}

uint32_t size_text(const Call&) {
    Cell face = stack::args[0], value = stack::args[1], text = value;
    if (cell::is(&value, type::none)) {
        const Cell* t = facet(face, "text");
        text = t ? *t : value;
    } else if (!cell::is(&value, type::string)) {
        error::fire_invalid_type(cell::type_of(&value));
    }
    if (!cell::is(&text, type::string)) return answer_none();
    text_size(face, text, stack::args);
    return 0;
}

uint32_t on_change_facet_entry(const Call&) {
    Cell face = stack::args[0], word = stack::args[1], action = stack::args[3];
    on_change_facet(face, word, action, cell::integer(stack::args + 5), cell::integer(stack::args + 6));
    raise_deferred();
    return answer_none();
}

uint32_t update_font_entry(const Call&) {
    update_font(stack::args[0], cell::integer(stack::args + 1));
    return answer_none();
}

uint32_t destroy_view_entry(const Call&) {
    Cell face = stack::args[0];
    bool empty = cell::logic(stack::args + 1);
    destroy_view(face, true);
    if (empty) loop::owe_exit();
    return answer_none();
}

uint32_t detach_image(const Call&) {
    ownership::unbind(stack::args);
    return answer_none();
}

uint32_t update_view_entry(const Call&) {
    Cell v = stack::args[0];
    if (cell::is(&v, type::block)) {
        int32_t n = series::total_length(&v);
        for (int32_t i = series::clamped_index(&v); i < n; ++i)
            if (!cell::is(block::ks_abs_at(&v, i), type::object))
                error::fire_invalid_type(cell::type_of(block::ks_abs_at(&v, i)));
        for (int32_t i = series::clamped_index(&v); i < n; ++i) {
            Cell face = *block::ks_abs_at(&v, i);
            if (face_type(face) != FaceType::screen) update_view(face, 0);
        }
    } else if (cell::is(&v, type::object)) {
        if (face_type(v) != FaceType::screen) update_view(v, 0);
    } else {
        error::fire_invalid_type(cell::type_of(&v));
    }
    raise_deferred();
    return answer_none();
}

uint32_t refresh_window(const Call&) {
    UpdateWindow(hwnd_of(stack::args[0]));
    raise_deferred();
    return answer_none();
}

uint32_t redraw(const Call&) {
    if (HWND w = face_window(stack::args[0])) {
        InvalidateRect(w, nullptr, FALSE);
        UpdateWindow(w);
        raise_deferred();
    }
    return answer_none();
}

uint32_t show_window_entry(const Call&) {
    show_window(hwnd_of(stack::args[0]));
    raise_deferred();
    return answer_none();
}

uint32_t make_view_entry(const Call&) {
    Cell face = stack::args[0], parent = stack::args[1];
    start_drawing();
    HWND p = parent.payload1 == handle::klass::window ? hwnd_of(parent) : nullptr;
    int remembered = enter_dpi_scope(p);
    HWND w = nullptr;
    try {
        w = make_view(face, p);
    } catch (...) {
        leave_dpi_scope(remembered);
        throw;
    }
    leave_dpi_scope(remembered);
    handle::push(int32_t(intptr_t(w)), handle::klass::window);
    return 0;
}

// Draws the commands into the face's window: inside the window's paint
// (its drawing actor), into the paint's open drawing; outside any paint, as
// a drawing of its own (the face's background, then the block).
uint32_t draw_face(const Call&) {
    Cell face = stack::args[0], commands = stack::args[1];
    HWND w = face_window(face);
    if (!w || !IsWindow(w)) return answer_none();
    start_drawing();
    if (d2d::painting()) {
        d2d::draw_in_paint(w, commands);
    } else if (d2d::has_device()) {
        bool layered = GetWindowLongW(w, GWL_EXSTYLE) & WS_EX_LAYERED;
        d2d::paint_window(w, face, commands, layered);
    }
    return answer_none();
}

uint32_t do_event_loop(const Call&) {
    bool no_wait = cell::logic(stack::args);
    cell::set_logic(stack::args, event_loop(no_wait));
    stack::top = stack::args + 1;
    return 0;
}

uint32_t exit_event_loop(const Call&) {
    PostQuitMessage(0);
    return answer_none();
}

uint32_t text_box_metrics_entry(const Call&) {
    Cell face = stack::args[0], arg = stack::args[1];
    int32_t code = cell::integer(stack::args + 2);
    if (face_type(face) != FaceType::rich_text) error::fire(error::id::face_type, facet(face, "type"));
    const Cell* text = facet(face, "text");
    if (!text || !cell::is(text, type::string)) return answer_none();
    text_box_metrics(face, arg, code, stack::args);
    return 0;
}

uint32_t update_scroller(const Call&) {
    Cell scroller = stack::args[0];
    int32_t flags = cell::integer(stack::args + 1);
    const Cell* parent = facet(scroller, "parent");
    HWND w = parent ? face_window(*parent) : nullptr;
    if (!w) return answer_none();
    const Cell* vertical = facet(scroller, "vertical?");
    int bar = vertical && cell::is(vertical, type::logic) && cell::logic(vertical) ? SB_VERT : SB_HORZ;
    auto number = [&](const char* name) {
        const Cell* v = facet(scroller, name);
        return v && cell::is(v, type::integer) ? cell::integer(v) : 0;
    };
    SCROLLINFO si{};
    si.cbSize = sizeof si;
    si.fMask = SIF_DISABLENOSCROLL;
    if (flags == 0) {
        si.fMask |= SIF_POS;
        si.nPos = number("position");
    } else if (flags == 1 || flags == 3) {
        si.fMask |= SIF_PAGE | SIF_RANGE;
        si.nPage = UINT(number("page-size"));
        si.nMin = number("min-size");
        si.nMax = number("max-size");
    } else if (flags == 4) {
        const Cell* visible = facet(scroller, "visible?");
        ShowScrollBar(w, bar, visible && cell::is(visible, type::logic) && cell::logic(visible));
        raise_deferred();
        return answer_none();
    } else {
        return answer_none();
    }
    SetScrollInfo(w, bar, &si, TRUE);
    raise_deferred();
    return answer_none();
}

uint32_t set_dark_mode(const Call&) {
    Cell face = stack::args[0];
    bool dark = cell::logic(stack::args + 1);
    HWND w = face_window(face);
    if (!w) return answer_none();
    if (face_type(face) == FaceType::window) {
        BOOL on = dark;
        if (HMODULE dwm = LoadLibraryW(L"dwmapi.dll")) {
            using Set = HRESULT(WINAPI*)(HWND, DWORD, LPCVOID, DWORD);
            if (auto set = reinterpret_cast<Set>(reinterpret_cast<void*>(GetProcAddress(dwm, "DwmSetWindowAttribute"))))
                set(w, 20, &on, sizeof on);
        }
    }
    SetWindowTheme(w, dark ? L"DarkMode_Explorer" : L"Explorer", nullptr);
    raise_deferred();
    return answer_none();
}

uint32_t support_dark_mode_q(const Call&) {
    cell::set_logic(stack::args, support_dark_mode());
    return 0;
}

uint32_t toggle_gpu(const Call&) {
    start_drawing();
    d2d::create_device();
    return answer_none();
}

constexpr routines::Backend make_backend() {
    routines::Backend b{"win32", {}};
    b.entries[routines::make_null_handle] = make_null_handle;
    b.entries[routines::fetch_all_screens] = fetch_all_screens_entry;
    b.entries[routines::get_current_screen] = get_current_screen;
    b.entries[routines::get_screen_size] = get_screen_size;
    b.entries[routines::size_text] = size_text;
    b.entries[routines::on_change_facet] = on_change_facet_entry;
    b.entries[routines::update_font] = update_font_entry;
    b.entries[routines::destroy_view] = destroy_view_entry;
    b.entries[routines::detach_image] = detach_image;
    b.entries[routines::update_view] = update_view_entry;
    b.entries[routines::refresh_window] = refresh_window;
    b.entries[routines::redraw] = redraw;
    b.entries[routines::show_window] = show_window_entry;
    b.entries[routines::make_view] = make_view_entry;
    b.entries[routines::draw_face] = draw_face;
    b.entries[routines::do_event_loop] = do_event_loop;
    b.entries[routines::exit_event_loop] = exit_event_loop;
    b.entries[routines::text_box_metrics] = text_box_metrics_entry;
    b.entries[routines::update_scroller] = update_scroller;
    b.entries[routines::set_dark_mode] = set_dark_mode;
    b.entries[routines::support_dark_mode_q] = support_dark_mode_q;
    b.entries[routines::toggle_gpu] = toggle_gpu;
    return b;
}

// The event getters' view of windows: the face of a window, its root owner.
void lookup_face(uint64_t window, Cell* out) { face_of_window(reinterpret_cast<HWND>(uintptr_t(window)), out); }
uint64_t lookup_root(uint64_t window) {
    HWND root = GetAncestor(reinterpret_cast<HWND>(uintptr_t(window)), GA_ROOTOWNER);
    return uint64_t(uintptr_t(root));
}

}  // namespace

const routines::Backend backend = make_backend();

void install() {
    windows::lookup = {lookup_face, lookup_root};
    make_send_event_routine();
    init();
}

}  // namespace kel::view::win32
