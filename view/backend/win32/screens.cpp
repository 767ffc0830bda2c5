// Screens: the monitors as the gui context lists them, the monitor under
// the cursor, and the size of the screen in logical units.
#include <windows.h>
#include <shellscalingapi.h>

#include <vector>

#include "runtime/collector.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/handle.hpp"
#include "runtime/datatypes/pair.hpp"
#include "view/backend/win32/win32.hpp"

namespace kel::view::win32 {
namespace {

// The monitor table: handle, scale and DPI of each monitor enumerated last.
struct Monitor {
    HMONITOR handle;
    float scale;
    int dpi;
};
constexpr size_t monitor_limit = 10;
std::vector<Monitor> monitors;

BOOL list_monitor(HMONITOR m, LPARAM list) {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (!GetMonitorInfoW(m, &info)) return TRUE;
    UINT dx = 96, dy = 96;
    if (GetDpiForMonitor(m, MDT_EFFECTIVE_DPI, &dx, &dy) != S_OK) dy = 96;
    double scale = dy / 96.0;
    // Entries past the table's room are listed, and not kept in it.
    if (monitors.size() < monitor_limit) monitors.push_back({m, float(scale), int(dy)});
    Cell* out = reinterpret_cast<Cell*>(list);
    collector::RootCell one;
    block::make_at(&one.cell, 4);
    Cell v;
    const RECT& r = info.rcMonitor;
    block::ks_append(&one.cell, pair::box(&v, r.left, r.top));
    block::ks_append(&one.cell, pair::box(&v, r.right - r.left, r.bottom - r.top));
    cell::set_real(&v, type::float_, scale);
    block::ks_append(&one.cell, &v);
    block::ks_append(&one.cell, handle::box(&v, int32_t(intptr_t(m)), handle::klass::monitor));
    block::ks_append(out, &one.cell);
    return TRUE;
}

BOOL CALLBACK each_monitor(HMONITOR m, HDC, LPRECT, LPARAM list) {
    return BOOL(guarded([&]() -> LRESULT { return list_monitor(m, list); }, FALSE));
}

}  // namespace

Cell* fetch_all_screens(Cell* out) {
    monitors.clear();
    collector::RootCell list;
    block::make_at(&list.cell, 2);
    EnumDisplayMonitors(nullptr, nullptr, each_monitor, reinterpret_cast<LPARAM>(&list.cell));
    raise_deferred();
    *out = list.cell;
    return out;
}

Cell* current_screen(Cell* out) {
    POINT p{};
    GetCursorPos(&p);
    return handle::box(out, int32_t(intptr_t(MonitorFromPoint(p, MONITOR_DEFAULTTONEAREST))), handle::klass::monitor);
}

Cell* screen_size(Cell* out) {
    return pair::box(out, GetDeviceCaps(state.screen_dc, HORZRES) * 96 / state.dpi,
                     GetDeviceCaps(state.screen_dc, VERTRES) * 96 / state.dpi);
}

}  // namespace kel::view::win32
