#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "runtime/error.hpp"
#include "runtime/throws.hpp"
#include "runtime/unicode.hpp"
#include "tests/support/child.hpp"
#include "tests/support/runtime.hpp"

using namespace kel;

namespace {

// The id of the error body raises, or null when it raises none.
const char* error_of(const std::function<void()>& body) {
    error::pending = {};
    uint32_t code = throws::protect(throws::error, body);
    return code == throws::error ? error::pending.id : nullptr;
}

std::vector<uint8_t> bytes_of(std::string_view s) { return {s.begin(), s.end()}; }

std::string hex(std::string_view s) {
    std::string h;
    for (unsigned char c : s) h += "0123456789ABCDEF"[c >> 4], h += "0123456789ABCDEF"[c & 15], h += ' ';
    return h;
}

// A heap block of exactly the input's size, so that AddressSanitizer sees any
// read past its end.
std::unique_ptr<uint8_t[]> exact_copy(const std::vector<uint8_t>& v) {
    auto p = std::make_unique<uint8_t[]>(v.size());
    if (!v.empty()) std::memcpy(p.get(), v.data(), v.size());
    return p;
}

uint32_t unit_at(const uint8_t* p, uint32_t unit) {
    uint32_t v = 0;
    std::memcpy(&v, p, unit);
    return v;
}

std::u32string units_of(SeriesBuffer* b) {
    std::u32string s;
    for (uint32_t at = b->offset; at < b->tail; at += b->unit()) s += char32_t(unit_at(b->data() + at, b->unit()));
    return s;
}

// Every code point of the bytes by the fast decoder, -1 for each invalid one.
std::vector<int32_t> decode_all(const uint8_t* p, const uint8_t* end) {
    std::vector<int32_t> out;
    while (p < end) {
        int32_t cp;
        p = unicode::decode_utf8_char(p, end, &cp);
        out.push_back(cp);
    }
    return out;
}

}  // namespace

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

TEST(Unicode, PlatformDecoderNeverReadsPastItsInput) {
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

// Every sequence cut anywhere: the fast decoder, the counter and the skipper
// stop at the end they are given (an over-read fails under ASan), and the cut
// sequence counts as one invalid character.
TEST(Unicode, FastDecoderStopsAtTheEnd) {
    const char* sequences[] = {"\xc3\xa9", "\xe2\x82\xac", "\xf0\x9f\x98\x80", "\xf4\x8f\xbf\xbf", "\xed\x9f\xbf"};
    for (const char* s : sequences) {
        std::vector<uint8_t> whole = bytes_of(s);
        for (size_t cut = 1; cut <= whole.size(); ++cut) {
            std::vector<uint8_t> v = bytes_of("a");
            v.insert(v.end(), whole.begin(), whole.begin() + cut);
            auto p = exact_copy(v);
            const uint8_t* end = p.get() + v.size();
            std::vector<int32_t> got = decode_all(p.get(), end);
            ASSERT_EQ(got.size(), 2u) << s << " cut at " << cut;
            EXPECT_EQ(got[1] >= 0, cut == whole.size()) << s << " cut at " << cut;
            EXPECT_EQ(unicode::utf8_length(p.get(), end), 2u);
            EXPECT_EQ(unicode::utf8_skip(p.get(), end, 5), end);
            EXPECT_EQ(unicode::utf8_skip(p.get(), end, 1), p.get() + 1);
        }
    }
}

// An invalid sequence answers -1 and stands just past the byte that made it
// invalid; the next decode starts there.
TEST(Unicode, FastDecoderRejects) {
    struct Case {
        const char* bytes;
        std::vector<int32_t> decoded;
    } cases[] = {
        {"\xe2\x82\xac", {0x20AC}},
        {"\xe2\x41z", {-1, 'z'}},        // the byte that rejects is taken with the sequence
        {"\x80z", {-1, 'z'}},
        {"\xc0\x80", {-1, -1}},          // overlong
        {"\xed\xa0\x80", {-1, -1}},  // surrogate
        {"\xf4\x90\x80\x80", {-1, -1, -1}},
        {"\xf5\x80", {-1, -1}},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> v = bytes_of(c.bytes);
        auto p = exact_copy(v);
        EXPECT_EQ(decode_all(p.get(), p.get() + v.size()), c.decoded) << hex(c.bytes);
    }
}

#ifndef _WIN32
namespace {

// Python's strict decoder on every string of 1 to 3 bytes (in order: all
// 1-byte strings, all 2-byte, all 3-byte; one byte each, 1 when the whole
// string decodes) and then on a sample of 4-byte strings (each string, then
// its verdict). Strings are decoded many at a time, joined by newlines: an
// ASCII byte always ends a sequence, and dropping the invalid bytes
// ('ignore') leaves a valid string whole and shortens an invalid one.
const char* utf8_oracle = R"(
import random, sys
def one(s):
    try:
        s.decode('utf-8')
        return 1
    except UnicodeDecodeError:
        return 0
def bulk(strings, n):
    kept = (b'\n'.join(strings) + b'\n').decode('utf-8', 'ignore').encode('utf-8')
    return bytes(map(len, kept.split(b'\n')[:-1])).translate(bytes(int(i == n) for i in range(256)))
out = bytearray(one(bytes([a])) for a in range(256))
out += bytes(one(bytes([a, b])) for a in range(256) for b in range(256))
tails = [bytes([b, c]) for b in range(256) for c in range(256)]
has_nl = [i for i, t in enumerate(tails) if 10 in t]
safe = [b'AA' if 10 in t else t for t in tails]
for a in range(256):
    if a == 10:
        out += bytes(one(b'\n' + t) for t in tails)
        continue
    lead = bytes([a])
    v = bytearray(bulk([lead + t for t in safe], 3))
    for i in has_nl:
        v[i] = one(lead + tails[i])
    out += v
n = 1 << 20
r = random.Random(2155)
lead = r.randbytes(n).translate(bytes([0xF0 + (x & 7) for x in range(128)] + list(range(128, 256))))
cont = bytes([0x80 | (x & 0x3F) if x < 192 else (x - 192 if x < 224 else x) for x in range(256)])
sample = bytearray(4 * n)
sample[0::4] = lead
for k in (1, 2, 3):
    sample[k::4] = r.randbytes(n).translate(cont)
sample = bytes(sample).replace(b'\n', b'\x0b')
strings = [sample[i:i + 4] for i in range(0, 4 * n, 4)]
verdicts = bulk(strings, 4)
rec = bytearray(5 * n)
for k in range(4):
    rec[k::5] = sample[k::4]
rec[4::5] = verdicts
out += rec
sys.stdout.buffer.write(out)
)";

// Our verdict on a whole string: every sequence valid, and the code points
// encode back to the same bytes.
bool automaton_accepts(const uint8_t* p, size_t n) {
    const uint8_t* end = p + n;
    uint8_t again[4];
    while (p < end) {
        int32_t cp;
        const uint8_t* next = unicode::decode_utf8_char(p, end, &cp);
        if (cp < 0) return false;
        int k = unicode::encode_utf8(uint32_t(cp), again);
        EXPECT_TRUE(next - p == k && std::memcmp(again, p, size_t(k)) == 0) << "code point " << cp;
        p = next;
    }
    return true;
}

}  // namespace

