// Float text: layouts and parse rules as tables; digits against Python's repr
// and format, parsing against the C library's strtod (both correctly rounded),
// over the classic hard cases and large random samples.
#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/dtoa.hpp"
#include "tests/support/child.hpp"

using namespace kel;

namespace {

struct Parsed {
    double value;
    size_t unparsed;
};

Parsed parse(const std::string& text, int adjust = 0) {
    Parsed p;
    p.value = dtoa::parse_float(text.data(), text.data() + text.size(), adjust, p.unparsed);
    return p;
}

std::string hex(double d) {
    char t[32];
    std::snprintf(t, sizeof t, "%016llx", (unsigned long long)std::bit_cast<uint64_t>(d));
    return t;
}

// Collects mismatches and shows the first few.
struct Mismatches {
    size_t checked = 0;
    std::vector<std::string> seen;
    void check(bool ok, const std::string& what) {
        ++checked;
        if (!ok) seen.push_back(what);
    }
    std::string report() const {
        std::string r = std::to_string(seen.size()) + " of " + std::to_string(checked) + " differ:";
        for (size_t i = 0; i < seen.size() && i < 12; ++i) r += "\n  " + seen[i];
        return r;
    }
};

const double largest_subnormal = std::bit_cast<double>(0x000FFFFFFFFFFFFF);

}  // namespace

// ---- layout ---------------------------------------------------------------

struct LayoutCase {
    double value;
    int ndigits;
    bool point;
    const char* text;
};

const LayoutCase layouts[] = {
    {1.5, 0, true, "1.5"},
    {100, 0, true, "100.0"},
    {100, 0, false, "100"},
    {1e16, 0, true, "10000000000000000.0"},
    {1e17, 0, true, "1.0e17"},
    {1e17, 0, false, "1e17"},
    {1e-7, 0, true, "0.0000001"},
    {1e-6, 0, true, "0.000001"},
    {1.5e-8, 0, true, "1.5e-8"},
    {-2.5e20, 0, true, "-2.5e20"},
    {0.1, 0, true, "0.1"},
    {0.1 + 0.2, 0, true, "0.30000000000000004"},
    {123.456, 0, true, "123.456"},
    {-0.5, 0, false, "-0.5"},
    {12345678901234567.0, 0, true, "12345678901234568.0"},  // 17 places: still plain
    {123456789012345678.0, 0, true, "1.2345678901234568e17"},
    {1e23, 0, true, "1.0e23"},  // the halfway point below reads back: an even mantissa
    {2251799813685247.75, 0, true, "2251799813685247.8"},  // .7 and .8 as near: the even digit
    {DBL_MAX, 0, true, "1.7976931348623157e308"},
    {DBL_MIN, 0, true, "2.2250738585072014e-308"},
    {DBL_TRUE_MIN, 0, true, "5.0e-324"},
    {DBL_TRUE_MIN, 0, false, "5e-324"},
    {0.0, 0, true, "0.0"},
    {0.0, 0, false, "0"},
    {-0.0, 0, true, "-0.0"},
    {-0.0, 6, false, "-0"},
    {HUGE_VAL, 0, true, "1.#INF"},
    {-HUGE_VAL, 0, false, "-1.#INF"},
    {std::nan(""), 0, true, "1.#NaN"},
    {-std::nan(""), 0, true, "1.#NaN"},
    // Counted digits: rounded, trailing zeros dropped, then the same layouts.
    {1234567.0, 6, false, "1234570"},
    {3.14159265, 6, false, "3.14159"},
    {2.5, 1, false, "2"},       // a tie goes to the even digit
    {3.5, 1, false, "4"},
    {999999.5, 6, false, "1000000"},  // the carry moves the point
    {9.96e-8, 1, true, "0.0000001"},  // and across the layout limit
    {0.1, 20, false, "0.10000000000000000555"},
    {0.1, 30, false, "0.100000000000000005551115123126"},
    {1e23, 25, true, "9.9999999999999991611392e22"},
    {100, 3, true, "100.0"},
};

TEST(FloatFormat, LayoutsAndSpecialTexts) {
    for (const LayoutCase& c : layouts)
        EXPECT_STREQ(dtoa::format(c.value, c.ndigits, c.point), c.text)
            << c.value << " with " << c.ndigits << " digits, point " << c.point;
}

