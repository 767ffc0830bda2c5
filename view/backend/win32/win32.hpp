// The Windows back end: what its files share. The state of the back end
// (all of it on the main thread), the data every window of its classes
// carries, face access, and the guard that keeps Kel errors and throws from
// crossing a window procedure.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "runtime/cell.hpp"
#include "runtime/throws.hpp"
#include "view/backend/routines.hpp"

namespace kel::view::win32 {

// ---- start-up (init.cpp)

struct State {
    DWORD process_id = 0;
    HDC screen_dc = nullptr;
    HINSTANCE module = nullptr;
    OSVERSIONINFOEXW version{};
    bool win10 = false, win8 = false, legacy = false, win11 = false, dwm_composition = false;
    bool child_layered = false;   // child layered windows (6.2 and later)
    bool legacy_composition = false;
    int dpi = 96;
    double dpi_float = 96.0;
    HFONT default_font = nullptr;
    std::u16string default_font_name = u"Segoe UI";
    int default_font_size = 9;
    bool dark_at_start = false;
    int32_t font_kind = 0, com_kind = 0;  // handle-table kinds
    HWND first_window = nullptr;
};
extern State state;

// Runs the back end's start-up once (steps 1 to 12).
void init();
// The Direct2D and DirectWrite factories and the device, made once, when
// the first view is made.
void start_drawing();
// The default GUI font at the current DPI, stored as the default.
void make_default_font();
// The view's metrics object from the system (dpi, scroller, colours).
void fill_metrics();

// ---- window classes (classes.cpp)

void register_classes();
extern const wchar_t* const class_window;     // KelWindow
extern const wchar_t* const class_panel;      // KelPanel
extern const wchar_t* const class_base;       // KelBase
extern const wchar_t* const class_internal;   // KelBaseInternal
// The procedure a copied class had, for the messages its copy passes on.
WNDPROC original_procedure(const wchar_t* class_name);
// Where a class's windows keep the address of their data: after the extra
// bytes the class it was copied from keeps for itself.
int data_offset(const wchar_t* class_name);

// ---- the data of a window

// One per window of the back end's classes, made at WM_NCCREATE and freed
// at WM_NCDESTROY; the window's extra bytes hold its address.
struct WindowData {
    uint32_t face_slot = 0;       // value slot of the face, 0: not a face window
    uint32_t face_flags = 0;      // the face's flag mask (bit 0: every mouse move)
    bool close_direct = false;    // WM_CLOSE destroys without asking Kel code
    uint32_t view_bits = 0;       // 0x10 size is a pair!, 0x02 caret, 0x04 | 0x08 rich text
    int32_t origin_x = 0, origin_y = 0;  // last WM_MOVE client position / screen origin
    bool frame_known = false;     // frame_x, frame_y hold the outer corner
    int32_t frame_x = 0, frame_y = 0;
    uint32_t sizing_kind = 0;     // event code of the last interactive sizing event
    HCURSOR cursor = nullptr;
    bool cursor_inside = false;   // base windows: the pointer is in the client area
    HFONT font = nullptr;         // the window's own font (window faces)
    void* render = nullptr;       // the drawing target (drawing back end)
    HICON icon = nullptr;
    bool not_shown = false;       // a new window not shown yet
    bool in_size_move = false;    // an interactive size or move runs
    HWND aux = nullptr;           // group-box frame
    // base windows
    HWND companion = nullptr;     // the layered child carrier
    HWND base_parent = nullptr;   // the parent given at creation
    HWND caret_window = nullptr;  // the caret face's window
    int32_t capture_count = 0;
    bool layered = false;
};

// The data of a window of the back end's classes, null for any other.
WindowData* data_of(HWND window);
// Makes the window's data (WM_NCCREATE) and frees it (WM_NCDESTROY).
WindowData* attach_data(HWND window);
void detach_data(HWND window);
// WM_NCCREATE of a face's window: its data, and the face make-view passed
// as the creation parameter.
void attach_face_data(HWND window, LPARAM create_struct);

// ---- faces (face.cpp)

enum class FaceType {
    other, window, panel, group_box, base, rich_text, camera, button, toggle, check, radio, field, area, text,
    text_list, drop_down, drop_list, progress, slider, scroller, tab_panel, calendar, screen,
};
FaceType face_type(const Cell& face);
// The face's facet of that name, null when the value is no object or lacks it.
Cell* facet(const Cell& face, const char* name);
// The window of a face (state/1 a handle!), null when it has none.
HWND face_window(const Cell& face);
// The face a window shows, false when it is no face window.
bool face_of_window(HWND window, Cell* out);
// Stores the face reference of a new window unless it has one.
void store_face(HWND window, const Cell& face);
// The face window a message names: its own, its parent's, null when none.
HWND resolve_face_window(HWND window);

// Logical units and pixels at the current scale.
int32_t px(double logical);
double logical(int32_t pixels);
// The two numbers of a pair! or point2D! (false for anything else).
bool numbers_of(const Cell* v, double* x, double* y);
// Writes pixels back as the facet's kind: pair! when `as_pair`, else point2D!.
void set_point(Cell* facet, int32_t x_px, int32_t y_px, bool as_pair);

// The DPI of a window (its root's), and the scale that follows from it.
void set_dpi(int dpi);
void dpi_from_window(HWND window);
int enter_dpi_scope(HWND window);
void leave_dpi_scope(int remembered);
void dpi_from_rect(double x, double y, double w, double h);

// Frame offsets of a window: the outer top-left corner in client
// coordinates, and the frame's extra width and height.
bool frame_offsets(HWND window, int32_t* ox, int32_t* oy, int32_t* extra_w, int32_t* extra_h);
void give_focus(const Cell& window_face);
void show_window(HWND window);
void apply_cursor_and_icon(HWND window, const Cell& face);

// ---- flags and colours (flags.cpp)

namespace flag {
constexpr uint32_t all_over = 1u << 0, focusable = 1u << 1, tri_state = 1u << 17, scrollable = 1u << 18,
                   password = 1u << 19, no_sync = 1u << 20, fullscreen = 1u << 21, popup = 1u << 24,
                   modal = 1u << 25, resize = 1u << 26, no_buttons = 1u << 27, no_max = 1u << 28,
                   no_min = 1u << 29, no_title = 1u << 30, no_border = 1u << 31;
}
// The face's `flags` folded into bits; an unknown word raises invalid-arg.
uint32_t face_flags(const Cell& face);
// A 3- or 4-byte tuple as a COLORREF; false for anything else.
bool colorref_of(const Cell* v, COLORREF* out);
// A Kel colour (red, green, blue, transparency) as Windows ARGB; with
// never_opaque an alpha of 255 becomes 254. 0 for anything but a tuple.
uint32_t argb_of(const Cell* v, bool never_opaque);
// A face colour that needs a layered window: not a tuple, or a 4-byte
// tuple whose fourth byte is not 0.
bool needs_transparency(const Cell* color);
// The `accelerated` option's extended style (0 without it).
DWORD accelerated_style(const Cell& face, bool layered_alone);
// Whether the value is a word naming that word (aliases and case aside).
bool word_is(const Cell* v, const char* name);
// The value of a key of the face's `options` block, null when absent.
const Cell* option(const Cell& face, const char* key);

// ---- events (dispatch.cpp, loop.cpp)

struct EventState {
    MSG* current = nullptr;        // the message being dispatched
    MSG spare{};                   // current when a message comes from outside the loop
    int32_t forced_modifiers = -1;
    int32_t special_key = -1;
    uint32_t pending_surrogate = 0;
    uint32_t full_char = 0;
    int32_t composition = 0;
    LPARAM last_mouse = -1;
    HWND tracked = nullptr;
    HWND pressed = nullptr, released = nullptr;
    POINT menu_client{}, menu_screen{};
    bool menu_position = false;
};
extern EventState events;

// The message a window procedure dispatches for (the spare one, its point
// from GetMessagePos, when none is current).
MSG* current_message(HWND window, UINT message, WPARAM wp, LPARAM lp);
// A copy of the message a window procedure received, its point and time
// from the current message.
MSG own_message(HWND window, UINT message, WPARAM wp, LPARAM lp);
// Fills the event and calls system/view/awake: 1 lets the message through,
// 0 swallows it (`stop`). `flags` is the given flags or value of the type.
int dispatch(MSG* msg, uint32_t flags, uint32_t type);
int prefilter(MSG* msg);
bool event_loop(bool no_wait);
// The live modifier state as event flag bits (with the mouse buttons or not).
uint32_t live_flags(bool with_buttons);
// send-event-os, bound to a global word.
void make_send_event_routine();

// A Kel error or throw caught at a window procedure's boundary waits here
// until the call that entered Windows returns, and is raised again there.
void defer_throw(uint32_t code);
void raise_deferred();
template <class Body>
LRESULT guarded(Body&& body, LRESULT on_throw = 0);

// ---- window procedures

LRESULT CALLBACK main_procedure(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK base_procedure(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK internal_procedure(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK camera_procedure(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK control_subclass(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK text_subclass(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK edit_subclass(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK combo_subclass(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK calendar_subclass(HWND, UINT, WPARAM, LPARAM);
// Background of a window or panel painted from its colour; true when it painted.
bool paint_background(HWND window, HDC dc, const Cell& face);

// ---- views (make_view.cpp, update_view.cpp, destroy.cpp, fonts.cpp)

HWND make_view(const Cell& face, HWND parent);
void update_view(const Cell& face, uint32_t keep_mask);
void on_change_facet(const Cell& face, const Cell& facet_word, const Cell& action, int32_t index, int32_t part);
void set_rate(HWND window, const Cell* rate);
void destroy_view(const Cell& face, bool post_close);
void refresh_drawn(HWND window, const Cell& face);
HWND companion_of(HWND base, const Cell& base_face);

HFONT native_font(const Cell& font, bool dpi_scaled);
void apply_font(HWND window, const Cell& face);
void release_font(const Cell& font);
void update_font(const Cell& font, int32_t facet_index);
void unlink_font(const Cell& face);

// ---- screens (screens.cpp)

Cell* fetch_all_screens(Cell* out);
Cell* current_screen(Cell* out);
Cell* screen_size(Cell* out);
bool support_dark_mode();

// ---- text (metrics.cpp)

Cell* text_size(const Cell& face, const Cell& text, Cell* out);
Cell* text_box_metrics(const Cell& face, const Cell& arg, int32_t code, Cell* out);

// ---- routine table (routines.cpp)

extern const routines::Backend backend;
// Makes the Windows back end the active one: window lookup for the event
// getters, send-event-os, and its start-up.
void install();

template <class Body>
LRESULT guarded(Body&& body, LRESULT on_throw) {
    try {
        return body();
    } catch (const Throw& t) {
        defer_throw(t.code);
    } catch (...) {
        defer_throw(0);
    }
    return on_throw;
}

}  // namespace kel::view::win32
