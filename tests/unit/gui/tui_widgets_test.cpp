// Widget handles, the window records, focus, destroying, timers, click
// timing, the loop level and drawing the active window into cells.
#include <gtest/gtest.h>

#include "gui/tui_screen_test_support.h"
#include "gui/terminal/tui_text.h"
#include "gui/terminal/tui_widgets.h"

using namespace zan;
using namespace zan::gui;

namespace {
struct Sent {
    int type;
    WidgetId id;
    bool operator==(const Sent&) const = default;
};

class Backend : public ::testing::Test {
protected:
    void SetUp() override {
        b.send = [this](int type, WidgetId id) { sent.push_back({type, id}); };
    }
    TuiBackend b;
    std::vector<Sent> sent;
};

// A renderer that fills the widget's visible cells with one character.
RenderFn fill_with(u32 cp) {
    return [cp](TuiScreen& s, int, int, const TuiWidget&, const TuiRect& clip) {
        s.fill(clip, cp, TuiStyle{});
    };
}
RenderFn text(const char* t) {
    return [t](TuiScreen& s, int col, int row, const TuiWidget&, const TuiRect& clip) {
        write_text(s, col, row, t, TuiPen{}, clip);
    };
}
TuiBox box(float x, float y, float w, float h) { return {x, y, x + w, y + h}; }
}  // namespace

TEST(WidgetHandles, StaleAndForgedHandlesFindNothing) {
    WidgetTable t;
    WidgetId a = t.add(std::make_unique<TuiWidget>());
    WidgetId b = t.add(std::make_unique<TuiWidget>());
    ASSERT_NE(a, 0u);
    ASSERT_NE(t.get(a), nullptr);
    EXPECT_NE(t.get(a), t.get(b));
    t.remove(a);
    EXPECT_EQ(t.get(a), nullptr);  // stale
    WidgetId c = t.add(std::make_unique<TuiWidget>());
    EXPECT_EQ(c & 0xFFFF, a & 0xFFFF);  // the slot is used again ...
    EXPECT_NE(c, a);                    // ... under a new generation
    EXPECT_EQ(t.get(a), nullptr);
    EXPECT_NE(t.get(c), nullptr);
    for (WidgetId forged : {0u, 0xFFFFu, (b & 0xFFFF0000u) | 0x1234u, b ^ 0x10000u, b + 0x20000u})
        EXPECT_EQ(t.get(forged), nullptr) << std::hex << forged;
    t.remove(a);  // removing a stale handle changes nothing
    EXPECT_NE(t.get(c), nullptr);
    EXPECT_EQ(t.live(), 2u);
}

TEST_F(Backend, WindowsStandAtTheTopLeftAndGrowTheirArea) {
    WidgetId w = b.make(0, true, box(10, 5, 4, 2), 0);
    const TuiWidget* win = b.widget(w);
    EXPECT_EQ(win->box.x0, 0);
    EXPECT_EQ(win->box.x1, 4);
    b.make(w, false, box(2, 1, 6, 3), 0);
    EXPECT_EQ(win->area.x1, 8);
    EXPECT_EQ(win->area.y1, 4);
    EXPECT_EQ(b.focus(), w);  // the first window takes the focus
}

