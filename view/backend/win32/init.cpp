// The back end's start-up: version facts, common controls, DPI, the
// default GUI font, window classes, system metrics, dark mode and the
// handle kinds of the fonts and COM objects it hands to Kel code.
#include <windows.h>
#include <commctrl.h>
#include <shellscalingapi.h>

#include <string_view>

#include "environment/routines.hpp"
#include "runtime/collector.hpp"
#include "runtime/context.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/map.hpp"
#include "runtime/datatypes/pair.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/tuple.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/slots.hpp"
#include "runtime/symbol.hpp"
#include "runtime/unicode.hpp"
#include "view/backend/units.hpp"
#include "view/backend/win32/d2d.hpp"
#include "view/backend/win32/win32.hpp"

namespace kel::view::win32 {

State state;

namespace {

static_assert(sizeof(NONCLIENTMETRICSW) == 504);
static_assert(sizeof(OSVERSIONINFOEXW) == 284);

void release_font_handle(uintptr_t data) { DeleteObject(reinterpret_cast<HGDIOBJ>(data)); }
void release_com(uintptr_t data) {
    if (data) reinterpret_cast<IUnknown*>(data)->Release();
}

Cell view_object() {
    Cell system = *word::fetch(context::find_or_add_global(symbol::make("system")));
    const Cell* view = environment::field(system, "view");
    return view ? *view : Cell{type::none, 0, 0, 0};
}

bool high_contrast() {
    HIGHCONTRASTW hc{};
    hc.cbSize = sizeof hc;
    return SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof hc, &hc, 0) && (hc.dwFlags & HCF_HIGHCONTRASTON);
}

bool dwm_composition() {
    HMODULE dwm = LoadLibraryW(L"dwmapi.dll");
    if (!dwm) return false;
    BOOL on = FALSE;
    using Query = HRESULT(WINAPI*)(BOOL*);
    auto query = reinterpret_cast<Query>(reinterpret_cast<void*>(GetProcAddress(dwm, "DwmIsCompositionEnabled")));
    if (query) query(&on);
    FreeLibrary(dwm);
    return on;
}

int monitor_dpi(HMONITOR monitor) {
    UINT x = 96, y = 96;
    if (monitor && GetDpiForMonitor(monitor, MDT_EFFECTIVE_DPI, &x, &y) == S_OK && y) return int(y);
    return 96;
}

void put(Cell map, const Cell& key, const Cell& value) {
    collector::RootCell kept{map}, entry;
    block::make_at(&entry.cell, 2);
    block::ks_append(&entry.cell, &key);
    block::ks_append(&entry.cell, &value);
    map::extend(&kept.cell, &entry.cell, false);
}

// A tuple of a system colour, for the metrics' colours map.
void put_color(Cell map, const char* key, int index) {
    COLORREF c = GetSysColor(index);
    uint8_t rgb[3] = {GetRValue(c), GetGValue(c), GetBValue(c)};
    Cell k, v;
    word::make_in(symbol::make(key), &k);
    tuple::box_bytes(&v, rgb, 3);
    put(map, k, v);
}

void put_pair(Cell map, const char* key, int32_t x, int32_t y) {
    Cell k, v;
    word::make_in(symbol::make(key), &k);
    pair::box(&v, x, y);
    put(map, k, v);
}

bool started = false;

// The handle kind of that name, registered once per runtime.
int32_t kind_named(const char* name, slots::ReleaseProc release) {
    for (int32_t i = 0; i < slots::table.kind_count; ++i)
        if (std::string_view(slots::table.kinds[i].name) == name) return i + 1;
    return slots::register_kind(name, release);
}

}  // namespace

void make_default_font() {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    HFONT font = nullptr;
    if (SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, UINT(state.dpi))) {
        const LOGFONTW& lf = metrics.lfMessageFont;
        state.default_font_name = reinterpret_cast<const char16_t*>(lf.lfFaceName);
        state.default_font_size = -(lf.lfHeight * 72 / state.dpi);
        font = CreateFontIndirectW(&lf);
    }
    if (!font) font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    state.default_font = font;
    Cell view = view_object();
    if (Cell* fonts = environment::field(view, "fonts")) {
        std::string name = unicode::utf16_to_utf8(state.default_font_name);
        Cell v;
        collector::RootCell text;
        string::make_from_utf8(&text.cell, name.data(), name.size());
        if (Cell* system = environment::field(*fonts, "system")) *system = text.cell;
        cell::set_integer(&v, state.default_font_size);
        if (Cell* size = environment::field(*environment::field(view_object(), "fonts"), "size")) *size = v;
    }
}

