// The records of the text-mode back end: one widget per realised face, a
// window record per window widget, and the back end's state (windows,
// focus, pointer, timers, the event loop's level).
//
// A widget is reached only through its handle: a slot index with the
// slot's generation count, checked on every use, so a handle of a
// destroyed widget, or one that was never given out, finds nothing
// instead of a freed record.
#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gui/terminal/tui_screen.h"

namespace zan::gui {

// Widget flags.
constexpr u32 WIDGET_SIZE_PAIR = 0x10000;
constexpr u32 WIDGET_HIDDEN = 0x20000;
constexpr u32 WIDGET_DISABLED = 0x40000;
constexpr u32 WIDGET_ALL_OVER = 0x100000;
constexpr u32 WIDGET_CARET = 0x200000;
constexpr u32 WIDGET_FOCUSABLE = 0x400000;
constexpr u32 WIDGET_LEFT_PRESSED = 0x1000000;
constexpr u32 WIDGET_FOCUSED = 0x2000000;
constexpr u32 WIDGET_PASSWORD = 0x10000000;
constexpr u32 WIDGET_FULL_SCREEN = 0x40000000;

// Event type codes the back end sends itself.
constexpr int EVT_FOCUS = 17;
constexpr int EVT_UNFOCUS = 18;
constexpr int EVT_CLICK = 9;
constexpr int EVT_DBL_CLICK = 10;
constexpr int EVT_TIME = 33;
constexpr int EVT_SELECT = 25;
constexpr int EVT_CHANGE = 26;

// 0 is the null handle.
using WidgetId = u32;

// What a widget is, from its face's type: it chooses the drawing and the
// widget's own reaction to keys and the mouse.
enum class WidgetKind : u8 { other, window, base, button, field, progress, group_box, check, radio, text_list, rich_text };

struct TuiWidget;
// Draws a widget at its absolute column and row, within clip.
using RenderFn = std::function<void(TuiScreen&, int col, int row, const TuiWidget&, const TuiRect& clip)>;

struct TuiBox {
    float x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

struct TuiWidget {
    bool window = false;
    WidgetKind kind = WidgetKind::other;
    u32 flags = 0;
    TuiBox box;  // relative to the parent
    WidgetId parent = 0;
    std::vector<WidgetId> children;  // in pane order
    RenderFn render;
    i32 data = 0;
    std::string ui;
    // A field's editing: the caret's character index, the cells before it
    // and the cells of the whole text.
    int caret = 0, caret_x = 0, text_cells = 0;
    // The cells of the face's image, image_cols to a row; empty without one.
    std::vector<TuiCell> image;
    int image_cols = 0;
    // The base that shows this widget's caret (its caret option), or 0.
    WidgetId caret_holder = 0;
    // A rich text's cells, one per character of its text.
    std::vector<TuiCell> rich;
    // A copy of the face's object! cell; a header of 0 means no face.
    ValueCell face{0, 0, 0, 0};
    // A window widget's record: its drawing area, the widget that had the
    // focus last, how many of its widgets show a caret, whether its first
    // focus has been announced (until then its focus changes send no events).
    TuiBox area;
    WidgetId focus = 0;
    int carets = 0;
    bool shown = false;
};

class WidgetTable {
public:
    WidgetId add(std::unique_ptr<TuiWidget> widget);
    // The widget of a live handle; null for 0, a stale or a forged handle.
    TuiWidget* get(WidgetId id) const;
    void remove(WidgetId id);
    size_t live() const { return live_; }
    template <typename F>
    void each(F f) const {
        for (const Slot& s : slots_)
            if (s.widget) f(*s.widget);
    }
    // The handles of every live widget, in slot order.
    std::vector<WidgetId> ids() const;

private:
    struct Slot {
        u32 generation = 0;
        std::unique_ptr<TuiWidget> widget;
    };
    std::vector<Slot> slots_;
    std::vector<u32> free_;
    size_t live_ = 0;
};

// Interval in milliseconds of a rate: a count per second (integer) or a
// period in seconds (time); -1 for a rate that is not above 0.
int rate_interval_per_second(i32 rate);
int rate_interval_of_seconds(double seconds);

// The double-click timing of the left button: a release within 500 ms of
// the last one makes a double click, and a third quick release is a plain
// click again.
class ClickTiming {
public:
    // The events of a left release: click, or click then dbl-click.
    std::vector<int> release(bool double_below = false);
    // A left release that made no click.
    void released_without_click() {
        state_ = 2;
        time_ = 0;
    }
    // One pass of the event loop.
    void tick();
    int state() const { return state_; }
    int time() const { return time_; }

private:
    int state_ = 0;
    int time_ = 0;
};

class TuiBackend {
public:
    // Where the events the back end produces itself go (focus, unfocus,
    // time): the type code and the widget.
    std::function<void(int type, WidgetId)> send;
    // Called before the active window is destroyed while it is marked for
    // drawing: its last frame can still be drawn.
    std::function<void()> before_close;
    // The terminal's colour capability (COLOR_MODE_INDEXED or _TRUE).
    int color_mode = 2;

