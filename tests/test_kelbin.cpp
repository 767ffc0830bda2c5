// The KELBIN codec: round trips of every datatype through both layouts,
// byte-exact records, identities of shared and cyclic data, and hostile
// blobs that must raise (never crash).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "environment/boot.hpp"
#include "tests/support/environment.hpp"
#include "runtime/collector.hpp"
#include "runtime/context.hpp"
#include "runtime/datatypes/binary.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/symbol.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/error.hpp"
#include "runtime/kelbin/kelbin.hpp"
#include "runtime/stack.hpp"
#include "runtime/throws.hpp"
#include "tests/support/values.hpp"

using namespace kel;
using Bytes = std::vector<uint8_t>;

namespace kel::test {
inline void define_global(const char* name, const Cell& v) {
    Cell w = *context::find_or_add_global(symbol::make(name));
    context::put_value(context::global, &w, &v);
}
inline void binary_of(Cell* out, const Bytes& bytes) {
    binary::make_at(out, uint32_t(bytes.size()));
    SeriesBuffer* b = alloc::buffer_of(out->payload2);
    if (!bytes.empty()) std::memcpy(b->data() + b->offset, bytes.data(), bytes.size());
    b->tail = b->offset + uint32_t(bytes.size());
}
}  // namespace kel::test

namespace {

struct Kelbin : test::WithEnvironment<test::WithSeries> {
    // Evaluates Kel source; the result stays on the stack (a root).
    Cell eval(const std::string& src) {
        uint32_t code = throws::protect(throws::error, [&] {
            if (environment::run_text(src.data(), src.size())) FAIL() << "exit in " << src;
        });
        if (code) {
            ADD_FAILURE() << src << ": error " << (error::pending.id ? error::pending.id : "?");
            return Cell{type::none, 0, 0, 0};
        }
        return *stack::last();
    }
    // The molded value (mold/all); "error: id" when mold raises.
    std::string molded(const Cell& v) {
        std::string out;
        if (throws::protect(throws::error, [&] { out = test::mold(v, {.all = true}); }))
            return std::string("error: ") + error::pending.id;
        return out;
    }
    void define(const char* name, const Cell& v) { test::define_global(name, v); }

    // The blob of the value in the compact layout, or the fixed one.
    Bytes encode(const Cell& v, bool fixed = false) {
        Cell* out = stack::push_slot();
        cell::set_none(out);
        if (throws::protect(throws::error, [&] { fixed ? kelbin::encode(&v, out) : kelbin::encode_b(&v, out); })) {
            ADD_FAILURE() << "encode: " << error::pending.id;
            return {};
        }
        SeriesBuffer* b = alloc::buffer_of(out->payload2);
        return Bytes(b->data() + b->offset, b->data() + b->tail);
    }
    // Decodes through the codec entry; answers the error id, or "" and the value.
    std::string decode(const Bytes& blob, Cell* result = nullptr) {
        Cell* in = stack::push_slot();
        test::binary_of(in, blob);
        Cell* out = stack::push_slot();
        cell::set_none(out);
        uint32_t code = throws::protect(throws::error, [&] { kelbin::codec_decode(in, out); });
        if (code) {
            if (std::getenv("KELBIN_DEBUG")) {
                for (size_t k = 0; k < blob.size() && k < 200; ++k) fprintf(stderr, "%02X ", blob[k]);
                fprintf(stderr, "\n%s at %d\n", error::pending.id, cell::integer(&error::pending.args[0]));
            }
            return error::pending.id ? error::pending.id : "?";
        }
        if (result) *result = *out;
        return "";
    }
    // The records of a blob without symbols: after the header and two varints.
    static Bytes records(const Bytes& blob) {
        EXPECT_EQ(blob[7], kelbin::flag_compact);
        return Bytes(blob.begin() + 10, blob.end());
    }
    static Bytes blob(Bytes records, uint8_t version = 2) {
        Bytes b = {'K', 'E', 'L', 'B', 'I', 'N', version, 1, 1};
        kelbin::write_varint(b, uint32_t(records.size()));
        b.insert(b.end(), records.begin(), records.end());
        return b;
    }
    // A fixed-layout blob of the record words; with names, a symbol table
    // (each name padded to 8, as the encoder writes them).
    static Bytes fixed_blob(const std::vector<uint32_t>& words, std::vector<std::string> names = {}) {
        Bytes b = {'K', 'E', 'L', 'B', 'I', 'N', 2, uint8_t(names.empty() ? 0 : kelbin::flag_symbols)};
        kelbin::append_int32(b, 1);
        kelbin::append_int32(b, uint32_t(words.size() * 4));
        if (!names.empty()) {
            Bytes strings;
            std::vector<uint32_t> offsets;
            for (const std::string& n : names) {
                offsets.push_back(uint32_t(strings.size()));
                strings.insert(strings.end(), n.begin(), n.end());
                do strings.push_back(0);
                while (strings.size() % 8);
            }
            kelbin::append_int32(b, uint32_t(names.size()));
            kelbin::append_int32(b, uint32_t(strings.size()));
            for (uint32_t o : offsets) kelbin::append_int32(b, o);
            b.insert(b.end(), strings.begin(), strings.end());
        }
        for (uint32_t w : words) kelbin::append_int32(b, w);
        return b;
    }
    static std::vector<uint32_t> words_of(const Bytes& records) {
        std::vector<uint32_t> w(records.size() / 4);
        std::memcpy(w.data(), records.data(), w.size() * 4);
        return w;
    }
};

}  // namespace

