// The draw back end on Direct2D: the draw context of one drawing into a
// window, on the shared device context. Solid brushes are recoloured in
// place; the line width is kept apart from the stroke style and passed to
// every stroke; a width of 0 parks the pen (nothing is stroked) until a
// width other than 0 brings it back.
#include <d2d1_1.h>
#include <dwrite.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "environment/routines.hpp"
#include "runtime/collector.hpp"
#include "runtime/datatypes/pair.hpp"
#include "runtime/datatypes/point.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/output.hpp"
#include "runtime/stack.hpp"
#include "runtime/throws.hpp"
#include "runtime/symbol.hpp"
#include "view/backend/draw/interpreter.hpp"
#include "view/backend/win32/d2d.hpp"
#include "view/backend/win32/d2d_target.hpp"
#include "view/backend/win32/d2d_text.hpp"

namespace kel::view::d2d {
namespace {

D2D1_COLOR_F color_f(draw::Color c) {
    draw::ColorF f = draw::to_float(c);
    return D2D1::ColorF(f.r, f.g, f.b, f.a);
}

draw::Color system_text_color() {
    COLORREF c = GetSysColor(COLOR_WINDOWTEXT);
    return draw::Color(GetRValue(c)) | draw::Color(GetGValue(c)) << 8 | draw::Color(GetBValue(c)) << 16;
}

const Cell* facet(const Cell& object, const char* name) {
    return cell::is(&object, type::object) ? environment::field(object, name) : nullptr;
}

bool is_type(const Cell& face, const char* name) {
    const Cell* t = facet(face, "type");
    return t && word::any_word_q(cell::type_of(t)) && symbol::name(symbol::resolve(word::symbol(t))) == name;
}

// Runs the body; an error it raises is dropped.
template <class Body>
void dropping_errors(Body&& body) {
    Cell* top = stack::top;
    Cell* args = stack::args;
    stack::Frame* frame_top = stack::frame_top;
    stack::mark_try(nullptr);
    throws::protect(throws::error, body);
    stack::frame_top = frame_top;
    stack::top = top;
    stack::args = args;
}

// What push saves and pop restores.
struct State {
    ID2D1SolidColorBrush* pen = nullptr;
    ID2D1SolidColorBrush* fill = nullptr;
    IDWriteTextFormat* format = nullptr;
    int pen_kind = 1, fill_kind = 0, parked_pen_kind = 1;
    draw::Color pen_color = 0, fill_color = 0, text_color = 0;
    bool font_color = false;
    float width = 1.0f;
};

struct Saved {
    ID2D1DrawingStateBlock* block = nullptr;  // null: the push could not save the state
    State state;
    int32_t clip_depth = 0;
};

class Direct2D : public draw::Backend {
public:
    Direct2D(HWND window, bool layered) : window_(window), layered_(layered), dc_(device_context()) {}

    bool begin(const Cell& face) override {
        if (!dc_) return false;
        target_ = window_target(window_, face);
        if (!target_->bitmap) return false;  // the last resize failed
        dc_->SetTarget(target_->bitmap);
        dc_->SetDpi(drawing_dpi(), drawing_dpi());
        dc_->SetTextAntialiasMode(layered_ ? D2D1_TEXT_ANTIALIAS_MODE_GRAYSCALE : D2D1_TEXT_ANTIALIAS_MODE_CLEARTYPE);
        dc_->BeginDraw();
        began_ = true;
        dc_->SetAntialiasMode(D2D1_ANTIALIAS_MODE_PER_PRIMITIVE);
        dc_->SetTransform(D2D1::Matrix3x2F::Identity());
        dc_->CreateSolidColorBrush(color_f(0), &s_.pen);
        dc_->CreateSolidColorBrush(color_f(0), &s_.fill);
        background(face);
        return s_.pen && s_.fill;
    }

    void end() override {
        while (!saved_.empty()) pop_state();
        if (began_) {
            dc_->EndDraw();
            dc_->SetTarget(nullptr);
        }
        release_state(s_);
        if (began_ && !layered_) present(window_, target_);
    }