TEST_F(Backend, FirstFocusableWidgetTakesTheFocus) {
    WidgetId w = b.make(0, true, box(0, 0, 10, 3), 0);
    WidgetId label = b.make(w, false, box(0, 0, 5, 1), 0);
    WidgetId f1 = b.make(w, false, box(0, 1, 5, 1), WIDGET_FOCUSABLE);
    WidgetId f2 = b.make(w, false, box(0, 2, 5, 1), WIDGET_FOCUSABLE);
    EXPECT_EQ(b.focus(), f1);
    EXPECT_TRUE(b.widget(f1)->flags & WIDGET_FOCUSED);
    EXPECT_FALSE(b.widget(w)->flags & WIDGET_FOCUSED);
    // The window is not shown yet: its faces get their focus event later.
    EXPECT_TRUE(sent.empty());
    b.activate(w);
    EXPECT_TRUE(sent.empty());
    b.announce_focus();
    EXPECT_EQ(sent, (std::vector<Sent>{{EVT_FOCUS, f1}}));
    b.announce_focus();  // once per window
    b.set_focus(f1);     // the focus it has already: no new events
    EXPECT_EQ(sent.size(), 1u);
    sent.clear();
    b.set_focus(f2);
    EXPECT_EQ(sent, (std::vector<Sent>{{EVT_UNFOCUS, f1}, {EVT_FOCUS, f2}}));
    EXPECT_FALSE(b.widget(f1)->flags & WIDGET_FOCUSED);
    EXPECT_EQ(b.widget(w)->focus, f2);
    sent.clear();
    b.set_focus(label ^ 0x10000u);  // a stale handle: nothing moves
    EXPECT_TRUE(sent.empty());
    EXPECT_EQ(b.focus(), f2);
}

TEST_F(Backend, RemovingAWidgetLeavesTheLoopRunningClosingAWindowEndsIt) {
    WidgetId w1 = b.make(0, true, box(0, 0, 10, 3), 0);
    WidgetId panel = b.make(w1, false, box(0, 0, 10, 3), 0);
    WidgetId button = b.make(panel, false, box(0, 0, 4, 1), WIDGET_FOCUSABLE);
    b.activate(w1);
    b.enter_loop();
    b.start_timer(button, 100);
    b.destroy(panel);
    EXPECT_EQ(b.loop_level(), 1);  // not a window: the loop goes on
    EXPECT_EQ(b.widget(button), nullptr);
    EXPECT_EQ(b.timers(), 0u);
    EXPECT_EQ(b.focus(), 0u);
    EXPECT_TRUE(b.widget(w1)->children.empty());
    WidgetId w2 = b.make(0, true, box(0, 0, 5, 1), 0);
    b.activate(w2);
    b.destroy(w2);
    EXPECT_EQ(b.loop_level(), 0);
    EXPECT_EQ(b.active(), w1);  // the last window left becomes active
    b.destroy(w1);
    EXPECT_EQ(b.loop_level(), 0);  // never below 0
    EXPECT_TRUE(b.windows().empty());
    EXPECT_EQ(b.active(), 0u);
}

TEST_F(Backend, HitTestingTakesTheLastVisibleChild) {
    WidgetId w = b.make(0, true, box(0, 0, 10, 5), 0);
    WidgetId under = b.make(w, false, box(0, 0, 6, 3), 0);
    WidgetId over = b.make(w, false, box(2, 1, 6, 3), 0);
    EXPECT_EQ(b.hit(w, 3, 2), over);
    EXPECT_EQ(b.hit(w, 1, 0), under);
    EXPECT_EQ(b.hit(w, 8, 4), 0u);  // right and bottom edges are outside
    EXPECT_EQ(b.hit(w, 7.9f, 3.9f), over);
    set_hidden(b, over, true);
    EXPECT_EQ(b.hit(w, 3, 2), under);
}

TEST_F(Backend, TimersFireAtTheirInterval) {
    EXPECT_EQ(rate_interval_per_second(3), 333);
    EXPECT_EQ(rate_interval_per_second(0), -1);
    EXPECT_EQ(rate_interval_per_second(-2), -1);
    EXPECT_EQ(rate_interval_of_seconds(0.5), 500);
    EXPECT_EQ(rate_interval_of_seconds(0), -1);
    WidgetId w = b.make(0, true, box(0, 0, 4, 1), 0);
    WidgetId x = b.make(w, false, box(0, 0, 1, 1), 0);
    sent.clear();
    b.start_timer(x, 100);
    for (int pass = 0; pass < 3; pass++) b.run_timers(33);
    EXPECT_TRUE(sent.empty());
    b.run_timers(33);  // 132 ms
    EXPECT_EQ(sent, (std::vector<Sent>{{EVT_TIME, x}}));
    sent.clear();
    for (int pass = 0; pass < 3; pass++) b.run_timers(33);
    EXPECT_TRUE(sent.empty());
    // A handler that destroys the owner while the timers run.
    b.send = [&](int type, WidgetId id) {
        sent.push_back({type, id});
        b.destroy(id);
    };
    b.start_timer(w, 10);
    b.run_timers(40);
    EXPECT_EQ(sent, (std::vector<Sent>{{EVT_TIME, x}, {EVT_TIME, w}}));
    EXPECT_EQ(b.timers(), 0u);
    EXPECT_TRUE(b.windows().empty());
}

