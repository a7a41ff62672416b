// The event loop: terminal mode, ticks, input, timers and drawing.
#include "gui/terminal/tui_loop.h"

#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "runtime/core/interrupt.h"
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
// The terminal has answered a cursor position query.
bool g_answers = false;
// How long the loop waits for the answers to its queries before it gives
// the terminal back.
constexpr int ANSWER_WAIT_MS = 500;
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
    loop->ask_position();
}

void TuiLoop::lend() {
    TuiLoop* loop = g_terminal_loop;
    if (!loop) return;
    loop->await_answers();
    TuiModes& m = loop->modes_;
    std::string bytes;
    if (loop->drawn_ && !m.alt_screen) bytes += below_bytes(loop->drawn_rows_, loop->at_.cursor_row);
    loop->drawn_ = false;
    loop->at_.cursor_row = 0;
    loop->lent_mouse_ = m.mouse;
    loop->lent_alt_screen_ = m.alt_screen;
    if (m.mouse) bytes += mouse_bytes(false);
    if (m.alt_screen) bytes += alt_screen_bytes(false);
    if (m.cursor_hidden) bytes += cursor_bytes(true);
    m = TuiModes{};
    loop->write(bytes);
    loop->note_restore_bytes();
}

void TuiLoop::give_back() {
    TuiLoop* loop = g_terminal_loop;
    if (!loop) return;
    std::string bytes;
    if (loop->lent_alt_screen_) bytes += alt_screen_bytes(true);
    if (loop->lent_mouse_) bytes += mouse_bytes(true);
    loop->modes_.alt_screen = loop->lent_alt_screen_;
    loop->modes_.mouse = loop->lent_mouse_;
    loop->lent_mouse_ = loop->lent_alt_screen_ = false;
    loop->write(bytes);
    loop->note_restore_bytes();
    // Drawn again below the edited line.
    loop->b_.mark_dirty(loop->b_.active());
    loop->ask_position();
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

void TuiLoop::ask_position() {
    if (at_.full_screen) return;
    write("\x1b[6n");
    queries_++;
}

void TuiLoop::take_report(const TuiInput& report) {
    origin_row_ = report.row - 1;
    if (queries_ > 0) queries_--;
    g_answers = true;
    place();
}

void TuiLoop::place() {
    if (at_.full_screen) origin_row_ = 0;
    else if (origin_row_ + drawn_rows_ > rows_) origin_row_ = std::max(rows_ - drawn_rows_, 0);
}

void TuiLoop::await_answers() {
    if (!terminal_ || !g_answers) queries_ = 0;
    long end = now_ms() + ANSWER_WAIT_MS;
    while (queries_ > 0) {
        long left = end - now_ms();
        if (left <= 0 || ended_) break;
        if (!read_input(static_cast<int>(left), false)) continue;
        for (const TuiInput& in : decoder_.decode())
            if (in.kind == TuiInput::CURSOR_REPORT) take_report(in);
    }
    queries_ = 0;
}

void TuiLoop::note_restore_bytes() { console::tty_set_restore_bytes(out_, leave_bytes(0, 0, modes_)); }

bool TuiLoop::enter() {
    if (terminal_) return true;
    if (!::isatty(in_)) return false;
    console::tty_install_handlers();
    if (!console::tty_enter_raw(in_, false)) return false;
    terminal_ = true;
    read_size();
    if (on_enter_size) on_enter_size(cols_, rows_);
    at_ = TuiPlacement{};
    at_.full_screen = full_screen;
    drawn_rows_ = 0;
    queries_ = 0;
    // Inline, the view goes below the cursor: the terminal answers where
    // that is with a cursor position report, asked for before any mouse
    // report can come.
    ask_position();
    std::string bytes;
    if (full_screen) {
        bytes += alt_screen_bytes(true);
        modes_.alt_screen = true;
    }
    if (mouse) {
        bytes += mouse_bytes(true);
        modes_.mouse = true;
    }
    write(bytes);
    note_restore_bytes();
    g_terminal_loop = this;
    g_tui_before_print = before_print;
    g_tui_after_print = after_print;
    console::tty_set_lend_hooks(lend, give_back);
    return true;
}

void TuiLoop::leave() {
    if (!terminal_) return;
    await_answers();
    if (g_terminal_loop == this) {
        g_terminal_loop = nullptr;
        g_tui_before_print = nullptr;
        g_tui_after_print = nullptr;
        console::tty_set_lend_hooks(nullptr, nullptr);
    }
    write(leave_bytes(drawn_ ? drawn_rows_ : 0, at_.cursor_row, modes_));
    drawn_ = false;
    modes_ = TuiModes{};
    console::tty_set_restore_bytes(out_, "");
    // Keys typed into the view, and answers that came too late, are not
    // for whoever reads the terminal next.
    console::tty_discard_input(in_);
    console::tty_restore();
    terminal_ = false;
}

bool TuiLoop::read_input(int timeout_ms, bool take_resize) {
    pollfd fds[2] = {{in_, POLLIN, 0}, {console::tty_resize_fd(), POLLIN, 0}};
    int n = take_resize && fds[1].fd >= 0 ? 2 : 1;
    int r;
    do {
        r = ::poll(fds, static_cast<nfds_t>(n), timeout_ms);
    } while (r < 0 && errno == EINTR && timeout_ms == 0);
    if (r <= 0) return false;
    if (take_resize && n == 2 && (fds[1].revents & POLLIN) && console::tty_take_resize()) {
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
    std::string frame = frame_bytes(screen_, at_);
    // No window left to draw: what was drawn last stays.
    if (frame.empty()) return;
    drawn_ = true;
    drawn_rows_ = screen_.rows();
    bool hidden = modes_.cursor_hidden;
    // The cursor shows only where a caret is.
    if (!at_.caret && !modes_.cursor_hidden) {
        frame = cursor_bytes(false) + frame;
        modes_.cursor_hidden = true;
    } else if (at_.caret && modes_.cursor_hidden) {
        frame += cursor_bytes(true);
        modes_.cursor_hidden = false;
    }
    write(frame);
    if (hidden != modes_.cursor_hidden) note_restore_bytes();
    place();
}

void TuiLoop::draw_pending() {
    // A view that printed text erased is not drawn again only to close.
    if (terminal_ && drawn_ && b_.dirty()) flush();
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
            take_report(in);
            continue;
        }
        // The terminal is raw while a view waits, so a Ctrl-C comes as a
        // key: it interrupts, as the signal does elsewhere.
        if (in.kind == TuiInput::KEY && in.ch == 3) g_interrupt_pending = 1;
        if (g_interrupt_pending) {
            interrupted_ = true;
            break;
        }
        if (on_input) on_input(in);
    }
    if (g_interrupt_pending) interrupted_ = true;
    if (!interrupted_ && on_pass_end) on_pass_end();
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
    } while (!no_wait && b_.loop_level() > level && !ended_ && !interrupted_);
    // Input that has ended can never close the view: the loop ends with it
    // (the guard lowers the level). So does an interruption, held back
    // while the windows close (the code that closes them must not take it
    // and have it caught there), then left pending for the evaluator.
    bool interrupted = interrupted_;
    if (interrupted) g_interrupt_pending = 0;
    guard.finish();
    if (!nested) {
        screen_.resize(0, 0);
        decoder_.clear();
        if (on_outer_end) on_outer_end();
        interrupted_ = false;
    }
    if (interrupted) g_interrupt_pending = 1;
    return got;
}

}  // namespace zan::gui
