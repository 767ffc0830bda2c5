// decompress on arbitrary bytes, in every method, with and without /size.
// The first byte picks the method and whether /size is given, the next two
// the size (up to 64 KiB, so that the fuzzer also meets the limit); the
// rest is the data. Any read or write outside a buffer is a sanitizer fault.
// Only invalid-data and too-long may be raised. What decodes must decode to
// the same bytes with /size at its length and raise too-long with one byte
// less. The data itself must come back through compress in every method;
// its packed form, with one byte changed or cut short, reaches deep into
// the decoders, where it may only fail cleanly.
#include <cstdint>
#include <cstring>
#include <string>

#include "environment/boot.hpp"
#include "runtime/cell.hpp"
#include "tests/fuzz/start.hpp"
#include "runtime/collector.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/error.hpp"
#include "runtime/interp.hpp"
#include "runtime/lexer/lexer.hpp"
#include "runtime/natives/checksum.hpp"
#include "runtime/stack.hpp"
#include "runtime/system.hpp"
#include "runtime/throws.hpp"
#include "view/start.hpp"

using namespace kel;

namespace {

const char* const methods[] = {"zlib", "deflate", "gzip", "zstd"};

void start() {
    if (fuzz::start_runtime()) {
        view::register_types();
        environment::boot();
    }
}

struct Outcome {
    std::string bytes;  // the result's bytes, when no error
    std::string error;  // the id of the error raised, or empty
};

// Evaluates the code block under a try frame, as a script's `try` would.
Outcome evaluate(const Cell& code) {
    Cell* top = stack::top;
    Cell* args = stack::args;
    Cell* held = stack::push(&code);
    stack::mark_try(nullptr);
    Cell* base = stack::args;
    Outcome o;
    if (throws::protect(throws::error, [&] { interp::eval_block(held, true); })) {
        o.error = error::pending.id;
    } else {
        size_t n = 0;
        const uint8_t* p = checksum::binary_bytes(base, &n);
        o.bytes.assign(reinterpret_cast<const char*>(p), n);
        stack::unwind_drop();
    }
    stack::top = top;
    stack::args = args;
    return o;
}

// `decompress` (with /size when size >= 0) or `compress` of the bytes.
Outcome run(const char* native, const char* method, const std::string& bytes, int64_t size = -1) {
    std::string text = std::string(native) + (size >= 0 ? "/size" : "") + " #{} '" + method + (size >= 0 ? " 0" : "");
    collector::RootCell code, data;
    lexer::load_utf8(text.data(), text.size(), lexer::ScanOptions{}, &code.cell);
    checksum::make_binary(&data.cell, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    Cell* cells = series::cells_of(code.cell.payload2);
    cells[1] = data.cell;
    if (size >= 0) cell::set_integer(cells + 3, int32_t(size));
    return evaluate(code.cell);
}

void expect(bool holds) {
    if (!holds) __builtin_trap();
}

// Whether the outcome is a result; an error it may be is bad data or too
// much of it.
bool clean(const Outcome& o) {
    expect(o.error.empty() || o.error == "invalid-data" || o.error == "too-long");
    return o.error.empty();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    start();
    if (size < 3) return 0;
    const char* method = methods[data[0] & 3];
    bool sized = data[0] & 4;
    int64_t limit = int64_t(data[1]) | int64_t(data[2]) << 8;
    std::string bytes(reinterpret_cast<const char*>(data) + 3, size - 3);

    Outcome o = run("decompress", method, bytes, sized ? limit : -1);
    if (clean(o)) {
        int64_t length = int64_t(o.bytes.size());
        expect(!sized || length <= limit);
        Outcome exact = run("decompress", method, bytes, length);
        expect(exact.error.empty() && exact.bytes == o.bytes);
        if (length > 0) expect(run("decompress", method, bytes, length - 1).error == "too-long");
    }

    for (const char* m : methods) {
        Outcome packed = run("compress", m, bytes);
        expect(packed.error.empty());
        Outcome back = run("decompress", m, packed.bytes, int64_t(bytes.size()));
        expect(back.error.empty() && back.bytes == bytes);
        std::string damaged = packed.bytes;
        damaged[size_t(limit) % damaged.size()] ^= char(data[0] | 1);
        clean(run("decompress", m, damaged, sized ? limit : -1));
        clean(run("decompress", m, packed.bytes.substr(0, size_t(limit) % packed.bytes.size())));
    }
    return 0;
}
