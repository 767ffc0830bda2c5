// The clipboard on Windows. Opening tries three times, sleeping 1 ms before
// each retry and letting pending messages through after each failure, and
// every path that opened it closes it. The owner is a hidden message-only
// window of our own, made on first use, so a run without windows can own
// what it places. Blocks read from other programs are bounded by their
// size, never by a terminating NUL alone.
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

}  // namespace

ClipboardData clipboard_read() {
    ClipboardData out;
    if (!open_clipboard()) return {ClipboardData::Kind::failed, {}, {}};
    Closer closer;
    bool ok = true;
    if (IsClipboardFormatAvailable(CF_UNICODETEXT)) ok = read_text(out);
    else if (IsClipboardFormatAvailable(CF_HDROP)) ok = read_files(out);
    if (!ok) return {ClipboardData::Kind::failed, {}, {}};
    return out;
}

bool clipboard_write(const ClipboardData& data) {
    UINT format = 0;
    HGLOBAL block = nullptr;
    switch (data.kind) {
    case ClipboardData::Kind::text: format = CF_UNICODETEXT, block = text_block(data.text); break;
    case ClipboardData::Kind::files: format = CF_HDROP, block = files_block(data.files); break;
    default: break;
    }
    if (format && !block) return false;
    if (!open_clipboard()) {
        if (block) GlobalFree(block);
        return false;
    }
    Closer closer;
    EmptyClipboard();
    if (!block) return true;
    if (SetClipboardData(format, block)) return true;
    GlobalFree(block);  // still ours when it was not taken
    return false;
}

}  // namespace kel::os
