// string!: molded text that evaluates back, and sorting against Python.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>

#include "runtime/case_folding.hpp"
#include "runtime/datatypes/issue.hpp"
#include "runtime/datatypes/string.hpp"
#include "tests/support/child.hpp"
#include "tests/support/environment.hpp"

using namespace kel;
using namespace kel::test;

namespace {

struct Strings : WithEnvironment<WithSeries> {};

}  // namespace

namespace {

// A text value of the code points, of type t, on a new stack cell (the
// caller puts the stack back).
Cell* text_value(const std::u32string& text, uint8_t t = type::string) {
    Cell* c = string::make(stack::push_slot(), 1);
    string::append_text(c, text);
    cell::set_type(c, t);
    return c;
}

// Molds the value, loads the molded text with the lexer and answers whether
// it gave back an equal value of the same type (strictly, case included).
::testing::AssertionResult loads_back(const Cell& v, bool all = false) {
    StackScope scope;
    Cell* held = stack::push(&v);
    std::string molded = mold(*held, MoldFlags{false, all});
    Cell loaded{};
    lexer::ScanOptions one;
    one.one_value = true;
    uint32_t raised = throws::protect(throws::error, [&] { lexer::load_utf8(molded.data(), molded.size(), one, &loaded); });
    if (raised) return ::testing::AssertionFailure() << molded << " does not load: " << error::pending.id;
    if (cell::type_of(&loaded) != cell::type_of(held) || actions::compare_raw(held, &loaded, 2) != 0)
        return ::testing::AssertionFailure() << molded << " loads as " << mold(loaded);
    return ::testing::AssertionSuccess();
}

}  // namespace

TEST_F(Strings, MoldLoadsBack) {
    // The characters mold has to take care of, and some it writes as they are.
    const std::u32string pieces[] = {
        U"\"", U"^", U"{", U"}", U"{}", U"}{", U"\n", U"\t", U"\r", U" ", U"a", U"Z", U"0", U";", U"[", U"]",
        U"(", U")", U"<", U">", U"%", U"@", U"\\", U"/", U"~",
        std::u32string(1, U'\0'), U"\x01", U"\x1B", U"\x1C", U"\x1D", U"\x1E", U"\x1F", U"\x7F", U"\x80", U"\x85",
        U"\x9F", U"\xA0", U"\xE9", U"\xFF", U"\u0100", U"\u4E2D", U"\u3000", U"\uFFFD", U"\uFFFE", U"\uFFFF",
        std::u32string(1, char32_t(0xD800)), std::u32string(1, char32_t(0xDFFF)), U"\U00010400", U"\U0001F600",
        U"\U0010FFFF",
    };
    std::mt19937 rng(20240611);
    for (int round = 0; round < 600; ++round) {
        std::u32string text;
        size_t n = rng() % 70;
        for (size_t i = 0; i < n; ++i) text += pieces[rng() % std::size(pieces)];
        StackScope scope;
        Cell* v = text_value(text);
        EXPECT_TRUE(loads_back(*v)) << round;
        EXPECT_TRUE(loads_back(*v, true)) << round;
    }
    for (const std::u32string& piece : pieces) {
        if (piece.size() != 1) continue;
        Cell c{type::char_, 0, uint32_t(piece[0]), 0};
        EXPECT_TRUE(loads_back(c)) << uint32_t(piece[0]);
        EXPECT_TRUE(loads_back(c, true)) << uint32_t(piece[0]);
    }
    // The other text types, with text their source form can carry.
    StackScope scope;
    EXPECT_TRUE(loads_back(*text_value(U"a b=\"c\" \xE9", type::tag)));
    EXPECT_TRUE(loads_back(*text_value(U"joe@example.com", type::email)));
    EXPECT_TRUE(loads_back(*text_value(U"name-1", type::ref)));
    Cell issue{};
    issue::make_at(&issue, "abc-1", 5);
    EXPECT_TRUE(loads_back(issue));
}

#ifndef _WIN32

namespace {

std::u32string from_hexes(const std::string& field) {
    std::u32string text;
    if (field == "-") return text;
    std::istringstream in(field);
    for (std::string h; std::getline(in, h, '.');) text.push_back(char32_t(std::stoul(h, nullptr, 16)));
    return text;
}

// The sort keys of the records, in order: the unit compared (offset from
// 1) or the whole record, folded to lower case unless case-sensitive.
std::u32string keys(const std::u32string& text, size_t skip, size_t offset, bool fold) {
    std::u32string out;
    for (size_t i = 0; i < text.size(); i += skip)
        for (size_t k = offset ? offset - 1 : 0; k < (offset ? offset : skip); ++k)
            out.push_back(fold ? char32_t(case_folding::change_case(text[i + k], false)) : text[i + k]);
    return out;
}

// The records in a canonical order: two texts are permutations of the same records when these agree.
std::vector<std::u32string> records(const std::u32string& text, size_t skip) {
    std::vector<std::u32string> out;
    for (size_t i = 0; i < text.size(); i += skip) out.push_back(text.substr(i, skip));
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace

// sort against Python's sorted() on the same keys: /case, /reverse,
// /stable, /skip and /compare with an offset, in 1-, 2- and 4-byte text.
TEST_F(Strings, SortAgreesWithPython) {
    std::string here = __FILE__;
    std::string script = here.substr(0, here.find_last_of('/') + 1) + "oracles/sort_oracle.py";
    test::ChildResult r = test::run_child("/usr/bin/env", {"python3", script, "7", "600"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream lines(r.out);
    int cases = 0;
    for (std::string line; std::getline(lines, line); ++cases) {
        std::istringstream fields(line);
        int case_, reverse, stable, skip, offset;
        std::string input, expected;
        fields >> case_ >> reverse >> stable >> skip >> offset >> input >> expected;
        StackScope scope;
        Cell* s = text_value(from_hexes(input));
        Cell size = num(skip), at = num(offset);
        string::sort(s, case_, skip > 1 ? &size : nullptr, offset ? &at : nullptr, nullptr, false, reverse, stable);
        std::u32string got = string::text_of(s), want = from_hexes(expected);
        if (stable) {
            EXPECT_TRUE(got == want) << line << "\n got " << string::to_utf8(s);
        } else {  // records with equal keys may come in any order
            EXPECT_TRUE(keys(got, size_t(skip), size_t(offset), !case_) == keys(want, size_t(skip), size_t(offset), !case_) &&
                        records(got, size_t(skip)) == records(want, size_t(skip)))
                << line << "\n got " << string::to_utf8(s);
        }
    }
    EXPECT_EQ(cases, 600);
}

#endif
