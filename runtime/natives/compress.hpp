// compress and decompress: zlib, raw DEFLATE, gzip and Zstandard forms.
#pragma once

namespace kel::natives {
void init_compress();
}  // namespace kel::natives
