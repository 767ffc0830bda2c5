// The lexer: source text to values. Each token form loads to its value
// (molded where the type molds, else read field by field), syntax errors
// carry their id, datatype, line and near text, and the scan modes answer
// types without raising.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <string>

#include "runtime/alloc.hpp"
#include "runtime/collector.hpp"
#include "runtime/datatype.hpp"
#include "runtime/datatypes/date.hpp"
#include "runtime/datatypes/money.hpp"
#include "runtime/datatypes/tokenizer.hpp"
#include "runtime/datatypes/tuple.hpp"
#include "runtime/lexer/classes.hpp"
#include "runtime/lexer/lexer.hpp"
#include "runtime/symbol.hpp"
#include "tests/support/environment.hpp"
#include "tests/support/values.hpp"

using namespace kel;
using namespace kel::test;

namespace {

struct Lexer : WithSeries {};
// Currency codes are those of system/locale/currencies/list, which the boot
// environment makes.
struct LexerWithCurrencies : WithEnvironment<WithSeries> {};

std::string error_text(const std::string& source);

// The values of the text; an error fails the test and answers an empty block.
Cell lex(const std::string& text, lexer::ScanOptions o = {}) {
    Cell result{};
    StackScope scope;
    uint32_t code = throws::protect(throws::error, [&] { lexer::load_utf8(text.data(), text.size(), o, &result); });
    if (code) {
        ADD_FAILURE() << text << ": " << error::pending.id;
        block::make_at(&result, 1);
    }
    return result;
}

// The one value of the text.
Cell lex1(const std::string& text) {
    Cell b = lex(text);
    EXPECT_EQ(block::ks_length_q(&b), 1) << text;
    Cell v = *cell_at(b, 0);
    cell::clear_newline(&v);
    return v;
}

std::string text_of(const Cell& v) { return string::to_utf8(&v); }

uint32_t unit_of(const Cell& v) { return alloc::buffer_of(v.payload2)->unit(); }

std::string type_name(uint32_t t) { return t ? datatype::names[t].name : "none"; }

// "id" plus the datatype for invalid, or the expected character for missing.
std::string error_text(const std::string& source) {
    StackScope scope;
    Cell r{};
    uint32_t code = throws::protect(throws::error, [&] { lexer::load_utf8(source.data(), source.size(), {}, &r); });
    if (code != throws::error) return "no error";
    const error::Pending& e = error::pending;
    std::string s = e.id;
    if (s == "invalid") s += " " + type_name(e.args[1].payload1);
    if (s == "missing") s += std::string(" ") + char(e.args[1].payload2);
    return s;
}

// line text | near text of the error the source raises.
std::string error_place(const std::string& source) {
    StackScope scope;
    Cell r{};
    uint32_t code = throws::protect(throws::error, [&] { lexer::load_utf8(source.data(), source.size(), {}, &r); });
    if (code != throws::error) return "no error";
    const error::Pending& e = error::pending;
    return text_of(e.args[0]) + "|" + text_of(e.args[e.arg_count - 1]);
}

int32_t scan_type(const std::string& text, bool prescan = false) {
    lexer::ScanOptions o;
    o.one_value = true;
    (prescan ? o.prescan : o.scan) = true;
    Cell r{};
    return lexer::load_utf8(text.data(), text.size(), o, &r);
}

double real_of(const Cell& v) { return cell::real(&v); }

// ---- the tables

TEST_F(Lexer, TablesFollowTheirRows) {
    using namespace lexer;
    EXPECT_EQ(char_class['\n'] & 0xFF, c_lf);
    EXPECT_EQ(char_class['e'], c_e | flag::exponent);
    EXPECT_EQ(char_class[0xC3], c_wc | flag::utf8_2_3);
    EXPECT_EQ(char_class[0xF0], c_wc | flag::utf8_4);
    EXPECT_EQ(char_class[0x80] & 0xFF, c_cont);
    EXPECT_EQ(char_class[0xF8] & 0xFF, c_bad);
    EXPECT_EQ(char_class[0] & 0xFF, c_end);
    EXPECT_EQ(transitions.next[0][c_space], 0);
    EXPECT_EQ(transitions.next[0][c_d19], 23);
    EXPECT_EQ(transitions.next[23][c_pct], first_final + k_percent);
    EXPECT_EQ(transitions.next[52][c_slash], first_final + k_path_open);
    EXPECT_EQ(transitions.next[12][c_wc], first_final + k_error);
    EXPECT_EQ(state_type[first_final + k_money], type::money);
    EXPECT_EQ(state_type[29], type::tuple);
}

TEST_F(Lexer, FloatSyntax) {
    struct Case {
        const char* text;
        bool ok;
    } cases[] = {
        {"1", true},     {"1.5", true},    {"-1.5e-3", true}, {".5", true},   {"1.", true},
        {"1'000.5", true}, {"1''0", false}, {"1e", false},     {"1.e5", false}, {"e5", false},
        {"1.5.2", false}, {"", false},     {"+", false},      {"1e+", false},
    };
    for (const Case& c : cases) EXPECT_EQ(lexer::float_syntax_ok(c.text, uint32_t(std::strlen(c.text))), c.ok) << c.text;
    std::string long_text(313, '1');
    EXPECT_FALSE(lexer::float_syntax_ok(long_text.data(), 313));
    EXPECT_TRUE(lexer::float_syntax_ok(long_text.data(), 312));
}

// ---- numbers

TEST_F(Lexer, IntegersAndFloats) {
    struct Case {
        const char* source;
        const char* molded;
    } cases[] = {
        {"0", "0"},
        {"7", "7"},
        {"-7", "-7"},
        {"+12", "12"},
        {"1'000'000", "1000000"},
        {"2147483647", "2147483647"},
        {"-2147483648", "-2147483648"},
        {"2147483648", "2147483648.0"},
        {"-2147483649", "-2147483649.0"},
        {"12345678901", "12345678901.0"},
        {"00000000001", "1.0"},
        {"FFFFFFFFh", "-1"},
        {"0Ah", "10"},
        {"7FFFFFFFh", "2147483647"},
        {"1.5", "1.5"},
        {"1.", "1.0"},
        {".5", "0.5"},
        {"-.5", "-0.5"},
        {"1.5e3", "1500.0"},
        {"1E-2", "0.01"},
        {"1'000.25", "1000.25"},
        {"1e5", "100000.0"},
        {"1.#INF", "1.#INF"},
        {"-1.#inf", "-1.#INF"},
        {"1.#NaN", "1.#NaN"},
    };
    for (const Case& c : cases) EXPECT_EQ(mold(lex1(c.source)), c.molded) << c.source;
}

TEST_F(Lexer, NumberErrors) {
    struct Case {
        const char* source;
        const char* error;
    } cases[] = {
        {"1''000", "invalid integer!"}, {"1'", "invalid integer!"},    {"1h", "invalid integer!"},
        {"123456789h", "invalid integer!"}, {"Ah", "invalid word!"},   {"+12h", "invalid integer!"},
        {"1.e5", "invalid float!"},     {"1.#INFX", "invalid float!"}, {"1a", "invalid integer!"},
        {"1x2.5", "invalid pair!"},     {"1.2..3", "invalid tuple!"},  {"1.2.256", "invalid tuple!"},
        {"1.2.3.4.5.6.7.8.9.10.11.12.13", "invalid tuple!"},
        {"1:2:", "invalid time!"},      {"1:2:60", "invalid time!"},   {"1:60.5", "invalid time!"},
        {"$", "invalid money!"},        {"$1.", "invalid money!"},     {"$1.123456", "invalid money!"},
        {"$123456789012345678", "invalid money!"}, {"XYZ$1", "invalid money!"}, {"$1''0", "invalid money!"},
        {"$1'", "invalid money!"},      {"-$", "invalid money!"},
    };
    for (const Case& c : cases) EXPECT_EQ(error_text(c.source), c.error) << c.source;
}

TEST_F(Lexer, PercentTuplePairPoint) {
    Cell p = lex1("50%");
    EXPECT_EQ(cell::type_of(&p), type::percent);
    EXPECT_DOUBLE_EQ(real_of(p), 0.5);
    EXPECT_DOUBLE_EQ(real_of(lex1("12.5%")), 0.125);

    Cell t = lex1("1.2.3");
    EXPECT_EQ(t.header, 0x180027u);
    EXPECT_EQ(t.payload1, 0x030201u);
    Cell t12 = lex1("1.2.3.4.5.6.7.8.9.10.11.255");
    EXPECT_EQ(tuple::length(&t12), 12u);
    EXPECT_EQ(tuple::bytes(&t12)[11], 255);

    Cell pair = lex1("10x-20");
    EXPECT_EQ(cell::type_of(&pair), type::pair);
    EXPECT_EQ(int32_t(pair.payload2), 10);
    EXPECT_EQ(int32_t(pair.payload3), -20);
    EXPECT_EQ(int32_t(lex1("-3X4").payload2), -3);

    Cell p2 = lex1("(1.5, -2)");
    EXPECT_EQ(cell::type_of(&p2), type::point2d);
    EXPECT_EQ(std::bit_cast<float>(p2.payload1), 1.5f);
    EXPECT_EQ(std::bit_cast<float>(p2.payload2), -2.0f);
    Cell p3 = lex1("(1,2,\t3e1)");
    EXPECT_EQ(cell::type_of(&p3), type::point3d);
    EXPECT_EQ(std::bit_cast<float>(p3.payload3), 30.0f);
    EXPECT_TRUE(std::isinf(std::bit_cast<float>(lex1("(1.#INF, 0)").payload1)));
    EXPECT_EQ(error_text("(1, , 2)"), "invalid point2D!");
    EXPECT_EQ(error_text("(1, 2, 3, 4)"), "invalid point3D!");
    // A plain paren stays a paren.
    EXPECT_EQ(mold(lex1("(1 + 2)")), "(1 + 2)");
}

TEST_F(Lexer, Times) {
    struct Case {
        const char* source;
        double seconds;
    } cases[] = {
        {"12:30", 45000}, {"1:02:03", 3723}, {"1:02:03.5", 3723.5}, {"-1:30", -5400},
        {"0:30.5", 30.5}, {"1:30.25", 90.25}, {"100:00", 360000}, {"1'000:00", 3600000},
    };
    for (const Case& c : cases) {
        Cell t = lex1(c.source);
        EXPECT_EQ(cell::type_of(&t), type::time) << c.source;
        EXPECT_DOUBLE_EQ(real_of(t), c.seconds) << c.source;
    }
}

std::string money_digits(const Cell& m) {
    std::string s;
    for (int i = 1; i <= money::digits; ++i) {
        s += char('0' + money::digit(&m, i));
        if (i == money::integer_digits) s += '.';
    }
    return s;
}

TEST_F(LexerWithCurrencies, Money) {
    Cell m = lex1("-USD$1'234.5");
    EXPECT_EQ(cell::type_of(&m), type::money);
    EXPECT_TRUE(m.header & money::sign_mask);
    EXPECT_EQ(money::currency_code(m.payload1 & 0xFF), "USD");
    EXPECT_EQ(money_digits(m), "00000000000001234.50000");
    EXPECT_EQ(money_digits(lex1("$0007.00001")), "00000000000000007.00001");
    EXPECT_EQ(money_digits(lex1("$12345678901234567")), "12345678901234567.00000");
    Cell plain = lex1("$1");
    EXPECT_EQ(plain.payload1 & 0xFF, 0u);
    EXPECT_FALSE(plain.header & money::sign_mask);
    EXPECT_EQ(money::currency_code(lex1("eur$2").payload1 & 0xFF), "EUR");
}

TEST_F(Lexer, Dates) {
    struct Case {
        const char* source;
        int32_t year, month, day;
        bool has_time;
        double stored;  // UTC seconds
        uint32_t zone;
    } cases[] = {
        {"1-Jan-2020", 2020, 1, 1, false, 0, 0},
        {"2020-01-15", 2020, 1, 15, false, 0, 0},
        {"15/3/2020", 2020, 3, 15, false, 0, 0},
        {"5-sept-1999", 1999, 9, 5, false, 0, 0},
        {"1-Jan-99", 1999, 1, 1, false, 0, 0},
        {"1-Jan-49", 2049, 1, 1, false, 0, 0},
        {"29-Feb-2024", 2024, 2, 29, false, 0, 0},
        {"1-Jan-2020/10:30", 2020, 1, 1, true, 37800, 0},
        {"1-Jan-2020/10:30:15.5Z", 2020, 1, 1, true, 37815.5, 0},
        {"1-Jan-2020T10:30+2:00", 2020, 1, 1, true, 30600, 2 << 2},
        {"1-Jan-2020/10:30-5:30", 2020, 1, 1, true, 57600, 0x40 | 5 << 2 | 2},
        {"2020-W01-1", 2019, 12, 30, false, 0, 0},
        {"2024-W10", 2024, 3, 4, false, 0, 0},
        {"2020-060", 2020, 2, 29, false, 0, 0},
        {"20200115T103000Z", 2020, 1, 15, true, 37800, 0},
        {"20200115T1030-0100", 2020, 1, 15, true, 41400, 0x40 | 1 << 2},
    };
    for (const Case& c : cases) {
        Cell d = lex1(c.source);
        ASSERT_EQ(cell::type_of(&d), type::date) << c.source;
        EXPECT_EQ(date::year_of(d.payload1), c.year) << c.source;
        EXPECT_EQ(date::month_of(d.payload1), c.month) << c.source;
        EXPECT_EQ(date::day_of(d.payload1), c.day) << c.source;
        EXPECT_EQ((d.payload1 & date::has_time_bit) != 0, c.has_time) << c.source;
        EXPECT_DOUBLE_EQ(real_of(d), c.stored) << c.source;
        EXPECT_EQ(d.payload1 & date::zone_mask, c.zone) << c.source;
    }
    for (const char* bad : {"29-Feb-2023", "32-Jan-2020", "1-Foo-2020", "1-13-2020", "1-Jan/2020", "2020-000",
                            "2020-W54", "1-Jan-2020/24:00", "1-Jan-2020/1:00+16:00", "20200115T1030"})
        EXPECT_EQ(error_text(bad), "invalid date!") << bad;
}

// ---- text

TEST_F(Lexer, StringsAndEscapes) {
    struct Case {
        const char* source;
        std::string text;
    } cases[] = {
        {R"~("abc")~", "abc"},
        {R"~("")~", ""},
        {R"~("a^"b")~", "a\"b"},
        {R"~("^-^/^^")~", "\t\n^"},
        {R"~("^(tab)^(TAB)^(line)^(null)")~", std::string("\t\t\n\0", 4)},
        {R"~("^(41)^(7e)")~", "A~"},
        {R"~("^a^Z^[")~", "\x01\x1A\x1B"},
        {R"~("^~^{^}^x")~", "\x7F{}\x18"},
        {R"~("^!")~", "!"},
        {"\"h\xC3\xA9\"", "h\xC3\xA9"},
        {"{a\n\"b\"}", "a\n\"b\""},
        {"{a{b}c}", "a{b}c"},
        {"{a^}b}", "a}b"},
        {"{^(line)}", "\n"},
        {"%{a^b}%", "a^b"},
        {"%%{a}%b}%%", "a}%b"},
        {"%%{}}%%", "}"},
    };
    for (const Case& c : cases) {
        Cell s = lex1(c.source);
        EXPECT_EQ(cell::type_of(&s), type::string) << c.source;
        EXPECT_EQ(text_of(s), c.text) << c.source;
    }
    // Widths: flags and escapes decide; nothing is widened while decoding.
    EXPECT_EQ(unit_of(lex1(R"~("abc")~")), 1u);
    EXPECT_EQ(unit_of(lex1("\"\xC3\xA9\"")), 2u);
    EXPECT_EQ(unit_of(lex1("\"\xF0\x9F\x98\x80\"")), 4u);
    Cell wide = lex1(R"~("^(1F600)")~");
    EXPECT_EQ(unit_of(wide), 4u);
    EXPECT_EQ(text_of(wide), "\xF0\x9F\x98\x80");
    EXPECT_EQ(unit_of(lex1(R"~("^(100)")~")), 2u);
}

TEST_F(Lexer, TextErrors) {
    struct Case {
        const char* source;
        const char* error;
    } cases[] = {
        {"\"ab\ncd\"", "invalid string!"},
        {"\"abc", "invalid string!"},
        {R"~("^(1234567)")~", "invalid string!"},
        {R"~("^(zz)")~", "invalid string!"},
        {R"~("^(110000)")~", "invalid string!"},
        {"\"\xC3\"", "invalid string!"},
        {"{a", "missing }"},
        {"{a{b}", "invalid string!"},
        {"%{abc", "invalid string!"},
        {"%{a}%%", "invalid string!"},
        {"#\"\"", "invalid char!"},
        {"#\"ab\"", "invalid char!"},
        {"#\"^(110000)\"", "invalid char!"},
        {"%\"a\nb\"", "invalid file!"},
        {"#{123}", "invalid binary!"},
        {"2#{0101}", "invalid binary!"},
        {"64#{S===}", "invalid binary!"},
        {"64#{S}", "invalid binary!"},
        {"8#{00}", "invalid binary!"},
        {"#{0G}", "invalid binary!"},
    };
    for (const Case& c : cases) EXPECT_EQ(error_text(c.source), c.error) << c.source;
}

TEST_F(Lexer, Characters) {
    struct Case {
        const char* source;
        uint32_t cp;
    } cases[] = {
        {R"~(#"a")~", 'a'}, {R"~(#"^"")~", '"'}, {R"~(#"^/")~", 10}, {R"~(#"^(tab)")~", 9}, {R"~(#"^(1F600)")~", 0x1F600},
        {"#\"\xC3\xA9\"", 0xE9}, {R"~(#"^@")~", 0}, {R"~(#"^^")~", '^'},
    };
    for (const Case& c : cases) {
        Cell ch = lex1(c.source);
        EXPECT_EQ(cell::type_of(&ch), type::char_) << c.source;
        EXPECT_EQ(ch.payload2, c.cp) << c.source;
    }
}

TEST_F(Lexer, FilesUrlsTagsEmailsRefs) {
    struct Case {
        const char* source;
        uint8_t type;
        const char* text;
    } cases[] = {
        {"%dir/file.txt", type::file, "dir/file.txt"},
        {"%a%20b", type::file, "a b"},
        {"%caf%C3%A9", type::file, "caf\xC3\xA9"},
        {"%\"a b^(41)\"", type::file, "a bA"},
        {"%/c/x", type::file, "/c/x"},
        {"http://kel.org/a?b=1", type::url, "http://kel.org/a?b=1"},
        {"http://x/a%20b", type::url, "http://x/a b"},
        {"mailto:me@x.org", type::url, "mailto:me@x.org"},
        {"<b>", type::tag, "b"},
        {"<a href=\"x>y\">", type::tag, "a href=\"x>y\""},
        {"<a x='>'>", type::tag, "a x='>'"},
        {"me@kel.org", type::email, "me@kel.org"},
        {"a.b@c", type::email, "a.b@c"},
        {"@ref-1", type::ref, "ref-1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source);
        Cell v = lex1(c.source);
        EXPECT_EQ(type_name(cell::type_of(&v)), type_name(c.type)) << c.source;
        EXPECT_EQ(text_of(v), c.text) << c.source;
    }
}

TEST_F(Lexer, Binaries) {
    struct Case {
        const char* source;
        std::string bytes;
    } cases[] = {
        {"#{}", ""},
        {"#{0A0b ff}", "\x0A\x0B\xFF"},
        {"16#{41\n42 ; a comment\n43}", "ABC"},
        {"2#{01000001 01000010}", "AB"},
        {"64#{SGVsbG8=}", "Hello"},
        {"64#{SGVsbG8h}", "Hello!"},
        {"64#{SGk=}", "Hi"},
        {"64#{SGk}", "Hi"},
    };
    for (const Case& c : cases) {
        Cell b = lex1(c.source);
        ASSERT_EQ(cell::type_of(&b), type::binary) << c.source;
        SeriesBuffer* buf = alloc::buffer_of(b.payload2);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(buf->data() + buf->offset), buf->tail - buf->offset), c.bytes)
            << c.source;
    }
}

