// The operating-system services of the environment: the edition and
// architecture names, os-info against the system's own account, the HTTP
// client's header and line splitting (and its absence on POSIX), the
// clipboard's absence on POSIX, and a script's own exit: write-stdout and
// quit/return seen from a parent process.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "runtime/http.hpp"
#include "runtime/platform/os_info.hpp"
#include "tests/support/binary_hex.hpp"
#include "tests/support/child.hpp"
#include "tests/support/environment.hpp"

#ifdef _WIN32
#include <windows.h>  // last: it defines near and far
#endif

using namespace kel;
using namespace kel::test;

TEST(OsInfo, EditionNames) {
    struct Case {
        uint32_t major, minor, build;
        bool server;
        const char* name;
    } cases[] = {
        {10, 0, 22631, false, "11"},           {10, 0, 22000, false, "11"},
        {10, 0, 19045, false, "10"},           {10, 0, 21999, false, "10"},
        {10, 0, 14393, true, "Server 2016"},   {10, 0, 17134, true, "Server 2019"},
        {10, 0, 17763, true, "Server 2019"},   {10, 0, 20284, true, "Server 2019"},
        {10, 0, 20285, true, "Server 2022"},   {10, 0, 20348, true, "Server 2022"},
        {6, 1, 7601, true, "Server 2008 R2"},  {6, 1, 7601, false, "7"},
        {6, 0, 6002, true, "Server 2008"},     {6, 3, 9600, false, "8.1"},
        {6, 2, 9200, true, "Server 2012"},     {6, 3, 9600, true, "Server 2012 R2"},
        {5, 1, 2600, false, "XP"},             {5, 0, 2195, true, "2000"},
        {5, 2, 3790, true, "Server 2003"},     {5, 2, 3790, false, "XP"},
        // pairs the table does not know are named by their numbers
        {6, 4, 9841, false, "6.4"},            {5, 3, 0, true, "5.3"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(os::edition_name(c.major, c.minor, c.build, c.server), c.name)
            << c.major << "." << c.minor << " build " << c.build << (c.server ? " server" : "");
}

TEST(OsInfo, ArchitectureNames) {
    const std::pair<uint32_t, const char*> codes[] = {{0, "x86-32"}, {5, "ARM"},  {6, "IA-64"},
                                                      {9, "x86-64"}, {12, "ARM64"}, {7, "Unknown"}};
    for (const auto& [code, name] : codes) EXPECT_STREQ(os::arch_of_windows_code(code), name) << code;
    const std::pair<const char*, const char*> machines[] = {
        {"x86_64", "x86-64"}, {"aarch64", "ARM64"}, {"i686", "x86-32"}, {"armv7l", "ARM"}, {"riscv64", "Unknown"}};
    for (const auto& [machine, name] : machines) EXPECT_STREQ(os::arch_of_machine(machine), name) << machine;
}

namespace {

struct Os : WithEnvironment<WithSeries> {};

#ifndef _WIN32
std::string shell_line(const char* command) {
    std::string out;
    if (FILE* p = popen(command, "r")) {
        char buf[256];
        while (fgets(buf, sizeof buf, p)) out += buf;
        pclose(p);
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}
#else
std::string registry_text(const wchar_t* name) {
    wchar_t buf[256];
    DWORD size = sizeof buf;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows NT\\CurrentVersion", name, RRF_RT_REG_SZ,
                     nullptr, buf, &size) != ERROR_SUCCESS)
        return "";
    std::wstring w(buf);
    return std::string(w.begin(), w.end());
}
#endif

}  // namespace

// The record's fields against the system's own account of itself: uname on
// POSIX, the registry's CurrentVersion key under Windows.
TEST_F(Os, OsInfoAgreesWithTheSystem) {
    EXPECT_EQ(eval("words-of os-info"), "[name arch version build]");
#ifndef _WIN32
    EXPECT_EQ(eval("o: os-info o/name"), "\"" + shell_line("uname -s") + "\"");
    std::string machine = shell_line("uname -m");
    if (machine == "x86_64" || machine == "aarch64")
        EXPECT_EQ(eval("o: os-info o/arch"), machine == "x86_64" ? "x86-64" : "ARM64");
    std::string release = shell_line("uname -r");  // 6.1.0-18-amd64
    std::string version = eval("o: os-info o/version");
    EXPECT_EQ(release.compare(0, version.size(), version), 0) << release << " " << version;
#else
    std::string build = registry_text(L"CurrentBuild");
    ASSERT_FALSE(build.empty());
    EXPECT_EQ(eval("o: os-info o/build"), build);
    EXPECT_EQ(eval("o: os-info o/arch"), "x86-64");
    std::string name = eval("o: os-info o/name");
    EXPECT_EQ(name, std::stoi(build) >= 22000 ? "\"Windows 11\"" : "\"Windows 10\"");
    EXPECT_EQ(eval("o: os-info o/version"), "10.0.0");
#endif
}

TEST(Http, HeaderLines) {
    auto lines = http::parse_headers(
        "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nX:abc\r\nY:\t \tspaced \r\nno colon here\r\n"
        "Set-Cookie: a=1\r\nSet-Cookie: b=2\r\nEmpty:\r\nLast: unterminated");
    std::vector<std::pair<std::string, std::string>> expected = {
        {"Content-Type", "text/plain"}, {"X", "abc"},        {"Y", "spaced "},     {"Set-Cookie", "a=1"},
        {"Set-Cookie", "b=2"},          {"Empty", ""},       {"Last", "unterminated"}};
    EXPECT_EQ(lines, expected);
}

TEST(Http, BodyLines) {
    struct Case {
        std::string body;
        std::vector<std::string_view> lines;
    } cases[] = {
        {"a\r\nb", {"a", "b"}},          {"a\nb\n", {"a", "b"}},   {"", {}},
        {"\n\nx", {"", "", "x"}},        {"a\rb\n", {"a\rb"}},     {"one", {"one"}},
    };
    for (const Case& c : cases) EXPECT_EQ(http::split_lines(c.body), c.lines) << c.body;
}

#ifndef _WIN32
// Without a client, a request is refused with its own error, not no-connect;
// and there is no clipboard.
TEST_F(Os, NoHttpAndNoClipboardOnPosix) {
    EXPECT_EQ(eval("read http://127.0.0.1:9/"), "error: not-available");
    EXPECT_EQ(eval("write http://127.0.0.1:9/ \"a=1\""), "error: not-available");
    EXPECT_EQ(eval("e: try [read https://127.0.0.1:9/] reduce [e/type e/arg1]"), "[access \"HTTP\"]");
    EXPECT_EQ(eval("read-clipboard"), "false");
    EXPECT_EQ(eval("write-clipboard \"x\""), "false");
    EXPECT_EQ(eval("write-clipboard none"), "false");
}
#endif

// A script run by the product: what write-stdout writes arrives, and
// quit/return ends the process with the status, nothing after it run.
TEST(Quit, ReturnStatusReachesTheParent) {
    std::string script = temp_path("quit.kel");
    {
        std::ofstream out(script, std::ios::binary);
        out << "Kel []\nwrite-stdout \"caf\u00e9 \" write-stdout 42\nquit/return 3\nwrite-stdout \"after\"\n";
    }
    ChildResult r = run_child(sibling("../kel"), {script}, {{"KEL_FATAL_TO_STDERR", "1"}});
    std::remove(script.c_str());
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_EQ(r.out, "caf\u00e9 42");
}
