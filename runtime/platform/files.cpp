// The part of the file services both platforms share: which way a write
// goes, the write over a file from an offset, and the temporary file's name.
#include "runtime/platform/files.hpp"

namespace kel::files {
namespace {

Pieces one_piece(std::string_view bytes) {
    return [bytes, given = false]() mutable -> std::string_view {
        if (given) return {};
        given = true;
        return bytes;
    };
}

// A write over a regular file from an offset: the old bytes with the new
// ones laid over them from `seek` (a gap past the end filled with zero bytes).
bool write_over(const Target& t, const Pieces& pieces, int64_t seek) {
    std::string content;
    if (t.kind == Target::replaced) {
        std::optional<std::string> old = read(t.path, -1, -1);
        if (!old) return false;
        content = std::move(*old);
    }
    size_t at = size_t(seek);
    for (std::string_view piece = pieces(); !piece.empty(); piece = pieces()) {
        if (content.size() < at + piece.size()) content.resize(at + piece.size(), '\0');
        content.replace(at, piece.size(), piece);
        at += piece.size();
    }
    if (content.size() < at) content.resize(at, '\0');
    return replace_whole(t.path, one_piece(content));
}

}  // namespace

bool write(const std::string& path, const Pieces& pieces, int64_t seek, bool append) {
    if (append) return append_bytes(path, pieces);
    Target t = target_of(path);
    switch (t.kind) {
    case Target::refused: return false;
    case Target::in_place: return write_in_place(t.path, pieces, seek);
    default: return seek < 0 ? replace_whole(t.path, pieces) : write_over(t, pieces, seek);
    }
}

bool write(const std::string& path, std::string_view bytes, int64_t seek, bool append) {
    return write(path, one_piece(bytes), seek, append);
}

std::string temporary_name(std::string_view base, std::string_view tag) {
    // 255 bytes of UTF-8 are at most 255 UTF-16 units too: within the limit
    // of either kind of system, Windows programs on a POSIX file system too.
    constexpr size_t name_limit = 255;
    size_t room = name_limit - tag.size() - 3, n = 0;
    // Whole characters only: a cut inside one would make a name the system
    // refuses or shows as garbage.
    while (n < base.size()) {
        size_t next = n + 1;
        while (next < base.size() && (static_cast<unsigned char>(base[next]) & 0xC0) == 0x80) ++next;
        if (next > room) break;
        n = next;
    }
    std::string name = ".";
    name.append(base.substr(0, n));
    name += '.';
    name.append(tag);
    name += '~';
    return name;
}

}  // namespace kel::files