TEST(KelbinVarint, ReadsAndRejects) {
    struct Case {
        Bytes in;
        bool ok;
        uint32_t value;
    } cases[] = {
        {{0x00}, true, 0},
        {{0x7F}, true, 127},
        {{0x80, 0x01}, true, 128},
        {{0xFF, 0xFF, 0xFF, 0xFF, 0x0F}, true, 0xFFFFFFFF},
        {{0x80, 0x80, 0x80, 0x80, 0x10}, false, 0},
        {{0x80, 0x80}, false, 0},
        {{}, false, 0},
    };
    for (const Case& c : cases) {
        const uint8_t* p = c.in.data();
        uint32_t v = 0;
        EXPECT_EQ(kelbin::read_varint(&p, c.in.data() + c.in.size(), &v), c.ok);
        if (c.ok) EXPECT_EQ(v, c.value);
    }
    Bytes out;
    kelbin::write_zigzag(out, -1);
    kelbin::write_zigzag(out, 1);
    kelbin::write_zigzag(out, -2);
    EXPECT_EQ(out, (Bytes{1, 2, 3}));
}

// Every datatype the runtime has, through both layouts: the decoded value
// molds as the original, and what the fixed layout carries is what the
// compact one does (the value decoded from either encodes compactly the same).
TEST_F(Kelbin, RoundTripsEveryDatatype) {
    const char* sources[] = {
        "0", "63", "64", "-2147483648", "2147483647", "1.5", "-0.0", "1e300", "1.0", "50%", "12.5%",
        "10:00:00", "-1:30:00.5", "1.2.3", "1.2.3.4.5.6.7.8.9.10.11.12", "$12.34", "-$1.50", "EUR$3",
        "1-Jan-2020", "29-Feb-2024/10:30:15+5:30", "#\"a\"", "#\"^(1F600)\"", "1x-2", "(1.5, 2)",
        "(1, 2, 3)", "#issue", "'word", "pick [set-word:] 1", "pick [:get] 1", "/refine", "integer!",
        "make typeset! [integer! block! map!]", "none", "true", "false", "()",
        "[a b: :c 'd /e #f [1 [2 [3]]] (4 5)]", "[a\n  b\n]", "next next [1 2 3]", "'a/b/c", "pick [a/b:] 1",
        "\"h\u00e9llo\"", "\"\u20ac\"", "\"\U0001F600 x\"", "%file.txt", "http://x.y/z", "<tag a>", "a@b.c",
        "#{DEADBEEF}", "next #{0102}", "make vector! [1 2 3]", "make vector! [1.5 2.5]",
        "make bitset! \"abc\"", "complement make bitset! \"a\"", "#[a: 1 \"k\" [x]]", "make hash! [a 1 b 2]",
        "make object! [a: 1 b: [x y] c: make object! [d: 2]]", "func [x /y z] [x + 1]", ":print", ":append", ":+",
        "make error! 402",
    };
    for (const char* src : sources) {
        SCOPED_TRACE(src);
        Cell v = eval(src);
        Bytes compact_of[2];
        for (bool fixed : {false, true}) {
            SCOPED_TRACE(fixed ? "fixed" : "compact");
            Bytes b = encode(v, fixed);
            EXPECT_EQ(b[7] & kelbin::flag_compact, fixed ? 0 : kelbin::flag_compact);
            Cell d{};
            ASSERT_EQ(decode(b, &d), "") << src;
            EXPECT_EQ(molded(d), molded(v)) << src;
            // A second trip gives the same bytes: decoding loses nothing the encoder writes.
            Bytes b2 = encode(d, fixed);
            Cell d2{};
            ASSERT_EQ(decode(b2, &d2), "") << src;
            EXPECT_EQ(encode(d2, fixed), b2) << src;
            compact_of[fixed] = encode(d);
        }
        EXPECT_EQ(compact_of[true], compact_of[false]) << src;
    }
}

