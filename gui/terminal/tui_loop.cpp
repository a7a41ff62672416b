// The event loop: terminal mode, ticks, input, timers and drawing.
#include "gui/terminal/tui_loop.h"

#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "runtime/terminal/terminal_tty.h"
#include "runtime/terminal/print_hooks.h"

namespace zan::gui {

namespace {
long now_ms() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000L + ts.tv_nsec / 1000000L;
}
}  // namespace

namespace {
// The loop that owns the terminal, for the print hooks.
TuiLoop* g_terminal_loop = nullptr;
}  // namespace

void TuiLoop::before_print() {
    TuiLoop* loop = g_terminal_loop;
    if (!loop) return;
    loop->write(before_print_bytes(loop->drawn_, loop->at_.cursor_row));
    loop->drawn_ = false;
}

void TuiLoop::after_print() {
    TuiLoop* loop = g_terminal_loop;
    if (!loop) return;
    // Drawn again below the printed text at the next pass.
    loop->b_.mark_dirty(loop->b_.active());
    if (!loop->at_.full_screen) loop->write("\x1b[6n");
}

int tick_wait(int last_ms) { return last_ms <= TICK_MS ? TICK_MS - last_ms : 0; }
int tick_counted(int last_ms) { return last_ms <= TICK_MS ? TICK_MS : last_ms; }

TuiLoop::~TuiLoop() { leave(); }

void TuiLoop::write(const std::string& bytes) {
    if (!bytes.empty()) console::tty_write(out_, bytes);
}

void TuiLoop::read_size() {
    int c, r;
    if (console::tty_window_size(out_, &c, &r) || console::tty_window_size(in_, &c, &r)) {
        cols_ = c;
        rows_ = r > 0 ? r : 24;
    } else {
        cols_ = 80;
        rows_ = 24;
    }
}

bool TuiLoop::enter() {
    if (terminal_) return true;
    if (!::isatty(in_)) return false;
    console::tty_install_handlers();
    if (!console::tty_enter_raw(in_, false)) return false;
    terminal_ = true;
    read_size();
    at_ = TuiPlacement{};
    at_.full_screen = full_screen;
    std::string bytes;
    if (full_screen) {
        bytes += alt_screen_bytes(true);
        modes_.alt_screen = true;
    }
    if (mouse) {
        bytes += mouse_bytes(true);
        modes_.mouse = true;
    }
    // Inline, the view goes below the cursor: the terminal answers where
    // that is with a cursor position report.
    if (!full_screen) bytes += "\x1b[6n";
    write(bytes);
    g_terminal_loop = this;
    g_tui_before_print = before_print;
    g_tui_after_print = after_print;
    return true;
}

void TuiLoop::leave() {
    if (!terminal_) return;
    if (g_terminal_loop == this) {
        g_terminal_loop = nullptr;
        g_tui_before_print = nullptr;
        g_tui_after_print = nullptr;
    }
    write(leave_bytes(drawn_ ? screen_.rows() : 0, at_.cursor_row, modes_));
    drawn_ = false;
    modes_ = TuiModes{};
    console::tty_restore();
    terminal_ = false;
}

bool TuiLoop::read_input(int timeout_ms) {
    pollfd fds[2] = {{in_, POLLIN, 0}, {console::tty_resize_fd(), POLLIN, 0}};
    int n = fds[1].fd >= 0 ? 2 : 1;
    int r;
    do {
        r = ::poll(fds, static_cast<nfds_t>(n), timeout_ms);
    } while (r < 0 && errno == EINTR && timeout_ms == 0);
    if (r <= 0) return false;
    if (n == 2 && (fds[1].revents & POLLIN) && console::tty_take_resize()) {
        read_size();
        if (on_resize) on_resize(cols_, rows_);
        b_.mark_dirty(b_.active());
    }
    if (!(fds[0].revents & (POLLIN | POLLHUP))) return false;
    char buf[512];
    ssize_t got = ::read(in_, buf, sizeof buf);
    if (got == 0) ended_ = true;
    if (got <= 0) return false;
    decoder_.feed(buf, static_cast<size_t>(got));
    return true;
}

// The caret of the focused widget of the active window, in buffer cells:
// where the base holding its caret stands, else a field's own caret.
void caret_of(const TuiBackend& b, TuiPlacement& at) {
    at.caret = false;
    const TuiWidget* f = b.widget(b.focus());
    if (!f || b.window_of(b.focus()) != b.active()) return;
    float x = 0, y = 0;
    if (const TuiWidget* holder = b.widget(f->caret_holder)) {
        f = holder;
    } else {
        if (f->kind != WidgetKind::field) return;
        x = static_cast<float>(f->caret_x);
    }
    for (const TuiWidget* w = f; w && !w->window; w = b.widget(w->parent)) {
        x += w->box.x0;
        y += w->box.y0;
    }
    at.caret = true;
    at.caret_col = static_cast<int>(x);
    at.caret_row = static_cast<int>(y);
}

void TuiLoop::flush() {
    if (!terminal_) return;
    b_.render(screen_, cols_, rows_);
    caret_of(b_, at_);
    if (!at_.full_screen && origin_row_ + screen_.rows() > rows_) origin_row_ = rows_ - screen_.rows();
    std::string frame = frame_bytes(screen_, at_);
    if (!frame.empty()) drawn_ = true;
    // The cursor shows only where a caret is.
    if (!at_.caret && !modes_.cursor_hidden) {
        frame = cursor_bytes(false) + frame;
        modes_.cursor_hidden = true;
    } else if (at_.caret && modes_.cursor_hidden) {
        frame += cursor_bytes(true);
        modes_.cursor_hidden = false;
    }
    write(frame);
}

bool TuiLoop::pass(bool no_wait, int& last_ms) {
    b_.announce_focus();
    bool got = read_input(0);
    if (no_wait && !got) return false;
    int wait = no_wait ? 0 : tick_wait(last_ms);
    int counted = tick_counted(last_ms);
    if (!got && wait > 0) got = read_input(wait);
    long start = now_ms();
    b_.run_timers(counted);
    if (b_.dirty()) flush();
    for (const TuiInput& in : decoder_.decode()) {
        if (in.kind == TuiInput::CURSOR_REPORT) {
            origin_row_ = in.row - 1;
            continue;
        }
        if (on_input) on_input(in);
    }
    last_ms = static_cast<int>(now_ms() - start);
    return got;
}

bool TuiLoop::run(bool no_wait) {
    int level = b_.loop_level();
    bool nested = no_wait || level > 0;
    if (!no_wait) b_.enter_loop();
    if (!nested) enter();
    bool got = false;
    int last = 0;
    // An error raised while a pass runs (a bad draw block) leaves through
    // here too: the level goes back and the terminal is restored.
    struct Guard {
        TuiLoop* loop;
        bool outer;
        int level;
        bool finished = false;
        void finish() {
            if (finished) return;
            finished = true;
            while (loop->b_.loop_level() > level) loop->b_.post_quit();
            if (outer) loop->leave();
        }
        ~Guard() { finish(); }
    } guard{this, !nested, level};
    do {
        got = pass(no_wait, last) || got;
    } while (!no_wait && b_.loop_level() > level && !ended_);
    // Input that has ended can never close the view: the loop ends with it
    // (the guard lowers the level).
    guard.finish();
    if (!nested) {
        screen_.resize(0, 0);
        decoder_.clear();
        if (on_outer_end) on_outer_end();
    }
    return got;
}

}  // namespace zan::gui
