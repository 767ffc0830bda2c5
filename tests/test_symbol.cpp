#include <gtest/gtest.h>

#include <string>

#include "runtime/actions.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/symbol.hpp"
#include "tests/support/runtime.hpp"

using namespace kel;

using Symbols = test::WithRuntime;

TEST_F(Symbols, AsciiCaseVariantsAliasTheFirstSpelling) {
    uint32_t first = symbol::make("kelvin-x");
    uint32_t upper = symbol::make("Kelvin-x");
    uint32_t third = symbol::make("KELVIN-X");
    EXPECT_NE(first, upper);
    EXPECT_EQ(int32_t(symbol::cell_of(first)->payload1), -1);
    EXPECT_EQ(symbol::cell_of(upper)->payload1, first);
    EXPECT_EQ(symbol::cell_of(third)->payload1, first);  // never the second spelling
    for (uint32_t id : {first, upper, third}) EXPECT_EQ(symbol::resolve(id), first);
    EXPECT_EQ(symbol::make("kelvin-x"), first);
    EXPECT_EQ(symbol::make("Kelvin-x"), upper);
    EXPECT_EQ(symbol::name(upper), "Kelvin-x");
}

TEST_F(Symbols, NonAsciiCaseMakesDistinctSymbols) {
    uint32_t lower = symbol::make("\xc3\xa9t\xc3\xa9");   // été
    uint32_t upper = symbol::make("\xc3\x89T\xc3\x89");   // ÉTÉ
    EXPECT_NE(symbol::resolve(lower), symbol::resolve(upper));
    EXPECT_EQ(int32_t(symbol::cell_of(upper)->payload1), -1);
}

TEST_F(Symbols, AliasFreeInterning) {
    uint32_t id = symbol::make_alias_free("Offset-Zz");
    EXPECT_EQ(symbol::make_alias_free("offset-zz"), id);
    EXPECT_EQ(symbol::make_alias_free("OFFSET-ZZ"), id);
    uint32_t variant = symbol::make("offset-zz");
    EXPECT_NE(variant, id);
    EXPECT_EQ(symbol::resolve(variant), id);
}

TEST_F(Symbols, StringFormIsMadeOnce) {
    uint32_t id = symbol::make("caf\xc3\xa9");
    EXPECT_EQ(symbol::cell_of(id)->payload2, 0u);
    const Cell* c = symbol::get(id);
    uint32_t node = c->payload2;
    EXPECT_NE(node, 0u);
    Cell str{type::string, 0, node, 0};
    EXPECT_EQ(string::to_utf8(&str), "caf\xc3\xa9");
    EXPECT_EQ(symbol::get(id)->payload2, node);
}

TEST_F(Symbols, ManySymbolsGrowTheTableAndStayFindable) {
    std::vector<uint32_t> ids;
    for (int i = 0; i < 30000; ++i) ids.push_back(symbol::make(("sym-" + std::to_string(i)).c_str()));
    for (int i = 0; i < 30000; i += 7) {
        std::string name = "sym-" + std::to_string(i);
        EXPECT_EQ(symbol::make(name.c_str()), ids[size_t(i)]);
        EXPECT_EQ(symbol::name(ids[size_t(i)]), name);
    }
    std::string upper = "SYM-29999";
    EXPECT_EQ(symbol::resolve(symbol::make(upper.c_str())), ids.back());
}

// symbol! compares its names as strings do: folded to upper case but for
// the exact codes, a prefix first, lengths never equal.
TEST_F(Symbols, ComparedByNameAsText) {
    struct Row {
        const char* a;
        const char* b;
        int32_t op;
        int32_t expected;
    };
    using namespace compare_op;
    const Row rows[] = {
        {"apple", "apple", equal, 0},    {"apple", "APPLE", equal, 0},      {"apple", "APPLE", strict_equal, 1},
        {"apple", "apples", equal, 1},   {"apple", "apples", lesser, -1},   {"apples", "apple", sort, 1},
        {"Bee", "apple", sort, 1},       {"Bee", "apple", sort_case, -1},   {"b", "B", sort_case, 1},
        {"\xc3\xa9t\xc3\xa9", "\xc3\x89T\xc3\x89", equal, 0},             {"zeta", "alpha", greater, 1},
        {"apple", "apple", same, 0},     {"apple", "APPLE", same, -1},
    };
    for (const Row& r : rows) {
        Cell a = *symbol::cell_of(symbol::make(r.a)), b = *symbol::cell_of(symbol::make(r.b));
        EXPECT_EQ(actions::compare_raw(&a, &b, r.op), r.expected) << r.a << " " << r.b << " op " << r.op;
    }
    Cell a = *symbol::cell_of(symbol::make("apple"));
    Cell n{type::integer, 0, 1, 0};
    EXPECT_EQ(actions::compare_raw(&a, &n, equal), -2);
}
