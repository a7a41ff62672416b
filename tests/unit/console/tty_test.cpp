// Standard input as bytes, raw mode and its restoring, on pipes and
// pseudo-terminals.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <string>

#include "console/console_routines.h"
#include "runtime/terminal/terminal_tty.h"

namespace zan::console {
namespace {

class Pipe {
public:
    Pipe() { EXPECT_EQ(::pipe(fds_), 0); }
    ~Pipe() {
        close_write();
        if (fds_[0] >= 0) ::close(fds_[0]);
    }
    void put(const std::string& s) { ASSERT_EQ(::write(fds_[1], s.data(), s.size()), (ssize_t)s.size()); }
    void close_write() {
        if (fds_[1] >= 0) ::close(fds_[1]);
        fds_[1] = -1;
    }
    int in() const { return fds_[0]; }

private:
    int fds_[2] = {-1, -1};
};

// A pseudo-terminal: the master side and the opened slave.
class Pty {
public:
    Pty() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        EXPECT_GE(master_, 0);
        EXPECT_EQ(::grantpt(master_), 0);
        EXPECT_EQ(::unlockpt(master_), 0);
        name_ = ::ptsname(master_);
        slave_ = ::open(name_.c_str(), O_RDWR | O_NOCTTY);
        EXPECT_GE(slave_, 0);
    }
    ~Pty() {
        if (slave_ >= 0) ::close(slave_);
        close_master();
    }
    void close_master() {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }
    int master() const { return master_; }
    int slave() const { return slave_; }
    const std::string& name() const { return name_; }

private:
    int master_ = -1;
    int slave_ = -1;
    std::string name_;
};

TEST(FdBytes, ReadsBlocksAndHandsOutBytes) {
    Pipe p;
    p.put("ab");
    FdBytes in(p.in());
    EXPECT_EQ(in.next_byte(-1), 'a');
    EXPECT_EQ(in.next_byte(-1), 'b');
    // Nothing there yet: a limited wait times out.
    EXPECT_EQ(in.next_byte(10), BYTE_TIMEOUT);
    p.put("c");
    p.close_write();
    EXPECT_EQ(in.next_byte(10), 'c');
    EXPECT_EQ(in.next_byte(-1), BYTE_END);
    EXPECT_TRUE(in.ended());
    // Final: answered at once, limited or not.
    EXPECT_EQ(in.next_byte(-1), BYTE_END);
    EXPECT_EQ(in.next_byte(10), BYTE_END);
}

TEST(FdBytes, BytesGivenBackComeFirstInOrder) {
    Pipe p;
    p.put("xyz");
    FdBytes in(p.in());
    EXPECT_EQ(in.next_byte(-1), 'x');
    in.unread('x');
    in.push_front("12");
    std::string got;
    for (int k = 0; k < 5; k++) got.push_back(static_cast<char>(in.next_byte(-1)));
    EXPECT_EQ(got, "12xyz");
}

TEST(FdBytes, ReadSomeTakesWhatIsBufferedFirst) {
    Pipe p;
    p.put("hello");
    p.close_write();
    FdBytes in(p.in());
    EXPECT_EQ(in.next_byte(-1), 'h');
    u8 buf[16];
    ASSERT_EQ(in.read_some(buf, 3), 3u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 3), "ell");
    ASSERT_EQ(in.read_some(buf, 16), 1u);
    EXPECT_EQ(buf[0], 'o');
    EXPECT_EQ(in.read_some(buf, 16), 0u);
}

TEST(FdBytes, AWakePipeStopsTheWait) {
    Pipe data, wake;
    wake.put("!");
    FdBytes in(data.in());
    in.set_wake_fd(wake.in());
    EXPECT_EQ(in.next_byte(-1), BYTE_WAKE);
    // Input that is there is read before a size change.
    data.put("k");
    EXPECT_EQ(in.next_byte(-1), 'k');
}

