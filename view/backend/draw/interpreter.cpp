// The draw dialect's walk. One Walk per drawing holds the back end, the
// flags and the command words' symbols; a block is walked from its index to
// its tail with a cursor, each command reading its arguments from the cells
// after it: a required one that is missing or of another class raises
// draw-invalid at that cell, an optional one is taken only when its class
// matches. Cells are read through the block at each step (the buffer can
// move when a back-end call allocates).
//
// Commands whose back-end operations do not exist yet (lines, curves,
// transforms, clips, images, gradients...) are passed over with their
// arguments: every value up to the next command word or set-word.
#include "view/backend/draw/interpreter.hpp"

#include <array>
#include <string_view>

#include "environment/routines.hpp"
#include "runtime/context.hpp"
#include "runtime/cycles.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/pair.hpp"
#include "runtime/datatypes/point.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/tuple.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/error.hpp"
#include "runtime/exits.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"
#include "runtime/throws.hpp"

namespace kel::view::draw {

Color color_of_tuple(const Cell& t) {
    const uint8_t* b = tuple::bytes(&t);
    Color c = Color(b[0]) | Color(b[1]) << 8 | Color(b[2]) << 16;
    if (tuple::length(&t) > 3) c |= Color(b[3]) << 24;
    return c;
}

namespace {

// ORDER: command words first (as the names table lists them), then the
// words that stand as arguments.
enum Word : uint8_t {
    pen, fill_pen, box, line_width, line_join, line_cap, line_pattern, triangle, polygon, circle, ellipse,
    anti_alias, font, text, arc, curve, spline, image, shadow, clip, shape, rotate, scale, translate, skew,
    transform, push, matrix, reset_matrix, invert_matrix, line,
    command_count,
    off = command_count, linear, radial, diamond, pattern, bitmap,
    word_count,
};

constexpr std::array<std::string_view, word_count> names = {
    "pen", "fill-pen", "box", "line-width", "line-join", "line-cap", "line-pattern", "triangle", "polygon",
    "circle", "ellipse", "anti-alias", "font", "text", "arc", "curve", "spline", "image", "shadow", "clip",
    "shape", "rotate", "scale", "translate", "skew", "transform", "push", "matrix", "reset-matrix",
    "invert-matrix", "line", "off", "linear", "radial", "diamond", "pattern", "bitmap",
};

bool is_point(const Cell* v) { return cell::is(v, type::pair) || cell::is(v, type::point2d); }
bool is_number(const Cell* v) { return cell::is(v, type::integer) || cell::is(v, type::float_); }

Point point_of(const Cell* v) {
    if (cell::is(v, type::pair)) return {double(pair::x(v)), double(pair::y(v))};
    return {point::coordinate(v, 0), point::coordinate(v, 1)};
}
double number_of(const Cell* v) {
    return cell::is(v, type::integer) ? double(cell::integer(v)) : cell::real(v);
}

class Walk {
public:
    Walk(Backend& backend, bool strict) : backend_(backend), strict_(strict) {
        for (size_t i = 0; i < word_count; ++i)
            symbols_[i] = symbol::resolve(symbol::make_len(names[i].data(), names[i].size()));
    }

    void block(const Cell& b, int depth);

private:
    // The position being read: the block and the cursor in it.
    struct Cursor {
        Cell block;
        int32_t at, tail;
        const Cell* value() const { return block::ks_abs_at(&block, at); }
        bool done() const { return at >= tail; }
    };

    [[noreturn]] void invalid(const Cursor& c) const {
        Cell at = c.block;
        series::set_index(&at, c.at);
        error::fire(error::id::draw_invalid, &at);
    }

    // The dialect word the value is (word_count for none).
    Word word_of(const Cell* v) const {
        if (!cell::is(v, type::word)) return word_count;
        uint32_t s = symbol::resolve(word::symbol(v));
        for (size_t i = 0; i < word_count; ++i)
            if (symbols_[i] == s) return Word(i);
        return word_count;
    }

    // The value a word stands for (a colour, a font); strict refuses a word
    // bound to nothing or to a function's local context.
    const Cell* value_of_word(const Cursor& c) const {
        const Cell* w = c.value();
        NodeId ctx = word::context_of(w);
        if (strict_ && (ctx == 0 || context::on_stack(ctx))) invalid(c);
        return word::lookup(w);
    }

    const Cell* required(Cursor& c) const {
        if (c.done()) invalid(c);
        return c.value();
    }
    Point point(Cursor& c) const {
        const Cell* v = required(c);
        if (!is_point(v)) invalid(c);
        ++c.at;
        return point_of(v);
    }
    double number(Cursor& c) const {
        const Cell* v = required(c);
        if (!is_number(v)) invalid(c);
        ++c.at;
        return number_of(v);
    }
    bool optional_number(Cursor& c, double& out) const {
        if (c.done() || !is_number(c.value())) return false;
        out = number_of(c.value());
        ++c.at;
        return true;
    }

    void set_word(Cursor& c);
    void command(Word w, Cursor& c, int depth);
    void pen_command(Word w, Cursor& c);
    void skip_arguments(Cursor& c) const;