TEST_F(Kelbin, EncodesRecordsByteForByte) {
    struct Case {
        const char* src;
        Bytes records;
    } cases[] = {
        {"63", {0xBF}},
        {"64", {0x0B, 0x80, 0x01}},
        {"-1", {0x0B, 0x01}},
        {"1.0", {0x4C, 0x02}},
        {"0.5", {0x0C, 0, 0, 0, 0, 0, 0, 0xE0, 0x3F}},
        {"10:00:00", {0x6B, 0xC0, 0xB2, 0x04}},
        {"1.2.3", {0x27, 1, 2, 3}},
        {"1.2.3.4", {0x67, 4, 1, 2, 3, 4}},
        {"true", {0xC2}},
        {"b: copy [] append/only b b", {0x05, 0x01, 0xC1, 0x05, 0x01, 0x00}},
        {"\"a\"", {0x07, 0x04, 'a'}},
        {"\"\u20ac\"", {0x07, 0x05, 0xAC, 0x20}},
        {"[1\n 2]", {0x05, 0x02, 0x81, 0xC0, 0x82}},
    };
    for (const Case& c : cases) EXPECT_EQ(records(encode(eval(c.src))), c.records) << c.src;
    // Words carry a symbol table; a version byte of 1 reads as 2.
    Bytes b = encode(eval("[a b a]"));
    EXPECT_EQ(b[7], kelbin::flag_compact | kelbin::flag_symbols);
    b[6] = 1;
    Cell d{};
    ASSERT_EQ(decode(b, &d), "");
    EXPECT_EQ(molded(d), "[a b a]");
}

// Shared series and cycles keep their identity; bound words keep their context.
TEST_F(Kelbin, KeepsIdentitiesAndBindings) {
    struct Case {
        const char* make;   // the value encoded
        const char* check;  // run on the decoded value, named d: must answer true
    } cases[] = {
        {"b: copy [1] append/only b b", "same? d pick d 2"},
        {"s: \"x\" reduce [s s]", "append pick d 1 \"y\" \"xy\" = pick d 2"},
        {"o: make object! [a: 1 f: does [a]]", "d/a: 5 5 = d/f"},
        {"o: make object! [a: 1 s: none] o/s: o", "same? d d/s"},
        {"o: make object! [n: 2 f: func [x] [x * n]] reduce [:o/f o]", "o2: pick d 2 o2/n: 3 f2: pick d 1 6 = f2 2"},
        {"x: make object! [v: 7] reduce [in x 'v]", "7 = get pick d 1"},
        {"f: func [a] [reduce [a 'a]] :f", "[9 a] = d 9"},
        {"m: #[k: 1] reduce [m m]", "put pick d 1 'j 2 2 = select pick d 2 'j"},
    };
    for (bool fixed : {false, true})
        for (const Case& c : cases) {
            Cell v = eval(c.make);
            Cell d{};
            ASSERT_EQ(decode(encode(v, fixed), &d), "") << c.make;
            define("d", d);
            EXPECT_TRUE(cell::is(&(v = eval(c.check)), type::logic) && v.payload1)
                << c.make << " / " << c.check << (fixed ? " (fixed)" : "");
        }
}

