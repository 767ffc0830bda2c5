#include <windows.h>
#include <shellapi.h>

#include "runtime/platform/gui.hpp"
#include "runtime/platform/win32/shared.hpp"

namespace kel::gui {

void do_events() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

void show_message(const char* title, const char* text) {
    MessageBoxW(nullptr, win32::wide(text).c_str(), win32::wide(title).c_str(), MB_TASKMODAL | MB_ICONHAND);
}

}  // namespace kel::gui

namespace kel::os {

void browse(const char* target) {
    ShellExecuteW(nullptr, L"open", win32::wide(target).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace kel::os
