// Keys to the focused widget, presses, releases, clicks and double clicks,
// the pointer moving over widgets, the wheel.
#include <gtest/gtest.h>

#include <set>

#include "runtime/terminal/terminal_keys.h"
#include "gui/terminal/tui_dispatch.h"
#include "runtime/datatypes/event.h"

using namespace zan;
using namespace zan::gui;

namespace {
struct Got {
    char where;  // 'L' language, 'W' widget
    int type;
    WidgetId id;
    float x, y;
    i32 key;
    u32 flags;
    bool operator==(const Got&) const = default;
};

class Dispatch : public ::testing::Test {
protected:
    void SetUp() override {
        win = b.make(0, true, TuiBox{0, 0, 20, 5}, 0);
        // A panel at (2, 1) holding a button at (1, 1) of it.
        panel = b.make(win, false, TuiBox{2, 1, 12, 4}, 0);
        button = b.make(panel, false, TuiBox{1, 1, 5, 2}, WIDGET_FOCUSABLE);
        b.activate(win);
        d.to_language = [this](int type, const TuiMessage& m) {
            got.push_back({'L', type, m.widget, m.x, m.y, m.key, m.flags});
            return handled_by_language.count(type) > 0;
        };
        d.to_widget = [this](int type, const TuiMessage& m) {
            got.push_back({'W', type, m.widget, m.x, m.y, m.key, m.flags});
        };
    }
    TuiInput mouse(int button_number, bool release, int col, int row, bool motion = false) {
        TuiInput in;
        in.kind = TuiInput::MOUSE;
        in.button = button_number;
        in.release = release;
        in.motion = motion;
        in.col = col;
        in.row = row;
        return in;
    }
    std::vector<int> types(char where, WidgetId id) const {
        std::vector<int> out;
        for (const Got& g : got)
            if (g.where == where && g.id == id) out.push_back(g.type);
        return out;
    }
    TuiBackend b;
    TuiDispatch d{b};
    WidgetId win = 0, panel = 0, button = 0;
    std::vector<Got> got;
    std::set<int> handled_by_language;
};
}  // namespace

TEST_F(Dispatch, KeysGoToTheLanguageFirstAndToTheWidgetWhenUnhandled) {
    TuiInput a;
    a.ch = 'a';
    d.input(a, 0);
    EXPECT_EQ(got, (std::vector<Got>{{'L', EVT_KEY_DOWN, button, 0, 0, 'a', 0},
                                     {'L', EVT_KEY, button, 0, 0, 'a', 0},
                                     {'W', EVT_KEY, button, 0, 0, 'a', 0}}));
    got.clear();
    TuiInput up;
    up.code = console::KEY_UP;
    up.flags = EVENT_FLAG_CONTROL;
    handled_by_language = {EVT_KEY};
    d.input(up, 0);
    EXPECT_EQ(got, (std::vector<Got>{{'L', EVT_KEY_DOWN, button, 0, 0, console::KEY_UP, EVENT_FLAG_CONTROL | 1},
                                     {'L', EVT_KEY, button, 0, 0, console::KEY_UP, EVENT_FLAG_CONTROL | 1}}));
    got.clear();
    handled_by_language = {EVT_KEY_DOWN};
    d.input(a, 0);
    EXPECT_EQ(got.size(), 1u);
    got.clear();
    b.widget(button)->flags |= WIDGET_DISABLED;
    d.input(a, 0);
    EXPECT_TRUE(got.empty());
}

TEST_F(Dispatch, PressAndReleaseMakeAClickOnTheDeepestWidget) {
    // The view drawn from terminal row 3: the report's row 5 is view row 1.
    d.input(mouse(3, false, 5, 5), 2);  // hover the button first
    got.clear();
    d.input(mouse(0, false, 5, 5), 2);
    d.input(mouse(0, true, 5, 5), 2);
    // The button at window cell (4, 2) is the panel's (2, 1), the button's (1, 0).
    EXPECT_EQ(types('L', button), (std::vector<int>{EVT_DOWN, EVT_UP, EVT_CLICK}));
    EXPECT_EQ(types('W', button), (std::vector<int>{EVT_DOWN, EVT_UP, EVT_CLICK}));
    EXPECT_TRUE(types('L', panel).size() == 2 && types('L', panel)[0] == EVT_DOWN);  // not handled below
    EXPECT_TRUE(types('L', win).size() == 2);
    EXPECT_EQ(got[0], (Got{'W', EVT_DOWN, button, 1, 0, 0, 0}));
    EXPECT_EQ(d.captured(), 0u);
    // A press that the button's actor handles does not reach the panel.
    got.clear();
    handled_by_language = {EVT_DOWN, EVT_UP};
    d.input(mouse(0, false, 5, 5), 2);
    d.input(mouse(0, true, 5, 5), 2);
    EXPECT_TRUE(types('L', panel).empty());
    EXPECT_EQ(types('L', button), (std::vector<int>{EVT_DOWN, EVT_UP, EVT_CLICK, EVT_DBL_CLICK}));
}