// ---- words, paths, containers

TEST_F(Lexer, WordsAndPathsMold) {
    struct Case {
        const char* source;
        const char* molded;
    } cases[] = {
        {"a b: :c 'd /e", "[a b: :c 'd /e]"},
        {"/ // + - < << > = == % %%", "[/ // + - < << > = == % %%]"},
        {"a-b? <= >= <> ->", "[a-b? <= >= <> ->]"},
        {"x.y .a", "[x.y .a]"},
        {"a/b/c", "[a/b/c]"},
        {"'a/b :a/b a/b:", "['a/b :a/b a/b:]"},
        {"a/1/(x + 1)/\"s\"", "[a/1/(x + 1)/\"s\"]"},
        {"[a/b]", "[[a/b]]"},
        {"(a/b)", "[(a/b)]"},
        {"/a/b", "[/a /b]"},
        {"[a [b (c)] d]", "[[a [b (c)] d]]"},
        {"a;comment\nb", "[a\nb]"},
        {"", "[]"},
        {"[]()", "[[] ()]"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source);
        EXPECT_EQ(mold(lex(c.source)), c.molded) << c.source;
    }
}

TEST_F(Lexer, WordCells) {
    Cell w = lex1("Hello");
    EXPECT_EQ(cell::type_of(&w), type::word);
    EXPECT_EQ(symbol::name(w.payload2), "Hello");
    Cell i = lex1("#iss-ue");
    EXPECT_EQ(cell::type_of(&i), type::issue);
    EXPECT_EQ(symbol::name(i.payload2), "iss-ue");
    Cell u = lex1("h\xC3\xA9llo:");
    EXPECT_EQ(cell::type_of(&u), type::set_word);
    EXPECT_EQ(symbol::name(u.payload2), "h\xC3\xA9llo");
    // Unicode spaces end a word like ASCII spaces.
    EXPECT_EQ(mold(lex("a\xC2\xA0" "b\xE3\x80\x80" "c")), "[a b c]");
    EXPECT_EQ(mold(lex("\xE3\x80\x80" "a")), "[a]");
    // A NUL byte ends the input; control characters separate tokens.
    EXPECT_EQ(mold(lex(std::string("a\0b", 3))), "[a]");
    EXPECT_EQ(mold(lex("a\x01" "b")), "[a b]");
    for (const char* bad : {":a:", "'a:", "#", "#a/b", "a/", "a/b:/c", "a/b#", ".5a"})
        EXPECT_NE(error_text(bad).rfind("invalid", 0), std::string::npos) << bad << " " << error_text(bad);
    EXPECT_EQ(error_text("'a:"), "invalid lit-word!");
    EXPECT_EQ(error_text("a/"), "invalid path!");
    EXPECT_EQ(error_text("a/b:c"), "invalid path!");
    EXPECT_EQ(error_text("#"), "invalid issue!");
    EXPECT_EQ(error_text("a}"), "bad-char");
}

