// What load's helpers and the script runner print: transcode-trace's lines
// of lexer events, five padded columns each, and "(halted)".
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "tests/support/binary_hex.hpp"
#include "tests/support/environment.hpp"
#include "tests/support/printed.hpp"

using namespace kel;
using namespace kel::test;

namespace {

using Load = KeepsPrinted<WithEnvironment<WithSeries>>;

}  // namespace

TEST_F(Load, TranscodeTracePrintsEachEvent) {
    EXPECT_EQ(eval("transcode-trace {a [1]}"), "[a [1]]");
    EXPECT_EQ(printed,
              "PRESCAN  word!        1x2          1    \"a [1]\"\n"
              "SCAN     word!        1x2          1    \"a [1]\"\n"
              "LOAD     word!        a            1    \"a [1]\"\n"
              "PRESCAN  none         3x3          1    \"[1]\"\n"
              "OPEN     [            3x4          1    \"[1]\"\n"
              "PRESCAN  integer!     4x5          1    \"1]\"\n"
              "SCAN     integer!     4x5          1    \"1]\"\n"
              "LOAD     integer!     1            1    \"1]\"\n"
              "PRESCAN  none         5x5          1    \"]\"\n"
              "CLOSE    ]            5x5          1    \"]\"\n");
}

// Long tokens and inputs are cut; an error event ends the scan quietly.
TEST_F(Load, TranscodeTraceCutsAndStopsAtAnError) {
    EXPECT_EQ(eval("transcode-trace {\"a long string value\" ]}"), "[\"a long string value\"]");
    EXPECT_NE(printed.find("LOAD     string!      \"a long stri 1    {\"a long string \n"), std::string::npos)
        << printed;
    EXPECT_NE(printed.find("ERROR    "), std::string::npos) << printed;
}

// A script that asks to halt: "(halted)" is printed, do gives no value, and
// the directory the script ran in is left again.
TEST_F(Load, HaltedScriptPrintsHalted) {
    std::string file = temp_path("halt.kel");
    {
        std::ofstream out(file, std::ios::binary);
        out << "Kel [] print \"before\" throw/name 'halt-request 'console print \"after\"";
    }
    // The script named in its Kel form, as a user would name it (%/C/... for C:\...).
    EXPECT_EQ(eval("here: what-dir  set/any 'r do to-kel-file " + string_literal(file) +
                   "  reduce [unset? get/any 'r here = what-dir]"),
              "[true true]");
    EXPECT_EQ(printed, "before\n(halted)\n");
    std::remove(file.c_str());
}
