#include "runtime/io/host/process_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "runtime/core/errors.h"
#include "runtime/core/interrupt.h"
#include "runtime/core/memory.h"
#include "runtime/core/unicode.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/io/host/http_client.h"
#include "runtime/io/host/os_env.h"
#include "runtime/io/host/simple_io.h"

extern char** environ;

namespace zan {

namespace {

constexpr size_t kReadChunk = 65536;

// A descriptor closed when it goes out of scope.
struct Fd {
    int fd = -1;
    Fd() = default;
    explicit Fd(int f) : fd(f) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { reset(); }
    void reset(int f = -1) {
        if (fd >= 0) close(fd);
        fd = f;
    }
};

// SIGPIPE is ignored while the runner writes to a child, so that a child
// that exits without reading its input cannot end Zan; the former handling
// comes back afterwards.
struct PipeSignalIgnored {
    struct sigaction old {};
    PipeSignalIgnored() {
        struct sigaction ign {};
        ign.sa_handler = SIG_IGN;
        sigemptyset(&ign.sa_mask);
        sigaction(SIGPIPE, &ign, &old);
    }
    ~PipeSignalIgnored() { sigaction(SIGPIPE, &old, nullptr); }
};

// The descriptors the child gets as its standard streams, and the parent's
// ends of the pipes.
struct Plumbing {
    Fd child[3];
    Fd parent[3];
};

// Opens the child's side of one stream; false on failure.
bool plumb(const ProcessStream& s, int which, bool console, Plumbing& p) {
    switch (s.kind) {
        case ProcessStream::BYTES: {
            int fds[2];
            if (pipe2(fds, O_CLOEXEC) != 0) return false;
            Fd r(fds[0]), w(fds[1]);
            if (which == 0) {
                p.child[0].reset(r.fd), r.fd = -1;
                p.parent[0].reset(w.fd), w.fd = -1;
                fcntl(p.parent[0].fd, F_SETFL, O_NONBLOCK);
            } else {
                p.child[which].reset(w.fd), w.fd = -1;
                p.parent[which].reset(r.fd), r.fd = -1;
            }
            return true;
        }
        case ProcessStream::FILE: {
            int flags = which == 0 ? O_RDONLY : O_WRONLY | O_CREAT | O_APPEND;
            int fd = open(s.path.c_str(), flags | O_CLOEXEC, 0666);
            if (fd < 0) return false;
            p.child[which].reset(fd);
            return true;
        }
        case ProcessStream::CONSOLE: return true;
        case ProcessStream::NUL:
            if (console) return true;
            p.child[which].reset(open("/dev/null", (which == 0 ? O_RDONLY : O_WRONLY) | O_CLOEXEC));
            return p.child[which].fd >= 0;
    }
    return false;
}

// Starts argv with the plumbing; the spawn error (0 on success).
int spawn(const std::vector<std::string>& args, Plumbing& p, pid_t* pid) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    for (int i = 0; i < 3; i++)
        if (p.child[i].fd >= 0) posix_spawn_file_actions_adddup2(&fa, p.child[i].fd, i);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    int rc = posix_spawnp(pid, argv[0], &fa, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&fa);
    return rc;
}

// How long a wait for the child blocks between looks at a pending Ctrl-C
// (the signal may be taken by another thread, which wakes no wait here).
constexpr int kInterruptLookMs = 50;
// How long a child has, after a Ctrl-C, to end on its own (it had the
// terminal's SIGINT too) before it is killed.
constexpr int kInterruptGraceMs = 250;

// Feeds the input and drains output and error together until every pipe
// is closed, or until a Ctrl-C is pending.
void serve(ProcessRun& run, Plumbing& p) {
    PipeSignalIgnored quiet;
    const std::string& in = run.input.bytes;
    size_t sent = 0;
    if (p.parent[0].fd >= 0 && in.empty()) p.parent[0].reset();
    ProcessStream* outs[3] = {nullptr, &run.output, &run.error};
    std::vector<char> chunk(kReadChunk);
    for (;;) {
        pollfd fds[3];
        int map[3];
        int n = 0;
        for (int i = 0; i < 3; i++) {
            if (p.parent[i].fd < 0) continue;
            fds[n] = {p.parent[i].fd, static_cast<short>(i == 0 ? POLLOUT : POLLIN), 0};
            map[n++] = i;
        }
        if (n == 0 || g_interrupt_pending) return;
        int ready = poll(fds, static_cast<nfds_t>(n), kInterruptLookMs);
        if (ready == 0) continue;
        if (ready < 0) {
            if (errno == EINTR) continue;
            // The streams still open end here: a sink keeps what came.
            for (int i = 1; i < 3; i++)
                if (p.parent[i].fd >= 0 && outs[i]->sink) outs[i]->sink->finish();
            return;
        }
        for (int k = 0; k < n; k++) {
            int i = map[k];
            if (!fds[k].revents) continue;
            if (i == 0) {
                ssize_t w = write(p.parent[0].fd, in.data() + sent, in.size() - sent);
                if (w > 0) sent += static_cast<size_t>(w);
                bool gone = w < 0 && errno != EAGAIN && errno != EINTR;
                if (gone || sent == in.size()) p.parent[0].reset();
            } else {
                ProcessSink* sink = outs[i]->sink;
                void* into = sink ? static_cast<void*>(sink->room(kReadChunk)) : chunk.data();
                ssize_t r = read(p.parent[i].fd, into, kReadChunk);
                if (r > 0) {
                    if (sink) sink->commit(static_cast<size_t>(r));
                    else outs[i]->bytes.append(chunk.data(), static_cast<size_t>(r));
                } else if (r == 0 || (errno != EAGAIN && errno != EINTR)) {
                    p.parent[i].reset();
                    if (sink) sink->finish();
                }
            }
        }
    }
}

i64 status_of(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

// The child's status once it has ended within ms milliseconds (looked at
// every few), or -1 with the child still running (-2 when it cannot be
// waited for).
i64 reap_within(pid_t pid, int ms) {
    for (int waited = 0;; waited += 10) {
        int status = 0;
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) return status_of(status);
        if (r < 0 && errno != EINTR) return -2;
        if (waited >= ms) return -1;
        poll(nullptr, 0, 10);
    }
}

// Waits for the child's end and gives its status. A Ctrl-C pending gives
// the child a moment to end by the terminal's SIGINT, then kills it: the
// command stops, and nothing it started keeps running. -1 then.
i64 wait_for(pid_t pid) {
    int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    for (;;) {
        if (g_interrupt_pending) {
            if (reap_within(pid, kInterruptGraceMs) == -1) {
                kill(pid, SIGKILL);
                reap_within(pid, 1000 * 60);
            }
            if (pidfd >= 0) close(pidfd);
            return -1;
        }
        if (pidfd >= 0) {
            // Readable once the child has ended.
            pollfd fd = {pidfd, POLLIN, 0};
            if (poll(&fd, 1, kInterruptLookMs) == 0) continue;
        }
        int status = 0;
        pid_t r = waitpid(pid, &status, pidfd >= 0 ? WNOHANG : 0);
        if (r == pid) {
            if (pidfd >= 0) close(pidfd);
            return status_of(status);
        }
        if (r < 0 && errno != EINTR) {
            if (pidfd >= 0) close(pidfd);
            return -1;
        }
    }
}

// A child that is not waited for is reaped by a thread of its own as soon
// as it ends, so that it never lingers as a zombie.
void reap_later(pid_t pid) {
    // The thread takes no SIGINT: a Ctrl-C is the evaluation's.
    sigset_t interrupt, saved;
    sigemptyset(&interrupt);
    sigaddset(&interrupt, SIGINT);
    pthread_sigmask(SIG_BLOCK, &interrupt, &saved);
    std::thread([pid] {
        int status;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
}


// The redirection of one stream from a refinement argument: a file! is a
// path, a string! or binary! its bytes (input) or a capture (output).
ProcessStream stream_of(ValueCell* arg, bool input) {
    ProcessStream s;
    if (!arg) return s;
    if (arg->type() == TYPE_FILE) {
        s.kind = ProcessStream::FILE;
        s.path = file_to_local_cstr(arg);
        return s;
    }
    s.kind = ProcessStream::BYTES;
    if (input) io_value_bytes(s.bytes, arg, -1);
    return s;
}

// The largest content a series holds.
constexpr u64 kMaxCapture = 0x7FFFFFF0u;

// Captured output read straight into the free room at the end of a
// binary! target, which grows as it fills. (Inserting at the binary!'s
// position would put the output of a second call in front of the first.)
// The target must be a cell the collector sees (a native's argument), as
// growing may collect and move its buffer.
struct BinaryCapture final : ProcessSink {
    ValueCell* target;
    explicit BinaryCapture(ValueCell* t) : target(t) {}
    u8* room(size_t want) override {
        SeriesBuffer* b = series_of(target);
        if (b->end_ref() - b->tail < want) {
            u64 used = b->tail - b->data_ref();
            if (used + want > kMaxCapture) fire(Err::internal_no_memory);
            u64 size = std::min<u64>(std::max<u64>(u64(b->size) * 2, used + want), kMaxCapture);
            b = series_grow(b, static_cast<u32>(size));
        }
        return b->tail_ptr();
    }
    void commit(size_t n) override { series_of(target)->tail += static_cast<u32>(n); }
    void finish() override {}
};

// Captured output decoded as UTF-8 (each maximal invalid subsequence one
// U+FFFD) and appended to a string! target as it arrives; a sequence cut
// by the end of one read waits for the next.
struct TextCapture final : ProcessSink {
    ValueCell* target;
    std::vector<u8> chunk;
    size_t carried = 0;  // bytes of a cut sequence at the front of chunk
    explicit TextCapture(ValueCell* t) : target(t), chunk(kReadChunk + 4) {}
    u8* room(size_t want) override {
        if (chunk.size() < carried + want) chunk.resize(carried + want);
        return chunk.data() + carried;
    }
    void commit(size_t n) override { take(carried + n, false); }
    void finish() override { take(carried, true); }
    void take(size_t n, bool final) {
        size_t used = unicode_append_utf8_lenient(target, chunk.data(), n, final);
        carried = n - used;
        if (carried) std::memmove(chunk.data(), chunk.data() + used, carried);
    }
};

// The sink for a capture target: binary! and string! targets take the
// output as it comes; any other leaves it unkept.
std::unique_ptr<ProcessSink> capture_into(ValueCell* target, const ProcessStream& s) {
    if (!target || s.kind != ProcessStream::BYTES) return nullptr;
    if (target->type() == TYPE_BINARY) return std::make_unique<BinaryCapture>(target);
    if (target->type() == TYPE_STRING) return std::make_unique<TextCapture>(target);
    return nullptr;
}

}  // namespace

bool process_on_path(const char* program) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    for (;;) {
        size_t end = dirs.find(':', start);
        std::string dir = dirs.substr(start, end == std::string::npos ? std::string::npos : end - start);
        std::string full = (dir.empty() ? "." : dir) + "/" + program;
        if (access(full.c_str(), X_OK) == 0) return true;
        if (end == std::string::npos) return false;
        start = end + 1;
    }
}

bool process_split_command(const std::string& line, std::vector<std::string>* out) {
    out->clear();
    std::string word;
    bool in_word = false;
    size_t i = 0, n = line.size();
    while (i < n) {
        char c = line[i];
        if (c == ' ' || c == '\t' || c == '\n') {
            if (in_word) out->push_back(word);
            word.clear();
            in_word = false;
            i++;
            continue;
        }
        in_word = true;
        if (c == '\\') {
            // The next character as it is; before a line end, nothing (the
            // line goes on); at the very end, the backslash itself.
            if (i + 1 == n) word.push_back(c);
            else if (line[i + 1] != '\n') word.push_back(line[i + 1]);
            i += 2;
        } else if (c == '\'') {
            size_t close = line.find('\'', i + 1);
            if (close == std::string::npos) return false;
            word.append(line, i + 1, close - i - 1);
            i = close + 1;
        } else if (c == '"') {
            // Inside double quotes a backslash escapes only $ ` " \ and a
            // line end; before anything else it is kept.
            for (i++; i < n && line[i] != '"'; i++) {
                if (line[i] == '\\' && i + 1 < n && std::strchr("$`\"\\\n", line[i + 1])) {
                    if (line[i + 1] != '\n') word.push_back(line[i + 1]);
                    i++;
                } else {
                    word.push_back(line[i]);
                }
            }
            if (i == n) return false;
            i++;
        } else {
            word.push_back(c);
            i++;
        }
    }
    if (in_word) out->push_back(word);
    return true;
}

std::string process_quote_word(const std::string& word) {
    std::string out = "'";
    for (char c : word) {
        if (c == '\'') out += "'\\''";
        else out.push_back(c);
    }
    return out + "'";
}

i64 process_run(ProcessRun& run) {
    run.used_shell = false;
    Plumbing p;
    const ProcessStream* streams[3] = {&run.input, &run.output, &run.error};
    bool redirected = false;
    for (int i = 0; i < 3; i++) {
        if (!plumb(*streams[i], i, run.console, p)) return -1;
        redirected = redirected || streams[i]->kind == ProcessStream::BYTES ||
                     streams[i]->kind == ProcessStream::FILE;
    }
    std::vector<std::string> shell_form = {"/bin/sh", "-c", run.command};
    std::vector<std::string> args = run.argv;
    if (args.empty()) {
        if (run.shell) args = shell_form;
        else if (!process_split_command(run.command, &args)) return -1;
    }
    pid_t pid = 0;
    int rc = args.empty() ? ENOENT : spawn(args, p, &pid);
    run.used_shell = run.shell;
    if (rc == ENOENT && !run.shell && run.argv.empty()) {
        // Not found as a program: the shell may know it (a builtin, an
        // alias of the shell's own); if not, it reports 127.
        run.used_shell = true;
        rc = spawn(shell_form, p, &pid);
    }
    if (rc != 0) return -1;
    for (Fd& fd : p.child) fd.reset();
    if (!(run.wait || run.console || redirected)) {
        reap_later(pid);
        return pid;
    }
    try {
        serve(run, p);
    } catch (...) {
        // A capture that cannot grow: the pipes close as this unwinds, and
        // the child is reaped once it ends.
        reap_later(pid);
        throw;
    }
    return wait_for(pid);
}

i64 process_call(ValueCell* cmd, bool wait, bool console, bool shell, ValueCell* input,
                 ValueCell* output, ValueCell* error) {
    ProcessRun run;
    // A file! is one program path, spaces and quotes included: it is given
    // to the splitting (and to the shell) as one quoted word.
    if (cmd->type() == TYPE_FILE) {
        std::string path = file_to_local_cstr(cmd);
        if (path.empty()) return 0;
        run.command = process_quote_word(path);
    } else if (cmd->type() == TYPE_STRING) {
        // Text from get-env or a file name gives back the bytes it came
        // from; a NUL would cut the command short.
        if (!local_text_bytes(cmd, &run.command)) fire(Err::script_invalid_arg, cmd);
    } else {
        io_value_bytes(run.command, cmd, -1);
    }
    if (run.command.empty()) return 0;
    std::vector<std::string> words;
    if (!shell && !process_split_command(run.command, &words)) fire(Err::script_invalid_arg, cmd);
    run.wait = wait;
    run.console = console;
    run.shell = shell;
    run.input = stream_of(input, true);
    run.output = stream_of(output, false);
    run.error = stream_of(error, false);
    std::unique_ptr<ProcessSink> out_sink = capture_into(output, run.output);
    std::unique_ptr<ProcessSink> err_sink = capture_into(error, run.error);
    run.output.sink = out_sink.get();
    run.error.sink = err_sink.get();
    return process_run(run);
}

void process_browse(ValueCell* target) {
    ValueCell* mark = g_stack.top;
    if (!process_on_path("xdg-open")) {
        const char* why = "xdg-open is not installed";
        ValueCell* msg = string_load_lenient_push(why, std::strlen(why));
        fire(Err::access_cannot_open, msg);
    }
    ProcessRun run;
    std::string where;
    if (target->type() == TYPE_FILE) where = file_to_local_cstr(target);
    else where = url_wire_text(target);
    run.argv = {"xdg-open", where};
    if (process_run(run) < 0) fire(Err::access_cannot_open, target);
    g_stack.top = mark;
}

}  // namespace zan