TEST(FloatFormat, DigitsComeWithPointSignAndLength) {
    struct Case {
        double value;
        int ndigits;
        const char* digits;
        int decpt, sign, len;
    };
    const Case cases[] = {
        {-0.00125, 0, "125", -2, 1, 3},
        {1e16, 0, "1", 17, 0, 1},
        {99.99, 3, "1", 3, 0, 1},
        {HUGE_VAL, 0, "1.#INF", dtoa::decpt_special, 0, 6},
        {-HUGE_VAL, 0, "-1.#INF", dtoa::decpt_special, 1, 7},
        {std::nan(""), 0, "1.#NaN", dtoa::decpt_special, 0, 6},
        {-0.0, 0, "-0.0", dtoa::decpt_zero, 1, 4},
    };
    for (const Case& c : cases) {
        int decpt = 0, sign = 0, len = 0;
        EXPECT_STREQ(dtoa::form_float(c.value, c.ndigits, decpt, sign, len, true), c.digits) << c.value;
        EXPECT_EQ(decpt, c.decpt) << c.value;
        EXPECT_EQ(sign, c.sign) << c.value;
        EXPECT_EQ(len, c.len) << c.value;
    }
}

// Every count is honoured exactly; past the exact expansion nothing changes,
// and even the longest expansion fits the result buffer.
TEST(FloatFormat, AnyDigitCountFitsTheBuffer) {
    int decpt, sign, len;
    dtoa::form_float(DBL_TRUE_MIN, INT_MAX, decpt, sign, len, true);
    EXPECT_EQ(len, 751);  // 2^-1074 has 751 significant digits
    EXPECT_EQ(decpt, -323);
    std::string longest = dtoa::form_float(-largest_subnormal, 1000, decpt, sign, len, true);
    EXPECT_EQ(len, 767);  // the longest of any double
    EXPECT_EQ(longest.size(), 767u);
    EXPECT_EQ(longest.substr(0, 17), "22250738585072008");
    EXPECT_EQ(longest.substr(757), "6552734375");
    std::string text = dtoa::format(-largest_subnormal, 5000, true);
    EXPECT_EQ(text, "-2." + longest.substr(1) + "e-308");
    EXPECT_EQ(parse(text).value, -largest_subnormal);
    const std::string max =
        "179769313486231570814527423731704356798070567525844996598917476803157260780028538760589558632766878171540"
        "458953514382464234321326889464182768467546703537516986049910576551282076245490090389328944075868508455133"
        "942304583236903222948165808559332123348274797826204144723168738177180919299881250404026184124858368";
    EXPECT_EQ(dtoa::format(DBL_MAX, 1000, false), "1." + max.substr(1) + "e308");
}

// ---- parsing --------------------------------------------------------------

struct ParseCase {
    const char* text;
    int adjust;
    double value;
    size_t unparsed;
};

