// The system clipboard: text and lists of files. Windows uses its clipboard
// (text as CF_UNICODETEXT, files as CF_HDROP); POSIX hosts have none here,
// so reading and writing there fail.
#pragma once
#include <string>
#include <vector>

namespace kel::os {

struct ClipboardData {
    // failed: the clipboard could not be opened or a block not locked;
    // empty: none of the formats is there, or nothing is to be written.
    enum class Kind { failed, empty, text, files } kind = Kind::empty;
    std::string text;                // UTF-8; read with CR LF as LF, written with LF as CR LF
    std::vector<std::string> files;  // host paths, UTF-8
};

// The first format present: text, then files.
ClipboardData clipboard_read();

// Places the text or the files, after emptying the clipboard; empty only
// empties it. True when every format was placed.
bool clipboard_write(const ClipboardData& data);

}  // namespace kel::os
