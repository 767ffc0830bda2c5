// compress and decompress: DEFLATE (zlib, raw streams) and Zstandard
// (libzstd), with the zlib (RFC 1950) and gzip (RFC 1952) containers
// written and checked here.
//
// Sizes: compress allocates the library's own bound for the input, so one
// pass always fits. decompress trusts no size the data claims (a gzip ISIZE,
// a Zstandard content size): it decodes twice, first only counting the
// output through a small window, which raises too-long as soon as the count
// passes the limit (the largest binary!, or /size), then into a binary! of
// exactly the counted size. An output the window holds whole is taken from
// it without the second pass. So a decompression bomb costs no memory, and
// a good input only its result.
//
// The codecs take C heap of their own; running out of it raises no-memory.
//
// Collector: the input's bytes are read through raw addresses only while no
// Kel allocation can happen, and read again after each allocation.

#include <zlib.h>
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#include "runtime/alloc.hpp"
#include "runtime/datatypes/binary.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/error.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/natives/checksum.hpp"
#include "runtime/natives/entries.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"

namespace kel::natives {

namespace {

enum class Method { zlib, deflate, gzip, zstd };

std::optional<Method> method_of(const Cell* word) {
    static constexpr std::string_view names[] = {"zlib", "deflate", "gzip", "zstd"};
    std::optional<size_t> i = symbol::pick_word(word, names);
    return i ? std::optional<Method>(Method(*i)) : std::nullopt;
}

[[noreturn]] void bad_data() { error::fire(error::id::invalid_data); }
[[noreturn]] void no_memory() { error::fire(error::id::no_memory); }

// The largest binary!: a data area of whole 16-byte units.
constexpr uint64_t largest_binary = alloc::series_limit & ~uint64_t(15);

void put_be32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (24 - 8 * i));
}
void put_le32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
uint32_t get_be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }
uint32_t get_le32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

// ---- compress

constexpr size_t zlib_overhead = 6, gzip_overhead = 18;

// A raw DEFLATE stream of the input into out (room bytes); the bytes written.
size_t deflate_raw(const uint8_t* in, size_t n, uint8_t* out, size_t room, int level) {
    z_stream z{};
    int status = deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    if (status == Z_MEM_ERROR) no_memory();
    if (status != Z_OK) bad_data();
    z.next_in = const_cast<Bytef*>(in);
    z.avail_in = uInt(n);
    z.next_out = out;
    z.avail_out = uInt(room);
    status = deflate(&z, Z_FINISH);
    size_t written = z.total_out;
    deflateEnd(&z);
    if (status != Z_STREAM_END) bad_data();
    return written;
}

// What the method can write for n input bytes, containers included.
uint64_t bound(Method m, size_t n) {
    if (m == Method::zstd) return ZSTD_compressBound(n);
    return compressBound(uLong(n)) + gzip_overhead;
}

// The zlib header's FLG byte by level (FCHECK makes 0x78 FLG a multiple of 31).
uint8_t zlib_flags(int level) {
    if (level >= 7) return 0xDA;
    if (level == 6) return 0x9C;
    if (level >= 2) return 0x5E;
    return 0x01;
}

uint8_t gzip_extra_flags(int level) {
    if (level == 9) return 2;
    if (level >= 2) return 0;
    return 4;
}

size_t compress_into(Method m, const uint8_t* in, size_t n, uint8_t* out, size_t room, int level) {
    switch (m) {
    case Method::deflate: return deflate_raw(in, n, out, room, level);
    case Method::zlib: {
        out[0] = 0x78;
        out[1] = zlib_flags(level);
        size_t k = deflate_raw(in, n, out + 2, room - zlib_overhead, level);
        put_be32(out + 2 + k, checksum::adler32(in, n));
        return k + zlib_overhead;
    }
    case Method::gzip: {
        // Always a container, even when the input already starts like gzip:
        // decompress must give the input back.
        static constexpr uint8_t header[10] = {0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 0, 4};
        std::memcpy(out, header, 10);
        out[8] = gzip_extra_flags(level);
        size_t k = deflate_raw(in, n, out + 10, room - gzip_overhead, level);
        put_le32(out + 10 + k, checksum::crc32(in, n));
        put_le32(out + 14 + k, uint32_t(n));
        return k + gzip_overhead;
    }
    case Method::zstd: {
        size_t k = ZSTD_compress(out, room, in, n, level < 0 ? ZSTD_CLEVEL_DEFAULT : level);
        if (ZSTD_isError(k) && ZSTD_getErrorCode(k) == ZSTD_error_memory_allocation) no_memory();
        if (ZSTD_isError(k)) bad_data();
        return k;
    }
    }
    return 0;
}

}  // namespace

