// What the scan loop and the token routines share: the record of a running
// scan, the value buffer and the error entry.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"
#include "runtime/lexer/classes.hpp"

namespace kel::lexer {

// Container types of an open-container marker (payload 2, bits 0-15).
constexpr uint32_t point_form = 51;  // a paren that holds a comma
constexpr uint8_t marker_type = type::triple;

// Special codes of throw_error besides a datatype.
constexpr int32_t err_bad_char = -1;
constexpr int32_t err_malconstruct = -2;
constexpr int32_t err_missing = -3;      // a closer that does not match
constexpr int32_t err_missing_end = -4;  // the end of input with containers open

struct State {
    State* next = nullptr;      // the inner active scan
    State* previous = nullptr;  // the outer active scan
    // Positions in the value buffer (cell indices).
    uint32_t head = 0;
    uint32_t block_start = 0;  // first cell of the innermost open container
    uint32_t tail = 0;
    const uint8_t* input_start = nullptr;
    const uint8_t* input_end = nullptr;
    const uint8_t* position = nullptr;  // where the next token is recognized
    const uint8_t* token_start = nullptr;
    const uint8_t* token_end = nullptr;
    int32_t line = 1;
    int32_t token_lines = 0;     // line feeds of the last token, skipped whitespace included
    bool newline = false;        // a line feed before the current token
    int32_t type_override = -1;  // the datatype a shared routine builds
    int32_t token_type = 0;
    uint8_t start_state = 0;
    uint8_t prev_state = 0;      // the last working state of the token
    int32_t missing_type = 0;
    uint32_t missing_char = 0;  // what a missing-delimiter error names
    // Curly strings: where the first "{" is, the nesting count, the flags of
    // all the pieces, and whether a line feed came before the string.
    const uint8_t* curly_start = nullptr;
    int32_t curly_nesting = 0;
    uint32_t curly_flags = 0;
    bool curly_newline = false;
    bool load_mode = true;  // values are built
    bool value_done = false;  // the last token completed a value
    const Cell* source = nullptr;
    // The trace callback (a function!, or none) and the events it asked for.
    Cell trace{};
    uint32_t trace_mask = 0;
};

// Trace events, by bit.
namespace event {
constexpr uint32_t prescan = 1, scan = 2, load = 4, open = 8, close = 16, error = 32;
}

// Calls the trace callback for an event of the token [start, end): the type
// (a datatype!, none, or a delimiter's word) and the value (null: the token's
// offsets as a pair). Answers whether the scan goes on with it; true when the
// event is not traced.
bool fire_event(State& s, uint32_t event, const Cell& type, const Cell* value, const uint8_t* start,
                const uint8_t* end);
inline bool traced(const State& s, uint32_t event) { return s.trace_mask & event; }

// The value buffer: cells of all active scans.
extern Cell* value_cells;

// A new cell at the scan's tail, unset!, with the new-line flag when a line
// feed came before the token. Good until the next call.
Cell* grow_buffer(State& s);
inline Cell* cell_at(uint32_t index) { return value_cells + index; }

// Raises the syntax error (load mode) or stops the scan (scan modes).
// error_start null: the innermost container's opener, or the input start.
// code: a datatype id, or one of the err_ codes.
[[noreturn]] void throw_error(State& s, const uint8_t* error_start, int32_t code);

// Containers.
void open_container(State& s, uint32_t container, const uint8_t* opener);
void close_container(State& s, uint32_t closer);
bool in_path(const State& s);
uint32_t innermost_container(const State& s);  // 0 at the top level

// Token routines: token [start, end) with the token's flags; load builds the
// value. Each sets s.position to where scanning resumes.
using Routine = void (*)(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);

// strings.cpp
void load_string(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_raw_string(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void curly_open(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void curly_close(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_char(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_file(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_tag(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_url(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_email(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_ref(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_binary(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);

// words.cpp
void check_word(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_word(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void check_issue(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_refinement(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_construction(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
// The end of a word token at its first Unicode space (the token's end when none).
const uint8_t* cut_at_unicode_space(const uint8_t* start, const uint8_t* end);
// The leading Unicode spaces of a token, skipped.
const uint8_t* skip_unicode_spaces(const uint8_t* start, const uint8_t* end);

// numbers.cpp
void load_integer(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_hex_integer(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_float(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_float_special(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_percent(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_tuple(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_pair(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_point(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_time(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_money(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
// A "(" that starts a point literal: a comma comes before anything else.
bool point_ahead(const uint8_t* after, const uint8_t* end);

// dates.cpp
void load_date(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);

}  // namespace kel::lexer