TEST(FdBytes, AHungUpTerminalEndsTheInputWithoutSpinning) {
    Pty t;
    FdBytes in(t.slave());
    ASSERT_TRUE(tty_enter_raw(t.slave()));
    ASSERT_EQ(::write(t.master(), "a\r", 2), 2);
    EXPECT_EQ(in.next_byte(-1), 'a');
    EXPECT_EQ(in.next_byte(-1), '\r');
    tty_restore();
    t.close_master();
    // The read fails with EIO (or gives 0): the end, once and for all.
    EXPECT_EQ(in.next_byte(-1), BYTE_END);
    EXPECT_EQ(in.next_byte(-1), BYTE_END);
    EXPECT_TRUE(in.ended());
}

TEST(FdBytes, PipedLinesThroughTheLineReader) {
    Pipe p;
    p.put("first\nsecond");
    p.close_write();
    FdBytes in(p.in());
    std::u32string line;
    ASSERT_TRUE(read_line_utf8(in, line));
    EXPECT_EQ(line, U"first");
    ASSERT_TRUE(read_line_utf8(in, line));
    EXPECT_EQ(line, U"second");
    EXPECT_FALSE(read_line_utf8(in, line));
}

TEST(RawMode, EntersAndRestores) {
    Pty t;
    termios before;
    ASSERT_EQ(::tcgetattr(t.slave(), &before), 0);
    ASSERT_TRUE(tty_enter_raw(t.slave()));
    EXPECT_TRUE(tty_raw_on());
    termios raw;
    ASSERT_EQ(::tcgetattr(t.slave(), &raw), 0);
    EXPECT_EQ(raw.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(raw.c_iflag & (IXON | ICRNL), 0u);
    EXPECT_EQ(raw.c_cc[VMIN], 1);
    // Output processing stays on.
    EXPECT_EQ(raw.c_oflag, before.c_oflag);
    tty_restore();
    EXPECT_FALSE(tty_raw_on());
    termios after;
    ASSERT_EQ(::tcgetattr(t.slave(), &after), 0);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
}

TEST(RawMode, SwitchingKeepsTypeAhead) {
    Pty t;
    ASSERT_EQ(::write(t.master(), "typed", 5), 5);
    ASSERT_TRUE(tty_enter_raw(t.slave()));
    tty_restore();
    ASSERT_TRUE(tty_enter_raw(t.slave()));
    FdBytes in(t.slave());
    std::string got;
    for (int k = 0; k < 5; k++) got.push_back(static_cast<char>(in.next_byte(1000)));
    tty_restore();
    EXPECT_EQ(got, "typed");
}

// Raw mode entered again while it is on: the holder lends the terminal,
// in the waiting mode asked for, and gets it back as it had it.
int g_lent = 0, g_given_back = 0;

TEST(RawMode, NestsLendingAndGivingBackTheTerminal) {
    Pty t;
    termios before;
    ASSERT_EQ(::tcgetattr(t.slave(), &before), 0);
    g_lent = g_given_back = 0;
    ASSERT_TRUE(tty_enter_raw(t.slave(), false));
    tty_set_lend_hooks([] { g_lent++; }, [] { g_given_back++; });
    termios mode;
    ASSERT_TRUE(tty_enter_raw(t.slave(), true));
    EXPECT_TRUE(tty_raw_on());
    EXPECT_EQ(g_lent, 1);
    ASSERT_EQ(::tcgetattr(t.slave(), &mode), 0);
    EXPECT_EQ(mode.c_cc[VMIN], 1);
    EXPECT_EQ(mode.c_lflag & (ICANON | ECHO), 0u);
    tty_restore();
    EXPECT_EQ(g_given_back, 1);
    EXPECT_TRUE(tty_raw_on());
    ASSERT_EQ(::tcgetattr(t.slave(), &mode), 0);
    EXPECT_EQ(mode.c_cc[VMIN], 0);
    EXPECT_EQ(mode.c_lflag & (ICANON | ECHO), 0u);
    tty_restore();
    tty_set_lend_hooks(nullptr, nullptr);
    EXPECT_FALSE(tty_raw_on());
    ASSERT_EQ(::tcgetattr(t.slave(), &mode), 0);
    EXPECT_EQ(mode.c_lflag, before.c_lflag);
    EXPECT_EQ(g_lent, 1);
}

TEST(RawMode, DiscardingDropsWhatWasNotReadYet) {
    Pty t;
    ASSERT_TRUE(tty_enter_raw(t.slave(), false));
    ASSERT_EQ(::write(t.master(), "\x1b[2;1R", 6), 6);
    ::usleep(20000);
    tty_discard_input(t.slave());
    char c;
    EXPECT_LE(::read(t.slave(), &c, 1), 0);
    tty_restore();
}

TEST(RawMode, NotATerminal) {
    Pipe p;
    EXPECT_FALSE(tty_enter_raw(p.in()));
    EXPECT_FALSE(tty_raw_on());
}

// A child enters raw mode and is ended by a signal; the terminal's mode is
// back afterwards.
void expect_restored_after(int signo) {
    Pty t;
    termios before;
    ASSERT_EQ(::tcgetattr(t.slave(), &before), 0);
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        tty_install_handlers();
        if (!tty_enter_raw(t.slave())) ::_exit(3);
        ::raise(signo);
        ::_exit(4);   // not reached: the signal's default action ends it
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
    EXPECT_EQ(WTERMSIG(status), signo);
    termios after;
    ASSERT_EQ(::tcgetattr(t.slave(), &after), 0);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
}

TEST(RawMode, RestoredOnSigterm) { expect_restored_after(SIGTERM); }
TEST(RawMode, RestoredOnSighup) { expect_restored_after(SIGHUP); }

// The bytes that undo a holder's modes are written when a signal ends the
// process, even in the middle of a nested raw mode.
TEST(RawMode, RestoreBytesAreWrittenWhenASignalEndsTheProcess) {
    for (int signo : {SIGTERM, SIGHUP, SIGQUIT}) {
        SCOPED_TRACE(signo);
        Pty t;
        int out_w[2];
        ASSERT_EQ(::pipe(out_w), 0);
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::close(out_w[0]);
            rlimit no_core{0, 0};
            ::setrlimit(RLIMIT_CORE, &no_core);  // SIGQUIT dumps no core
            tty_install_handlers();
            if (!tty_enter_raw(t.slave(), false) || !tty_enter_raw(t.slave())) ::_exit(3);
            tty_set_restore_bytes(out_w[1], "modes off");
            ::raise(signo);
            ::_exit(4);
        }
        ::close(out_w[1]);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
        EXPECT_EQ(WTERMSIG(status), signo);
        char buf[32] = {};
        ssize_t n = ::read(out_w[0], buf, sizeof buf);
        ::close(out_w[0]);
        EXPECT_EQ(std::string(buf, n > 0 ? static_cast<size_t>(n) : 0), "modes off");
    }
}

