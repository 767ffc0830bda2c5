// Text measurement: the size of a face's text, and the text-box metrics of
// a rich-text face through a DirectWrite layout of its text. Where the
// system's hit tests are not implemented the positions come from the
// layout's line and cluster metrics.
#include <windows.h>
#include <dwrite.h>

#include <algorithm>
#include <string>
#include <vector>

#include "runtime/datatypes/point.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/unicode.hpp"
#include "view/backend/units.hpp"
#include "view/backend/win32/layout_style.hpp"
#include "view/backend/win32/win32.hpp"

namespace kel::view::win32 {
namespace {

IDWriteFactory* factory() {
    static IDWriteFactory* made = nullptr;
    static bool tried = false;
    if (tried) return made;
    tried = true;
    HMODULE dll = LoadLibraryW(L"DWrite.dll");
    if (!dll) return nullptr;
    using Create = HRESULT(WINAPI*)(DWRITE_FACTORY_TYPE, REFIID, IUnknown**);
    auto create = reinterpret_cast<Create>(reinterpret_cast<void*>(GetProcAddress(dll, "DWriteCreateFactory")));
    if (create) create(DWRITE_FACTORY_TYPE_SHARED, __uuidof(IDWriteFactory), reinterpret_cast<IUnknown**>(&made));
    return made;
}

template <class T>
struct Com {
    T* p = nullptr;
    ~Com() {
        if (p) p->Release();
    }
    T* operator->() const { return p; }
};

// A family the system has: the name, then the usual ones, then the first.
std::wstring known_family(IDWriteFactory* f, const std::wstring& wanted) {
    Com<IDWriteFontCollection> fonts;
    if (f->GetSystemFontCollection(&fonts.p) != S_OK) return wanted;
    for (const wchar_t* name : {wanted.c_str(), L"Segoe UI", L"Tahoma", L"DejaVu Sans"}) {
        UINT32 index = 0;
        BOOL exists = FALSE;
        if (fonts->FindFamilyName(name, &index, &exists) == S_OK && exists) return name;
    }
    Com<IDWriteFontFamily> family;
    Com<IDWriteLocalizedStrings> names;
    wchar_t first[128] = L"";
    if (fonts->GetFontFamilyCount() && fonts->GetFontFamily(0, &family.p) == S_OK &&
        family->GetFamilyNames(&names.p) == S_OK)
        names->GetString(0, first, 128);
    return first;
}

// The face's text as UTF-16, with each character's first unit.
struct Text {
    std::u16string units;
    std::vector<uint32_t> first_unit;  // by character, and one past the end
};

Text text_of(const Cell& value) {
    Text t;
    for (char32_t c : string::text_of(&value)) {
        t.first_unit.push_back(uint32_t(t.units.size()));
        if (c >= 0x10000) {
            c -= 0x10000;
            t.units += char16_t(0xD800 + (c >> 10));
            t.units += char16_t(0xDC00 + (c & 0x3FF));
        } else {
            t.units += char16_t(c);
        }
    }
    t.first_unit.push_back(uint32_t(t.units.size()));
    return t;
}

uint32_t char_of_unit(const Text& t, uint32_t unit) {
    uint32_t i = 0;
    while (i + 1 < t.first_unit.size() && t.first_unit[i + 1] <= unit) ++i;
    return i;
}

// A layout of the text with the face's font, in pixels of the current scale.
IDWriteTextLayout* layout_of(const Cell& face, const std::u16string& text, float width, float height) {
    IDWriteFactory* f = factory();
    if (!f) return nullptr;
    std::u16string name = state.default_font_name;
    int points = state.default_font_size;
    DWRITE_FONT_WEIGHT weight = DWRITE_FONT_WEIGHT_NORMAL;
    DWRITE_FONT_STYLE style = DWRITE_FONT_STYLE_NORMAL;
    Cell font{type::none, 0, 0, 0};
    if (const Cell* f = facet(face, "font"); f && cell::is(f, type::object)) {
        font = *f;
        const Cell* n = facet(font, "name");
        if (n && cell::is(n, type::string)) name = unicode::utf8_to_utf16(string::to_utf8(n));
        const Cell* s = facet(font, "size");
        if (s && cell::is(s, type::integer) && cell::integer(s) > 0) points = cell::integer(s);
        font_weight_and_slant(font, &weight, &style);
    }
    std::wstring family = known_family(f, std::wstring(name.begin(), name.end()));
    Com<IDWriteTextFormat> format;
    float size = float(points * 96.0 / 72.0 * units::scale);
    if (f->CreateTextFormat(family.c_str(), nullptr, weight, style, DWRITE_FONT_STRETCH_NORMAL, size, L"",
                            &format.p) != S_OK)
        return nullptr;
    IDWriteTextLayout* layout = nullptr;
    std::wstring w(text.begin(), text.end());
    f->CreateTextLayout(w.c_str(), UINT32(w.size()), format.p, width, height, &layout);
    layout_font_style(layout, font);
    return layout;
}

std::vector<DWRITE_LINE_METRICS> lines_of(IDWriteTextLayout* l) {
    std::vector<DWRITE_LINE_METRICS> lines(8);
    UINT32 count = 0;
    HRESULT hr = l->GetLineMetrics(lines.data(), UINT32(lines.size()), &count);
    if (hr == E_NOT_SUFFICIENT_BUFFER) {
        lines.resize(count);
        hr = l->GetLineMetrics(lines.data(), count, &count);
    }
    lines.resize(hr == S_OK ? count : 0);
    return lines;
}

std::vector<DWRITE_CLUSTER_METRICS> clusters_of(IDWriteTextLayout* l) {
    std::vector<DWRITE_CLUSTER_METRICS> clusters(64);
    UINT32 count = 0;
    HRESULT hr = l->GetClusterMetrics(clusters.data(), UINT32(clusters.size()), &count);
    if (hr == E_NOT_SUFFICIENT_BUFFER) {
        clusters.resize(count);
        hr = l->GetClusterMetrics(clusters.data(), count, &count);
    }
    clusters.resize(hr == S_OK ? count : 0);
    return clusters;
}

// The caret box of a text position from line and cluster metrics.
void position_box(IDWriteTextLayout* l, uint32_t unit, float* x, float* y, float* w, float* h) {
    auto lines = lines_of(l);
    auto clusters = clusters_of(l);
    *x = *y = *w = *h = 0;
    uint32_t line_start = 0;
    size_t line = 0;
    for (; line < lines.size(); ++line) {
        if (unit < line_start + lines[line].length || line + 1 == lines.size()) break;
        line_start += lines[line].length;
        *y += lines[line].height;
    }
    if (line < lines.size()) *h = lines[line].height;
    uint32_t at = 0;
    for (const DWRITE_CLUSTER_METRICS& c : clusters) {
        if (at >= unit) {
            *w = c.width;
            break;
        }
        if (at >= line_start) *x += c.width;
        at += c.length;
    }
}

// The text position at a point from line and cluster metrics.
uint32_t position_at(IDWriteTextLayout* l, float x, float y, bool* trailing) {
    auto lines = lines_of(l);
    auto clusters = clusters_of(l);
    *trailing = false;
    uint32_t line_start = 0;
    float top = 0;
    size_t line = 0;
    for (; line + 1 < lines.size() && y >= top + lines[line].height; ++line) {
        top += lines[line].height;
        line_start += lines[line].length;
    }
    uint32_t line_end = line < lines.size() ? line_start + lines[line].length - lines[line].newlineLength : 0;
    uint32_t at = 0;
    float left = 0;
    for (const DWRITE_CLUSTER_METRICS& c : clusters) {
        if (at >= line_end) break;
        if (at >= line_start) {
            if (x < left + c.width) {
                *trailing = x >= left + c.width / 2;
                return at;
            }
            left += c.width;
        }
        at += c.length;
    }
    return line_end;
}

}  // namespace

Cell* text_size(const Cell& face, const Cell& text, Cell* out) {
    FaceType t = face_type(face);
    HWND w = face_window(face);
    std::u16string units = text_of(text).units;
    if (t == FaceType::base || t == FaceType::rich_text || t == FaceType::window || t == FaceType::panel) {
        RECT r{};
        if (w) GetClientRect(w, &r);
        else {
            double sw = 0, sh = 0;
            numbers_of(facet(face, "size"), &sw, &sh);
            r = RECT{0, 0, px(sw), px(sh)};
        }
        Com<IDWriteTextLayout> l;
        l.p = layout_of(face, units, float(r.right), float(r.bottom));
        DWRITE_TEXT_METRICS m{};
        if (l.p) l->GetMetrics(&m);
        return point2d::box(out, m.width * 0.98 / units::scale, m.height / units::scale);
    }
    HWND target = w ? w : GetDesktopWindow();
    HDC dc = GetDC(target);
    HFONT font = state.default_font;
    if (const Cell* f = facet(face, "font"); f && cell::is(f, type::object)) font = native_font(*f, true);
    HGDIOBJ old = SelectObject(dc, font);
    RECT r{0, 0, 0x7FFFFFFF, 0};
    r.right = 0;
    std::wstring wtext(units.begin(), units.end());
    DrawTextW(dc, wtext.c_str(), int(wtext.size()), &r, DT_CALCRECT | DT_EXPANDTABS | DT_WORDBREAK);
    SelectObject(dc, old);
    ReleaseDC(target, dc);
    return point2d::box(out, r.right / units::scale, r.bottom / units::scale);
}

Cell* text_box_metrics(const Cell& face, const Cell& arg, int32_t code, Cell* out) {
    const Cell* value = facet(face, "text");
    Text text = text_of(*value);
    double sw = 0, sh = 0;
    numbers_of(facet(face, "size"), &sw, &sh);
    Com<IDWriteTextLayout> l;
    l.p = layout_of(face, text.units, float(px(sw)), float(px(sh)));
    cell::set_none(out);
    if (!l.p) return out;
    double s = units::scale;
    switch (code) {
        case 0:
        case 6: {
            int32_t n = cell::is(&arg, type::integer) ? cell::integer(&arg) : 1;
            uint32_t ch = uint32_t(std::clamp<int32_t>(n - 1, 0, int32_t(text.first_unit.size()) - 1));
            uint32_t unit = text.first_unit[ch];
            float x = 0, y = 0, w = 0, h = 0;
            DWRITE_HIT_TEST_METRICS hit{};
            if (l->HitTestTextPosition(unit, FALSE, &x, &y, &hit) == S_OK) {
                w = hit.width;
                h = hit.height;
            } else {
                position_box(l.p, unit, &x, &y, &w, &h);
            }
            if (y < 0) y = 0;
            if (code == 6) x += w, y += h;
            return point2d::box(out, x / s, y / s);
        }
        case 1:
        case 5: {
            double x = 0, y = 0;
            numbers_of(&arg, &x, &y);
            BOOL trailing = FALSE, inside = FALSE;
            DWRITE_HIT_TEST_METRICS hit{};
            uint32_t unit;
            if (l->HitTestPoint(float(x * s), float(y * s), &trailing, &inside, &hit) == S_OK) {
                unit = hit.textPosition;
            } else {
                bool t = false;
                unit = position_at(l.p, float(x * s), float(y * s), &t);
                trailing = t;
            }
            int32_t pos = int32_t(char_of_unit(text, unit));
            if (code == 1 && trailing) ++pos;
            cell::set_integer(out, pos + 1);
            return out;
        }
        case 2: {
            auto lines = lines_of(l.p);
            if (lines.empty()) return out;
            int32_t n = cell::is(&arg, type::integer) ? cell::integer(&arg) : 1;
            int64_t left = text.first_unit[std::clamp<int32_t>(n - 1, 0, int32_t(text.first_unit.size()) - 1)] + 1;
            size_t i = 0;
            for (; i + 1 < lines.size() && left > 1; ++i) {
                if (left <= int64_t(lines[i].length)) break;
                left -= lines[i].length;
            }
            cell::set_real(out, type::float_, lines[i].height / s);
            return out;
        }
        case 3: {
            DWRITE_TEXT_METRICS m{};
            l->GetMetrics(&m);
            return point2d::box(out, m.width / s, m.height / s);
        }
        default: {
            DWRITE_TEXT_METRICS m{};
            l->GetMetrics(&m);
            cell::set_integer(out, int32_t(m.lineCount));
            return out;
        }
    }
}

}  // namespace kel::view::win32