TEST(Unicode, AutomatonAgreesWithPythonStrictDecoder) {
    test::ChildResult r = test::run_child("/usr/bin/env", {"python3", "-c", utf8_oracle});
    if (r.status != 0) GTEST_SKIP() << "python3 did not run: " << r.err;
    const size_t exhaustive = 256 + 65536 + 16777216;
    ASSERT_EQ(r.out.size(), exhaustive + 5 * (size_t(1) << 20));
    const auto* verdict = reinterpret_cast<const uint8_t*>(r.out.data());
    size_t mismatches = 0;
    auto check = [&](const uint8_t* s, size_t n, uint8_t expected) {
        if (automaton_accepts(s, n) == (expected == 1)) return;
        if (++mismatches <= 10) {
            std::string hex;
            for (size_t k = 0; k < n; ++k) hex += " " + std::to_string(s[k]);
            ADD_FAILURE() << "bytes" << hex << ": Python says " << (expected ? "valid" : "invalid");
        }
    };
    uint8_t s[4];
    size_t at = 0;
    for (size_t n = 1; n <= 3; ++n) {
        for (uint32_t i = 0; i < (1u << (8 * n)); ++i) {
            for (size_t k = 0; k < n; ++k) s[k] = uint8_t(i >> (8 * (n - 1 - k)));
            check(s, n, verdict[at++]);
        }
    }
    size_t valid4 = 0;
    for (; at < r.out.size(); at += 5) {
        check(verdict + at, 4, verdict[at + 4]);
        valid4 += verdict[at + 4];
    }
    EXPECT_EQ(mismatches, 0u);
    EXPECT_GT(valid4, 100000u);  // the sample does reach the 4-byte sequences
}
#endif