// Hand-built blobs of the record forms, and what must be refused.
TEST_F(Kelbin, DecodesHandBuiltBlobsAndRefusesBadOnes) {
    struct Case {
        Bytes blob;
        const char* error;  // "" when it decodes
        const char* molded;
    } cases[] = {
        {blob({0xBF}), "", "63"},
        {blob({0xC0, 0x05, 0x01, 0xC0, 0x81}), "", "[\n    1\n]"},
        {blob({0x05, 0x02, 0x81, 0xFF, 0x02, 0x00, 0x00}), "", "[1 1]"},
        {blob({0x45, 0x01, 0x02, 0x81, 0x82}), "", "[2]"},  // head index
        {blob({0xC2}, 1), "", "#(true)"},
        {blob({0x04, 0x01}), "rb-invalid-record", ""},     // logic! as a type byte
        {blob({0x00}), "rb-invalid-record", ""},           // type id 0
        {blob({0xC5}), "rb-invalid-record", ""},
        {blob({0xC1, 0x81}), "rb-invalid-record", ""},     // reference on a short form
        {blob({0xC4, 0x0F, 0x00}), "rb-invalid-record", ""},  // definition in the codec
        {blob({0x6F, 0x81, 0x10, 0x00, 0x00}), "rb-invalid-record", ""},  // date: F without time
        {blob({0x1F}), "no-codec", ""},                    // triple!
        {blob({0x05, 0xFF, 0xFF, 0xFF, 0xFF, 0x07}), "rb-invalid-record", ""},  // count beyond the data
        {blob({0x07, 0x07, 'a', 0}), "rb-invalid-record", ""},  // string unit 8
        {blob({0x05, 0x01, 0xC1, 0x05, 0x02, 0x00, 0x05}), "rb-invalid-record", ""},  // path past the tail
        {blob({0xC1, 0x07, 0x01, 0x00}), "rb-invalid-record", ""},  // path to nothing yet
        {blob({0x0F, 0x00}), "rb-invalid-record", ""},     // symbol without a table
        {blob({0x0A, 0x80, 0x80, 0xC4, 0x01}), "rb-invalid-record", ""},  // char above U+10FFFF
        {blob({0x0B, 0x80, 0x80, 0x80, 0x80, 0x10}), "rb-invalid-record", ""},
        {{'K', 'E', 'L', 'B', 'I', 'X', 2, 1, 1, 1, 0xBF}, "invalid-data", ""},
        {{'K', 'E', 'L', 'B', 'I', 'N', 2, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0xBF}, "rb-invalid-record", ""},  // fixed: a short header word
        {{'K', 'E', 'L', 'B', 'I', 'N', 2, 1, 1, 1}, "invalid-data", ""},  // 10 bytes
        {{'K', 'E', 'L', 'B', 'I', 'N', 2, 5, 1, 1, 1, 1, 0, 0, 0, 0, 'a', 0x0F, 0x00}, "rb-invalid-record", ""},
        {{'K', 'E', 'L', 'B', 'I', 'N', 2, 5, 1, 2, 1, 2, 0, 0, 0, 0, 'a', 0, 0x0F, 0x00}, "", "a"},
        {{'K', 'E', 'L', 'B', 'I', 'N', 2, 1, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F, 1, 0xBF}, "", "63"},
        {{'K', 'E', 'L', 'B', 'I', 'N', 2, 1, 0x80, 0x80, 0x80, 0x80, 0x10, 1, 0xBF}, "rb-invalid-record", ""},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        Cell d{};
        EXPECT_EQ(decode(cases[i].blob, &d), cases[i].error) << "case " << i;
        if (!*cases[i].error) EXPECT_EQ(molded(d), cases[i].molded) << "case " << i;
    }
    // The position of the failing read, 1-based from the blob start.
    ASSERT_EQ(decode(blob({0x05, 0x02, 0x81, 0x00})), "rb-invalid-record");
    EXPECT_EQ(cell::integer(&error::pending.args[0]), 14);
}