uint32_t compress(const Call& call) {
    return error::heap_guarded([&] {
        Cell* base = stack::args;
        std::optional<Method> method = method_of(base + 1);
        if (!method) error::fire(error::id::invalid_arg, base + 1);
        enum { level_ };
        int level = -1;
        if (call.refs[level_] >= 0) {
            const Cell* lvl = base + call.refs[level_];
            int32_t max = *method == Method::zstd ? 19 : 9;
            int32_t v = cell::integer(lvl);
            if (v < 1 || v > max) error::fire(error::id::out_of_range, lvl);
            level = v;
        }
        // Text is encoded on the C++ side; a binary is read in place once the
        // result exists.
        std::string text;
        bool is_binary = cell::is(base, type::binary);
        size_t n;
        if (is_binary) checksum::binary_bytes(base, &n);
        else n = (text = string::utf8_of(base)).size();
        uint64_t room = bound(*method, n);
        if (room > largest_binary) error::fire(error::id::too_long);
        Cell* out = stack::push_slot();
        binary::make_at(out, uint32_t(room));
        const uint8_t* in =
            is_binary ? checksum::binary_bytes(base, &n) : reinterpret_cast<const uint8_t*>(text.data());
        SeriesBuffer* b = alloc::buffer_of(out->payload2);
        size_t written = compress_into(*method, in, n, b->data() + b->offset, size_t(room), level);
        b->tail = b->offset + uint32_t(written);
        stack::set_result(out);
        return 0u;
    });
}

// ---- decompress

namespace {

// Where a decoder's output goes. A measuring sink keeps nothing: each step
// of output lands in one small window, written over once it is full, and
// the count passing the limit raises too-long at once, so no size a header
// claims and no bomb costs memory. A writing sink is a buffer of exactly the
// measured size.
struct Sink {
    static constexpr size_t window_size = 64 << 10;

    std::vector<uint8_t> window;  // measuring only
    uint8_t* dest;
    uint64_t room;
    uint64_t limit;
    uint64_t produced = 0;
    uint64_t fill = 0;     // bytes of dest in use
    bool wrapped = false;  // the window was written over: it holds less than all the output

    static Sink measuring(uint64_t limit) {
        Sink s{std::vector<uint8_t>(window_size), nullptr, window_size, limit};
        s.dest = s.window.data();
        return s;
    }
    static Sink writing(uint8_t* dest, uint64_t size) { return Sink{{}, dest, size, size}; }

    bool is_measuring() const { return !window.empty(); }

