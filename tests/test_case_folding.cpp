#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/case_folding.hpp"
#include "runtime/error.hpp"
#include "runtime/throws.hpp"
#include "runtime/words.hpp"
#include "tests/support/runtime.hpp"

using namespace kel;

namespace {

struct CaseFolding : ::testing::Test {
    static void SetUpTestSuite() { case_folding::init(); }
};

}  // namespace

TEST_F(CaseFolding, MapsCodePoints) {
    struct Case {
        uint32_t cp, upper, lower;
    } cases[] = {
        {0x0061, 0x0041, 0x0061},   {0x0041, 0x0041, 0x0061},   {0x00B5, 0x039C, 0x00B5},
        {0x00FF, 0x0178, 0x00FF},   {0x0178, 0x0178, 0x00FF},   {0x0131, 0x0049, 0x0131},
        {0x0130, 0x0130, 0x0069},   {0x017F, 0x0053, 0x017F},   {0x01C5, 0x01C4, 0x01C6},
        {0x03C2, 0x03A3, 0x03C2},   {0x03F4, 0x03F4, 0x03B8},   {0x2C65, 0x023A, 0x2C65},
        {0x2126, 0x2126, 0x03C9},   {0x212A, 0x212A, 0x006B},   {0xFF41, 0xFF21, 0xFF41},
        {0x00DF, 0x00DF, 0x00DF},   {0x1E9E, 0x1E9E, 0x00DF},   {0x0000, 0x0000, 0x0000},
        {0xFFFF, 0xFFFF, 0xFFFF},   {0x10428, 0x10400, 0x10428}, {0x10400, 0x10400, 0x10428},
        {0x1E922, 0x1E900, 0x1E922}, {0x1E943, 0x1E921, 0x1E943}, {0x1E921, 0x1E921, 0x1E943},
        {0x1F600, 0x1F600, 0x1F600}, {0x10000, 0x10000, 0x10000}, {0x10FFFF, 0x10FFFF, 0x10FFFF},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(case_folding::change_case(c.cp, true), c.upper) << std::hex << c.cp;
        EXPECT_EQ(case_folding::change_case(c.cp, false), c.lower) << std::hex << c.cp;
    }
}

#ifndef _WIN32
namespace {

// The mappings of the database that the tables leave out: both code points of
// a kept mapping were assigned by Unicode 11.0. Within a range, every code
// point either maps as the database says or (left out) to itself.
struct CaseDifference {
    bool upper;
    uint32_t first, last;
};
const CaseDifference case_differences[] = {
    {true, 0x0282, 0x0282},   {true, 0x1D8E, 0x1D8E},   {true, 0x2C5F, 0x2C5F},   {true, 0xA794, 0xA794},
    {true, 0xA7BB, 0xA7C3},   {true, 0xA7C8, 0xA7CA},   {true, 0xA7D1, 0xA7D1},   {true, 0xA7D7, 0xA7D9},
    {true, 0xA7F6, 0xA7F6},   {true, 0x10597, 0x105BC}, {false, 0x2C2F, 0x2C2F},  {false, 0xA7BA, 0xA7C9},
    {false, 0xA7D0, 0xA7D0},  {false, 0xA7D6, 0xA7D8},  {false, 0xA7F5, 0xA7F5},  {false, 0x10570, 0x10595},
};

const char* ucd = "/usr/share/unicode/";

std::string first_line(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

}  // namespace

TEST_F(CaseFolding, AgreesWithUnicodeData) {
    std::ifstream in(std::string(ucd) + "UnicodeData.txt");
    if (!in) GTEST_SKIP() << "no " << ucd << "UnicodeData.txt (Debian package unicode-data)";
    std::string version = first_line(std::string(ucd) + "DerivedAge.txt");
    if (version != "# DerivedAge-15.0.0.txt") GTEST_SKIP() << "the differences are those of Unicode 15.0: " << version;

    std::vector<uint32_t> upper(0x110000), lower(0x110000);
    for (uint32_t cp = 0; cp < 0x110000; ++cp) upper[cp] = lower[cp] = cp;
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        std::stringstream ss(line);
        for (std::string x; std::getline(ss, x, ';');) f.push_back(x);
        uint32_t cp = uint32_t(std::stoul(f[0], nullptr, 16));
        if (f.size() > 12 && !f[12].empty()) upper[cp] = uint32_t(std::stoul(f[12], nullptr, 16));
        if (f.size() > 13 && !f[13].empty()) lower[cp] = uint32_t(std::stoul(f[13], nullptr, 16));
    }

    std::vector<bool> used(std::size(case_differences));
    int unexplained = 0;
    for (bool up : {true, false}) {
        const std::vector<uint32_t>& expected = up ? upper : lower;
        for (uint32_t cp = 0; cp < 0x110000; ++cp) {
            uint32_t got = case_folding::change_case(cp, up);
            if (got == expected[cp]) continue;
            size_t k = 0;
            while (k < used.size() && !(case_differences[k].upper == up && case_differences[k].first <= cp &&
                                        cp <= case_differences[k].last))
                ++k;
            if (k < used.size() && got == cp) {
                used[k] = true;
                continue;
            }
            if (++unexplained <= 20)
                ADD_FAILURE() << std::hex << (up ? "upper" : "lower") << " of U+" << cp << ": " << got
                              << ", the database says " << expected[cp];
        }
    }
    EXPECT_EQ(unexplained, 0);
    for (size_t k = 0; k < used.size(); ++k)
        EXPECT_TRUE(used[k]) << std::hex << "no difference in U+" << case_differences[k].first;
}
#endif

