// compress and decompress as Kel code: round trips of every method and
// level, the container header bytes, truncated, corrupt and forged inputs,
// the /size limit, the optional gzip header fields, and (on Linux) data
// exchanged with the gzip and zstd tools and Python's zlib in both
// directions and the C heap running out.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#ifndef _WIN32
#include <sys/resource.h>
#include <unistd.h>
#endif

#include "runtime/alloc.hpp"
#include "runtime/natives/checksum.hpp"
#include "tests/support/binary_hex.hpp"
#include "tests/support/child.hpp"
#include "tests/support/environment.hpp"

using namespace kel;
using namespace kel::test;

namespace {

struct Compress : WithEnvironment<WithSeries> {
    void SetUp() override {
        WithEnvironment::SetUp();
        eval(hex_source);
    }
};

const char* const methods[] = {"zlib", "deflate", "gzip", "zstd"};

std::string hex_of(const std::string& bytes) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string s;
    for (unsigned char c : bytes) s += digits[c >> 4], s += digits[c & 15];
    return s;
}

std::string bytes_of(const std::string& hex) {
    std::string s;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) s += char(std::stoi(hex.substr(i, 2), nullptr, 16));
    return s;
}

// Random bytes with runs of repeated text, so that the codecs find matches.
std::string sample(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s;
    while (s.size() < n) {
        if (rng() % 3) s += "the quick brown fox " + std::to_string(rng() % 50) + "; ";
        else
            for (int i = 0; i < 20; ++i) s += char(rng());
    }
    s.resize(n);
    return s;
}

// The bytes Kel's compress makes, or "error: id".
std::string kel_compress(const std::string& data, const std::string& method, int level = 0) {
    std::string source = "hex compress";
    if (level) source += "/level";
    source += " #{" + hex_of(data) + "} '" + method;
    if (level) source += " " + std::to_string(level);
    std::string r = eval(source.c_str());
    if (r.rfind("error", 0) == 0) return r;
    return bytes_of(r.substr(1, r.size() - 2));
}

std::string kel_decompress(const std::string& data, const std::string& method, const char* size = nullptr) {
    std::string source = std::string("hex decompress") + (size ? "/size" : "") + " #{" + hex_of(data) + "} '" + method;
    if (size) source += std::string(" ") + size;
    std::string r = eval(source.c_str());
    if (r.rfind("error", 0) == 0) return r;
    return bytes_of(r.substr(1, r.size() - 2));
}

}  // namespace

TEST_F(Compress, RoundTrips) {
    const std::string inputs[] = {
        "", "a", sample(3000, 1), std::string(70000, 'z'),
        // already shaped like gzip: still wrapped, so it comes back
        std::string("\x1F\x8B\x08\x00rest of it", 14),
    };
    for (const char* method : methods) {
        int max = std::string(method) == "zstd" ? 19 : 9;
        for (const std::string& data : inputs)
            for (int level : {0, 1, max}) {
                std::string packed = kel_compress(data, method, level);
                ASSERT_EQ(packed.rfind("error", 0), std::string::npos) << method << " " << packed;
                EXPECT_EQ(kel_decompress(packed, method), data) << method << " level " << level;
            }
    }
    // text is compressed as its UTF-8 bytes
    EXPECT_EQ(eval("hex decompress compress \"caf\u00e9\" 'zlib 'zlib"), "\"636166C3A9\"");
    EXPECT_EQ(eval("hex decompress compress \"caf\u00e9\" 'ZSTD 'zstd"), "\"636166C3A9\"");
}

