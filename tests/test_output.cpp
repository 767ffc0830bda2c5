#include <gtest/gtest.h>

#include <string>

#include "runtime/output.hpp"
#include "runtime/platform/std_handles.hpp"
#include "tests/support/child.hpp"
#include "tests/support/fake_console.hpp"

using namespace kel;

namespace {

std::string hooked;
void text_hook(const char* text, size_t length, int flag) { hooked.append(text, length); }
void text_hook2(const char*, size_t, int) {}
void value_hook(const Cell*, bool) {}

#ifdef _WIN32
const std::string eol = "\r\n";
#else
const std::string eol = "\n";
#endif

struct Output : ::testing::Test {
    void SetUp() override {
        output::init_print_hooks();
        os::read_std_handles();
        stdio::init();
        hooked.clear();
    }
};

}  // namespace

TEST_F(Output, HookListsGrowByFiveAndRemoveTheFirstEqualEntry) {
    for (int i = 0; i < 6; ++i) output::register_print_hooks(value_hook, i == 1 ? text_hook2 : text_hook);
    EXPECT_EQ(output::value_hooks().count, 6u);
    EXPECT_EQ(output::value_hooks().capacity, 10u);
    output::unregister_print_hooks(nullptr, text_hook);
    const auto& t = output::text_hooks();
    ASSERT_EQ(t.count, 5u);
    EXPECT_EQ(t.entries[0], text_hook2);  // the first text_hook went, the rest moved down
    EXPECT_EQ(t.entries[1], text_hook);
    output::unregister_print_hooks(value_hook, text_hook2);
    output::unregister_print_hooks(value_hook, text_hook2);  // not registered: nothing changes
    EXPECT_EQ(output::value_hooks().count, 4u);
    EXPECT_EQ(output::text_hooks().count, 4u);
}

TEST_F(Output, Utf8WriterEncodesEveryUnitWidth) {
    test::StdoutCapture cap;
    stdio::write_utf8("caf\xe9", 4, 1, true);
    const char16_t u2[] = u"\u20ac\u00e9";
    stdio::write_utf8(u2, 4, 2, false);
    const char32_t u4[] = U"\U0001F600!";
    stdio::write_utf8(u4, 8, 4, true);
    EXPECT_EQ(cap.text(), "caf\xc3\xa9" + eol + "\xe2\x82\xac\xc3\xa9\xf0\x9f\x98\x80!" + eol);
}

TEST_F(Output, Utf8WriterKeepsLongTextWhole) {
    // Multi-byte characters straddle every internal flush point.
    std::u32string text;
    for (int i = 0; i < 3000; ++i) text += char32_t(i % 3 == 0 ? U'x' : i % 3 == 1 ? U'\u00e9' : U'\U00010348');
    std::string expected;
    for (char32_t c : text) expected += c == U'x' ? "x" : c == U'\u00e9' ? "\xc3\xa9" : "\xf0\x90\x8d\x88";
    test::StdoutCapture cap;
    stdio::write_utf8(text.data(), text.size() * 4, 4, false);
    EXPECT_EQ(cap.text(), expected);
}

TEST_F(Output, ConsoleWriterChunksAt510Units) {
    test::FakeConsole con;
    std::string text(600, 'a');
    stdio::write_console(text.data(), text.size(), 1, true);
    ASSERT_EQ(con.writes.size(), 2u);
    EXPECT_EQ(con.writes[0].size(), 510u);
    EXPECT_EQ(con.writes[1], std::u16string(90, u'a') + u"\r\n");
}

TEST_F(Output, ConsoleWriterInterpretsEscapesAndWritesSurrogates) {
    test::FakeConsole con;
    std::string text = "ab\x1b[31mcd\x1b[12";  // the last sequence is cut off: written as text
    stdio::write_console(text.data(), text.size(), 1, false);
    EXPECT_EQ(con.written(), u"ab" u"cd" u"\x1b[12");
    EXPECT_EQ(con.screen.attribute, 0x04);

    con.writes.clear();
    const char32_t wide[] = U"\U0001F600";
    stdio::write_console(wide, 4, 4, false);
    EXPECT_EQ(con.written(), u"\xD83D\xDE00");

    con.writes.clear();
    const char16_t esc16[] = {0x011B, u'[', u'H'};  // not ESC: its high byte is set
    stdio::write_console(esc16, 6, 2, false);
    EXPECT_EQ(con.written(), std::u16string(esc16, 3));
}

TEST_F(Output, NumberPrintersReachTheTextHooks) {
    output::register_print_hooks(nullptr, text_hook);
    test::StdoutCapture cap;
    stdio::print_int(-42);
    stdio::print_hex2(10);
    stdio::print_hex8(0xBEEF);
    stdio::print_float64(1.0 / 3);
    stdio::print_float32(0.1f);
    stdio::print_cstr("|end");
    std::string expected = "-420A0000BEEF0.33333333333333330.1|end";
    EXPECT_EQ(cap.text(), expected);
    EXPECT_EQ(hooked, expected);
}

TEST_F(Output, TypedPrintList) {
    output::register_print_hooks(nullptr, text_hook);
    test::StdoutCapture cap;
    sysrt::print_spaced({TypedPrintItem::integer(1), TypedPrintItem::integer(2), TypedPrintItem::text("line\n"),
                         TypedPrintItem::boolean(true), TypedPrintItem::text("tab\t"), TypedPrintItem::real(2.5)});
    sysrt::print_line({TypedPrintItem::boolean(false), TypedPrintItem::byte('x'), TypedPrintItem::hex(0xABC),
                       TypedPrintItem::real32(1.0f / 3)});
    sysrt::print({TypedPrintItem::integer(7), TypedPrintItem::integer(8)});
    EXPECT_EQ(hooked, "1 2 line\ntrue tab\t2.5falsex00000ABC0.3333333\n78");
    EXPECT_EQ(test::without_cr(cap.text()), "1 2 line\ntrue tab\t2.5falsex00000ABC0.3333333\n78");
}

TEST_F(Output, CharLiterals) {
    output::register_print_hooks(nullptr, text_hook);
    test::StdoutCapture cap;
    struct Case {
        uint8_t b;
        const char* text;
    } cases[] = {
        {0, "#\"^@\""}, {9, "#\"^-\""}, {10, "#\"^/\""}, {27, "#\"^]\""}, {1, "#\"^A\""}, {31, "#\"^_\""},
        {32, "#\" \""}, {'A', "#\"A\""}, {127, "#\"\x7f\""}, {128, "#\"^(80)\""}, {200, "#\"^(C8)\""},
        {255, "#\"^(FF)\""},
    };
    for (const Case& c : cases) {
        hooked.clear();
        sysrt::print_char_literal(c.b);
        EXPECT_EQ(hooked, c.text) << int(c.b);
    }
}

TEST_F(Output, PrintBytesStopsAtNulOrCount) {
    output::register_print_hooks(nullptr, text_hook);
    test::StdoutCapture cap;
    sysrt::print_bytes("abc\0def", 7);
    sysrt::print_bytes("abcdef", 2);
    sysrt::print_byte('!');
    EXPECT_EQ(hooked, "abcab!");
    EXPECT_EQ(cap.text(), "abcab!");
}