    void push_state() override {
        Saved saved;
        saved.clip_depth = clip_depth_;
        if (FAILED(factory()->CreateDrawingStateBlock(&saved.block))) {
            sysrt::print_line({TypedPrintItem::text("OS-draw-state-push failed")});
            saved.block = nullptr;
        } else {
            dc_->SaveDrawingState(saved.block);
            saved.state = s_;
            for (IUnknown* p : {static_cast<IUnknown*>(s_.pen), static_cast<IUnknown*>(s_.fill),
                                static_cast<IUnknown*>(s_.format)})
                if (p) p->AddRef();
        }
        saved_.push_back(saved);
    }

    // After a push that could not save, only the clips go.
    void pop_state() override {
        Saved saved = saved_.back();
        saved_.pop_back();
        clip_depth_ = saved.clip_depth;
        if (!saved.block) return;
        dc_->RestoreDrawingState(saved.block);
        saved.block->Release();
        release_state(s_);
        s_ = saved.state;
        // The brushes are shared with the block's commands, which recolour
        // them in place: they take back the saved colours.
        s_.pen->SetColor(color_f(s_.pen_color));
        s_.fill->SetColor(color_f(s_.fill_color));
    }

    void pen(draw::Color c, bool off) override {
        if (off) {
            s_.pen_kind = 0;
            return;
        }
        if (!s_.font_color) s_.text_color = c;
        s_.pen_color = c;
        s_.pen->SetColor(color_f(c));
        s_.pen_kind = 1;
        if (s_.width == 0) {
            s_.parked_pen_kind = s_.pen_kind;
            s_.pen_kind = 0;
        }
    }

    void fill_pen(draw::Color c, bool off) override {
        if (off) {
            s_.fill_kind = 0;
            return;
        }
        s_.fill_color = c;
        s_.fill->SetColor(color_f(c));
        s_.fill_kind = 1;
    }

    void line_width(double width) override {
        float w = float(width);
        if (w == s_.width) return;
        if (w == 0) {
            s_.parked_pen_kind = s_.pen_kind;
            s_.pen_kind = 0;
        } else if (s_.width == 0) {
            s_.pen_kind = s_.parked_pen_kind;
        }
        s_.width = w;
    }

    void box(draw::Point a, draw::Point b, double radius) override {
        D2D1_RECT_F r = D2D1::RectF(float(std::min(a.x, b.x)), float(std::min(a.y, b.y)), float(std::max(a.x, b.x)),
                                    float(std::max(a.y, b.y)));
        if (radius != 0) {
            D2D1_ROUNDED_RECT rr = D2D1::RoundedRect(r, float(radius), float(radius));
            if (s_.fill_kind) dc_->FillRoundedRectangle(rr, s_.fill);
            if (s_.pen_kind) dc_->DrawRoundedRectangle(rr, s_.pen, s_.width);
        } else {
            if (s_.fill_kind) dc_->FillRectangle(r, s_.fill);
            if (s_.pen_kind) dc_->DrawRectangle(r, s_.pen, s_.width);
        }
    }

    void font(const Cell& font) override {
        IDWriteTextFormat* format = text_format(font);
        if (!format) return;
        release(s_.format);
        s_.format = format;
        const Cell* color = facet(font, "color");
        s_.font_color = color && cell::is(color, type::tuple);
        if (s_.font_color) s_.text_color = draw::color_of_tuple(*color);
    }

