// The text console that standard output may be (Windows only), seen through a
// small device record so that the ANSI escape interpreter runs the same way
// against the real console and against a fake one.
#pragma once
#include <cstddef>
#include <cstdint>

namespace kel::ansi_console {

struct ScreenInfo {
    int width = 0, height = 0;      // buffer size
    int cursor_x = 0, cursor_y = 0;
    uint16_t attribute = 0;
    int left = 0, top = 0, right = 0, bottom = 0;  // window
    int max_width = 0, max_height = 0;
};

struct Device {
    bool (*info)(ScreenInfo& out);
    void (*write)(const char16_t* text, size_t n);
    void (*set_cursor)(int x, int y);
    void (*set_attribute)(uint16_t attribute);
    // Fills n cells from (x, y) onwards, wrapping at line ends, with spaces
    // and the given attribute.
    void (*fill)(int x, int y, size_t n, uint16_t attribute);
};

// The console standard output writes to; null when there is none.
extern const Device* device;
extern const Device windows_console;  // the Windows build's real console
extern uint16_t default_attribute;

// Reads the default attribute from the console.
void probe();

// Interprets the escape sequence at text (an ESC unit); length is the bytes
// left in the text. Answers the bytes consumed, ESC included, or 0 when the
// text holds no complete "ESC [" sequence (the ESC is then written as text).
size_t ansi_escape(const void* text, size_t length, int unit);

// The attribute after applying one SGR code; a negative attribute first
// reads the current one from the console.
uint16_t sgr_to_attribute(int32_t attribute, uint32_t code);

void save_cursor();
void set_cursor(int x, int y);
void set_attribute(uint16_t attribute);
void clear_screen(int mode);

}  // namespace kel::ansi_console
