// The event loop of the text-mode back end on a real terminal. The
// outermost run owns the terminal: it enters raw mode (only when standard
// input is a terminal), draws the active window once per pass when it is
// marked for drawing, and on every way out puts the cursor on the line
// below the drawn rows and restores the terminal's mode, after the
// terminal's answers to its cursor position queries have come in and with
// whatever input is left discarded; when it ends normally it then resets
// the back end (on_outer_end) and forgets its cells and pending input.
// Passes are about 33 ms apart: input is awaited with poll() for what is
// left of the tick, and a size change (SIGWINCH, through the console's
// self-pipe) ends the wait at once.
//
// While it holds the terminal, a line edited inside it (ask in an actor)
// borrows the terminal: the edit goes on the line below the drawn rows,
// with the mouse off and the cursor shown, and the view is drawn again
// below the edited line afterwards. A signal or the exit that ends the
// process meanwhile still switches off the modes the view switched on
// (the terminal layer's restore bytes).
#pragma once
#include <functional>
#include <string>

#include "gui/terminal/tui_input.h"
#include "gui/terminal/tui_output.h"
#include "gui/terminal/tui_widgets.h"

namespace zan::gui {

constexpr int TICK_MS = 33;

// How long a pass waits for input after the last one took last_ms, and
// the time it counts for the timers.
int tick_wait(int last_ms);
int tick_counted(int last_ms);

// Where the caret of the active window's focused widget stands, in buffer
// cells: at the base that holds its caret, else at a field's own caret;
// at.caret false when it shows none.
void caret_of(const TuiBackend& b, TuiPlacement& at);

class TuiLoop {
public:
    TuiLoop(TuiBackend& backend, int in_fd, int out_fd) : b_(backend), in_(in_fd), out_(out_fd) {}
    ~TuiLoop();

    // Input for the widgets: keys, mouse reports and size changes (the
    // new columns and rows); set by the caller.
    std::function<void(const TuiInput&)> on_input;
    std::function<void(int cols, int rows)> on_resize;
    // Called at the end of every pass, after its input was handed over: the
    // time of the pass for the double-click timing.
    std::function<void()> on_pass_end;
    // The terminal's size as the outermost run takes the terminal (the
    // screen face's size).
    std::function<void(int cols, int rows)> on_enter_size;
    // Called when the outermost run has ended and left the terminal: the
    // back end's reset.
    std::function<void()> on_outer_end;

    // Runs until post_quit ends this level (or one pass with no_wait).
    // True when any input was read.
    bool run(bool no_wait);

    bool terminal_on() const { return terminal_; }
    int cols() const { return cols_; }
    int rows() const { return rows_; }
    const TuiPlacement& placement() const { return at_; }
    // The terminal row (0-based) of the view's first row, inline: the row
    // the terminal reported for the cursor where the view was drawn, moved
    // up when the drawn rows made the terminal scroll.
    int origin_row() const { return origin_row_; }
    // The rows of the frame written last (they stay on the screen after the
    // window that was drawn there closed).
    int drawn_rows() const { return drawn_rows_; }
    // Draws the active window now when it is on the screen and marked for
    // drawing: the last frame of a window about to close (a timer that
    // changed a face, then closed the view) is not lost.
    void draw_pending();
    // The print hooks while a loop owns the terminal: printed text erases
    // the drawn rows first, and the view is drawn again below it.
    static void before_print();
    static void after_print();
    // The terminal lent to a nested raw mode (a line edit) and given back.
    static void lend();
    static void give_back();

    bool mouse = false;      // report the mouse while the view runs
    bool full_screen = false;

private:
    // Takes the terminal (raw mode, the view's modes, the print hooks);
    // false when standard input is not a terminal.
    bool enter();
    // Gives the terminal back: cursor below the view, modes off, the saved
    // mode restored.
    void leave();
    // One pass; last_ms is the time the previous pass took, and becomes
    // this one's.
    bool pass(bool no_wait, int& last_ms);
    // Waits up to timeout_ms for input or a size change (unless
    // take_resize is false: the change waits in its pipe) and feeds what
    // came to the decoder; true when bytes were read.
    bool read_input(int timeout_ms, bool take_resize = true);
    // The terminal's size, 80 x 24 when it cannot be read.
    void read_size();
    // Draws the active window and writes the frame when a terminal is held.
    void flush();
    void write(const std::string& bytes);
    // Asks the terminal where its cursor is (inline views only).
    void ask_position();
    // One cursor position report: where the view's first row is.
    void take_report(const TuiInput& report);
    // Keeps the drawn rows on the terminal's screen: a view drawn too low
    // made the terminal scroll, so its first row is higher than reported.
    void place();
    // Reads until every cursor position query has been answered, for at
    // most a while (and not at all from a terminal that never answered);
    // other input that comes meanwhile is dropped.
    void await_answers();
    // The modes to switch off should a signal end the process now.
    void note_restore_bytes();

    TuiBackend& b_;
    int in_, out_;
    bool terminal_ = false;
    TuiModes modes_;
    TuiPlacement at_;
    TuiScreen screen_;
    TuiInputDecoder decoder_;
    int cols_ = 80, rows_ = 24;
    int origin_row_ = 0;
    int drawn_rows_ = 0;
    bool drawn_ = false;
    bool ended_ = false;  // standard input reached its end
    bool interrupted_ = false;  // a Ctrl-C ends every level of the loop
    int queries_ = 0;     // cursor position queries not answered yet
    bool lent_mouse_ = false, lent_alt_screen_ = false;
};

}  // namespace zan::gui