// The fixed layout word by word (X: any word). Words are 32-bit little-endian;
// floats have their header on a multiple of 8 from the records' start,
// behind a padding word when needed, and their high half first.
TEST_F(Kelbin, EncodesFixedRecordsWordForWord) {
    constexpr uint32_t X = 0xDEADBEEF, ref = 1u << 19, global = 1u << 25, nl = 1u << 31;
    struct Case {
        const char* src;
        std::vector<uint32_t> words;
    } cases[] = {
        {"63", {0x0B, 63}},
        {"-1", {0x0B, 0xFFFFFFFF}},
        {"true", {0x04, 1}},
        {"none", {0x03}},
        {"integer!", {0x01, 11}},
        {"#\"a\"", {0x0A, 'a'}},
        {"1x-2", {0x25, 1, 0xFFFFFFFE}},
        {"1.0", {0x0C, 0x3FF00000, 0}},
        {"50%", {0x26, 0x3FE00000, 0}},
        {"10:00:00", {0x2B, 0x40E19400, 0}},
        {"[0.5]", {0x05, 0, 1, 0, 0x0C, 0x3FE00000, 0}},
        {"[1 0.5]", {0x05, 0, 2, 0x0B, 1, 0, 0x0C, 0x3FE00000, 0}},
        {"reduce [none 0.5]", {0x05, 0, 2, 0x03, 0x0C, 0x3FE00000, 0}},
        {"1-Jan-2020", {0x2F, X, 0, 0}},
        {"1-Jan-2020/0:00:01", {0x2F, X, 0x3FF00000, 0}},
        {"1.2.3", {0x0327, 0x030201, 0, 0}},
        {"1.2.3.4", {0x0427, 0x04030201, 0, 0}},
        {"-$1.50", {0x31 | 1u << 22, X, X, X}},
        {"make typeset! [integer!]", {0x21, X, X, X}},
        {"\"a\"", {0x0107, 0, 1, 'a'}},
        {"next \"a\u20ac\"", {0x0207, 1, 2, 0x20AC0061}},
        {"#{DEADBEEF01}", {0x29, 0, 5, 0xEFBEADDE, 0x01}},
        {"make vector! [1 2]", {0x0423, 0, 2, 11, 1, 2}},
        {"complement make bitset! #{80}", {0x1E | 1u << 23, 1, 0x7F}},
        {"[1\n 2]", {0x05, 0, 2, 0x0B, 1, nl | 0x0B, 2}},
        {"b: copy [] append/only b b", {0x05, 0, 1, ref | 0x05, 0, 255, 1, 0}},
        {"s: \"x\" reduce [s next s]", {0x05, 0, 2, 0x0107, 0, 1, 'x', ref | 0x0107, 1, 255, 2, 0, 0}},
        {"make object! [a: 1]", {0x20, X, 0x4800000E, 1, 0, 0x0B, 1}},
        {"o: make object! [s: none] o/s: o", {0x20, X, 0x4800000E, 1, 0, ref | 0x20, 255, 1, 0}},
        {"['a]", {0x05, 0, 1, global | 0x11, 0, 0xFFFFFFFF}},
    };
    for (const Case& c : cases) {
        Bytes b = encode(eval(c.src), true);
        ASSERT_GE(b.size(), 16u) << c.src;
        EXPECT_EQ(b[7] & kelbin::flag_compact, 0) << c.src;
        size_t from = 16;
        if (b[7] & kelbin::flag_symbols) {
            uint32_t n, size;
            std::memcpy(&n, &b[16], 4);
            std::memcpy(&size, &b[20], 4);
            from = 24 + 4 * n + size;
        }
        std::vector<uint32_t> got = words_of(Bytes(b.begin() + long(from), b.end()));
        bool same = got.size() == c.words.size();
        for (size_t i = 0; same && i < got.size(); ++i) same = c.words[i] == X || c.words[i] == got[i];
        EXPECT_TRUE(same) << c.src << ": " << ::testing::PrintToString(got);
    }
    // Names start on multiples of 8; the table comes only with words.
    EXPECT_EQ(encode(eval("[abcdefghi j abcdefghi]"), true),
              fixed_blob({0x05, 0, 3, global | 0x0F, 0, 0xFFFFFFFF, global | 0x0F, 1, 0xFFFFFFFF, global | 0x0F, 0,
                          0xFFFFFFFF},
                         {"abcdefghi", "j"}));
    EXPECT_EQ(encode(eval("[1]"), true)[7], 0);
}

