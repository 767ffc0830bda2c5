// What the evaluation helpers of the boot environment print (probe, ??,
// parse-trace) and how quit ends the process. Their other cases are in
// tests/kel/evaluation.kel.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "runtime/output.hpp"
#include "tests/support/child.hpp"
#include "tests/support/environment.hpp"

using namespace kel;
namespace fs = std::filesystem;

namespace {

std::string shown;
void keep_shown(const Cell* text, bool newline) {
    shown += string::to_utf8(text);
    if (newline) shown += "\n";
}

// What print and prin are given reaches the value print hooks.
struct EvaluationHelpers : test::WithEnvironment<> {
    void SetUp() override {
        WithEnvironment::SetUp();
        output::init_print_hooks();
        output::register_print_hooks(keep_shown, nullptr);
    }
    void TearDown() override {
        output::unregister_print_hooks(keep_shown, nullptr);
        WithEnvironment::TearDown();
    }
    // The source's molded result, then a bar, then what it printed.
    static std::string printed(const char* source) {
        shown.clear();
        std::string result = test::eval(source);
        return result + "|" + shown;
    }
};

}  // namespace

TEST_F(EvaluationHelpers, ProbeAndShowPrintMoldedValues) {
    struct Case {
        const char* source;
        const char* expected;
    } cases[] = {
        {"probe 5", "5|5\n"},
        {"probe [a \"b\"]", "[a \"b\"]|[a \"b\"]\n"},
        {"unset? probe ()", "true|unset\n"},
        {"x: 5 ?? x", "unset|x: 5\n"},
        {"?? no-such-word-here", "unset|no-such-word-here: unset!\n"},
        {"o: object [a: [1 \"2\"]] ?? o/a", "unset|o/a: [1 \"2\"]\n"},
        {"?? 5", "error: expect-arg|"},
    };
    for (const Case& c : cases) EXPECT_EQ(printed(c.source), c.expected) << c.source;
}

// The trace of a small rule: a block frame pushed and popped around the
// fetches and matches, a keyword frame nested in it two columns further in.
TEST_F(EvaluationHelpers, ParseTracePrintsItsGoldenLines) {
    EXPECT_EQ(printed("parse-trace \"abb\" [\"a\" some \"b\"]"),
              "true|"
              " -->\n"
              "   input: \"abb\" \n"
              "   match: [\"a\" some \"b\"]   \n"
              "   ==> matched\n"
              "   input: \"bb\" \n"
              "   match: [some \"b\"]   \n"
              "   -->\n"
              "     ==> matched\n"
              "   <--\n"
              " <--\n"
              "return: true\n");
    // A failed match, and the input cut to 50 characters (a long string molds in braces).
    EXPECT_EQ(printed("parse-trace/case append/dup copy \"\" \"A\" 60 [\"a\"]"),
              "false|"
              " -->\n"
              "   input: {AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA \n"
              "   match: [\"a\"]   \n"
              "   ==> not matched\n"
              " <--\n"
              "return: false\n");
    // Each run starts at the left edge again.
    EXPECT_EQ(printed("parse-trace \"a\" [\"a\"]"),
              "true|"
              " -->\n"
              "   input: \"a\" \n"
              "   match: [\"a\"]   \n"
              "   ==> matched\n"
              " <--\n"
              "return: true\n");
}

// quit and halt end the process at once with the status asked for.
TEST(Quit, EndsTheProcessWithItsStatus) {
    fs::path dir = fs::temp_directory_path() / ("kel-quit-" + std::to_string(std::random_device{}()));
    fs::create_directories(dir);
    struct Case {
        const char* code;
        int status;
    } cases[] = {
        {"quit/return 3", 3},
        {"quit", 0},
        {"halt", 0},
        {"quit/return 256 + 7", 7},
        {"catch [try [quit/return 4]]", 4},
    };
    for (const Case& c : cases) {
        fs::path script = dir / "quit.kel";
        std::ofstream(script) << "Kel []\nprint \"before\"\n" << c.code << "\nprint \"after\"\n";
        test::ChildResult r = test::run_child(test::sibling("../kel"), {script.string()},
                                              {{"KEL_FATAL_TO_STDERR", "1"}});
        EXPECT_EQ(r.status, c.status) << c.code << "\n" << r.err;
        EXPECT_EQ(test::without_cr(r.out), "before\n") << c.code;
    }
    std::error_code ec;
    fs::remove_all(dir, ec);
}
