// call as Kel code: exit statuses and process ids, the shell and its
// fallback, input from each kind of value, output and error captured into
// each kind of target, and children that write more than a pipe holds.
// The commands differ by platform; the test probe program runs on both.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#ifndef _WIN32
#include <signal.h>
#endif

#include "runtime/platform/files.hpp"
#include "tests/support/child.hpp"
#include "tests/support/environment.hpp"

using namespace kel;
using namespace kel::test;

namespace {

struct CallNative : WithEnvironment<WithSeries> {

    // The probe program with its mode, as a command line.
    static std::string probe(const std::string& mode) { return sibling("kel-probe") + " " + mode; }

};

// A file in the working directory, removed when the test ends.
struct TempFile {
    std::string name;
    explicit TempFile(std::string n) : name(std::move(n)) { files::remove(name, false); }
    ~TempFile() { files::remove(name, false); }
    std::string content() const { return files::read(name, -1, -1).value_or("<none>"); }
};

#ifdef _WIN32
// cmd's status for a command it cannot find.
constexpr const char* not_found_status = "9009";
#else
constexpr const char* not_found_status = "127";
#endif

}  // namespace

TEST_F(CallNative, ExitStatus) {
    check({
#ifdef _WIN32
        {"call/wait \"cmd /c exit 3\"", "3"},
        {"call/wait/shell \"exit 5\"", "5"},
        {"call/output \"cmd /c exit 4\" \"\"", "4"},  // a redirection alone makes it wait
#else
        {"call/wait \"sh -c 'exit 3'\"", "3"},
        {"call/wait/shell \"exit 5\"", "5"},
        {"call/output \"sh -c 'exit 4'\" \"\"", "4"},
        {"call/wait \"sh -c 'kill -9 $$'\"", "137"},  // a signal's death as the shell reports it
#endif
        {"call/wait \"\"", "0"},  // an empty command starts nothing
        {"call/console \"\"", "0"},
        {"call/console \"kel-no-such-program\"", "error: not-done"},
        {"call/wait/input \"kel-no-such-program\" %kel-no-such-file", "-1"},  // an input file that cannot be opened
    });
    // A program that is not found runs through the shell, which reports it.
    EXPECT_EQ(eval("call/wait \"kel-no-such-program\""), not_found_status);
    EXPECT_EQ(eval("call/wait %kel-no-such-program"), not_found_status);
}

TEST_F(CallNative, FileCommandIsTheProgramPath) {
    std::string path = sibling("kel-probe");
#ifdef _WIN32
    // Z:\dir\kel-probe.exe is %/Z/dir/kel-probe.exe
    for (char& c : path)
        if (c == '\\') c = '/';
    path = "/" + path.substr(0, 1) + path.substr(2);
#endif
    EXPECT_EQ(eval("call/wait %" + path), "0");
}

TEST_F(CallNative, CapturedOutput) {
    check({
#ifdef _WIN32
        // echo is a shell built-in: the fallback runs it; CR LF becomes LF.
        {"s: \"tail\" call/output \"echo hi\" s s", "\"hi^/tail\""},
        {"s: next \"xtail\" call/output \"echo hi\" s head s", "\"xhi^/tail\""},  // at the index
        {"b: #{00} call/output \"cmd /c echo hi\" b b", "#{68690D0A00}"},        // bytes as they came
        {"e: \"\" call/error \"cmd /c echo oops>&2\" e e", "\"oops^/\""},
        {"s: \"\" call/output/error \"cmd /c echo out& echo err>&2\" s s s", "\"err^/out^/\""},
        {"s: \"same\" call/output \"cmd /c rem\" s s", "\"same\""},  // nothing captured, nothing changes
#else
        {"s: \"tail\" call/output \"echo hi\" s s", "\"hi^/tail\""},
        {"s: next \"xtail\" call/output \"echo hi\" s head s", "\"xhi^/tail\""},
        {"b: #{00} call/output \"printf 'A\\r\\n\\xff'\" b b", "#{410D0AFF00}"},
        {"s: \"x\" call/output \"printf 'a\\r\\nb'\" s s", "\"a^/bx\""},  // CR dropped
        {"s: \"\" call/output \"printf '\\xef\\xbb\\xbfcaf\\xc3\\xa9'\" s s", "\"caf\u00e9\""},  // BOM skipped
        {"e: \"\" call/error \"sh -c 'echo oops >&2'\" e e", "\"oops^/\""},
        {"s: \"\" call/output/error \"sh -c 'echo out; echo err >&2'\" s s s", "\"err^/out^/\""},
        {"s: \"same\" call/output \"true\" s s", "\"same\""},
        // Without the shell the line is split into words, quotes honoured.
        {"s: \"\" call/output {printf '%s|' \"a b\" c\\ d 'e \"f'} s s", "{a b|c d|e \"f|}"},
        {"s: \"\" call/shell/output \"echo abc | tr b x\" s s", "\"axc^/\""},
        {"s: \"\" call/output \"kel-no-such-program\" s s", "\"\""},  // the shell's complaint went to error
#endif
    });
}

