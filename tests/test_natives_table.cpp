// The natives table and the action wrappers against the boot environment:
// every native! and action! word must find the row of its index under its
// own name, and every row with an entry must be held by such a word. Each
// case below breaks the real rows or the environment in one way and names
// the message the check must give.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "runtime/context.hpp"
#include "runtime/natives/natives.hpp"
#include "runtime/symbol.hpp"
#include "tests/support/environment.hpp"

using namespace kel;

namespace {

using NativesTable = test::WithEnvironment<>;

// A row to put at a position of a copy of the real rows; a position at the
// end adds the row.
struct Edit {
    size_t at;
    EntryRow row;
};

uint32_t stand_in(const Call&) { return 0; }

// Checks a copy of the real rows, cut to `keep` rows, then edited.
std::string check_edited(uint8_t type, std::span<const EntryRow> real, size_t keep, const std::vector<Edit>& edits) {
    std::vector<EntryRow> rows(real.begin(), real.begin() + std::min(keep, real.size()));
    for (const Edit& e : edits) {
        if (e.at == rows.size()) rows.push_back(e.row);
        else rows[e.at] = e.row;
    }
    return natives::check_rows(type, rows);
}

constexpr size_t all_rows = size_t(-1);

TEST_F(NativesTable, TheRealRowsAgreeWithTheBootEnvironment) {
    EXPECT_EQ(natives::check_rows(type::native, natives::rows), "");
    EXPECT_EQ(natives::check_rows(type::action, actions::rows), "");
}

TEST_F(NativesTable, AWrongNativeRowIsNamed) {
    struct Case {
        const char* what;
        size_t keep;
        std::vector<Edit> edits;
        const char* message;  // empty: the rows still agree
    } cases[] = {
        {"a row under another name", all_rows, {{40, {41, "unite", stand_in}}},
         "native 41: named union in the boot environment, unite in the table"},
        {"two rows swapped", all_rows, {{40, {41, "intersect", stand_in}}, {41, {42, "union", stand_in}}},
         "native 41: named union in the boot environment, intersect in the table"},
        {"a row one index off", all_rows, {{40, {42, "union", stand_in}}},
         "native 41: named union in the boot environment, no row in the table"},
        {"a row no word holds", all_rows, {{107, {108, "frobnicate", stand_in}}},
         "native 108: named frobnicate in the table, no word of the boot environment holds it"},
        {"the last row missing", 106, {}, "native 107: named apply in the boot environment, no row in the table"},
        {"a row not built yet", all_rows, {{40, {41, "union", nullptr}}}, ""},
        {"a row not built yet, no word yet", all_rows, {{107, {108, "frobnicate", nullptr}}}, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(check_edited(type::native, natives::rows, c.keep, c.edits), c.message) << c.what;
}

TEST_F(NativesTable, AWrongActionRowIsNamed) {
    ASSERT_EQ(actions::rows[30].index, uint32_t(action::find));
    EntryRow find = actions::rows[30], select = actions::rows[43];
    struct Case {
        const char* what;
        std::vector<Edit> edits;
        const char* message;
    } cases[] = {
        {"two slots swapped",
         {{30, {find.index, select.name, select.entry}}, {43, {select.index, find.name, find.entry}}},
         "action 31: named find in the boot environment, select in the table"},
        {"a wrapper without a word given a name", {{6, {action::eval_path, "eval-path", stand_in}}},
         "action 7: named eval-path in the table, no word of the boot environment holds it"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(check_edited(type::action, actions::rows, all_rows, c.edits), c.message) << c.what;
}

// The other side: the boot environment renumbered, the rows unchanged.
TEST_F(NativesTable, ANativeWordWithAnotherIndexIsNamed) {
    context::value_of_symbol(symbol::make("union"), context::global)->payload1 = 42;
    EXPECT_EQ(natives::check_rows(type::native, natives::rows),
              "native 41: named union in the table, no word of the boot environment holds it");
}

// A second name for a native is no disagreement while its own word holds it.
TEST_F(NativesTable, AnAliasOfANativeIsAccepted) {
    Cell word = *context::find_or_add_global(symbol::make("unite"));
    word::set(&word, context::value_of_symbol(symbol::make("union"), context::global));
    EXPECT_EQ(natives::check_rows(type::native, natives::rows), "");
}

TEST_F(NativesTable, StartUpEndsOnADisagreement) {
    natives::check_boot();  // the real boot passes
    context::value_of_symbol(symbol::make("add"), context::global)->payload1 = action::subtract;
    EXPECT_EXIT(natives::check_boot(), ::testing::ExitedWithCode(98), "");
}

TEST_F(NativesTable, IndexOfFindsANativeByItsName) {
    struct Case {
        const char* name;
        uint32_t index;
    } cases[] = {{"if", 1}, {"union", 41}, {"NaN?", 62}, {"apply", 107}, {"add", 0}, {"", 0}};
    for (const Case& c : cases) EXPECT_EQ(natives::index_of(c.name), c.index) << c.name;
    EXPECT_EQ(natives::entry(natives::index_of("union")), natives::rows[40].entry);
    EXPECT_NE(natives::entry(natives::index_of("union")), nullptr);
}

}  // namespace