TEST_F(Lexer, ConstructionsAndMaps) {
    struct Case {
        const char* source;
        uint8_t type;
        uint32_t payload1;
    } cases[] = {
        {"#(true)", type::logic, 1},       {"#(False)", type::logic, 0},          {"#(none)", type::none, 0},
        {"#(unset)", type::unset, 0},      {"#(integer)", type::datatype, type::integer},
        {"#(INTEGER!)", type::datatype, type::integer}, {"#(block!)", type::datatype, type::block},
        {"#(point3D!)", type::datatype, type::point3d},
    };
    for (const Case& c : cases) {
        Cell v = lex1(c.source);
        EXPECT_EQ(cell::type_of(&v), c.type) << c.source;
        if (c.type == type::logic || c.type == type::datatype) {
            EXPECT_EQ(v.payload1, c.payload1) << c.source;
        }
    }
    EXPECT_EQ(error_text("#(foo)"), "malconstruct");
    EXPECT_EQ(error_text("#()"), "malconstruct");
    EXPECT_EQ(error_text("#(truex)"), "malconstruct");

    Cell m = lex1("#[a 1 \"b\" [2] a 3]");
    ASSERT_EQ(cell::type_of(&m), type::map);
    EXPECT_EQ(series::cell_count(m.payload2), 4u);  // the repeated key keeps its first place
    Cell* pairs = series::cells_of(m.payload2);
    EXPECT_EQ(cell::type_of(pairs), type::set_word);
    EXPECT_EQ(cell::integer(pairs + 1), 3);
    EXPECT_EQ(error_text("#[a 1 b]"), "invalid map!");
    EXPECT_EQ(error_text("#[[a] 1]"), "invalid map!");
}

