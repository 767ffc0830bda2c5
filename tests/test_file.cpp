// file!: the host form of paths, the molded form, and the file actions as
// Kel code run in a fresh current directory.
#include <gtest/gtest.h>

#include <random>

#include <ctime>
#include <filesystem>

#include "runtime/datatypes/file.hpp"
#include "runtime/simpleio.hpp"
#include "runtime/platform/files.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/platform/env.hpp"
#include "tests/support/environment.hpp"

using namespace kel;
using namespace kel::test;
namespace fs = std::filesystem;

namespace {

// The host forms of both hosts, whichever this build is.
TEST(FileHostForm, BothHosts) {
    struct Case {
        const char32_t* path;
        bool full;
        const char32_t* windows;
        const char32_t* posix;
    } cases[] = {
        {U"/c/Windows", false, U"c:\\Windows", U"/c/Windows"},
        {U"/c", false, U"c:\\", U"/c"},
        {U"/c/", false, U"c:\\", U"/c/"},
        {U"//tmp/a", false, U"\\tmp\\a", U"/tmp/a"},
        {U"/server/share/a.txt", false, U"\\\\server\\share\\a.txt", U"/server/share/a.txt"},
        {U"/", false, U"\\", U"/"},
        {U"dir/a.txt", false, U"dir\\a.txt", U"dir/a.txt"},
        {U"dir/a.txt", true, U"C:\\cur\\dir\\a.txt", U"/cur/dir/a.txt"},
        {U"/d/x", true, U"d:\\x", U"/d/x"},
        {U"", true, U"C:\\cur\\", U"/cur/"},
        {U"日本/é", false, U"日本\\é", U"日本/é"},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(file::local_text(c.path, c.full, U"C:\\cur\\", file::Host::windows) == c.windows);
        EXPECT_TRUE(file::local_text(c.path, c.full, U"/cur/", file::Host::posix) == c.posix);
    }
    std::u32string cur = file::current_dir();
    ASSERT_FALSE(cur.empty());
    EXPECT_EQ(cur.back(), file::host == file::Host::windows ? U'\\' : U'/');
}

TEST(FileHostForm, DirectoryLike) {
    for (const char32_t* p : {U"a/", U"a\\", U".", U"..", U"a/.", U"a/..", U"/"}) EXPECT_TRUE(file::directory_like(p));
    for (const char32_t* p : {U"", U"a", U"a.b", U"a/.b", U"a/b..", U"..a"}) EXPECT_FALSE(file::directory_like(p));
}

// Host paths in the language's form: Windows paths lose their backslashes
// and drive colons; POSIX paths are that form already, colons and all.
TEST(FileHostForm, KelForm) {
    struct Case {
        const char32_t* local;
        const char32_t* kel;
    } windows[] = {
        {U"C:\\Users\\me", U"/C/Users/me"},
        {U"C:", U"/C/"},
        {U"C:\\", U"/C/"},
        {U"a\\\\b\\", U"a/b/"},           // a run of separators is one "/"
        {U"\\\\srv\\share", U"/srv/share"},
        {U"C:\\a:b", U"C/a"},                // a second colon ends it, with no leading "/"
        {U"C:\\x\\:y", U"C/x/"},
        {U"d:/mixed\\seps/", U"/d/mixed/seps/"},
        {U"", U""},
        {U"\u65e5\u672c\\\u00e9", U"\u65e5\u672c/\u00e9"},
    };
    for (const Case& c : windows) EXPECT_TRUE(file::kel_text(c.local, file::Host::windows) == c.kel);
    EXPECT_TRUE(file::kel_text(U"/tmp/a:b//c\\d", file::Host::posix) == U"/tmp/a:b//c\\d");
}

// Cases that run in a directory of their own, made fresh for each test.
struct FileActions : WithEnvironment<WithSeries> {
    std::string saved, dir;
    void SetUp() override {
        WithEnvironment::SetUp();
        saved = sysrt::get_current_dir().value_or(".");
        fs::path base = fs::temp_directory_path() / ("kel-file-" + std::to_string(std::random_device{}()) + "-" +
                                                     std::to_string(std::time(nullptr)));
        fs::create_directories(base);
        dir = reinterpret_cast<const char*>(base.u8string().c_str());
        ASSERT_TRUE(sysrt::set_current_dir(dir));
    }
    void TearDown() override {
        sysrt::set_current_dir(saved);
        std::error_code ec;
        fs::remove_all(fs::u8path(dir), ec);
        WithEnvironment::TearDown();
    }
};

TEST_F(FileActions, ReadBackWhatWasWritten) {
    check({
        {"write %t.txt {}  read %t.txt", "\"\""},
        {"write %t.txt \"a^/b^/\"  read %t.txt", "\"a^/b^/\""},
        {"write %t.txt \"a^M^/b^M^/\"  read %t.txt", "\"a^M^/b^M^/\""},
        {"write %t.txt \"a^Mb^M\"  read %t.txt", "\"a^Mb^M\""},
        {"write %t.txt \"café 日本\"  read %t.txt", "\"café 日本\""},
        {"write %t.txt 12  read %t.txt", "\"12\""},  // other values are formed
        {"write %t.txt \"x^/y^M^/^/z\"  read/lines %t.txt", "[\"x\" \"y\" \"\" \"z\"]"},
        {"write %t.txt \"x^/\"  read/lines %t.txt", "[\"x\"]"},
        {"write/lines %t.txt [\"a\" 1]  read %t.txt", "\"a^M^/1^M^/\""},
        {"write/lines %t.txt \"a\"  read/lines %t.txt", "[\"a\"]"},
        {"write %t.txt \"ab\"  write/append %t.txt \"cd\"  read %t.txt", "\"abcd\""},
        {"write %t.txt \"abcdef\"  write/seek %t.txt \"XY\" 2  read %t.txt", "\"abXYef\""},
        {"write %t.txt \"abcdef\"  write/seek %t.txt \"XY\" -1  read %t.txt", "\"abcdef\""},
        {"write %t.txt \"abcdef\"  read/part %t.txt 2", "\"ab\""},
        {"write %t.txt \"abcdef\"  read/part %t.txt 0", "\"\""},
        {"write %t.txt \"abcdef\"  read/part %t.txt 99", "\"abcdef\""},
        {"write %t.txt \"abcdef\"  read/seek/part %t.txt 1 2", "\"bc\""},
        {"write %t.txt \"abcdef\"  read/seek %t.txt 9", "\"\""},
        {"write %t.txt \"é\"  length? read/binary %t.txt", "2"},
        {"write %t.txt {}  length? read/binary %t.txt", "0"},
        {"write %\"sp ace é.txt\" \"n\"  read %\"sp ace é.txt\"", "\"n\""},
        {"write %日本.txt \"j\"  read %日本.txt", "\"j\""},
        // Text is decoded strictly: a byte-order mark is dropped, bytes that
        // are not UTF-8 raise rather than turn into replacement characters.
        {"write %t.txt #{EFBBBF61}  read %t.txt", "\"a\""},
        {"write %t.txt #{61FF62}  e: try [read %t.txt]  e/id", "invalid-utf8"},
        {"write %t.txt #{610A62FF0A}  e: try [read/lines %t.txt]  e/id", "invalid-utf8"},
    });
}

TEST_F(FileActions, BinaryRoundTrip) {
    std::string every_byte;
    for (int i = 0; i < 256; ++i) every_byte.push_back(char(i));
    ASSERT_TRUE(files::write(dir + "/b.bin", every_byte, -1, false));
    EXPECT_EQ(eval("length? read/binary %b.bin"), "256");
    // Written back from the binary! read, byte for byte.
    EXPECT_EQ(eval("write %c.bin read/binary %b.bin  length? read/binary %c.bin"), "256");
    EXPECT_EQ(files::read(dir + "/c.bin", -1, -1), every_byte);
}

TEST_F(FileActions, DirectoriesQueryRenameDelete) {
    fs::create_directories(fs::u8path(dir + "/d/süb"));
    check({
        {"write %d/b.txt {}  write %d/a.txt {}  sort read %d/", "[%a.txt %b.txt %süb/]"},
        {"sort read %d/.", "[%a.txt %b.txt %süb/]"},
        {"read %d/süb/", "[]"},
        {"none = query %d/a.txt", "false"},
        {"none = query %d/nothing.txt", "true"},
        {"none = query %d/a.txt/", "true"},  // not a directory
        {"none = query %d/", "false"},
        {"rename %d/a.txt %d/c.txt", "true"},
        {"rename %d/b.txt %d/c.txt", "false"},  // the target exists
        {"sort read %d/", "[%b.txt %c.txt %süb/]"},
        {"delete %d/c.txt", "true"},
        {"delete %d/c.txt", "false"},
        {"delete %d/", "false"},  // not empty
        {"delete %d/süb/", "true"},
        {"delete %d/b.txt  delete %d/", "true"},
        {"read %d/", "error: cannot-open"},
        {"read %missing.txt", "error: cannot-open"},
        {"write %missing/f.txt \"x\"", "error: cannot-open"},
        {"write %t.txt \"x\"  read/as %t.txt 'utf-8", "error: not-done"},
        {"write/as %t.txt \"x\" 'utf-8", "error: not-done"},
        {"write/allow %t.txt \"x\" [read]", "error: not-done"},
        {"read/seek %t.txt \"1\"", "error: invalid-refine-arg"},
        {"write/seek %t.txt \"y\" 1.5", "error: invalid-refine-arg"},
        {"rename %t.txt 12", "error: invalid-arg"},
    });
    Cell* top = stack::top;
    Cell* source = stack::push_slot();
    lexer::load_utf8("%t.txt", 6, lexer::ScanOptions{}, source);
    Cell* file = stack::push(block::ks_abs_at(source, 0));
    EXPECT_EQ(cell::type_of(simpleio::query_file(file)), type::date);
    stack::top = top;
}

// A NUL in a name would cut it where the system takes it, so that another
// file is touched: every way a name reaches the system raises invalid-arg
// instead, and nothing is touched.
TEST_F(FileActions, ANulInANameTouchesNothing) {
    ASSERT_EQ(eval("write %a \"old\"  read %a"), "\"old\"");
    fs::create_directories(fs::u8path(dir + "/d"));
    const char* sources[] = {
        "write %\"a^@b\" \"x\"",
        "write/append %\"a^@b\" \"x\"",
        "write/seek %\"a^@b\" \"x\" 0",
        "write/lines %\"d^@x/a\" [\"x\"]",
        "read %\"a^@b\"",
        "read/binary %\"a^@b\"",
        "read/lines %\"a^@b\"",
        "read %\"d^@x/\"",
        "delete %\"a^@b\"",
        "delete %\"d^@x/\"",
        "query %\"a^@b\"",
        "rename %\"a^@b\" %c",
        "rename %a %\"c^@d\"",
        "size? %\"a^@b\"",
        "checksum %\"a^@b\" 'sha1",
        "do %\"a^@b\"",
        "call/output \"true\" %\"a^@b\"",
        "call/input \"true\" %\"a^@b\"",
    };
    for (const char* source : sources) EXPECT_EQ(eval(source), "error: invalid-arg") << source;
    check({
        {"read %a", "\"old\""},
        {"sort read %./", "[%a %d/]"},
        {"read %d/", "[]"},
        {"to-local-file %\"a^@b\"", "\"a^@b\""},  // text, not handed to the system
    });
}

// Text is encoded as it is written, a piece at a time: pieces that end in
// the middle of the text, characters of every width, values after it.
TEST_F(FileActions, WritesEncodeTextInPieces) {
    check({
        {"s: copy \"\"  loop 40000 [append s \"é日x😀\"]  write %t.txt s  (read %t.txt) = s", "true"},
        {"length? read/binary %t.txt", "400000"},
        {"write %t.txt skip s 159999  read %t.txt", "\"😀\""},
        {"write/lines %t.txt reduce [s 12 #{41} \"\" [1 \"b\"]]  (read %t.txt) = append copy s \"^M^/12^M^/A^M^/^M^/1 b^M^/\"",
         "true"},
        {"write/part %t.txt #{414243} 2  read %t.txt", "\"AB\""},
        {"write %t.txt \"\"  length? read/binary %t.txt", "0"},
    });
}

#ifndef _WIN32
// A device without end is read only as far as asked.
TEST_F(FileActions, ReadsOfADeviceWithoutEnd) {
    check({
        {"read/binary/part %/dev/zero 3", "#{000000}"},
        {"write %/dev/null \"x\"  read %/dev/null", "\"\""},
    });
}
#endif

// The molded form, loaded back to the same text.
TEST_F(FileActions, Mold) {
    struct Case {
        const char* source;
        const char* molded;
    } cases[] = {
        {"%\"\"", "%\"\""},
        {"%abc/d-e_f~.txt", "%abc/d-e_f~.txt"},
        {"%\"a b\"", "%\"a b\""},
        {"%café", "%café"},  // above 126: no quotes
        {"%\"a;b\"", "%\"a;b\""},
        {"%\"a^^b\"", "%\"a^^b\""},
        {"%\"a^(22)b\"", "%\"a^(22)b\""},  // a bare quote would end the file
        {"%\"a^-b\"", "%\"a^-b\""},
    };
    for (const Case& c : cases) {
        Cell* top = stack::top;
        Cell* source = stack::push_slot();
        lexer::load_utf8(c.source, std::strlen(c.source), lexer::ScanOptions{}, source);
        Cell value = *block::ks_abs_at(source, 0);
        std::string molded = mold(value);
        EXPECT_EQ(molded, c.molded) << c.source;
        Cell* again = stack::push_slot();
        lexer::load_utf8(molded.data(), molded.size(), lexer::ScanOptions{}, again);
        EXPECT_EQ(string::to_utf8(block::ks_abs_at(again, 0)), string::to_utf8(&value)) << c.source;
        stack::top = top;
    }
}

TEST_F(FileActions, LocalForms) {
    std::string cwd = dir + (file::host == file::Host::windows ? "\\" : "/");
    for (char& c : cwd)
        if (file::host == file::Host::windows && c == '/') c = '\\';
    check({
        {"to-local-file %a/b", file::host == file::Host::windows ? "\"a\\b\"" : "\"a/b\""},
        {"to-local-file \"x\"", "\"x\""},
    });
    // Compared as text: a long string molds in braces.
    std::string full = "(to-local-file/full %a) = \"" + cwd + "a\"";
    EXPECT_EQ(eval(full.c_str()), "true") << full;
    EXPECT_EQ(eval("to-local-file/full %/c/a"), file::host == file::Host::windows ? "\"c:\\a\"" : "\"/c/a\"");
}

}  // namespace
