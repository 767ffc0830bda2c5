// The Windows console as the device of the console writer.
#include <windows.h>

#include "runtime/ansi_console.hpp"

namespace kel::ansi_console {
namespace {

HANDLE out() { return GetStdHandle(STD_OUTPUT_HANDLE); }

bool console_info(ScreenInfo& s) {
    CONSOLE_SCREEN_BUFFER_INFO b;
    if (!GetConsoleScreenBufferInfo(out(), &b)) return false;
    s.width = b.dwSize.X;
    s.height = b.dwSize.Y;
    s.cursor_x = b.dwCursorPosition.X;
    s.cursor_y = b.dwCursorPosition.Y;
    s.attribute = b.wAttributes;
    s.left = b.srWindow.Left;
    s.top = b.srWindow.Top;
    s.right = b.srWindow.Right;
    s.bottom = b.srWindow.Bottom;
    s.max_width = b.dwMaximumWindowSize.X;
    s.max_height = b.dwMaximumWindowSize.Y;
    return true;
}

void console_write(const char16_t* text, size_t n) {
    DWORD written = 0;
    WriteConsoleW(out(), text, DWORD(n), &written, nullptr);
}

void console_set_cursor(int x, int y) { SetConsoleCursorPosition(out(), COORD{SHORT(x), SHORT(y)}); }

void console_set_attribute(uint16_t attribute) { SetConsoleTextAttribute(out(), attribute); }

void console_fill(int x, int y, size_t n, uint16_t attribute) {
    DWORD done = 0;
    FillConsoleOutputCharacterW(out(), L' ', DWORD(n), COORD{SHORT(x), SHORT(y)}, &done);
    FillConsoleOutputAttribute(out(), attribute, DWORD(n), COORD{SHORT(x), SHORT(y)}, &done);
}

}  // namespace

const Device windows_console{console_info, console_write, console_set_cursor, console_set_attribute, console_fill};

}  // namespace kel::ansi_console