TEST_F(Lexer, NewLineMarkers) {
    Cell b = lex("a\n  b c\n\n[\nd]\n; note\ne");
    bool expected[] = {false, true, false, true, true};
    ASSERT_EQ(block::ks_length_q(&b), 5);
    for (int i = 0; i < 5; ++i) EXPECT_EQ((cell_at(b, i)->header & cell::newline_flag) != 0, expected[i]) << i;
    Cell inner = *cell_at(b, 3);
    EXPECT_TRUE(cell_at(inner, 0)->header & cell::newline_flag);
    // A path takes the marker of its first element; a curly string the one before its brace.
    Cell p = lex("x\na/b\n{s\n}");
    EXPECT_TRUE(cell_at(p, 1)->header & cell::newline_flag);
    EXPECT_FALSE(cell_at(*cell_at(p, 1), 0)->header & cell::newline_flag);
    EXPECT_TRUE(cell_at(p, 2)->header & cell::newline_flag);
}

// ---- errors

TEST_F(Lexer, SyntaxErrors) {
    struct Case {
        const char* source;
        const char* error;
        const char* place;
    } cases[] = {
        {"[a (b]", "missing )", "(line 1)|(b]"},
        {"a ]", "missing [", "(line 1)|a ]"},
        {"x\n[a b", "missing ]", "(line 2)|[a b"},
        {"(a", "missing )", "(line 1)|(a"},
        {"a\n\nb 1''2 c", "invalid integer!", "(line 3)|1''2 c"},
        {"\"abc\ndef\"", "invalid string!", "(line 1)|\"abc"},
        {"a\n#(x)", "malconstruct", "(line 2)|#(x)"},
        {"a \xFF", "bad-char", "(line 1)|\xEF\xBF\xBD"},
        {"x 1''0 aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", "invalid integer!", "(line 1)|1''0 aaaaaaaaaaaaaaaaaaaaaaaaa"},
        {"x 1''0 \xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9",
         "invalid integer!", "(line 1)|1''0 \xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9"},
        {"(1, 2 [x])", "invalid point2D!", "(line 1)|1, 2 [x])"},
        {"[1 , 2]", "invalid point2D!", "(line 1)|, 2]"},
        {"(x 1 , 2)", "missing )", "(line 1)|(x 1 , 2)"},
        {"(x 1 , [2])", "invalid point2D!", "(line 1)|[2])"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(error_text(c.source), c.error) << c.source;
        EXPECT_EQ(error_place(c.source), c.place) << c.source;
    }
}

TEST_F(Lexer, ScanModesAnswerTypesWithoutRaising) {
    struct Case {
        const char* source;
        uint8_t type;
    } cases[] = {
        {"123 abc", type::integer}, {"abc", type::word},       {"a:", type::set_word}, {"1.5", type::float_},
        {"\"s\"", type::string},    {"[a b] c", type::block},  {"1''2", type::error},  {"[a", type::error},
        {"12:00", type::time},      {"$1", type::money},       {"#{00}", type::binary}, {"", 0},
        {"; only a comment", 0},    {"a/b c", type::path},
    };
    for (const Case& c : cases) EXPECT_EQ(type_name(uint32_t(scan_type(c.source))), type_name(c.type)) << c.source;
    EXPECT_EQ(type_name(uint32_t(scan_type("1''2", true))), "integer!");  // the prescan guesses
    EXPECT_EQ(type_name(uint32_t(scan_type("\"ab", true))), "error!");

    lexer::ScanOptions one;
    one.one_value = true;
    uint32_t end = 0;
    Cell r{};
    std::string text = " [a b] c";
    lexer::load_utf8(text.data(), text.size(), one, &r);
    EXPECT_EQ(mold(r), "[a b]");
    Cell scanned{};
    lexer::scan(&scanned, reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), one, &end);
    EXPECT_EQ(end, 6u);
}

