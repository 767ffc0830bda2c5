// The boot-image builder, run by the build on the build machine: loads each
// boot environment source with the lexer, drops its header (the word Kel and
// a block), and writes the blocks, in the order given, as the top-level
// values of one KELBIN boot image.
//   kel-boot-image out.kelbin source.kel ...
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "runtime/collector.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/series.hpp"
#include "program/init.hpp"
#include "runtime/lexer/lexer.hpp"
#include "runtime/kelbin/kelbin.hpp"
#include "runtime/symbol.hpp"
#include "runtime/system.hpp"
#include "runtime/throws.hpp"

// The builder makes the image: it carries none itself.
namespace kel::environment {
extern const unsigned char boot_image[] = {0};
extern const size_t boot_image_size = 0;
}  // namespace kel::environment

using namespace kel;

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fputs("usage: kel-boot-image out.kelbin source.kel ...\n", stderr);
        return 2;
    }
    sys::record.root_recording = true;
    runtime::init_values();
    sys::record.root_recording = false;
    collector::RootCell all;
    block::make_at(&all.cell, argc - 2);
    for (int i = 2; i < argc; ++i) {
        std::ifstream in(argv[i], std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "kel-boot-image: cannot read %s\n", argv[i]);
            return 1;
        }
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        collector::RootCell code;
        if (throws::protect(throws::error, [&] { lexer::load_utf8(text.data(), text.size(), {}, &code.cell); })) {
            std::fprintf(stderr, "kel-boot-image: %s does not load\n", argv[i]);
            return 1;
        }
        if (series::length_from(&code.cell) >= 2) {
            const Cell* first = block::ks_abs_at(&code.cell, series::clamped_index(&code.cell));
            if (cell::is(first, type::word) && symbol::name(first->payload2) == "Kel" &&
                cell::is(first + 1, type::block))
                code.cell.payload1 += 2;
        }
        block::ks_append(&all.cell, &code.cell);
    }
    std::vector<uint8_t> image;
    if (throws::protect(throws::error, [&] { image = kelbin::encode_boot(&all.cell); })) {
        std::fputs("kel-boot-image: the sources do not encode\n", stderr);
        return 1;
    }
    std::ofstream out(argv[1], std::ios::binary);
    out.write(reinterpret_cast<const char*>(image.data()), std::streamsize(image.size()));
    return out ? 0 : 1;
}