    // Room for the decoder's next step: the rest of dest, the whole window
    // again once a measuring window is full, nothing once a writing sink is.
    std::pair<uint8_t*, size_t> space() {
        if (fill == room && is_measuring()) {
            fill = 0;
            wrapped = true;
        }
        return {dest + fill, size_t(room - fill)};
    }
    void took(size_t n) {
        fill += n;
        produced += n;
        if (produced > limit) error::fire(error::id::too_long);
    }
};

struct Inflater {
    z_stream z{};
    Inflater() {
        int status = inflateInit2(&z, -15);
        if (status == Z_MEM_ERROR) no_memory();
        if (status != Z_OK) bad_data();
    }
    ~Inflater() { inflateEnd(&z); }
};

// Inflates a raw DEFLATE stream that must end exactly at the input's end.
void inflate_raw(const uint8_t* in, size_t n, Sink& out) {
    Inflater f;
    f.z.next_in = const_cast<Bytef*>(in);
    f.z.avail_in = uInt(n);
    for (;;) {
        auto [at, room] = out.space();
        if (room == 0) bad_data();  // more than was measured
        f.z.next_out = at;
        f.z.avail_out = uInt(room);
        int status = inflate(&f.z, Z_NO_FLUSH);
        out.took(room - f.z.avail_out);
        if (status == Z_STREAM_END) break;
        if (status == Z_MEM_ERROR) no_memory();
        bool more = status == Z_OK || (status == Z_BUF_ERROR && f.z.avail_out == 0);  // only the output was full
        if (!more) bad_data();
    }
    if (f.z.avail_in != 0) bad_data();
}

// The DEFLATE stream of a zlib container, after its header is checked.
std::pair<const uint8_t*, size_t> zlib_body(const uint8_t* in, size_t n) {
    if (n < zlib_overhead) bad_data();
    uint8_t cmf = in[0], flg = in[1];
    if ((cmf * 256u + flg) % 31 || (cmf & 0x0F) != 8 || (cmf & 0x80) || (flg & 0x20)) bad_data();
    return {in + 2, n - zlib_overhead};
}

// The DEFLATE stream of a gzip member, after its header and optional fields.
std::pair<const uint8_t*, size_t> gzip_body(const uint8_t* in, size_t n) {
    if (n < gzip_overhead || in[0] != 0x1F || in[1] != 0x8B || in[2] != 8 || in[3] >= 32) bad_data();
    uint8_t flg = in[3];
    size_t end = n - 8, p = 10;  // the trailer is never part of the header
    if (flg & 0x04) {
        if (p + 2 > end) bad_data();
        size_t extra = size_t(in[p]) | size_t(in[p + 1]) << 8;
        p += 2;
        if (extra > end - p) bad_data();
        p += extra;
    }
    for (uint8_t bit : {uint8_t(0x08), uint8_t(0x10)}) {  // name, then comment, zero-terminated
        if (!(flg & bit)) continue;
        while (p < end && in[p]) ++p;
        if (p >= end) bad_data();
        ++p;
    }
    if (flg & 0x02) {
        if (p + 2 > end) bad_data();
        if ((checksum::crc32(in, p) & 0xFFFF) != (uint32_t(in[p]) | uint32_t(in[p + 1]) << 8)) bad_data();
        p += 2;
    }
    return {in + p, end - p};
}

struct ZstdDecoder {
    ZSTD_DCtx* d = ZSTD_createDCtx();
    ZstdDecoder() {
        if (!d) no_memory();
    }
    ~ZstdDecoder() { ZSTD_freeDCtx(d); }
};

[[noreturn]] void zstd_failed(size_t code) {
    if (ZSTD_getErrorCode(code) == ZSTD_error_memory_allocation) no_memory();
    bad_data();
}

// Zstandard frames, one after another. A writing sink takes them in one
// pass; a measuring one streams them, the decoder keeping at most the
// frame's window (libzstd refuses windows above 128 MiB).
void unzstd(const uint8_t* in, size_t n, Sink& out) {
    if (n == 0) bad_data();
    ZstdDecoder z;
    if (!out.is_measuring()) {
        size_t k = ZSTD_decompressDCtx(z.d, out.dest, size_t(out.room), in, n);
        if (ZSTD_isError(k)) zstd_failed(k);
        out.took(k);
        return;
    }
    ZSTD_inBuffer input{in, n, 0};
    for (;;) {
        auto [at, room] = out.space();
        ZSTD_outBuffer output{at, room, 0};
        size_t left = ZSTD_decompressStream(z.d, &output, &input);
        if (ZSTD_isError(left)) zstd_failed(left);
        out.took(output.pos);
        if (left == 0 && input.pos == input.size) return;  // the last frame ended, all of it flushed
        if (input.pos == input.size && output.pos < output.size) bad_data();  // cut short
    }
}

void decode(Method m, const uint8_t* in, size_t n, Sink& out) {
    std::pair<const uint8_t*, size_t> body{in, n};
    switch (m) {
    case Method::deflate: break;
    case Method::zlib: body = zlib_body(in, n); break;
    case Method::gzip: body = gzip_body(in, n); break;
    case Method::zstd: return unzstd(in, n, out);
    }
    inflate_raw(body.first, body.second, out);
}

// The container's trailer against the whole output.
void check_trailer(Method m, const uint8_t* in, size_t n, const uint8_t* out, size_t length) {
    if (m == Method::zlib && checksum::adler32(out, length) != get_be32(in + n - 4)) bad_data();
    if (m == Method::gzip) {
        if (uint32_t(length) != get_le32(in + n - 4)) bad_data();  // ISIZE is the length mod 2^32
        if (checksum::crc32(out, length) != get_le32(in + n - 8)) bad_data();
    }
}

}  // namespace

uint32_t decompress(const Call& call) {
    return error::heap_guarded([&] {
        Cell* base = stack::args;
        std::optional<Method> method = method_of(base + 1);
        if (!method) error::fire(error::id::invalid_arg, base + 1);
        enum { size };
        uint64_t limit = largest_binary;
        if (call.refs[size] >= 0) {
            const Cell* sz = base + call.refs[size];
            if (cell::integer(sz) < 0) error::fire(error::id::out_of_range, sz);
            limit = std::min(limit, uint64_t(cell::integer(sz)));
        }
        // First the size, then (when the window could not hold it all) the
        // bytes, decoded again into a binary! of that size.
        size_t n;
        const uint8_t* in = checksum::binary_bytes(base, &n);
        Sink measured = Sink::measuring(limit);
        decode(*method, in, n, measured);
        Cell* result = stack::push_slot();
        if (!measured.wrapped) {
            checksum::make_binary(result, measured.window.data(), size_t(measured.produced));
        } else {
            binary::make_at(result, uint32_t(measured.produced));
            SeriesBuffer* b = alloc::buffer_of(result->payload2);
            in = checksum::binary_bytes(base, &n);  // the allocation may have moved it
            Sink whole = Sink::writing(b->data() + b->offset, measured.produced);
            decode(*method, in, n, whole);
            if (whole.produced != measured.produced) bad_data();
            b->tail = b->offset + uint32_t(whole.produced);
        }
        in = checksum::binary_bytes(base, &n);
        size_t length;
        const uint8_t* out = checksum::binary_bytes(result, &length);
        check_trailer(*method, in, n, out, length);
        stack::set_result(result);
        return 0u;
    });
}

}  // namespace kel::natives