TEST_F(Lexer, LoadsStringValuesAndAppendsToTarget) {
    collector::RootCell src, r, target;
    src.cell = text("a 1 \xC3\xA9t\xC3\xA9");
    lexer::load(&src.cell, -1, {}, &r.cell);
    EXPECT_EQ(mold(r.cell), "[a 1 \xC3\xA9t\xC3\xA9]");
    lexer::load(&src.cell, 3, {}, &r.cell);
    EXPECT_EQ(mold(r.cell), "[a 1]");
    target.cell = lex1("[x]");
    lexer::ScanOptions o;
    o.target = &target.cell;
    lexer::load(&src.cell, 1, o, &r.cell);
    EXPECT_EQ(mold(target.cell), "[x a]");
    // Conversions from text read through the lexer.
    Cell out{};
    EXPECT_TRUE(word::scanner("abc", 3, &out));
    EXPECT_EQ(cell::type_of(&out), type::word);
    EXPECT_FALSE(word::scanner("a b", 3, &out));
    EXPECT_FALSE(word::scanner("1''", 3, &out));
}

TEST_F(Lexer, DeepNestingAndLongInput) {
    std::string deep(100000, '[');
    deep += std::string(100000, ']');
    Cell b = lex(deep);
    EXPECT_EQ(block::ks_length_q(&b), 1);
    std::string many;
    for (int i = 0; i < 5000; ++i) many += "w" + std::to_string(i) + " \"s\" 1.5 ";
    Cell all = lex(many);
    EXPECT_EQ(block::ks_length_q(&all), 15000);
    EXPECT_EQ(error_text(std::string(50000, '[')), "missing ]");
}