TEST_F(Compress, ContainerHeaders) {
    struct Case {
        const char* method;
        int level;
        const char* head;
    } cases[] = {
        {"zlib", 0, "7801"}, {"zlib", 1, "7801"}, {"zlib", 3, "785E"}, {"zlib", 6, "789C"}, {"zlib", 9, "78DA"},
        {"gzip", 0, "1F8B0800000000000404"}, {"gzip", 1, "1F8B0800000000000404"},
        {"gzip", 5, "1F8B0800000000000004"}, {"gzip", 9, "1F8B0800000000000204"},
        {"zstd", 0, "28B52FFD"},
    };
    for (const Case& c : cases) {
        std::string packed = hex_of(kel_compress("abcabcabc", c.method, c.level));
        EXPECT_EQ(packed.substr(0, std::strlen(c.head)), c.head) << c.method << " " << c.level;
    }
    // trailers: Adler-32 big-endian; CRC-32 and the length little-endian
    EXPECT_EQ(hex_of(kel_compress("abc", "zlib")).substr(hex_of(kel_compress("abc", "zlib")).size() - 8), "024D0127");
    std::string gz = hex_of(kel_compress("123456789", "gzip"));
    EXPECT_EQ(gz.substr(gz.size() - 16), "2639F4CB09000000");
}

// Truncated, corrupt and malformed inputs raise invalid-data in every form.
TEST_F(Compress, BadInputRaisesInvalidData) {
    std::string data = sample(5000, 7);
    for (const char* method : methods) {
        std::string packed = kel_compress(data, method);
        std::string m = method;
        EXPECT_EQ(kel_decompress("", m), "error: invalid-data") << m;
        EXPECT_EQ(kel_decompress("garbage that is not compressed", m), "error: invalid-data") << m;
        EXPECT_EQ(kel_decompress(packed.substr(0, packed.size() - 1), m), "error: invalid-data") << m;
        EXPECT_EQ(kel_decompress(packed.substr(0, packed.size() / 2), m), "error: invalid-data") << m;
        EXPECT_EQ(kel_decompress(packed + "xyz", m), "error: invalid-data") << m;  // bytes after the end
        if (m == "zlib" || m == "gzip") {  // the forms with a check of the content
            std::string flipped = packed;
            flipped[flipped.size() / 2] ^= 0x5A;
            EXPECT_EQ(kel_decompress(flipped, m), "error: invalid-data") << m;
        }
    }
    std::string z = kel_compress(data, "zlib");
    std::string bad_trailer = z;
    bad_trailer.back() ^= 1;
    EXPECT_EQ(kel_decompress(bad_trailer, "zlib"), "error: invalid-data");
    std::string dictionary = z;  // FDICT set, FCHECK still right
    dictionary[1] = char(0x20);
    ASSERT_EQ((0x78 * 256 + 0x20) % 31, 0);
    EXPECT_EQ(kel_decompress(dictionary, "zlib"), "error: invalid-data");
    EXPECT_EQ(kel_decompress(std::string("\x78\x01\x03\x00", 4), "zlib"), "error: invalid-data");  // under 6 bytes

    std::string g = kel_compress(data, "gzip");
    std::string bad_crc = g;
    bad_crc[g.size() - 8] ^= 1;
    EXPECT_EQ(kel_decompress(bad_crc, "gzip"), "error: invalid-data");
    std::string reserved = g;
    reserved[3] = char(0x20);
    EXPECT_EQ(kel_decompress(reserved, "gzip"), "error: invalid-data");
    std::string unterminated_name = g.substr(0, 10) + std::string(40, 'n') + g.substr(g.size() - 8);
    unterminated_name[3] = 0x08;
    EXPECT_EQ(kel_decompress(unterminated_name, "gzip"), "error: invalid-data");
    std::string long_extra = g;
    long_extra[3] = 0x04;
    long_extra[10] = char(0xFF), long_extra[11] = char(0xFF);
    EXPECT_EQ(kel_decompress(long_extra, "gzip"), "error: invalid-data");
}