    Backend& backend_;
    bool strict_;
    std::array<uint32_t, word_count> symbols_;
};

void Walk::block(const Cell& b, int depth) {
    uint32_t ref = cycles::reference(&b);
    if (cycles::find(ref)) error::fire(error::id::draw_infinite, &b);
    if (depth > max_depth) {
        Cell at = b;
        error::fire(error::id::draw_invalid, &at);
    }
    cycles::push(ref);
    Cursor c{b, series::clamped_index(&b), series::total_length(&b)};
    while (!c.done()) {
        const Cell* v = c.value();
        switch (cell::type_of(v)) {
            case type::word: {
                Word w = word_of(v);
                if (w >= command_count) invalid(c);
                ++c.at;
                command(w, c, depth);
                break;
            }
            case type::set_word: set_word(c); break;
            case type::block: {
                Cell nested = *v;
                ++c.at;
                this->block(nested, depth + 1);
                break;
            }
            default: invalid(c);
        }
    }
    cycles::pop();
}

// name: refers to the block at the value after it, so that code can change
// that command's arguments in place.
void Walk::set_word(Cursor& c) {
    Cell w = *c.value();
    NodeId ctx = word::context_of(&w);
    if (strict_ && ctx && context::on_stack(ctx)) invalid(c);
    Cell at = c.block;
    series::set_index(&at, ++c.at);
    *word::lookup(&w) = at;
}

void Walk::command(Word w, Cursor& c, int depth) {
    switch (w) {
        case pen: case fill_pen: pen_command(w, c); return;
        case line_width: backend_.line_width(number(c)); return;
        case box: {
            Point a = point(c), b = point(c);
            double radius = 0;
            optional_number(c, radius);
            backend_.box(a, b, radius);
            return;
        }
        case font: {
            const Cell* v = required(c);
            if (cell::is(v, type::word)) v = value_of_word(c);
            if (!cell::is(v, type::object)) invalid(c);
            Cell f = *v;
            ++c.at;
            backend_.font(f);
            return;
        }
        case text: {
            Point at = point(c);
            const Cell* v = required(c);
            if (!cell::is(v, type::string) && !cell::is(v, type::object)) invalid(c);
            Cell value = *v;
            ++c.at;
            backend_.text(at, value);
            return;
        }
        case push: {
            const Cell* v = required(c);
            if (!cell::is(v, type::block)) invalid(c);
            Cell nested = *v;
            ++c.at;
            // The state comes back however the block ends.
            backend_.push_state();
            struct Pop {
                Backend& b;
                ~Pop() { b.pop_state(); }
            } pop{backend_};
            this->block(nested, depth + 1);
            return;
        }
        default: skip_arguments(c); return;
    }
}

// pen and fill-pen: off, or a colour (a tuple, or a word whose value is one).
void Walk::pen_command(Word w, Cursor& c) {
    const Cell* v = required(c);
    bool off = false;
    Color color = 0;
    if (cell::is(v, type::tuple)) {
        color = color_of_tuple(*v);
    } else if (cell::is(v, type::word)) {
        Word arg = word_of(v);
        if (arg == Word::off) {
            off = true;
        } else if (arg == linear || arg == radial || arg == diamond || arg == pattern || arg == bitmap) {
            skip_arguments(c);  // gradient and image brushes: not drawn yet
            return;
        } else {
            const Cell* value = value_of_word(c);
            if (!cell::is(value, type::tuple)) invalid(c);
            color = color_of_tuple(*value);
        }
    } else {
        invalid(c);
    }
    ++c.at;
    if (w == pen) backend_.pen(color, off);
    else backend_.fill_pen(color, off);
}

void Walk::skip_arguments(Cursor& c) const {
    while (!c.done()) {
        const Cell* v = c.value();
        if (cell::is(v, type::set_word) || word_of(v) < command_count) return;
        ++c.at;
    }
}

bool silent() {
    Cell system = *word::fetch(context::find_or_add_global(symbol::make("system")));
    const Cell* view = environment::field(system, "view");
    const Cell* s = view ? environment::field(*view, "silent?") : nullptr;
    return s && cell::is(s, type::logic) && cell::logic(s);
}

bool is_draw_error(const char* id) {
    std::string_view i = id ? id : "";
    return i == error::id::draw_invalid.name || i == error::id::draw_infinite.name;
}

}  // namespace

namespace {

// Walks the block into a target that is open; `close` ends the target
// before an error goes on, as draw-face does.
int32_t walk_guarded(Backend& backend, const Cell& commands, Options options, bool close) {
    Cell* top = stack::top;
    Cell* args = stack::args;
    stack::Frame* frame_top = stack::frame_top;
    size_t cycle_depth = cycles::depth();
    stack::mark_try(nullptr);
    Walk walk(backend, options.strict);
    uint32_t raised = 0;
    try {
        raised = throws::protect(throws::error, [&] { walk.block(commands, 0); });
    } catch (...) {
        // A throw above errors (a halt): the target is closed on the way out.
        cycles::restore(cycle_depth);
        if (close) backend.end();
        throw;
    }
    // The error popped the try frame; otherwise it is popped here.
    stack::frame_top = frame_top;
    stack::top = top;
    stack::args = args;
    cycles::restore(cycle_depth);
    if (close) backend.end();
    if (!raised || options.strict) return 0;
    if (raised != throws::error) throws::throw_code(raised);
    if (!(is_draw_error(error::pending.id) && silent())) stack::throw_error();
    return 0;
}

}  // namespace

int32_t draw_face(Backend& backend, const Cell& face, const Cell& commands, Options options) {
    bool is_block = cell::is(&commands, type::block);
    if (!options.window && (!is_block || series::length_from(&commands) == 0)) return 1;
    if (!backend.begin(options.window ? face : Cell{type::none, 0, 0, 0}) || !is_block) {
        backend.end();
        return 0;
    }
    return walk_guarded(backend, commands, options, true);
}

int32_t draw_into(Backend& backend, const Cell& commands, Options options) {
    if (!cell::is(&commands, type::block)) return 0;
    return walk_guarded(backend, commands, options, false);
}

}  // namespace kel::view::draw