    // A widget under parent (0 for a window on the screen) with its box in
    // cells relative to the parent.
    WidgetId make(WidgetId parent, bool window, TuiBox box, u32 flags, RenderFn render = {});
    // Marks the face cells of every widget (for the collector).
    void mark_faces() const;
    TuiWidget* widget(WidgetId id) const { return widgets_.get(id); }
    // Destroys a widget with everything below it and its timers. Closing a
    // window ends the innermost event loop and activates the last window
    // left; removing any other widget does neither.
    void destroy(WidgetId id);
    // The widgets that have no parent: the windows, and any face realised
    // on its own.
    std::vector<WidgetId> roots() const;
    // Back to the state of a fresh start: every widget destroyed (without
    // events), no window, focus, pointer or timer, nothing to draw, the
    // loop's level 0.
    void reset();

    // Moves the focus to a live widget and its window remembers it; the old
    // and the new widget get their events once their windows have been shown
    // (announce_focus).
    void set_focus(WidgetId id);
    WidgetId focus() const { return focus_; }
    // Makes a window the active one and gives the focus back to the widget
    // that last had it there (the window itself when none).
    void activate(WidgetId window);
    // Sends the focus event that the active window's focused widget took
    // before the window was first shown; once per window.
    void announce_focus();
    WidgetId active() const { return active_; }
    const std::vector<WidgetId>& windows() const { return windows_; }
    // Marks the window of the widget (of the focus when 0) for drawing, when
    // it is the active one.
    void mark_dirty(WidgetId id = 0);
    bool dirty() const { return dirty_; }
    WidgetId window_of(WidgetId id) const;

    // Moves or resizes a widget; a window's drawing area becomes its box.
    void set_box(WidgetId id, TuiBox box);

    // The visible child of id whose box contains (x, y), relative to id;
    // searched from the last child to the first. 0 when none.
    WidgetId hit(WidgetId id, float x, float y) const;

    // A widget has at most one timer: callers remove the old one first.
    void start_timer(WidgetId id, int interval_ms);
    void remove_timer(WidgetId id);
    size_t timers() const { return timers_.size(); }
    // Advances every timer by elapsed_ms and sends time to the owners of
    // those that came due (after the walk, as a handler may change them).
    void run_timers(int elapsed_ms);

    // Draws the active window into screen, sized to its drawing area
    // within the terminal's columns and rows. Hidden widgets are skipped
    // with everything below them; every widget is clipped to its own box
    // and those of its ancestors.
    void render(TuiScreen& screen, int screen_cols, int screen_rows);

    // The nesting of the event loop: entering raises it; each quit ends
    // the innermost run and it never goes below 0.
    int loop_level() const { return loop_level_; }
    void enter_loop() { loop_level_++; }
    void post_quit() {
        if (loop_level_ > 0) loop_level_--;
    }

private:
    struct Timer {
        WidgetId owner;
        int interval;
        int elapsed;
    };
    // Widens a window's drawing area to take in box.
    void grow_area(WidgetId window, const TuiBox& box);
    void draw(TuiScreen& screen, WidgetId id, int col, int row, const TuiRect& clip);
    // Drops a widget and everything below it, and every reference to them.
    void forget(WidgetId id);

    WidgetTable widgets_;
    std::vector<WidgetId> windows_;
    std::vector<Timer> timers_;
    bool in_shown_window(WidgetId id) const;
    WidgetId active_ = 0, last_window_ = 0, focus_ = 0, hover_ = 0, captured_ = 0;
    bool dirty_ = false;
    int loop_level_ = 0;
};

}  // namespace zan::gui