// The strict decoder's rules, where they differ from UTF-8 as the standard
// has it and where the input ends early.
TEST(Unicode, CheckedDecoder) {
    constexpr int32_t cut = -1, bad = -2;
    struct Case {
        const char* bytes;
        uint32_t available;
        int32_t cp;  // or cut (answers -1) or bad (raises invalid-utf8)
        uint32_t length;
    } cases[] = {
        {"A", 1, 'A', 1},
        {"\xc3\xa9", 2, 0xE9, 2},
        {"\xf0\x9f\x98\x80", 4, 0x1F600, 4},
        {"\xc0\x80", 2, 0, 2},             // overlong accepted
        {"\xc1\xbf", 2, 0x7F, 2},
        {"\xe0\x80\x80", 3, 0, 3},
        {"\xed\xa0\x80", 3, 0xD800, 3},    // surrogates pass ...
        {"\xed\xb4\x80", 3, 0xDD00, 3},
        {"\xed\xb2\x80", 3, bad, 0},       // ... but U+DC00-DCFF
        {"\xf0\x8d\xb2\x80", 4, 0xDC80, 4},  // (in four bytes it passes)
        {"\xef\xbf\xbe", 3, bad, 0},       // the "invalid" marker
        {"\xef\xbf\xbf", 3, 0xFFFF, 3},
        {"\xf4\x8f\xbf\xbf", 4, 0x10FFFF, 4},
        {"\xf4\x90\x80\x80", 4, bad, 0},
        {"\xf7\xbf\xbf\xbf", 4, bad, 0},
        {"\xf8\x88\x80\x80\x80", 5, bad, 0},
        {"\x80", 1, bad, 0},
        {"\xe2\x41\x41", 3, bad, 0},
        {"\xe2\x82", 2, cut, 0},
        {"\xf0\x9f\x98", 3, cut, 0},
        {"\xe2\x41", 2, cut, 0},           // too short is told before invalid
        {"", 0, cut, 0},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> v(c.bytes, c.bytes + c.available);
        auto p = exact_copy(v);
        uint32_t length = c.available;
        int32_t got = 0;
        const char* raised = error_of([&] { got = unicode::decode_utf8_checked(p.get(), &length); });
        if (c.cp == bad) {
            EXPECT_STREQ(raised, "invalid-utf8") << hex(c.bytes);
            continue;
        }
        EXPECT_EQ(raised, nullptr) << hex(c.bytes);
        EXPECT_EQ(got, c.cp) << hex(c.bytes);
        if (c.cp >= 0) {
            EXPECT_EQ(length, c.length) << hex(c.bytes);
        }
    }
}

TEST(Unicode, Utf8SizesAndEncoders) {
    struct Size {
        uint32_t cp;
        int size;
    } sizes[] = {{0, 1}, {0x7F, 1}, {0x80, 2}, {0x7FF, 2}, {0x800, 3}, {0xFFFF, 3}, {0x10000, 4}, {0x10FFFF, 4}};
    for (const Size& s : sizes) {
        uint8_t out[4];
        EXPECT_EQ(unicode::utf8_size_of(s.cp), s.size);
        EXPECT_EQ(unicode::encode_utf8(s.cp, out), s.size);
    }
    uint8_t out[4] = {0, 0, 0, 0};
    EXPECT_STREQ(error_of([] { unicode::utf8_size_of(0x110000); }), "invalid-char");
    EXPECT_STREQ(error_of([&] { unicode::encode_utf8(0x110000, out); }), "invalid-char");
    EXPECT_EQ(cell::integer(&error::pending.args[0]), 0x110000);

    // A sequence that does not fit is cut, not dropped.
    EXPECT_EQ(unicode::encode_utf8_partial(0x20AC, out, 2), 2);
    EXPECT_EQ(std::memcmp(out, "\xe2\x82\x00", 3), 0);
    EXPECT_EQ(unicode::encode_utf8_partial(0x20AC, out, 0), 0);
    EXPECT_EQ(unicode::encode_utf8_partial(0x20AC, out, 9), 3);

    const uint32_t range[] = {'a', 0xE9, 0x20AC, 0x1F600};
    const auto* r = reinterpret_cast<const uint8_t*>(range);
    EXPECT_EQ(unicode::utf8_size_of_range(r, r + sizeof range, 4), 10u);
    EXPECT_EQ(unicode::utf16_extra_bytes(r, r + sizeof range, 4), 2u);

    struct Lead {
        uint8_t byte;
        int size;
    } leads[] = {{0x41, 0}, {0x80, 0}, {0xBF, 0}, {0xC0, 2}, {0xDF, 2}, {0xE0, 3}, {0xEF, 3}, {0xF0, 4}, {0xFF, 4}};
    for (const Lead& l : leads) EXPECT_EQ(unicode::utf8_char_size(l.byte), l.size) << int(l.byte);

    char16_t w[3] = {};
    EXPECT_EQ(unicode::encode_utf16_char(0xFFFF, w), 1);
    EXPECT_EQ(unicode::encode_utf16_char(0x10000, w), 2);
    EXPECT_EQ(std::u16string(w, 2), std::u16string({char16_t(0xD800), char16_t(0xDC00)}));
    EXPECT_EQ(unicode::encode_utf16_char(0x10FFFF, w), 2);
    EXPECT_EQ(std::u16string(w, 2), std::u16string({char16_t(0xDBFF), char16_t(0xDFFF)}));
    EXPECT_EQ(unicode::encode_utf16_char(0x110000, w), 0);

    char16_t report[8];
    EXPECT_EQ(unicode::ascii_to_utf16("Ab\xe9", report), report);
    EXPECT_EQ(std::u16string(report), u"Ab\u00e9");
}