TEST(ClickTimingTest, DoubleClicksAndTheThirdClick) {
    ClickTiming c;
    EXPECT_EQ(c.release(), std::vector<int>{EVT_CLICK});
    for (int i = 0; i < 5; i++) c.tick();  // 165 ms
    EXPECT_EQ(c.release(), (std::vector<int>{EVT_CLICK, EVT_DBL_CLICK}));
    EXPECT_EQ(c.release(), std::vector<int>{EVT_CLICK});  // a third quick click
    for (int i = 0; i < 16; i++) c.tick();               // 528 ms: too late
    EXPECT_EQ(c.release(), std::vector<int>{EVT_CLICK});
    for (int i = 0; i < 100; i++) c.tick();
    EXPECT_EQ(c.time(), 825);  // stops counting once past 800
    EXPECT_EQ(c.release(true), (std::vector<int>{EVT_CLICK, EVT_DBL_CLICK}));
}

TEST_F(Backend, RenderingTheActiveWindowCellByCell) {
    WidgetId w = b.make(0, true, box(0, 0, 6, 3), 0, fill_with('.'));
    WidgetId panel = b.make(w, false, box(1, 1, 4, 2), 0, fill_with('#'));
    b.make(panel, false, box(2, 0, 5, 1), 0, text("abcdef"));  // sticks out of the panel
    WidgetId hidden = b.make(w, false, box(0, 0, 2, 1), 0, fill_with('H'));
    b.make(hidden, false, box(0, 0, 1, 1), 0, fill_with('C'));
    set_hidden(b, hidden, true);
    b.activate(w);
    TuiScreen s;
    b.render(s, 80, 24);
    EXPECT_FALSE(b.dirty());
    ASSERT_EQ(s.cols(), 6);
    ASSERT_EQ(s.rows(), 3);
    EXPECT_EQ(row_text(s, 0), "......");
    EXPECT_EQ(row_text(s, 1), ".##ab.");
    EXPECT_EQ(row_text(s, 2), ".####.");
    // The terminal's size clamps the buffer.
    b.render(s, 4, 2);
    EXPECT_EQ(s.cols(), 4);
    EXPECT_EQ(s.rows(), 2);
    EXPECT_EQ(row_text(s, 1), ".##a");
    // Showing the hidden subtree draws it over the earlier widgets.
    set_hidden(b, hidden, false);
    EXPECT_TRUE(b.dirty());
    b.render(s, 80, 24);
    EXPECT_EQ(row_text(s, 0), "CH....");
}

TEST_F(Backend, OnlyTheActiveWindowIsDrawnAndMarkedDirty) {
    WidgetId w1 = b.make(0, true, box(0, 0, 3, 1), 0, fill_with('1'));
    WidgetId w2 = b.make(0, true, box(0, 0, 2, 2), 0, fill_with('2'));
    WidgetId in1 = b.make(w1, false, box(0, 0, 1, 1), 0);
    b.activate(w2);
    TuiScreen s;
    b.render(s, 80, 24);
    EXPECT_EQ(row_text(s, 0), "22");
    b.mark_dirty(in1);
    EXPECT_FALSE(b.dirty());
    b.activate(w1);
    b.render(s, 80, 24);
    EXPECT_EQ(row_text(s, 0), "111");
    b.mark_dirty(in1);
    EXPECT_TRUE(b.dirty());
}
