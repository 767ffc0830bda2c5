// call as Kel code: exit statuses and process ids, the shell and what never
// goes to it, input from each kind of value, output and error captured into
// each kind of target, children that write more than a pipe holds or
// without end, and text the system would cut at a NUL.
// The commands differ by platform; the test probe program runs on both.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <random>
#include <string>
#include <thread>

#include "runtime/platform/files.hpp"
#include "runtime/platform/process.hpp"
#include "tests/support/child.hpp"
#include "tests/support/environment.hpp"

// After the runtime's headers: windows.h defines names (near) they use.
#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#endif

using namespace kel;
using namespace kel::test;

namespace {

namespace fs = std::filesystem;

struct CallNative : WithEnvironment<WithSeries> {

    // The probe program with its mode, as a command line.
    static std::string probe(const std::string& mode) { return sibling("kel-probe") + " " + mode; }

    // A directory of the test's own, as a host path ending in its separator.
    std::string dir;
    void SetUp() override {
        WithEnvironment<WithSeries>::SetUp();
        fs::path base = fs::temp_directory_path() /
                        ("kel-call-" + std::to_string(std::random_device{}()) + "-" + std::to_string(std::time(nullptr)));
        fs::create_directories(base);
        dir = (base / "").string();
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir, ec);
        WithEnvironment<WithSeries>::TearDown();
    }
    bool exists(const std::string& name) const { return fs::exists(dir + name); }
};

// Lowers the most a capture holds while it lives.
struct CaptureLimit {
    uint64_t saved = process::capture_limit;
    explicit CaptureLimit(uint64_t n) { process::capture_limit = n; }
    ~CaptureLimit() { process::capture_limit = saved; }
};

#ifndef _WIN32
// The descriptors the process holds open.
size_t open_descriptors() {
    size_t n = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) ++n;
    return n;
}
#endif

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
    // The shell reports a program it cannot find in its status.
    EXPECT_EQ(eval("call/wait/shell \"kel-no-such-program\""), not_found_status);
}

TEST_F(CallNative, WithoutTheShellAProgramNotFoundRaises) {
    // The error names the command as given.
    check({
        {"try [call/wait \"kel-no-such-program\"]", "error! [access cannot-open \"kel-no-such-program\"]"},
        {"try [call %kel-no-such-program]", "error! [access cannot-open %kel-no-such-program]"},
        {"s: \"kept\" call/output \"kel-no-such-program\" s", "error: cannot-open"},
        {"s", "\"kept\""},
        {"call/wait \"kel-no-such-dir/kel-no-such-program x\"", "error: cannot-open"},
#ifdef _WIN32
        {"call/wait \"echo hi\"", "error: cannot-open"},  // a shell built-in is no program
#else
        {"call/wait \"''\"", "error: cannot-open"},  // an empty word names no program
#endif
    });
    // The rest of the line is never run by a shell.
#ifdef _WIN32
    std::string line = "kel-no-such-program & echo x> " + dir + "f";
#else
    std::string line = "kel-no-such-program; touch " + dir + "f";
#endif
    EXPECT_EQ(eval("call/wait {" + line + "}"), "error: cannot-open");
    EXPECT_FALSE(exists("f"));
    // With /shell the shell runs the whole line.
    EXPECT_NE(eval("call/wait/shell {" + line + "}").substr(0, 6), "error:");
    EXPECT_TRUE(exists("f"));
}

TEST_F(CallNative, NulInTextForTheSystemRaises) {
    // Cut at the NUL, each of these would make the file g.
#ifdef _WIN32
    std::string make_g = "echo x> " + dir + "g^@h";
    std::string program = "cmd /c " + make_g;
#else
    std::string make_g = "touch " + dir + "g^@h";
    std::string program = make_g;
#endif
    EXPECT_EQ(eval("call/wait/shell {" + make_g + "}"), "error: invalid-arg");
    EXPECT_EQ(eval("call/wait {" + program + "}"), "error: invalid-arg");
    EXPECT_EQ(eval("try [call/wait \"a^@b\"]"), "error! [script invalid-arg \"a^@b\"]");
    EXPECT_FALSE(exists("g"));
    // A redirection's file name: nothing runs, nothing is opened.
    TempFile cut("kel-call-o");
    std::string args = "\"" + probe("args x") + "\"";
    for (const char* refinement : {"input", "output", "error"}) {
        std::string r = eval("call/wait/" + std::string(refinement) + " " + args + " to file! \"kel-call-o^@x\"");
        EXPECT_EQ(r.substr(0, 6), "error:") << refinement;
        EXPECT_EQ(cut.content(), "<none>") << refinement;
    }
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
        // echo is a shell built-in; CR LF becomes LF.
        {"s: \"tail\" call/shell/output \"echo hi\" s s", "\"hi^/tail\""},
        {"s: next \"xtail\" call/shell/output \"echo hi\" s head s", "\"xhi^/tail\""},  // at the index
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
        {"s: \"\" call/shell/output \"kel-no-such-program\" s s", "\"\""},  // the shell's complaint went to error
#endif
    });
}