const ParseCase parse_cases[] = {
    {"1.5", 0, 1.5, 0},
    {"12abc", 0, 12, 3},
    {"-0", 0, -0.0, 0},
    {"+007.50", 0, 7.5, 0},
    {".5", 0, 0.5, 0},
    {"5.", 0, 5, 0},
    {"5.e2", 0, 500, 0},
    {"1e", 0, 1, 1},       // an exponent needs digits
    {"1e+", 0, 1, 2},
    {"1E-2x", 0, 0.01, 1},
    {"", 0, 0, 0},
    {"-", 0, 0, 1},        // no number: nothing used
    {".", 0, 0, 1},
    {"-.e5", 0, 0, 4},
    {"x1", 0, 0, 2},
    {"1.5", -2, 0.015, 0},  // the adjustment adds to the exponent
    {"15", 2, 1500, 0},
    {"1e3", -3, 1, 0},
    {"1", INT_MAX, HUGE_VAL, 0},
    {"1", INT_MIN, 0, 0},
    {"1e400", 0, HUGE_VAL, 0},
    {"-1e400", 0, -HUGE_VAL, 0},
    {"1e-400", 0, 0, 0},
    {"-1e-400", 0, -0.0, 0},
    {"1e99999999999", 0, HUGE_VAL, 0},
    {"1e-99999999999", 0, 0, 0},
    {"0e99999999999999999999999999", 0, 0, 0},
    {"-1e999999999999999999999999999999", INT_MAX, -HUGE_VAL, 0},
    {"1.#INF", 0, HUGE_VAL, 0},
    {"-1.#INF", 0, -HUGE_VAL, 0},
    {"1.#inf;", 0, HUGE_VAL, 1},
    {"9.#I", 0, HUGE_VAL, 0},
    {"10.#INF", 0, 10, 4},  // two significant digits: not a special text
    {"0.#INF", 0, 0, 4},
    {"1.#x", 0, 1, 2},
    {"2.2250738585072011e-308", 0, 2.2250738585072009e-308, 0},
    {"2.2250738585072012e-308", 0, 2.2250738585072014e-308, 0},
    {"9007199254740993", 0, 9007199254740992.0, 0},  // ties: to the even mantissa, down
    {"9007199254740995", 0, 9007199254740996.0, 0},  // and up
    // Below a power of two the gap halves: 1 - 2^-54 is a tie between 1 and
    // the double below it.
    {"0.999999999999999944488848768742172978818416595458984375", 0, 1.0, 0},
    {"0.99999999999999994448884876874217297881", 0, 0.99999999999999988898, 0},
    {"1.00000000000000011102230246251565404236316680908203125", 0, 1.0, 0},  // tie: to even
    {"1.00000000000000011102230246251565404236316680908203125001", 0, 1.0000000000000002, 0},
    {"2.4703282292062327208828439643411068618252990130716238221279284125033775363510437593264991818081799618989828234772285886546332835517796989819938739800539093906315035659515570226392290858392449105184435931802849936536152500319370457678249219365623669863658480757001585769269903706311928279558551332927834338409351978015531246597263579574622766465272827220056374006485499977096599470454020828166226237857393450736339007967761930577506740176324673600968951340535537458516661134223766678604162159680461914467291840300530057530849048765391711386591646239524912623653881879636239373280423891018672348497668235089863388587925628302755995657524455507255189313690836254779186948667994968324049705821028513185451396213837722826145437693412532098591327667236328125e-324",
     0, 0.0, 0},  // half the smallest subnormal: a tie, to zero
};

TEST(FloatParse, TextsAdjustmentsAndUnparsedCounts) {
    for (const ParseCase& c : parse_cases) {
        Parsed p = parse(c.text, c.adjust);
        EXPECT_EQ(std::bit_cast<uint64_t>(p.value), std::bit_cast<uint64_t>(c.value)) << c.text << " adjusted by " << c.adjust << " gave " << p.value;
        EXPECT_EQ(p.unparsed, c.unparsed) << c.text;
    }
    Parsed nan = parse("1.#NaN");
    EXPECT_TRUE(std::isnan(nan.value));
    EXPECT_EQ(nan.unparsed, 0u);
    EXPECT_EQ(parse("ab", 0).unparsed, 2u);
}

// Mantissas far longer than any double needs, with exponents that bring them
// back into range: the value (and its last dropped digit) still decides.
TEST(FloatParse, HugeMantissasAndExponents) {
    const std::string zeros(200000, '0');
    const std::string tie = "1.00000000000000011102230246251565404236316680908203125";
    struct Case {
        std::string text;
        double value;
    };
    const Case cases[] = {
        {"1" + zeros + "e-200000", 1.0},
        {"0." + zeros + "1e200001", 1.0},
        {"0." + zeros + "1e-999999999999999999999", 0.0},
        {tie + zeros, 1.0},
        {tie + zeros + "1", 1.0000000000000002},
        {tie + zeros + "1" + zeros + ";", 1.0000000000000002},
        {std::string(200000, '9') + "e-200000", 1.0},
        {"4." + std::string(200000, '9') + "e-324", 5e-324},
    };
    for (const Case& c : cases) {
        Parsed p = parse(c.text);
        EXPECT_EQ(p.value, c.value) << c.text.substr(0, 60);
        EXPECT_EQ(p.unparsed, c.text.back() == ';' ? 1u : 0u);
    }
}

