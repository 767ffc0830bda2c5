// The lexer: Kel source text (UTF-8) in, values out.
//
// A scan runs the token recognizer (classes.hpp) token after token and hands
// each token to its routine, which checks its text and, when values are
// being built, appends the value to one shared value buffer. Containers
// ("[", "(", "#[", paths) push a marker cell into that buffer when they open;
// when they close, the cells above the marker become one new series written
// in the marker's place. So a block of n values costs one allocation, and
// nesting depth costs buffer cells, not native stack.
//
// The value buffer lives on the C heap and is marked by the collector; it
// moves when it grows, so scans hold positions in it as indices. Scans nest
// (a load inside a load): an inner scan works above the outer one's tail.
//
// Syntax errors raise syntax/invalid, bad-char, malconstruct or missing, with
// the line ("(line N)") and the text near the error. In the scan and prescan
// modes nothing is raised: the scan stops and answers error!.
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/cell.hpp"

namespace kel::lexer {

struct ScanOptions {
    bool one_value = false;   // stop after the first complete top-level value
    bool scan = false;        // check tokens without building values; answer the type
    bool prescan = false;     // only the structural routines; answer a guessed type
    bool keep_block = false;  // one value still comes back in a block
    const Cell* trace = nullptr;   // a trace callback (function!), or null
    const Cell* source = nullptr;  // the series the text came from (kept alive while scanning)
    Cell* target = nullptr;        // a block to append the values to, or null
};

// Scans the UTF-8 text [text, text + size), which must not move while the
// scan runs (C heap, a fixed buffer, or the conversion buffer of load).
// The values go into *result: a new block (or the target block), or the one
// value in one-value mode. Answers the type id of the last token (0 for
// none, type::error after a syntax error in the scan modes). *end_out, when
// given, receives the byte offset where scanning stopped.
int32_t scan(Cell* result, const uint8_t* text, uint32_t size, const ScanOptions& options,
             uint32_t* end_out = nullptr);

// Loads the text of a string value (any text type) from its index, at most
// `length` characters (-1: all), or the bytes of a binary! value, through
// the conversion buffer. Options as for scan.
int32_t load(const Cell* source, int32_t length, const ScanOptions& options, Cell* result);

// The first value the text of a string value loads to (none when it holds
// none), and in *count how many values it holds: the text conversions of
// the scalar types read their value this way.
Cell load_first(const Cell* text, uint32_t* count = nullptr);

// Loads UTF-8 text held in C++ storage (copied first, so it may live anywhere).
int32_t load_utf8(const char* text, size_t size, const ScanOptions& options, Cell* result);

// Start-up: the value and conversion buffers, the collector's mark callback,
// and the lexer as the text reader of the word conversions.
void init_tables();

// Marks the cells of every active scan and its source.
void mark_buffers();

}  // namespace kel::lexer
