// The in-memory imaging back end: a bitmap is its pixel rows and nothing
// else, on the tracked heap (so the bitmaps of images alive at exit are
// released with it). There are no codecs here; the decoders and the encoder answer
// `unavailable`.
#include "runtime/platform/image.hpp"

#include <cstring>

#include "runtime/mem.hpp"

namespace kel::image_wic {

struct Bitmap {
    uint32_t width;
    uint32_t height;
    bool locked;
    uint8_t* pixels;  // height rows of width x 4 bytes
};

namespace {

uint64_t byte_count(uint32_t width, uint32_t height) { return uint64_t(width) * height * 4; }

Status allocate(uint32_t width, uint32_t height, Bitmap** out) {
    *out = nullptr;
    if (!width || !height || width > max_side || height > max_side) return Status::bad_media;
    if (uint64_t(width) * height > max_pixels) return Status::no_memory;
    auto* b = static_cast<Bitmap*>(mem::resize_or_null(nullptr, sizeof(Bitmap)));
    if (!b) return Status::no_memory;
    *b = Bitmap{width, height, false, static_cast<uint8_t*>(mem::resize_or_null(nullptr, byte_count(width, height)))};
    if (!b->pixels) {
        mem::release(b);
        return Status::no_memory;
    }
    *out = b;
    return Status::ok;
}

}  // namespace

bool init() { return true; }

Status create(uint32_t width, uint32_t height, Bitmap** out) { return allocate(width, height, out); }

Status from_memory(uint32_t width, uint32_t height, uint32_t stride, const uint8_t* pixels, Bitmap** out) {
    Status s = allocate(width, height, out);
    if (s != Status::ok) return s;
    size_t row = size_t(width) * 4;
    if (!stride) stride = uint32_t(row);
    for (uint32_t y = 0; y < height; ++y) std::memcpy((*out)->pixels + y * row, pixels + size_t(y) * stride, row);
    return Status::ok;
}

Status lock(Bitmap* b, bool, Lock* out) {
    if (!b || b->locked) return Status::bad_media;
    b->locked = true;
    *out = Lock{b->pixels, b->width * 4, b};
    return Status::ok;
}

void unlock(Lock* l) {
    if (l->token) static_cast<Bitmap*>(l->token)->locked = false;
    *l = Lock{};
}

Status copy(Bitmap* b, Bitmap** out) { return copy_part(b, 0, 0, b->width, b->height, out); }

Status copy_part(Bitmap* b, uint32_t x, uint32_t y, uint32_t width, uint32_t height, Bitmap** out) {
    if (uint64_t(x) + width > b->width || uint64_t(y) + height > b->height) return Status::bad_media;
    Status s = allocate(width, height, out);
    if (s != Status::ok) return s;
    for (uint32_t r = 0; r < height; ++r)
        std::memcpy((*out)->pixels + size_t(r) * width * 4, b->pixels + (size_t(y + r) * b->width + x) * 4,
                    size_t(width) * 4);
    return Status::ok;
}

Status scale(Bitmap* b, uint32_t width, uint32_t height, Bitmap** out) {
    Status s = allocate(width, height, out);
    if (s != Status::ok) return s;
    for (uint32_t r = 0; r < height; ++r) {
        uint32_t sr = uint32_t(uint64_t(r) * b->height / height);
        for (uint32_t c = 0; c < width; ++c) {
            uint32_t sc = uint32_t(uint64_t(c) * b->width / width);
            std::memcpy((*out)->pixels + (size_t(r) * width + c) * 4, b->pixels + (size_t(sr) * b->width + sc) * 4, 4);
        }
    }
    return Status::ok;
}

Status flip_vertical(Bitmap* b, Bitmap** out) {
    Status s = allocate(b->width, b->height, out);
    if (s != Status::ok) return s;
    size_t row = size_t(b->width) * 4;
    for (uint32_t r = 0; r < b->height; ++r)
        std::memcpy((*out)->pixels + r * row, b->pixels + (b->height - 1 - r) * row, row);
    return Status::ok;
}

Status decode_memory(const uint8_t*, size_t, Decoded* out) {
    *out = Decoded{};
    return Status::unavailable;
}

Status load_file(const std::string&, Decoded* out) {
    *out = Decoded{};
    return Status::unavailable;
}

Status encode(Bitmap*, int32_t, std::vector<uint8_t>& out) {
    out.clear();
    return Status::unavailable;
}

void release_all(uintptr_t bitmap) {
    auto* b = reinterpret_cast<Bitmap*>(bitmap);
    if (!b) return;
    mem::release(b->pixels);
    mem::release(b);
}

void age_gui_cache(Bitmap*) {}

}  // namespace kel::image_wic
