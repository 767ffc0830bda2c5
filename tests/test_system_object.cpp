// The system object where the operating system or a fresh boot must take
// part: the platform word of the build, options/path against the process's
// current directory, changing directory through options/path in a
// temporary folder, and the currency list's limit of 255 codes (a Kel table
// could reach it only by filling the list for every table after it).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "runtime/platform/host.hpp"
#include "tests/support/binary_hex.hpp"
#include "tests/support/child.hpp"
#include "tests/support/environment.hpp"

using namespace kel;
using namespace kel::test;
namespace fs = std::filesystem;

namespace {

struct SystemObject : WithEnvironment<WithSeries> {
    fs::path saved = fs::current_path();
    fs::path root;
    void TearDown() override {
        fs::current_path(saved);
        if (!root.empty()) fs::remove_all(root);
        WithEnvironment<WithSeries>::TearDown();
    }
};

// A directory as a file! literal of the language's form: "/" separators,
// the drive as the first segment (/C/dir/ for C:\dir), a trailing "/".
std::string kel_dir(const fs::path& p) {
    std::string s = p.generic_string();
    if (s.size() >= 2 && s[1] == ':') s = "/" + s.substr(0, 1) + s.substr(2);
    if (s.empty() || s.back() != '/') s += '/';
    return "%\"" + s + "\"";
}

std::string path_is(const fs::path& p) { return eval("system/options/path = " + kel_dir(p)); }

}  // namespace

TEST_F(SystemObject, PlatformIsTheBuildsSystem) {
    const char* os = os::windows ? "Windows" : "Linux";
    EXPECT_EQ(eval("system/platform"), os);
    EXPECT_EQ(eval("system/build/config/OS"), os);
}

TEST_F(SystemObject, PathIsTheProcessDirectory) {
    EXPECT_EQ(path_is(fs::current_path()), "true");
#ifndef _WIN32
    ChildResult r = run_child("/usr/bin/env", {"python3", "-c", "import os; print(os.getcwd())"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::string cwd = r.out.substr(0, r.out.find('\n'));
    EXPECT_EQ(path_is(cwd), "true") << cwd;
#endif
}

// root/sub/sub exists too: a change applied twice would land there.
TEST_F(SystemObject, PathChangesTheProcessDirectory) {
    root = temp_path("options_path");
    fs::remove_all(root);
    fs::create_directories(root / "sub" / "sub");
    auto here_is = [](const fs::path& p) { return fs::equivalent(fs::current_path(), p); };

    EXPECT_EQ(eval("system/options/path: " + kel_dir(root) + " none"), "none");
    EXPECT_TRUE(here_is(root));
    EXPECT_EQ(path_is(root), "true");

    // An append acts once, with the whole new value.
    EXPECT_EQ(eval("append system/options/path %sub/ none"), "none");
    EXPECT_TRUE(here_is(root / "sub"));
    EXPECT_EQ(path_is(root / "sub"), "true");

    // What is no file, and a directory that does not exist, change nothing.
    struct Refused {
        std::string source;
        const char* error;
    } refused[] = {
        {"system/options/path: \"..\"", "error: invalid-type"},
        {"system/options/path: " + kel_dir(root / "missing"), "error: cannot-open"},
        {"append system/options/path %missing/", "error: cannot-open"},
    };
    for (const Refused& r : refused) {
        EXPECT_EQ(eval(r.source), r.error) << r.source;
        EXPECT_TRUE(here_is(root / "sub")) << r.source;
        EXPECT_EQ(path_is(root / "sub"), "true") << r.source;
    }

    // A relative file goes from where the process is.
    EXPECT_EQ(eval("system/options/path: %../ none"), "none");
    EXPECT_TRUE(here_is(root));
}

// The list holds 255 codes at most: a money cell keeps a code's position in
// one byte. The 255th code is money's like any other.
TEST_F(SystemObject, CurrencyListHoldsAtMost255Codes) {
    std::string codes;
    for (int i = 0; i < 255 - 170; ++i) codes += std::string(" Q") + char('Q' + i / 26) + char('A' + i % 26);
    EXPECT_EQ(eval("list: system/locale/currencies/list foreach code [" + codes + "] [append list code] length? list"),
              "255");
    EXPECT_EQ(eval("last list"), "QTG");
    EXPECT_EQ(eval("mold first transcode \"qtg$1\""), "\"QTG$1.00\"");
    EXPECT_EQ(eval("append list 'QTH"), "error: protected");
    EXPECT_EQ(eval("length? list"), "255");
    EXPECT_EQ(eval("transcode \"QTH$1\""), "error: invalid");
}
