// The scan loop: recognizes tokens one after another, runs each token's
// routines, keeps containers open as marker cells in the value buffer, and
// turns the finished top level into the result.
//
// A marker cell (type 31) stands where a container's value will go: payload 1
// is the distance back to the enclosing container's first cell, payload 2
// the container type (bits 0-15) and the commas seen in it (bits 16-31),
// payload 3 the byte offset of the opening delimiter. Closing writes the new
// series over the marker and drops the cells above it.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "runtime/alloc.hpp"
#include "runtime/collector.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/map.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/function.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/exits.hpp"
#include "runtime/call.hpp"
#include "runtime/interp.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbol.hpp"
#include "runtime/words.hpp"
#include "runtime/error.hpp"
#include "runtime/lexer/lexer.hpp"
#include "runtime/lexer/state.hpp"
#include "runtime/throws.hpp"
#include "runtime/unicode.hpp"

namespace kel::lexer {

Cell* value_cells = nullptr;

// The first element of a path: the token as it would be without the "/".
void path_open(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);

namespace {

constexpr uint32_t initial_cells = 1000;
constexpr uint32_t conversion_initial = 100000;
constexpr uint64_t max_cells = uint64_t(1) << 26;

uint32_t value_capacity = 0;
State* innermost = nullptr;  // the chain of active scans, innermost first

uint8_t* conversion = nullptr;
uint32_t conversion_used = 0;

bool is_path_type(uint32_t t) { return t >= type::path && t <= type::get_path; }

// Links a scan into the chain for as long as it runs, however it ends.
struct Link {
    State& s;
    explicit Link(State& state) : s(state) {
        s.previous = innermost;
        if (innermost) innermost->next = &s;
        innermost = &s;
    }
    ~Link() {
        innermost = s.previous;
        if (innermost) innermost->next = nullptr;
    }
};

// Kinds whose stopping byte belongs to the token: a closing quote, brace,
// bracket, parenthesis or angle bracket, and the "%" of a percent.
constexpr bool consumes_end[kind_count] = {
    false, false, true,  true,  true,  true,  true,  true,  true,  false, true,  false,
    true,  true,  false, false, false, false, true,  false, true,  true,  false, false,
    false, false, false, true,  false, false, true,  false, false, false, false, false,
};

// The bytes after which a path element ends the path.
bool ends_path(uint8_t b) {
    switch (char_class[b] & 0xFF) {
        case c_space: case c_lf: case c_ctl: case c_end: case c_lbrack: case c_rbrack: case c_lparen:
        case c_rparen: case c_lbrace: case c_rbrace: case c_dquote: case c_semi: return true;
        default: return false;
    }
}

// ---- the recognizer

// Runs the automaton from s.position; answers the final state and sets the
// token's bounds, flags, lines and the last working state.
inline uint8_t recognize(State& s, uint32_t& flags_out) {
    const uint8_t* p = s.position;
    const uint8_t* const end = s.input_end;
    const uint8_t* start = p;
    uint32_t state = s.start_state;
    uint32_t flags = 0;
    int32_t lines_before = 0, lines_in = 0;
    uint32_t next;
    for (;;) {
        if (p == end) {
            next = transitions.next[state][c_end];
            break;
        }
        uint32_t entry = char_class[*p];
        flags |= entry;
        next = transitions.next[state][entry & 0xFF];
        if (next >= first_final) break;
        if ((entry & 0xFF) == c_lf) {
            if (next == 0) ++lines_before;
            else ++lines_in;
        }
        if (next == 0) start = p + 1;
        state = next;
        ++p;
    }
    s.token_start = start;
    s.token_end = p;
    s.prev_state = uint8_t(state);
    s.token_lines = lines_before + lines_in;
    s.line += s.token_lines;
    s.newline = lines_before > 0;
    flags_out = flags & 0xFFFFFF00;
    return uint8_t(next);
}

// ---- containers

void close_paths(State& s) {
    while (is_path_type(innermost_container(s))) close_container(s, innermost_container(s));
}

// After a path element: "/" goes on with the next element, a delimiter
// (or ":" for a set-path) ends the path, anything else is an error.
void after_path_element(State& s) {
    const uint8_t* p = s.position;
    if (p == s.input_end) {
        close_paths(s);
        return;
    }
    if (*p == '/') {
        if (p + 1 == s.input_end) throw_error(s, s.token_start, type::path);
        s.position = p + 1;
        s.start_state = s_path;
        return;
    }
    if (*p == ':') {
        if (p + 1 < s.input_end && !ends_path(p[1])) throw_error(s, s.token_start, type::path);
        s.position = p + 1;
        close_container(s, type::set_path);
        s.value_done = true;
        return;
    }
    if (!ends_path(*p)) throw_error(s, s.token_start, type::path);
    close_container(s, innermost_container(s));
    s.value_done = true;
}

Routine structural[kind_count];
Routine loaders[kind_count];

void run_token(State& s, uint8_t kind, uint32_t flags, bool prescan) {
    const uint8_t* start = s.token_start;
    const uint8_t* end = s.token_end;
    if (Routine r = structural[kind]) r(s, start, end, flags, s.load_mode && !prescan);
    if (prescan || kind < k_string) return;
    if (Routine r = loaders[kind]) r(s, start, end, flags, s.load_mode);
}

void end_routine(State& s, const uint8_t*, const uint8_t*, uint32_t, bool) {
    s.position = s.input_end;
}

void error_routine(State& s, const uint8_t* start, const uint8_t* end, uint32_t, bool) {
    if (s.start_state == s_curly && (end == s.input_end || *end == 0)) {
        s.missing_char = '}';
        s.missing_type = type::string;
        throw_error(s, s.curly_start, err_missing_end);
    }
    uint8_t t = state_type[s.prev_state];
    throw_error(s, start, t ? t : err_bad_char);
}

void container_open(State& s, const uint8_t*, const uint8_t* end, uint32_t, bool) {
    if (*end == '(' && point_ahead(end + 1, s.input_end)) {
        s.start_state = s_point;
        return;
    }
    open_container(s, *end == '[' ? type::block : type::paren, end);
}

void block_close(State& s, const uint8_t*, const uint8_t*, uint32_t, bool) { close_container(s, type::block); }
void paren_close(State& s, const uint8_t*, const uint8_t*, uint32_t, bool) { close_container(s, type::paren); }

void map_open(State& s, const uint8_t* start, const uint8_t*, uint32_t, bool) {
    open_container(s, type::map, start);
}

void comment(State&, const uint8_t*, const uint8_t*, uint32_t, bool) {}

// A comma marks the innermost paren as a point form and counts itself there.
void comma(State& s, const uint8_t* start, const uint8_t*, uint32_t, bool) {
    uint32_t t = innermost_container(s);
    if (t != type::paren && t != point_form) throw_error(s, start, type::point2d);
    Cell* m = cell_at(s.block_start - 1);
    uint32_t commas = (m->payload2 >> 16) + 1;
    m->payload2 = point_form | std::min<uint32_t>(commas, 0xFFFF) << 16;
}

// The type argument of an event: a datatype!, or none for no type.
Cell type_cell(int32_t t) {
    Cell c{type::none, 0, 0, 0};
    if (t > 0 && t < type::count) cell::set_datatype(&c, uint8_t(t));
    return c;
}

// A container event's type: the word of the delimiter.
Cell delimiter_word(const char* text) {
    return Cell{type::word, 0, symbol::make(text), uint32_t(-1)};
}

int32_t scan_loop(State& s, bool one, bool prescan) {
    for (;;) {
        uint32_t flags;
        uint8_t final = recognize(s, flags);
        auto kind = uint8_t(final - first_final);
        s.token_type = state_type[final];
        s.value_done = false;
        if (s.prev_state >= 10 && s.prev_state <= 12) {
            // Raw strings find their own end: "}" with as many "%" as opened them.
            kind = k_raw_string;
            s.token_type = type::string;
        } else if (kind == k_word || kind == k_path_open) {
            const uint8_t* from = skip_unicode_spaces(s.token_start, s.token_end);
            if (from == s.token_end) {
                s.position = s.token_end;
                continue;
            }
            s.token_start = from;
            const uint8_t* cut = cut_at_unicode_space(from, s.token_end);
            if (cut != s.token_end) {
                s.token_end = cut;
                kind = k_word;
                s.token_type = type::word;
            }
        }
        s.position = s.token_end + (consumes_end[kind] && s.token_end < s.input_end ? 1 : 0);
        if (kind == k_file && s.prev_state == 8) s.position = s.token_end + 1;  // a quoted name
        uint8_t start_state = s.start_state;
        if (start_state == s_point) s.start_state = 0;

        if (s.trace_mask && kind != k_end) {
            // prescan: every token outside curly strings, which it may skip;
            // scan before the routines; load after a value was built, which
            // it may drop.
            if (start_state != s_curly && traced(s, event::prescan) &&
                !fire_event(s, event::prescan, type_cell(s.token_type), nullptr, s.token_start, s.token_end))
                continue;
            if (prescan) {
                run_token(s, kind, flags, prescan);
            } else {
                if (kind >= k_string && traced(s, event::scan))
                    fire_event(s, event::scan, type_cell(s.token_type), nullptr, s.token_start, s.token_end);
                uint32_t before = s.tail;
                run_token(s, kind, flags, prescan);
                if (s.load_mode && s.tail == before + 1 && kind >= k_string && traced(s, event::load)) {
                    Cell value = *cell_at(before);
                    if (!fire_event(s, event::load, type_cell(cell::type_of(&value)), &value, s.token_start,
                                    s.token_end))
                        s.tail = before;
                }
            }
        } else {
            run_token(s, kind, flags, prescan);
        }

        if (kind == k_end) {
            // Open paths close; any other open container lacks its closer.
            if (s.start_state == s_curly) {
                s.missing_char = '}';
                s.missing_type = type::string;
                throw_error(s, s.curly_start, err_missing_end);
            }
            close_paths(s);
            if (s.block_start > s.head) {
                uint32_t open = innermost_container(s);
                s.missing_type = int32_t(open);
                s.missing_char = open == type::paren || open == point_form ? ')' : ']';
                throw_error(s, nullptr, err_missing_end);
            }
            return s.token_type;
        }
        if (kind >= k_string || kind == k_construction || kind == k_block_close || kind == k_paren_close)
            s.value_done = s.value_done || kind != k_curly_close;
        if (kind == k_curly_close && s.start_state != s_curly) s.value_done = true;
        if (s.value_done && kind != k_path_open && is_path_type(innermost_container(s))) {
            s.value_done = false;
            after_path_element(s);
        }
        if (s.value_done && (one || prescan) && s.block_start == s.head && s.start_state == 0) return s.token_type;
    }
}

// The new value for the cells [first, last) of a closed container.
void build_container(State& s, uint32_t container, uint32_t first, uint32_t last, Cell* out) {
    uint32_t n = last - first;
    if (container == type::map) {
        map::box_from_cells(out, cell_at(first), n);  // raises invalid map! through the lexer below
        return;
    }
    NodeId node = alloc::alloc_cells(n ? n : 1);
    SeriesBuffer* b = alloc::buffer_of(node);
    std::memcpy(b->data() + b->offset, cell_at(first), size_t(n) * sizeof(Cell));
    b->tail = b->offset + n * uint32_t(sizeof(Cell));
    *out = Cell{container == point_form ? uint32_t(type::paren) : container, 0, node, 0};
}

void grow_cells() {
    uint64_t wanted = value_capacity ? uint64_t(value_capacity) * 2 : initial_cells;
    if (wanted > max_cells) error::fire(error::id::no_memory);
    auto* bigger = static_cast<Cell*>(std::realloc(value_cells, size_t(wanted) * sizeof(Cell)));
    if (!bigger) error::fire(error::id::no_memory);
    value_cells = bigger;
    value_capacity = uint32_t(wanted);
}

// The UTF-8 text of the near part of an error: up to the first line feed,
// the end, or the first code point starting 30 or more bytes in.
size_t near_length(const uint8_t* start, const uint8_t* end) {
    size_t n = 0;
    while (start + n < end && start[n] != '\n' && start[n] != 0) {
        if (n >= 30 && (start[n] & 0xC0) != 0x80) break;
        ++n;
    }
    return n;
}

// The reader of the conversions from text: exactly one value, or false. The
// text is checked first in the scan mode, which raises nothing.
bool text_reader(const char* text, size_t n, Cell* out) {
    ScanOptions check;
    check.scan = true;
    Cell result{};
    if (load_utf8(text, n, check, &result) == type::error) return false;
    load_utf8(text, n, ScanOptions{}, &result);
    if (block::ks_length_q(&result) != 1) return false;
    *out = *block::ks_head(&result);
    cell::clear_newline(out);
    return true;
}

}  // namespace

// ---- the value buffer

Cell* grow_buffer(State& s) {
    if (s.tail >= value_capacity) grow_cells();
    Cell* c = value_cells + s.tail++;
    *c = Cell{s.newline ? uint32_t(type::unset) | cell::newline_flag : uint32_t(type::unset), 0, 0, 0};
    return c;
}

uint32_t innermost_container(const State& s) {
    if (s.block_start == s.head) return 0;
    return cell_at(s.block_start - 1)->payload2 & 0xFFFF;
}

bool in_path(const State& s) { return is_path_type(innermost_container(s)); }

void open_container(State& s, uint32_t container, const uint8_t* opener) {
    if (innermost_container(s) == point_form) throw_error(s, opener, type::point2d);
    if (traced(s, event::open)) {
        const char* d = container == type::block ? "[" : container == type::paren ? "(" : container == type::map ? "#[" : "/";
        if (!fire_event(s, event::open, delimiter_word(d), nullptr, opener, opener + 1)) return;
    }
    uint32_t at = s.tail;
    Cell* m = grow_buffer(s);
    m->header = (m->header & cell::newline_flag) | marker_type;
    m->payload1 = at - s.block_start;
    m->payload2 = container;
    m->payload3 = uint32_t(opener - s.input_start);
    s.block_start = at + 1;
    s.start_state = 0;
}

void close_container(State& s, uint32_t closer) {
    if (traced(s, event::close)) {
        const char* d = closer == type::block ? "]" : closer == type::paren ? ")" : "/";
        if (!fire_event(s, event::close, delimiter_word(d), nullptr, s.token_start, s.token_end)) return;
    }
    uint32_t open = innermost_container(s);
    bool matches = open == closer || (closer == type::block && open == type::map) ||
                   (closer == type::set_path && is_path_type(open));
    if (!matches) {
        // The closer the open container wants, or the opener a stray closer lacks.
        s.missing_type = int32_t(open);
        if (open) s.missing_char = open == type::paren || open == point_form ? ')' : ']';
        else s.missing_char = closer == type::block ? '[' : '(';
        throw_error(s, nullptr, err_missing);
    }
    uint32_t marker = s.block_start - 1;
    Cell* m = cell_at(marker);
    uint32_t outer = marker - m->payload1;
    uint32_t newline = m->header & cell::newline_flag;
    if (s.load_mode) {
        Cell value{};
        uint32_t made = closer == type::set_path ? uint32_t(type::set_path) : open;
        if (made == type::map) {
            const uint8_t* opener = s.input_start + m->payload3;
            uint32_t n = s.tail - s.block_start;
            if (n % 2 || !map::keys_ok(cell_at(s.block_start), n)) throw_error(s, opener, type::map);
        }
        build_container(s, made, s.block_start, s.tail, &value);
        value.header |= newline;
        *cell_at(marker) = value;
        s.tail = marker + 1;
    } else {
        s.tail = marker;
    }
    s.block_start = outer;
    s.start_state = is_path_type(innermost_container(s)) ? s_path : 0;
    s.token_type = int32_t(closer == type::set_path ? uint32_t(type::set_path) : open == point_form ? type::paren : open);
}

void path_open(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    // The element's own kind: where its last state goes on a space.
    auto kind = uint8_t(transitions.next[s.prev_state][c_space] - first_final);
    uint32_t path_type = type::path;
    if (*start == '\'') path_type = type::lit_path;
    else if (*start == ':') path_type = type::get_path;
    uint32_t before = s.tail;
    if (Routine r = structural[kind]) r(s, start, end, flags, load);
    if (Routine r = loaders[kind]) r(s, start, end, flags, load);
    Cell element{};
    bool made = s.tail > before;
    if (made) {
        element = *cell_at(--s.tail);
        cell::clear_newline(&element);
        if (path_type != type::path) cell::set_type(&element, type::word);
    }
    open_container(s, path_type, start);
    if (made) *grow_buffer(s) = element;
    if (end + 1 >= s.input_end) throw_error(s, start, type::path);
    s.position = end + 1;
    s.start_state = s_path;
}

// ---- errors

void throw_error(State& s, const uint8_t* error_start, int32_t code) {
    if (!s.load_mode) {
        s.token_type = type::error;
        throws::throw_code(throws::syntax);
    }
    if (traced(s, event::error)) {
        // A callback answering false ends the scan quietly.
        int32_t t = code > 0 ? code : s.missing_type ? s.missing_type : s.token_type ? s.token_type : int32_t(type::error);
        const uint8_t* at = error_start ? error_start : s.token_start ? s.token_start : s.input_start;
        bool go_on = fire_event(s, event::error, type_cell(t), nullptr, at, s.token_end ? s.token_end : at);
        s.trace_mask &= ~event::error;  // one error event per scan
        if (!go_on) {
            s.token_type = type::error;
            throws::throw_code(throws::syntax);
        }
    }
    if (!error_start) {
        error_start = s.input_start;
        if (s.block_start > s.head) error_start = s.input_start + cell_at(s.block_start - 1)->payload3;
    }
    if (error_start > s.input_end) error_start = s.input_end;
    int32_t line = 1;
    for (const uint8_t* p = s.input_start; p < error_start; ++p) line += *p == '\n';

    collector::RootCell line_text, near_text;
    char digits[32];
    int n = std::snprintf(digits, sizeof digits, "(line %d)", line);
    string::make_from_utf8(&line_text.cell, digits, size_t(n));
    string::make_from_utf8(&near_text.cell, reinterpret_cast<const char*>(error_start),
                           near_length(error_start, s.input_end));

    if (is_path_type(uint32_t(s.missing_type)) && (code == err_missing || code == err_missing_end))
        code = err_bad_char;
    if (code > 0) {
        Cell t{};
        cell::set_datatype(&t, uint8_t(code));
        error::fire(error::id::invalid, &line_text.cell, &t, &near_text.cell);
    }
    if (code == err_bad_char) error::fire(error::id::bad_char, &line_text.cell, &near_text.cell, nullptr);
    if (code == err_malconstruct) error::fire(error::id::malconstruct, &line_text.cell, &near_text.cell, nullptr);
    Cell ch{type::char_, 0, s.missing_char, 0};
    error::fire(error::id::missing, &line_text.cell, &ch, &near_text.cell);
}

// ---- trace events

namespace {

const Cell* event_word(uint32_t e) {
    const words::Words& w = words::words;
    switch (e) {
        case event::prescan: return w.prescan;
        case event::scan: return w.scan;
        case event::load: return w.load;
        case event::open: return w.open;
        case event::close: return w.close;
        default: return w.error;
    }
}

// The events a callback asks for: the words in a block that opens its body,
// else all of them.
uint32_t event_mask(const Cell* callback) {
    const Cell* body = function::body_of(callback);
    if (!cell::is(body, type::block) || body->payload1 >= series::cell_count(body->payload2)) return 63;
    const Cell first = series::cells_of(body->payload2)[body->payload1];
    if (!cell::is(&first, type::block)) return 63;
    uint32_t mask = 0;
    for (uint32_t i = first.payload1; i < series::cell_count(first.payload2); ++i) {
        const Cell w = series::cells_of(first.payload2)[i];
        if (!cell::is(&w, type::word)) continue;
        for (uint32_t e = 1; e <= event::error; e <<= 1)
            if (symbol::resolve(w.payload2) == symbol::resolve(event_word(e)->payload2)) mask |= e;
    }
    return mask;
}

}  // namespace

bool fire_event(State& s, uint32_t e, const Cell& type, const Cell* value, const uint8_t* start,
                const uint8_t* end) {
    if (!(s.trace_mask & e)) return true;
    Cell args[5];
    args[0] = *event_word(e);
    // The input at the token: a byte offset into a binary, a character
    // index into text.
    if (s.source) {
        args[1] = *s.source;
        uint32_t offset = cell::is(s.source, type::binary) ? uint32_t(start - s.input_start)
                                                          : unicode::utf8_length(s.input_start, start);
        args[1].payload1 += offset;
    } else {
        cell::set_none(&args[1]);
    }
    args[2] = type;
    cell::set_integer(&args[3], s.line);
    if (value) args[4] = *value;
    else args[4] = Cell{type::pair, 0, uint32_t(start - s.input_start + 1), uint32_t(end - s.input_start + 1)};
    Cell* top = stack::top;
    Cell callback = s.trace;
    if (call::with_values(callback, *words::words.lexer_callback, args, 5)) exits::raise_pending();
    bool go_on = !cell::is(stack::last(), type::none) &&
                 !(cell::is(stack::last(), type::logic) && !stack::last()->payload1);
    stack::top = top;
    return go_on;
}

// ---- entry points

int32_t scan(Cell* result, const uint8_t* text, uint32_t size, const ScanOptions& o, uint32_t* end_out) {
    State s;
    s.input_start = s.position = text;
    s.input_end = text + size;
    s.head = s.block_start = s.tail = innermost ? innermost->tail : 0;
    s.load_mode = !o.scan && !o.prescan;
    s.source = o.source;
    if (o.trace && cell::is(o.trace, type::function)) {
        s.trace = *o.trace;
        s.trace_mask = event_mask(o.trace);
    }
    Link link(s);

    int32_t last = 0;
    uint32_t code = throws::protect(throws::syntax, [&] { last = scan_loop(s, o.one_value, o.prescan); });
    if (code) last = type::error;
    if (end_out) *end_out = uint32_t(s.position - s.input_start);

    uint32_t n = s.tail - s.head;
    if (!s.load_mode) {
        cell::set_none(result);
    } else if (o.one_value && !o.keep_block && n > 0 && !o.target) {
        *result = *cell_at(s.head);
        cell::clear_newline(result);
    } else if (o.target) {
        for (uint32_t i = 0; i < n; ++i) block::ks_append(o.target, cell_at(s.head + i));
        *result = *o.target;
    } else {
        build_container(s, type::block, s.head, s.tail, result);
    }
    s.tail = s.head;
    return last;
}

int32_t load_utf8(const char* text, size_t size, const ScanOptions& options, Cell* result) {
    if (size > 0x7FFFFFFF) error::fire(error::id::no_memory);
    // The text is copied where no collection can move it.
    uint8_t* copy = static_cast<uint8_t*>(std::malloc(size ? size : 1));
    if (!copy) error::fire(error::id::no_memory);
    struct Free {
        uint8_t* p;
        ~Free() { std::free(p); }
    } release{copy};
    std::memcpy(copy, text, size);
    return scan(result, copy, uint32_t(size), options);
}

Cell load_first(const Cell* text, uint32_t* count) {
    Cell* loaded = stack::push_slot();
    cell::set_none(loaded);
    load(text, -1, ScanOptions{}, loaded);
    Cell first{type::none, 0, 0, 0};
    uint32_t n = series::length_from(loaded);
    if (n > 0) first = series::cells_of(loaded->payload2)[series::clamped_index(loaded)];
    stack::pop(1);
    if (count) *count = n;
    return first;
}

int32_t load(const Cell* source, int32_t length, const ScanOptions& options, Cell* result) {
    SeriesBuffer* b = alloc::buffer_of(source->payload2);
    uint32_t unit = cell::is(source, type::binary) ? 1 : b->unit();
    uint32_t units = (b->tail - b->offset) / unit;
    uint32_t index = std::min(source->payload1, units);
    uint32_t count = units - index;
    if (length >= 0 && uint32_t(length) < count) count = uint32_t(length);
    uint64_t need = cell::is(source, type::binary) ? count : uint64_t(count) * (unit == 1 ? 2 : unit == 2 ? 3 : 4);

    // Nested loads stack in the conversion buffer; a text too large for its
    // free part gets a block of its own.
    uint32_t mark = conversion_used;
    uint8_t* dest = nullptr;
    uint8_t* own = nullptr;
    if (need + 1 <= conversion_initial - conversion_used) {
        dest = conversion + conversion_used;
    } else {
        if (need + 1 > alloc::series_limit) error::fire(error::id::no_memory);
        own = static_cast<uint8_t*>(std::malloc(size_t(need + 1)));
        if (!own) error::fire(error::id::no_memory);
        dest = own;
    }
    struct Restore {
        uint32_t mark;
        uint8_t* own;
        ~Restore() {
            conversion_used = mark;
            std::free(own);
        }
    } restore{mark, own};

    uint32_t size;
    if (cell::is(source, type::binary)) {
        std::memcpy(dest, b->data() + b->offset + index, count);
        size = count;
    } else {
        size = count ? unicode::encode_utf8_bounded(source, dest, int64_t(need), int32_t(count), false) : 0;
    }
    if (!own) conversion_used += size;
    ScanOptions o = options;
    if (!o.source) o.source = source;
    return scan(result, dest, size, o);
}

void mark_buffers() {
    for (State* s = innermost; s; s = s->previous) {
        if (s->source) collector::mark_cells(s->source, s->source + 1);
        if (s->trace_mask) collector::mark_cells(&s->trace, &s->trace + 1);
    }
    if (innermost) collector::mark_cells(value_cells, value_cells + innermost->tail);
}

void init_tables() {
    innermost = nullptr;
    conversion_used = 0;
    if (!value_cells) grow_cells();
    if (!conversion) conversion = static_cast<uint8_t*>(std::malloc(conversion_initial));
    if (!conversion) error::fire(error::id::no_memory);
    collector::add_callback(&mark_buffers);
    word::scanner = &text_reader;

    structural[k_end] = &end_routine;
    structural[k_error] = &error_routine;
    structural[k_block_open] = structural[k_paren_open] = &container_open;
    structural[k_block_close] = &block_close;
    structural[k_paren_close] = &paren_close;
    structural[k_curly_open] = &curly_open;
    structural[k_curly_close] = &curly_close;
    structural[k_map_open] = &map_open;
    structural[k_path_open] = &path_open;
    structural[k_construction] = &load_construction;
    structural[k_comment] = &comment;
    structural[k_comma] = &comma;
    structural[k_string] = &load_string;
    structural[k_word] = &check_word;
    structural[k_issue] = &check_issue;

    loaders[k_word] = loaders[k_issue] = &load_word;
    loaders[k_integer] = &load_integer;
    loaders[k_refinement] = &load_refinement;
    loaders[k_char] = &load_char;
    loaders[k_file] = &load_file;
    loaders[k_binary] = &load_binary;
    loaders[k_percent] = &load_percent;
    loaders[k_float] = &load_float;
    loaders[k_float_special] = &load_float_special;
    loaders[k_tuple] = &load_tuple;
    loaders[k_date] = &load_date;
    loaders[k_pair] = &load_pair;
    loaders[k_point] = &load_point;
    loaders[k_time] = &load_time;
    loaders[k_money] = &load_money;
    loaders[k_tag] = &load_tag;
    loaders[k_url] = &load_url;
    loaders[k_email] = &load_email;
    loaders[k_hex_integer] = &load_hex_integer;
    loaders[k_raw_string] = &load_raw_string;
    loaders[k_ref] = &load_ref;
}

}  // namespace kel::lexer