// A size field the data carries is never trusted: a forged one neither
// changes the result nor sizes a buffer.
TEST_F(Compress, ClaimedSizesAreNotTrusted) {
    std::string data = sample(20000, 3);
    std::string g = kel_compress(data, "gzip");
    std::string forged = g;
    for (int i = 1; i <= 4; ++i) forged[forged.size() - i] = char(0xFF);  // ISIZE 4 GiB - 1
    EXPECT_EQ(kel_decompress(forged, "gzip"), "error: invalid-data");
    forged = g;
    forged[forged.size() - 4] = 0;  // a smaller ISIZE does not cut the output
    EXPECT_EQ(kel_decompress(forged, "gzip"), "error: invalid-data");

    // a Zstandard frame that claims 2^40 bytes of content
    std::string frame("\x28\xB5\x2F\xFD\xE0\x00\x00\x00\x00\x00\x01\x00\x00\x01\x00\x00\x61", 17);
    EXPECT_EQ(kel_decompress(frame, "zstd"), "error: invalid-data");
    // and one that claims 10 bytes but holds 100 (a one-byte size after the frame header byte)
    std::string z = kel_compress(std::string(100, 'x'), "zstd");
    ASSERT_EQ(uint8_t(z[5]), 100);
    z[5] = 10;
    EXPECT_EQ(kel_decompress(z, "zstd"), "error: invalid-data");
}

// /size is the most bytes the output may have: one more raises too-long in
// every method, whether the output fits the window the first pass counts
// through (64 KiB) or is decoded a second time. A negative /size is refused.
TEST_F(Compress, SizeLimitsTheOutput) {
    for (size_t length : {size_t(20000), size_t(65535), size_t(65536), size_t(65537), size_t(200000)}) {
        std::string data = sample(length, unsigned(length));
        std::string n = std::to_string(length);
        struct Case {
            std::string size;
            const char* error;  // null: the data comes back
        } cases[] = {
            {n, nullptr}, {std::to_string(length + 1), nullptr}, {"2000000000", nullptr},
            {std::to_string(length - 1), "error: too-long"}, {"0", "error: too-long"}, {"100", "error: too-long"},
            {"-5", "error: out-of-range"},
        };
        for (const char* method : methods) {
            std::string packed = kel_compress(data, method);
            for (const Case& c : cases) {
                std::string r = kel_decompress(packed, method, c.size.c_str());
                if (c.error) EXPECT_EQ(r, c.error) << method << " " << length << " /size " << c.size;
                else EXPECT_TRUE(r == data) << method << " " << length << " /size " << c.size << ": " << r.substr(0, 40);
            }
        }
    }
}

// Zstandard frames one after another decode to their contents joined, in
// the first pass (streamed) and the second (in one go) alike; a skippable
// frame adds nothing.
TEST_F(Compress, ZstdFramesOneAfterAnother) {
    std::string a = sample(1000, 21), b = sample(100000, 22);
    std::string skippable("\x50\x2A\x4D\x18\x03\x00\x00\x00xyz", 11);
    std::string frames = kel_compress(a, "zstd") + skippable + kel_compress(b, "zstd");
    EXPECT_TRUE(kel_decompress(frames, "zstd") == a + b);
    EXPECT_EQ(kel_decompress(frames, "zstd", std::to_string(a.size() + b.size() - 1).c_str()), "error: too-long");
    EXPECT_EQ(kel_decompress(frames.substr(0, frames.size() - 3), "zstd"), "error: invalid-data");
}

#if !defined(_WIN32) && !defined(KEL_ASAN)

namespace {

size_t address_space_in_use() {
    unsigned long pages = 0;
    std::FILE* f = std::fopen("/proc/self/statm", "r");
    if (f) {
        if (std::fscanf(f, "%lu", &pages) != 1) pages = 0;
        std::fclose(f);
    }
    return size_t(pages) * size_t(sysconf(_SC_PAGESIZE));
}

}  // namespace

// The codecs' own C heap running out is a Kel error, not the end of the
// process: a Zstandard frame that asks for a 128 MiB window, decoded with
// only 64 MiB of address space left.
TEST_F(Compress, OutOfHeapInACodecRaisesNoMemory) {
    std::string frame("\x28\xB5\x2F\xFD\x00\x88\x09\x00\x00\x61", 10);  // window 2^27, one raw byte "a"
    ASSERT_EQ(kel_decompress(frame, "zstd"), "a");
    size_t in_use = address_space_in_use();
    ASSERT_GT(in_use, 0u);
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_AS, &old), 0);
    rlimit tight = old;
    tight.rlim_cur = in_use + (64 << 20);
    ASSERT_EQ(setrlimit(RLIMIT_AS, &tight), 0);
    std::string r = kel_decompress(frame, "zstd");
    setrlimit(RLIMIT_AS, &old);
    EXPECT_EQ(r, "error: no-memory");
}

