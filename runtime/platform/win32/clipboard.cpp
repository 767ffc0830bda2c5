// The clipboard on Windows. Opening tries three times, sleeping 1 ms before
// each retry and letting pending messages through after each failure, and
// every path that opened it closes it. The owner is a hidden message-only
// window of our own, made on first use, so a run without windows can own
// what it places. Blocks read from other programs are bounded by their
// size, never by a terminating NUL alone; a DIB's declared size is checked
// against its block before any pixel is read.
#include "runtime/platform/clipboard.hpp"

#include <windows.h>
#include <shlobj.h>
#include <shellapi.h>

#include <cstring>

#include "runtime/platform/win32/shared.hpp"
#include "runtime/unicode.hpp"

namespace kel::os {
namespace {

HWND owner() {
    static HWND window = [] {
        WNDCLASSW wc{};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"KelClipboardOwner";
        RegisterClassW(&wc);
        return CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    }();
    return window;
}

bool open_clipboard() {
    HWND w = owner();
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (attempt) Sleep(1);
        if (OpenClipboard(w)) return true;
        MSG m;
        PeekMessageW(&m, nullptr, 0, 0, PM_NOREMOVE);
    }
    return false;
}

struct Closer {
    ~Closer() { CloseClipboard(); }
};

std::string without_cr_before_lf(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i)
        if (!(s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n')) out += s[i];
    return out;
}

std::u16string with_crlf(const std::string& utf8) {
    std::u16string w = unicode::utf8_to_utf16(utf8), out;
    out.reserve(w.size());
    for (char16_t c : w) {
        if (c == u'\n') out += u'\r';
        out += c;
    }
    return out;
}

bool read_text(ClipboardData& out) {
    HANDLE h = GetClipboardData(CF_UNICODETEXT);
    const auto* p = h ? static_cast<const char16_t*>(GlobalLock(h)) : nullptr;
    if (!p) return false;
    size_t units = GlobalSize(h) / sizeof(char16_t), n = 0;
    while (n < units && p[n]) ++n;
    std::u16string text(p, n);
    GlobalUnlock(h);
    out.kind = ClipboardData::Kind::text;
    out.text = without_cr_before_lf(unicode::utf16_to_utf8(text));
    return true;
}

bool read_files(ClipboardData& out) {
    HANDLE h = GetClipboardData(CF_HDROP);
    if (!h || !GlobalLock(h)) return false;
    HDROP drop = static_cast<HDROP>(h);
    UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    std::vector<wchar_t> name(260);
    out.kind = ClipboardData::Kind::files;
    for (UINT i = 0; i < count; ++i) {
        UINT length = DragQueryFileW(drop, i, nullptr, 0);
        if (length + 1 > name.size()) name.resize(length + 1);
        UINT got = DragQueryFileW(drop, i, name.data(), UINT(name.size()));
        out.files.push_back(unicode::utf16_to_utf8(std::u16string(name.begin(), name.begin() + got)));
    }
    GlobalUnlock(h);
    return true;
}

// The first of the encoded image formats present, its bytes copied.
bool read_encoded(UINT format, ClipboardData& out) {
    HANDLE h = GetClipboardData(format);
    const auto* p = h ? static_cast<const uint8_t*>(GlobalLock(h)) : nullptr;
    if (!p) return false;
    out.bytes.assign(p, p + GlobalSize(h));
    GlobalUnlock(h);
    out.kind = ClipboardData::Kind::encoded;
    return true;
}

// A CF_BITMAP through WIC, its alpha ignored (opaque).
bool read_gdi_bitmap(ClipboardData& out) {
    out.kind = ClipboardData::Kind::bitmap;
    HANDLE h = GetClipboardData(CF_BITMAP);
    if (!h) return true;
    image_wic::Decoded d;
    if (image_wic::from_hbitmap(h, 2, &d) == image_wic::Status::ok) out.bitmap = d.bitmap, out.width = d.width, out.height = d.height;
    return true;
}

// The pixels of a 32-bit BGRA DIB with the standard masks, rows top-down;
// false when the block is not such a DIB or its declared size does not fit
// in the block (the header counted, then the colour table, then the rows).
bool dib_pixels(const uint8_t* p, uint64_t size, ClipboardData& out) {
    if (size < sizeof(BITMAPV5HEADER)) return false;
    BITMAPV5HEADER head;
    std::memcpy(&head, p, sizeof head);
    if (head.bV5Size < sizeof head || head.bV5Size > size) return false;
    if (head.bV5BitCount != 32 || head.bV5Compression != BI_BITFIELDS || head.bV5AlphaMask != 0xFF000000 ||
        head.bV5RedMask != 0x00FF0000 || head.bV5GreenMask != 0x0000FF00 || head.bV5BlueMask != 0x000000FF)
        return false;
    int64_t width = head.bV5Width, height = head.bV5Height;
    bool bottom_up = height > 0;
    if (height < 0) height = -height;
    if (width <= 0 || height == 0 || uint64_t(width) > image_wic::max_side || uint64_t(height) > image_wic::max_side ||
        uint64_t(width) * uint64_t(height) > image_wic::max_pixels)
        return false;
    uint64_t stride = uint64_t(width) * 4, offset = uint64_t(head.bV5Size) + uint64_t(head.bV5ClrUsed) * 4;
    if (head.bV5ClrUsed > (1u << 16) || offset + stride * uint64_t(height) > size) return false;
    const uint8_t* rows = p + offset;
    std::vector<uint8_t> flipped;
    if (bottom_up) {
        flipped.resize(stride * uint64_t(height));
        for (int64_t y = 0; y < height; ++y)
            std::memcpy(flipped.data() + uint64_t(y) * stride, rows + uint64_t(height - 1 - y) * stride, stride);
        rows = flipped.data();
    }
    out.kind = ClipboardData::Kind::bitmap;
    out.width = uint32_t(width), out.height = uint32_t(height);
    if (image_wic::from_memory(out.width, out.height, 0, rows, &out.bitmap) != image_wic::Status::ok) out.bitmap = nullptr;
    return true;
}

// CF_DIBV5 when it holds a usable 32-bit BGRA DIB, else CF_BITMAP when
// present, else none.
bool read_dib(ClipboardData& out) {
    HANDLE h = GetClipboardData(CF_DIBV5);
    if (h) {
        const auto* p = static_cast<const uint8_t*>(GlobalLock(h));
        if (!p) return false;
        bool done = dib_pixels(p, GlobalSize(h), out);
        GlobalUnlock(h);
        if (done) return true;
    }
    if (IsClipboardFormatAvailable(CF_BITMAP)) return read_gdi_bitmap(out);
    out.kind = ClipboardData::Kind::empty;
    return true;
}

UINT png_format() { return RegisterClipboardFormatA("PNG"); }

// A movable block holding the bytes; null when it cannot be had.
HGLOBAL block_of(const void* bytes, size_t n) {
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, n);
    if (!h) return nullptr;
    void* p = GlobalLock(h);
    if (!p) {
        GlobalFree(h);
        return nullptr;
    }
    std::memcpy(p, bytes, n);
    GlobalUnlock(h);
    return h;
}

HGLOBAL text_block(const std::string& text) {
    std::u16string w = with_crlf(text);
    w += u'\0';
    return block_of(w.data(), w.size() * sizeof(char16_t));
}

// A DROPFILES record followed by the wide names, each with its NUL, and one
// more NUL ending the list.
HGLOBAL files_block(const std::vector<std::string>& files) {
    std::u16string names;
    for (const std::string& f : files) {
        names += with_crlf(f);
        names += u'\0';
    }
    names += u'\0';
    std::string bytes(sizeof(DROPFILES) + names.size() * sizeof(char16_t), '\0');
    DROPFILES head{};
    head.pFiles = sizeof(DROPFILES);
    head.fWide = TRUE;
    std::memcpy(bytes.data(), &head, sizeof head);
    std::memcpy(bytes.data() + sizeof head, names.data(), names.size() * sizeof(char16_t));
    return block_of(bytes.data(), bytes.size());
}

// The image as PNG; null when it cannot be encoded or had.
HGLOBAL png_block(image_wic::Bitmap* bitmap) {
    std::vector<uint8_t> png;
    if (image_wic::encode(bitmap, image_wic::png, png) != image_wic::Status::ok || png.empty()) return nullptr;
    return block_of(png.data(), png.size());
}

// A 124-byte BITMAPV5HEADER for top-down 32-bit BGRA rows, then the rows
// as the image holds them (straight alpha).
HGLOBAL dibv5_block(const ClipboardData& data) {
    image_wic::Lock lock;
    if (image_wic::lock(data.bitmap, false, &lock) != image_wic::Status::ok) return nullptr;
    uint64_t stride = uint64_t(data.width) * 4;
    std::vector<uint8_t> bytes(sizeof(BITMAPV5HEADER) + stride * data.height);
    BITMAPV5HEADER head{};
    head.bV5Size = sizeof head;
    head.bV5Width = LONG(data.width);
    head.bV5Height = -LONG(data.height);
    head.bV5Planes = 1;
    head.bV5BitCount = 32;
    head.bV5Compression = BI_BITFIELDS;
    head.bV5SizeImage = DWORD(stride * data.height);
    head.bV5RedMask = 0x00FF0000;
    head.bV5GreenMask = 0x0000FF00;
    head.bV5BlueMask = 0x000000FF;
    head.bV5AlphaMask = 0xFF000000;
    head.bV5CSType = LCS_WINDOWS_COLOR_SPACE;
    head.bV5Intent = LCS_GM_IMAGES;
    std::memcpy(bytes.data(), &head, sizeof head);
    for (uint32_t y = 0; y < data.height; ++y)
        std::memcpy(bytes.data() + sizeof head + y * stride, lock.pixels + uint64_t(y) * lock.stride, stride);
    image_wic::unlock(&lock);
    return block_of(bytes.data(), bytes.size());
}

}  // namespace

