// The event loop on a real pseudo-terminal and on pipes: the terminal's
// mode while it runs and after, the exact bytes written, keys reaching the
// widgets, timers, a size change through SIGWINCH.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <cstring>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "runtime/terminal/terminal_keys.h"
#include "gui/terminal/tui_loop.h"
#include "runtime/terminal/print_hooks.h"
#include "runtime/terminal/terminal_tty.h"

#include <thread>

using namespace zan;
using namespace zan::gui;

namespace {
class Pty {
public:
    Pty(int cols, int rows) {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        EXPECT_GE(master_, 0);
        EXPECT_EQ(::grantpt(master_), 0);
        EXPECT_EQ(::unlockpt(master_), 0);
        slave_ = ::open(::ptsname(master_), O_RDWR | O_NOCTTY);
        EXPECT_GE(slave_, 0);
        // Output exactly as written, so the bytes can be compared.
        termios t;
        ::tcgetattr(slave_, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(slave_, TCSANOW, &t);
        resize(cols, rows);
    }
    ~Pty() {
        ::close(slave_);
        ::close(master_);
    }
    void resize(int cols, int rows) {
        winsize ws{};
        ws.ws_col = static_cast<unsigned short>(cols);
        ws.ws_row = static_cast<unsigned short>(rows);
        ::ioctl(master_, TIOCSWINSZ, &ws);
    }
    void type(const std::string& bytes) {
        ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // Everything the program wrote so far.
    std::string output() {
        std::string out;
        char buf[4096];
        pollfd p{master_, POLLIN, 0};
        while (::poll(&p, 1, 50) > 0) {
            ssize_t n = ::read(master_, buf, sizeof buf);
            if (n <= 0) break;
            out.append(buf, static_cast<size_t>(n));
        }
        return out;
    }
    int slave() const { return slave_; }

private:
    int master_ = -1, slave_ = -1;
};

termios mode_of(int fd) {
    termios t{};
    ::tcgetattr(fd, &t);
    return t;
}

RenderFn fill_with(u32 cp) {
    return [cp](TuiScreen& s, int, int, const TuiWidget&, const TuiRect& clip) { s.fill(clip, cp, TuiStyle{}); };
}
}  // namespace

namespace {
// A terminal, a back end with one active window of w x h cells filled with
// cp, and a loop on the terminal.
struct Rig {
    Rig(int cols, int rows, float w, float h, u32 cp)
        : pty(cols, rows), win(b.make(0, true, TuiBox{0, 0, w, h}, 0, fill_with(cp))), loop(b, pty.slave(), pty.slave()) {
        b.activate(win);
    }
    Pty pty;
    TuiBackend b;
    WidgetId win;
    TuiLoop loop;
};
}  // namespace

TEST(TuiLoopTest, TickWaitsForWhatIsLeftOf33Ms) {
    struct Case {
        int last, wait, counted;
    } cases[] = {{0, 33, 33}, {10, 23, 33}, {33, 0, 33}, {34, 0, 34}, {120, 0, 120}};
    for (const Case& c : cases) {
        EXPECT_EQ(tick_wait(c.last), c.wait) << c.last;
        EXPECT_EQ(tick_counted(c.last), c.counted) << c.last;
    }
}

TEST(TuiLoopTest, RunsOnATerminalAndRestoresItsMode) {
    Pty pty(20, 10);
    termios before = mode_of(pty.slave());
    TuiBackend b;
    WidgetId w = b.make(0, true, TuiBox{0, 0, 4, 2}, 0, fill_with('.'));
    b.activate(w);
    TuiLoop loop(b, pty.slave(), pty.slave());
    std::vector<TuiInput> keys;
    termios during{};
    loop.on_input = [&](const TuiInput& in) {
        keys.push_back(in);
        during = mode_of(pty.slave());
        if (in.ch == 'q') b.destroy(w);
    };
    pty.type("a\x1b[Aq");
    loop.run(false);
    EXPECT_FALSE(loop.terminal_on());
    EXPECT_EQ(b.loop_level(), 0);
    ASSERT_EQ(keys.size(), 3u);
    EXPECT_EQ(keys[0].ch, u32('a'));
    EXPECT_EQ(keys[1].code, console::KEY_UP);
    EXPECT_EQ(during.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(during.c_iflag & (IXON | ICRNL), 0u);
    EXPECT_EQ(during.c_cc[VMIN], 0);
    EXPECT_EQ(during.c_cc[VTIME], 0);
    termios after = mode_of(pty.slave());
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
    EXPECT_EQ(after.c_cc[VMIN], before.c_cc[VMIN]);
    // The position request, the cursor hidden (no caret), one frame, and
    // the cursor put on the line below the view and shown again.
    EXPECT_EQ(pty.output(), "\x1b[6n" "\x1b[?25l" "\r\x1b[0J" "....\x1b[49m\r\n...." "\r\n" "\x1b[?25h");
}

TEST(TuiLoopTest, PrintedTextGoesAboveTheViewWhichIsDrawnAgainBelowIt) {
    Pty pty(20, 10);
    TuiBackend b;
    WidgetId w = b.make(0, true, TuiBox{0, 0, 4, 2}, 0, fill_with('.'));
    b.activate(w);
    TuiLoop loop(b, pty.slave(), pty.slave());
    loop.on_input = [&](const TuiInput& in) {
        if (in.ch == 'p') {
            ASSERT_NE(g_tui_before_print, nullptr);
            g_tui_before_print();
            ASSERT_EQ(::write(pty.slave(), "hello\r\n", 7), 7);
            g_tui_after_print();
            pty.type("q");
        }
        if (in.ch == 'q') b.destroy(w);
    };
    pty.type("p");
    loop.run(false);
    EXPECT_EQ(g_tui_before_print, nullptr);
    EXPECT_EQ(g_tui_after_print, nullptr);
    const std::string frame_top = "\r\x1b[0J" "....\x1b[49m\r\n....";
    EXPECT_EQ(pty.output(), "\x1b[6n" "\x1b[?25l" + frame_top +  // drawn, the cursor hidden
                                "\r\x1b[1A\x1b[0J" "hello\r\n" +     // erased, printed
                                "\x1b[6n" + frame_top +          // drawn again below
                                "\r\n" "\x1b[?25h");
}

TEST(TuiLoopTest, FullScreenWithTheMouseUsesAndLeavesTheAlternateScreen) {
    Pty pty(20, 10);
    TuiBackend b;
    WidgetId w = b.make(0, true, TuiBox{0, 0, 2, 1}, 0, fill_with('#'));
    b.activate(w);
    TuiLoop loop(b, pty.slave(), pty.slave());
    loop.full_screen = true;
    loop.mouse = true;
    std::vector<TuiInput> got;
    loop.on_input = [&](const TuiInput& in) {
        got.push_back(in);
        if (in.kind == TuiInput::MOUSE && in.release) b.destroy(w);
    };
    pty.type("\x1b[<0;2;1M\x1b[<0;2;1m");
    loop.run(false);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].kind, TuiInput::MOUSE);
    EXPECT_EQ(got[0].col, 2);
    EXPECT_EQ(pty.output(), "\x1b[?1049h\x1b[2J" + mouse_bytes(true) + "\x1b[?25l" "\x1b[H##" +
                                mouse_bytes(false) + "\x1b[?1049l" "\x1b[?25h");
}

TEST(TuiLoopTest, TimersAndSizeChangesReachTheWindow) {
    Pty pty(20, 10);
    TuiBackend b;
    WidgetId w = b.make(0, true, TuiBox{0, 0, 3, 1}, 0, fill_with('t'));
    b.activate(w);
    int ticks = 0;
    int new_cols = 0, new_rows = 0;
    TuiLoop loop(b, pty.slave(), pty.slave());
    b.send = [&](int type, WidgetId id) {
        if (type == EVT_TIME && id == w && ++ticks == 2) {
            pty.resize(30, 12);
            ::raise(SIGWINCH);
        }
    };
    loop.on_resize = [&](int cols, int rows) {
        new_cols = cols;
        new_rows = rows;
        b.destroy(w);
    };
    b.start_timer(w, 40);
    loop.run(false);
    EXPECT_EQ(ticks, 2);
    EXPECT_EQ(new_cols, 30);
    EXPECT_EQ(new_rows, 12);
    EXPECT_EQ(loop.cols(), 30);
}

TEST(TuiLoopTest, WithoutATerminalNothingIsDrawnAndInputStillArrives) {
    int in[2], out[2];
    ASSERT_EQ(::pipe(in), 0);
    ASSERT_EQ(::pipe(out), 0);
    TuiBackend b;
    WidgetId w = b.make(0, true, TuiBox{0, 0, 3, 1}, 0, fill_with('x'));
    b.activate(w);
    TuiLoop loop(b, in[0], out[1]);
    EXPECT_FALSE(loop.run(true));  // one pass, nothing to read
    EXPECT_EQ(b.loop_level(), 0);
    std::string typed;
    loop.on_input = [&](const TuiInput& k) {
        typed += static_cast<char>(k.ch);
        if (k.ch == '!') b.destroy(w);
    };
    ASSERT_EQ(::write(in[1], "hi!", 3), 3);
    EXPECT_TRUE(loop.run(false));
    EXPECT_EQ(typed, "hi!");
    EXPECT_FALSE(loop.terminal_on());
    pollfd p{out[0], POLLIN, 0};
    EXPECT_EQ(::poll(&p, 1, 0), 0);  // nothing written
    for (int fd : {in[0], in[1], out[0], out[1]}) ::close(fd);
}

// The double-click timing counts passes: each pass ends after its input.
TEST(TuiLoopTest, EveryPassEndsAfterItsInput) {
    int in[2], out[2];
    ASSERT_EQ(::pipe(in), 0);
    ASSERT_EQ(::pipe(out), 0);
    TuiBackend b;
    TuiLoop loop(b, in[0], out[1]);
    std::string seen;
    loop.on_input = [&](const TuiInput& k) { seen += static_cast<char>(k.ch); };
    loop.on_pass_end = [&] { seen += '|'; };
    EXPECT_FALSE(loop.run(true));  // nothing read: no pass is counted
    EXPECT_EQ(seen, "");
    for (const char* typed : {"a", "bc"}) {
        ASSERT_EQ(::write(in[1], typed, std::strlen(typed)), static_cast<ssize_t>(std::strlen(typed)));
        EXPECT_TRUE(loop.run(true));
    }
    EXPECT_EQ(seen, "a|bc|");
    for (int fd : {in[0], in[1], out[0], out[1]}) ::close(fd);
}

TEST(TuiLoopTest, AWindowLargerThanTheTerminalIsDrawnClippedAndKeepsTheCursorInside) {
    Pty pty(6, 3);
    TuiBackend b;
    WidgetId w = b.make(0, true, TuiBox{0, 0, 10, 5}, 0, fill_with('.'));
    b.make(w, false, TuiBox{1, 0, 3, 1}, 0, fill_with('#'));
    b.make(w, false, TuiBox{4, 2, 8, 3}, 0, fill_with('x'));
    // A field beyond the terminal's right and bottom edges, with the focus:
    // its caret cannot be shown.
    WidgetId field = b.make(w, false, TuiBox{8, 4, 10, 5}, 0, fill_with('f'));
    b.widget(field)->kind = WidgetKind::field;
    b.activate(w);
    b.set_focus(field);
    TuiLoop loop(b, pty.slave(), pty.slave());
    loop.on_input = [&](const TuiInput& in) {
        if (in.ch == 'q') b.destroy(w);
    };
    pty.type("q");
    loop.run(false);
    EXPECT_EQ(loop.placement().cursor_row, 2);
    // Only what fits is written; the cursor stays hidden on the last row
    // and goes below the view at the end.
    EXPECT_EQ(pty.output(), "\x1b[6n" "\x1b[?25l" "\r\x1b[0J" ".##...\x1b[49m\r\n" "......\x1b[49m\r\n" "....xx"
                            "\r\n" "\x1b[?25h");
}

TEST(TuiLoopTest, TheViewsFirstRowMovesUpWhenTheTerminalScrolls) {
    // Reported on row 9 of 10 (row 8 from 0), a view of four rows made the
    // terminal scroll by two: its first row is row 6 for the mouse. One
    // reported high enough stays where it was reported.
    for (auto [report, origin] : {std::pair{"\x1b[9;1Rq", 6}, std::pair{"\x1b[3;1Rq", 2}}) {
        Rig r(20, 10, 4, 4, '.');
        int origin_at_key = -1;
        r.loop.on_input = [&](const TuiInput& in) {
            origin_at_key = r.loop.origin_row();
            if (in.ch == 'q') r.b.destroy(r.win);
        };
        r.pty.type(report);
        r.loop.run(false);
        EXPECT_EQ(origin_at_key, origin) << report;
        EXPECT_EQ(r.loop.drawn_rows(), 4);
    }
}

TEST(TuiLoopTest, LeavingWaitsForTheTerminalsAnswerAndDropsWhatIsLeft) {
    Rig r(20, 10, 2, 1, '.');
    std::thread late;
    r.loop.on_input = [&](const TuiInput& in) {
        if (in.ch != 'p') return;
        // Text printed, then the view closed at once: the terminal's answer
        // to the query after the print comes later, with a key behind it.
        g_tui_before_print();
        g_tui_after_print();
        late = std::thread([&] {
            ::usleep(100000);
            r.pty.type("\x1b[7;1Rzz");
        });
        r.b.destroy(r.win);
    };
    r.pty.type("\x1b[2;1Rp");  // the answer to the first query, then the key
    r.loop.run(false);
    late.join();
    EXPECT_EQ(r.loop.origin_row(), 6);  // the late answer was read
    // Nothing is left for whoever reads the terminal next.
    pollfd p{r.pty.slave(), POLLIN, 0};
    EXPECT_EQ(::poll(&p, 1, 50), 0);
}

TEST(TuiLoopTest, AViewClosedWhileMarkedForDrawingShowsItsLastFrameAndTheCursorGoesBelow) {
    Rig r(20, 10, 3, 2, '1');
    u32 shown = '1';
    r.b.widget(r.win)->render = [&shown](TuiScreen& s, int, int, const TuiWidget&, const TuiRect& clip) {
        s.fill(clip, shown, TuiStyle{});
    };
    r.b.before_close = [&] { r.loop.draw_pending(); };
    r.b.send = [&](int type, WidgetId id) {
        if (type != EVT_TIME || id != r.win) return;
        // A timer changes the face and closes the view in one go.
        shown = '2';
        r.b.mark_dirty(r.win);
        r.b.destroy(r.win);
    };
    r.b.start_timer(r.win, 40);
    r.loop.run(false);
    EXPECT_EQ(r.pty.output(), "\x1b[6n" "\x1b[?25l" "\r\x1b[0J" "111\x1b[49m\r\n111" "\r\x1b[1A\x1b[0J"
                              "222\x1b[49m\r\n222" "\r\n" "\x1b[?25h");
}

TEST(TuiLoopTest, ALineEditedInsideTheViewGoesBelowItWithTheMouseOffAndTheViewComesBack) {
    Rig r(20, 10, 2, 2, '.');
    r.loop.mouse = true;
    std::string during;
    termios nested{};
    r.loop.on_input = [&](const TuiInput& in) {
        if (in.ch == 'a') {
            // What ask does around its edit.
            ASSERT_TRUE(console::tty_enter_raw(r.pty.slave()));
            nested = mode_of(r.pty.slave());
            during = r.pty.output();
            console::tty_restore();
            r.pty.type("q");
        }
        if (in.ch == 'q') r.b.destroy(r.win);
    };
    r.pty.type("a");
    r.loop.run(false);
    EXPECT_EQ(nested.c_cc[VMIN], 1);
    EXPECT_FALSE(console::tty_raw_on());
    const std::string frame = "\r\x1b[0J" "..\x1b[49m\r\n..";
    EXPECT_EQ(during, "\x1b[6n" + mouse_bytes(true) + "\x1b[?25l" + frame +
                          // below the view, the mouse off, the cursor shown
                          "\r\n" + mouse_bytes(false) + "\x1b[?25h");
    // Given back: the mouse on again, the view drawn below the edited line.
    EXPECT_EQ(r.pty.output(), mouse_bytes(true) + "\x1b[6n" "\x1b[?25l" + frame + "\r\n" + mouse_bytes(false) +
                                  "\x1b[?25h");
}