TEST(RawMode, RestoredAtExit) {
    Pty t;
    termios before;
    ASSERT_EQ(::tcgetattr(t.slave(), &before), 0);
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        tty_install_handlers();
        if (!tty_enter_raw(t.slave())) ::_exit(3);
        std::exit(5);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 5);
    termios after;
    ASSERT_EQ(::tcgetattr(t.slave(), &after), 0);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
}

TEST(Terminal, WindowSize) {
    Pty t;
    winsize ws{};
    ws.ws_col = 57;
    ws.ws_row = 13;
    ASSERT_EQ(::ioctl(t.master(), TIOCSWINSZ, &ws), 0);
    int c = 0, r = 0;
    ASSERT_TRUE(tty_window_size(t.slave(), &c, &r));
    EXPECT_EQ(c, 57);
    EXPECT_EQ(r, 13);
    Pipe p;
    EXPECT_FALSE(tty_window_size(p.in(), &c, &r));
}

TEST(Terminal, CursorColumnQueryKeepsTheKeysAroundTheAnswer) {
    Pipe p;
    p.put("ab\x1b[12;7Rcd");
    int sink = ::open("/dev/null", O_WRONLY);
    FdBytes in(p.in());
    EXPECT_EQ(tty_query_cursor_column(in, sink, 1000), 6);
    std::string rest;
    for (int k = 0; k < 4; k++) rest.push_back(static_cast<char>(in.next_byte(100)));
    EXPECT_EQ(rest, "abcd");
    // No answer: -1, and what came stays.
    p.put("zz");
    EXPECT_EQ(tty_query_cursor_column(in, sink, 50), -1);
    EXPECT_EQ(in.next_byte(10), 'z');
    EXPECT_EQ(in.next_byte(10), 'z');
    ::close(sink);
}

}  // namespace
}  // namespace zan::console
