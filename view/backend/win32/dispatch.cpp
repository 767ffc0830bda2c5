// Dispatch: one Windows message as an event! value to system/view/awake.
// The facts the event's getters read are copied into a message snapshot
// here, so that an event kept after its handler still reads its own
// message. Errors and throws that reach a window procedure wait here until
// the call that entered Windows returns.
#include <windows.h>
#include <windowsx.h>
#include <commctrl.h>

#include "environment/routines.hpp"
#include "runtime/call.hpp"
#include "runtime/collector.hpp"
#include "runtime/context.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/error.hpp"
#include "runtime/exits.hpp"
#include "runtime/output.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"
#include "view/backend/event.hpp"
#include "view/backend/loop.hpp"
#include "view/backend/snapshot.hpp"
#include "view/backend/win32/win32.hpp"

namespace kel::view::win32 {

EventState events;

namespace {

bool throw_waiting = false;
uint32_t waiting_code = 0;

// Character keys: the virtual-key codes that make characters.
bool character_key(uint32_t vk) {
    return vk == 0x08 || vk == 0x09 || vk == 0x0D || vk == 0x1B || vk == 0x20 || (vk >= 0x30 && vk <= 0x39) ||
           (vk >= 0x41 && vk <= 0x5A) || (vk >= 0x60 && vk <= 0x6B) || (vk >= 0x6D && vk <= 0x6F) ||
           (vk >= 0xBA && vk <= 0xC0) || (vk >= 0xDB && vk <= 0xDF) || (vk >= 0xE2 && vk <= 0xE4) ||
           (vk >= 0xE9 && vk <= 0xF5);
}

uint32_t key_modifiers() {
    return events.forced_modifiers >= 0 ? uint32_t(events.forced_modifiers) : live_flags(false);
}

// The virtual key refined to its left or right variant.
int32_t refined_key(uint32_t vk, LPARAM lp) {
    bool extended = (lp >> 24) & 1;
    switch (vk) {
        case VK_SHIFT: return int32_t(MapVirtualKeyW((lp >> 16) & 0xFF, MAPVK_VSC_TO_VK_EX));
        case VK_CONTROL: return extended ? 0xA3 : 0xA2;
        case VK_MENU: return extended ? 0xA5 : 0xA4;
        default: return int32_t(vk);
    }
}

// The key code and special key of a key-down or key-up; false for vk 229.
bool key_code(const MSG* msg, bool down, uint32_t* code) {
    uint32_t vk = LOWORD(msg->wParam);
    if (down && vk == VK_PROCESSKEY) {
        events.special_key = -1;
        return false;
    }
    if (character_key(vk) || (down && events.composition)) events.special_key = -1;
    else events.special_key = refined_key(vk, msg->lParam);
    if (events.special_key == -1) {
        uint32_t ch = MapVirtualKeyW(vk, MAPVK_VK_TO_CHAR) & 0x7FFFFFFF;
        *code = ch ? ch : vk;
    } else {
        *code = vk;
    }
    return true;
}

// The facts of the message the event's getters read.
snapshot::Snapshot snapshot_of(const MSG* msg, uint32_t type, uint32_t word3) {
    snapshot::Snapshot s;
    HWND w = resolve_face_window(msg->hwnd);
    if (!w) {
        HWND under = WindowFromPoint(msg->pt);
        DWORD pid = 0;
        if (under) GetWindowThreadProcessId(under, &pid);
        if (pid == state.process_id && under != GetConsoleWindow()) w = resolve_face_window(under);
    }
    s.window = uint64_t(uintptr_t(w));
    s.special_key = events.special_key;
    WindowData* d = data_of(msg->hwnd);
    auto client_of_screen = [&](POINT p) {
        ScreenToClient(msg->hwnd, &p);
        s.has_offset = true;
        s.x = p.x;
        s.y = p.y;
    };
    using namespace event::code;
    if (type == wheel) {
        client_of_screen(POINT{GET_X_LPARAM(msg->lParam), GET_Y_LPARAM(msg->lParam)});
        s.wheel = GET_WHEEL_DELTA_WPARAM(msg->wParam);
    } else if ((type >= down && type <= over) || type == move || type == resize || type == moving ||
               type == resizing) {
        s.has_offset = true;
        if (word3 & event::flag::away) {
            POINT origin{0, 0};
            ClientToScreen(msg->hwnd, &origin);
            s.x = msg->pt.x - origin.x;
            s.y = msg->pt.y - origin.y;
        } else {
            s.x = GET_X_LPARAM(msg->lParam);
            s.y = GET_Y_LPARAM(msg->lParam);
        }
        s.offset_pair = (type == resize || type == resizing) && d && (d->view_bits & 0x10);
    } else if (type == key || type == key_down || type == key_up) {
        client_of_screen(msg->pt);
    } else if (type == menu && events.menu_position) {
        s.has_offset = true;
        s.x = events.menu_client.x;
        s.y = events.menu_client.y;
    }
    if (type == down || type == mid_down || type == alt_down || type == aux_down || type == dbl_click) {
        wchar_t name[16];
        if (GetClassNameW(msg->hwnd, name, 16) && _wcsicmp(name, L"KelListBox") == 0) {
            POINT p{GET_X_LPARAM(msg->lParam), GET_Y_LPARAM(msg->lParam)};
            ClientToScreen(msg->hwnd, &p);
            int item = LBItemFromPt(msg->hwnd, p, FALSE);
            s.list_item = item >= 0 ? item + 1 : 0;
        }
    }
    if (type == scroll) {
        s.vertical = msg->message == WM_VSCROLL;
        s.scroll_code = LOWORD(msg->wParam);
        SCROLLINFO si{};
        si.cbSize = sizeof si;
        si.fMask = SIF_POS | SIF_TRACKPOS;
        GetScrollInfo(msg->hwnd, s.vertical ? SB_VERT : SB_HORZ, &si);
        s.scroll_pos = s.scroll_code == SB_THUMBTRACK ? si.nTrackPos : si.nPos;
    }
    return s;
}

Cell view_awake() {
    Cell system = *word::fetch(context::find_or_add_global(symbol::make("system")));
    const Cell* view = environment::field(system, "view");
    const Cell* awake = view ? environment::field(*view, "awake") : nullptr;
    return awake ? *awake : Cell{type::none, 0, 0, 0};
}

void print_pending_error() {
    collector::RootCell text;
    throws::protect(throws::error, [&] {
        string::make(&text.cell, 64);
        exits::form_pending(&text.cell);
        std::u32string t = string::text_of(&text.cell);
        stdio::print_utf32_line(t.data(), t.size());
    });
}

// Calls awake with the event; answers whether it returned the word `stop`.
bool call_awake(const Cell& event) {
    Cell fn = view_awake();
    if (!cell::is(&fn, type::function)) return false;
    Cell name;
    word::make_in(symbol::make("awake"), &name);
    Cell values[3] = {event, {}, {}};
    cell::set_logic(&values[1], false);
    cell::set_none(&values[2]);
    Cell* args = stack::args;
    Cell* top = stack::top;
    bool stop = false;
    // A barrier frame: an error, or an exit that would leave the handler,
    // ends here and is printed.
    stack::mark_barrier(nullptr);
    uint32_t raised = throws::protect(throws::error, [&] {
        uint32_t code = call::with_values(fn, name, values, 3);
        if (code) exits::consume();
        Cell* result = stack::top - 1;
        if (!code && result >= stack::args && cell::is(result, type::word))
            stop = symbol::resolve(word::symbol(result)) == symbol::resolve(symbol::make("stop"));
        stack::unwind_drop();
    });
    // Not a language error (a quit, a halt): it goes on to its own region.
    if (raised && raised != throws::error) throws::throw_code(raised);
    if (raised) print_pending_error();
    stack::args = args;
    stack::top = top;
    return stop;
}

}  // namespace

uint32_t live_flags(bool with_buttons) {
    uint32_t f = 0;
    auto held = [](int vk) { return (GetKeyState(vk) & 0x8000) != 0; };
    if (held(VK_CONTROL)) f |= event::flag::control;
    if (held(VK_SHIFT)) f |= event::flag::shift;
    if (held(VK_MENU)) f |= event::flag::alt;
    if (with_buttons) {
        if (held(VK_LBUTTON)) f |= event::flag::down;
        if (held(VK_RBUTTON)) f |= event::flag::alt_down;
        if (held(VK_MBUTTON)) f |= event::flag::mid_down;
        if (held(VK_XBUTTON1)) f |= event::flag::aux_down;
    }
    return f;
}

MSG* current_message(HWND window, UINT message, WPARAM wp, LPARAM lp) {
    if (events.current) return events.current;
    events.spare.hwnd = window;
    events.spare.message = message;
    events.spare.wParam = wp;
    events.spare.lParam = lp;
    DWORD pos = GetMessagePos();
    events.spare.pt = POINT{GET_X_LPARAM(pos), GET_Y_LPARAM(pos)};
    return &events.spare;
}

MSG own_message(HWND window, UINT message, WPARAM wp, LPARAM lp) {
    MSG msg = *current_message(window, message, wp, lp);
    msg.hwnd = window;
    msg.message = message;
    msg.wParam = wp;
    msg.lParam = lp;
    return msg;
}

int dispatch(MSG* msg, uint32_t flags, uint32_t type) {
    using namespace event::code;
    uint32_t word3 = 0;
    switch (type) {
        case over: word3 = flags; break;
        case key_down:
        case key_up: {
            uint32_t code = 0;
            if (!key_code(msg, type == key_down, &code)) return 1;
            word3 = key_modifiers() | (code & 0xFFFF);
            break;
        }
        case key: {
            uint32_t ch = uint32_t(msg->wParam) & 0xFFFF;
            uint32_t modifiers = key_modifiers();
            if (ch >= 0xD800 && ch <= 0xDBFF) {
                events.pending_surrogate = ch;
                return 1;
            }
            if (ch >= 0xDC00 && ch <= 0xDFFF && events.pending_surrogate) {
                ch = ((events.pending_surrogate & 0x3FF) << 10) + (ch & 0x3FF) + 0x10000;
                events.pending_surrogate = 0;
                events.full_char = ch;
                modifiers = 0;
            } else {
                events.pending_surrogate = 0;
                events.full_char = 0;
            }
            if (events.special_key == 0xA4 || events.special_key == 0xA5 ||
                (events.composition && (live_flags(false) & event::flag::shift)))
                events.special_key = -1;
            word3 = ch | modifiers;
            break;
        }
        case select: word3 = (flags + 1) & 0xFFFF; break;
        case change: word3 = flags & 0xFFFF; break;
        case down: case up: case mid_down: case mid_up: case alt_down: case alt_up: case dbl_click: case wheel:
            word3 = flags | live_flags(true);
            break;
        case click: word3 = live_flags(false); break;
        case menu: word3 = flags & 0xFFFF; break;
        default: break;
    }
    collector::RootCell ev;
    event::make_native(&ev.cell, type, word3, snapshot::keep(snapshot_of(msg, type, word3)));
    MSG* saved = events.current;
    int32_t depth = loop::depth;
    bool stop = call_awake(ev.cell);
    events.current = saved;
    // The handler closed a window that owned a loop: that loop ends.
    if (loop::depth < depth) PostQuitMessage(0);
    return stop ? 0 : 1;
}

void defer_throw(uint32_t code) {
    if (throw_waiting) return;  // the first one wins
    throw_waiting = true;
    waiting_code = code;
}

void raise_deferred() {
    if (!throw_waiting) return;
    throw_waiting = false;
    if (waiting_code == 0) error::fire(error::id::no_memory);
    throw Throw{waiting_code};
}

}  // namespace kel::view::win32