// ---- text buffers

namespace {

struct UnicodeText : test::WithRuntime {
    // A string value of the code points in a buffer of the given unit, kept
    // until the test ends.
    Cell text(std::u32string_view s, uint32_t unit, uint32_t index = 0) {
        NodeId id = test::keep_series(alloc::alloc_units(s.size() ? s.size() : 1, unit));
        SeriesBuffer* b = alloc::buffer_of(id);
        for (char32_t c : s) {
            std::memcpy(b->data() + b->tail, &c, unit);
            b->tail += unit;
        }
        return Cell{type::string, index, id, 0};
    }
    std::vector<uint8_t> scratch(const Cell& v) {
        SeriesBuffer* b = alloc::buffer_of(v.payload3);
        return {b->data(), b->data() + b->size};
    }
};

}  // namespace

TEST_F(UnicodeText, WideningKeepsTheContent) {
    Cell v = text(U"a\u00ffz", 1);
    SeriesBuffer* b = alloc::buffer_of(v.payload2);
    b = unicode::widen_1_to_2(b);
    EXPECT_EQ(b->unit(), 2u);
    EXPECT_EQ(units_of(b), U"a\u00ffz");
    b = unicode::widen_2_to_4(b);
    EXPECT_EQ(b->unit(), 4u);
    EXPECT_EQ(units_of(b), U"a\u00ffz");
    EXPECT_EQ(alloc::buffer_of(v.payload2), b);

    // A long text does not fit its buffer once widened: the buffer grows, with
    // room for the widened units and one more.
    std::u32string long_text;
    for (int i = 0; i < 100; ++i) long_text += char32_t(0x20 + i);
    Cell w = text(long_text, 1);
    b = unicode::widen_1_to_4(alloc::buffer_of(w.payload2));
    EXPECT_EQ(units_of(b), long_text);
    EXPECT_GE(b->size, 4 * 100u + 4);

    // A head that is not at the data start stays at the same unit.
    Cell h = text(U"xyz", 1);
    SeriesBuffer* hb = alloc::buffer_of(h.payload2);
    hb->offset = 1;
    hb = unicode::widen_1_to_2(hb);
    EXPECT_EQ(units_of(hb), U"yz");
    EXPECT_EQ(hb->offset, 2u);
}

TEST_F(UnicodeText, LoadUtf8) {
    struct Case {
        std::string bytes;
        bool crlf;
        std::u32string loaded;
        uint32_t unit;
        uint32_t remaining;
    } cases[] = {
        {"A\xc3\xa9", false, U"A\u00e9", 1, 0},
        {"A\xc3\xa9\xe2\x82\xac", false, U"A\u00e9\u20ac", 2, 0},
        {"\xf0\x9f\x98\x80z", false, U"\U0001F600z", 4, 0},
        {"\xef\xbb\xbf", false, U"", 1, 0},
        {"\xef\xbb\xbfok", false, U"ok", 1, 0},
        {"", false, U"", 1, 0},
        {"ab\xe2\x82", false, U"ab", 1, 2},
        {"ab\xf0\x9f\x98", false, U"ab", 1, 3},
        {"a\r\nb", true, U"a\nb", 1, 0},
        {"a\rb", true, U"a\nb", 1, 0},
        {"a\r", true, U"a\n", 1, 0},
        {"a\r\n\r\n", true, U"a\n\n", 1, 0},
        {"a\r\nb", false, U"a\r\nb", 1, 0},
        {std::string("\xc0\x80", 2), false, std::u32string(1, U'\0'), 1, 0},
        {"\xed\xa0\x80", false, U"\xD800", 2, 0},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> v = bytes_of(c.bytes);
        auto p = exact_copy(v);
        uint32_t remaining = 99;
        SeriesBuffer* b = unicode::load_utf8(p.get(), uint32_t(v.size()), nullptr, &remaining, c.crlf);
        EXPECT_EQ(units_of(b), c.loaded) << hex(c.bytes);
        EXPECT_EQ(b->unit(), c.unit) << hex(c.bytes);
        EXPECT_EQ(remaining, c.remaining) << hex(c.bytes);
    }
}

