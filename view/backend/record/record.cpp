#include "view/backend/record/record.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <deque>

#include "environment/routines.hpp"
#include "runtime/call.hpp"
#include "runtime/collector.hpp"
#include "runtime/context.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/handle.hpp"
#include "runtime/datatypes/pair.hpp"
#include "runtime/datatypes/point.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/error.hpp"
#include "runtime/exits.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"
#include "runtime/throws.hpp"
#include "view/backend/event.hpp"
#include "view/backend/record/draw.hpp"
#include "view/backend/loop.hpp"
#include "view/backend/units.hpp"
#include "view/backend/windows.hpp"

namespace kel::view::record {
namespace {

std::vector<std::string> calls;
std::vector<Screen> screens;

// Windows: handle n is entry n - 1 of the parents and of the faces block
// (none once destroyed). The block is marked by the collector callback.
std::vector<uint64_t> parents;
Cell faces{type::none, 0, 0, 0};
void mark_faces() { collector::mark_cells(&faces, &faces + 1); }

struct Message {
    bool quit = false;
    uint32_t code = 0, bits = 0;
    snapshot::Snapshot snapshot;
};
std::deque<Message> queue;

// ---- what the log says of a value

std::string type_of_face(const Cell& face) {
    const Cell* t = environment::field(face, "type");
    if (t && word::any_word_q(cell::type_of(t))) return std::string(symbol::name(word::symbol(t)));
    return "face";
}

std::string describe(const Cell& v) {
    switch (cell::type_of(&v)) {
        case type::object: return type_of_face(v);
        case type::handle: return std::to_string(int32_t(v.payload2));
        case type::logic: return v.payload1 ? "true" : "false";
        case type::integer: return std::to_string(cell::integer(&v));
        case type::word: case type::lit_word: case type::set_word: case type::get_word:
            return std::string(symbol::name(word::symbol(&v)));
        case type::none: return "none";
        default: return "value";
    }
}

// Logs the routine's name and its first n arguments.
void note(routines::Slot s, int n) {
    std::string line = routines::name_of(s);
    for (int i = 0; i < n; ++i) line += " " + describe(stack::args[i]);
    calls.push_back(line);
}

uint32_t answer_none() {
    cell::set_none(stack::args);
    return 0;
}

// ---- windows

uint64_t window_of_face(const Cell& face) {
    const Cell* state = environment::field(face, "state");
    if (!state || !cell::is(state, type::block) || series::length_from(state) < 1) return 0;
    const Cell h = *block::ks_abs_at(state, series::clamped_index(state));
    return cell::is(&h, type::handle) ? uint32_t(h.payload2) : 0;
}

void face_of(uint64_t window, Cell* out) {
    if (window == 0 || window > parents.size()) cell::set_none(out);
    else *out = series::cells_of(faces.payload2)[window - 1];
}

uint64_t root_of(uint64_t window) {
    while (window && window <= parents.size() && parents[window - 1]) window = parents[window - 1];
    return window <= parents.size() ? window : 0;
}

// ---- routines

uint32_t make_null_handle(const Call&) {
    note(routines::make_null_handle, 0);
    handle::push(0, handle::klass::none);
    return 0;
}

uint32_t fetch_all_screens(const Call&) {
    note(routines::fetch_all_screens, 0);
    collector::RootCell list;
    block::make_at(&list.cell, int32_t(screens.size()));
    for (size_t i = 0; i < screens.size(); ++i) {
        const Screen& s = screens[i];
        collector::RootCell one;
        block::make_at(&one.cell, 4);
        Cell v;
        block::ks_append(&one.cell, pair::box(&v, s.x, s.y));
        block::ks_append(&one.cell, pair::box(&v, s.width, s.height));
        cell::set_real(&v, type::float_, s.scale);
        block::ks_append(&one.cell, &v);
        block::ks_append(&one.cell, handle::box(&v, int32_t(i + 1), handle::klass::monitor));
        block::ks_append(&list.cell, &one.cell);
    }
    *stack::args = list.cell;
    return 0;
}

uint32_t get_current_screen(const Call&) {
    note(routines::get_current_screen, 0);
    handle::push(1, handle::klass::monitor);
    return 0;
}

uint32_t get_screen_size(const Call&) {
    note(routines::get_screen_size, 0);
    const Screen& s = screens.front();
    pair::box(stack::args, int32_t(s.width / units::scale), int32_t(s.height / units::scale));
    return 0;
}

// Columns of the longest line by lines, on the 8x16 grid.
uint32_t size_text(const Call&) {
    note(routines::size_text, 1);
    Cell face = stack::args[0], value = stack::args[1];
    Cell text = value;
    if (cell::is(&value, type::none)) {
        const Cell* t = environment::field(face, "text");
        if (t) text = *t;
    } else if (!cell::is(&value, type::string)) {
        error::fire_invalid_type(cell::type_of(&value));
    }
    if (!cell::is(&text, type::string)) return answer_none();
    std::string utf8 = string::to_utf8(&text);
    int32_t columns = 0, widest = 0, lines = 1;
    for (unsigned char c : utf8) {
        if (c == '\n') {
            ++lines;
            columns = 0;
        } else if ((c & 0xC0) != 0x80 && ++columns > widest) {
            widest = columns;
        }
    }
    point2d::box(stack::args, units::to_logical(widest * char_width), units::to_logical(lines * line_height));
    return 0;
}

uint32_t on_change_facet(const Call&) {
    note(routines::on_change_facet, 4);
    return answer_none();
}

uint32_t update_font(const Call&) {
    note(routines::update_font, 2);
    return answer_none();
}

// Destroys the face's window and those of its pane's faces, as a window
// tree goes: each window is forgotten and its face's state becomes none.
void destroy_tree(const Cell& face, int depth) {
    uint64_t w = window_of_face(face);
    if (!w || depth > 1000) return;
    if (w <= parents.size()) cell::set_none(series::cells_of(faces.payload2) + (w - 1));
    if (const Cell* pane = environment::field(face, "pane"); pane && cell::is(pane, type::block)) {
        Cell held = *pane;
        for (int32_t i = 0, n = series::total_length(&held); i < n; ++i) {
            const Cell* child = block::ks_abs_at(&held, i);
            if (cell::is(child, type::object)) destroy_tree(*child, depth + 1);
        }
    }
    if (Cell* state = environment::field(face, "state")) cell::set_none(state);
}

uint32_t destroy_view(const Call&) {
    note(routines::destroy_view, 2);
    destroy_tree(stack::args[0], 0);
    if (cell::logic(stack::args + 1)) loop::owe_exit();
    return answer_none();
}

uint32_t detach_image(const Call&) {
    note(routines::detach_image, 0);
    return answer_none();
}

// Every value of a block is checked before any face is updated; a screen
// face has no view of its own.
uint32_t update_view(const Call&) {
    Cell v = stack::args[0];
    // The face's pending change bits are applied, so they are cleared.
    auto update_one = [](const Cell& face) {
        if (type_of_face(face) == "screen") return;
        calls.push_back("update-view " + type_of_face(face));
        const Cell* state = environment::field(face, "state");
        if (state && cell::is(state, type::block) && series::total_length(state) >= 2) {
            Cell* bits = block::ks_abs_at(state, 1);
            if (cell::is(bits, type::integer)) cell::set_integer(bits, 0);
        }
    };
    if (cell::is(&v, type::block)) {
        int32_t n = series::total_length(&v);
        for (int32_t i = series::clamped_index(&v); i < n; ++i)
            if (!cell::is(block::ks_abs_at(&v, i), type::object))
                error::fire_invalid_type(cell::type_of(block::ks_abs_at(&v, i)));
        for (int32_t i = series::clamped_index(&v); i < n; ++i) update_one(*block::ks_abs_at(&v, i));
    } else if (cell::is(&v, type::object)) {
        update_one(v);
    } else {
        error::fire_invalid_type(cell::type_of(&v));
    }
    return answer_none();
}

uint32_t refresh_window(const Call&) {
    note(routines::refresh_window, 1);
    return answer_none();
}

uint32_t redraw(const Call&) {
    note(routines::redraw, 1);
    return answer_none();
}

uint32_t show_window(const Call&) {
    note(routines::show_window, 1);
    return answer_none();
}

uint32_t make_view(const Call&) {
    Cell face = stack::args[0];
    uint64_t parent = uint32_t(stack::args[1].payload2);
    parents.push_back(parent <= parents.size() ? parent : 0);
    block::ks_append(&faces, &face);
    uint64_t w = parents.size();
    calls.push_back("make-view " + type_of_face(face) + " " + std::to_string(w) + " " + std::to_string(parent));
    handle::push(int32_t(w), handle::klass::window);
    return 0;
}

uint32_t draw_face(const Call&) {
    note(routines::draw_face, 1);
    record::draw(stack::args[0], stack::args[1]);
    return answer_none();
}

// Runs one queued event: it goes to system/view/awake when the view system
// has one. Answers the handler's pending exit code.
uint32_t dispatch(const Message& m) {
    snapshot::Snapshot s = m.snapshot;
    collector::RootCell ev;
    event::make_native(&ev.cell, m.code, m.bits, snapshot::keep(s));
    Cell system = *word::fetch(context::find_or_add_global(symbol::make("system")));
    const Cell* view = environment::field(system, "view");
    const Cell* awake = view ? environment::field(*view, "awake") : nullptr;
    if (!awake || !cell::is(awake, type::function)) return 0;
    Cell fn = *awake, name;
    word::make_in(symbol::make("awake"), &name);
    Cell values[3] = {ev.cell, {}, {}};
    cell::set_logic(&values[1], false);
    cell::set_none(&values[2]);
    Cell* top = stack::top;
    int32_t depth = loop::depth;
    uint32_t code = call::with_values(fn, name, values, 3);
    stack::top = top;
    // The handler closed the last window of a loop: that loop ends next.
    if (loop::depth < depth) queue.push_front(Message{true});
    return code;
}

uint32_t do_event_loop(const Call&) {
    bool no_wait = cell::logic(stack::args);
    note(routines::do_event_loop, 1);
    bool processed = false;
    if (no_wait) {
        if (!queue.empty()) {
            Message m = queue.front();
            queue.pop_front();
            processed = true;
            if (!m.quit)
                if (uint32_t code = dispatch(m)) return code;
        }
        cell::set_logic(stack::args, processed);
        return 0;
    }
    ++loop::depth;
    while (true) {
        if (queue.empty()) {
            // Nothing more will come: the session ends here, by a throw
            // named empty-queue, where a real display would wait.
            Cell name;
            word::make_in(symbol::make("empty-queue"), &name);
            cell::set_none(stack::args);
            stack::top = stack::args + 1;
            stack::push(&name);
            return stack::throw_user(throws::throw_);
        }
        Message m = queue.front();
        queue.pop_front();
        processed = true;
        if (m.quit) break;
        if (uint32_t code = dispatch(m)) return code;
    }
    if (loop::end_blocking()) queue.push_front(Message{true});
    cell::set_logic(stack::args, processed);
    return 0;
}

// The innermost loop ends once the current event is handled: the events
// queued after it go to the loop that runs next.
uint32_t exit_event_loop(const Call&) {
    note(routines::exit_event_loop, 0);
    queue.push_front(Message{true});
    return answer_none();
}

// The grid layout of a rich-text face: its text in lines of code points,
// broken at each newline and, when the face has a width, every `columns`
// characters; `starts` holds each line's 0-based text index.
struct GridLayout {
    std::vector<int64_t> starts, lengths;
    int64_t widest = 0;
};

GridLayout grid_layout(const std::u32string& text, const Cell* size) {
    int64_t columns = INT64_MAX;
    if (size && cell::is(size, type::pair) && pair::x(size) > 0) columns = std::max(1, pair::x(size) / char_width);
    GridLayout g;
    int64_t start = 0, length = 0;
    auto end_line = [&](int64_t next) {
        g.starts.push_back(start);
        g.lengths.push_back(length);
        g.widest = std::max(g.widest, length);
        start = next, length = 0;
    };
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == U'\n') {
            end_line(int64_t(i) + 1);
        } else {
            if (length == columns) end_line(int64_t(i));
            ++length;
        }
    }
    end_line(int64_t(text.size()));
    return g;
}

