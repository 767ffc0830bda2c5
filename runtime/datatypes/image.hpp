// image!: a two-dimensional series of pixels in row-major order. Payload 1
// is the index (0 .. width x height), payload 2 the image node (0 for an
// image with no pixels: width or height 0), payload 3 the size (width in
// bits 0-15, height in bits 16-31).
//
// The image node is a small byte series holding a NodeRecord: the size and
// the index of the node's handle-table record, of kind "image", whose data
// is the platform bitmap (runtime/platform/image.hpp). The collector marks
// the record while the node lives; the handle table's sweep releases the
// bitmap of a node no value reaches any more.
//
// Pixels are stored as straight BGRA (0xAARRGGBB read as a little-endian
// word, alpha 255 opaque). The language sees 4-byte tuples r.g.b.a with
// a = 255 minus the stored alpha: 0 is opaque, 255 fully transparent.
#pragma once
#include <cstdint>
#include <vector>

#include "runtime/alloc.hpp"
#include "runtime/cell.hpp"
#include "runtime/platform/image.hpp"

namespace kel::image {

struct NodeRecord {
    uint32_t size;  // width | height << 16
    int32_t slot;   // the handle-table record holding the bitmap
};

inline uint32_t width_of(const Cell* img) { return img->payload3 & 0xFFFF; }
inline uint32_t height_of(const Cell* img) { return img->payload3 >> 16; }
inline int64_t pixel_count(const Cell* img) { return int64_t(width_of(img)) * height_of(img); }

// The handle-table kind id of image nodes (set by register_type).
extern int32_t handle_kind;

// Writes an image! at index 0 over the node (0: no pixels) of the size.
Cell* box(Cell* out, NodeId node, uint32_t width, uint32_t height);
// A new node owning the bitmap, boxed into out (which must be a collector
// root: a stack cell or a registered cell). The bitmap is released when
// making the node fails.
Cell* box_bitmap(Cell* out, image_wic::Bitmap* bitmap, uint32_t width, uint32_t height);
// The platform bitmap of an image, or null for one with no pixels.
image_wic::Bitmap* bitmap_of(const Cell* img);

// The collector's hook while it marks an image: marks the node's handle
// record and ages the GUI cache once per cycle.
void finalize_node(NodeId node);

// A whole-image lock, released by its destructor (also when an error or a
// /part limit ends the work early). A failed lock raises access bad-media.
class PixelLock {
public:
    PixelLock(const Cell* img, bool write);
    ~PixelLock();
    PixelLock(const PixelLock&) = delete;
    PixelLock& operator=(const PixelLock&) = delete;
    uint8_t* row(uint32_t y) const { return lock_.pixels + uint64_t(y) * lock_.stride; }
    uint8_t* pixel(int64_t i) const { return row(uint32_t(i / width_)) + uint64_t(i % width_) * 4; }

private:
    image_wic::Lock lock_;
    uint32_t width_;
};

// A new image of the size, every pixel filled: with the colour tuple when
// given (alpha 255 minus its fourth byte, opaque for 3 bytes), else from the
// rgb bytes (3 a pixel) and the alpha bytes (255 minus each), white and
// opaque where they run out. A side above 65535 raises script invalid-arg,
// more than 2^28 pixels internal no-memory. Negative sides count as 0.
Cell* make_filled(Cell* out, int32_t width, int32_t height, const Cell* rgb, const Cell* alpha, const Cell* colour);

// The pixels as bytes, from pixel 0: mode 0 one byte a pixel (255 minus the
// stored alpha), mode 1 r, g, b, mode 2 the stored B, G, R, A.
Cell* to_binary(const Cell* img, Cell* out, int32_t mode);
// Writes every pixel from a binary!, tuple! or integer! in the same modes
// and tells the owner.
void set_from_binary(const Cell* img, const Cell* value, int32_t mode);

// The pixel at a 0-based position as a tuple r.g.b.a, or none past the end.
Cell* get_pixel(const Cell* img, int64_t position, Cell* out);

// Entry points of the codecs and the clipboard. load_binary answers an
// image! in out, or none when the bytes start with no known signature;
// recognised bytes that cannot be decoded raise access bad-media. load_file
// raises access cannot-open naming the file. encode fills out with a new
// binary! in the format (0 BMP, 1 PNG, 2 GIF, 3 JPEG, 4 TIFF); another index
// prints "Cannot find image encoder" and leaves out none. Where the platform
// has no codecs, decoding and encoding raise access not-available.
Cell* load(const Cell* value, Cell* out);
Cell* load_binary(const uint8_t* bytes, size_t n, Cell* out);
Cell* load_file(const Cell* file, Cell* out);
Cell* encode(const Cell* img, Cell* out, int32_t format);
// The format the first bytes announce (-1: none), and the size a PNG, GIF
// or BMP header declares (false when the header is too short to say).
int32_t signature_format(const uint8_t* bytes, size_t n);
bool declared_size(const uint8_t* bytes, size_t n, int32_t format, uint64_t* width, uint64_t* height);

// A new image! with a scaled copy (nearest neighbour), pushed on the stack.
Cell* push_scaled(const Cell* img, uint32_t width, uint32_t height);

void register_type();

}  // namespace kel::image