TEST_F(UnicodeText, LoadUtf8IntoATarget) {
    // The load replaces what the target held; a wider target keeps its unit.
    Cell wide = text(U"\U0001F600\U0001F600\U0001F600\U0001F600", 4);
    SeriesBuffer* b = unicode::load_utf8_into(reinterpret_cast<const uint8_t*>("hi"), 2, &wide, nullptr);
    EXPECT_EQ(b, alloc::buffer_of(wide.payload2));
    EXPECT_EQ(b->unit(), 4u);
    EXPECT_EQ(units_of(b), U"hi");

    // A small target grows and widens.
    Cell small = text(U"", 1);
    std::string longer = "\xe2\x82\xac" + std::string(200, 'x');
    b = unicode::load_utf8_into(reinterpret_cast<const uint8_t*>(longer.data()), uint32_t(longer.size()), &small,
                                nullptr);
    EXPECT_EQ(b, alloc::buffer_of(small.payload2));
    EXPECT_EQ(units_of(b), U"\u20ac" + std::u32string(200, U'x'));

    // Invalid input raises with the offending bytes and leaves the target as it was.
    Cell kept = text(U"kept", 1);
    std::vector<uint8_t> bad = bytes_of("ok\xed\xb2\x80!");
    auto p = exact_copy(bad);
    EXPECT_STREQ(error_of([&] { unicode::load_utf8_into(p.get(), uint32_t(bad.size()), &kept, nullptr); }),
                 "invalid-utf8");
    const Cell& arg = error::pending.args[0];
    ASSERT_EQ(cell::type_of(&arg), type::binary);
    SeriesBuffer* ab = alloc::buffer_of(arg.payload2);
    EXPECT_EQ(std::string(ab->data() + ab->offset, ab->data() + ab->tail), "\xed\xb2\x80!");
    EXPECT_EQ(units_of(alloc::buffer_of(kept.payload2)), U"kept");

    // At the very end, the argument holds what there is.
    std::vector<uint8_t> last = bytes_of("\xff");
    p = exact_copy(last);
    EXPECT_STREQ(error_of([&] { unicode::load_utf8_cstr(p.get(), 1); }), "invalid-utf8");
    EXPECT_EQ(alloc::buffer_of(error::pending.args[0].payload2)->tail, 1u);
}

TEST_F(UnicodeText, LoadUtf16le) {
    struct Case {
        std::u16string units;
        bool crlf;
        std::u32string loaded;
        uint32_t unit;
    } cases[] = {
        {u"abc", false, U"abc", 1},
        {u"caf\u00e9", false, U"caf\u00e9", 1},
        {u"\u20ac1", false, U"\u20ac1", 2},
        {u"A\U0001F600", false, U"A\U0001F600", 4},
        {{u'A', char16_t(0xD83D), u'A'}, false, U"A\xD83D" U"A", 4},  // lone high surrogate: kept
        {{u'A', char16_t(0xD83D)}, false, U"A\xD83D", 4},             // ... also at the end
        {{char16_t(0xDE00), u'A'}, false, U"\xDE00" U"A", 4},           // lone low surrogate
        {u"a\r\nb", true, U"a\nb", 1},
        {u"a\rb\r", true, U"a\nb\n", 1},
        {u"\u20ac\r\n\r", true, U"\u20ac\n\n", 2},
        {u"\U0001F600\r\n", true, U"\U0001F600\n", 4},
        {u"a\r\nb", false, U"a\r\nb", 1},
        {u"", false, U"", 2},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> v(c.units.size() * 2);
        if (!v.empty()) std::memcpy(v.data(), c.units.data(), v.size());
        auto p = exact_copy(v);
        if (!c.units.empty()) {
            EXPECT_EQ(unicode::utf16_unit_width(p.get(), uint32_t(c.units.size())), c.unit);
        }
        SeriesBuffer* b = unicode::load_utf16le(p.get(), uint32_t(c.units.size()), nullptr, c.crlf);
        EXPECT_EQ(units_of(b), c.loaded);
        EXPECT_EQ(b->unit(), c.unit);
        EXPECT_TRUE(b->flags & 0x40000);
    }
}

// Wide text that a platform call left in the value's scratch buffer loads
// into the value itself.
TEST_F(UnicodeText, LoadUtf16leFromTheScratchBuffer) {
    Cell v = text(U"old", 1);
    auto* scratch = reinterpret_cast<char16_t*>(unicode::cache_buffer(&v, 64));
    std::u16string wide = u"new\u20ac text";
    std::memcpy(scratch, wide.data(), wide.size() * 2);
    SeriesBuffer* b = unicode::load_utf16le(nullptr, uint32_t(wide.size()), &v, false);
    EXPECT_EQ(b, alloc::buffer_of(v.payload2));
    EXPECT_EQ(units_of(b), U"new\u20ac text");
}

