// image!: the codec entry points (signatures, declared sizes, the encoder
// index), the handle records of image nodes, and, on Windows, decoding the
// fixtures tests/image_codecs.py makes and encoding them back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <random>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/collector.hpp"
#include "runtime/datatypes/binary.hpp"
#include "runtime/datatypes/image.hpp"
#include "runtime/platform/files.hpp"
#include "runtime/slots.hpp"
#include "runtime/datatypes/file.hpp"
#include "tests/support/environment.hpp"
#include "tests/support/printed.hpp"

using namespace kel;
using namespace kel::test;
namespace fs = std::filesystem;

namespace {

struct Image : KeepsPrinted<WithEnvironment<WithSeries>> {};

std::string bytes(std::initializer_list<int> list) {
    std::string s;
    for (int b : list) s += char(b);
    return s;
}

const uint8_t* start_of(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

// What a C++ entry point answers, molded, or "error: id" when it raised.
std::string outcome(const std::function<void(Cell*)>& body) {
    Cell* top = stack::top;
    Cell* args = stack::args;
    stack::Frame* frame_top = stack::frame_top;
    stack::mark_try(nullptr);
    collector::RootCell result;
    uint32_t raised = throws::protect(throws::error, [&] {
        Cell* out = stack::push_slot();
        body(out);
        result.cell = *out;
    });
    stack::frame_top = frame_top;
    stack::top = top;
    stack::args = args;
    if (raised) return std::string("error: ") + error::pending.id;
    return mold(result.cell);
}

// The value a line of Kel source evaluates to, held by a global word.
Cell value_of(const char* source) {
    std::string line = std::string("image-test-value: ") + source + " none";
    EXPECT_EQ(eval(line), "none") << source;
    Cell w = word_of("image-test-value");
    return *word::fetch(&w);
}

std::string load(const std::string& b) {
    return outcome([&](Cell* out) { image::load_binary(start_of(b), b.size(), out); });
}

// A PNG signature and IHDR chunk declaring the size, then nothing more.
std::string png_header(uint32_t w, uint32_t h) {
    std::string s = bytes({137, 'P', 'N', 'G', 13, 10, 26, 10, 0, 0, 0, 13}) + "IHDR";
    for (uint32_t v : {w, h})
        for (int shift = 24; shift >= 0; shift -= 8) s += char(v >> shift);
    return s + bytes({8, 6, 0, 0, 0, 0, 0, 0, 0});
}

#ifdef _WIN32
constexpr bool codecs = true;
#else
constexpr bool codecs = false;
#endif

int32_t image_records() {
    int32_t n = 0;
    for (int32_t i = slots::table.used_head; i != -1; i = slots::table.records[i].next)
        n += int32_t(slots::table.records[i].flags & slots::kind_mask) == image::handle_kind;
    return n;
}

}  // namespace

TEST_F(Image, ShortOrUnknownBytesAreNone) {
    const std::string signatures[] = {bytes({137, 'P', 'N', 'G'}), bytes({255, 216, 255}), "BM", "GIF87a", "GIF89a",
                                      std::string("II*\0", 4), std::string("MM\0*", 4)};
    for (const std::string& s : signatures)
        for (size_t n = 0; n < s.size(); ++n) EXPECT_EQ(load(s.substr(0, n)), "none") << s << " cut to " << n;
    for (const std::string& s : {std::string("hello"), std::string("GIF88a"), std::string("GIF89b"),
                                 std::string("II*\1", 4), bytes({255, 216, 0})})
        EXPECT_EQ(load(s), "none") << s;
}

TEST_F(Image, DecodingIsRefusedOrUnavailable) {
    // A declared size beyond what an image holds is refused before any
    // decoder sees the bytes, here and on Windows alike.
    EXPECT_EQ(load(png_header(65535, 65535)), "error: bad-media");
    EXPECT_EQ(load(png_header(70000, 1)), "error: bad-media");
    std::string bmp = "BM" + std::string(12, '\0') + bytes({40, 0, 0, 0, 0x70, 0x11, 1, 0, 1, 0, 0, 0});
    // So are bytes too short for their header, or whose header points past them.
    for (const std::string& s : {bmp, bmp.substr(0, 20), std::string("II*\0garbage", 11), std::string("MM\0*", 4),
                                 png_header(2, 2).substr(0, 30), std::string("GIF89a\2\0", 8)})
        EXPECT_EQ(load(s), "error: bad-media") << s;
    // Recognised bytes: natively no codec answers; on Windows garbage does not decode.
    const char* expected = codecs ? "error: bad-media" : "error: not-available";
    for (const std::string& s : {png_header(2, 2), "GIF89a" + bytes({2, 0, 2, 0}) + std::string(14, 'x'),
                                 bytes({255, 216, 255, 0}), bytes({'I', 'I', 42, 0, 8, 0, 0, 0, 0, 0}),
                                 "BM" + bytes({26, 0, 0, 0, 0, 0, 0, 0, 26, 0, 0, 0, 40, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0})})
        EXPECT_EQ(load(s), expected) << s;
}

TEST_F(Image, Encoding) {
    collector::RootCell img;
    img.cell = value_of("make image! 2x1");
    EXPECT_EQ(outcome([&](Cell* out) { image::encode(&img.cell, out, 5); }), "none");
    EXPECT_EQ(printed, "Cannot find image encoder\n");
    EXPECT_EQ(outcome([&](Cell* out) { image::encode(&img.cell, out, -1); }), "none");
    std::string png = outcome([&](Cell* out) { image::encode(&img.cell, out, image_wic::png); });
    if (codecs) {
        EXPECT_EQ(png.substr(0, 15), "#{\n    89504E47") << png;
    } else {
        EXPECT_EQ(png, "error: not-available");
    }
    collector::RootCell empty;
    image::box(&empty.cell, 0, 0, 3);
    EXPECT_EQ(outcome([&](Cell* out) { image::encode(&empty.cell, out, image_wic::png); }), "error: bad-media");
}

TEST_F(Image, LoadFile) {
    fs::path dir = fs::temp_directory_path() /
                   ("kel-image-" + std::to_string(std::random_device{}()) + "-" + std::to_string(std::time(nullptr)));
    fs::create_directories(dir);
    std::string base = reinterpret_cast<const char*>(dir.u8string().c_str());
    std::string header = png_header(2, 2);
    ASSERT_TRUE(files::write(base + "/a.png", header, -1, false));
    std::string refused = png_header(65535, 65535);
    ASSERT_TRUE(files::write(base + "/big.png", refused, -1, false));
    auto file_of = [&](const std::string& name) {
        std::string path = base + "/" + name;  // a temporary folder's path: ASCII
        std::u32string text = file::kel_text(std::u32string(path.begin(), path.end()));
        return value_of(("to file! \"" + std::string(text.begin(), text.end()) + "\"").c_str());
    };
    collector::RootCell f;
    f.cell = file_of("a.png");
    EXPECT_EQ(outcome([&](Cell* out) { image::load_file(&f.cell, out); }),
              codecs ? "error: cannot-open" : "error: not-available");
    f.cell = file_of("big.png");
    EXPECT_EQ(outcome([&](Cell* out) { image::load_file(&f.cell, out); }), "error: bad-media");
    f.cell = file_of("none.png");
    EXPECT_EQ(outcome([&](Cell* out) { image::load_file(&f.cell, out); }), "error: cannot-open");
    std::error_code ec;
    fs::remove_all(dir, ec);
}

TEST_F(Image, UnreachedNodesReleaseTheirBitmaps) {
    collector::collect();
    int32_t before = image_records();
    EXPECT_EQ(eval("kept: make image! 2x2  loop 5 [make image! 3x3]  copy kept  none"), "none");
    if (!alloc::stress) EXPECT_EQ(image_records(), before + 7);  // else collected as they went
    collector::collect();
    EXPECT_EQ(image_records(), before + 1);  // kept's
    EXPECT_EQ(eval("kept: none"), "none");
    collector::collect();
    EXPECT_EQ(image_records(), before);
}

// ---- fixtures made by tests/image_codecs.py (Windows, under Wine)

namespace {

struct ImageCodecs : WithEnvironment<WithSeries> {
    std::string dir;
    void SetUp() override {
        const char* d = std::getenv("KEL_IMAGE_FIXTURES");
        if (!d) GTEST_SKIP() << "no fixtures: tests/image_codecs.py runs these";
        dir = d;
        WithEnvironment<WithSeries>::SetUp();
    }
    std::string path(const std::string& name) const { return dir + "\\" + name; }
    std::string read(const std::string& name) const {
        std::ifstream in(path(name), std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    void write(const std::string& name, const std::string& bytes) const {
        std::ofstream(path(name), std::ios::binary) << bytes;
    }
};

// The pixels of an image as r, g, b, a bytes, a 255 opaque (ImageMagick's rgba:).
std::string rgba_of(const Cell* img) {
    std::string s;
    image::PixelLock lock(img, false);
    for (int64_t i = 0; i < image::pixel_count(img); ++i) {
        const uint8_t* p = lock.pixel(i);
        s += char(p[2]), s += char(p[1]), s += char(p[0]), s += char(p[3]);
    }
    return s;
}

// The largest difference of two rgba byte strings, alpha left out when
// `colour_only` (JPEG keeps no alpha).
int max_difference(const std::string& a, const std::string& b, bool colour_only = false) {
    int d = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
        if (!colour_only || i % 4 != 3) d = std::max(d, std::abs(int(uint8_t(a[i])) - uint8_t(b[i])));
    return d;
}

}  // namespace

// Each fixture decodes from memory and from its file to the pixels
// ImageMagick reads (the first frame of a multi-frame file); each encodes to
// the five formats, which decode back to the same pixels (JPEG within the
// fixture's tolerance, GIF and BMP where their formats hold the colours).
TEST_F(ImageCodecs, DecodeAndEncode) {
    std::istringstream manifest(read("manifest.txt"));
    std::string name;
    int width, height, tolerance;
    int count = 0;
    const char* suffixes[] = {"bmp", "png", "gif", "jpeg", "tiff"};
    while (manifest >> name >> width >> height >> tolerance) {
        ++count;
        std::string bytes = read(name), expected = read(name + ".rgba");
        collector::RootCell img;
        ASSERT_EQ(outcome([&](Cell* out) { image::load_binary(start_of(bytes), bytes.size(), out); }).substr(0, 13),
                  "make image! [")
            << name;
        image::load_binary(start_of(bytes), bytes.size(), &img.cell);
        ASSERT_TRUE(cell::is(&img.cell, type::image)) << name;
        EXPECT_EQ(image::width_of(&img.cell), uint32_t(width)) << name;
        EXPECT_EQ(image::height_of(&img.cell), uint32_t(height)) << name;
        std::string decoded = rgba_of(&img.cell);
        ASSERT_EQ(decoded.size(), expected.size()) << name;
        EXPECT_LE(max_difference(decoded, expected), tolerance) << name;

        std::string where = path(name);
        std::u32string local(where.begin(), where.end());
        std::u32string text = file::kel_text(local);
        collector::RootCell file, from_file;
        file.cell = value_of(("to file! \"" + std::string(text.begin(), text.end()) + "\"").c_str());
        ASSERT_EQ(outcome([&](Cell* out) { image::load_file(&file.cell, out); }).substr(0, 13), "make image! [")
            << name << " from its file";
        image::load_file(&file.cell, &from_file.cell);
        EXPECT_EQ(rgba_of(&from_file.cell), decoded) << name << " from its file";

        bool opaque = true;
        for (size_t i = 3; i < decoded.size(); i += 4) opaque = opaque && uint8_t(decoded[i]) == 255;
        for (int32_t f = 0; f < image_wic::format_count; ++f) {
            collector::RootCell encoded, back;
            image::encode(&img.cell, &encoded.cell, f);
            ASSERT_TRUE(cell::is(&encoded.cell, type::binary)) << name << " " << suffixes[f];
            std::string out(reinterpret_cast<const char*>(binary::ks_head(&encoded.cell)),
                            binary::ks_length_q(&encoded.cell));
            std::string stem = name;
            std::replace(stem.begin(), stem.end(), '.', '-');
            write("out-" + stem + "." + suffixes[f], out);
            image::load_binary(start_of(out), out.size(), &back.cell);
            ASSERT_TRUE(cell::is(&back.cell, type::image)) << name << " " << suffixes[f];
            std::string again = rgba_of(&back.cell);
            if (f == image_wic::png || f == image_wic::tiff || (f == image_wic::bmp && opaque))
                EXPECT_EQ(again, decoded) << name << " through " << suffixes[f];
            else if (f == image_wic::jpeg)
                EXPECT_LE(max_difference(again, decoded, true), 64) << name << " through jpeg";
        }
    }
    EXPECT_EQ(count, 5);
}

// Hostile bytes raise bad-media; too short a signature is no image.
TEST_F(ImageCodecs, Hostile) {
    std::istringstream names(read("hostile\\list.txt"));
    std::string name;
    int count = 0;
    while (names >> name) {
        ++count;
        std::string bytes = read("hostile\\" + name);
        EXPECT_EQ(load(bytes), "error: bad-media") << name;
    }
    EXPECT_GT(count, 20);
    EXPECT_EQ(load(read("hostile\\short.bin")), "none");
}
