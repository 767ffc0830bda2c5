// The Direct2D device layer and the draw back end on a real window: a face
// cleared to its colour and a box read back from the frame, a lost device
// made again and the window repainted, WARP on request, text families that
// fall back, and line metrics of many lines.
#include <gtest/gtest.h>

#include "runtime/context.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/symbol.hpp"
#include "tests/support/environment.hpp"
// windows.h last: its near and far macros would break the runtime's headers.
#include "view/backend/win32/d2d.hpp"
#include "view/backend/win32/d2d_text.hpp"

using namespace kel;
using namespace kel::test;
namespace d2d = kel::view::d2d;

namespace {

struct Direct2D : WithEnvironment<> {
    void SetUp() override {
        WithEnvironment<>::SetUp();
        ASSERT_TRUE(d2d::init_factories());
        WNDCLASSEXW c{};
        c.cbSize = sizeof c;
        c.lpfnWndProc = DefWindowProcW;
        c.hInstance = GetModuleHandleW(nullptr);
        c.lpszClassName = L"KelDrawTest";
        RegisterClassExW(&c);  // fails harmlessly once registered
        window = CreateWindowExW(0, L"KelDrawTest", L"draw", WS_POPUP | WS_VISIBLE, 0, 0, 64, 32, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(window, nullptr);
        eval("face: make object! [type: 'base color: 10.20.30 size: 64x32 text: none font: none para: none "
             "data: none draw: [pen off fill-pen 200.0.0 box 8x8 24x24]]");
    }
    void TearDown() override {
        d2d::release_window(window);
        DestroyWindow(window);
        WithEnvironment<>::TearDown();
    }
    Cell face() { return *word::fetch(context::find_or_add_global(symbol::make("face"))); }

    // The pixel of the window's last frame, read back through the layered path.
    COLORREF pixel_after_paint(int x, int y) {
        d2d::paint_window(window, face(), true);
        HDC dc = d2d::update_layered(window);
        EXPECT_NE(dc, nullptr);
        return dc ? GetPixel(dc, x, y) : CLR_INVALID;
    }

    HWND window = nullptr;
};

}  // namespace

TEST_F(Direct2D, AFaceIsClearedToItsColourAndDrawn) {
    EXPECT_EQ(pixel_after_paint(2, 2), RGB(10, 20, 30));
    EXPECT_EQ(pixel_after_paint(16, 16), RGB(200, 0, 0));
    eval("face/color: 0.128.0 face/draw: [fill-pen 0.0.255 push [fill-pen 255.255.255] box 0x0 4x4 bad]");
    EXPECT_EQ(pixel_after_paint(40, 20), RGB(0, 128, 0));
    EXPECT_EQ(pixel_after_paint(2, 2), RGB(0, 0, 255));  // the push gave its fill back; the error was dropped
}

// A present that finds the device removed makes a new device and asks every
// drawn window to paint again; the next paint draws on the new device.
TEST_F(Direct2D, ALostDeviceIsMadeAgainAndTheWindowRepaints) {
    EXPECT_EQ(pixel_after_paint(2, 2), RGB(10, 20, 30));
    int32_t generation = d2d::device_generation();
    ValidateRect(window, nullptr);
    d2d::inject_device_removed();
    d2d::paint_window(window, face(), false);
    EXPECT_EQ(d2d::device_generation(), generation + 1);
    EXPECT_TRUE(d2d::has_device());
    RECT update{};
    EXPECT_TRUE(GetUpdateRect(window, &update, FALSE));
    eval("face/color: 50.60.70");
    EXPECT_EQ(pixel_after_paint(2, 2), RGB(50, 60, 70));
}

TEST_F(Direct2D, GpuFalseAsksForWarp) {
    eval("system/view/GPU?: false");
    ASSERT_TRUE(d2d::create_device());
    EXPECT_TRUE(d2d::device_is_warp());
    eval("system/view/GPU?: true");
    ASSERT_TRUE(d2d::create_device());
    EXPECT_EQ(pixel_after_paint(2, 2), RGB(10, 20, 30));
}

// Text draws in the pen colour with a family that exists: an unknown one
// falls back.
TEST_F(Direct2D, TextFallsBackToAFamilyThatExists) {
    std::wstring family = d2d::family_for(L"No Such Family Here");
    EXPECT_NE(family, L"No Such Family Here");
    EXPECT_FALSE(family.empty());
    eval("fnt: make object! [name: \"No Such Family Here\" size: 20 style: 'bold color: none state: none] "
         "face/color: 0.0.0 face/draw: [pen 255.255.255 font fnt text 0x0 \"MMMM\"]");
    d2d::paint_window(window, face(), true);
    HDC dc = d2d::update_layered(window);
    ASSERT_NE(dc, nullptr);
    int lit = 0;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 64; ++x)
            if (GetPixel(dc, x, y) != RGB(0, 0, 0)) ++lit;
    EXPECT_GT(lit, 20);
}

