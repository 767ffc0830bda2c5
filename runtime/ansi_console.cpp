#include "runtime/ansi_console.hpp"

#include <algorithm>
#include <cstdio>
#include <iterator>

namespace kel::ansi_console {

const Device* device = nullptr;
uint16_t default_attribute = 0x07;

namespace {

struct Point {
    int x = 0, y = 0;
};
Point saved_cursor;

ScreenInfo read_info() {
    ScreenInfo s;
    if (device) device->info(s);
    return s;
}

void write_ascii(const char* text) {
    char16_t units[128];
    size_t n = 0;
    for (; text[n] && n < std::size(units); ++n) units[n] = char16_t(uint8_t(text[n]));
    device->write(units, n);
}

void print_screen_info() {
    ScreenInfo s = read_info();
    char line[128];
    write_ascii("Screen buffer info:\r\n");
    std::snprintf(line, sizeof line, "   size______ %dx%d\r\n", s.width, s.height);
    write_ascii(line);
    std::snprintf(line, sizeof line, "   cursor____ %dx%d\r\n", s.cursor_x, s.cursor_y);
    write_ascii(line);
    std::snprintf(line, sizeof line, "   attribute_ %04X %04X\r\n", s.attribute, default_attribute);
    write_ascii(line);
    std::snprintf(line, sizeof line, "   left______ %d top: %d\r\n", s.left, s.top);
    write_ascii(line);
    std::snprintf(line, sizeof line, "   right_____ %d bottom: %d\r\n", s.right, s.bottom);
    write_ascii(line);
    std::snprintf(line, sizeof line, "   max_______ %dx%d\r\n", s.max_width, s.max_height);
    write_ascii(line);
}

// Erase in line (K) and erase in display (J); other modes have no effect.
void erase(char final, int mode) {
    ScreenInfo s = read_info();
    int x = s.cursor_x, y = s.cursor_y, w = s.width;
    if (final == 'K') {
        if (mode == 0) device->fill(x, y, size_t(std::max(0, w - x)), default_attribute);
        else if (mode == 1) { device->fill(0, y, size_t(x + 1), default_attribute); set_cursor(0, y); }
        else if (mode == 2) { device->fill(0, y, size_t(w), default_attribute); set_cursor(0, y); }
        return;
    }
    if (mode == 0) device->fill(0, y, size_t(w) * size_t(std::max(0, s.height - y)), default_attribute);
    else if (mode == 1) device->fill(0, 0, size_t(w) * size_t(y), default_attribute);
    else if (mode == 2) clear_screen(2);
}

void move_cursor(char final, int n) {
    ScreenInfo s = read_info();
    int x = s.cursor_x, y = s.cursor_y;
    switch (final) {
        case 'A': y = std::max(0, y - n); break;
        case 'B': y = std::min(std::max(0, s.height - 1), y + n); break;
        case 'C': x = std::min(std::max(0, s.width - 1), x + n); break;
        case 'D': x = std::max(0, x - n); break;
    }
    set_cursor(x, y);
}

}  // namespace

void probe() {
    ScreenInfo s;
    if (device && device->info(s)) default_attribute = s.attribute;
}

void save_cursor() {
    ScreenInfo s = read_info();
    saved_cursor = {s.cursor_x, s.cursor_y};
}

void set_cursor(int x, int y) { device->set_cursor(x, y); }

void set_attribute(uint16_t attribute) { device->set_attribute(attribute); }

void clear_screen(int mode) {
    ScreenInfo s = read_info();
    device->fill(0, 0, size_t(s.width) * size_t(s.height), default_attribute);
    if (mode == 2) set_cursor(0, 0);
}

uint16_t sgr_to_attribute(int32_t attribute, uint32_t code) {
    // ANSI colour order (black red green yellow blue magenta cyan white) in the
    // console's bit order (blue 1, green 2, red 4).
    static const uint8_t colour[8] = {0, 4, 2, 6, 1, 5, 3, 7};
    uint32_t a = attribute < 0 ? read_info().attribute : uint32_t(attribute);
    if (code == 0) return default_attribute;
    if (code == 1) return uint16_t(a | 0x88);
    if (code == 4) return uint16_t(a | 0x8000);
    if (code == 7) return uint16_t((a & ~0xFFu) | ((a & 0x0F) << 4) | ((a & 0xF0) >> 4));
    if (code >= 30 && code <= 37) return uint16_t((a & ~0x07u) | colour[code - 30]);
    if (code == 39) return uint16_t(a | 0x08);
    if (code >= 40 && code <= 47) return uint16_t((a & ~0x70u) | (colour[code - 40] << 4));
    if (code == 49) return uint16_t(a | 0x80);
    return uint16_t(code);
}

size_t ansi_escape(const void* text, size_t length, int unit) {
    const auto* bytes = static_cast<const uint8_t*>(text);
    size_t n = length / size_t(unit);
    auto at = [&](size_t i) { return bytes[i * size_t(unit)]; };  // low byte of each unit
    if (n < 2 || at(1) != '[') return 0;

    // Parameters beyond the first 32 are read but not kept.
    constexpr size_t max_params = 32;
    uint32_t params[max_params];
    size_t count = 0;
    uint32_t current = 0;
    bool has_current = false;
    for (size_t i = 2; i < n; ++i) {
        uint8_t c = at(i);
        if (c >= '0' && c <= '9') {
            current = (current * 10 + (c - '0')) % 65535;
            has_current = true;
            continue;
        }
        if (c == ';' || has_current) {
            if (count < max_params) params[count] = current;
            ++count;
            current = 0;
            has_current = false;
            if (c == ';') continue;
        }
        if (!device) return (i + 1) * size_t(unit);
        size_t kept = std::min(count, max_params);
        int p0 = kept > 0 ? int(params[0]) : 0;
        int p1 = kept > 1 ? int(params[1]) : 0;
        switch (c) {
            case 's': save_cursor(); break;
            case 'u': set_cursor(saved_cursor.x, saved_cursor.y); break;
            case 'H':
            case 'f': {
                ScreenInfo s = read_info();
                set_cursor(std::clamp(p0, 0, std::max(0, s.width - 1)),
                           std::clamp(p1, 0, std::max(0, s.height - 1)));
                break;
            }
            case 'K':
            case 'J': erase(char(c), p0); break;
            case 'A':
            case 'B':
            case 'C':
            case 'D': move_cursor(char(c), kept > 0 ? p0 : 1); break;
            case 'm': {
                int32_t a = -1;
                if (kept == 0) a = sgr_to_attribute(a, 0);
                for (size_t k = 0; k < kept; ++k) a = sgr_to_attribute(a, params[k]);
                set_attribute(uint16_t(a));
                break;
            }
            case '?': print_screen_info(); break;
            default: break;  // unknown final: the sequence ends here with no effect
        }
        return (i + 1) * size_t(unit);
    }
    return 0;  // cut off before its final letter
}

}  // namespace kel::ansi_console
