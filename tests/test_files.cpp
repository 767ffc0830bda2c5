// The whole-file services of the platform layer, on real files in a fresh
// directory: round trips, partial reads, listings, dates, rename and delete,
// and the promise that a failed write leaves the old file whole.
#include <gtest/gtest.h>

#include <random>

#include <csignal>
#include <ctime>
#include <cmath>
#include <filesystem>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>
#endif

#include "runtime/platform/files.hpp"

using namespace kel;
namespace fs = std::filesystem;

namespace {

struct Files : ::testing::Test {
    std::string dir;  // UTF-8, ending in "/"
    void SetUp() override {
        // Unique per run: tests run in parallel processes.
        fs::path base = fs::temp_directory_path() / ("kel-files-" + std::to_string(std::random_device{}()) + "-" +
                                                     std::to_string(std::time(nullptr)));
        fs::create_directories(base);
        dir = reinterpret_cast<const char*>(base.u8string().c_str());
        dir += "/";
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(fs::u8path(dir), ec);
    }
    std::string at(const std::string& name) const { return dir + name; }
    // The names in the directory that look like a write's temporary file.
    std::vector<std::string> temporaries() const {
        std::vector<std::string> found;
        for (const auto& e : fs::recursive_directory_iterator(fs::u8path(dir))) {
            std::string name = reinterpret_cast<const char*>(e.path().filename().u8string().c_str());
            if (name.size() > 1 && name[0] == '.' && name.back() == '~') found.push_back(name);
        }
        return found;
    }
};

// The bytes as pieces of n bytes, the last throwing when `fail` is set.
files::Pieces pieces_of(const std::string& bytes, size_t n, bool fail = false) {
    return [&bytes, n, fail, at = size_t(0)]() mutable -> std::string_view {
        if (at >= bytes.size()) {
            if (fail) throw std::runtime_error("a piece that cannot be made");
            return {};
        }
        std::string_view piece = std::string_view(bytes).substr(at, n);
        at += piece.size();
        return piece;
    };
}

TEST_F(Files, ReadsBackWhatWasWritten) {
    std::string every_byte;
    for (int i = 0; i < 256; ++i) every_byte.push_back(char(i));
    const std::string contents[] = {
        "", "one line", "a\nb\n", "a\r\nb\r\n", "a\rb\r", "mixed\r\n\n\r\rend", "caf\xC3\xA9 \xE6\x97\xA5\n",
        every_byte, std::string(200000, 'x') + every_byte,
    };
    for (const std::string& c : contents) {
        ASSERT_TRUE(files::write(at("f.bin"), c, -1, false));
        EXPECT_EQ(files::read(at("f.bin"), -1, -1), c);
        EXPECT_EQ(files::size(at("f.bin")), int64_t(c.size()));
    }
}

TEST_F(Files, PartsSeeksAndAppends) {
    ASSERT_TRUE(files::write(at("p.txt"), "0123456789", -1, false));
    struct Case {
        int64_t seek, part;
        const char* expected;
    } cases[] = {
        {-1, 0, ""}, {-1, 3, "012"}, {-1, 100, "0123456789"}, {4, -1, "456789"},
        {4, 2, "45"}, {10, -1, ""}, {50, 5, ""},
    };
    for (const Case& c : cases) EXPECT_EQ(files::read(at("p.txt"), c.seek, c.part), c.expected) << c.seek << " " << c.part;

    ASSERT_TRUE(files::write(at("p.txt"), "ab", -1, true));
    EXPECT_EQ(files::read(at("p.txt"), -1, -1), "0123456789ab");
    ASSERT_TRUE(files::write(at("p.txt"), "XY", 3, false));  // over the file, the rest stays
    EXPECT_EQ(files::read(at("p.txt"), -1, -1), "012XY56789ab");
    ASSERT_TRUE(files::write(at("p.txt"), "Z", 14, false));  // past the end: a gap of zero bytes
    EXPECT_EQ(files::read(at("p.txt"), -1, -1), std::string("012XY56789ab\0\0Z", 15));
    ASSERT_TRUE(files::write(at("new.txt"), "n", -1, true));  // append makes the file
    EXPECT_EQ(files::read(at("new.txt"), -1, -1), "n");
}

TEST_F(Files, MissingFilesAndDirectories) {
    EXPECT_FALSE(files::read(at("none.txt"), -1, -1));
    EXPECT_FALSE(files::read(dir, -1, -1));  // a directory is not read as a file
    EXPECT_FALSE(files::list(at("none/")));
    EXPECT_FALSE(files::modified(at("none.txt"), false));
    EXPECT_FALSE(files::size(at("none.txt")));
    EXPECT_FALSE(files::size(dir));
    EXPECT_FALSE(files::remove(at("none.txt"), false));
    EXPECT_FALSE(files::rename(at("none.txt"), at("other.txt")));
    EXPECT_FALSE(files::write(at("none/f.txt"), "x", -1, false));
    EXPECT_FALSE(files::exists(at("none.txt")));
}

TEST_F(Files, ListsADirectoryWithNonAsciiNames) {
    const std::string names[] = {"plain.txt", "caf\xC3\xA9.txt", "\xE6\x97\xA5\xE6\x9C\xAC", "sp ace"};
    for (const std::string& n : names) ASSERT_TRUE(files::write(at(n), n, -1, false)) << n;
    ASSERT_TRUE(files::make_dir(at("sub\xC3\xBC")));
    EXPECT_FALSE(files::make_dir(at("sub\xC3\xBC")));
    std::optional<std::vector<files::Entry>> entries = files::list(dir);
    ASSERT_TRUE(entries);
    std::map<std::string, bool> seen;
    for (const files::Entry& e : *entries) seen[e.name] = e.directory;
    std::map<std::string, bool> expected{{"sub\xC3\xBC", true}};
    for (const std::string& n : names) expected[n] = false;
    EXPECT_EQ(seen, expected);
    for (const std::string& n : names) EXPECT_EQ(files::read(at(n), -1, -1), n);
    EXPECT_TRUE(files::is_directory(at("sub\xC3\xBC")));
    EXPECT_TRUE(files::list(at("sub\xC3\xBC"))->empty());
}

TEST_F(Files, DatesRenameAndDelete) {
    std::time_t before = std::time(nullptr);
    ASSERT_TRUE(files::write(at("d.txt"), "x", -1, false));
    std::optional<files::Stamp> s = files::modified(at("d.txt"), false);
    ASSERT_TRUE(s);
    std::tm t{};
    t.tm_year = s->year - 1900, t.tm_mon = s->month - 1, t.tm_mday = s->day;
    t.tm_hour = s->hour, t.tm_min = s->minute, t.tm_sec = s->second;
#ifdef _WIN32
    std::time_t stamp = _mkgmtime(&t);
#else
    std::time_t stamp = timegm(&t);
#endif
    EXPECT_LE(std::abs(double(stamp - before)), 5.0) << "the date is in UTC";
    EXPECT_FALSE(files::modified(at("d.txt"), true));  // not a directory
    EXPECT_TRUE(files::modified(dir, true));

    ASSERT_TRUE(files::write(at("e.txt"), "e", -1, false));
    EXPECT_FALSE(files::rename(at("d.txt"), at("e.txt"))) << "an existing target is kept";
    EXPECT_EQ(files::read(at("e.txt"), -1, -1), "e");
    EXPECT_TRUE(files::rename(at("d.txt"), at("\xC3\xA9.txt")));
    EXPECT_EQ(files::read(at("\xC3\xA9.txt"), -1, -1), "x");

    ASSERT_TRUE(files::make_dir(at("full")));
    ASSERT_TRUE(files::write(at("full/f"), "f", -1, false));
    EXPECT_FALSE(files::remove(at("full/"), true)) << "a directory with files stays";
    EXPECT_FALSE(files::remove(at("full/f"), true));
    EXPECT_TRUE(files::remove(at("full/f"), false));
    EXPECT_TRUE(files::remove(at("full/"), true));
    EXPECT_FALSE(files::exists(at("full")));
}

// A whole-file write on each kind of target: the bytes reach what the path
// names, which stays the kind of thing it was, and no temporary file is left.
TEST_F(Files, AWholeWriteKeepsWhatTheTargetIs) {
    const std::string bytes = "new bytes";
    bool root = false;
#ifndef _WIN32
    root = geteuid() == 0;
    std::thread reader;
    std::string heard;
#endif
    struct Case {
        const char* what;
        std::function<std::string()> make;  // the path to write; empty: not on this host
        bool written;
        std::function<void(const std::string&)> check;
    };
    const Case cases[] = {
#ifndef _WIN32
        {"the null device",
         [] { return std::string("/dev/null"); }, true,
         [](const std::string& p) {
             struct stat st {};
             ASSERT_EQ(stat(p.c_str(), &st), 0);
             EXPECT_TRUE(S_ISCHR(st.st_mode));
         }},
        {"a pipe with a reader",
         [&] {
             if (mkfifo(at("fifo").c_str(), 0600) != 0) return std::string();
             reader = std::thread([&] { heard = *files::read(at("fifo"), -1, -1); });
             return at("fifo");
         },
         true,
         [&](const std::string& p) {
             reader.join();
             EXPECT_EQ(heard, bytes);
             struct stat st {};
             ASSERT_EQ(lstat(p.c_str(), &st), 0);
             EXPECT_TRUE(S_ISFIFO(st.st_mode));
         }},
        {"a file whose permission bits are kept",
         [&] {
             files::write(at("mode"), "old", -1, false);
             chmod(at("mode").c_str(), 0640);
             return at("mode");
         },
         true,
         [&](const std::string& p) {
             struct stat st {};
             ASSERT_EQ(stat(p.c_str(), &st), 0);
             EXPECT_EQ(st.st_mode & 07777, 0640u);
             EXPECT_EQ(files::read(p, -1, -1), bytes);
         }},
        {root ? "a path through a plain file" : "a file in a read-only directory",
         [&] {
             if (root) {
                 files::write(at("plain"), "old", -1, false);
                 return at("plain/f");
             }
             files::make_dir(at("ro"));
             files::write(at("ro/f"), "old", -1, false);
             chmod(at("ro").c_str(), 0555);
             return at("ro/f");
         },
         false,
         [&](const std::string&) {
             EXPECT_EQ(files::read(at(root ? "plain" : "ro/f"), -1, -1), "old");
             if (!root) chmod(at("ro").c_str(), 0755);
         }},
#endif
        {"a symbolic link to a file",
         [&] {
             files::write(at("named"), "old", -1, false);
             std::error_code ec;
             fs::create_symlink("named", fs::u8path(at("link")), ec);
             return ec ? std::string() : at("link");
         },
         true,
         [&](const std::string& p) {
             EXPECT_TRUE(fs::is_symlink(fs::u8path(p)));
             EXPECT_EQ(files::read(at("named"), -1, -1), bytes);
         }},
        {"a file with two names",
         [&] {
             files::write(at("first"), "old", -1, false);
             std::error_code ec;
             fs::create_hard_link(fs::u8path(at("first")), fs::u8path(at("second")), ec);
             return ec ? std::string() : at("second");
         },
         true,
         [&](const std::string& p) {
             EXPECT_EQ(files::read(at("first"), -1, -1), bytes);
             // Still one file: a write through one name shows through the other.
             ASSERT_TRUE(files::write(at("first"), "third", -1, false));
             EXPECT_EQ(files::read(p, -1, -1), "third");
         }},
        {"a name of 255 bytes", [&] { return at(std::string(255, 'n')); }, true,
         [&](const std::string& p) { EXPECT_EQ(files::read(p, -1, -1), bytes); }},
        {"a name of 85 three-byte characters",
         [&] {
             std::string name;
             for (int i = 0; i < 85; ++i) name += "\xE6\x97\xA5";
             files::write(at(name), "old", -1, false);
             return at(name);
         },
         true, [&](const std::string& p) { EXPECT_EQ(files::read(p, -1, -1), bytes); }},
        {"a directory", [&] { files::make_dir(at("dir")); return at("dir"); }, false,
         [&](const std::string& p) { EXPECT_TRUE(files::is_directory(p)); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string path = c.make();
        if (path.empty()) continue;  // this host cannot make one
        EXPECT_EQ(files::write(path, bytes, -1, false), c.written);
        c.check(path);
        EXPECT_TRUE(temporaries().empty());
    }
}

// A write that stops half-way (a piece throws) leaves the old file whole,
// makes no new one and leaves no temporary file behind.
TEST_F(Files, AnInterruptedWriteLeavesNothingBehind) {
    std::string big(300000, 'b');
    ASSERT_TRUE(files::write(at("keep.txt"), "old", -1, false));
    for (int64_t seek : {-1, 2}) {
        EXPECT_THROW(files::write(at("keep.txt"), pieces_of(big, 65536, true), seek, false), std::runtime_error);
        EXPECT_THROW(files::write(at("new.txt"), pieces_of(big, 65536, true), seek, false), std::runtime_error);
    }
    EXPECT_EQ(files::read(at("keep.txt"), -1, -1), "old");
    EXPECT_FALSE(files::exists(at("new.txt")));
    EXPECT_TRUE(temporaries().empty());
    // Whole, the pieces make the file, over it from an offset too.
    ASSERT_TRUE(files::write(at("keep.txt"), pieces_of(big, 65536), -1, false));
    EXPECT_EQ(files::read(at("keep.txt"), -1, -1), big);
    ASSERT_TRUE(files::write(at("keep.txt"), pieces_of(std::string("xyz"), 1), 299999, false));
    EXPECT_EQ(files::read(at("keep.txt"), -1, -1), std::string(299999, 'b') + "xyz");
}

// A read holds at most its limit: a longer file, or a device without end,
// fails with too_long instead of growing without bound.
TEST_F(Files, AReadHoldsNoMoreThanItsLimit) {
    ASSERT_TRUE(files::write(at("f"), std::string(100, 'f'), -1, false));
    files::Failure why = files::Failure::cannot_open;
    EXPECT_EQ(files::read(at("f"), -1, -1, 100), std::string(100, 'f'));
    EXPECT_EQ(files::read(at("f"), -1, 50, 60), std::string(50, 'f'));
    EXPECT_EQ(files::read(at("f"), 10, -1, 90), std::string(90, 'f'));
    EXPECT_FALSE(files::read(at("f"), -1, -1, 99, &why));
    EXPECT_EQ(why, files::Failure::too_long);
    EXPECT_FALSE(files::read(at("none"), -1, -1, 99, &why));
    EXPECT_EQ(why, files::Failure::cannot_open);
#ifndef _WIN32
    why = files::Failure::cannot_open;
    EXPECT_FALSE(files::read("/dev/zero", -1, -1, 1 << 20, &why));
    EXPECT_EQ(why, files::Failure::too_long);
    EXPECT_EQ(files::read("/dev/zero", -1, 1000, 1 << 20), std::string(1000, '\0'));
#endif
}

// The temporary file's name fits where the target's does, cut between characters.
TEST(FilesTemporaryName, FitsTheNameLimit) {
    std::string wide3, wide4;
    for (int i = 0; i < 100; ++i) wide3 += "\xE6\x97\xA5", wide4 += "\xF0\x9F\x98\x80";
    for (const std::string& base : {std::string("a.txt"), std::string(255, 'n'), std::string(244, 'n'), wide3, wide4}) {
        std::string name = files::temporary_name(base, "0123abcd");
        EXPECT_LE(name.size(), 255u) << base;
        EXPECT_EQ(name.substr(name.size() - 10), ".0123abcd~");
        std::string kept = name.substr(1, name.size() - 11);
        EXPECT_EQ(base.substr(0, kept.size()), kept);
        EXPECT_TRUE(kept.size() == base.size() || (static_cast<unsigned char>(base[kept.size()]) & 0xC0) != 0x80);
    }
    EXPECT_EQ(files::temporary_name("a.txt", "0123abcd"), ".a.txt.0123abcd~");
}

#ifndef _WIN32
// A write that fails half-way (here: the file size limit of the process)
// leaves the old content, not a truncated file, and no temporary behind.
TEST_F(Files, AFailedWriteKeepsTheOldFile) {
    std::string old(100, 'o');
    ASSERT_TRUE(files::write(at("keep.txt"), old, -1, false));
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = 10;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    bool replaced = files::write(at("keep.txt"), std::string(1000, 'n'), -1, false);
    bool over = files::write(at("keep.txt"), std::string(1000, 'n'), 2, false);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_FALSE(replaced);
    EXPECT_FALSE(over);
    EXPECT_EQ(files::read(at("keep.txt"), -1, -1), old);
    EXPECT_EQ(files::list(dir)->size(), 1u);
}

TEST_F(Files, AWriteInAReadOnlyDirectoryKeepsTheOldFile) {
    if (geteuid() == 0) GTEST_SKIP() << "the superuser writes anywhere";
    ASSERT_TRUE(files::make_dir(at("ro")));
    ASSERT_TRUE(files::write(at("ro/f.txt"), "old", -1, false));
    chmod(at("ro").c_str(), 0555);
    EXPECT_FALSE(files::write(at("ro/f.txt"), "new", -1, false));
    chmod(at("ro").c_str(), 0755);
    EXPECT_EQ(files::read(at("ro/f.txt"), -1, -1), "old");
}
#endif

}  // namespace
