// Terminal modes, signals, window size and byte input on Linux.
#include "runtime/terminal/terminal_tty.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "runtime/core/interrupt.h"
#include "runtime/core/memory.h"
#include "runtime/core/platform.h"

namespace zan::console {

// ---- bytes ----------------------------------------------------------------------------------

namespace {

long long now_ms() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

constexpr size_t READ_BLOCK = 4096;

}  // namespace

void FdBytes::unread(u8 byte) {
    if (head_ > 0) {
        queue_[--head_] = static_cast<char>(byte);
    } else {
        queue_.insert(queue_.begin(), static_cast<char>(byte));
    }
}

void FdBytes::push_front(const std::string& bytes) {
    queue_.erase(0, head_);
    head_ = 0;
    queue_.insert(0, bytes);
}

int FdBytes::fill(int timeout_ms) {
    if (ended_) return BYTE_END;
    long long deadline = timeout_ms >= 0 ? now_ms() + timeout_ms : -1;
    for (;;) {
        // Wait for input (or a size change) when a limit or a wake pipe
        // asks for it; a plain blocking read otherwise.
        if (timeout_ms >= 0 || wake_fd_ >= 0) {
            pollfd fds[2];
            fds[0] = {fd_, POLLIN, 0};
            fds[1] = {wake_fd_, POLLIN, 0};
            int wait = -1;
            if (deadline >= 0) {
                long long left = deadline - now_ms();
                wait = left > 0 ? static_cast<int>(left) : 0;
            }
            int r = ::poll(fds, wake_fd_ >= 0 ? 2 : 1, wait);
            if (r < 0) {
                if (errno == EINTR) {
                    if (g_interrupt_pending && !tty_raw_on()) return BYTE_END;
                    continue;
                }
                ended_ = true;
                return BYTE_END;
            }
            if (r == 0) return BYTE_TIMEOUT;
            if (wake_fd_ >= 0 && (fds[1].revents & POLLIN) && !(fds[0].revents & POLLIN))
                return BYTE_WAKE;
            if (fds[0].revents & POLLNVAL) {
                ended_ = true;
                return BYTE_END;
            }
            // POLLIN, POLLHUP or POLLERR: the read tells which.
        }
        char buf[READ_BLOCK];
        ssize_t n = ::read(fd_, buf, sizeof buf);
        if (n > 0) {
            if (head_ >= queue_.size()) {
                queue_.clear();
                head_ = 0;
            }
            queue_.append(buf, static_cast<size_t>(n));
            return 1;
        }
        if (n == 0) {
            ended_ = true;
            return BYTE_END;
        }
        if (errno == EINTR) {
            // An interruption ends this read (the stream goes on): the
            // evaluator takes it as soon as the reader returns.
            if (g_interrupt_pending && !tty_raw_on()) return BYTE_END;
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            // A non-blocking descriptor: wait until it is readable.
            pollfd p = {fd_, POLLIN, 0};
            int wait = -1;
            if (deadline >= 0) {
                long long left = deadline - now_ms();
                if (left <= 0) return BYTE_TIMEOUT;
                wait = static_cast<int>(left);
            }
            if (::poll(&p, 1, wait) == 0) return BYTE_TIMEOUT;
            continue;
        }
        // EIO (the terminal is gone) or any other failure ends the input.
        ended_ = true;
        return BYTE_END;
    }
}

int FdBytes::next_byte(int timeout_ms) {
    if (head_ >= queue_.size()) {
        int r = fill(timeout_ms);
        if (r != 1) return r;
    }
    return static_cast<u8>(queue_[head_++]);
}

size_t FdBytes::read_some(u8* out, size_t n) {
    if (n == 0) return 0;
    if (head_ >= queue_.size()) {
        int r;
        do {
            r = fill(-1);
        } while (r == BYTE_WAKE || r == BYTE_TIMEOUT);
        if (r != 1) return 0;
    }
    size_t k = queue_.size() - head_;
    if (k > n) k = n;
    std::memcpy(out, queue_.data() + head_, k);
    head_ += k;
    return k;
}

FdBytes& stdin_bytes() {
    static FdBytes bytes(STDIN_FILENO);
    collect_stress_input_read();
    return bytes;
}

// ---- modes ----------------------------------------------------------------------------------

namespace {

termios g_saved;                       // the mode before raw mode
volatile sig_atomic_t g_raw_fd = -1;   // the fd in raw mode, -1 when none
// The raw mode of each nested level, to give back when a level ends.
constexpr int kMaxDepth = 8;
termios g_levels[kMaxDepth];
int g_depth = 0;
void (*g_lend)() = nullptr;
void (*g_back)() = nullptr;
// The restore bytes: their length is 0 while they are being replaced.
char g_restore[256];
volatile sig_atomic_t g_restore_length = 0;
volatile sig_atomic_t g_restore_fd = -1;
int g_resize_pipe[2] = {-1, -1};
bool g_handlers = false;

// The handlers that were there before ours, to run after the restore.
constexpr int kRestoringSignals[] = {SIGTERM, SIGHUP, SIGQUIT, SIGINT,
#if !defined(__SANITIZE_ADDRESS__)
                                     SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP
#endif
};
constexpr int kSignalCount = sizeof kRestoringSignals / sizeof kRestoringSignals[0];
struct sigaction g_previous[kSignalCount];

void on_restoring_signal(int signo, siginfo_t* info, void* context) {
    int saved_errno = errno;
    tty_restore_all();
    for (int k = 0; k < kSignalCount; k++) {
        if (kRestoringSignals[k] != signo) continue;
        struct sigaction& prev = g_previous[k];
        if (prev.sa_flags & SA_SIGINFO) {
            if (prev.sa_sigaction) {
                prev.sa_sigaction(signo, info, context);
                errno = saved_errno;
                return;
            }
        } else if (prev.sa_handler == SIG_IGN) {
            errno = saved_errno;
            return;
        } else if (prev.sa_handler != SIG_DFL && prev.sa_handler) {
            prev.sa_handler(signo);
            errno = saved_errno;
            return;
        }
        // The default action: put it back and let the signal act.
        struct sigaction dfl;
        std::memset(&dfl, 0, sizeof dfl);
        dfl.sa_handler = SIG_DFL;
        sigemptyset(&dfl.sa_mask);
        ::sigaction(signo, &dfl, nullptr);
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, signo);
        ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
        ::raise(signo);
        errno = saved_errno;
        return;
    }
    errno = saved_errno;
}

void on_resize(int) {
    int saved_errno = errno;
    if (g_resize_pipe[1] >= 0) {
        char b = 1;
        ssize_t ignored = ::write(g_resize_pipe[1], &b, 1);
        (void)ignored;
    }
    errno = saved_errno;
}

void restore_at_exit() { tty_restore_all(); }

}  // namespace