    void text(draw::Point at, const Cell& value) override {
        IDWriteTextLayout* layout = nullptr;
        if (cell::is(&value, type::string)) {
            if (!s_.format) s_.format = text_format(Cell{type::none, 0, 0, 0});
            layout = text_layout(utf16_of(value), s_.format, 0, 0);
        } else {
            layout = face_layout(value, target_);
            // Other faces show their colour under their text.
            const Cell* color = facet(value, "color");
            const Cell* size = facet(value, "size");
            if (!is_type(value, "rich-text") && color && cell::is(color, type::tuple) && size &&
                (cell::is(size, type::pair) || cell::is(size, type::point2d))) {
                float w = cell::is(size, type::pair) ? float(pair::x(size)) : point::coordinate(size, 0);
                float h = cell::is(size, type::pair) ? float(pair::y(size)) : point::coordinate(size, 1);
                ID2D1SolidColorBrush* brush = nullptr;
                if (SUCCEEDED(dc_->CreateSolidColorBrush(color_f(draw::color_of_tuple(*color)), &brush))) {
                    dc_->FillRectangle(D2D1::RectF(float(at.x), float(at.y), float(at.x) + w, float(at.y) + h), brush);
                    brush->Release();
                }
            }
        }
        if (!layout) return;
        draw_layout(layout, at);
        layout->Release();
    }

private:
    // A window face's background: its colour (transparent without one) and,
    // unless it is a window, its text at 0x0 in its font's colour.
    void background(const Cell& face) {
        const Cell* color = facet(face, "color");
        dc_->Clear(color_f(color && cell::is(color, type::tuple) ? draw::color_of_tuple(*color) : ~draw::Color(0)));
        const Cell* text = facet(face, "text");
        if (is_type(face, "window") || !text || !cell::is(text, type::string)) return;
        IDWriteTextLayout* layout = nullptr;
        dropping_errors([&] { layout = face_layout(face, target_); });
        if (!layout) return;
        const Cell* font = facet(face, "font");
        const Cell* font_color = font ? facet(*font, "color") : nullptr;
        draw::Color saved = s_.text_color;
        s_.text_color = font_color && cell::is(font_color, type::tuple) ? draw::color_of_tuple(*font_color)
                                                                         : system_text_color();
        draw_layout(layout, {0, 0});
        s_.text_color = saved;
        layout->Release();
    }

    // The backdrops first, then the text in the text colour with the pen
    // brush, whose colour comes back after.
    void draw_layout(IDWriteTextLayout* layout, draw::Point at) {
        paint_backdrops(layout, at);
        s_.pen->SetColor(color_f(s_.text_color));
        dc_->DrawTextLayout(D2D1::Point2F(float(at.x), float(at.y)), layout, s_.pen,
                            D2D1_DRAW_TEXT_OPTIONS_ENABLE_COLOR_FONT);
        s_.pen->SetColor(color_f(s_.pen_color));
    }

    void fill_rect(float left, float top, float right, float bottom, ID2D1Brush* brush) {
        dc_->FillRectangle(D2D1::RectF(std::round(left), std::round(top), std::round(right), std::round(bottom)),
                           brush);
    }

