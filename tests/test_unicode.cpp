#include <gtest/gtest.h>

#include "runtime/unicode.hpp"

using namespace kel;

TEST(Unicode, Utf16RoundTrips) {
    std::u16string cases[] = {
        u"", u"ascii", u"caf\u00e9", u"\u20ac", u"\U0001F600x\U00010000\U0010FFFF",
        std::u16string(1, char16_t(0xD800)),                        // lone high surrogate
        std::u16string(1, char16_t(0xDC00)) + u"a",                 // lone low surrogate
        std::u16string{char16_t(0xDBFF), u'z', char16_t(0xDFFF)},   // pair broken by a letter
    };
    for (const std::u16string& s : cases) EXPECT_EQ(unicode::utf8_to_utf16(unicode::utf16_to_utf8(s)), s);
    EXPECT_EQ(unicode::utf16_to_utf8(u"\U0001F600"), "\xf0\x9f\x98\x80");
}

TEST(Unicode, DecoderNeverReadsPastItsInput) {
    struct Case {
        std::string bytes;
        std::u32string decoded;
    } cases[] = {
        {"a\xc3", U"a\uFFFD"},
        {"\xe2\x82", U"\uFFFD\uFFFD"},
        {"\xf0\x9f\x98", U"\uFFFD\uFFFD\uFFFD"},
        {"\xc0\x80", U"\uFFFD\uFFFD"},     // overlong
        {"\xf4\x90\x80\x80", U"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
        {"\x80z", U"\uFFFDz"},
        {"\xe2\x82\xac", U"\u20ac"},
    };
    for (const Case& c : cases) {
        std::string copy = c.bytes;  // exact-size heap block under ASan
        std::string_view v(copy.data(), copy.size());
        std::u32string got;
        for (size_t i = 0; i < v.size();) got += char32_t(unicode::next_utf8(v, i));
        EXPECT_EQ(got, c.decoded);
    }
}
