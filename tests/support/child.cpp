#include "tests/support/child.hpp"

#include <cstdio>
#include <cstdlib>

#ifdef _WIN32
#include <windows.h>
#else
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "runtime/unicode.hpp"

namespace kel::test {

std::string without_cr(const std::string& s) {
    std::string r;
    for (char c : s)
        if (c != '\r') r += c;
    return r;
}

#ifdef _WIN32

namespace {
std::wstring wide(const std::string& s) {
    std::u16string w = unicode::utf8_to_utf16(s);
    return std::wstring(w.begin(), w.end());
}

// Quotes one argument so that CommandLineToArgvW gives it back unchanged.
std::wstring quote(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
    std::wstring r = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
        } else if (c == L'"') {
            r.append(backslashes * 2 + 1, L'\\');
            r += c;
            backslashes = 0;
        } else {
            r.append(backslashes, L'\\');
            r += c;
            backslashes = 0;
        }
    }
    r.append(backslashes * 2, L'\\');
    return r + L"\"";
}

// Moves whatever the pipe holds now into s, without blocking.
void take_available(HANDLE h, std::string& s) {
    DWORD avail = 0;
    while (PeekNamedPipe(h, nullptr, 0, nullptr, &avail, nullptr) && avail) {
        char buf[4096];
        DWORD n = 0;
        if (!ReadFile(h, buf, avail < sizeof buf ? avail : sizeof buf, &n, nullptr) || !n) return;
        s.append(buf, n);
    }
}

std::string drain(HANDLE h) {
    std::string s;
    take_available(h, s);
    return s;
}
}  // namespace

ChildResult run_child(const std::string& program, const std::vector<std::string>& args, const Environment& env) {
    std::wstring line = quote(wide(program));
    for (const std::string& a : args) line += L" " + quote(wide(a));

    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE out_r, out_w, err_r, err_w;
    CreatePipe(&out_r, &out_w, &sa, 1 << 20);
    CreatePipe(&err_r, &err_w, &sa, 1 << 20);
    SetHandleInformation(out_r, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(err_r, HANDLE_FLAG_INHERIT, 0);

    std::vector<std::pair<std::wstring, std::wstring>> saved;
    for (const auto& [k, v] : env) {
        wchar_t old[4096];
        DWORD n = GetEnvironmentVariableW(wide(k).c_str(), old, 4096);
        saved.emplace_back(wide(k), n ? std::wstring(old, n) : std::wstring());
        SetEnvironmentVariableW(wide(k).c_str(), wide(v).c_str());
    }

    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = out_w;
    si.hStdError = err_w;
    PROCESS_INFORMATION pi{};
    ChildResult r;
    BOOL ok = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    for (const auto& [k, v] : saved) SetEnvironmentVariableW(k.c_str(), v.empty() ? nullptr : v.c_str());
    CloseHandle(out_w);
    CloseHandle(err_w);
    if (ok) {
        // Polling, not blocking reads: both pipes are emptied while the child
        // runs, and its exit ends the wait whoever else holds a write end.
        for (;;) {
            DWORD wait = WaitForSingleObject(pi.hProcess, 5);
            take_available(out_r, r.out);
            take_available(err_r, r.err);
            if (wait != WAIT_TIMEOUT) break;
        }
        DWORD code = 0;
        GetExitCodeProcess(pi.hProcess, &code);
        r.status = int(code & 0xFF);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }
    CloseHandle(out_r);
    CloseHandle(err_r);
    return r;
}

std::string sibling(const std::string& name) {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring p(path, n);
    p = p.substr(0, p.find_last_of(L"\\/") + 1);
    std::u16string u(p.begin(), p.end());
    return unicode::utf16_to_utf8(u) + name + ".exe";
}

#else

ChildResult run_child(const std::string& program, const std::vector<std::string>& args, const Environment& env) {
    int out[2], err[2];
    ChildResult r;
    if (pipe(out) != 0 || pipe(err) != 0) return r;
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        dup2(err[1], 2);
        close(out[0]);
        close(err[0]);
        for (const auto& [k, v] : env) setenv(k.c_str(), v.c_str(), 1);
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* sinks[2] = {&r.out, &r.err};
    int open_count = 2;
    while (open_count) {
        poll(fds, 2, -1);
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
            char buf[4096];
            ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                sinks[i]->append(buf, size_t(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_count;
            }
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return r;
}

std::string sibling(const std::string& name) {
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    std::string p(path, n > 0 ? size_t(n) : 0);
    return p.substr(0, p.find_last_of('/') + 1) + name;
}

#endif

}  // namespace kel::test

#include "runtime/platform/std_handles.hpp"

namespace kel::test {

#ifdef _WIN32

StdoutCapture::StdoutCapture() {
    HANDLE r, w;
    CreatePipe(&r, &w, nullptr, 1 << 22);
    saved_ = reinterpret_cast<long long>(GetStdHandle(STD_OUTPUT_HANDLE));
    SetStdHandle(STD_OUTPUT_HANDLE, w);
    os::read_std_handles();
    read_end_ = reinterpret_cast<long long>(r);
    write_end_ = reinterpret_cast<long long>(w);
}

std::string StdoutCapture::text() {
    if (done_) return taken_;
    done_ = true;
    SetStdHandle(STD_OUTPUT_HANDLE, reinterpret_cast<HANDLE>(saved_));
    os::read_std_handles();
    CloseHandle(reinterpret_cast<HANDLE>(write_end_));
    taken_ = drain(reinterpret_cast<HANDLE>(read_end_));
    CloseHandle(reinterpret_cast<HANDLE>(read_end_));
    return taken_;
}

#else

StdoutCapture::StdoutCapture() {
    fflush(stdout);
    char name[] = "/tmp/kel-stdout-XXXXXX";
    int fd = mkstemp(name);
    unlink(name);
    saved_ = dup(1);
    dup2(fd, 1);
    read_end_ = fd;
}

std::string StdoutCapture::text() {
    if (done_) return taken_;
    done_ = true;
    fflush(stdout);
    dup2(int(saved_), 1);
    close(int(saved_));
    int fd = int(read_end_);
    lseek(fd, 0, SEEK_SET);
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) taken_.append(buf, size_t(n));
    close(fd);
    return taken_;
}

#endif

StdoutCapture::~StdoutCapture() { text(); }

}  // namespace kel::test