ClipboardData clipboard_read() {
    ClipboardData out;
    if (!open_clipboard()) return {ClipboardData::Kind::failed};
    Closer closer;
    bool ok = true;
    UINT encoded[] = {png_format(), RegisterClipboardFormatA("JFIF"), RegisterClipboardFormatA("GIF")};
    UINT present = 0;
    for (UINT f : encoded)
        if (!present && f && IsClipboardFormatAvailable(f)) present = f;
    if (IsClipboardFormatAvailable(CF_UNICODETEXT)) ok = read_text(out);
    else if (IsClipboardFormatAvailable(CF_HDROP)) ok = read_files(out);
    else if (present) ok = read_encoded(present, out);
    else if (IsClipboardFormatAvailable(CF_DIBV5)) ok = read_dib(out);
    else if (IsClipboardFormatAvailable(CF_BITMAP)) ok = read_gdi_bitmap(out);
    if (!ok) {
        if (out.bitmap) image_wic::release_all(uintptr_t(out.bitmap));
        return {ClipboardData::Kind::failed};
    }
    return out;
}

bool clipboard_write(const ClipboardData& data) {
    struct Entry {
        UINT format = 0;
        HGLOBAL block = nullptr;
    } entries[2];
    switch (data.kind) {
    case ClipboardData::Kind::text: entries[0] = {CF_UNICODETEXT, text_block(data.text)}; break;
    case ClipboardData::Kind::files: entries[0] = {CF_HDROP, files_block(data.files)}; break;
    case ClipboardData::Kind::bitmap:
        if (data.bitmap && data.width && data.height) {
            entries[0] = {png_format(), png_block(data.bitmap)};
            entries[1] = {CF_DIBV5, dibv5_block(data)};
        }
        break;
    default: break;
    }
    auto free_all = [&] {
        for (Entry& e : entries)
            if (e.block) GlobalFree(e.block), e.block = nullptr;
    };
    for (const Entry& e : entries)
        if (e.format && !e.block) {
            free_all();
            return false;
        }
    if (!open_clipboard()) {
        free_all();
        return false;
    }
    Closer closer;
    EmptyClipboard();
    bool ok = true;
    for (Entry& e : entries) {
        if (!e.format) continue;
        if (SetClipboardData(e.format, e.block)) e.block = nullptr;  // the system owns it now
        else ok = false;
    }
    free_all();  // those not taken are still ours
    return ok;
}

}  // namespace kel::os