    // Each backdrop range's rectangles, from the layout's hit test, or, where
    // hit-testing is not implemented, from its line and cluster metrics.
    void paint_backdrops(IDWriteTextLayout* layout, draw::Point at) {
        if (!target_ || target_->backdrops.empty()) return;
        float x0 = float(at.x), y0 = float(at.y);
        for (const Target::Backdrop& b : target_->backdrops) {
            ID2D1SolidColorBrush* brush = range_brush(target_, b.color);
            if (!brush || b.length == 0) continue;
            DWRITE_TEXT_METRICS metrics{};
            layout->GetMetrics(&metrics);
            std::vector<DWRITE_HIT_TEST_METRICS> hits(metrics.lineCount + 1);
            UINT32 count = 0;
            HRESULT hr = layout->HitTestTextRange(b.start, b.length, 0, 0, hits.data(), UINT32(hits.size()), &count);
            if (hr == E_NOT_SUFFICIENT_BUFFER) {
                hits.resize(count);
                hr = layout->HitTestTextRange(b.start, b.length, 0, 0, hits.data(), UINT32(hits.size()), &count);
            }
            if (SUCCEEDED(hr)) {
                for (UINT32 i = 0; i < std::min<size_t>(count, hits.size()); ++i)
                    fill_rect(x0 + hits[i].left, y0 + hits[i].top, x0 + hits[i].left + hits[i].width,
                              y0 + hits[i].top + hits[i].height, brush);
                continue;
            }
            std::vector<DWRITE_LINE_METRICS> lines = line_metrics(layout);
            std::vector<DWRITE_CLUSTER_METRICS> clusters(64);
            hr = layout->GetClusterMetrics(clusters.data(), UINT32(clusters.size()), &count);
            if (hr == E_NOT_SUFFICIENT_BUFFER) {
                clusters.resize(count);
                hr = layout->GetClusterMetrics(clusters.data(), UINT32(clusters.size()), &count);
            }
            if (FAILED(hr)) continue;
            clusters.resize(std::min<size_t>(count, clusters.size()));
            size_t line = 0;
            uint32_t position = 0, line_end = lines.empty() ? UINT32_MAX : lines[0].length;
            float x = 0, y = 0;
            for (const DWRITE_CLUSTER_METRICS& c : clusters) {
                while (position >= line_end && line + 1 < lines.size()) {
                    y += lines[line].height;
                    x = 0;
                    line_end += lines[++line].length;
                }
                float height = lines.empty() ? 0 : lines[line].height;
                if (position >= b.start && position < b.start + b.length)
                    fill_rect(x0 + x, y0 + y, x0 + x + c.width, y0 + y + height, brush);
                x += c.width;
                position += c.length;
            }
        }
        target_->backdrops.clear();
    }

    static void release_state(State& s) {
        release(s.pen);
        release(s.fill);
        release(s.format);
    }

    HWND window_;
    bool layered_;
    ID2D1DeviceContext* dc_;
    Target* target_ = nullptr;
    bool began_ = false;
    State s_;
    int32_t clip_depth_ = 0;
    std::vector<Saved> saved_;
};

}  // namespace

void paint_window(HWND window, const Cell& face, const Cell& commands, bool layered) {
    if (!has_device()) return;
    collector::RootCell held_face, held_commands;
    held_face.cell = face;
    held_commands.cell = commands;
    Direct2D backend(window, layered);
    draw::draw_face(backend, held_face.cell, held_commands.cell, draw::Options{true, true});
}

namespace {
// The one paint open at a time (all windows share one device context).
std::unique_ptr<Direct2D> open_paint;
HWND open_window = nullptr;
}  // namespace

bool begin_paint(HWND window, const Cell& face) {
    if (!has_device() || open_paint) return false;
    collector::RootCell held;
    held.cell = face;
    auto backend = std::make_unique<Direct2D>(window, false);
    if (!backend->begin(held.cell)) {
        backend->end();
        return false;
    }
    open_paint = std::move(backend);
    open_window = window;
    return true;
}

bool painting() { return open_paint != nullptr; }

void draw_in_paint(HWND window, const Cell& commands) {
    if (!open_paint || window != open_window) return;
    collector::RootCell held;
    held.cell = commands;
    draw::draw_into(*open_paint, held.cell, draw::Options{true, true});
}

void end_paint(HWND window) {
    if (!open_paint || window != open_window) return;
    std::unique_ptr<Direct2D> backend = std::move(open_paint);
    open_window = nullptr;
    backend->end();
}

void paint_window(HWND window, const Cell& face, bool layered) {
    const Cell* draw = facet(face, "draw");
    paint_window(window, face, draw ? *draw : Cell{type::none, 0, 0, 0}, layered);
}

ID2D1SolidColorBrush* range_brush(Target* t, draw::Color c) {
    if (auto it = t->brushes.find(c); it != t->brushes.end()) return it->second;
    ID2D1SolidColorBrush* brush = nullptr;
    if (FAILED(device_context()->CreateSolidColorBrush(color_f(c), &brush))) return nullptr;
    t->brushes[c] = brush;
    return brush;
}

}  // namespace kel::view::d2d
