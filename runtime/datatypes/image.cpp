// The image! row: making, text, paths, positions, pixel access, compare,
// change and copy. Pixel work goes through image_node.cpp.
//
// Positions are 64-bit throughout: a pair index x + width x (y - 1) with
// large coordinates must neither wrap nor land inside the image by accident.
#include "runtime/datatypes/image.hpp"

#include <algorithm>
#include <cstring>
#include <vector>

#include "runtime/actions.hpp"
#include "runtime/collector.hpp"
#include "runtime/datatype.hpp"
#include "runtime/datatypes/binary.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/pair.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/tuple.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/error.hpp"
#include "runtime/slots.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"
#include "runtime/words.hpp"

namespace kel::image {
namespace {

int64_t index_of(const Cell* img) {
    int64_t i = int32_t(img->payload1), total = pixel_count(img);
    return i < 0 ? 0 : i > total ? total : i;
}
void set_index(Cell* img, int64_t i) { img->payload1 = uint32_t(i); }

// ---- index resolution (pick, poke, at: base 1; skip: base 0)

struct Resolved {
    int64_t position;  // clamped to 0 .. width x height
    bool out;          // no pixel there
};

Resolved resolve(const Cell* img, const Cell* index, int64_t n, int32_t base, bool pixel) {
    int64_t w = width_of(img), h = height_of(img), total = w * h, e;
    bool out = false;
    if (index && cell::is(index, type::pair)) {
        int64_t x = int32_t(index->payload2), y = int32_t(index->payload3);
        if (pixel && (x < 1 || x > w || y < 1 || y > h)) out = true;
        e = base == 1 && y > 0 ? x + w * (y - 1) : x + w * y;
    } else {
        e = n;
    }
    int64_t position = index_of(img) + e - base + (base == 1 && e <= 0 ? 1 : 0);
    out = out || e == 0 || position < 0 || position >= total;
    return {std::clamp<int64_t>(position, 0, total), out};
}

// An at or skip argument: an integer or a pair.
int64_t position_argument(const Cell* img, const Cell* arg, int32_t base) {
    if (!cell::is(arg, type::integer) && !cell::is(arg, type::pair)) error::fire(error::id::invalid_arg, arg);
    return resolve(img, arg, cell::is(arg, type::integer) ? cell::integer(arg) : 0, base, false).position;
}

void write_pixel(const Cell* img, int64_t position, const Cell* colour) {
    const uint8_t* t = tuple::bytes(colour);
    uint8_t alpha = tuple::length(colour) > 3 ? uint8_t(255 - t[3]) : 255;
    uint32_t v = uint32_t(alpha) << 24 | uint32_t(t[0]) << 16 | uint32_t(t[1]) << 8 | t[2];
    PixelLock lock(img, true);
    std::memcpy(lock.pixel(position), &v, 4);
}

Cell make_empty() {
    Cell c;
    box(&c, 0, 0, 0);
    return c;
}

// ---- make and to

Cell* copy_rect(const Cell* img, Cell* out, uint32_t x, uint32_t y, uint32_t w, uint32_t h);
Cell* copy(Cell* value, Cell* result, const Cell* part, bool deep, const Cell* kind);

Cell* to(Cell*, Cell* spec, uint8_t) {
    if (!cell::is(spec, type::image)) error::fire_bad_to_arg(type::image, spec);
    Cell* out = stack::push_slot();
    return copy(spec, out, nullptr, false, nullptr);
}

Cell* make(Cell* proto, Cell* spec, uint8_t t) {
    if (cell::is(spec, type::pair)) {
        Cell* out = stack::push_slot();
        return make_filled(out, int32_t(spec->payload2), int32_t(spec->payload3), nullptr, nullptr, nullptr);
    }
    if (!cell::is(spec, type::block)) return to(proto, spec, t);
    int32_t n = series::length_from(spec);
    if (n == 0) {
        if (!cell::is(proto, type::image)) error::fire(error::id::invalid_arg, spec);
        Cell* out = stack::push_slot();
        return copy(proto, out, nullptr, false, nullptr);
    }
    // The items, as values of their own: the binaries are read before the
    // new node's allocation can move their block.
    const Cell* items = series::cells_of(spec->payload2) + series::clamped_index(spec);
    std::vector<Cell> v(items, items + std::min(n, 4));
    if (!cell::is(&v[0], type::pair)) error::fire(error::id::invalid_arg, &v[0]);
    const Cell *rgb = nullptr, *alpha = nullptr, *colour = nullptr;
    if (v.size() > 1) {
        if (cell::is(&v[1], type::binary)) rgb = &v[1];
        else if (cell::is(&v[1], type::tuple)) colour = &v[1];
        else error::fire(error::id::invalid_arg, &v[1]);
    }
    if (v.size() > 2) {
        if (!cell::is(&v[2], type::binary)) error::fire(error::id::invalid_arg, &v[2]);
        alpha = &v[2];
    }
    if (v.size() > 3) error::fire(error::id::invalid_arg, &v[3]);
    Cell* out = stack::push_slot();
    return make_filled(out, int32_t(v[0].payload2), int32_t(v[0].payload3), rgb, alpha, colour);
}

// ---- text

constexpr char hex_digits[] = "0123456789ABCDEF";

// One hex pair a byte into the text; answers the budget left.
int32_t append_hex(Cell* out, const uint8_t* bytes, int n, int32_t budget) {
    char text[6];
    for (int k = 0; k < n; ++k) text[2 * k] = hex_digits[bytes[k] >> 4], text[2 * k + 1] = hex_digits[bytes[k] & 15];
    string::append_ascii(out, text, size_t(2 * n));
    return budget - 2 * n;
}

int32_t append_break(Cell* out, int32_t indent, int32_t budget) {
    string::append_ascii(out, "\n", 1);
    return string::append_indent(out, indent, budget - 1);
}

// The text of mold and form. The pixels from the index: first their r, g,
// b bytes, then, when some pixel is not opaque, their alpha bytes (255
// minus the stored alpha). Unless flat, a section of 31 bytes or more
// starts on a new line, a line holds 10 pixels, and the closing brace comes
// back to the value's own indentation. Under /part the work stops once the
// budget is spent; the lock goes with the scope.
int32_t serialize(const Cell* value, Cell* out, bool only, bool flat, const Cell* part, int32_t budget,
                  int32_t indent) {
    const Cell img = *value;
    if (!only) {
        string::append_ascii(out, "make image! [", 13);
        budget -= 13;
    }
    std::string size = std::to_string(width_of(&img)) + "x" + std::to_string(height_of(&img));
    string::append_ascii(out, size.data(), size.size());
    budget -= int32_t(size.size());
    if (!img.payload2) {
        string::append_ascii(out, " #{}", 4);
        budget -= 4;
    } else {
        int64_t from = index_of(&img), count = pixel_count(&img) - from;
        int32_t inner = indent + 1;
        string::append_ascii(out, " #{", 3);
        budget -= 3;
        bool wrap = !flat && count * 3 >= 31;
        if (wrap) budget = append_break(out, inner, budget);
        bool has_alpha = false;
        PixelLock lock(&img, false);
        for (int64_t i = 0; i < count; ++i) {
            const uint8_t* p = lock.pixel(from + i);
            uint8_t rgb[3] = {p[2], p[1], p[0]};
            has_alpha = has_alpha || p[3] < 255;
            budget = append_hex(out, rgb, 3, budget);
            if (!flat && (i + 1) % 10 == 0) budget = append_break(out, i + 1 == count ? indent : inner, budget);
            if (part && budget <= 0) return budget;
        }
        if (wrap && count % 10) budget = append_break(out, indent, budget);
        string::append_ascii(out, "}", 1);
        budget -= 1;
        if (has_alpha) {
            string::append_ascii(out, " #{", 3);
            budget -= 3;
            if (!flat) budget = append_break(out, inner, budget);
            for (int64_t i = 0; i < count; ++i) {
                uint8_t a = uint8_t(255 - lock.pixel(from + i)[3]);
                budget = append_hex(out, &a, 1, budget);
                if (!flat && (i + 1) % 10 == 0) budget = append_break(out, i + 1 == count ? indent : inner, budget);
                if (part && budget <= 0) return budget;
            }
            if (!flat && count % 10) budget = append_break(out, indent, budget);
            string::append_ascii(out, "}", 1);
            budget -= 1;
        }
    }
    if (!only) {
        string::append_ascii(out, "]", 1);
        budget -= 1;
    }
    return budget;
}

int32_t form(const Cell* value, Cell* out, const Cell* part, int32_t limit) {
    return serialize(value, out, false, false, part, limit, 0);
}

int32_t mold(const Cell* value, Cell* out, bool only, bool, bool flat, const Cell* part, int32_t limit,
             int32_t indent) {
    return serialize(value, out, only, flat, part, limit, indent);
}

// ---- pixels

Cell* pick(Cell* s, int32_t i, const Cell* index) {
    if (index && !cell::is(index, type::pair) && !cell::is(index, type::integer) && !cell::is(index, type::char_) &&
        !cell::is(index, type::logic))
        error::fire(error::id::invalid_arg, index);
    Resolved r = resolve(s, index, i, 1, true);
    if (r.out) return shared::none();
    const Cell img = *s;
    return get_pixel(&img, r.position, s);
}

Cell* poke(Cell* s, int32_t i, Cell* value, const Cell* index) {
    if (index && !cell::is(index, type::pair) && !cell::is(index, type::integer) && !cell::is(index, type::char_) &&
        !cell::is(index, type::logic))
        error::fire(error::id::invalid_arg, index);
    Resolved r = resolve(s, index, i, 1, true);
    if (r.out) {
        Cell position;
        if (index) position = *index;
        else cell::set_integer(&position, i);
        error::fire(error::id::out_of_range, &position);
    }
    if (!cell::is(value, type::tuple)) error::fire(error::id::invalid_arg, value);
    const Cell img = *s, colour = *value;
    bool told = series::notify(&img, words::words.poke, int32_t(r.position), 1, &colour);
    write_pixel(&img, r.position, &colour);
    if (told) series::notify(&img, words::words.poked, int32_t(r.position), 1, &colour);
    return value;
}

// ---- paths

bool is_symbol(const Cell* word, uint32_t symbol) {
    return symbol::resolve(word::symbol(word)) == symbol::resolve(symbol);
}

Cell* eval_path(Cell* value, const Cell* element, const Cell* store, const Cell* path, const Cell*, const Cell*,
                int32_t, bool, bool, bool, bool) {
    auto refuse = [&]() {
        Cell where;
        if (path) where = *path;
        else cell::set_none(&where);
        error::fire(error::id::invalid_path, &where, element);
    };
    if (cell::is(element, type::integer) || cell::is(element, type::pair)) {
        int32_t n = cell::is(element, type::integer) ? cell::integer(element) : 0;
        if (store) return poke(value, n, const_cast<Cell*>(store), element);
        return pick(value, n, element);
    }
    if (!cell::is(element, type::word)) refuse();
    const auto& s = words::symbols;
    if (is_symbol(element, s.size)) {
        if (store) refuse();
        return pair::box(value, int32_t(width_of(value)), int32_t(height_of(value)));
    }
    int32_t mode = is_symbol(element, s.alpha) ? 0 : is_symbol(element, s.rgb) ? 1 : is_symbol(element, s.argb) ? 2 : -1;
    if (mode < 0) refuse();
    if (store) {
        set_from_binary(value, store, mode);
        return const_cast<Cell*>(store);
    }
    const Cell img = *value;
    return to_binary(&img, value, mode);
}

// ---- positions

void at() { set_index(stack::args, position_argument(stack::args, stack::args + 1, 1)); }
void skip() { set_index(stack::args, position_argument(stack::args, stack::args + 1, 0)); }
void next() {
    int64_t i = index_of(stack::args);
    if (i + 1 <= pixel_count(stack::args)) set_index(stack::args, i + 1);
}
void tail() { set_index(stack::args, pixel_count(stack::args)); }
void tail_q() { cell::set_logic(stack::args, int32_t(stack::args->payload1) >= pixel_count(stack::args)); }
int32_t length_q(const Cell* s) { return int32_t(pixel_count(s)); }

// ---- compare

int32_t compare(const Cell* a, const Cell* b, int32_t op) {
    if (!cell::is(b, type::image)) return -2;
    bool same = a->payload2 == b->payload2 && a->payload1 == b->payload1 && a->payload3 == b->payload3;
    if (op == compare_op::same) return same ? 0 : -1;
    switch (op) {
        case compare_op::equal: case compare_op::not_equal: case compare_op::strict_equal:
        case compare_op::sort: case compare_op::sort_case: case compare_op::find:
            break;
        default: return -2;
    }
    if (same) return 0;
    // By the shape first: a 2x3 and a 3x2 image of the same bytes differ.
    int64_t ca = pixel_count(a), cb = pixel_count(b);
    if (ca != cb) return ca < cb ? -1 : 1;
    if (width_of(a) != width_of(b)) return width_of(a) < width_of(b) ? -1 : 1;
    if (height_of(a) != height_of(b)) return height_of(a) < height_of(b) ? -1 : 1;
    if (ca == 0 || a->payload2 == b->payload2) return 0;
    const Cell x = *a, y = *b;
    PixelLock la(&x, false), lb(&y, false);
    for (uint32_t row = 0; row < height_of(&x); ++row) {
        int r = std::memcmp(la.row(row), lb.row(row), size_t(width_of(&x)) * 4);
        if (r) return r < 0 ? -1 : 1;
    }
    return 0;
}

// ---- change

void change(Cell* series, Cell* value, int32_t count, bool, int32_t dup) {
    if (count >= 0 || dup > 1) error::fire_not_done();
    const Cell img = *series;
    int64_t index = index_of(&img), total = pixel_count(&img);
    if (cell::is(value, type::tuple)) {
        if (index >= total) return;
        const Cell colour = *value;
        bool told = series::notify(&img, words::words.change, int32_t(index), 1, &colour);
        write_pixel(&img, index, &colour);
        set_index(series, index + 1);
        if (told) series::notify(&img, words::words.changed, int32_t(index), 1, &colour);
        return;
    }
    if (!cell::is(value, type::image)) {
        error::fire_invalid_type(cell::type_of(value));
    }
    if (index >= total || !value->payload2) return;
    uint32_t w = width_of(&img), h = height_of(&img);
    uint32_t col = uint32_t(index % w), row = uint32_t(index / w);
    uint32_t sw = width_of(value), sh = height_of(value);
    uint32_t cols = std::min(sw, w - col), rows = std::min(sh, h - row);
    // The source's pixels first, as bytes of their own: the source may be
    // the target's own bitmap, which cannot be locked twice.
    std::vector<uint8_t> source(size_t(cols) * rows * 4);
    {
        const Cell src = *value;
        PixelLock lock(&src, false);
        for (uint32_t y = 0; y < rows; ++y) std::memcpy(source.data() + size_t(y) * cols * 4, lock.row(y), size_t(cols) * 4);
    }
    int32_t copied = int32_t(uint64_t(cols) * rows);
    bool told = series::notify(&img, words::words.change, int32_t(index), copied, value);
    {
        PixelLock lock(&img, true);
        for (uint32_t y = 0; y < rows; ++y)
            std::memcpy(lock.row(row + y) + size_t(col) * 4, source.data() + size_t(y) * cols * 4, size_t(cols) * 4);
    }
    set_index(series, int64_t(row + rows - 1) * w + col + cols);
    if (told) series::notify(&img, words::words.changed, int32_t(index), copied, value);
}

// ---- copy

Cell* copy_rect(const Cell* img, Cell* out, uint32_t x, uint32_t y, uint32_t w, uint32_t h) {
    const Cell source = *img;
    image_wic::Bitmap* made = nullptr;
    image_wic::Status s = x == 0 && y == 0 && w == width_of(&source) && h == height_of(&source)
                              ? image_wic::copy(bitmap_of(&source), &made)
                              : image_wic::copy_part(bitmap_of(&source), x, y, w, h, &made);
    if (s == image_wic::Status::no_memory) error::fire(error::id::no_memory);
    if (s != image_wic::Status::ok) error::fire(error::id::bad_media);
    return box_bitmap(out, made, w, h);
}

Cell* copy(Cell* value, Cell* result, const Cell* part, bool, const Cell*) {
    const Cell img = *value;
    int64_t w = width_of(&img), h = height_of(&img);
    auto empty = [&]() { return &(*result = make_empty()); };
    if (w < 1 || h < 1 || !img.payload2) return empty();
    int64_t index = index_of(&img), col = index % w, row = index / w;
    if (!part) {
        if (index >= w * h) return empty();
        return copy_rect(&img, result, uint32_t(col), uint32_t(row), uint32_t(w - col), uint32_t(h - row));
    }
    int64_t px, py;
    if (cell::is(part, type::integer)) error::fire_not_done();
    if (cell::is(part, type::pair)) {
        px = int32_t(part->payload2), py = int32_t(part->payload3);
    } else if (cell::is(part, type::image) && part->payload2 == img.payload2 && part->payload2) {
        // A second position in the same image: the rectangle between the
        // two positions' columns and rows, the later corner left out.
        int64_t other = std::clamp<int64_t>(int32_t(part->payload1), 0, w * h);
        px = other % w - col, py = other / w - row;
    } else {
        error::fire_bad_refinement(words::refinements.part, part);
    }
    int64_t x0, y0, rw, rh;
    if (px >= 1 && py >= 1 && index < w * h) {
        x0 = col, y0 = row, rw = std::min(px, w - col), rh = std::min(py, h - row);
    } else if (px < 0 && py < 0 && index >= 1) {
        // A position at the start of a row ends the row above it.
        if (col == 0) col = w, row -= 1;
        rw = -px, rh = -py;
        int64_t c = col, r = row + 1;
        if (rw > c) x0 = 0, rw = c;
        else x0 = c - rw;
        if (rh > r) y0 = 0, rh = r;
        else y0 = r - rh;
    } else {
        return empty();
    }
    if (rw < 1 || rh < 1) return empty();
    return copy_rect(&img, result, uint32_t(x0), uint32_t(y0), uint32_t(rw), uint32_t(rh));
}

}  // namespace

void register_type() {
    handle_kind = slots::register_kind("image", image_wic::release_all);
    datatype::Row row(datatype::unsupported);
    using datatype::inherit;
    for (action::Slot s : {action::back, action::head, action::head_q, action::index_q, action::modify})
        row.handlers[s - 1] = inherit;
    row.set(action::make, &make)
        .set(action::to, &to)
        .set(action::form, &form)
        .set(action::mold, &mold)
        .set(action::eval_path, &eval_path)
        .set(action::compare, &compare)
        .set(action::at, &at)
        .set(action::change, &change)
        .set(action::copy, &copy)
        .set(action::length_q, &length_q)
        .set(action::next, &next)
        .set(action::pick, &pick)
        .set(action::poke, &poke)
        .set(action::skip, &skip)
        .set(action::tail, &tail)
        .set(action::tail_q, &tail_q);
    datatype::register_type({type::image, type::series, "image!", row.handlers});
}

}  // namespace kel::image