// Hand-built fixed blobs of the record forms, and what must be refused:
// every count and size is checked in 64 bits against what is left.
TEST_F(Kelbin, DecodesHandBuiltFixedBlobsAndRefusesBadOnes) {
    constexpr uint32_t ref = 1u << 19, global = 1u << 25, nl = 1u << 31, none = 0xFFFFFFFF;
    auto header = [](uint8_t flags, std::vector<uint32_t> words) {
        Bytes b = {'K', 'E', 'L', 'B', 'I', 'N', 2, flags};
        for (uint32_t w : words) kelbin::append_int32(b, w);
        return b;
    };
    struct Case {
        Bytes blob;
        const char* error;  // "" when it decodes
        const char* molded;
    } cases[] = {
        {fixed_blob({0x0B, 63}), "", "63"},
        {fixed_blob({0x04, 0}), "", "#(false)"},
        {fixed_blob({0, 0x0C, 0x3FF00000, 0}), "", "1.0"},                   // a padding word
        {fixed_blob({0x05, 0, 2, 0x0B, 7, 0xFF, 2, 0, 0}), "", "[7 7]"},     // a copy of the value at a path
        {fixed_blob({0x05, 0, 1, nl | 0x0B, 1}), "", "[\n    1\n]"},          // the new-line bit
        {fixed_blob({0x05, 1, 2, 0x0B, 1, 0x0B, 2}), "", "[2]"},              // head index
        {fixed_blob({0x05, 0, 2, 0x0107, 0, 1, 'x', ref | 0x0107, 0, 255, 2, 0, 0}), "", "[\"x\" \"x\"]"},
        {fixed_blob({0x0427, 0x04030201, 0, 0}), "", "1.2.3.4"},
        {fixed_blob({0x05, 0, 2, global | 0x0F, 0, none, global | 0x12, 1, 7}, {"abcdefghi", "j"}), "",
         "[abcdefghi :j]"},  // a global word's index is not trusted: looked up
        {header(0, {1, 4, 0x0B}), "rb-invalid-record", ""},            // a record cut short
        {header(0, {1, 8}), "rb-invalid-record", ""},                  // records past the end
        {header(0, {1, 0xFFFFFFFF, 0x03}), "rb-invalid-record", ""},
        {header(4, {1, 0, 0x40000000, 0}), "rb-invalid-record", ""},   // 4 x symbols wraps in 32 bits
        {header(4, {1, 0, 1, 0xFFFFFFFF, 0}), "rb-invalid-record", ""},
        {header(4, {1, 12, 1, 4, 0, 0x61616161, 0x0F | global, 0, none}), "rb-invalid-record", ""},  // no NUL
        {{'K', 'E', 'L', 'B', 'I', 'N', 2, 0, 1, 0, 0, 0}, "invalid-data", ""},  // no records length
        {fixed_blob({0x04, 2}), "rb-invalid-record", ""},                       // logic 2
        {fixed_blob({0x0008000B, 1}), "rb-invalid-record", ""},                 // reference bit on a scalar
        {fixed_blob({0x0227, 0x0201, 0, 0}), "rb-invalid-record", ""},          // tuple of 2
        {fixed_blob({0x0307, 0, 1, 'a'}), "rb-invalid-record", ""},             // string unit 3
        {fixed_blob({0x0207, 0, 0x80000000}), "rb-invalid-record", ""},         // 2 x length wraps in 32 bits
        {fixed_blob({0x05, 0, 0x40000000}), "rb-invalid-record", ""},           // 4 x count wraps in 32 bits
        {fixed_blob({0x0823, 0, 0x20000000, 12}), "rb-invalid-record", ""},     // 8 x count wraps in 32 bits
        {fixed_blob({0x0423, 0, 1, 38, 0}), "rb-invalid-record", ""},           // percent! of 4 bytes
        {fixed_blob({0x29, 0, 3, 0x00010203}), "", "#{030201}"},
        {fixed_blob({0x29, 0, 5, 0x00010203}), "rb-invalid-record", ""},        // bytes past the end
        {fixed_blob({0x05, 0, 1, ref | 0x05, 0, 254, 1, 0}), "rb-invalid-record", ""},  // no 255 before the path
        {fixed_blob({0x05, 0, 1, ref | 0x05, 0, 255, 0}), "rb-invalid-record", ""},     // a path of no index
        {fixed_blob({0x05, 0, 1, ref | 0x05, 0, 255, 2, 0, 5}), "rb-invalid-record", ""},  // past the tail
        {fixed_blob({0xFF, 0x40000000, 0}), "rb-invalid-record", ""},           // path longer than the data
        {fixed_blob({ref | global | 0x0F, 0, none, 255, 1, 0}, {"a"}), "rb-invalid-record", ""},
        {fixed_blob({0x0F, 0, 0, 0x0B, 1}, {"a"}), "rb-invalid-record", ""},   // bound word, owner no object
        {fixed_blob({global | 0x0F, 1, none}, {"a"}), "rb-invalid-record", ""},  // symbol past the table
        {fixed_blob({0x1F}), "no-codec", ""},                                   // triple!
        {fixed_blob({0x3A}), "rb-invalid-record", ""},                          // no such type
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        Cell d{};
        EXPECT_EQ(decode(cases[i].blob, &d), cases[i].error) << "case " << i;
        if (!*cases[i].error) EXPECT_EQ(molded(d), cases[i].molded) << "case " << i;
    }
    // A date always carries its time words: zero when it has no time.
    Bytes day = encode(eval("1-Jan-2020"), true);
    EXPECT_EQ(decode(day), "");
    day.back() = 1;
    EXPECT_EQ(decode(day), "rb-invalid-record");
    // The position of the failing read, 1-based from the blob start: the
    // header word of the bad logic! record (16 + 5 x 4 bytes in).
    ASSERT_EQ(decode(fixed_blob({0x05, 0, 2, 0x0B, 1, 0x04, 2})), "rb-invalid-record");
    EXPECT_EQ(cell::integer(&error::pending.args[0]), 37);
}