bool tty_enter_raw(int fd, bool wait_for_a_byte) {
    if (g_raw_fd >= 0) {
        // Nested: the holder lends the terminal, in the waiting mode asked.
        if (g_depth >= kMaxDepth) return false;
        if (g_lend) g_lend();
        termios mode = g_levels[g_depth - 1];
        mode.c_cc[VMIN] = wait_for_a_byte ? 1 : 0;
        ::tcsetattr(g_raw_fd, TCSANOW, &mode);
        g_levels[g_depth++] = mode;
        return true;
    }
    termios mode;
    if (::tcgetattr(fd, &mode) != 0) return false;
    g_saved = mode;
    mode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG | IEXTEN);
    mode.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL | INLCR | IGNCR);
    mode.c_cc[VMIN] = wait_for_a_byte ? 1 : 0;
    mode.c_cc[VTIME] = 0;
    g_raw_fd = fd;
    if (::tcsetattr(fd, TCSANOW, &mode) != 0) {
        g_raw_fd = -1;
        return false;
    }
    g_levels[0] = mode;
    g_depth = 1;
    return true;
}

void tty_restore() {
    int fd = g_raw_fd;
    if (fd < 0) return;
    if (g_depth > 1) {
        g_depth--;
        ::tcsetattr(fd, TCSANOW, &g_levels[g_depth - 1]);
        if (g_back) g_back();
        return;
    }
    ::tcsetattr(fd, TCSANOW, &g_saved);
    g_raw_fd = -1;
    g_depth = 0;
}