TEST_F(CallNative, Input) {
    std::string echo = "\"" + probe("echo") + "\"";
    check({
        {("b: #{} call/input/output " + echo + " #{00FF0A} b b").c_str(), "#{00FF0A}"},
        {("s: \"kept\" call/input/output " + echo + " \"\" s s").c_str(), "\"kept\""},
        // Text goes in as UTF-8 and comes back whole.
        {("s: \"\" call/input/output " + echo + " \"h\u00e9 \u4e16\u754c \U0001F600^/2\" s s").c_str(),
         "\"h\u00e9 \u4e16\u754c \U0001F600^/2\""},
#ifdef _WIN32
        // LF goes in as CR LF.
        {("b: #{} call/input/output " + echo + " \"h\u00e9^/\" b b").c_str(), "#{68C3A90D0A}"},
        // A Windows filter passes the UTF-8 bytes through.
        {"b: #{} call/input/output \"cmd /c more\" \"h\u00e9 \u4e16^/x^/\" b b", "#{68C3A920E4B8960D0A780D0A}"},
        {"s: \"\" call/input/output \"cmd /c more\" \"h\u00e9 \u4e16^/x^/\" s s", "\"h\u00e9 \u4e16^/x^/\""},
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
    EXPECT_EQ(eval("b: #{} call/input/output \"" + probe("echo") + "\" big b length? b"), "300000");
}

TEST_F(CallNative, ACaptureHoldsAtMostTheLargestSeries) {
    std::string flood = "o: \"\" e: \"\" call/output/error \"" + probe("flood") + "\" o e";
    {
        CaptureLimit limit(200000);  // what the probe writes to each stream
        EXPECT_EQ(eval(flood + " reduce [length? o length? e]"), "[200000 200000]");
    }
    {
        CaptureLimit limit(199999);
        EXPECT_EQ(eval(flood), "error: too-long");
        EXPECT_EQ(eval("reduce [o e]"), "[\"\" \"\"]");  // nothing delivered
    }
}

TEST_F(CallNative, AnEndlessProducerRaises) {
    CaptureLimit limit(1 << 20);
    std::string endless = "\"" + probe("endless") + "\"";
#ifndef _WIN32
    size_t handles = open_descriptors();
#endif
    check({
        {("s: \"kept\" call/output " + endless + " s").c_str(), "error: too-long"},
        {"s", "\"kept\""},
        {("b: #{} call/output " + endless + " b").c_str(), "error: too-long"},
        {("call/shell/output " + endless + " b").c_str(), "error: too-long"},  // the shell's child
#ifdef _WIN32
        // cmd goes on after its pipe is closed: it has to be ended.
        {"call/output {cmd /c for /l %i in (1,0,2) do @echo ................................................} b",
         "error: too-long"},
#else
        {"call/shell/output \"yes\" b", "error: too-long"},
        {"call/shell/output \"cat /dev/zero\" b", "error: too-long"},
        {"call/shell/error \"yes >&2\" b", "error: too-long"},
        {"call/shell/input/output \"yes\" \"unread\" b", "error: too-long"},
#endif
    });
#ifndef _WIN32
    // Every pipe is closed again.
    EXPECT_EQ(open_descriptors(), handles);
    // The child is ended and reaped, even one that outlives a closed pipe:
    // its process id is gone, not a zombie.
    EXPECT_EQ(eval("call/shell/output {echo $$ > " + dir + "pid; trap '' PIPE; while :; do echo " +
                   std::string(100, 'y') + "; done} b"),
              "error: too-long");
    int pid = std::atoi(files::read(dir + "pid", -1, -1).value_or("0").c_str());
    ASSERT_GT(pid, 0);
    EXPECT_EQ(kill(pid, 0), -1);
    EXPECT_EQ(errno, ESRCH);
#endif
}

#if !defined(_WIN32) && !defined(__SANITIZE_ADDRESS__)
TEST_F(CallNative, ACaptureThatRunsOutOfMemoryRaises) {
    // The product under an address-space limit far below the largest series.
    ASSERT_TRUE(files::write(dir + "zero.kel",
                             "Kel []\n"
                             "b: #{}\n"
                             "e: try [call/shell/output \"cat /dev/zero\" b]\n"
                             "print [e/id length? b]\n",
                             -1, false));
    ChildResult r = run_child("/bin/sh", {"-c", "ulimit -v 400000; exec \"$0\" \"$1\"", sibling("../kel"),
                                          dir + "zero.kel"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "no-memory 0\n") << r.err;
}
#endif

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
