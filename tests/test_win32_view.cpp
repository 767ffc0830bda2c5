// The Windows back end under a real display: start-up facts, screens,
// window styles and classes, the pre-filter's event sequences, nested
// loops ended by destroy-view, face timers and text-box metrics.
// The environment first: windows.h defines `near`, a field name there.
#include "tests/support/environment.hpp"

#include <windows.h>

#include <cmath>
#include <limits>

#include "runtime/context.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/symbol.hpp"
#include "view/backend/loop.hpp"
#include "view/backend/routines.hpp"
#include "view/backend/units.hpp"
#include "view/backend/win32/layout_style.hpp"
#include "view/backend/win32/win32.hpp"

using namespace kel;
using namespace kel::test;
namespace w32 = kel::view::win32;

namespace {

// The gui context as the global word `gui`, faces made from a prototype
// with the face facets in slot order, `show` making a face's window, and an
// awake that logs each event's type and key into `log`.
struct Win32View : WithEnvironment<> {
    void SetUp() override {
        WithEnvironment<>::SetUp();
        view::routines::make(&w32::backend);
        w32::install();
        Cell gui = view::routines::object();
        word::set(context::find_or_add_global(symbol::make("gui")), &gui);
        ASSERT_EQ(eval("face-proto: make object! [type: 'base offset: 0x0 size: 100x100 text: none image: none "
                       "color: none menu: none data: none enabled?: true visible?: true selected: none "
                       "flags: none options: none parent: none pane: none state: none rate: none edge: none "
                       "para: none font: none actors: none extra: none draw: none handles: none] "
                       "show: func [f parent] [f/state: reduce [gui/make-view f parent 0 none false] f/state/1] "
                       "log: copy [] "
                       "system/view/awake: func [e] [append log reduce [e/type e/key] none] "
                       "none"),
                  "none");
    }
    void TearDown() override {
        eval("foreach f [w1 w2 w3] [if all [value? f object? get f block? get in get f 'state] "
             "[gui/destroy-view get f false]] none");
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
        view::loop::reset();
        view::units::scale = 1.0;
        WithEnvironment<>::TearDown();
    }
    // The window of the face held by a global word.
    HWND window_of(const char* name) {
        Cell face = *word::fetch(context::find_or_add_global(symbol::make(name)));
        return w32::face_window(face);
    }
    std::string class_of(HWND w) {
        wchar_t name[64] = L"";
        GetClassNameW(w, name, 64);
        return std::string(name, name + wcslen(name));
    }
    // Runs a message through the pre-filter as the loop would.
    int filter(HWND w, UINT message, WPARAM wp, LPARAM lp) {
        MSG m{w, message, wp, lp, 0, {}};
        return w32::prefilter(&m);
    }
};

}  // namespace

TEST_F(Win32View, StartUpFacts) {
    EXPECT_EQ(eval("gui/version"), "10.0.0");
    EXPECT_EQ(eval("integer? gui/build"), "true");
    EXPECT_EQ(eval("gui/make-null-handle"), eval("gui/make-null-handle"));
    EXPECT_EQ(eval("string? system/view/fonts/system"), "true");
    EXPECT_EQ(eval("system/view/metrics/dpi"), "96");
    EXPECT_EQ(eval("tuple? select system/view/metrics/colors 'panel"), "true");
}

TEST_F(Win32View, ScreensAreTheDisplay) {
    int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
    std::string size = std::to_string(w) + "x" + std::to_string(h);
    EXPECT_EQ(eval("s: gui/fetch-all-screens reduce [length? s s/1/1 s/1/2 s/1/3 handle? s/1/4]"),
              "[1 0x0 " + size + " 1.0 true]");
    EXPECT_EQ(eval("gui/get-screen-size 0"), size);
    EXPECT_EQ(eval("handle? gui/get-current-screen"), "true");
}

