// The recording back end: a display kept in memory, so that the GUI runs
// and can be tested on any platform (KEL_VIEW=record). Every routine call
// appends a line to a log that tests read and clear; windows are numbered
// handles; text is measured on a monospace grid of 8x16 pixels; there is
// one 1280x1024 screen, which tests may replace; the event loop takes its
// messages from a queue that tests fill.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/cell.hpp"
#include "view/backend/routines.hpp"
#include "view/backend/snapshot.hpp"

namespace kel::view::record {

extern const routines::Backend backend;

constexpr int32_t char_width = 8, line_height = 16;

struct Screen {
    int32_t x = 0, y = 0, width = 1280, height = 1024;
    double scale = 1.0;
};

// Forgets the log, the windows, the queue and the screens (one default screen).
void reset();
// Makes the back end the one the event getters ask about windows.
void install();

const std::vector<std::string>& log();
// The window of a shown face (0: none).
uint64_t window_of(const Cell& face);
void clear_log();
// Adds a line to the log (the recording draw back end's calls).
void append_log(std::string line);
void set_screens(std::vector<Screen> screens);

// The queue of the event loop. A typed text gives key-down then key for
// each character; a quit ends the innermost blocking loop.
void queue_event(uint32_t code, uint32_t key_and_flags, const snapshot::Snapshot& s);
void queue_text(std::u32string_view text, uint64_t window = 0);
void queue_quit();

}  // namespace kel::view::record
