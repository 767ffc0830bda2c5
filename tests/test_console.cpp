#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "runtime/ansi_console.hpp"
#include "tests/support/fake_console.hpp"

using namespace kel;
using test::Fill;

namespace {

// The sequence in a heap block of exactly its size, so that ASan sees any
// read past its end.
size_t escape(const std::string& seq) {
    std::unique_ptr<char[]> text(new char[seq.size()]);
    std::memcpy(text.get(), seq.data(), seq.size());
    return ansi_console::ansi_escape(text.get(), seq.size(), 1);
}

}  // namespace

TEST(Console, CursorSequences) {
    struct Case {
        const char* seq;
        int x0, y0;  // cursor before
        int x, y;    // cursor after
    } cases[] = {
        {"\x1b[H", 5, 5, 0, 0},
        {"\x1b[f", 5, 5, 0, 0},
        {"\x1b[10;3H", 0, 0, 10, 3},   // column first, both from 0
        {"\x1b[7f", 1, 1, 7, 0},
        {"\x1b[500;500H", 0, 0, 79, 24},
        {"\x1b[3A", 4, 10, 4, 7},
        {"\x1b[30A", 4, 10, 4, 0},
        {"\x1b[2B", 4, 10, 4, 12},
        {"\x1b[99B", 4, 10, 4, 24},    // stops on the last row
        {"\x1b[5C", 4, 10, 9, 10},
        {"\x1b[99C", 4, 10, 79, 10},   // stops on the last column
        {"\x1b[3D", 4, 10, 1, 10},
        {"\x1b[D", 4, 10, 3, 10},      // no count moves by one
        {"\x1b[131071A", 4, 10, 4, 9}, // counts are taken modulo 65535
    };
    for (const Case& c : cases) {
        test::FakeConsole con;
        con.screen.cursor_x = c.x0;
        con.screen.cursor_y = c.y0;
        EXPECT_EQ(escape(c.seq), std::strlen(c.seq)) << c.seq + 1;
        EXPECT_EQ(con.screen.cursor_x, c.x) << c.seq + 1;
        EXPECT_EQ(con.screen.cursor_y, c.y) << c.seq + 1;
    }
}

TEST(Console, SaveAndRestoreCursor) {
    test::FakeConsole con;
    con.screen.cursor_x = 12;
    con.screen.cursor_y = 4;
    escape("\x1b[s");
    escape("\x1b[H");
    EXPECT_EQ(con.screen.cursor_x, 0);
    escape("\x1b[u");
    EXPECT_EQ(con.screen.cursor_x, 12);
    EXPECT_EQ(con.screen.cursor_y, 4);
}

TEST(Console, EraseSequences) {
    struct Case {
        const char* seq;
        std::vector<Fill> fills;
        int x, y;  // cursor after (from 10, 5)
    } cases[] = {
        {"\x1b[K", {{10, 5, 70, 0x07}}, 10, 5},
        {"\x1b[1K", {{0, 5, 11, 0x07}}, 0, 5},
        {"\x1b[2K", {{0, 5, 80, 0x07}}, 0, 5},
        {"\x1b[J", {{0, 5, 80 * 20, 0x07}}, 10, 5},
        {"\x1b[1J", {{0, 0, 80 * 5, 0x07}}, 10, 5},
        {"\x1b[2J", {{0, 0, 80 * 25, 0x07}}, 0, 0},
        {"\x1b[3J", {}, 10, 5},  // unknown mode: no effect
        {"\x1b[Z", {}, 10, 5},   // unknown final: no effect
    };
    for (const Case& c : cases) {
        test::FakeConsole con;
        con.screen.cursor_x = 10;
        con.screen.cursor_y = 5;
        con.screen.attribute = 0x1F;  // clearing uses the default attribute, not the current one
        EXPECT_EQ(escape(c.seq), std::strlen(c.seq)) << c.seq + 1;
        EXPECT_EQ(con.fills, c.fills) << c.seq + 1;
        EXPECT_EQ(con.screen.cursor_x, c.x) << c.seq + 1;
        EXPECT_EQ(con.screen.cursor_y, c.y) << c.seq + 1;
    }
}

TEST(Console, SgrCodes) {
    struct Case {
        int32_t attribute;
        uint32_t code;
        uint16_t result;
    } cases[] = {
        {0x1F, 0, 0x07},        // default
        {0x01, 1, 0x89},        // both intensities
        {0x07, 4, 0x8007},      // underscore
        {0x1E, 7, 0xE1},        // nibbles swapped
        {0x0F, 31, 0x0C},       // red foreground, intensity kept
        {0x07, 34, 0x01},       // blue
        {0x07, 33, 0x06},       // yellow = red + green
        {0x70, 42, 0x20},       // green background
        {0x77, 46, 0x37},       // cyan background
        {0x01, 39, 0x09},
        {0x01, 49, 0x81},
        {0x07, 5, 0x05},        // anything else replaces the attribute
    };
    test::FakeConsole con;
    for (const Case& c : cases) EXPECT_EQ(ansi_console::sgr_to_attribute(c.attribute, c.code), c.result) << c.code;
    con.screen.attribute = 0x4F;
    EXPECT_EQ(ansi_console::sgr_to_attribute(-1, 32), 0x4A);  // negative: the console's current attribute
}

TEST(Console, SgrSequencesApplyEveryCodeInOrder) {
    struct Case {
        const char* seq;
        uint16_t result;
    } cases[] = {
        {"\x1b[m", 0x07},
        {"\x1b[31m", 0x04},
        {"\x1b[1;31m", 0x8C},
        {"\x1b[0;1;34;47m", 0xF9},
        {"\x1b[31;7m", 0x40},
    };
    for (const Case& c : cases) {
        test::FakeConsole con;
        con.screen.attribute = 0x00;
        EXPECT_EQ(escape(c.seq), std::strlen(c.seq));
        EXPECT_EQ(con.screen.attribute, c.result) << c.seq + 1;
    }
}

TEST(Console, IncompleteSequencesConsumeNothing) {
    test::FakeConsole con;
    for (const char* seq : {"\x1b", "\x1b[", "\x1b[1", "\x1b[12;", "\x1b[12;4", "\x1bx", "\x1b(B"}) {
        EXPECT_EQ(escape(seq), 0u) << seq + 1;
    }
    EXPECT_TRUE(con.fills.empty());
    EXPECT_EQ(con.screen.cursor_x, 0);
}

TEST(Console, TwoByteUnitsUseTheLowByte) {
    test::FakeConsole con;
    const char16_t seq[] = u"\x1b[5;2H";
    EXPECT_EQ(ansi_console::ansi_escape(seq, 12, 2), 12u);
    EXPECT_EQ(con.screen.cursor_x, 5);
    EXPECT_EQ(con.screen.cursor_y, 2);
}

TEST(Console, ScreenInfoDump) {
    test::FakeConsole con(100, 40);
    con.screen.cursor_x = 3;
    con.screen.cursor_y = 9;
    escape("\x1b[?");
    std::u16string w = con.written();
    std::string text(w.begin(), w.end());
    EXPECT_EQ(text,
              "Screen buffer info:\r\n"
              "   size______ 100x40\r\n"
              "   cursor____ 3x9\r\n"
              "   attribute_ 0007 0007\r\n"
              "   left______ 0 top: 0\r\n"
              "   right_____ 99 bottom: 39\r\n"
              "   max_______ 100x40\r\n");
}
