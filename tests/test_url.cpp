// url!: percent-encoding against Python's urllib, decoding of hostile
// escapes, the molded form, the block form and path joins.
#include <gtest/gtest.h>

#include <sstream>

#include "runtime/datatypes/url.hpp"
#include "runtime/unicode.hpp"
#include "tests/support/child.hpp"
#include "tests/support/environment.hpp"

using namespace kel;
using namespace kel::test;

namespace {

std::u32string decoded(const std::string& escaped, bool* ok = nullptr) {
    std::u32string out;
    bool good = url::decode_utf8(reinterpret_cast<const uint8_t*>(escaped.data()), escaped.size(), out);
    if (ok) *ok = good;
    return out;
}

std::u32string u32(const std::string& utf8) {
    std::u32string out;
    for (size_t i = 0; i < utf8.size();) out.push_back(unicode::next_utf8(utf8, i));
    return out;
}

TEST(UrlCodec, Decoding) {
    struct Case {
        const char* text;
        std::u32string expected;
    } cases[] = {
        {"%41", U"A"},
        {"%c3%A9", U"é"},
        {"%C3", U"%C3"},             // a lead without its follower
        {"%E9", U"%E9"},
        {"%E9x", U"%E9x"},
        {"%A9", U"\u00A9"},          // a lone continuation byte is its own code point
        {"%4", U"%4"},               // cut short at the end
        {"%", U"%"},
        {"%zz", U"%zz"},
        {"%E2%82%AC", U"€"},
        {"%F0%9F%98%80", U"\U0001F600"},
        {"%E2%82", U"%E2\u0082"},    // a missing third escape: the lead stays plain
        // Hostile sequences never decode: overlong forms (a slash smuggled as
        // two or three bytes), surrogates, code points past U+10FFFF, and a
        // lead whose follower is no continuation byte.
        {"%C0%AF", U"%C0\u00AF"},
        {"%E0%80%AF", U"%E0\u0080\u00AF"},
        {"%ED%A0%80", U"%ED\u00A0\u0080"},
        {"%F4%90%80%80", U"%F4\u0090\u0080\u0080"},
        {"%F8%88%80%80", U"%F8\u0088\u0080\u0080"},
        {"%C3%41", U"%C3A"},
    };
    for (const Case& c : cases) EXPECT_TRUE(decoded(c.text) == c.expected) << c.text;
    for (const Case& c : cases) EXPECT_EQ(decoded(c.text).find(U'/'), std::u32string::npos) << c.text;
    bool ok = true;
    decoded("a\xC3(", &ok);
    EXPECT_FALSE(ok) << "raw invalid UTF-8 is refused";
}

TEST(UrlCodec, EncodingSets) {
    EXPECT_EQ(url::encode(U"a/b c:é", 255), "a/b%20c:%C3%A9");
    EXPECT_EQ(url::encode(U"a/b c:é", url::narrow_mode), "a%2Fb%20c%3A%C3%A9");
    EXPECT_EQ(url::encode(U"-._~", url::narrow_mode), "-._~");
    EXPECT_EQ(url::encode(U"\"%;<>[]{}\\^`|\x7F", 255), "%22%25%3B%3C%3E%5B%5D%7B%7D%5C%5E%60%7C%7F");
}

#ifndef _WIN32
TEST(UrlCodec, AgreesWithPythonQuote) {
    std::string here = __FILE__;
    std::string script = here.substr(0, here.find_last_of('/') + 1) + "oracles/url_oracle.py";
    test::ChildResult r = test::run_child("/usr/bin/env", {"python3", script, "2161", "500"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream in(r.out);
    int cases = 0;
    for (std::string line; std::getline(in, line); ++cases) {
        size_t t1 = line.find('\t'), t2 = line.find('\t', t1 + 1);
        ASSERT_NE(t2, std::string::npos) << line;
        std::string hex = line.substr(0, t1), text;
        for (size_t i = 0; i + 1 < hex.size(); i += 2) text.push_back(char(std::stoi(hex.substr(i, 2), nullptr, 16)));
        std::u32string cps = u32(text);
        std::string wide = line.substr(t1 + 1, t2 - t1 - 1), narrow = line.substr(t2 + 1);
        EXPECT_EQ(url::encode(cps, 255), wide) << hex;
        EXPECT_EQ(url::encode(cps, url::narrow_mode), narrow) << hex;
        // unquote agrees on well-formed escapes: both decode to the text.
        EXPECT_TRUE(decoded(wide) == cps) << wide;
        EXPECT_TRUE(decoded(narrow) == cps) << narrow;
    }
    EXPECT_EQ(cases, 500);
}
#endif

}  // namespace