// Queries 0 and 6 (caret top and bottom at a 1-based position), 1 and 5 (the
// position at a point, 1 adding one for the trailing half of a character),
// 2 (a position's line height), 3 (the layout's size), others the line count.
uint32_t text_box_metrics(const Call&) {
    note(routines::text_box_metrics, 3);
    Cell face = stack::args[0], arg = stack::args[1];
    int32_t query = cell::integer(stack::args + 2);
    const Cell* kind = environment::field(face, "type");
    if (!kind || !word::any_word_q(cell::type_of(kind)) || type_of_face(face) != "rich-text")
        error::fire(error::id::face_type, kind ? kind : &face);
    const Cell* t = environment::field(face, "text");
    if (!t || !cell::is(t, type::string)) return answer_none();
    GridLayout g = grid_layout(string::text_of(t), environment::field(face, "size"));
    int64_t lines = int64_t(g.starts.size());
    auto line_of_index = [&](int64_t index) {
        int64_t line = 0;
        while (line + 1 < lines && g.starts[line + 1] <= index) ++line;
        return line;
    };
    auto position_arg = [&]() -> int64_t {
        if (!cell::is(&arg, type::integer)) error::fire(error::id::invalid_arg, &arg);
        return cell::integer(&arg);
    };
    switch (query) {
        case 0: case 6: {
            int64_t index = std::clamp<int64_t>(position_arg() - 1, 0, g.starts.back() + g.lengths.back());
            int64_t line = line_of_index(index), column = std::min(index - g.starts[line], g.lengths[line]);
            int64_t bottom = query == 6 ? 1 : 0;
            point2d::box(stack::args, double((column + bottom) * char_width), double((line + bottom) * line_height));
            return 0;
        }
        case 1: case 5: {
            double x, y;
            if (cell::is(&arg, type::pair)) x = pair::x(&arg), y = pair::y(&arg);
            else if (cell::is(&arg, type::point2d))
                x = std::bit_cast<float>(arg.payload1), y = std::bit_cast<float>(arg.payload2);
            else error::fire(error::id::invalid_arg, &arg);
            int64_t line = std::clamp<int64_t>(int64_t(std::floor(y / line_height)), 0, lines - 1);
            int64_t column = std::clamp<int64_t>(int64_t(std::floor(x / char_width)), 0, g.lengths[line]);
            int64_t position = g.starts[line] + column;
            if (query == 1 && column < g.lengths[line] && x - column * char_width >= char_width / 2.0) ++position;
            cell::set_integer(stack::args, int32_t(position + 1));
            return 0;
        }
        case 2:
            position_arg();
            cell::set_real(stack::args, type::float_, line_height);
            return 0;
        case 3:
            point2d::box(stack::args, double(g.widest * char_width), double(lines * line_height));
            return 0;
        default:
            cell::set_integer(stack::args, int32_t(lines));
            return 0;
    }
}