// Shortest and 17-digit texts read back to the same double, for any bits.
TEST(FloatText, RandomDoublesReadBack) {
    std::mt19937_64 rng(20240601);
    Mismatches m;
    for (int i = 0; i < 40000; ++i) {
        double d = std::bit_cast<double>(rng());
        if (!std::isfinite(d)) continue;
        std::string shortest = dtoa::format(d, 0, true);
        m.check(std::bit_cast<uint64_t>(parse(shortest).value) == std::bit_cast<uint64_t>(d), hex(d) + " as " + shortest);
        std::string full = dtoa::format(d, 17, false);
        m.check(std::bit_cast<uint64_t>(parse(full).value) == std::bit_cast<uint64_t>(d), hex(d) + " as " + full);
    }
    EXPECT_TRUE(m.seen.empty()) << m.report();
}

#ifndef _WIN32

namespace {

std::string oracle_script() {
    std::string here = __FILE__;
    return here.substr(0, here.find_last_of('/') + 1) + "oracles/float_oracle.py";
}

std::vector<std::string> oracle_lines(std::vector<std::string> args) {
    args.insert(args.begin(), {"python3", oracle_script()});
    test::ChildResult r = test::run_child("/usr/bin/env", args);
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<std::string> lines;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) lines.push_back(line);
    return lines;
}

}  // namespace

// Shortest digits as Python's repr, counted digits as its format(x, ".Ne"):
// hard cases, every power of two and its lower neighbour (the uneven gap),
// every power of ten, and a random sample.
TEST(FloatOracle, DigitsAgreeWithPython) {
    const double hard[] = {DBL_MAX, DBL_MIN, DBL_TRUE_MIN, largest_subnormal, 0.1 + 0.2, 1e23,
                           9007199254740991.0, 9007199254740992.0, 999999999999999.9, 1e15, 1e15 + 1,
                           5e-324 * 3, 2.5, 0.3, 1.0 / 3, 2.0 / 3, 123456789012345680.0, 4.35, 1e-7,
                           9.5e-8, 5.764607523034235e39, 2.9802322387695312e-8, 9007199254740993e10};
    std::vector<std::string> args = {"digits", "12345", "30000"};
    for (double d : hard) args.push_back(hex(d));
    std::vector<std::string> lines = oracle_lines(args);
    ASSERT_GT(lines.size(), 30000u);
    Mismatches m;
    for (const std::string& line : lines) {
        std::istringstream fields(line);
        std::string bits, digits, field;
        int decpt;
        fields >> bits >> digits >> decpt;
        double d = std::bit_cast<double>(std::strtoull(bits.c_str(), nullptr, 16));
        int our_decpt, sign, len;
        std::string ours = dtoa::form_float(d, 0, our_decpt, sign, len, true);
        m.check(ours == digits && our_decpt == decpt && sign == std::signbit(d) && len == int(ours.size()),
                bits + " shortest " + ours + "/" + std::to_string(our_decpt) + ", Python " + digits + "/" +
                    std::to_string(decpt));
        while (fields >> field) {
            int n = std::atoi(field.c_str());
            size_t colon = field.find(':'), last = field.rfind(':');
            std::string expected = field.substr(colon + 1, last - colon - 1);
            int expected_decpt = std::atoi(field.c_str() + last + 1);
            ours = dtoa::form_float(d, n, our_decpt, sign, len, true);
            m.check(ours == expected && our_decpt == expected_decpt,
                    bits + " n=" + std::to_string(n) + " " + ours + "/" + std::to_string(our_decpt) + ", Python " +
                        expected + "/" + std::to_string(expected_decpt));
        }
    }
    EXPECT_TRUE(m.seen.empty()) << m.report();
}

