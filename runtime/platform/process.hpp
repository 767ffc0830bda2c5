// Child processes for the call native: start a program, or a command line
// through the system's shell, optionally feed its standard input and capture
// its standard output and error. Commands and paths cross this boundary as
// UTF-8; the Windows side converts them to UTF-16.
//
// The three streams are pumped at once (the input written while both
// outputs are read), so a child that fills one pipe while the launcher is
// busy with another cannot stall the exchange.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

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

struct Launch {
    bool wait = false;
    bool show = false;   // Windows: show the child's console window
    bool shell = false;  // run the command line through the shell
    Stream input, output, error;
    // Set by run: the command went through the shell, asked for or as the
    // fallback for a program that was not found.
    bool via_shell = false;
};

// Starts the command. A program that is not found is tried once more as a
// shell command line. Any redirection makes the launch wait. Answers the
// exit status when it waited, the process id when it did not, and -1 when
// an input file, a pipe or the process could not be made.
int32_t run(const std::string& command, Launch& launch);

// The bytes a string! given as standard input is fed as.
std::string input_text(std::u32string_view text);

// The bytes captured from a command run through the shell, as UTF-8.
std::string shell_output_to_utf8(std::string_view bytes);

}  // namespace kel::process