TEST_F(CallNative, Input) {
    std::string echo = "\"" + probe("echo") + "\"";
    check({
        {("b: #{} call/input/output " + echo + " #{00FF0A} b b").c_str(), "#{00FF0A}"},
        {("s: \"kept\" call/input/output " + echo + " \"\" s s").c_str(), "\"kept\""},
#ifdef _WIN32
        // Text goes in as UTF-16LE, LF as CR LF.
        {("b: #{} call/input/output " + echo + " \"h\u00e9^/\" b b").c_str(), "#{6800E9000D000A00}"},
#else
        {("b: #{} call/input/output " + echo + " \"h\u00e9^/\" b b").c_str(), "#{68C3A90A}"},
        {"s: \"\" call/input/output \"sort\" \"b^/a^/\" s s", "\"a^/b^/\""},
#endif
    });
}

TEST_F(CallNative, FileTargets) {
    TempFile in("kel-call-in.txt"), out("kel-call-out.txt");
    ASSERT_TRUE(files::write(in.name, "from a file\n", -1, false));
    EXPECT_EQ(eval("s: \"\" call/input/output \"" + probe("echo") + "\" %" + in.name + " s s"), "\"from a file^/\"");

    // Output is appended to what the file holds.
    ASSERT_TRUE(files::write(out.name, "first\n", -1, false));
    EXPECT_EQ(eval("call/output \"" + probe("args second") + "\" %" + out.name), "0");
    EXPECT_EQ(eval("call/error \"" + probe("args lost") + "\" %" + out.name), "0");
    EXPECT_EQ(out.content(), "first\nsecond\n");
    // A file that cannot be opened loses the stream; the program still runs.
    EXPECT_EQ(eval("call/output \"" + probe("args x") + "\" %kel-no-such-dir/out.txt"), "0");
}

TEST_F(CallNative, StreamsLargerThanAPipe) {
    // 200000 bytes to error first, then to output: both are read as they come.
    EXPECT_EQ(eval("o: \"\" e: \"\" call/output/error \"" + probe("flood") + "\" o e length? o"), "200000");
    EXPECT_EQ(eval("length? e"), "200000");
    // The probe echoes its input as it reads it: the input is written
    // while the output is read.
    define("big", text(std::string(300000, 'x').c_str()));
#ifdef _WIN32
    const char* echoed = "600000";  // two bytes a character
#else
    const char* echoed = "300000";
#endif
    EXPECT_EQ(eval("b: #{} call/input/output \"" + probe("echo") + "\" big b length? b"), echoed);
}

TEST_F(CallNative, WithoutWaitingGivesTheProcessId) {
    std::string r = eval("call \"" + probe("args") + "\"");
    int pid = std::atoi(r.c_str());
    EXPECT_GT(pid, 0) << r;
#ifndef _WIN32
    // The child is reaped without anyone waiting for it: its process id goes away.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (kill(pid, 0) == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_NE(kill(pid, 0), 0) << "child " << pid << " was not reaped";
#endif
}
