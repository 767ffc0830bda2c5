// The lexer on arbitrary bytes, in every mode: loading (values built, errors
// raised), scanning and prescanning (types answered, nothing raised), one
// value at a time, and as the text of a string value. Any read outside the
// input or a buffer is a sanitizer fault. Text that loads must also scan
// without an error: the two modes check the same syntax.
#include <cstdint>
#include <cstdlib>

#include "runtime/cell.hpp"
#include "tests/fuzz/start.hpp"
#include "runtime/collector.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/error.hpp"
#include "runtime/lexer/lexer.hpp"
#include "runtime/system.hpp"
#include "runtime/throws.hpp"

using namespace kel;

namespace {

void start() { fuzz::start_runtime(); }

// Runs a load; answers false when it raised an error.
template <class Body>
bool loads(Body&& body) {
    return throws::protect(throws::error, body) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    start();
    const auto* text = reinterpret_cast<const char*>(data);
    collector::RootCell result;

    bool loaded = loads([&] { lexer::load_utf8(text, size, {}, &result.cell); });

    lexer::ScanOptions scan;
    scan.scan = true;
    int32_t scanned = lexer::load_utf8(text, size, scan, &result.cell);
    if (loaded && scanned == type::error) __builtin_trap();

    lexer::ScanOptions prescan;
    prescan.prescan = true;
    prescan.one_value = true;
    lexer::load_utf8(text, size, prescan, &result.cell);

    lexer::ScanOptions one;
    one.one_value = true;
    loads([&] { lexer::load_utf8(text, size, one, &result.cell); });

    collector::RootCell source;
    string::make_from_utf8(&source.cell, text, size);
    loads([&] { lexer::load(&source.cell, -1, {}, &result.cell); });
    return 0;
}
