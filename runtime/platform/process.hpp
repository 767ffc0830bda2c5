// Child processes for the call native: start a program, or a command line
// through the system's shell, optionally feed its standard input and capture
// its standard output and error. Commands and paths cross this boundary as
// UTF-8 without NUL (the caller refuses one, which would cut the text at the
// system's boundary); the Windows side converts them to UTF-16.
//
// A command line goes to the shell only when the caller asks for it; a
// program that cannot be found is reported, never handed to the shell.
//
// The three streams are pumped at once (the input written while both
// outputs are read), so a child that fills one pipe while the launcher is
// busy with another cannot stall the exchange. A capture that outgrows its
// limit, or the memory there is, ends the child: it is killed and reaped,
// and every pipe closed, before run answers.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/alloc.hpp"

namespace kel::process {

// One standard stream of the child.
struct Stream {
    enum Kind : uint8_t {
        none,   // not redirected: input is the launcher's own, output and error are discarded
        file,   // input read from the file; output appended to it (a file that cannot be
                // opened discards the output)
        bytes,  // input fed from `data`; output captured into `data`
    };
    Kind kind = none;
    std::string path;  // file: the host path
    std::string data;
};

// Why a launch ended without an answer; set by run, for the caller to raise.
enum class Stop : uint8_t {
    none,
    not_found,  // no such program
    too_long,   // a capture would pass capture_limit (below)
    no_memory,  // a capture could not grow
};

struct Launch {
    bool wait = false;
    bool show = false;   // Windows: show the child's console window
    bool shell = false;  // run the command line through the shell
    Stream input, output, error;
    Stop stop = Stop::none;
};

// The most bytes one capture holds: the largest series. Tests lower it.
inline uint64_t capture_limit = alloc::series_limit;

// Starts the command. Any redirection makes the launch wait. Answers the
// exit status when it waited, the process id when it did not, and -1 when
// an input file, a pipe or the process could not be made, or launch.stop
// says why it stopped.
int32_t run(const std::string& command, Launch& launch);

// Appends n captured bytes to a capture. Stop::none when they fit; else why
// not, the capture left as it was.
Stop capture(std::string& data, const char* bytes, size_t n);

// The bytes a string! given as standard input is fed as: UTF-8, which the
// programs of both platforms read, with the platform's line ends.
std::string input_text(std::u32string_view text);

// The bytes captured from a command run through the shell, as UTF-8.
std::string shell_output_to_utf8(std::string_view bytes);

}  // namespace kel::process
