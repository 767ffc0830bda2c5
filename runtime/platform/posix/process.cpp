// Child processes on POSIX. A command without the shell is split into words
// as /bin/sh splits them (blanks, quotes and backslashes, no expansion) and
// started with posix_spawnp, which searches PATH; with the shell it is run as
// `/bin/sh -c command`. Output and error that are not redirected go to
// /dev/null. The launcher pumps the pipes with poll in the calling thread,
// then reaps the child: with waiting, here, for the exit status; without, on
// a detached thread, so no zombie stays behind.
#include "runtime/platform/process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "runtime/unicode.hpp"

extern char** environ;

namespace kel::process {

namespace {

// A descriptor closed when it goes out of scope, so every way out of the
// launcher (a failed launch included) closes what it opened.
class Fd {
public:
    Fd() = default;
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { reset(); }
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

bool make_pipe(Fd& read_end, Fd& write_end) {
    int p[2];
    if (pipe2(p, O_CLOEXEC) < 0) return false;
    read_end.reset(p[0]);
    write_end.reset(p[1]);
    return true;
}

// The child's end of an output or error stream, and the launcher's end of a
// capture pipe. False only when the pipe cannot be made.
bool open_output(const Stream& s, Fd& child, Fd& parent) {
    if (s.kind == Stream::file) {
        child.reset(::open(s.path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666));
        return true;
    }
    return s.kind != Stream::bytes || make_pipe(parent, child);
}

std::vector<std::string> split_words(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    bool in_word = false;
    for (size_t i = 0; i < line.size(); ++i) {
        char c = line[i];
        if (c == ' ' || c == '\t' || c == '\n') {
            if (in_word) words.push_back(std::move(word));
            word.clear();
            in_word = false;
            continue;
        }
        in_word = true;
        if (c == '\'') {
            size_t end = line.find('\'', i + 1);
            if (end == std::string::npos) end = line.size();
            word.append(line, i + 1, end - i - 1);
            i = end;
        } else if (c == '"') {
            for (++i; i < line.size() && line[i] != '"'; ++i) {
                // Inside double quotes a backslash escapes only these.
                if (line[i] == '\\' && i + 1 < line.size() && std::string_view("\"\\$`").find(line[i + 1]) != std::string_view::npos)
                    ++i;
                word += line[i];
            }
        } else if (c == '\\' && i + 1 < line.size()) {
            word += line[++i];
        } else {
            word += c;
        }
    }
    if (in_word) words.push_back(std::move(word));
    return words;
}

// posix_spawnp's error number (ENOENT: no such program); 0 when started.
// No words at all is no program either.
// The child gets default SIGPIPE handling and no blocked signals, whatever
// the launcher's thread has.
int spawn(const std::vector<std::string>& words, int in, int out, int err, pid_t* pid) {
    if (words.empty()) return ENOENT;
    std::vector<char*> argv;
    for (const std::string& w : words) argv.push_back(const_cast<char*>(w.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
    if (in >= 0) posix_spawn_file_actions_adddup2(&actions, in, 0);
    posix_spawn_file_actions_adddup2(&actions, out, 1);
    posix_spawn_file_actions_adddup2(&actions, err, 2);
    sigset_t none, pipe_signal;
    sigemptyset(&none);
    sigemptyset(&pipe_signal);
    sigaddset(&pipe_signal, SIGPIPE);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &pipe_signal);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    int rc = posix_spawnp(pid, argv[0], &actions, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    return rc;
}

// Writes the input and reads both outputs as each becomes ready, until the
// child has closed its ends or a capture cannot take what came (then the
// answer says why, and the pipes are left to the caller). SIGPIPE is
// blocked in this thread meanwhile: a child that exits without reading all
// its input makes the write fail with EPIPE instead of ending the launcher,
// and the signal is taken back.
Stop pump(Fd& feed, std::string_view input, Fd& out, std::string& out_data, Fd& err, std::string& err_data) {
    sigset_t pipe_signal, old, pending;
    sigemptyset(&pipe_signal);
    sigaddset(&pipe_signal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_signal, &old);
    sigpending(&pending);
    bool was_pending = sigismember(&pending, SIGPIPE);

    if (feed && input.empty()) feed.reset();
    if (feed) fcntl(feed.get(), F_SETFL, fcntl(feed.get(), F_GETFL) | O_NONBLOCK);
    size_t written = 0;
    char buffer[65536];
    Stop stop = Stop::none;
    while ((feed || out || err) && stop == Stop::none) {
        pollfd fds[3];
        Fd* owners[3];
        nfds_t n = 0;
        if (feed) fds[n] = {feed.get(), POLLOUT, 0}, owners[n++] = &feed;
        if (out) fds[n] = {out.get(), POLLIN, 0}, owners[n++] = &out;
        if (err) fds[n] = {err.get(), POLLIN, 0}, owners[n++] = &err;
        if (poll(fds, n, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (nfds_t i = 0; i < n && stop == Stop::none; ++i) {
            if (!fds[i].revents) continue;
            Fd& fd = *owners[i];
            if (&fd == &feed) {
                ssize_t k = ::write(fd.get(), input.data() + written, input.size() - written);
                if (k > 0) written += size_t(k);
                if (written == input.size() || (k < 0 && errno != EAGAIN && errno != EINTR)) fd.reset();
                continue;
            }
            ssize_t k = ::read(fd.get(), buffer, sizeof buffer);
            if (k > 0) stop = capture(&fd == &out ? out_data : err_data, buffer, size_t(k));
            else if (k == 0 || (errno != EAGAIN && errno != EINTR)) fd.reset();
        }
    }

    sigpending(&pending);
    if (!was_pending && sigismember(&pending, SIGPIPE)) {
        timespec zero{};
        sigtimedwait(&pipe_signal, nullptr, &zero);
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    return stop;
}

// The exit status; a child ended by a signal gives 128 plus the signal's
// number, as the shell reports it.
int32_t wait_for(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return -1;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

void reap_later(pid_t pid) {
    try {
        std::thread([pid] { wait_for(pid); }).detach();
    } catch (const std::system_error&) {
        // No thread to spare: the child stays a zombie until the launcher exits.
    }
}

}  // namespace

int32_t run(const std::string& command, Launch& launch) {
    launch.stop = Stop::none;
    Fd nul;
    nul.reset(::open("/dev/null", O_WRONLY | O_CLOEXEC));

    Fd child_in, feed;
    if (launch.input.kind == Stream::file) {
        child_in.reset(::open(launch.input.path.c_str(), O_RDONLY | O_CLOEXEC));
        if (!child_in) return -1;
    } else if (launch.input.kind == Stream::bytes && !make_pipe(child_in, feed)) {
        return -1;
    }
    Fd child_out, out_read, child_err, err_read;
    if (!open_output(launch.output, child_out, out_read) || !open_output(launch.error, child_err, err_read)) return -1;

    bool wait = launch.wait || launch.input.kind != Stream::none || launch.output.kind != Stream::none ||
                launch.error.kind != Stream::none;
    int in = child_in ? child_in.get() : -1;
    int out = child_out ? child_out.get() : nul.get();
    int err = child_err ? child_err.get() : nul.get();
    pid_t pid = 0;
    int rc = launch.shell ? spawn({"/bin/sh", "-c", command}, in, out, err, &pid)
                          : spawn(split_words(command), in, out, err, &pid);
    if (rc == ENOENT || rc == ENOTDIR) launch.stop = Stop::not_found;
    if (rc != 0) return -1;

    // Only the child holds its ends now, so each pipe ends when the child closes it.
    child_in.reset();
    child_out.reset();
    child_err.reset();
    nul.reset();
    launch.stop = pump(feed, launch.input.data, out_read, launch.output.data, err_read, launch.error.data);
    if (launch.stop != Stop::none) {
        // Closing the pipes also ends what the child started on them (the
        // shell's programs): their next write fails.
        feed.reset();
        out_read.reset();
        err_read.reset();
        kill(pid, SIGKILL);
        wait_for(pid);
        return -1;
    }
    if (!wait) {
        reap_later(pid);
        return pid;
    }
    return wait_for(pid);
}

// A string is fed as UTF-8 with its line ends as they are.
std::string input_text(std::u32string_view text) {
    std::string bytes;
    bytes.reserve(text.size());
    char seq[4];
    for (char32_t c : text) bytes.append(seq, size_t(unicode::encode_utf8_replacing(c, seq)));
    return bytes;
}

// The shell passes the program's bytes through: UTF-8 already.
std::string shell_output_to_utf8(std::string_view bytes) { return std::string(bytes); }

}  // namespace kel::process