// A fixed boot image: words name their context by root index (-1 global)
// and may define a global word; object class ids are kept.
TEST_F(Kelbin, LoadsFixedBootImages) {
    constexpr uint32_t definition = 1u << 25, none = 0xFFFFFFFF;
    Bytes image = fixed_blob(
        {
            0x20, 7, 0x4800000E, 1, 0, 0x0B, 5,         // root 0: an object [kelbin-a: 5], class 7
            0x0F, 0, 0, none,                           // kelbin-a bound to root 0, looked up
            definition | 0x0F, 1, none, none, 0x0B, 42,  // kelbin-b: 42, then gone from the block
            0x0F, 1, none, none,                        // kelbin-b, global
        },
        {"kelbin-a", "kelbin-b"});
    collector::RootCell target;
    block::make_at(&target.cell, 4);
    ASSERT_EQ(throws::protect(throws::error, [&] { kelbin::load_boot(image.data(), image.size(), &target.cell); }), 0u);
    ASSERT_EQ(series::cell_count(target.cell.payload2), 3u);
    EXPECT_EQ(series::cells_of(target.cell.payload2)[0].payload2, 7u);
    define("d", target.cell);
    Cell v = eval("all [5 = get pick d 2  42 = get pick d 3  42 = kelbin-b]");
    EXPECT_TRUE(cell::is(&v, type::logic) && v.payload1);
}

// Nested blocks two bytes a level: refused at the depth limit, not by the
// native stack overflowing.
TEST_F(Kelbin, BoundsNesting) {
    Bytes deep;
    for (int i = 0; i < 200000; ++i) deep.push_back(0x05), deep.push_back(0x01);
    deep.push_back(0x80);
    EXPECT_EQ(decode(blob(deep)), "rb-invalid-record");
    // Fixed: header word, head index, count 1, a level.
    std::vector<uint32_t> words;
    for (int i = 0; i < 100000; ++i) words.insert(words.end(), {0x05, 0, 1});
    words.insert(words.end(), {0x0B, 1});
    EXPECT_EQ(decode(fixed_blob(words)), "rb-invalid-record");
}

// Every truncation and every single-byte change of a rich blob decodes or
// raises; none reads outside the blob (the sanitizers watch).
TEST_F(Kelbin, SurvivesTruncatedAndCorruptedBlobs) {
    Cell v = eval(
        "o: make object! [a: 1 f: func [x] [x + a] s: \"t\u20ac\" m: #[k: [1 2]]] "
        "b: reduce [o next \"xyz\" #{01} 1.5 10:00 1-1-2000/1:00 $1 1.2.3.4 'w o/f make vector! [1 2] "
        "make bitset! \"ab\" make hash! [q 1] :print] append/only b b");
    for (bool fixed : {false, true}) {
        Bytes good = encode(v, fixed);
        for (size_t n = 0; n < good.size(); ++n) {
            Bytes cut(good.begin(), good.begin() + long(n));
            EXPECT_NE(decode(cut), "") << "length " << n << (fixed ? " (fixed)" : "");
        }
        // The fixed blob is some three times longer, and each change decodes
        // it whole: there one change per byte, the three in turn.
        const uint8_t changes[] = {0xFF, 0x80, 0x01};
        for (size_t i = 8; i < good.size(); ++i)
            for (size_t k = 0; k < 3; ++k) {
                if (fixed && k != i % 3) continue;
                Bytes bad = good;
                bad[i] ^= changes[k];
                decode(bad);
            }
    }
}