// ---- the number scanners of the text conversions, over every unit width

std::u32string wide(const char* s) { return std::u32string(s, s + std::strlen(s)); }

TEST_F(LexerWithCurrencies, NumberScanners) {
    struct IntCase {
        const char* text;
        int32_t value, error;
    } ints[] = {
        {"1'000'000", 1000000, 0}, {"-2147483648", -2147483647 - 1, 0}, {"2147483647", 2147483647, 0},
        {"2147483648", 0, -2},     {"-21474836480", 0, -2},             {"-2147483648x", 0, -1},
        {"12a", 0, -1},            {"+7", 7, 0},
    };
    for (const IntCase& c : ints) {
        std::u32string w = wide(c.text);
        int32_t e1 = 0, e4 = 0;
        EXPECT_EQ(tokenizer::scan_integer(c.text, uint32_t(std::strlen(c.text)), 1, &e1), c.value) << c.text;
        EXPECT_EQ(tokenizer::scan_integer(w.data(), uint32_t(w.size()), 4, &e4), c.value) << c.text;
        EXPECT_EQ(e1, c.error) << c.text;
        EXPECT_EQ(e4, c.error) << c.text;
    }

    int32_t e = 0;
    EXPECT_DOUBLE_EQ(tokenizer::scan_float("1,5", 3, 1, &e), 1.5);
    EXPECT_DOUBLE_EQ(tokenizer::scan_float("1'000.25", 8, 1, &e), 1000.25);
    EXPECT_EQ(e, 0);
    std::string long_text(313, '1');
    tokenizer::scan_float(long_text.data(), 313, 1, &e);
    EXPECT_EQ(e, -1);
    // A wide unit does not pass for the byte it ends in.
    std::u16string dotless = u"1\u0131";
    e = 0;
    tokenizer::scan_float(dotless.data(), 2, 2, &e);
    EXPECT_EQ(e, -1);

    Cell t{};
    e = 0;
    tokenizer::scan_tuple("1.2.3", 5, 1, &e, &t);
    EXPECT_EQ(e, 0);
    EXPECT_EQ(tuple::length(&t), 3u);
    for (const char* bad : {"1.2.256", "1.2.3.4.5.6.7.8.9.10.11.12.13", "1..2", "1.2."}) {
        e = 0;
        tokenizer::scan_tuple(bad, uint32_t(std::strlen(bad)), 1, &e, &t);
        EXPECT_EQ(e, -1) << bad;
    }

    Cell m{};
    ASSERT_TRUE(tokenizer::scan_money("-USD$1'234.50", 13, 1, &m));
    EXPECT_TRUE(m.header & money::sign_mask);
    EXPECT_EQ(money_digits(m), "00000000000001234.50000");
    EXPECT_TRUE(tokenizer::scan_money("12", 2, 1, &m));
    EXPECT_EQ(money_digits(m), "00000000000000012.00000");
    for (const char* bad : {"$1.", "USD1", "$'1", "", "$1''2", "XYZ$1", "$.5", "$123456789012345678"})
        EXPECT_FALSE(tokenizer::scan_money(bad, uint32_t(std::strlen(bad)), 1, &m)) << bad;
    char code[] = "usd";
    tokenizer::upper_ascii(code);
    EXPECT_STREQ(code, "USD");
}

}  // namespace