// Styles and classes as Windows reads them back.
TEST_F(Win32View, WindowAndBaseStyles) {
    ASSERT_EQ(eval("w1: make face-proto [type: 'window flags: [no-title no-border] text: \"popup\"] "
                   "handle? show w1 gui/make-null-handle"),
              "true");
    HWND popup = window_of("w1");
    ASSERT_TRUE(popup);
    EXPECT_EQ(class_of(popup), "KelWindow");
    EXPECT_EQ(DWORD(GetWindowLongW(popup, GWL_STYLE)) & ~DWORD(WS_CLIPSIBLINGS | WS_VISIBLE), DWORD(WS_POPUP));

    eval("w2: make face-proto [type: 'window size: -1x-1 text: \"sized\"] show w2 gui/make-null-handle");
    HWND sized = window_of("w2");
    RECT client{};
    GetClientRect(sized, &client);
    EXPECT_EQ(client.right, 200);
    EXPECT_EQ(client.bottom, 200);
    DWORD style = GetWindowLongW(sized, GWL_STYLE);
    EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN),
              DWORD(WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN));
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);  // no `resize`: no maximise box
    EXPECT_FALSE(style & WS_VISIBLE);      // a window is shown by show-window

    // A base without an opaque colour is a layered child; with one it is plain.
    eval("w3: make face-proto [type: 'base offset: 10x10 size: 50x40] show w3 w2/state/1 "
         "b2: make face-proto [type: 'base color: 10.200.30 size: 20x20] show b2 w2/state/1");
    HWND clear = window_of("w3"), opaque = window_of("b2");
    EXPECT_EQ(class_of(clear), "KelBase");
    EXPECT_TRUE(GetWindowLongW(clear, GWL_EXSTYLE) & WS_EX_LAYERED);
    EXPECT_TRUE(GetWindowLongW(clear, GWL_STYLE) & WS_CHILD);
    EXPECT_EQ(GetParent(clear), sized);
    EXPECT_FALSE(GetWindowLongW(opaque, GWL_EXSTYLE) & WS_EX_LAYERED);
    // A copied system class keeps its own window bytes and the face's.
    eval("b3: make face-proto [type: 'check text: \"tick\" size: 60x20] show b3 w2/state/1");
    HWND check = window_of("b3");
    EXPECT_EQ(class_of(check), "KelButton");
    SendMessageW(check, BM_SETCHECK, BST_CHECKED, 0);
    EXPECT_EQ(SendMessageW(check, BM_GETCHECK, 0, 0), BST_CHECKED);
    Cell shown;
    EXPECT_TRUE(w32::face_of_window(check, &shown));
    EXPECT_EQ(eval("gui/make-view make face-proto [type: 'not-a-face] gui/make-null-handle"), "error: face-type");
    EXPECT_EQ(eval("gui/make-view make face-proto [type: 'window flags: [no-such]] gui/make-null-handle"),
              "error: invalid-arg");
}

