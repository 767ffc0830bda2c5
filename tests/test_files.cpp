// The whole-file services of the platform layer, on real files in a fresh
// directory: round trips, partial reads, listings, dates, rename and delete,
// and the promise that a failed write leaves the old file whole.
#include <gtest/gtest.h>

#include <random>

#include <csignal>
#include <ctime>
#include <cmath>
#include <filesystem>
#include <map>
#include <string>

#ifndef _WIN32
#include <sys/resource.h>
#include <unistd.h>
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
};

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
