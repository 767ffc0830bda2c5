// Native view creation: the class, styles, geometry and parent of a face's
// window, then the window seeded from the face.
#include <windows.h>

#include <algorithm>

#include <string>

#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/error.hpp"
#include "runtime/output.hpp"
#include "runtime/symbol.hpp"
#include "runtime/unicode.hpp"
#include "view/backend/win32/win32.hpp"

namespace kel::view::win32 {
namespace {

struct ClassOf {
    FaceType type;
    const wchar_t* name;
};
constexpr ClassOf classes[] = {
    {FaceType::window, L"KelWindow"}, {FaceType::panel, L"KelPanel"}, {FaceType::group_box, L"KelPanel"},
    {FaceType::base, L"KelBase"}, {FaceType::rich_text, L"KelBase"}, {FaceType::camera, L"KelCamera"},
    {FaceType::button, L"KelButton"}, {FaceType::toggle, L"KelButton"}, {FaceType::check, L"KelButton"},
    {FaceType::radio, L"KelButton"}, {FaceType::field, L"KelField"}, {FaceType::area, L"KelArea"},
    {FaceType::text, L"KelFace"}, {FaceType::text_list, L"KelListBox"}, {FaceType::drop_down, L"KelCombo"},
    {FaceType::drop_list, L"KelCombo"}, {FaceType::progress, L"KelProgress"}, {FaceType::slider, L"KelSlider"},
    {FaceType::scroller, L"KelScroller"}, {FaceType::tab_panel, L"KelTabPanel"},
    {FaceType::calendar, L"KelCalendar"},
};

// Style bits of a face's `para` object for its type.
DWORD para_bits(FaceType t, const Cell& face) {
    const Cell* para = facet(face, "para");
    if (!para || !cell::is(para, type::object)) return 0;
    const Cell* align = facet(*para, "align");
    const Cell* valign = facet(*para, "v-align");
    const Cell* wrap = facet(*para, "wrap?");
    bool wrapping = !wrap || cell::is(wrap, type::none) || (cell::is(wrap, type::logic) && cell::logic(wrap));
    auto pick = [&](const Cell* v, const char* a, const char* b, const char* c, DWORD x, DWORD y, DWORD z, DWORD other) {
        return word_is(v, a) ? x : word_is(v, b) ? y : word_is(v, c) ? z : other;
    };
    switch (t) {
        case FaceType::base:
            return pick(align, "left", "center", "right", 0, 1, 2, 1) |
                   pick(valign, "top", "middle", "bottom", 0, 4, 8, 4) | (wrapping ? 16 : 0);
        case FaceType::rich_text:
            return pick(align, "left", "center", "right", 0, 1, 2, 0) |
                   pick(valign, "top", "middle", "bottom", 0, 4, 8, 0) | (wrapping ? 16 : 0);
        case FaceType::button:
        case FaceType::toggle:
            return pick(align, "left", "center", "right", 0x100, 0x300, 0x200, 0x300) |
                   pick(valign, "top", "middle", "bottom", 0x400, 0xC00, 0x800, 0xC00);
        case FaceType::check:
        case FaceType::radio:
            return pick(align, "left", "center", "right", 0x100, 0x300, 0x200, 0x100) |
                   pick(valign, "top", "middle", "bottom", 0x400, 0xC00, 0x800, 0xC00);
        case FaceType::field:
        case FaceType::area:
            return pick(align, "left", "center", "right", 0, 1, 2, 0) |
                   pick(valign, "top", "middle", "bottom", 0, 0x200, 0, 0) | (wrapping ? 0 : 0xC0);
        case FaceType::text:
            return pick(align, "left", "center", "right", 0, 1, 2, 0) |
                   pick(valign, "top", "middle", "bottom", 0, 0x200, 0, 0) | (wrapping ? 0 : 0x4000);
        default: return 0;
    }
}

std::wstring window_text(const Cell* text) {
    std::wstring out;
    if (!text || !cell::is(text, type::string)) return out;
    std::u16string u = unicode::utf8_to_utf16(string::to_utf8(text));
    for (char16_t c : u) {
        if (c == u'\n') out += L'\r';
        out += wchar_t(c);
    }
    return out;
}

bool is_layered_base(HWND w) {
    Cell face;
    if (!w || !face_of_window(w, &face)) return false;
    FaceType t = face_type(face);
    return (t == FaceType::base || t == FaceType::rich_text) && (GetWindowLongW(w, GWL_EXSTYLE) & WS_EX_LAYERED);
}

// Base-face set-up: the slots of a drawn face; a caret option turns the caret on.
void base_setup(HWND w, HWND parent, const Cell& face, bool layered, uint32_t view_bits) {
    WindowData* d = data_of(w);
    if (!d) return;
    d->aux = nullptr;
    d->view_bits = view_bits;
    d->base_parent = parent;
    d->companion = nullptr;
    d->render = nullptr;
    d->caret_window = nullptr;
    d->layered = layered;
    double x = 0, y = 0;
    numbers_of(facet(face, "offset"), &x, &y);
    if (layered) {
        refresh_drawn(w, face);
        const Cell* visible = facet(face, "visible?");
        if (visible && cell::is(visible, type::logic) && cell::logic(visible)) ShowWindow(w, SW_SHOWNA);
    } else {
        d->origin_x = px(x);
        d->origin_y = px(y);
    }
    // A caret face: the system caret goes into the window of the face it
    // serves, the caret face's size, at its offset.
    const Cell* serves = option(face, "caret");
    if (serves && cell::is(serves, type::object)) {
        d->view_bits |= 0x02;
        d->caret_window = face_window(*serves);
        double cw = 1, ch = 1;
        numbers_of(facet(face, "size"), &cw, &ch);
        if (d->caret_window && CreateCaret(d->caret_window, nullptr, px(cw), px(ch))) SetCaretPos(px(x), px(y));
    }
}

}  // namespace

HWND companion_of(HWND base, const Cell& base_face) {
    WindowData* d = data_of(base);
    if (!d) return base;
    if (d->companion) return d->companion;
    double w = 0, h = 0;
    numbers_of(facet(base_face, "size"), &w, &h);
    HWND c = CreateWindowExW(WS_EX_LAYERED, class_internal, nullptr, WS_POPUP, d->origin_x, d->origin_y, px(w),
                             px(h), base, nullptr, state.module, nullptr);
    if (!c) return base;
    SetLayeredWindowAttributes(c, 1, 0, LWA_ALPHA);
    const Cell* visible = facet(base_face, "visible?");
    if (visible && cell::is(visible, type::logic) && cell::logic(visible)) ShowWindow(c, SW_SHOWNA);
    d->companion = c;
    return c;
}

HWND make_view(const Cell& face, HWND parent) {
    FaceType t = face_type(face);
    const wchar_t* class_name = nullptr;
    for (const ClassOf& c : classes)
        if (c.type == t) class_name = c.name;
    if (!class_name) error::fire(error::id::face_type, facet(face, "type"));

    // 1. Facets: flags, size.
    uint32_t flags = face_flags(face);
    double x = 0, y = 0, w = 0, h = 0;
    numbers_of(facet(face, "offset"), &x, &y);
    const Cell* size = facet(face, "size");
    numbers_of(size, &w, &h);
    uint32_t view_bits = size && cell::is(size, type::pair) ? 0x10 : 0;

    // 2, 3. Styles.
    DWORD style = WS_CHILD | WS_CLIPSIBLINGS, ex = 0;
    bool layered = false;
    HMENU menu = nullptr;
    const Cell* visible = facet(face, "visible?");
    if (visible && cell::is(visible, type::logic) && cell::logic(visible) && t != FaceType::window)
        style |= WS_VISIBLE;
    style |= para_bits(t, face);
    const Cell* enabled = facet(face, "enabled?");
    if (enabled && cell::is(enabled, type::logic) && !cell::logic(enabled)) style |= WS_DISABLED;
    if (flags & flag::scrollable) style |= WS_HSCROLL | WS_VSCROLL;
    bool border = !(flags & flag::no_border);
    bool parent_layered = parent && (GetWindowLongW(parent, GWL_EXSTYLE) & WS_EX_LAYERED);

    // 4. By type.
    switch (t) {
        case FaceType::button: style |= BS_MULTILINE; break;
        case FaceType::toggle: style |= BS_PUSHLIKE | BS_AUTOCHECKBOX; break;
        case FaceType::check: style |= WS_TABSTOP | ((flags & flag::tri_state) ? BS_AUTO3STATE : BS_AUTOCHECKBOX); break;
        case FaceType::radio: style |= WS_TABSTOP | BS_RADIOBUTTON; break;
        case FaceType::panel:
        case FaceType::group_box:
            if (t == FaceType::panel) style |= WS_CLIPCHILDREN;
            if (parent_layered) layered = true, ex = WS_EX_LAYERED;
            break;
        case FaceType::field:
            style |= WS_TABSTOP | ES_AUTOHSCROLL;
            if (flags & flag::password) style |= ES_PASSWORD;
            if (!cell::is(facet(face, "para"), type::object)) style |= ES_NOHIDESEL;
            if (border) ex |= WS_EX_CLIENTEDGE;
            break;
        case FaceType::area:
            if (!cell::is(facet(face, "para"), type::object)) style |= WS_HSCROLL | ES_NOHIDESEL | ES_AUTOHSCROLL;
            style |= WS_VSCROLL | WS_TABSTOP | ES_AUTOVSCROLL | ES_MULTILINE;
            if (border) ex |= WS_EX_CLIENTEDGE;
            break;
        case FaceType::text_list:
            style |= WS_VSCROLL | WS_HSCROLL | LBS_NOINTEGRALHEIGHT | LBS_NOTIFY;
            if (border) ex |= WS_EX_CLIENTEDGE;
            break;
        case FaceType::drop_down: style |= CBS_DROPDOWN | CBS_AUTOHSCROLL | CBS_HASSTRINGS; break;
        case FaceType::drop_list: style |= CBS_DROPDOWNLIST | CBS_HASSTRINGS; break;
        case FaceType::progress: if (h > w) style |= 4; break;
        case FaceType::slider: if (h > w) style |= 0x402; break;
        case FaceType::scroller: if (h > w) style |= SBS_VERT; break;
        case FaceType::calendar: style |= 0x190; break;
        case FaceType::base:
        case FaceType::rich_text:
            style |= WS_CLIPCHILDREN;
            if (parent_layered) {
                layered = true;
                ex = WS_EX_LAYERED;
            } else if (needs_transparency(facet(face, "color"))) {
                layered = true;
                if (state.child_layered) {
                    ex = WS_EX_LAYERED;
                } else {
                    ex = WS_EX_LAYERED | WS_EX_TOOLWINDOW;
                    style = WS_POPUP;
                }
            } else {
                ex = accelerated_style(face, false);
            }
            break;
        case FaceType::window: {
            style = WS_CLIPCHILDREN | WS_CAPTION;
            if (!(flags & flag::no_min)) style |= WS_MINIMIZEBOX;
            if (!(flags & flag::no_max)) style |= WS_MAXIMIZEBOX;
            if (!(flags & flag::no_buttons)) style |= WS_SYSMENU;
            if (flags & flag::popup) ex |= WS_EX_TOOLWINDOW;
            if (flags & flag::resize) style |= WS_THICKFRAME;
            else style &= ~DWORD(WS_MAXIMIZEBOX);
            if (flags & flag::no_title) style = WS_POPUP | WS_BORDER;
            if (flags & flag::no_border) {
                style = WS_POPUP;
                const Cell* color = facet(face, "color");
                if (color && cell::is(color, type::tuple) && needs_transparency(color)) {
                    layered = true;
                    ex |= WS_EX_LAYERED;
                } else {
                    ex |= accelerated_style(face, false);
                }
            }
            if (w < 0) w = 200;
            if (h < 0) h = 200;
            dpi_from_rect(x, y, w, h);
            if (flags & flag::modal) parent = GetActiveWindow();
            break;
        }
        default: break;
    }
    if (ex & WS_EX_LAYERED) layered = true;

    // 5. The window's text.
    std::wstring name = t == FaceType::area ? std::wstring() : window_text(facet(face, "text"));
    // 6. Composition on legacy systems.
    if (!layered && state.legacy_composition) ex |= WS_EX_COMPOSITED;
    // 7. A child of a layered base goes into the base's carrier window.
    if (parent && !layered && is_layered_base(parent)) {
        Cell base_face;
        face_of_window(parent, &base_face);
        parent = companion_of(parent, base_face);
    }
    // 8. Geometry and creation.
    int32_t cx = px(w), cy = px(h);
    if (t == FaceType::window) {
        RECT r{0, 0, cx, cy};
        AdjustWindowRectEx(&r, style, menu != nullptr, ex);
        cx = r.right - r.left;
        cy = r.bottom - r.top;
    }
    Cell kept = face;
    HWND window = CreateWindowExW(ex, class_name, name.empty() ? nullptr : name.c_str(), style, px(x), px(y), cx, cy,
                                  parent, menu, state.module, &kept);
    raise_deferred();
    if (!window) {
        static const char text[] = "*** View Error: CreateWindowEx failed!";
        stdio::print_latin1_line(text, sizeof text - 1);
        return nullptr;
    }

    // 10. Seeding.
    if (t == FaceType::window) {
        UINT own = GetDpiForWindow(window);
        if (own && int(own) != state.dpi) {
            set_dpi(int(own));
            RECT r{0, 0, px(w), px(h)};
            AdjustWindowRectEx(&r, style, menu != nullptr, ex);
            SetWindowPos(window, nullptr, 0, 0, r.right - r.left, r.bottom - r.top,
                         SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        }
    }
    WindowData* d = attach_data(window);
    if (!d) return window;
    d->view_bits = view_bits;
    if (!(layered && !state.child_layered)) BringWindowToTop(window);
    apply_font(window, face);
    store_face(window, face);
    apply_cursor_and_icon(window, face);
    switch (t) {
        case FaceType::base:
        case FaceType::rich_text:
            if (t == FaceType::rich_text) view_bits |= 0x04 | 0x08;
            base_setup(window, parent, face, layered, view_bits);
            break;
        case FaceType::panel:
            if (layered) base_setup(window, parent, face, true, view_bits);
            break;
        case FaceType::window: {
            d->close_direct = false;
            d->frame_known = false;
            d->sizing_kind = 0;
            d->font = nullptr;
            d->render = nullptr;
            if (layered) base_setup(window, parent, face, true, view_bits);
            if (!state.first_window) state.first_window = window;
            POINT origin{0, 0};
            ClientToScreen(window, &origin);
            d->origin_x = origin.x;
            d->origin_y = origin.y;
            break;
        }
        default: break;
    }
    const Cell* rate = facet(face, "rate");
    if (rate && !cell::is(rate, type::none)) set_rate(window, rate);
    d->face_flags = flags;
    return window;
}

}  // namespace kel::view::win32
