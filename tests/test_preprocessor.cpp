// A preprocessor error in a script run without a console: the report is
// printed and the process halts (status 0) before any of the script runs.
// With a console present the run is abandoned by a halt-request throw
// instead; tests/kel/preprocessor.kel covers that and the other messages.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "tests/support/child.hpp"

namespace fs = std::filesystem;

TEST(Preprocessor, AnErrorWithoutAConsoleHaltsTheScript) {
    fs::path dir = fs::temp_directory_path() / ("kel-pre-" + std::to_string(std::random_device{}()));
    fs::create_directories(dir);
    struct Case {
        const char* code;
        const char* printed;
    } cases[] = {
        {"#if 1 = 1 3", "*** Preprocessor Error: Syntax error\n*** Where: #if 1 = 1 3\n"},
        {"#macro again: func [] ['again] again",
         "*** Preprocessor Error: Macro expansion too deep\n*** Where: again\n"},
        {"#if 1 / 0 [a]",
         "*** Preprocessor Error in #if\n*** Math Error: attempt to divide by zero\n*** Where: #if\n"
         "*** Near : 1 / 0\n"},
        {"#macro m: func [x /ref] [x]",
         "*** Macro Error: invalid specification\n*** Where: [m: func [x /ref]]\n"},
    };
    for (const Case& c : cases) {
        fs::path script = dir / "pre.kel";
        std::ofstream(script) << "Kel []\nprint \"ran\"\n" << c.code << "\nprint \"after\"\n";
        kel::test::ChildResult r = kel::test::run_child(kel::test::sibling("../kel"), {script.string()},
                                                        {{"KEL_FATAL_TO_STDERR", "1"}});
        EXPECT_EQ(r.status, 0) << c.code << "\n" << r.err;
        EXPECT_EQ(kel::test::without_cr(r.out), c.printed) << c.code;
    }
    std::error_code ec;
    fs::remove_all(dir, ec);
}