TEST_F(UnicodeText, ScratchConversions) {
    Cell& v = test::keep(text(U"x\u00e9\n\U00010000", 4, 0));  // a root: the conversions store their scratch buffer in it
    int32_t n = -1;
    const char* utf8 = reinterpret_cast<const char*>(unicode::to_utf8(&v, &n));
    EXPECT_EQ(std::string(utf8), "x\xc3\xa9\n\xf0\x90\x80\x80");
    EXPECT_EQ(n, 8);
    NodeId scratch = v.payload3;

    n = 3;
    utf8 = reinterpret_cast<const char*>(unicode::to_utf8_part(&v, &n, true));
    EXPECT_EQ(std::string(utf8), "x\xc3\xa9\r\n");
    EXPECT_EQ(n, 5);

    char16_t* w = unicode::to_utf16(&v);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(std::u16string(w), u"x\u00e9\r\n\U00010000");
    EXPECT_EQ(v.payload3, scratch);  // one scratch buffer per value, grown in place
    EXPECT_GE(alloc::buffer_of(scratch)->size, 2 * 6u + 2);

    n = -1;
    w = unicode::to_utf16_part(&v, &n, false);
    EXPECT_EQ(std::u16string(w), u"x\u00e9\n\U00010000");
    EXPECT_EQ(n, 5);

    // From the value's index; an index past the tail gives nothing.
    v.payload1 = 2;
    n = -1;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(unicode::to_utf8(&v, &n))), "\n\xf0\x90\x80\x80");
    v.payload1 = 99;
    n = -1;
    EXPECT_EQ(*unicode::to_utf8(&v, &n), 0);
    EXPECT_EQ(n, 0);

    Cell bad = text(U"a", 4);
    uint32_t too_big = 0x110000;
    std::memcpy(alloc::buffer_of(bad.payload2)->data(), &too_big, 4);
    n = -1;
    EXPECT_EQ(unicode::to_utf16_part(&bad, &n, false), nullptr);
}

TEST_F(UnicodeText, EncodeRanges) {
    Cell v = text(U"a\u20acb\u20ac", 2);
    uint8_t out[16];
    struct Case {
        bool bounded;
        int64_t room;
        int32_t n;
        std::string bytes;  // what is written, the NUL included
    } cases[] = {
        {false, 0, -1, std::string("a\xe2\x82\xac" "b\xe2\x82\xac", 8) + '\0'},
        {false, 0, 2, std::string("a\xe2\x82\xac", 4) + '\0'},
        {false, 0, 0, std::string(1, '\0')},
        {false, 0, 99, std::string("a\xe2\x82\xac" "b\xe2\x82\xac", 8) + '\0'},
        {true, 16, 0, std::string("a\xe2\x82\xac" "b\xe2\x82\xac", 8) + '\0'},  // 0 is no limit here
        {true, 16, 1, std::string("a") + '\0'},
        {true, 3, -1, "a\xe2\x82"},  // cut inside a sequence, no room for the NUL
        {true, 5, -1, "a\xe2\x82\xac" "b"},
    };
    for (const Case& c : cases) {
        std::memset(out, 0xEE, sizeof out);
        uint32_t k = c.bounded ? unicode::encode_utf8_bounded(&v, out, c.room, c.n, true)
                               : unicode::encode_utf8_range(&v, out, c.n, true);
        std::string written(reinterpret_cast<char*>(out), c.bytes.size());
        EXPECT_EQ(written, c.bytes);
        EXPECT_EQ(out[c.bytes.size()], 0xEE);  // nothing beyond
        EXPECT_EQ(k, c.bytes.back() == '\0' ? c.bytes.size() - 1 : c.bytes.size());
    }
}

// ---- display width

namespace {

// The plain reading of a range table: a scan of the pairs in order.
bool in_ranges_by_scan(uint32_t cp, const uint32_t* table, uint32_t count) {
    for (uint32_t i = 0; i + 1 < count; i += 2)
        if (table[i] <= cp && cp <= table[i + 1]) return true;
    return false;
}

struct Table {
    const char* name;
    const uint32_t* values;
    uint32_t count;
};

const Table width_tables[] = {
    {"zero width", unicode::zero_width_ranges, unicode::zero_width_ranges_count},
    {"wide", unicode::wide_ranges, unicode::wide_ranges_count},
    {"ambiguous", unicode::ambiguous_ranges, unicode::ambiguous_ranges_count},
};

}  // namespace

