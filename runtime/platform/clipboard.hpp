// The system clipboard: text, lists of files and images. Windows uses its
// clipboard (text as CF_UNICODETEXT, files as CF_HDROP, images as "PNG",
// "JFIF", "GIF", CF_DIBV5 or CF_BITMAP); POSIX hosts have none here, so
// reading and writing there fail.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "runtime/platform/image.hpp"

namespace kel::os {

struct ClipboardData {
    // failed: the clipboard could not be opened or a block not locked;
    // empty: none of the formats is there, or nothing is to be written;
    // encoded: the bytes of an encoded image (read only);
    // bitmap: an image's pixels (a null bitmap on read: none could be made).
    enum class Kind { failed, empty, text, files, encoded, bitmap } kind = Kind::empty;
    std::string text;                // UTF-8; read with CR LF as LF, written with LF as CR LF
    std::vector<std::string> files;  // host paths, UTF-8
    std::vector<uint8_t> bytes;      // encoded
    // bitmap: read, a new bitmap the caller owns; written, borrowed.
    image_wic::Bitmap* bitmap = nullptr;
    uint32_t width = 0, height = 0;
};

// The first format present: text, files, an encoded image, then pixels.
ClipboardData clipboard_read();

// Places the text, the files or the image (as PNG and as a 32-bit DIB),
// after emptying the clipboard; empty only empties it. True when every
// format was placed.
bool clipboard_write(const ClipboardData& data);

}  // namespace kel::os