TEST_F(Direct2D, LineMetricsOfManyLines) {
    IDWriteTextFormat* format = d2d::text_format(Cell{type::none, 0, 0, 0});
    ASSERT_NE(format, nullptr);
    std::wstring text;
    for (int i = 0; i < 40; ++i) text += L"line\n";
    IDWriteTextLayout* layout = d2d::text_layout(text, format, 0, 0);
    ASSERT_NE(layout, nullptr);
    EXPECT_EQ(d2d::line_metrics(layout).size(), 41u);
    layout->Release();
    format->Release();
}

// The window's record follows its client size: the target is unbound before
// the buffers are resized, and the whole new area is drawn.
TEST_F(Direct2D, AResizedWindowDrawsItsNewArea) {
    EXPECT_EQ(pixel_after_paint(2, 2), RGB(10, 20, 30));
    SetWindowPos(window, nullptr, 0, 0, 128, 64, SWP_NOZORDER | SWP_NOACTIVATE);
    d2d::resize_window(window, 128, 64);
    EXPECT_EQ(pixel_after_paint(120, 60), RGB(10, 20, 30));
    EXPECT_EQ(pixel_after_paint(16, 16), RGB(200, 0, 0));
}

// A rich-text face's style runs: a backdrop range is painted behind its
// characters (where hit-testing is not implemented, from the cluster
// metrics); every colour keeps its brush, past 64 of them; a bad style
// value stops the drawing.
TEST_F(Direct2D, RichTextStyleRuns) {
    eval("rt: make object! [type: 'rich-text text: \"MMMMMMMM\" size: 200x40 color: none font: none para: none "
         "data: [1x4 backdrop 0.0.255 5x4 bold] state: none] "
         "face/color: 0.0.0 face/draw: compose [pen 255.255.255 text 0x0 (rt)]");
    COLORREF c = pixel_after_paint(1, 1);
    EXPECT_EQ(c, RGB(0, 0, 255));
    eval("clear rt/data repeat i 70 [append rt/data reduce [1x1 to tuple! reduce [i 0 0]]]");
    d2d::paint_window(window, face(), true);
    d2d::paint_window(window, face(), true);
    EXPECT_EQ(d2d::text_brush_count(window), 71u);  // and the backdrop's blue
    eval("face/draw: compose [fill-pen 200.0.0 box 0x0 8x8 text 0x0 (rt) box 0x0 64x32] rt/data: [1x1 nonsense 2]");
    EXPECT_EQ(pixel_after_paint(4, 4), RGB(200, 0, 0));
    EXPECT_EQ(pixel_after_paint(20, 20), RGB(0, 0, 0));
}

// A line width of 0 parks the pen: nothing is stroked until a width other
// than 0 brings the pen back, also one chosen meanwhile.
TEST_F(Direct2D, AZeroLineWidthParksThePen) {
    struct {
        const char* commands;
        COLORREF edge;
    } cases[] = {
        {"[pen 255.255.255 line-width 4 fill-pen 200.0.0 box 8x8 24x24]", RGB(255, 255, 255)},
        {"[pen 255.255.255 line-width 0 fill-pen 200.0.0 box 8x8 24x24]", RGB(10, 20, 30)},
        {"[pen 255.255.255 line-width 0 line-width 4 box 8x8 24x24]", RGB(255, 255, 255)},
        {"[line-width 0 pen 0.255.0 line-width 4 box 8x8 24x24]", RGB(0, 255, 0)},
        {"[pen 255.255.255 line-width 4 pen off box 8x8 24x24]", RGB(10, 20, 30)},
    };
    for (const auto& c : cases) {
        eval(std::string("face/draw: ") + c.commands);
        EXPECT_EQ(pixel_after_paint(7, 16), c.edge) << c.commands;
    }
}