uint32_t update_scroller(const Call&) {
    note(routines::update_scroller, 2);
    return answer_none();
}

uint32_t set_dark_mode(const Call&) {
    note(routines::set_dark_mode, 2);
    return answer_none();
}

uint32_t support_dark_mode_q(const Call&) {
    note(routines::support_dark_mode_q, 0);
    cell::set_logic(stack::args, false);
    return 0;
}

uint32_t toggle_gpu(const Call&) {
    note(routines::toggle_gpu, 0);
    return answer_none();
}

constexpr routines::Backend make_backend() {
    routines::Backend b{"record", {}};
    b.entries[routines::make_null_handle] = record::make_null_handle;
    b.entries[routines::fetch_all_screens] = record::fetch_all_screens;
    b.entries[routines::get_current_screen] = record::get_current_screen;
    b.entries[routines::get_screen_size] = record::get_screen_size;
    b.entries[routines::size_text] = record::size_text;
    b.entries[routines::on_change_facet] = record::on_change_facet;
    b.entries[routines::update_font] = record::update_font;
    b.entries[routines::destroy_view] = record::destroy_view;
    b.entries[routines::detach_image] = record::detach_image;
    b.entries[routines::update_view] = record::update_view;
    b.entries[routines::refresh_window] = record::refresh_window;
    b.entries[routines::redraw] = record::redraw;
    b.entries[routines::show_window] = record::show_window;
    b.entries[routines::make_view] = record::make_view;
    b.entries[routines::draw_face] = record::draw_face;
    b.entries[routines::do_event_loop] = record::do_event_loop;
    b.entries[routines::exit_event_loop] = record::exit_event_loop;
    b.entries[routines::text_box_metrics] = record::text_box_metrics;
    b.entries[routines::update_scroller] = record::update_scroller;
    b.entries[routines::set_dark_mode] = record::set_dark_mode;
    b.entries[routines::support_dark_mode_q] = record::support_dark_mode_q;
    b.entries[routines::toggle_gpu] = record::toggle_gpu;
    return b;
}

}  // namespace

const routines::Backend backend = make_backend();

void reset() {
    calls.clear();
    screens = {Screen{}};
    parents.clear();
    queue.clear();
    block::make_at(&faces, 8);
    collector::remove_callback(mark_faces);
    collector::add_callback(mark_faces);
}

void install() { windows::lookup = {face_of, root_of}; }

const std::vector<std::string>& log() { return calls; }
void clear_log() { calls.clear(); }
void append_log(std::string line) { calls.push_back(std::move(line)); }
void set_screens(std::vector<Screen> list) { screens = std::move(list); }

void queue_event(uint32_t code, uint32_t key_and_flags, const snapshot::Snapshot& s) {
    queue.push_back(Message{false, code, key_and_flags, s});
}

void queue_text(std::u32string_view text, uint64_t window) {
    snapshot::Snapshot s;
    s.window = window;
    for (char32_t c : text) {
        queue_event(event::code::key_down, c & 0xFFFF, s);
        queue_event(event::code::key, c, s);
    }
}

uint64_t window_of(const Cell& face) { return window_of_face(face); }

void queue_quit() { queue.push_back(Message{true}); }

}  // namespace kel::view::record
