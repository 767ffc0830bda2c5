// compress and decompress: DEFLATE (zlib, raw streams) and Zstandard
// (libzstd), with the zlib (RFC 1950) and gzip (RFC 1952) containers
// written and checked here.
//
// Sizes: compress allocates the library's own bound for the input, so one
// pass always fits. decompress never trusts a size the data claims (a gzip
// ISIZE, a Zstandard content size, the caller's /size): each is only a first
// guess, capped by what an input of that length can possibly expand to, and
// the output grows with what really decodes. Output larger than a series can
// hold raises too-long.
//
// Collector: the input's bytes are read through raw addresses only while no
// Kel allocation can happen: compress allocates its result first and reads
// the input after; decompress decodes into C++ memory and makes the binary!
// at the end.

#include <zlib.h>
#include <zstd.h>
#include <zstd_errors.h>

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
    if (deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) bad_data();
    z.next_in = const_cast<Bytef*>(in);
    z.avail_in = uInt(n);
    z.next_out = out;
    z.avail_out = uInt(room);
    int status = deflate(&z, Z_FINISH);
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
        if (ZSTD_isError(k)) bad_data();
        return k;
    }
    }
    return 0;
}

}  // namespace

uint32_t compress(const Call& call) {
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
    if (room > alloc::series_limit) error::fire(error::id::too_long);
    Cell* out = stack::push_slot();
    binary::make_at(out, uint32_t(room));
    const uint8_t* in = is_binary ? checksum::binary_bytes(base, &n) : reinterpret_cast<const uint8_t*>(text.data());
    SeriesBuffer* b = alloc::buffer_of(out->payload2);
    size_t written = compress_into(*method, in, n, b->data() + b->offset, size_t(room), level);
    b->tail = b->offset + uint32_t(written);
    stack::set_result(out);
    return 0;
}

// ---- decompress

namespace {

// Output that grows with what decodes, never past a series' limit.
struct Output {
    std::vector<uint8_t> bytes;
    size_t used = 0;

    void reserve(uint64_t n) { bytes.resize(size_t(n < alloc::series_limit ? n : alloc::series_limit)); }
    // Room for more: doubles the buffer, or raises too-long at the limit.
    void grow() {
        if (bytes.size() >= alloc::series_limit) error::fire(error::id::too_long);
        uint64_t want = bytes.size() < 4096 ? 4096 : uint64_t(bytes.size()) * 2;
        reserve(want);
    }
};

// The most an input of n bytes can decode to: DEFLATE codes a byte in no
// less than about 1/1032 of a byte; a Zstandard block of at most 128 KiB
// takes at least 4 bytes.
uint64_t expansion_limit(Method m, size_t n) {
    if (m == Method::zstd) return (uint64_t(n) / 4 + 1) * (128u << 10);
    return uint64_t(n) * 1032 + 64;
}

// Inflates a raw DEFLATE stream that must fill exactly the n bytes.
void inflate_raw(const uint8_t* in, size_t n, Output& out) {
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) bad_data();
    z.next_in = const_cast<Bytef*>(in);
    z.avail_in = uInt(n);
    int status = Z_OK;
    while (status == Z_OK) {
        if (out.used == out.bytes.size()) {
            try {
                out.grow();
            } catch (...) {
                inflateEnd(&z);
                throw;
            }
        }
        z.next_out = out.bytes.data() + out.used;
        z.avail_out = uInt(out.bytes.size() - out.used);
        status = inflate(&z, Z_NO_FLUSH);
        out.used = out.bytes.size() - z.avail_out;
        if (status == Z_BUF_ERROR && z.avail_out == 0) status = Z_OK;  // only the output was full
    }
    bool whole = status == Z_STREAM_END && z.avail_in == 0;
    inflateEnd(&z);
    if (!whole) bad_data();
}