TEST(Width, TablesAndTheirSearch) {
    for (const Table& t : width_tables) {
        ASSERT_EQ(t.count % 2, 0u) << t.name;
        for (uint32_t i = 0; i < t.count; i += 2) {
            EXPECT_LE(t.values[i], t.values[i + 1]) << t.name << " range " << i / 2;
            if (i) {  // disjoint and not adjacent
                EXPECT_GT(t.values[i], t.values[i - 1] + 1) << t.name << " range " << i / 2;
            }
        }
        for (uint32_t cp = 0; cp <= 0x110000; ++cp)
            if (unicode::in_ranges(cp, t.values, t.count) != in_ranges_by_scan(cp, t.values, t.count)) {
                FAIL() << t.name << " at " << std::hex << cp;
            }
    }
    const uint32_t one[] = {5, 9};
    EXPECT_FALSE(unicode::in_ranges(4, one, 2));
    EXPECT_TRUE(unicode::in_ranges(9, one, 2));
    EXPECT_FALSE(unicode::in_ranges(10, one, 2));
    EXPECT_FALSE(unicode::in_ranges(5, one, 0));
}

// The rows each table must start and end with.
TEST(Width, TableEnds) {
    struct Ends {
        const Table& table;
        std::vector<uint32_t> first, last;
    } ends[] = {
        {width_tables[0],
         {0x300, 0x36F, 0x483, 0x489, 0x591, 0x5BD, 0x5BF, 0x5BF, 0x5C1, 0x5C2, 0x5C4, 0x5C5, 0x5C7, 0x5C7, 0x600,
          0x605},
         {0x1E2EC, 0x1E2EF, 0x1E8D0, 0x1E8D6, 0x1E944, 0x1E94A, 0xE0100, 0xE01EF}},
        {width_tables[1],
         {0x1100, 0x115F, 0x231A, 0x231B, 0x2329, 0x232A, 0x23E9, 0x23EC, 0x23F0, 0x23F0, 0x23F3, 0x23F3, 0x25FD,
          0x25FE, 0x2614, 0x2615},
         {0x1FAE0, 0x1FAE7, 0x1FAF0, 0x1FAF6, 0x20000, 0x2FFFD, 0x30000, 0x3FFFD}},
        {width_tables[2],
         {0xA1, 0xA1, 0xA4, 0xA4, 0xA7, 0xA8, 0xAA, 0xAA, 0xAE, 0xAE, 0xB0, 0xB4, 0xB6, 0xBA, 0xBC, 0xBF},
         {0xE000, 0xF8FF, 0xFFFD, 0xFFFD, 0xF0000, 0xFFFFD, 0x100000, 0x10FFFD}},
    };
    for (const Ends& e : ends) {
        const Table& t = e.table;
        EXPECT_EQ(std::vector<uint32_t>(t.values, t.values + e.first.size()), e.first) << t.name;
        EXPECT_EQ(std::vector<uint32_t>(t.values + t.count - e.last.size(), t.values + t.count), e.last) << t.name;
    }
}