#endif

// Optional gzip header fields, as other writers set them: extra field,
// name, comment and the header CRC.
TEST_F(Compress, GzipOptionalFields) {
    std::string data = "optional fields";
    std::string g = kel_compress(data, "gzip");
    std::string body = g.substr(10);
    std::string header = g.substr(0, 10);
    header[3] = 0x04 | 0x08 | 0x10 | 0x02;
    header += std::string("\x03\x00xyz", 5) + "name.txt" + '\0' + "a comment" + '\0';
    uint32_t crc = checksum::crc32(reinterpret_cast<const uint8_t*>(header.data()), header.size());
    header += char(crc & 0xFF), header += char(crc >> 8 & 0xFF);
    EXPECT_EQ(kel_decompress(header + body, "gzip"), data);
    std::string bad = header + body;
    bad[header.size() - 1] ^= 1;  // header CRC wrong
    EXPECT_EQ(kel_decompress(bad, "gzip"), "error: invalid-data");
}

#ifndef _WIN32

namespace {

std::string temp_file(const std::string& name, const std::string& bytes) {
    std::string path = temp_path(name);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    return path;
}

const char* python_zlib =
    "import sys, zlib\n"
    "mode, wbits, path = sys.argv[1], int(sys.argv[2]), sys.argv[3]\n"
    "data = open(path, 'rb').read()\n"
    "if mode == 'd':\n"
    "    out = zlib.decompress(data, wbits)\n"
    "else:\n"
    "    c = zlib.compressobj(9, zlib.DEFLATED, wbits)\n"
    "    out = c.compress(data) + c.flush()\n"
    "sys.stdout.buffer.write(out)\n";

}  // namespace

// What Kel compresses, the tools decompress; what they compress, Kel does.
TEST_F(Compress, AgreesWithTheTools) {
    for (unsigned seed : {11u, 12u}) {
        std::string data = sample(seed == 11 ? 40000 : 777, seed);
        std::string plain = temp_file("plain.bin", data);

        std::string gz = temp_file("out.gz", kel_compress(data, "gzip"));
        ChildResult r = run_child("/usr/bin/env", {"gzip", "-dc", gz});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(r.out == data) << "gzip -d of Kel's gzip";

        std::string zst = temp_file("out.zst", kel_compress(data, "zstd", 19));
        r = run_child("/usr/bin/env", {"zstd", "-dcq", zst});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(r.out == data) << "zstd -d of Kel's zstd";

        for (auto [method, wbits] : {std::pair{"zlib", "15"}, std::pair{"deflate", "-15"}}) {
            std::string packed = temp_file("out.z", kel_compress(data, method));
            r = run_child("/usr/bin/env", {"python3", "-c", python_zlib, "d", wbits, packed});
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_TRUE(r.out == data) << "Python zlib of Kel's " << method;
            r = run_child("/usr/bin/env", {"python3", "-c", python_zlib, "c", wbits, plain});
            EXPECT_TRUE(kel_decompress(r.out, method) == data) << "Kel of Python's " << method;
        }
        r = run_child("/usr/bin/env", {"python3", "-c", python_zlib, "c", "31", plain});
        EXPECT_TRUE(kel_decompress(r.out, "gzip") == data) << "Kel of Python's gzip";

        r = run_child("/usr/bin/env", {"gzip", "-c9", plain});  // with the file name in the header
        EXPECT_TRUE(kel_decompress(r.out, "gzip") == data) << "Kel of gzip's";
        r = run_child("/usr/bin/env", {"zstd", "-cq", "-3", plain});
        EXPECT_TRUE(kel_decompress(r.out, "zstd") == data) << "Kel of zstd's";
        r = run_child("/bin/sh", {"-c", "zstd -cq < " + plain});  // no content size in the frame
        EXPECT_TRUE(kel_decompress(r.out, "zstd") == data) << "Kel of zstd's streamed frame";
        for (const char* name : {"plain.bin", "out.gz", "out.zst", "out.z"}) std::remove(temp_path(name).c_str());
    }
}

#endif