void unzlib(const uint8_t* in, size_t n, Output& out) {
    if (n < zlib_overhead) bad_data();
    uint8_t cmf = in[0], flg = in[1];
    if ((cmf * 256u + flg) % 31 || (cmf & 0x0F) != 8 || (cmf & 0x80) || (flg & 0x20)) bad_data();
    inflate_raw(in + 2, n - zlib_overhead, out);
    if (checksum::adler32(out.bytes.data(), out.used) != get_be32(in + n - 4)) bad_data();
}

// The start of a gzip member's DEFLATE stream after the optional fields.
size_t gzip_body_start(const uint8_t* in, size_t n) {
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
    return p;
}

void gunzip(const uint8_t* in, size_t n, Output& out) {
    size_t start = gzip_body_start(in, n);
    inflate_raw(in + start, n - 8 - start, out);
    if (checksum::crc32(out.bytes.data(), out.used) != get_le32(in + n - 8)) bad_data();
    if (uint32_t(out.used) != get_le32(in + n - 4)) bad_data();  // ISIZE is the length mod 2^32
}

// Zstandard frames decode in one pass into a buffer large enough; a buffer
// found too small is doubled (within what the input can need) and the pass
// run again, so a forged content size costs at most that limit.
void unzstd(const uint8_t* in, size_t n, Output& out, uint64_t limit) {
    if (n == 0) bad_data();
    ZSTD_DCtx* dctx = ZSTD_createDCtx();
    if (!dctx) error::fire(error::id::no_memory);
    for (;;) {
        size_t k = ZSTD_decompressDCtx(dctx, out.bytes.data(), out.bytes.size(), in, n);
        if (!ZSTD_isError(k)) {
            out.used = k;
            break;
        }
        bool too_small = ZSTD_getErrorCode(k) == ZSTD_error_dstSize_tooSmall;
        if (!too_small || out.bytes.size() >= limit) {
            ZSTD_freeDCtx(dctx);
            if (too_small && limit >= alloc::series_limit) error::fire(error::id::too_long);
            bad_data();
        }
        try {
            out.grow();
            if (out.bytes.size() > limit) out.reserve(limit);
        } catch (...) {
            ZSTD_freeDCtx(dctx);
            throw;
        }
    }
    ZSTD_freeDCtx(dctx);
}

}  // namespace

uint32_t decompress(const Call& call) {
    Cell* base = stack::args;
    std::optional<Method> method = method_of(base + 1);
    if (!method) error::fire(error::id::invalid_arg, base + 1);
    size_t n;
    const uint8_t* in = checksum::binary_bytes(base, &n);
    // A first size: the caller's, else what the data says, else a multiple
    // of the input; never more than the input can expand to.
    enum { size };
    uint64_t guess = uint64_t(n) * 4;
    if (call.refs[size] >= 0 && cell::integer(base + call.refs[size]) >= 0)
        guess = uint64_t(cell::integer(base + call.refs[size]));
    else if (*method == Method::gzip && n >= gzip_overhead)
        guess = get_le32(in + n - 4);
    else if (*method == Method::zstd) {
        unsigned long long size = ZSTD_getFrameContentSize(in, n);
        if (size != ZSTD_CONTENTSIZE_UNKNOWN && size != ZSTD_CONTENTSIZE_ERROR) guess = size;
    }
    uint64_t limit = expansion_limit(*method, n);
    Output out;
    out.reserve(guess < limit ? guess : limit);
    switch (*method) {
    case Method::deflate: inflate_raw(in, n, out); break;
    case Method::zlib: unzlib(in, n, out); break;
    case Method::gzip: gunzip(in, n, out); break;
    case Method::zstd: unzstd(in, n, out, limit < alloc::series_limit ? limit : alloc::series_limit); break;
    }
    Cell* result = stack::push_slot();
    checksum::make_binary(result, out.bytes.data(), out.used);
    stack::set_result(result);
    return 0;
}

}  // namespace kel::natives
