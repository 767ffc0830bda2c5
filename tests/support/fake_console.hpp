// A console device that records what the console writer does to it.
#pragma once
#include <string>
#include <vector>

#include "runtime/ansi_console.hpp"

namespace kel::test {

struct Fill {
    int x, y;
    size_t n;
    uint16_t attribute;
    bool operator==(const Fill&) const = default;
};

struct FakeConsole {
    ansi_console::ScreenInfo screen;
    std::vector<std::u16string> writes;
    std::vector<Fill> fills;

    static FakeConsole* current;

    FakeConsole(int width = 80, int height = 25) {
        screen.width = width;
        screen.height = height;
        screen.attribute = 0x07;
        screen.right = width - 1;
        screen.bottom = height - 1;
        screen.max_width = width;
        screen.max_height = height;
        current = this;
        saved_device = ansi_console::device;
        saved_default = ansi_console::default_attribute;
        ansi_console::device = &device;
        ansi_console::default_attribute = 0x07;
    }
    ~FakeConsole() {
        ansi_console::device = saved_device;
        ansi_console::default_attribute = saved_default;
        current = nullptr;
    }

    std::u16string written() const {
        std::u16string all;
        for (const auto& w : writes) all += w;
        return all;
    }

private:
    const ansi_console::Device* saved_device;
    uint16_t saved_default;
    static bool info(ansi_console::ScreenInfo& s) {
        s = current->screen;
        return true;
    }
    static void write(const char16_t* t, size_t n) { current->writes.emplace_back(t, n); }
    static void set_cursor(int x, int y) {
        current->screen.cursor_x = x;
        current->screen.cursor_y = y;
    }
    static void set_attribute(uint16_t a) { current->screen.attribute = a; }
    static void fill(int x, int y, size_t n, uint16_t a) { current->fills.push_back({x, y, n, a}); }
    static constexpr ansi_console::Device device{info, write, set_cursor, set_attribute, fill};
};

inline FakeConsole* FakeConsole::current = nullptr;

}  // namespace kel::test