// ---- the worker of uppercase and lowercase

namespace {

struct CaseChange : test::WithRuntime {
    void SetUp() override {
        WithRuntime::SetUp();
        case_folding::init();
    }
    Cell text(std::u32string_view s, uint32_t unit, uint32_t index = 0) {
        NodeId id = test::keep_series(alloc::alloc_units(s.size() ? s.size() : 1, unit));
        SeriesBuffer* b = alloc::buffer_of(id);
        for (char32_t c : s) {
            std::memcpy(b->data() + b->tail, &c, unit);
            b->tail += unit;
        }
        return Cell{type::string, index, id, 0};
    }
    static std::u32string units_of(const Cell& v) {
        SeriesBuffer* b = alloc::buffer_of(v.payload2);
        std::u32string s;
        for (uint32_t at = b->offset; at < b->tail; at += b->unit()) {
            uint32_t c = 0;
            std::memcpy(&c, b->data() + at, b->unit());
            s += char32_t(c);
        }
        return s;
    }
};

const char* error_of(const std::function<void()>& body) {
    error::pending = {};
    uint32_t code = throws::protect(throws::error, body);
    return code == throws::error ? error::pending.id : nullptr;
}

constexpr int64_t no_part = INT64_MIN;

}  // namespace

TEST_F(CaseChange, Characters) {
    Cell c{type::char_, 0, 0xFF, 0};
    case_folding::change_case_value(&c, -1, true);
    EXPECT_EQ(c.payload2, 0x178u);
    case_folding::change_case_value(&c, -1, false);
    EXPECT_EQ(c.payload2, 0xFFu);
}

TEST_F(CaseChange, Strings) {
    struct Case {
        std::u32string text;
        uint32_t unit, index;
        int64_t count;      // an integer! limit, or no_part
        int64_t position;   // else a limit at this index of the same string, or no_part
        bool upper;
        std::u32string changed;
        uint32_t changed_unit, changed_index;
    } cases[] = {
        {U"\u00ff", 1, 0, no_part, no_part, true, U"\u0178", 2, 0},
        {U"a\u00ffz", 1, 0, no_part, no_part, true, U"A\u0178Z", 2, 0},  // widens in the middle
        {U"\u0130", 2, 0, no_part, no_part, false, U"i", 2, 0},             // never narrows
        {U"a\u00dfb", 1, 0, no_part, no_part, true, U"A\u00dfB", 1, 0},
        {U"\U00010428x", 4, 0, no_part, no_part, true, U"\U00010400X", 4, 0},
        {U"abcdef", 1, 2, 99, no_part, true, U"abCDEF", 1, 2},
        {U"abcdef", 1, 2, 2, no_part, true, U"abCDef", 1, 2},
        {U"abcdef", 1, 2, -3, no_part, true, U"abcdef", 1, 2},
        {U"abcdef", 1, 1, no_part, 4, true, U"aBCDef", 1, 1},
        {U"abcdef", 1, 4, no_part, 1, true, U"abcdef", 1, 4},
        {U"abcdef", 1, 9, no_part, no_part, true, U"abcdef", 1, 6},  // index clamped to the tail
        {U"ABC", 1, 0, no_part, no_part, false, U"abc", 1, 0},
    };
    for (const Case& c : cases) {
        Cell cells[2];
        cells[0] = text(c.text, c.unit, c.index);
        int32_t part = -1;
        if (c.count != no_part) {
            cell::set_integer(&cells[1], int32_t(c.count));
            part = 1;
        } else if (c.position != no_part) {
            cells[1] = cells[0];
            cells[1].payload1 = uint32_t(c.position);
            part = 1;
        }
        case_folding::change_case_value(&cells[0], part, c.upper);
        EXPECT_EQ(units_of(cells[0]), c.changed);
        EXPECT_EQ(alloc::buffer_of(cells[0].payload2)->unit(), c.changed_unit);
        EXPECT_EQ(cells[0].payload1, c.changed_index);
    }
}

TEST_F(CaseChange, BadLimits) {
    Cell cells[2];
    cells[0] = text(U"abc", 1);
    cells[1] = text(U"abc", 1);  // another string
    EXPECT_STREQ(error_of([&] { case_folding::change_case_value(&cells[0], 1, true); }), "invalid-refine-arg");
    EXPECT_EQ(error::pending.args[0].payload2, words::refinements.part->payload2);
    EXPECT_EQ(error::pending.args[1].payload2, cells[1].payload2);

    cells[1] = cells[0];
    cell::set_type(&cells[1], type::file);  // the same buffer as another type
    EXPECT_STREQ(error_of([&] { case_folding::change_case_value(&cells[0], 1, true); }), "invalid-refine-arg");
    EXPECT_EQ(units_of(cells[0]), U"abc");
}
