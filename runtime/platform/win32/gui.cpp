#include <windows.h>
#include <shellapi.h>

#include <cstdint>

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

// INFINITE (no blinking) is all bits set: -1 as a signed 32-bit value.
int caret_blink_ms() { return static_cast<int32_t>(GetCaretBlinkTime()); }

// A GUI program has a console only when one was attached to it.
bool set_console_title(const char* utf8) {
    return GetConsoleWindow() != nullptr && SetConsoleTitleW(win32::wide(utf8).c_str()) != 0;
}

}  // namespace kel::gui

namespace kel::os {

void browse(const char* target) {
    ShellExecuteW(nullptr, L"open", win32::wide(target).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace kel::os