// An opaque base paints its colour.
TEST_F(Win32View, OpaqueBaseShowsItsColour) {
    eval("w1: make face-proto [type: 'window size: 120x80 offset: 40x40] show w1 gui/make-null-handle "
         "w2: make face-proto [type: 'base color: 10.200.30 offset: 10x10 size: 60x40] show w2 w1/state/1 "
         "gui/show-window w1/state/1");
    HWND base = window_of("w2");
    RedrawWindow(base, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
    HDC dc = GetDC(base);
    COLORREF c = GetPixel(dc, 30, 20);
    ReleaseDC(base, dc);
    EXPECT_EQ(c, RGB(10, 200, 30));
}

// Keyboard sequences: a letter, an arrow, shift alone, a swallowed key, a
// surrogate pair, a lone low surrogate.
TEST_F(Win32View, KeySequences) {
    eval("w1: make face-proto [type: 'window size: 100x100] show w1 gui/make-null-handle");
    HWND w = window_of("w1");
    struct {
        UINT message;
        WPARAM wp;
        LPARAM lp;
        const char* log;
    } cases[] = {
        {WM_KEYDOWN, 'A', 0x001E0001, "[key-down #\"A\"]"},
        {WM_KEYDOWN, VK_LEFT, 0x014B0001, "[key-down left key left]"},
        {WM_KEYDOWN, VK_SHIFT, 0x002A0001, "[key-down left-shift]"},
        {WM_KEYDOWN, VK_SHIFT, 0x00360001, "[key-down right-shift]"},
        {WM_KEYDOWN, VK_CONTROL, 0x011D0001, "[key-down right-control]"},
        {WM_KEYUP, VK_F5, 0x003F0001, "[key-up F5]"},
        {WM_KEYDOWN, VK_PROCESSKEY, 0, "[]"},
        {WM_CHAR, 'a', 0, "[key #\"a\"]"},
    };
    for (const auto& c : cases) {
        eval("clear log");
        EXPECT_EQ(filter(w, c.message, c.wp, c.lp), 1);
        EXPECT_EQ(eval("log"), c.log) << c.log;
    }
    // A surrogate pair makes one key event of the whole character.
    eval("clear log");
    filter(w, WM_CHAR, 0xD83D, 0);
    filter(w, WM_CHAR, 0xDE00, 0);
    EXPECT_EQ(eval("reduce [length? log to integer! log/2]"), "[2 128512]");
    // A low surrogate with no high one before it stays itself.
    eval("clear log");
    filter(w, WM_CHAR, 0xDC01, 0);
    EXPECT_EQ(eval("to integer! log/2"), "56321");
    // A made key event carries its modifiers into the dispatch.
    eval("clear log system/view/awake: func [e] [append log reduce [e/type e/key e/ctrl? e/shift?] none]");
    EXPECT_EQ(eval("send-event-os make event! compose [type: 'key face: (w1) key: #\"q\" flags: [control]] false"),
              "true");
    EXPECT_EQ(eval("log"), "[key #\"q\" true false]");
    // `stop` from key-down swallows the message: no key follows.
    eval("clear log system/view/awake: func [e] [append log e/type 'stop]");
    EXPECT_EQ(filter(w, WM_KEYDOWN, VK_LEFT, 0x014B0001), 0);
    EXPECT_EQ(eval("log"), "[key-down]");
}

// Mouse sequences through send-event-os, and the pre-filter's own rules.
TEST_F(Win32View, MouseSequences) {
    eval("w1: make face-proto [type: 'window size: 200x200] show w1 gui/make-null-handle "
         "system/view/awake: func [e] [unless find [focus unfocus] e/type "
         "[append log reduce [e/type e/offset e/away?] kept: e] none] "
         "clear log");
    HWND w = window_of("w1");
    EXPECT_EQ(eval("send-event-os make event! compose [type: 'down face: (w1) offset: 10x20] false"), "true");
    EXPECT_EQ(eval("log"), "[down (10, 20) false]");
    eval("clear log");
    EXPECT_EQ(eval("send-event-os make event! compose [type: 'over face: (w1) offset: 3x4 flags: [away]] false"),
              "true");
    EXPECT_EQ(eval("log/1"), "over");
    EXPECT_EQ(eval("log/3"), "true");
    // A repeated position makes no event; a double click gives down, then dbl-click.
    eval("clear log");
    EXPECT_EQ(filter(w, WM_MOUSEMOVE, 0, MAKELPARAM(7, 7)), 1);
    EXPECT_EQ(filter(w, WM_MOUSEMOVE, 0, MAKELPARAM(7, 7)), 0);
    filter(w, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(5, 6));
    EXPECT_EQ(eval("extract log 3"), "[over down dbl-click]");
    // A kept event answers its own fields after later dispatches.
    eval("first-kept: kept");
    filter(w, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(50, 60));
    EXPECT_EQ(eval("reduce [first-kept/type first-kept/offset kept/offset]"), "[dbl-click (5, 6) (50, 60)]");
    // An event without a face with a window has no native form.
    EXPECT_EQ(eval("send-event-os make event! [type: 'down] false"), "false");
}

// Loops ended by exit-event-loop owe nothing to later ones; destroy-view
// of the last window ends exactly the running loop.
TEST_F(Win32View, DestroyViewEndsOneLoop) {
    // Each loop takes the quit message at once: it processed nothing.
    for (int i = 0; i < 5; ++i) EXPECT_EQ(eval("gui/exit-event-loop gui/do-event-loop false"), "false");
    EXPECT_EQ(view::loop::pending_exits, 0);
    eval("w1: make face-proto [type: 'window size: 100x100 rate: 50] show w1 gui/make-null-handle "
         "system/view/awake: func [e] [if e/type = 'time [append log e/type gui/destroy-view e/face true] none] "
         "clear log");
    EXPECT_EQ(eval("gui/do-event-loop false"), "true");
    EXPECT_EQ(eval("log"), "[time]");
    EXPECT_EQ(view::loop::pending_exits, 0);
    EXPECT_EQ(eval("w1/state"), "none");
    MSG m;
    EXPECT_FALSE(PeekMessageW(&m, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE));
}

// A rate of 3 ticks time events; bad rates raise, a huge one waits long.
TEST_F(Win32View, RateTimer) {
    eval("w1: make face-proto [type: 'window size: 100x100 rate: 3] show w1 gui/make-null-handle "
         "ticks: copy [] "
         "system/view/awake: func [e] [if e/type = 'time [append ticks now/precise "
         "if 3 = length? ticks [gui/exit-event-loop]] none]");
    EXPECT_EQ(eval("gui/do-event-loop false"), "true");
    EXPECT_EQ(eval("reduce [length? ticks ticks/1 < ticks/2 ticks/2 < ticks/3]"), "[3 true true]");
    HWND w = window_of("w1");
    for (const char* bad : {"0", "-1", "0:00:00", "\"fast\""}) {
        std::string set = std::string("w1/rate: ") + bad + " w1/state/2: 65536 gui/update-view w1";
        EXPECT_EQ(eval(set.c_str()), "error: invalid-facet-type") << bad;
    }
    Cell nan;
    cell::set_real(&nan, type::time, std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(throws::protect(throws::error, [&] { w32::set_rate(w, &nan); }), throws::error);
    EXPECT_EQ(std::string(error::pending.id), "invalid-facet-type");
    Cell huge;
    cell::set_real(&huge, type::time, 1e12);
    EXPECT_EQ(throws::protect(throws::error, [&] { w32::set_rate(w, &huge); }), 0u);
}

// Text-box metrics of a rich-text face whose text holds an astral character.
TEST_F(Win32View, TextBoxMetrics) {
    eval("w1: make face-proto [type: 'window size: 300x100] show w1 gui/make-null-handle "
         "w2: make face-proto [type: 'rich-text size: 280x60 text: \"a\U0001F600b\" color: 255.255.255] "
         "show w2 w1/state/1");
    EXPECT_EQ(eval("gui/text-box-metrics w2 1 4"), "1");
    EXPECT_EQ(eval("s: gui/text-box-metrics w2 none 3 all [s/x > 0 s/y > 0]"), "true");
    EXPECT_EQ(eval("p1: gui/text-box-metrics w2 1 0 p2: gui/text-box-metrics w2 2 0 "
                   "p3: gui/text-box-metrics w2 3 0 reduce [p1/x p1/x < p2/x p2/x < p3/x]"),
              "[0.0 true true]");
    EXPECT_EQ(eval("e: gui/text-box-metrics w2 1 6 all [e/x > 0 e/y > 0]"), "true");
    EXPECT_EQ(eval("h: gui/text-box-metrics w2 3 2 all [float? h h > 0]"), "true");
    EXPECT_EQ(eval("gui/text-box-metrics w2 0x5 1"), "1");
    EXPECT_EQ(eval("gui/text-box-metrics w2 270x5 1"), "4");
    EXPECT_EQ(eval("gui/text-box-metrics w2 0x5 5"), "1");
    EXPECT_EQ(eval("gui/text-box-metrics make face-proto [type: 'base text: \"x\"] 1 0"), "error: face-type");
    EXPECT_EQ(eval("gui/text-box-metrics make face-proto [type: 'rich-text] 1 0"), "none");
}

// Moving and sizing a window face keeps its facets and tells its actors.
TEST_F(Win32View, MoveAndResize) {
    eval("w1: make face-proto [type: 'window offset: 50x60 size: 120x80] show w1 gui/make-null-handle "
         "system/view/awake: func [e] [if find [move resize] e/type [append log e/type] none] clear log");
    HWND w = window_of("w1");
    SetWindowPos(w, nullptr, 200, 150, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    EXPECT_EQ(eval("reduce [log w1/offset]"), "[[move] (200, 150)]");
    eval("clear log");
    RECT outer{};
    GetWindowRect(w, &outer);
    RECT client{};
    GetClientRect(w, &client);
    int32_t extra_w = (outer.right - outer.left) - client.right, extra_h = (outer.bottom - outer.top) - client.bottom;
    SetWindowPos(w, nullptr, 0, 0, 300 + extra_w, 100 + extra_h, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    EXPECT_EQ(eval("reduce [log w1/size]"), "[[resize] 300x100]");
    // A facet change reaches the window through update-view.
    eval("w1/offset: 10x20 w1/state/2: 2 gui/update-view w1");
    GetWindowRect(w, &outer);
    EXPECT_EQ(outer.left, 10);
    EXPECT_EQ(outer.top, 20);
    EXPECT_EQ(eval("reduce [type? w1/offset w1/state/2]"), "[point2D! 0]");
}

// Closing asks the view: `stop` ends the running loop, anything else keeps
// the window open.
TEST_F(Win32View, CloseAsksTheView) {
    eval("w1: make face-proto [type: 'window size: 100x100] show w1 gui/make-null-handle "
         "answer: none system/view/awake: func [e] [if e/type = 'close [append log 'close] answer] clear log");
    HWND w = window_of("w1");
    SendMessageW(w, WM_CLOSE, 0, 0);
    EXPECT_TRUE(IsWindow(w));
    EXPECT_EQ(eval("log"), "[close]");
    MSG m;
    EXPECT_FALSE(PeekMessageW(&m, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE));
    eval("answer: 'stop");
    PostMessageW(w, WM_CLOSE, 0, 0);
    EXPECT_EQ(eval("gui/do-event-loop false"), "true");
    EXPECT_TRUE(IsWindow(w));
    EXPECT_EQ(eval("log"), "[close close]");
}

// An error in the view's handler is printed, and the message goes on.
TEST_F(Win32View, HandlerErrorsStayInTheHandler) {
    eval("w1: make face-proto [type: 'window size: 100x100] show w1 gui/make-null-handle "
         "system/view/awake: func [e] [append log e/type 1 / 0]");
    eval("clear log");
    EXPECT_EQ(filter(window_of("w1"), WM_CHAR, 'x', 0), 1);
    EXPECT_EQ(eval("log"), "[key]");
    EXPECT_EQ(eval("1 + 1"), "2");
}

// Pixels round half up on both sides of zero.
TEST(Win32Units, Scaling) {
    view::units::scale = 1.5;
    EXPECT_EQ(w32::px(101), 152);
    EXPECT_EQ(w32::px(-10), -15);
    EXPECT_EQ(w32::px(-0.2), 0);
    EXPECT_NEAR(w32::logical(152), 101.333, 0.001);
    view::units::scale = 1.0;
}

// A window that cannot be made gives a null handle and starts nothing.
TEST_F(Win32View, FailedCreationGivesNoWindow) {
    eval("w1: make face-proto [type: 'window size: 100x100] show w1 gui/make-null-handle dead: w1/state/1");
    DestroyWindow(window_of("w1"));
    EXPECT_EQ(eval("handle? h: gui/make-view make face-proto [type: 'base rate: 5] dead"), "true");
    Cell h = *word::fetch(context::find_or_add_global(symbol::make("h")));
    EXPECT_EQ(h.payload2, 0u);
    eval("w1/state: none");
}

// An opaque base given a transparent colour gets a new, layered window at
// the same place among its siblings.
TEST_F(Win32View, TransparentColourMakesALayeredWindow) {
    eval("w1: make face-proto [type: 'window size: 200x200] show w1 gui/make-null-handle "
         "b1: make face-proto [type: 'base color: 1.2.3 size: 20x20] show b1 w1/state/1 "
         "w2: make face-proto [type: 'base color: 10.200.30 offset: 30x0 size: 20x20] show w2 w1/state/1 "
         "b3: make face-proto [type: 'base color: 4.5.6 offset: 60x0 size: 20x20] show b3 w1/state/1");
    HWND old = window_of("w2");
    HWND before = GetWindow(old, GW_HWNDPREV), after = GetWindow(old, GW_HWNDNEXT);
    EXPECT_EQ(eval("w2/color: 10.200.30.100 w2/state/2: 32 gui/update-view w2 none"), "none");
    HWND made = window_of("w2");
    ASSERT_TRUE(made);
    EXPECT_NE(made, old);
    EXPECT_FALSE(IsWindow(old));
    EXPECT_TRUE(GetWindowLongW(made, GWL_EXSTYLE) & WS_EX_LAYERED);
    EXPECT_EQ(GetParent(made), window_of("w1"));
    EXPECT_EQ(GetWindow(made, GW_HWNDPREV), before);
    EXPECT_EQ(GetWindow(made, GW_HWNDNEXT), after);
}

// Style runs on a DirectWrite layout: a size in points, weight, decoration;
// a colour is no font style.
TEST_F(Win32View, RangeStylesOnALayout) {
    HMODULE dll = LoadLibraryW(L"DWrite.dll");
    ASSERT_TRUE(dll);
    using Create = HRESULT(WINAPI*)(DWRITE_FACTORY_TYPE, REFIID, IUnknown**);
    auto create = reinterpret_cast<Create>(reinterpret_cast<void*>(GetProcAddress(dll, "DWriteCreateFactory")));
    IDWriteFactory* f = nullptr;
    ASSERT_EQ(create(DWRITE_FACTORY_TYPE_SHARED, __uuidof(IDWriteFactory), reinterpret_cast<IUnknown**>(&f)), S_OK);
    IDWriteTextFormat* format = nullptr;
    ASSERT_EQ(f->CreateTextFormat(L"DejaVu Sans", nullptr, DWRITE_FONT_WEIGHT_NORMAL, DWRITE_FONT_STYLE_NORMAL,
                                  DWRITE_FONT_STRETCH_NORMAL, 10.0f, L"", &format),
              S_OK);
    IDWriteTextLayout* layout = nullptr;
    ASSERT_EQ(f->CreateTextLayout(L"abcdef", 6, format, 200, 50, &layout), S_OK);
    eval("style-values: reduce [12 'bold 'underline 255.0.0]");
    auto value = [&](int i) {
        std::string pick = "pick style-values " + std::to_string(i);
        eval(("v: " + pick + " none").c_str());
        return *word::fetch(context::find_or_add_global(symbol::make("v")));
    };
    EXPECT_TRUE(w32::layout_range_style(layout, 0, 2, value(1)));
    EXPECT_TRUE(w32::layout_range_style(layout, 2, 2, value(2)));
    EXPECT_TRUE(w32::layout_range_style(layout, 4, 2, value(3)));
    EXPECT_FALSE(w32::layout_range_style(layout, 0, 6, value(4)));
    FLOAT size = 0;
    layout->GetFontSize(0, &size);
    EXPECT_FLOAT_EQ(size, 16.0f);
    DWRITE_FONT_WEIGHT weight{};
    layout->GetFontWeight(2, &weight);
    EXPECT_EQ(weight, DWRITE_FONT_WEIGHT_BOLD);
    BOOL under = FALSE;
    layout->GetUnderline(4, &under);
    EXPECT_TRUE(under);
    layout->GetUnderline(0, &under);
    EXPECT_FALSE(under);
    layout->Release();
    format->Release();
    f->Release();
}

// The cursor option: a word names a system cursor, an image becomes the icon.
TEST_F(Win32View, CursorAndIconOptions) {
    eval("w1: make face-proto [type: 'window size: 100x100 options: compose [cursor: (make image! 16x16)]] "
         "show w1 gui/make-null-handle "
         "w2: make face-proto [type: 'base color: 1.2.3 options: [cursor: hand]] show w2 w1/state/1");
    w32::WindowData* window = w32::data_of(window_of("w1"));
    ASSERT_TRUE(window);
    EXPECT_TRUE(window->icon);
    EXPECT_EQ(window->cursor, HCURSOR(window->icon));
    w32::WindowData* base = w32::data_of(window_of("w2"));
    ASSERT_TRUE(base);
    EXPECT_EQ(base->cursor, LoadCursorW(nullptr, IDC_HAND));
}

// Colours for Windows: a COLORREF, and ARGB with the transparency inverted.
TEST_F(Win32View, Colours) {
    eval("c3: 10.20.30 c4: 10.20.30.55 c0: 10.20.30.0 none");
    auto v = [&](const char* name) { return *word::fetch(context::find_or_add_global(symbol::make(name))); };
    Cell c3 = v("c3"), c4 = v("c4"), c0 = v("c0");
    COLORREF ref = 0;
    ASSERT_TRUE(w32::colorref_of(&c4, &ref));
    EXPECT_EQ(ref, RGB(10, 20, 30));
    EXPECT_EQ(w32::argb_of(&c3, false), 0xFF0A141Eu);
    EXPECT_EQ(w32::argb_of(&c4, false), 0xC80A141Eu);
    EXPECT_EQ(w32::argb_of(&c0, true), 0xFE0A141Eu);
    EXPECT_FALSE(w32::needs_transparency(&c3));
    EXPECT_FALSE(w32::needs_transparency(&c0));
    EXPECT_TRUE(w32::needs_transparency(&c4));
}
