// The console's print hook: what print and prin send, and the texts of the
// runtime's own output primitives, reach the terminal's vprint.
#include <gtest/gtest.h>

#include "runtime/output.hpp"
#include "runtime/platform/host.hpp"
#include "tests/support/environment.hpp"
#include "view/backend/console.hpp"

using namespace kel;
using namespace kel::test;

namespace {

// A terminal that logs each text and its line-end flag; the hook lists are
// the test's own, put back afterwards.
struct GuiPrint : WithEnvironment<> {
    output::HookList<output::ValueHook> saved_values;
    output::HookList<output::TextHook> saved_texts;
    output::ValueHook values[4] = {};
    output::TextHook texts[4] = {};
    void SetUp() override {
        WithEnvironment<>::SetUp();
        auto& v = const_cast<output::HookList<output::ValueHook>&>(output::value_hooks());
        auto& t = const_cast<output::HookList<output::TextHook>&>(output::text_hooks());
        saved_values = v, saved_texts = t;
        v = {values, 0, 4}, t = {texts, 0, 4};
        view::console::make_routines();
        eval("gui-console-ctx: context [terminal: context [log: copy [] "
             "vprint: func [text lf?] [append log reduce [copy text lf?]]]] add-gui-print add-gui-print");
    }
    void TearDown() override {
        const_cast<output::HookList<output::ValueHook>&>(output::value_hooks()) = saved_values;
        const_cast<output::HookList<output::TextHook>&>(output::text_hooks()) = saved_texts;
        WithEnvironment<>::TearDown();
    }
};

}  // namespace

TEST_F(GuiPrint, PrintAndPrinReachTheTerminalOnce) {
    EXPECT_EQ(output::value_hooks().count, 1u);
    EXPECT_EQ(eval("prin {a} prin [1 + 1 {b}] print [{c} 3] probe 4 gui-console-ctx/terminal/log"),
              "[\"a\" false \"2 b\" false \"c 3\" true \"4\" true]");
}

TEST_F(GuiPrint, RuntimeTextIsDecodedIntoOneReusedString) {
    view::console::print_text("x\xF0\x9F\x98\x80y", size_t(-1), 0);
    view::console::print_text("ab\xC3\xA9", 4, 0);
    view::console::print_text("q", 1, 0);
    EXPECT_EQ(eval("log: gui-console-ctx/terminal/log reduce [length? log/1 log/1/2 = #\"^(1F600)\" log/3 log/5 log/6]"),
              "[3 true \"ab\xC3\xA9\" \"q\" false]");
}

TEST_F(GuiPrint, ErrorsOfTheTerminalReachThePrinter) {
    EXPECT_EQ(eval("gui-console-ctx/terminal/vprint: func [t l] [1 / 0] try [print 1]"),
              "error! [math zero-divide]");
    EXPECT_EQ(eval("gui-console-ctx/terminal/vprint: func [t l] [] f: func [n] [prin {} f n + 1] e: try [f 1] e/id"),
              "stack-overflow");
    // Without a terminal nothing is printed, and nothing fails.
    EXPECT_EQ(eval("unset 'gui-console-ctx print 1 2"), "2");
}

// init titles the host's text console; without one (as here) it says so
// and answers false, and the program goes on.
TEST_F(GuiPrint, ConsoleRoutines) {
    eval("make-console-engine");
    view::console::install();
    EXPECT_EQ(eval("system/console/init {Kel}"), "false");
    EXPECT_EQ(eval("find/only gui-console-ctx/terminal/log {SetConsoleTitle failed!}"),
              "[\"SetConsoleTitle failed!\" false \"^/\" false]");
    // POSIX hosts have no caret setting; Windows answers its own.
    EXPECT_EQ(eval("integer? get-caret-blink-time"), "true");
    if (!os::windows) EXPECT_EQ(eval("get-caret-blink-time"), "500");
    eval("system/console: none halt: :quit");
}