namespace {

void check_against_strtod(Mismatches& m, const std::string& text) {
    Parsed ours = parse(text);
    char* stop;
    double theirs = std::strtod(text.c_str(), &stop);
    size_t unparsed = text.size() - size_t(stop - text.c_str());
    m.check(std::bit_cast<uint64_t>(ours.value) == std::bit_cast<uint64_t>(theirs) && ours.unparsed == unparsed,
            "\"" + text.substr(0, 80) + "\": " + hex(ours.value) + " leaving " + std::to_string(ours.unparsed) +
                ", strtod " + hex(theirs) + " leaving " + std::to_string(unparsed));
}

// Numbers in every shape the syntax allows, some cut short or followed by
// other characters (none that strtod would read further: no hex, no
// "inf"/"nan", no leading space).
std::string random_text(std::mt19937_64& rng) {
    auto pick = [&](int n) { return int(rng() % unsigned(n)); };
    auto add_digits = [&](std::string& t, int n) {
        for (int i = 0; i < n; ++i) t += char('0' + pick(10));
    };
    std::string t;
    int sign = pick(4);
    if (sign == 0) t += '-';
    if (sign == 1) t += '+';
    if (pick(4) == 0) t.append(size_t(pick(4)), '0');
    add_digits(t, pick(3) == 0 ? 0 : 1 + pick(pick(4) == 0 ? 30 : 17));
    if (pick(2)) {
        t += '.';
        if (pick(3) == 0) t.append(size_t(pick(30)), '0');
        add_digits(t, pick(4) == 0 ? pick(30) : pick(17));
    }
    if (pick(2)) {
        t += pick(2) ? 'e' : 'E';
        int s = pick(3);
        if (s == 0) t += '-';
        if (s == 1) t += '+';
        if (pick(8)) t += std::to_string(pick(1 + (1 << pick(10))));
    }
    if (pick(3) == 0) {
        static const char junk[] = "#,_zq+-.eE";
        for (int i = 0, n = 1 + pick(3); i < n; ++i) t += junk[pick(sizeof junk - 1)];
    }
    return t;
}

}  // namespace

TEST(FloatOracle, ParsingAgreesWithStrtod) {
    Mismatches m;
    const char* hard[] = {
        "2.2250738585072011e-308", "2.2250738585072012e-308", "2.2250738585072014e-308",
        "2.225073858507201136057409796709131975934819546351645648e-308", "4.9406564584124654e-324",
        "2.4703282292062327e-324", "2.4703282292062328e-324", "1.7976931348623157e308",
        "1.7976931348623158e308", "1.7976931348623159e308", "179769313486231580793728971405301e276",
        "9007199254740993", "9007199254740993.0000000000000000000001", "9007199254740995",
        "1e23", "8.533e+68", "4.1006e-184", "9.998e+307", "9.9538452227e-280", "6.47660115e-260",
        "7.4e+47", "5.92e+48", "7.35e+66", "8.32116e+55", "30078505129381147446200",
        "1777820000000000000001", "7.038531e-26", "0.500000000000000166533453693773481063544750213623046875",
        "3.518437208883201171875e13", "62.5364939768271845828", "8.10109172351e-10",
        "1.50000000000000011102230246251565404236316680908203125", "123456789012345678901234567890e-30",
        "0.000000000000000000000000000000000000000000000000000000000000000000000000000000000000001e100",
        "1e99999999999", "-1e-99999999999", "0e99999999999", "1e0000000000000000000000000000000000000001"};
    for (const char* t : hard) check_against_strtod(m, t);
    for (int k = -330; k <= 310; ++k) {
        check_against_strtod(m, "1e" + std::to_string(k));
        check_against_strtod(m, "0.5e" + std::to_string(k));
        check_against_strtod(m, "9.999999999999999e" + std::to_string(k));
    }
    std::mt19937_64 rng(7);
    for (int i = 0; i < 100000; ++i) check_against_strtod(m, random_text(rng));
    // The shortest texts of random doubles: 16 and 17 digits, every exponent.
    for (int i = 0; i < 20000; ++i) {
        double d = std::bit_cast<double>(rng());
        if (std::isfinite(d)) check_against_strtod(m, dtoa::format(d, 0, false));
    }
    EXPECT_TRUE(m.seen.empty()) << m.report();
}

// Exact halfway points between neighbouring doubles (up to 768 digits), and
// the same a hair below and above, written by Python's decimal module.
TEST(FloatOracle, HalfwayPointsAgreeWithStrtod) {
    std::vector<std::string> lines = oracle_lines({"halfway", "99", "1500"});
    ASSERT_EQ(lines.size(), 1500u);
    Mismatches m;
    for (const std::string& line : lines) {
        std::istringstream fields(line);
        for (std::string text; fields >> text;) check_against_strtod(m, text);
    }
    EXPECT_TRUE(m.seen.empty()) << m.report();
}

#endif