void tty_restore_all() {
    sig_atomic_t length = g_restore_length;
    if (length > 0 && g_restore_fd >= 0) {
        ssize_t ignored = ::write(g_restore_fd, g_restore, static_cast<size_t>(length));
        (void)ignored;
    }
    int fd = g_raw_fd;
    if (fd < 0) return;
    ::tcsetattr(fd, TCSANOW, &g_saved);
    g_raw_fd = -1;
    g_depth = 0;
}

bool tty_raw_on() { return g_raw_fd >= 0; }

void tty_set_lend_hooks(void (*lend)(), void (*back)()) {
    g_lend = lend;
    g_back = back;
}

void tty_set_restore_bytes(int fd, const std::string& bytes) {
    g_restore_length = 0;
    size_t n = bytes.size() < sizeof g_restore ? bytes.size() : sizeof g_restore;
    std::memcpy(g_restore, bytes.data(), n);
    g_restore_fd = fd;
    g_restore_length = static_cast<sig_atomic_t>(n);
}

void tty_discard_input(int fd) { ::tcflush(fd, TCIFLUSH); }

void tty_install_handlers() {
    if (g_handlers) return;
    g_handlers = true;
    std::atexit(restore_at_exit);
    for (int k = 0; k < kSignalCount; k++) {
        struct sigaction sa;
        std::memset(&sa, 0, sizeof sa);
        sa.sa_sigaction = on_restoring_signal;
        sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
        sigemptyset(&sa.sa_mask);
        ::sigaction(kRestoringSignals[k], &sa, &g_previous[k]);
    }
    if (::pipe(g_resize_pipe) == 0) {
        for (int fd : g_resize_pipe) {
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
            ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        }
        struct sigaction sa;
        std::memset(&sa, 0, sizeof sa);
        sa.sa_handler = on_resize;
        sa.sa_flags = SA_RESTART;
        sigemptyset(&sa.sa_mask);
        ::sigaction(SIGWINCH, &sa, nullptr);
    } else {
        g_resize_pipe[0] = g_resize_pipe[1] = -1;
    }
}

int tty_resize_fd() { return g_resize_pipe[0]; }

bool tty_take_resize() {
    if (g_resize_pipe[0] < 0) return false;
    bool any = false;
    char buf[64];
    while (::read(g_resize_pipe[0], buf, sizeof buf) > 0) any = true;
    return any;
}

bool tty_window_size(int fd, int* columns, int* rows) {
    winsize ws;
    if (fd < 0 || ::ioctl(fd, TIOCGWINSZ, &ws) != 0 || ws.ws_col == 0) return false;
    *columns = ws.ws_col;
    *rows = ws.ws_row;
    return true;
}

int tty_query_cursor_column(FdBytes& in, int out_fd, int timeout_ms) {
    if (out_fd < 0 || !tty_write(out_fd, "\x1b[6n")) return -1;
    std::string got;
    long long deadline = now_ms() + timeout_ms;
    int column = -1;
    // A size change during the wait is left in the pipe for the editor.
    int wake = in.wake_fd();
    in.set_wake_fd(-1);
    for (;;) {
        long long left = deadline - now_ms();
        if (left <= 0) break;
        int b = in.next_byte(static_cast<int>(left));
        if (b < 0) break;
        got.push_back(static_cast<char>(b));
        if (b != 'R') continue;
        // The answer: ESC [ row ; col R.
        size_t esc = got.rfind("\x1b[");
        if (esc == std::string::npos) continue;
        std::string body = got.substr(esc + 2, got.size() - esc - 3);
        size_t semi = body.find(';');
        if (semi == std::string::npos || semi == 0 || semi + 1 >= body.size()) continue;
        bool digits = true;
        for (size_t k = 0; k < body.size(); k++)
            if (k != semi && (body[k] < '0' || body[k] > '9')) digits = false;
        if (!digits) continue;
        column = std::atoi(body.c_str() + semi + 1) - 1;
        got.erase(esc);
        break;
    }
    if (!got.empty()) in.push_front(got);
    in.set_wake_fd(wake);
    return column < 0 ? -1 : column;
}

bool tty_write(int fd, const std::string& bytes) {
    if (fd < 0) return false;
    return platform_write_fd(fd, bytes.data(), bytes.size()) == 0;
}

}  // namespace zan::console
