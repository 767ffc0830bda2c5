// Child processes on Windows: CreateProcessW with the three standard handles
// always given (inheritable pipes, files or "nul:"), the console window
// hidden unless asked for. With the shell the command runs as
// `cmd /s /c "command"`; without, CreateProcessW finds the program, and one
// it cannot find is reported. The input is written on a thread of its own
// and the error read on another while the calling thread reads the output.
#include "runtime/platform/process.hpp"

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "runtime/unicode.hpp"

namespace kel::process {

namespace {

// A handle closed when it goes out of scope, so every way out of the
// launcher (a failed launch included) closes what it opened.
class Handle {
public:
    Handle() = default;
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { reset(); }
    HANDLE get() const { return h_; }
    explicit operator bool() const { return h_ != nullptr; }
    HANDLE release() { return std::exchange(h_, nullptr); }
    void reset(HANDLE h = nullptr) {
        if (h_) CloseHandle(h_);
        h_ = h == INVALID_HANDLE_VALUE ? nullptr : h;
    }

private:
    HANDLE h_ = nullptr;
};

// A pipe whose end kept by the launcher is not inherited by the child.
bool make_pipe(SECURITY_ATTRIBUTES* sa, Handle& child, Handle& parent, bool child_reads) {
    HANDLE read_end = nullptr, write_end = nullptr;
    if (!CreatePipe(&read_end, &write_end, sa, 0)) return false;
    child.reset(child_reads ? read_end : write_end);
    parent.reset(child_reads ? write_end : read_end);
    return SetHandleInformation(parent.get(), HANDLE_FLAG_INHERIT, 0);
}

std::wstring wide(const std::string& utf8, bool crlf) {
    std::u16string w = unicode::utf8_to_utf16(utf8);
    std::wstring out;
    out.reserve(w.size());
    for (char16_t c : w) {
        if (crlf && c == u'\n') out += L'\r';
        out += wchar_t(c);
    }
    return out;
}

// The child's end of an output or error stream, and the launcher's end of a
// capture pipe. A file is appended to; one that cannot be opened leaves
// the child's end empty (the caller gives "nul:"). False only when the pipe
// cannot be made.
bool open_output(const Stream& s, SECURITY_ATTRIBUTES* sa, Handle& child, Handle& parent) {
    if (s.kind == Stream::file) {
        child.reset(CreateFileW(wide(s.path, false).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, sa,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (child) SetFilePointer(child.get(), 0, nullptr, FILE_END);
        return true;
    }
    return s.kind != Stream::bytes || make_pipe(sa, child, parent, false);
}

struct Transfer {
    HANDLE pipe;  // closed by the transfer when it ends
    std::string* data = nullptr;  // read into
    std::string_view bytes;       // or written
    HANDLE process = nullptr;     // ended when a capture stops
    Stop stop = Stop::none;
};

// Reads until the child has closed its end (ReadFile then fails with
// ERROR_BROKEN_PIPE), or until the capture cannot take what came: then the
// child is ended, and closing the pipe fails the writes of anything it
// started on it.
DWORD WINAPI read_to_end(void* p) {
    auto* t = static_cast<Transfer*>(p);
    char buffer[65536];
    DWORD n = 0;
    while (t->stop == Stop::none && ReadFile(t->pipe, buffer, sizeof buffer, &n, nullptr))
        if ((t->stop = capture(*t->data, buffer, n)) != Stop::none) TerminateProcess(t->process, 1);
    CloseHandle(t->pipe);
    return 0;
}

// Writes all the input, then closes the pipe so the child sees its end.
// A child that exits first breaks the pipe: the rest is dropped.
DWORD WINAPI write_all(void* p) {
    auto* t = static_cast<Transfer*>(p);
    std::string_view rest = t->bytes;
    while (!rest.empty()) {
        DWORD chunk = rest.size() > 0x10000000 ? 0x10000000 : DWORD(rest.size()), written = 0;
        if (!WriteFile(t->pipe, rest.data(), chunk, &written, nullptr) || written == 0) break;
        rest.remove_prefix(written);
    }
    CloseHandle(t->pipe);
    return 0;
}

// Runs the transfer on a thread of its own; inline when no thread can be made.
HANDLE start(LPTHREAD_START_ROUTINE work, Transfer* t) {
    HANDLE thread = CreateThread(nullptr, 0, work, t, 0, nullptr);
    if (!thread) work(t);
    return thread;
}

// Moves the streams until the child has closed them all; answers why a
// capture stopped, if one did.
Stop pump(HANDLE process, Handle& feed, std::string_view input, Handle& out, std::string& out_data, Handle& err,
          std::string& err_data) {
    Transfer writing{feed.release(), nullptr, input}, reading_err{err.release(), &err_data, {}, process},
        reading_out{out.release(), &out_data, {}, process};
    HANDLE threads[2];
    DWORD n = 0;
    if (writing.pipe)
        if (HANDLE t = start(write_all, &writing)) threads[n++] = t;
    if (reading_err.pipe)
        if (HANDLE t = start(read_to_end, &reading_err)) threads[n++] = t;
    if (reading_out.pipe) read_to_end(&reading_out);
    if (n) WaitForMultipleObjects(n, threads, TRUE, INFINITE);
    for (DWORD i = 0; i < n; ++i) CloseHandle(threads[i]);
    return reading_out.stop != Stop::none ? reading_out.stop : reading_err.stop;
}

bool create(std::wstring line, bool inherit, STARTUPINFOW* si, PROCESS_INFORMATION* pi) {
    // CreateProcessW may write into the command line: it gets a copy.
    std::vector<wchar_t> buffer(line.begin(), line.end());
    buffer.push_back(L'\0');
    return CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, inherit, 0, nullptr, nullptr, si, pi);
}

std::wstring through_shell(const std::wstring& command) { return L"cmd /s /c \"" + command + L"\""; }

}  // namespace

int32_t run(const std::string& command, Launch& launch) {
    launch.stop = Stop::none;
    SECURITY_ATTRIBUTES sa{};
    sa.nLength = sizeof sa;
    sa.bInheritHandle = TRUE;
    STARTUPINFOW si{};
    si.cb = sizeof si;

    Handle nul;
    nul.reset(CreateFileW(L"nul:", GENERIC_WRITE, FILE_SHARE_WRITE, &sa, OPEN_EXISTING, 0, nullptr));
    Handle child_in, feed;
    if (launch.input.kind == Stream::file) {
        child_in.reset(CreateFileW(wide(launch.input.path, false).c_str(), GENERIC_READ, 0, &sa, OPEN_EXISTING,
                                   FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!child_in) return -1;
    } else if (launch.input.kind == Stream::bytes && !make_pipe(&sa, child_in, feed, true)) {
        return -1;
    }
    Handle child_out, out_read, child_err, err_read;
    if (!open_output(launch.output, &sa, child_out, out_read) || !open_output(launch.error, &sa, child_err, err_read))
        return -1;

    bool wait = launch.wait || launch.input.kind != Stream::none || launch.output.kind != Stream::none ||
                launch.error.kind != Stream::none;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = child_in ? child_in.get() : GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = child_out ? child_out.get() : nul.get();
    si.hStdError = child_err ? child_err.get() : nul.get();
    if (!launch.show) {
        si.dwFlags |= STARTF_USESHOWWINDOW;
        si.wShowWindow = SW_HIDE;
    }

    std::wstring line = wide(command, true);
    PROCESS_INFORMATION pi{};
    if (!create(launch.shell ? through_shell(line) : line, TRUE, &si, &pi)) {
        DWORD failure = GetLastError();
        if (failure == ERROR_FILE_NOT_FOUND || failure == ERROR_PATH_NOT_FOUND) launch.stop = Stop::not_found;
        return -1;
    }
    Handle process, thread;
    process.reset(pi.hProcess);
    thread.reset(pi.hThread);

    // Only the child holds its ends now, so each pipe breaks when the child closes it.
    child_in.reset();
    child_out.reset();
    child_err.reset();
    launch.stop = pump(pi.hProcess, feed, launch.input.data, out_read, launch.output.data, err_read,
                       launch.error.data);
    if (launch.stop != Stop::none) {
        WaitForSingleObject(pi.hProcess, INFINITE);
        return -1;
    }
    if (!wait) return int32_t(pi.dwProcessId);
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    if (!GetExitCodeProcess(pi.hProcess, &code)) return -1;
    return int32_t(code);
}

// UTF-8 with every LF written as CR LF: the bytes and line ends a Windows
// program reading its standard input as text expects.
std::string input_text(std::u32string_view text) {
    std::string bytes;
    bytes.reserve(text.size());
    char seq[4];
    for (char32_t c : text) {
        if (c == U'\n') bytes += '\r';
        bytes.append(seq, size_t(unicode::encode_utf8_replacing(c, seq)));
    }
    return bytes;
}

// cmd writes in the ANSI code page.
std::string shell_output_to_utf8(std::string_view bytes) {
    if (bytes.empty()) return {};
    int n = MultiByteToWideChar(CP_ACP, 0, bytes.data(), int(bytes.size()), nullptr, 0);
    std::u16string w(size_t(n > 0 ? n : 0), u'\0');
    if (n > 0) MultiByteToWideChar(CP_ACP, 0, bytes.data(), int(bytes.size()), reinterpret_cast<wchar_t*>(w.data()), n);
    return unicode::utf16_to_utf8(w);
}

}  // namespace kel::process
