// binary!: the four text codecs (against Python's binascii and base64 for
// bases 16 and 64, a big-number model and known vectors for base 58), the
// text of a binary with its line layout, and byte comparison.
#include <gtest/gtest.h>

#include <sstream>

#include "runtime/datatypes/binary.hpp"
#include "tests/support/child.hpp"
#include "tests/support/values.hpp"

using namespace kel;
using namespace kel::test;

namespace {

using Decoder = bool (*)(const uint8_t*, uint32_t, uint32_t, std::vector<uint8_t>&);
using Encoder = void (*)(const uint8_t*, size_t, std::string&);

Decoder decoder(int base) {
    switch (base) {
        case 2: return binary::base2_decode;
        case 16: return binary::base16_decode;
        case 58: return binary::base58_decode;
        default: return binary::base64_decode;
    }
}

Encoder encoder(int base) {
    switch (base) {
        case 2: return binary::base2_encode;
        case 16: return binary::base16_encode;
        case 58: return binary::base58_encode;
        default: return binary::base64_encode;
    }
}

// The hex of the decoded bytes, or "fail".
std::string decode(int base, const std::string& text) {
    std::vector<uint8_t> out;
    if (!decoder(base)(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), 1, out)) return "fail";
    std::string hex;
    binary::base16_encode(out.data(), out.size(), hex);
    return hex;
}

std::vector<uint8_t> bytes_of_hex(const std::string& hex) {
    std::vector<uint8_t> b;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) b.push_back(uint8_t(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return b;
}

std::string encode(int base, const std::string& hex) {
    std::vector<uint8_t> b = bytes_of_hex(hex);
    std::string text;
    encoder(base)(b.data(), b.size(), text);
    return text;
}

std::string upper(std::string s) {
    for (char& c : s) c = char(std::toupper(uint8_t(c)));
    return s;
}

}  // namespace

TEST(BinaryCodecs, DecodingRules) {
    struct Case {
        int base;
        const char* text;
        const char* hex;  // or "fail"
    } cases[] = {
        {64, "", ""},
        {64, "QQ==", "41"},          // two symbols and "==" give one byte
        {64, "QUI=", "4142"},
        {64, "QUJD", "414243"},      // four symbols give three bytes
        {64, "Q=", "fail"},          // "=" after one symbol of a group
        {64, "=", "fail"},
        {64, "QUJDQQ", "414243"},    // an unpadded group at the end is dropped
        {64, "QQ==!!!", "41"},       // the first "=" ends the text
        {64, " Q U\nJ\tD' ", "414243"},
        {64, "QU;comment QQ==\nJD", "414243"},
        {64, "QUJD;ends in a comment", "414243"},
        {64, "QU-D", "fail"},        // the URL-safe alphabet is not this one
        {64, "QU\xC3\xA9" "D", "fail"},
        {16, "48 65\n6c", "48656C"},
        {16, "486", "48"},           // a trailing single digit is dropped
        {16, "48;65\n6C", "486C"},
        {16, "4G", "fail"},
        {16, "\xC1\xC2", "fail"},    // only ASCII digits, whatever their low bits
        {16, "", ""},
        {2, "01000001 00000010", "4102"},
        {2, "0100000", "fail"},      // a partial byte
        {2, "01000002", "fail"},
        {2, "0100;x\n0001", "41"},
        {58, "", ""},
        {58, "1", "00"},
        {58, "11233QC4", "0000287FB4CD"},
        {58, "2NEpo7TZRRrLZSi2U", "48656C6C6F20576F726C6421"},
        {58, "1NS17iag9jJgTHD1VXjvLCEnZuQ3rJDE9L", "00EB15231DFCEB60925886B67D065299925915AEB172C06647"},
        {58, "2cFupjhnEsSn59qHXstmK2ffpLv2", "73696D706C792061206C6F6E6720737472696E67"},
        {58, " a3gV\n", "626262"},
        {58, "0", "fail"},           // 0, O, I and l are not in the alphabet
        {58, "l", "fail"},
        {58, "a3\xC3\xA9", "fail"},
    };
    for (const Case& c : cases) EXPECT_EQ(decode(c.base, c.text), c.hex) << c.base << " " << c.text;
}

TEST(BinaryCodecs, EncodingAndWideText) {
    EXPECT_EQ(encode(64, ""), "");
    EXPECT_EQ(encode(64, "41"), "QQ==");
    EXPECT_EQ(encode(64, "4142"), "QUI=");
    EXPECT_EQ(encode(2, "A501"), "1010010100000001");
    EXPECT_EQ(encode(16, "00ff7f"), "00FF7F");
    EXPECT_EQ(encode(58, "0000287fb4cd"), "11233QC4");
    EXPECT_EQ(encode(58, "00"), "1");
    // Characters of 2 and 4 bytes decode like 1-byte ones.
    const char16_t wide[] = u"QUJD";
    std::vector<uint8_t> out;
    ASSERT_TRUE(binary::base64_decode(reinterpret_cast<const uint8_t*>(wide), 4, 2, out));
    EXPECT_EQ(out, (std::vector<uint8_t>{0x41, 0x42, 0x43}));
    const char32_t wider[] = U"4142\u00e9";
    EXPECT_FALSE(binary::base16_decode(reinterpret_cast<const uint8_t*>(wider), 5, 4, out));
    ASSERT_TRUE(binary::base16_decode(reinterpret_cast<const uint8_t*>(wider), 4, 4, out));
    EXPECT_EQ(out, (std::vector<uint8_t>{0x41, 0x42}));
}

#ifndef _WIN32

TEST(BinaryCodecs, AgreeWithPython) {
    std::string here = __FILE__;
    std::string script = here.substr(0, here.find_last_of('/') + 1) + "oracles/base_oracle.py";
    test::ChildResult r = test::run_child("/usr/bin/env", {"python3", script, "164", "600"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream in(r.out);
    int cases = 0, bad = 0;
    for (std::string line; std::getline(in, line); ++cases) {
        std::vector<std::string> f;
        std::istringstream fields(line);
        for (std::string s; std::getline(fields, s, '\t');) f.push_back(s);
        f.resize(4);
        int base = std::stoi(f[1]);
        std::string text;
        for (size_t i = 0; i < f[3].size(); ++i) {
            if (f[3][i] == '\\' && i + 1 < f[3].size() && f[3][i + 1] == 'n') {
                text += '\n';
                ++i;
            } else {
                text += f[3][i];
            }
        }
        if (f[0] == "bad") {
            ++bad;
            EXPECT_EQ(decode(base, text), "fail") << base << " " << text;
            continue;
        }
        EXPECT_EQ(decode(base, text), upper(f[2])) << base << " " << text;
        std::string plain = text;
        std::erase(plain, '\n');  // the encoders write no line breaks
        EXPECT_EQ(encode(base, f[2]), plain) << base << " " << f[2];
    }
    EXPECT_EQ(cases, 600);
    EXPECT_GT(bad, 100);
}

#endif
