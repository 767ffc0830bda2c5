// call cmd /wait /show /console /shell /input in /output out /error err:
// the native's side of starting a process. It turns the arguments into a
// process::Launch, runs it, and moves what the child wrote into the target
// series: bytes into a binary!, decoded text into a string!, in front of
// what the target holds from its index. The launch itself, the pipes and
// the encodings a platform's programs expect are in platform/process.
//
// Nothing allocates while the child runs; the targets stay in their
// argument cells, where the collector sees them, and buffers are re-read
// after every growth. What the launch could not do becomes an error here:
// a program not found, a capture past the largest series, memory that ran
// out (std::bad_alloc from any C++ buffer of the call).
#include <cstring>
#include <new>
#include <string>

#include "runtime/datatypes/file.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/error.hpp"
#include "runtime/natives/checksum.hpp"
#include "runtime/natives/entries.hpp"
#include "runtime/platform/process.hpp"
#include "runtime/stack.hpp"
#include "runtime/unicode.hpp"

namespace kel::natives {

namespace {

// Text handed to the system: a NUL would end it there, so that the system
// would run or open something other than what the value names.
std::string host_text(const Cell* value) {
    std::string text = cell::is(value, type::file) ? file::to_local_path(value) : string::utf8_of(value);
    if (text.find('\0') != std::string::npos) error::fire(error::id::invalid_arg, value);
    return text;
}

// An input: a string! as text the platform's programs read, a binary! as
// its bytes, a file! as the file to read.
void take_input(const Cell* value, process::Stream& s) {
    switch (cell::type_of(value)) {
    case type::file:
        s.kind = process::Stream::file;
        s.path = host_text(value);
        break;
    case type::binary: {
        size_t n = 0;
        const uint8_t* bytes = checksum::binary_bytes(value, &n);
        s.kind = process::Stream::bytes;
        s.data.assign(reinterpret_cast<const char*>(bytes), n);
        break;
    }
    default:
        s.kind = process::Stream::bytes;
        s.data = process::input_text(string::text_of(value));
    }
}

// An output target: a file! is appended to, a string! or binary! captures.
void take_output(const Cell* value, process::Stream& s) {
    if (cell::is(value, type::file)) {
        s.kind = process::Stream::file;
        s.path = host_text(value);
    } else {
        s.kind = process::Stream::bytes;
    }
}

// Captured text: from the shell in the shell's encoding, else UTF-8 with a
// leading byte-order mark skipped; CR dropped so CR LF lines end in LF.
std::u32string captured_text(const std::string& bytes, bool shell) {
    std::string converted = shell ? process::shell_output_to_utf8(bytes) : std::string();
    std::string_view s(shell ? converted : bytes);
    if (!shell && s.substr(0, 3) == "\xEF\xBB\xBF") s.remove_prefix(3);
    std::u32string text;
    text.reserve(s.size());
    for (size_t i = 0; i < s.size();)
        if (uint32_t cp = unicode::next_utf8(s, i); cp != '\r') text += char32_t(cp);
    return text;
}

// The target cannot grow past the largest series.
void check_room(int64_t length, size_t added) {
    if (added > size_t(INT32_MAX) || length + int64_t(added) > INT32_MAX) error::fire(error::id::too_long);
}

void insert_bytes(Cell* target, const std::string& bytes) {
    int64_t at = series::clamped_index(target), total = series::total_length(target);
    check_room(total, bytes.size());
    SeriesBuffer* b = alloc::buffer_of(target->payload2);
    uint64_t need = uint64_t(total) + bytes.size();
    if (b->offset + need > b->size) b = alloc::expand_series(b, need);
    uint8_t* base = b->data() + b->offset;
    std::memmove(base + at + bytes.size(), base + at, size_t(total - at));
    std::memcpy(base + at, bytes.data(), bytes.size());
    b->tail = b->offset + uint32_t(need);
}

// Moves what a stream captured to the head position of its target. Nothing
// captured leaves the target as it was.
void deliver(Cell* target, const std::string& bytes, bool shell) {
    if (bytes.empty()) return;
    if (cell::is(target, type::binary)) return insert_bytes(target, bytes);
    std::u32string text = captured_text(bytes, shell);
    check_room(series::total_length(target), text.size());
    string::splice(target->payload2, series::clamped_index(target), 0, text, 1, false);
}

// Raises what ended a launch short of its answer.
[[noreturn]] void raise_stop(process::Stop stop, const Cell* command) {
    switch (stop) {
    case process::Stop::not_found: error::fire(error::id::cannot_open, command);
    case process::Stop::too_long: error::fire(error::id::too_long);
    default: error::fire(error::id::no_memory);
    }
}

uint32_t run_call(const Call& call) {
    enum { wait, show, console, shell, input, output, error };
    auto used = [&](int i) { return call.refs[i] >= 0; };
    Cell* base = stack::args;
    Cell result{};
    if (series::length_from(base) <= 0) {
        cell::set_integer(&result, 0);
        stack::set_result(&result);
        return 0;
    }
    if (used(console)) error::fire_not_done();

    process::Launch launch;
    launch.wait = used(wait);
    launch.show = used(show);
    launch.shell = used(shell);
    std::string command = host_text(base);
    if (used(input)) take_input(base + call.refs[input], launch.input);
    if (used(output)) take_output(base + call.refs[output], launch.output);
    if (used(error)) take_output(base + call.refs[error], launch.error);

    int32_t status = process::run(command, launch);
    if (process::Stop stop = launch.stop; stop != process::Stop::none) {
        launch = {};  // the captures give their memory back before the error is made
        raise_stop(stop, base);
    }

    if (launch.output.kind == process::Stream::bytes)
        deliver(base + call.refs[output], launch.output.data, launch.shell);
    if (launch.error.kind == process::Stream::bytes)
        deliver(base + call.refs[error], launch.error.data, launch.shell);
    cell::set_integer(&result, status);
    stack::set_result(&result);
    return 0;
}

}  // namespace

uint32_t call_native(const Call& call) {
    return error::heap_guarded([&] { return run_call(call); });
}

}  // namespace kel::natives