TEST_F(Dispatch, DoubleClicksAndAThirdClick) {
    WidgetId lone = b.make(win, false, TuiBox{15, 0, 18, 1}, 0);
    for (int i = 0; i < 3; i++) {
        d.input(mouse(0, false, 16, 1), 0);
        d.input(mouse(0, true, 16, 1), 0);
    }
    std::vector<int> clicks;
    for (int t : types('L', lone))
        if (t == EVT_CLICK || t == EVT_DBL_CLICK) clicks.push_back(t);
    EXPECT_EQ(clicks, (std::vector<int>{EVT_CLICK, EVT_CLICK, EVT_DBL_CLICK, EVT_CLICK}));
    // Slow clicks are single.
    got.clear();
    for (int i = 0; i < 2; i++) {
        for (int k = 0; k < 20; k++) d.tick();  // 660 ms
        d.input(mouse(0, false, 16, 1), 0);
        d.input(mouse(0, true, 16, 1), 0);
    }
    clicks.clear();
    for (int t : types('L', lone))
        if (t == EVT_CLICK || t == EVT_DBL_CLICK) clicks.push_back(t);
    EXPECT_EQ(clicks, (std::vector<int>{EVT_CLICK, EVT_CLICK}));
}

TEST_F(Dispatch, ClickingAFocusableWidgetFocusesIt) {
    WidgetId other = b.make(win, false, TuiBox{15, 0, 18, 1}, WIDGET_FOCUSABLE);
    ASSERT_EQ(b.focus(), button);
    d.input(mouse(0, false, 16, 1), 0);
    d.input(mouse(0, true, 16, 1), 0);
    EXPECT_EQ(b.focus(), other);
}

TEST_F(Dispatch, OtherButtonsAndDragging) {
    d.input(mouse(2, false, 5, 3), 0);
    d.input(mouse(2, true, 5, 3), 0);
    d.input(mouse(1, false, 5, 3), 0);
    d.input(mouse(1, true, 5, 3), 0);
    EXPECT_EQ(types('L', button), (std::vector<int>{EVT_ALT_DOWN, EVT_ALT_UP, EVT_MID_DOWN, EVT_MID_UP}));
    got.clear();
    // A press, then the pointer moving with the button held: over with down.
    d.input(mouse(0, false, 5, 3), 0);
    got.clear();
    d.input(mouse(0, false, 6, 3, true), 0);
    ASSERT_FALSE(got.empty());
    for (const Got& g : got) {
        EXPECT_EQ(g.type, EVT_OVER);
        EXPECT_TRUE(g.flags & EVENT_FLAG_DOWN);
    }
}

TEST_F(Dispatch, AWidgetDraggedPastItsEdgeFollowsThePointerWhenItGetsEveryMove) {
    for (bool all_over : {false, true}) {
        SCOPED_TRACE(all_over);
        d.reset();
        if (all_over) b.widget(button)->flags |= WIDGET_ALL_OVER;
        d.input(mouse(3, false, 5, 3, true), 0);  // onto the button, at (1, 0) of it
        d.input(mouse(0, false, 5, 3), 0);        // pressed there
        got.clear();
        // One report far beyond the button's edge, then another.
        d.input(mouse(0, false, 15, 4, true), 0);
        d.input(mouse(0, false, 17, 5, true), 0);
        std::vector<Got> overs;
        for (const Got& g : got)
            if (g.where == 'L' && g.id == button && !(g.flags & EVENT_FLAG_AWAY)) overs.push_back(g);
        if (!all_over) {
            EXPECT_TRUE(overs.empty());
            continue;
        }
        // In the button's own coordinates (it stands at 3x2 of the window).
        ASSERT_EQ(overs.size(), 2u);
        EXPECT_EQ(overs[0], (Got{'L', EVT_OVER, button, 11, 1, 0, EVENT_FLAG_DOWN}));
        EXPECT_EQ(overs[1], (Got{'L', EVT_OVER, button, 13, 2, 0, EVENT_FLAG_DOWN}));
        d.input(mouse(0, true, 17, 5), 0);
    }
}

TEST_F(Dispatch, PointerEnteringAndLeaving) {
    d.input(mouse(3, false, 5, 3, true), 0);  // onto the button
    EXPECT_EQ(d.hovered(), button);
    EXPECT_FALSE(types('L', button).empty());
    got.clear();
    d.input(mouse(3, false, 3, 2, true), 0);  // onto the panel, off the button
    EXPECT_EQ(d.hovered(), panel);
    ASSERT_FALSE(types('L', button).empty());
    bool away = false;
    for (const Got& g : got)
        if (g.id == button && (g.flags & EVENT_FLAG_AWAY)) away = true;
    EXPECT_TRUE(away);
}

TEST_F(Dispatch, WheelGoesUpUntilHandled) {
    d.input(mouse(4, false, 5, 3), 0);
    EXPECT_EQ(types('L', button), std::vector<int>{EVT_WHEEL});
    EXPECT_EQ(types('L', panel), std::vector<int>{EVT_WHEEL});
    EXPECT_EQ(types('L', win), std::vector<int>{EVT_WHEEL});
    EXPECT_TRUE(types('W', button).empty());  // straight to the language
    got.clear();
    handled_by_language = {EVT_WHEEL};
    d.input(mouse(5, false, 5, 3), 0);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].id, button);
}
