// The image node and the pixel work every image! operation shares: making
// and filling nodes, locks, the pixels as bytes, and the codec entry points.
//
// A node's bitmap is platform memory that the collector never moves; it is
// reached only through the node's handle-table record. So a pixel address
// from a lock stays good across allocations, as long as the image value is
// held where the collector sees it (an argument cell, a rooted cell) so that
// its record is not swept meanwhile.
#include "runtime/datatypes/image.hpp"

#include <bit>
#include <cstring>
#include <optional>
#include <string>

#include "runtime/collector.hpp"
#include "runtime/datatypes/binary.hpp"
#include "runtime/datatypes/file.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/pair.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/tuple.hpp"
#include "runtime/error.hpp"
#include "runtime/output.hpp"
#include "runtime/platform/files.hpp"
#include "runtime/slots.hpp"
#include "runtime/stack.hpp"
#include "runtime/words.hpp"

namespace kel::image {

static_assert(std::endian::native == std::endian::little, "pixels are read as little-endian words");

int32_t handle_kind = 0;

namespace {

NodeRecord record_of(NodeId node) {
    SeriesBuffer* b = alloc::buffer_of(node);
    NodeRecord r;
    std::memcpy(&r, b->data() + b->offset, sizeof r);
    return r;
}

// The status of a platform call as the Kel error it stands for.
void check(image_wic::Status s) {
    switch (s) {
        case image_wic::Status::ok: return;
        case image_wic::Status::no_memory: error::fire(error::id::no_memory);
        case image_wic::Status::unavailable: {
            Cell what;
            string::make_from_utf8(&what, "image decoding and encoding", 27);
            error::fire(error::id::not_available, &what);
        }
        default: error::fire(error::id::bad_media);
    }
}

uint32_t read_word(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
void write_word(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

uint32_t big_endian(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }
uint32_t little16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }

// The bytes of a binary from its index, copied out of the buffer (which an
// allocation may move).
std::vector<uint8_t> bytes_of(const Cell* bin) {
    const uint8_t* p = binary::ks_head(bin);
    return std::vector<uint8_t>(p, p + binary::ks_length_q(bin));
}

// The four colour bytes of a tuple (a missing fourth byte is 0) or of an
// integer (low byte first).
void colour_bytes(const Cell* v, uint8_t out[4]) {
    if (cell::is(v, type::tuple)) {
        const uint8_t* t = tuple::bytes(v);
        out[0] = t[0], out[1] = t[1], out[2] = t[2];
        out[3] = tuple::length(v) > 3 ? t[3] : 0;
        return;
    }
    uint32_t n = v->payload2;
    for (int k = 0; k < 4; ++k) out[k] = uint8_t(n >> (8 * k));
}

uint32_t pixel_of(uint8_t r, uint8_t g, uint8_t b, uint8_t stored_alpha) {
    return uint32_t(stored_alpha) << 24 | uint32_t(r) << 16 | uint32_t(g) << 8 | b;
}

}  // namespace

// ---- nodes

Cell* box(Cell* out, NodeId node, uint32_t width, uint32_t height) {
    *out = Cell{type::image, 0, node, (width & 0xFFFF) | (height & 0xFFFF) << 16};
    return out;
}

Cell* box_bitmap(Cell* out, image_wic::Bitmap* bitmap, uint32_t width, uint32_t height) {
    NodeId node;
    try {
        node = alloc::alloc_bytes(sizeof(NodeRecord));
    } catch (...) {
        image_wic::release_all(reinterpret_cast<uintptr_t>(bitmap));
        throw;
    }
    // Nothing allocates from here until the node is in out.
    NodeRecord r{width | height << 16, slots::alloc(reinterpret_cast<uintptr_t>(bitmap), handle_kind)};
    SeriesBuffer* b = alloc::buffer_of(node);
    std::memcpy(b->data() + b->offset, &r, sizeof r);
    b->tail = b->offset + uint32_t(sizeof r);
    return box(out, node, width, height);
}

image_wic::Bitmap* bitmap_of(const Cell* img) {
    if (!img->payload2) return nullptr;
    int32_t slot = record_of(img->payload2).slot;
    if (slot < 0) return nullptr;
    return reinterpret_cast<image_wic::Bitmap*>(slots::table.records[slot].data);
}

void finalize_node(NodeId node) {
    int32_t slot = record_of(node).slot;
    if (slot < 0) return;
    if (slots::mark(slot, 0))
        image_wic::age_gui_cache(reinterpret_cast<image_wic::Bitmap*>(slots::table.records[slot].data));
}

PixelLock::PixelLock(const Cell* img, bool write) : width_(width_of(img)) {
    image_wic::Bitmap* b = bitmap_of(img);
    if (!b || image_wic::lock(b, write, &lock_) != image_wic::Status::ok) error::fire(error::id::bad_media);
}

PixelLock::~PixelLock() { image_wic::unlock(&lock_); }

// ---- making and filling

Cell* make_filled(Cell* out, int32_t width, int32_t height, const Cell* rgb, const Cell* alpha, const Cell* colour) {
    if (width < 0) width = 0;
    if (height < 0) height = 0;
    if (uint32_t(width) > image_wic::max_side || uint32_t(height) > image_wic::max_side) {
        Cell size;
        pair::box(&size, width, height);
        error::fire(error::id::invalid_arg, &size);
    }
    if (!width || !height) return box(out, 0, uint32_t(width), uint32_t(height));
    uint64_t count = uint64_t(width) * uint64_t(height);
    if (count > image_wic::max_pixels) error::fire(error::id::no_memory);
    // What fills the pixels, taken before the allocation moves buffers.
    bool filled = colour != nullptr;
    uint8_t c[4] = {0, 0, 0, 0};
    if (filled) colour_bytes(colour, c);
    std::vector<uint8_t> rgb_bytes = rgb ? bytes_of(rgb) : std::vector<uint8_t>{};
    std::vector<uint8_t> alpha_bytes = alpha ? bytes_of(alpha) : std::vector<uint8_t>{};
    image_wic::Bitmap* bitmap = nullptr;
    check(image_wic::create(uint32_t(width), uint32_t(height), &bitmap));
    box_bitmap(out, bitmap, uint32_t(width), uint32_t(height));
    PixelLock lock(out, true);
    uint64_t rgb_pixels = rgb_bytes.size() / 3, alpha_pixels = alpha_bytes.size();
    uint32_t fill = filled ? pixel_of(c[0], c[1], c[2], uint8_t(255 - c[3])) : 0xFFFFFFFF;
    for (uint32_t y = 0; y < uint32_t(height); ++y) {
        uint8_t* p = lock.row(y);
        for (uint32_t x = 0; x < uint32_t(width); ++x, p += 4) {
            uint64_t i = uint64_t(y) * uint32_t(width) + x;
            if (filled || (i >= rgb_pixels && i >= alpha_pixels)) {
                write_word(p, fill);
                continue;
            }
            const uint8_t* s = rgb_bytes.data() + 3 * i;
            uint32_t v = i < rgb_pixels ? pixel_of(s[0], s[1], s[2], 255) : 0xFFFFFFFF;
            if (i < alpha_pixels) v = (v & 0xFFFFFF) | uint32_t(255 - alpha_bytes[i]) << 24;
            write_word(p, v);
        }
    }
    return out;
}

Cell* get_pixel(const Cell* img, int64_t position, Cell* out) {
    if (position < 0 || position >= pixel_count(img)) {
        cell::set_none(out);
        return out;
    }
    uint32_t v;
    {
        PixelLock lock(img, false);
        v = read_word(lock.pixel(position));
    }
    uint8_t t[4] = {uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v), uint8_t(255 - (v >> 24))};
    return tuple::box_bytes(out, t, 4);
}

// ---- the pixels as bytes

Cell* to_binary(const Cell* img, Cell* out, int32_t mode) {
    const Cell image = *img;
    uint64_t count = img->payload2 ? uint64_t(pixel_count(img)) : 0;
    uint32_t per = mode == 0 ? 1 : mode == 1 ? 3 : 4;
    uint64_t n = count * per;
    binary::make_at(out, uint32_t(n ? n : 1));
    if (!n) return out;
    SeriesBuffer* b = alloc::buffer_of(out->payload2);
    uint8_t* q = b->data() + b->offset;
    b->tail = b->offset + uint32_t(n);
    PixelLock lock(&image, false);
    uint32_t w = width_of(&image), h = height_of(&image);
    for (uint32_t y = 0; y < h; ++y) {
        const uint8_t* p = lock.row(y);
        if (mode == 2) {
            std::memcpy(q, p, size_t(w) * 4);
            q += size_t(w) * 4;
            continue;
        }
        for (uint32_t x = 0; x < w; ++x, p += 4) {
            if (mode == 0) {
                *q++ = uint8_t(255 - p[3]);
            } else {
                *q++ = p[2], *q++ = p[1], *q++ = p[0];
            }
        }
    }
    return out;
}

void set_from_binary(const Cell* img, const Cell* value, int32_t mode) {
    uint8_t t = cell::type_of(value);
    if (t != type::binary && t != type::tuple && t != type::integer) error::fire(error::id::invalid_arg, value);
    const Cell image = *img;
    int64_t count = image.payload2 ? pixel_count(&image) : 0;
    int32_t index = int32_t(image.payload1);
    bool told = series::notify(&image, words::words.change, index, int32_t(count), value);
    if (count) {
        PixelLock lock(&image, true);
        if (t == type::binary) {
            const uint8_t* s = binary::ks_head(value);
            int64_t n = binary::ks_length_q(value);
            int64_t pixels = mode == 2 ? n / 4 : mode == 1 ? n / 3 : n;
            if (pixels > count) pixels = count;
            for (int64_t i = 0; i < pixels; ++i) {
                uint8_t* p = lock.pixel(i);
                if (mode == 2) std::memcpy(p, s + 4 * i, 4);
                else if (mode == 1) p[2] = s[3 * i], p[1] = s[3 * i + 1], p[0] = s[3 * i + 2];
                else p[3] = uint8_t(255 - s[i]);
            }
            // The bytes of a last partial pixel still count in the raw form.
            if (mode == 2 && pixels < count && n % 4) std::memcpy(lock.pixel(pixels), s + 4 * pixels, size_t(n % 4));
        } else {
            uint8_t c[4];
            colour_bytes(value, c);
            for (int64_t i = 0; i < count; ++i) {
                uint8_t* p = lock.pixel(i);
                if (mode == 2) write_word(p, pixel_of(c[0], c[1], c[2], uint8_t(255 - c[3])));
                else if (mode == 1) p[2] = c[0], p[1] = c[1], p[0] = c[2];
                else p[3] = uint8_t(255 - c[0]);
            }
        }
    }
    if (told) series::notify(&image, words::words.changed, index, int32_t(count), value);
}

// ---- codecs

int32_t signature_format(const uint8_t* p, size_t n) {
    using namespace image_wic;
    if (n >= 4 && p[0] == 137 && p[1] == 'P' && p[2] == 'N' && p[3] == 'G') return png;
    if (n >= 3 && p[0] == 255 && p[1] == 216 && p[2] == 255) return jpeg;
    if (n >= 2 && p[0] == 'B' && p[1] == 'M') return bmp;
    if (n >= 6 && std::memcmp(p, "GIF8", 4) == 0 && (p[4] == '7' || p[4] == '9') && p[5] == 'a') return gif;
    if (n >= 4 && (std::memcmp(p, "II*\0", 4) == 0 || std::memcmp(p, "MM\0*", 4) == 0)) return tiff;
    return -1;
}

bool declared_size(const uint8_t* p, size_t n, int32_t format, uint64_t* width, uint64_t* height) {
    using namespace image_wic;
    switch (format) {
        case png:  // the IHDR chunk comes first: width and height big-endian
            if (n < 24 || std::memcmp(p + 12, "IHDR", 4) != 0) return false;
            *width = big_endian(p + 16), *height = big_endian(p + 20);
            return true;
        case gif:  // the logical screen
            if (n < 10) return false;
            *width = little16(p + 6), *height = little16(p + 8);
            return true;
        case bmp: {  // the info header: 16-bit sides in the old core header, else signed 32-bit
            if (n < 26) return false;
            uint32_t header = read_word(p + 14);
            if (header == 12) {
                *width = little16(p + 18), *height = little16(p + 20);
            } else {
                int32_t w = int32_t(read_word(p + 18)), h = int32_t(read_word(p + 22));
                *width = w < 0 ? uint64_t(-int64_t(w)) : uint64_t(w);
                *height = h < 0 ? uint64_t(-int64_t(h)) : uint64_t(h);
            }
            return true;
        }
        default: return false;
    }
}

namespace {

// Refuses, before any decoder sees them, bytes too short to hold their
// format's header or whose header points past the end (some platform
// decoders read there unchecked), and a header that declares more than an
// image can hold: a few bytes can declare gigabytes of pixels.
// The first n bytes are at p (n is at least 26 or the whole); total counts
// them all.
void check_declared(const uint8_t* p, size_t n, uint64_t total, int32_t format) {
    using namespace image_wic;
    bool whole;
    switch (format) {
        case png: whole = total >= 33; break;  // the signature and the IHDR chunk
        case gif: whole = total >= 13; break;  // the header and the logical screen
        case bmp: whole = n >= 26 && read_word(p + 10) <= total; break;
        case tiff: {
            if (n < 8) {
                whole = false;
                break;
            }
            uint32_t first = p[0] == 'I' ? read_word(p + 4) : big_endian(p + 4);  // the first directory
            whole = first >= 8 && uint64_t(first) + 2 <= total;
            break;
        }
        default: whole = total >= 4; break;
    }
    if (!whole) error::fire(error::id::bad_media);
    uint64_t w, h;
    if (!declared_size(p, n, format, &w, &h)) return;
    if (w > image_wic::max_side || h > image_wic::max_side || w * h > image_wic::max_pixels)
        error::fire(error::id::bad_media);
}

Cell* box_decoded(Cell* out, const image_wic::Decoded& d) {
    return box_bitmap(out, d.bitmap, d.width, d.height);
}

}  // namespace

Cell* load_binary(const uint8_t* bytes, size_t n, Cell* out) {
    int32_t format = signature_format(bytes, n);
    if (format < 0) {
        cell::set_none(out);
        return out;
    }
    check_declared(bytes, n, n, format);
    image_wic::Decoded d;
    check(image_wic::decode_memory(bytes, n, &d));
    return box_decoded(out, d);
}

Cell* load_file(const Cell* file, Cell* out) {
    cell::set_unset(out);
    std::string path = file::to_local_path(file);
    std::optional<std::string> head = files::read(path, 0, 64);
    if (!head) error::fire(error::id::cannot_open, file);
    auto* p = reinterpret_cast<const uint8_t*>(head->data());
    int32_t format = signature_format(p, head->size());
    std::optional<int64_t> total = files::size(path);
    if (format >= 0) check_declared(p, head->size(), total ? uint64_t(*total) : head->size(), format);
    image_wic::Decoded d;
    image_wic::Status s = image_wic::load_file(path, &d);
    if (s == image_wic::Status::unavailable) check(s);
    if (s != image_wic::Status::ok) error::fire(error::id::cannot_open, file);
    return box_decoded(out, d);
}

Cell* load(const Cell* value, Cell* out) {
    if (cell::is(value, type::binary)) {
        std::vector<uint8_t> bytes = bytes_of(value);
        return load_binary(bytes.data(), bytes.size(), out);
    }
    return load_file(value, out);
}

Cell* encode(const Cell* img, Cell* out, int32_t format) {
    if (!img->payload2 || !width_of(img) || !height_of(img)) error::fire(error::id::bad_media);
    if (format < 0 || format >= image_wic::format_count) {
        static constexpr char line[] = "Cannot find image encoder";
        Cell* text = stack::push_slot();
        string::make_from_utf8(text, line, sizeof line - 1);
        output::run_value_hooks(text, true);
        stack::pop(1);
        cell::set_none(out);
        return out;
    }
    std::vector<uint8_t> bytes;
    check(image_wic::encode(bitmap_of(img), format, bytes));
    return binary::load_at(out, bytes.data(), bytes.size());
}

Cell* push_scaled(const Cell* img, uint32_t width, uint32_t height) {
    const Cell image = *img;
    Cell* out = stack::push_slot();
    if (!image.payload2 || !width || !height) return box(out, 0, width, height);
    if (width > image_wic::max_side || height > image_wic::max_side) error::fire(error::id::no_memory);
    image_wic::Bitmap* scaled = nullptr;
    check(image_wic::scale(bitmap_of(&image), width, height, &scaled));
    return box_bitmap(out, scaled, width, height);
}

}  // namespace kel::image
