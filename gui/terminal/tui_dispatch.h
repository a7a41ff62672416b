// From decoded terminal input to the events of widgets: keys go to the
// focused widget, mouse reports to the widgets under the pointer in the
// active window (presses and wheel to the deepest one first, then up
// while nobody handled them), with hover, capture, clicks and double
// clicks. Each event goes to the widget's own reaction and to the
// language (the face's actors), which answers whether it was handled.
#pragma once
#include <functional>
#include <vector>

#include "gui/terminal/tui_input.h"
#include "gui/terminal/tui_widgets.h"

namespace zan::gui {

constexpr int EVT_DOWN = 1, EVT_UP = 2, EVT_MID_DOWN = 3, EVT_MID_UP = 4, EVT_ALT_DOWN = 5, EVT_ALT_UP = 6;
constexpr int EVT_WHEEL = 11, EVT_OVER = 12, EVT_KEY = 13, EVT_KEY_DOWN = 14;

// Characters of key events that widgets react to (the keys without a
// character are console::KEY_UP and the rest, with EVENT_SPECIAL_KEY).
constexpr i32 KEY_CTRL_B = 2, KEY_CTRL_F = 6, KEY_BACKSPACE = 8, KEY_TAB = 9, KEY_ENTER = 13, KEY_DEL = 0x7F,
              KEY_SPACE = ' ';

// What an event carries: the widget, the point relative to it (or the
// key: a code point, or a special key's negative code with flag bit 0),
// the flags, the wheel's amount.
struct TuiMessage {
    WidgetId widget = 0;
    float x = 0, y = 0;
    i32 key = 0;
    u32 flags = 0;
    float amount = 0;
};

class TuiDispatch {
public:
    explicit TuiDispatch(TuiBackend& backend) : b_(backend) {}
    // The language's answer: true when the event was handled ("done").
    std::function<bool(int type, const TuiMessage&)> to_language;
    // The widget's own reaction.
    std::function<void(int type, const TuiMessage&)> to_widget;

    // One decoded item; origin_row is the terminal row of the view's top.
    void input(const TuiInput& in, int origin_row);
    WidgetId hovered() const { return hover_; }
    WidgetId captured() const { return captured_; }
    // One pass of the loop (double-click timing).
    void tick() { clicks_.tick(); }
    // No hover, capture, press or click under way.
    void reset() {
        clicks_ = ClickTiming{};
        hover_ = captured_ = 0;
        pressed_.clear();
        last_release_ = true;
    }

private:
    // Sends an event to a live, enabled widget: its own reaction, then the
    // language; true when the language handled it.
    bool deliver(int type, WidgetId id, float x, float y, u32 flags, float amount = 0);
    void key(const TuiInput& in);
    void mouse(const TuiInput& in, int origin_row);
    bool hover(WidgetId id, float x, float y, u32 flags, bool& seen);
    // Press or release from id down; returns whether it was handled, and
    // sets clicked when a click was produced at id or below.
    bool button(int type, WidgetId id, float x, float y, u32 flags, bool& clicked);
    bool wheel(WidgetId id, float x, float y, u32 flags, float amount);
    // Whether lower lies anywhere below upper.
    bool below(WidgetId upper, WidgetId lower) const;
    bool siblings(WidgetId a, WidgetId b) const;
    // A point relative to the window made relative to id.
    void to_widget_point(WidgetId id, float& x, float& y) const;

    TuiBackend& b_;
    ClickTiming clicks_;
    WidgetId hover_ = 0, captured_ = 0;
    std::vector<WidgetId> pressed_;
    bool last_release_ = true;
    float last_x_ = 0, last_y_ = 0;
};

}  // namespace zan::gui