void fill_metrics() {
    Cell view = view_object();
    Cell* metrics = environment::field(view, "metrics");
    if (!metrics) return;
    Cell m = *metrics;
    Cell v;
    cell::set_integer(&v, state.dpi);
    if (Cell* dpi = environment::field(m, "dpi")) *dpi = v;
    if (Cell* misc = environment::field(m, "misc"); misc && cell::is(misc, type::map))
        put_pair(*misc, "scroller", GetSystemMetrics(SM_CXVSCROLL), GetSystemMetrics(SM_CYVSCROLL));
    if (Cell* colors = environment::field(m, "colors"); colors && cell::is(colors, type::map)) {
        Cell c = *colors;
        put_color(c, "text", COLOR_WINDOWTEXT);
        put_color(c, "window", COLOR_WINDOW);
        put_color(c, "panel", COLOR_BTNFACE);
    }
}

void init() {
    if (!started) {
        started = true;
        // 1. Who we are.
        state.process_id = GetCurrentProcessId();
        state.screen_dc = GetDC(nullptr);
        state.module = GetModuleHandleW(nullptr);
        // 2. The version, as the manifest lets the system tell it; common controls.
        state.version.dwOSVersionInfoSize = sizeof state.version;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
        GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&state.version));
#pragma GCC diagnostic pop
        DWORD major = state.version.dwMajorVersion, minor = state.version.dwMinorVersion;
        if (!(major == 5 && minor == 0)) {
            INITCOMMONCONTROLSEX icc{sizeof(INITCOMMONCONTROLSEX), 0x413D};
            InitCommonControlsEx(&icc);
        }
        // 3. Desktop composition.
        state.dwm_composition = dwm_composition();
        // 4. Version flags.
        state.win10 = major >= 10;
        state.win8 = major >= 10 || (major >= 6 && minor >= 2);
        state.legacy = major < 6;
        state.win11 = state.version.dwBuildNumber >= 22000;
        state.child_layered = state.win8;
        state.legacy_composition = state.legacy || !LoadLibraryW(L"DWrite.dll");
        // 5. The DPI of the monitor under the cursor.
        POINT cursor{};
        GetCursorPos(&cursor);
        set_dpi(monitor_dpi(MonitorFromPoint(cursor, MONITOR_DEFAULTTONEAREST)));
        // 6. The Direct2D factories and device wait for the first view
        // (start_drawing): a script that opens no window does not pay for them.
        // 8. Window classes.
        register_classes();
        // 9. The monitor table is refilled by each enumeration of the screens.
        // 11. Dark mode: uxtheme's export 132 says whether applications should use it.
        if (state.win10) {
            if (HMODULE ux = LoadLibraryW(L"uxtheme.dll")) {
                using ShouldDark = BOOL(WINAPI*)();
                auto f = reinterpret_cast<ShouldDark>(
                    reinterpret_cast<void*>(GetProcAddress(ux, MAKEINTRESOURCEA(132))));
                state.dark_at_start = f && !high_contrast() && f();
            }
        }
    }
    // What Kel code sees, for this runtime: the version words of the gui
    // context, the default font (7), the metrics (10) and the handle kinds (12).
    Cell gui = routines::object();
    uint8_t v[3] = {uint8_t(state.version.dwMajorVersion), uint8_t(state.version.dwMinorVersion), 0};
    Cell value;
    if (Cell* f = environment::field(gui, "version")) *f = *tuple::box_bytes(&value, v, 3);
    cell::set_integer(&value, int32_t(state.version.dwBuildNumber));
    if (Cell* f = environment::field(gui, "build")) *f = value;
    cell::set_integer(&value, state.version.wProductType);
    if (Cell* f = environment::field(gui, "product")) *f = value;
    if (state.default_font && state.default_font != GetStockObject(DEFAULT_GUI_FONT)) DeleteObject(state.default_font);
    make_default_font();
    fill_metrics();
    state.font_kind = kind_named("font", release_font_handle);
    state.com_kind = kind_named("com-object", release_com);
}

void start_drawing() {
    static bool tried = false;
    if (tried || state.legacy) return;
    tried = true;
    d2d::init_factories();
}

bool support_dark_mode() { return state.win10 && !high_contrast(); }

void set_dpi(int dpi) {
    if (dpi <= 0) dpi = 96;
    state.dpi = dpi;
    state.dpi_float = dpi;
    units::scale = dpi / 96.0;
}

}  // namespace kel::view::win32
