// The imaging back end: the platform objects that hold one image's pixels.
// Every pixel is 32-bit straight (not premultiplied) BGRA: in memory blue,
// green, red, alpha; read as a little-endian word 0xAARRGGBB; stored alpha
// 255 is opaque. Rows are contiguous, width x 4 bytes each.
//
// A Bitmap is what an image node owns through its handle-table record.
// Windows (win32/image.cpp): the Windows Imaging Component, with the lazy
// source, cached bitmap and GUI cache of an image node and their flags. POSIX
// (posix/image.cpp): the pixels in memory; it has no codecs and no GDI
// bridges, and its decoders and encoder answer `unavailable`.
//
// Nothing here raises a Kel error: every call answers a status, and the
// image! datatype turns it into the error. Sizes are checked by the callers
// (at most max_side per side, max_pixels in all) before pixels are asked
// for; a decoder checks a frame's declared size the same way itself.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kel::image_wic {

constexpr uint32_t max_side = 65535;                 // the size word holds 16 bits a side
constexpr uint64_t max_pixels = uint64_t(1) << 28;   // 1 GiB of pixels

enum class Status : uint8_t {
    ok,
    no_memory,    // the pixels could not be had
    bad_media,    // undecodable data, a refused frame, a failed lock or call
    unavailable,  // the platform has no such service (codecs on POSIX)
};

// Container formats, in encoder index order.
enum Format : int32_t { bmp = 0, png = 1, gif = 2, jpeg = 3, tiff = 4 };
constexpr int32_t format_count = 5;

struct Bitmap;

// Once, at start-up on the main thread (COM is started by the platform
// start): makes the imaging factory. False when it cannot be had; every
// call that needs it then answers bad_media.
bool init();

// A bitmap of w x h pixels whose contents are undefined until written.
Status create(uint32_t width, uint32_t height, Bitmap** out);
// A bitmap holding a copy of the pixels (stride 0: width x 4).
Status from_memory(uint32_t width, uint32_t height, uint32_t stride, const uint8_t* pixels, Bitmap** out);

// A lock over all pixels: the address of the first row and the row stride.
// One lock at a time per bitmap; a write lock marks the pixels written.
struct Lock {
    uint8_t* pixels = nullptr;
    uint32_t stride = 0;
    void* token = nullptr;
};
Status lock(Bitmap* b, bool write, Lock* out);
void unlock(Lock* l);

// New bitmaps, realised at once: a later write to the original never
// shows in them.
Status copy(Bitmap* b, Bitmap** out);
Status copy_part(Bitmap* b, uint32_t x, uint32_t y, uint32_t width, uint32_t height, Bitmap** out);
Status scale(Bitmap* b, uint32_t width, uint32_t height, Bitmap** out);  // nearest neighbour
Status flip_vertical(Bitmap* b, Bitmap** out);

// The first frame of an encoded image, with its size. A frame larger than
// max_side a side is bad_media, one of more than max_pixels no_memory,
// both before its pixels are asked for.
struct Decoded {
    Bitmap* bitmap = nullptr;
    uint32_t width = 0;
    uint32_t height = 0;
};
Status decode_memory(const uint8_t* bytes, size_t n, Decoded* out);
Status load_file(const std::string& path, Decoded* out);  // host path, UTF-8

// The image in the container of the format index.
Status encode(Bitmap* b, int32_t format, std::vector<uint8_t>& out);

// Releases everything the bitmap holds and the bitmap itself: the handle
// table's release procedure for kind "image".
void release_all(uintptr_t bitmap);
// The collector reached the node this cycle: a GUI cache fetched since the
// last collection is kept (its mark cleared), an unused one dropped.
void age_gui_cache(Bitmap* b);

#ifdef _WIN32
// Bridges to GDI, GDI+ and the draw back end. Handles and interfaces are
// passed as void* to keep <windows.h> out of this header.
void* to_hbitmap(Bitmap* b);                                  // HBITMAP, or null
Status from_hbitmap(void* hbitmap, int32_t alpha_option, Decoded* out);
void* to_gdiplus(Bitmap* b, Lock* lock_out);                  // GpBitmap*, the lock held
void release_gdiplus(void* gdiplus_bitmap, Lock* lock);
void* premultiply_for_draw(Bitmap* b);                        // IWICBitmapSource*, borrowed
void release_for_draw(Bitmap* b);
void* get_gui_cache(Bitmap* b);                               // IUnknown*, a new reference
void set_gui_cache(Bitmap* b, void* object);                  // takes a reference
#endif

}  // namespace kel::image_wic
