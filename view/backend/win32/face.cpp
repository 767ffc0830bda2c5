// Face access and window operations: the data of a window, the face a
// window shows and the window of a face, DPI and units, frame offsets,
// focus, showing a window, cursors and icons.
#include <windows.h>
#include <shellscalingapi.h>

#include <cmath>
#include <string_view>

#include "environment/routines.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/image.hpp"
#include "runtime/datatypes/pair.hpp"
#include "runtime/datatypes/point.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/symbol.hpp"
#include "runtime/platform/image.hpp"
#include "runtime/value_slots.hpp"
#include "view/backend/units.hpp"
#include "view/backend/win32/win32.hpp"

// GDI+'s flat interface: an icon from a bitmap.
extern "C" int WINAPI GdipCreateHICONFromBitmap(void* bitmap, HICON* icon);

namespace kel::view::win32 {

// ---- window data

namespace {
// The offset of the window's data address, -1 for a window of no class of ours.
int offset_of(HWND window) {
    wchar_t name[32];
    if (!window || !GetClassNameW(window, name, 32) || std::wstring_view(name).substr(0, 3) != L"Kel") return -1;
    return data_offset(name);
}
}  // namespace

WindowData* data_of(HWND window) {
    int at = offset_of(window);
    return at < 0 ? nullptr : reinterpret_cast<WindowData*>(GetWindowLongPtrW(window, at));
}

WindowData* attach_data(HWND window) {
    int at = offset_of(window);
    if (at < 0) return nullptr;
    if (auto* d = reinterpret_cast<WindowData*>(GetWindowLongPtrW(window, at))) return d;
    auto* d = new WindowData;
    SetWindowLongPtrW(window, at, reinterpret_cast<LONG_PTR>(d));
    return d;
}

void attach_face_data(HWND window, LPARAM create_struct) {
    attach_data(window);
    auto* cs = reinterpret_cast<CREATESTRUCTW*>(create_struct);
    if (cs->lpCreateParams) store_face(window, *static_cast<const Cell*>(cs->lpCreateParams));
}

void detach_data(HWND window) {
    int at = offset_of(window);
    auto* d = at < 0 ? nullptr : reinterpret_cast<WindowData*>(GetWindowLongPtrW(window, at));
    if (!d) return;
    SetWindowLongPtrW(window, at, 0);
    if (d->face_slot) value_slots::free(d->face_slot);
    delete d;
}

// ---- faces

namespace {
struct TypeName {
    std::string_view name;
    FaceType type;
};
constexpr TypeName type_names[] = {
    {"window", FaceType::window}, {"panel", FaceType::panel}, {"group-box", FaceType::group_box},
    {"base", FaceType::base}, {"rich-text", FaceType::rich_text}, {"camera", FaceType::camera},
    {"button", FaceType::button}, {"toggle", FaceType::toggle}, {"check", FaceType::check},
    {"radio", FaceType::radio}, {"field", FaceType::field}, {"area", FaceType::area}, {"text", FaceType::text},
    {"text-list", FaceType::text_list}, {"drop-down", FaceType::drop_down}, {"drop-list", FaceType::drop_list},
    {"progress", FaceType::progress}, {"slider", FaceType::slider}, {"scroller", FaceType::scroller},
    {"tab-panel", FaceType::tab_panel}, {"calendar", FaceType::calendar}, {"screen", FaceType::screen},
};
}  // namespace

Cell* facet(const Cell& face, const char* name) {
    if (!cell::is(&face, type::object)) return nullptr;
    return environment::field(face, name);
}

FaceType face_type(const Cell& face) {
    const Cell* t = facet(face, "type");
    if (!t || !word::any_word_q(cell::type_of(t))) return FaceType::other;
    uint32_t s = symbol::resolve(word::symbol(t));
    for (const TypeName& n : type_names)
        if (symbol::resolve(symbol::make_len(n.name.data(), n.name.size())) == s) return n.type;
    return FaceType::other;
}

HWND face_window(const Cell& face) {
    const Cell* st = facet(face, "state");
    if (!st || !cell::is(st, type::block) || series::length_from(st) < 1) return nullptr;
    const Cell* h = block::ks_abs_at(st, series::clamped_index(st));
    if (!cell::is(h, type::handle)) return nullptr;
    return reinterpret_cast<HWND>(intptr_t(int32_t(h->payload2)));
}

bool face_of_window(HWND window, Cell* out) {
    WindowData* d = data_of(window);
    if (!d || !d->face_slot) {
        cell::set_none(out);
        return false;
    }
    *out = *value_slots::at(d->face_slot);
    return true;
}

void store_face(HWND window, const Cell& face) {
    WindowData* d = attach_data(window);
    if (d && !d->face_slot && cell::is(&face, type::object)) d->face_slot = value_slots::alloc(&face);
}

HWND resolve_face_window(HWND window) {
    for (int i = 0; i < 2 && window; ++i, window = GetParent(window)) {
        WindowData* d = data_of(window);
        if (d && d->face_slot) return window;
    }
    return nullptr;
}

// ---- units

int32_t px(double logical) { return units::to_pixels(logical); }
double logical(int32_t pixels) { return units::to_logical(pixels); }

bool numbers_of(const Cell* v, double* x, double* y) {
    if (!v) return false;
    if (cell::is(v, type::pair)) {
        *x = pair::x(v);
        *y = pair::y(v);
        return true;
    }
    if (cell::is(v, type::point2d)) {
        *x = point::coordinate(v, 0);
        *y = point::coordinate(v, 1);
        return true;
    }
    return false;
}

void set_point(Cell* target, int32_t x_px, int32_t y_px, bool as_pair) {
    if (!target) return;
    if (as_pair) pair::box(target, int32_t(std::lround(logical(x_px))), int32_t(std::lround(logical(y_px))));
    else point2d::box(target, logical(x_px), logical(y_px));
}

// ---- DPI

namespace {
int scope_depth = 0;

int window_dpi(HWND window) {
    HWND root = GetAncestor(window, GA_ROOT);
    UINT dpi = GetDpiForWindow(root ? root : window);
    return dpi ? int(dpi) : state.dpi;
}
}  // namespace

void dpi_from_window(HWND window) {
    if (window) set_dpi(window_dpi(window));
}

int enter_dpi_scope(HWND window) {
    ++scope_depth;
    int remembered = state.dpi;
    dpi_from_window(window);
    return remembered;
}

void leave_dpi_scope(int remembered) {
    --scope_depth;
    if (state.dpi == remembered) return;
    HWND active = GetActiveWindow();
    if (scope_depth == 0 && active && IsWindowVisible(active)) dpi_from_window(active);
    else set_dpi(remembered);
}

void dpi_from_rect(double x, double y, double w, double h) {
    int before = state.dpi;
    for (int pass = 0; pass < 4; ++pass) {
        RECT r{px(x), px(y), px(x + w), px(y + h)};
        UINT dx = 96, dy = 96;
        HMONITOR m = MonitorFromRect(&r, MONITOR_DEFAULTTONEAREST);
        if (GetDpiForMonitor(m, MDT_EFFECTIVE_DPI, &dx, &dy) != S_OK) break;
        if (int(dy) == state.dpi) break;
        set_dpi(int(dy));
    }
    if (state.dpi != before) {
        POINT p{};
        GetCursorPos(&p);
        UINT dx = 96, dy = 96;
        if (GetDpiForMonitor(MonitorFromPoint(p, MONITOR_DEFAULTTONEAREST), MDT_EFFECTIVE_DPI, &dx, &dy) == S_OK)
            set_dpi(int(dy));
    }
}

// ---- window operations

bool frame_offsets(HWND window, int32_t* ox, int32_t* oy, int32_t* extra_w, int32_t* extra_h) {
    RECT client{}, outer{};
    GetClientRect(window, &client);
    if (client.right == 0) return false;
    GetWindowRect(window, &outer);
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    *ox = outer.left - origin.x;
    *oy = outer.top - origin.y;
    *extra_w = (outer.right - outer.left) - client.right;
    *extra_h = (outer.bottom - outer.top) - client.bottom;
    return true;
}

void give_focus(const Cell& window_face) {
    const Cell* selected = facet(window_face, "selected");
    if (!selected || !cell::is(selected, type::object)) return;
    if (HWND w = face_window(*selected)) SetFocus(w);
}

void show_window(HWND window) {
    WindowData* d = data_of(window);
    if (IsWindowVisible(window) && !(d && d->not_shown)) {
        UpdateWindow(window);
        return;
    }
    if (events.released) ReleaseCapture();
    // The pressed window of a base face gives up the capture its press
    // would take; any other record is cleared.
    if (events.pressed) {
        WindowData* p = data_of(events.pressed);
        Cell face;
        if (p && face_of_window(events.pressed, &face) &&
            (face_type(face) == FaceType::base || face_type(face) == FaceType::rich_text))
            --p->capture_count;
        else
            events.pressed = nullptr;
    }
    if (d) d->not_shown = false;
    ShowWindow(window, SW_SHOWDEFAULT);
    UpdateWindow(window);
    SetForegroundWindow(window);
    Cell face;
    if (face_of_window(window, &face)) give_focus(face);
    dpi_from_window(window);
}

void apply_cursor_and_icon(HWND window, const Cell& face) {
    WindowData* d = data_of(window);
    const Cell* c = option(face, "cursor");
    if (!d || !c) return;
    if (word::any_word_q(cell::type_of(c))) {
        auto is = [&](const char* name) { return word_is(c, name); };
        LPCWSTR id = is("I-beam")                         ? IDC_IBEAM
                     : is("hand")                         ? IDC_HAND
                     : is("cross")                        ? IDC_CROSS
                     : is("resize-ns")                    ? IDC_SIZENS
                     : is("resize-ew") || is("resize-we") ? IDC_SIZEWE
                                                          : IDC_ARROW;
        d->cursor = LoadCursorW(nullptr, id);
    } else if (cell::is(c, type::image)) {
        // An image becomes the window's icon, which is its cursor too.
        image_wic::Bitmap* bitmap = image::bitmap_of(c);
        if (!bitmap) return;
        image_wic::Lock lock{};
        void* gdiplus = image_wic::to_gdiplus(bitmap, &lock);
        if (!gdiplus) return;
        HICON icon = nullptr;
        GdipCreateHICONFromBitmap(gdiplus, &icon);
        image_wic::release_gdiplus(gdiplus, &lock);
        if (!icon) return;
        if (d->icon) DestroyIcon(d->icon);
        d->icon = icon;
        d->cursor = icon;
    }
}

}  // namespace kel::view::win32