TEST(Width, CharWidth) {
    struct Case {
        uint32_t cp;
        int width;
        int ambiguous_wide;
    } cases[] = {
        {0x0000, 0, 0}, {0x0007, 1, 1}, {0x001F, 1, 1}, {0x0041, 1, 1}, {0x007F, 1, 1}, {0x0085, 1, 1},
        {0x009F, 1, 1}, {0x00A1, 1, 2}, {0x00AD, 1, 1}, {0x0301, 0, 0}, {0x0600, 0, 0}, {0x1100, 2, 2},
        {0x200B, 0, 0}, {0x3000, 2, 2}, {0x4E00, 2, 2}, {0xE000, 1, 2}, {0xFE0F, 0, 0}, {0xFF21, 2, 2},
        {0xFFFD, 1, 2}, {0x1F600, 2, 2}, {0x1FAF6, 2, 2}, {0x20000, 2, 2}, {0x3FFFD, 2, 2}, {0x3FFFE, 1, 1},
        {0xE0001, 1, 1}, {0xE0100, 0, 0}, {0x10FFFD, 1, 2}, {0x10FFFE, 1, 1}, {0x110000, 1, 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(unicode::char_width(c.cp), c.width) << std::hex << c.cp;
        EXPECT_EQ(unicode::char_width_ambiguous_wide(c.cp), c.ambiguous_wide) << std::hex << c.cp;
    }
}

#ifndef _WIN32
namespace {

// Per code point, Python's Unicode data as the width tables read it: width
// in bits 0-1, width with ambiguous characters wide in bits 2-3; 255 for an
// unassigned code point. The first line is the database's version.
const char* width_oracle = R"(
import sys, unicodedata as u
out = bytearray(0x110000)
for c in range(0x110000):
    ch = chr(c)
    cat = u.category(ch)
    if cat == 'Cn':
        out[c] = 255
        continue
    eaw = u.east_asian_width(ch)
    if c == 0:
        w = 0
    elif cat == 'Cc':
        w = 1
    elif cat in ('Mn', 'Me', 'Cf'):
        w = 0
    elif eaw in ('W', 'F'):
        w = 2
    else:
        w = 1
    a = 2 if eaw == 'A' and w == 1 and cat != 'Cc' else w
    out[c] = w | a << 2
sys.stdout.buffer.write(u.unidata_version.encode() + b'\n' + out)
)";

// Where the tables differ from that reading, on purpose: each range holds
// only code points that differ, each with these widths.
struct WidthDifference {
    uint32_t first, last;
    int width, ambiguous_wide;
    const char* why;
};
const WidthDifference width_differences[] = {
    {0x00AD, 0x00AD, 1, 1, "the soft hyphen shows as a hyphen"},
    {0xE0001, 0xE0001, 1, 1, "tag characters are not in the zero-width table"},
    {0xE0020, 0xE007F, 1, 1, "tag characters are not in the zero-width table"},
    // The ambiguous table keeps the characters of Unicode 5.1.
    {0x2189, 0x2189, 1, 1, "ambiguous since 5.2"},
    {0x269E, 0x269F, 1, 1, "ambiguous since 5.2"},
    {0x26BF, 0x26BF, 1, 1, "ambiguous since 5.2"},
    {0x26C6, 0x26CD, 1, 1, "ambiguous since 5.2"},
    {0x26CF, 0x26D3, 1, 1, "ambiguous since 5.2"},
    {0x26D5, 0x26E1, 1, 1, "ambiguous since 5.2"},
    {0x26E3, 0x26E3, 1, 1, "ambiguous since 5.2"},
    {0x26E8, 0x26E9, 1, 1, "ambiguous since 5.2"},
    {0x26EB, 0x26F1, 1, 1, "ambiguous since 5.2"},
    {0x26F4, 0x26F4, 1, 1, "ambiguous since 5.2"},
    {0x26F6, 0x26F9, 1, 1, "ambiguous since 5.2"},
    {0x26FB, 0x26FC, 1, 1, "ambiguous since 5.2"},
    {0x26FE, 0x26FF, 1, 1, "ambiguous since 5.2"},
    {0x2B56, 0x2B59, 1, 1, "ambiguous since 5.2"},
    {0x3248, 0x324F, 1, 1, "ambiguous since 5.2"},
    {0x1F100, 0x1F10A, 1, 1, "ambiguous since 5.2"},
    {0x1F110, 0x1F12D, 1, 1, "ambiguous since 5.2"},
    {0x1F130, 0x1F169, 1, 1, "ambiguous since 5.2"},
    {0x1F170, 0x1F18D, 1, 1, "ambiguous since 5.2"},
    {0x1F18F, 0x1F190, 1, 1, "ambiguous since 5.2"},
    {0x1F19B, 0x1F1AC, 1, 1, "ambiguous since 5.2"},
};

}  // namespace

TEST(Width, AgreesWithPythonUnicodeData) {
    test::ChildResult r = test::run_child("/usr/bin/env", {"python3", "-c", width_oracle});
    if (r.status != 0) GTEST_SKIP() << "python3 did not run: " << r.err;
    size_t eol = r.out.find('\n');
    std::string version = r.out.substr(0, eol);
    if (version != "14.0.0") GTEST_SKIP() << "the tables hold Unicode 14.0; Python has " << version;
    const auto* expected = reinterpret_cast<const uint8_t*>(r.out.data() + eol + 1);
    ASSERT_EQ(r.out.size() - eol - 1, 0x110000u);

    std::vector<bool> used(std::size(width_differences));
    int unexplained = 0;
    for (uint32_t cp = 0; cp < 0x110000; ++cp) {
        if (expected[cp] == 255) continue;
        int w = unicode::char_width(cp), a = unicode::char_width_ambiguous_wide(cp);
        if (w == (expected[cp] & 3) && a == expected[cp] >> 2) continue;
        size_t k = 0;
        while (k < used.size() && !(width_differences[k].first <= cp && cp <= width_differences[k].last)) ++k;
        if (k < used.size() && width_differences[k].width == w && width_differences[k].ambiguous_wide == a) {
            used[k] = true;
            continue;
        }
        if (++unexplained <= 20)
            ADD_FAILURE() << std::hex << "U+" << cp << ": width " << w << "/" << a << ", Python's data "
                          << (expected[cp] & 3) << "/" << (expected[cp] >> 2);
    }
    EXPECT_EQ(unexplained, 0);
    for (size_t k = 0; k < used.size(); ++k)
        EXPECT_TRUE(used[k]) << std::hex << "no difference in U+" << width_differences[k].first;
}
#endif
