// Faces realised as widgets through make-view and destroy-view, and their
// handles checked on every use.
#include "gui/tui_face_test_support.h"
#include "gui/terminal/tui_routines.h"
#include "gui/terminal/tui_views.h"
#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"

namespace zan::test {
namespace {

class TuiViews : public TuiFaceTest {
protected:
    static ValueCell handle(u32 value) {
        ValueCell h;
        handle_make_at(&h, value, HANDLE_WINDOW);
        return h;
    }
};

TEST_F(TuiViews, WindowAndChildBecomeWidgets) {
    gui::TuiBackend& b = gui::tui_backend();
    ValueCell* win = face("window", pair(10, 5), pair(20, 4));
    ValueCell wh = realise(win, handle(0));
    ASSERT_EQ(wh.type(), TYPE_HANDLE);
    EXPECT_EQ(handle_kind(&wh), static_cast<u32>(HANDLE_WINDOW));
    const gui::TuiWidget* w = b.widget(handle_get(&wh));
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(w->window);
    EXPECT_EQ(mold(field(win, "offset")), "0x0");  // windows stand at the top left
    EXPECT_EQ(w->box.x1, 20);
    EXPECT_EQ(w->box.y1, 4);
    EXPECT_TRUE(w->flags & gui::WIDGET_SIZE_PAIR);
    ValueCell* button = face("button", pair(2, 1), pair(6, 1));
    set_field(button, "flags", *blk({word("focusable"), word("password"), word("no-border")}));
    set_field(button, "visible?", word("false"));
    ValueCell f = field(button, "visible?");
    f.set_type(TYPE_LOGIC);
    f.data1 = 0;
    set_field(button, "visible?", f);
    ValueCell bh = realise(button, wh);
    const gui::TuiWidget* bw = b.widget(handle_get(&bh));
    ASSERT_NE(bw, nullptr);
    EXPECT_EQ(bw->parent, handle_get(&wh));
    EXPECT_EQ(bw->flags & (gui::WIDGET_FOCUSABLE | gui::WIDGET_PASSWORD | gui::WIDGET_HIDDEN),
              gui::WIDGET_FOCUSABLE | gui::WIDGET_PASSWORD | gui::WIDGET_HIDDEN);
    ValueCell off = field(button, "offset");
    ASSERT_EQ(off.type(), TYPE_POINT2D);  // a pair offset becomes a point
    EXPECT_EQ(point_x(&off), 2.0f);
    EXPECT_EQ(bw->box.x1, 8.0f);
    EXPECT_EQ(gui::face_widget(button), handle_get(&bh));
}

TEST_F(TuiViews, DestroyedAndForgedHandlesAreRefused) {
    gui::TuiBackend& b = gui::tui_backend();
    ValueCell* win = face("window", pair(0, 0), pair(10, 2));
    ValueCell wh = realise(win, handle(0));
    ValueCell* child = face("base", pair(0, 0), pair(2, 1));
    realise(child, wh);
    b.enter_loop();
    ValueCell f;
    logic_box(&f, false);
    run("destroy-view", {*child, f});
    EXPECT_EQ(b.loop_level(), 1);  // removing a face from a window: the loop goes on
    EXPECT_EQ(field(child, "state").type(), TYPE_NONE);
    run("destroy-view", {*win, f});
    EXPECT_EQ(b.loop_level(), 0);
    EXPECT_EQ(field(win, "state").type(), TYPE_NONE);
    EXPECT_EQ(b.widget(handle_get(&wh)), nullptr);
    ValueCell* late = face("base", pair(0, 0), pair(1, 1));
    EXPECT_EQ(error_of([&] { run("make-view", {*late, wh}); }), Err::script_invalid_arg);
    EXPECT_EQ(error_of([&] { run("make-view", {*late, handle(0x12345)}); }), Err::script_invalid_arg);
    EXPECT_EQ(error_of([&] { run("show-window", {wh}); }), Err::script_invalid_arg);
    // A face whose state holds a stale handle.
    set_field(late, "state", *blk({wh}));
    EXPECT_EQ(error_of([&] { run("redraw", {*late}); }), Err::script_invalid_arg);
}

// The reset at the end of the outermost event loop: every view still
// open ends (windows, their faces and a face realised on its own), with
// its timers, and the back end is as at start-up.
TEST_F(TuiViews, ResetEndsEveryViewLeftOpen) {
    gui::TuiBackend& b = gui::tui_backend();
    ValueCell* win = face("window", pair(0, 0), pair(10, 2));
    ValueCell wh = realise(win, handle(0));
    ValueCell* child = face("base", pair(0, 0), pair(2, 1));
    set_field(child, "flags", word("focusable"));
    set_field(child, "rate", integer(4));
    ValueCell ch = realise(child, wh);
    ValueCell* other = face("window", pair(0, 0), pair(4, 1));
    ValueCell oh = realise(other, handle(0));
    ValueCell* alone = face("base", pair(0, 0), pair(1, 1));
    ValueCell ah = realise(alone, handle(0));
    b.activate(handle_get(&oh));
    b.enter_loop();
    ASSERT_EQ(b.windows().size(), 2u);
    ASSERT_EQ(b.timers(), 1u);
    ASSERT_NE(b.focus(), 0u);

    gui::tui_views_reset();
    EXPECT_TRUE(b.windows().empty());
    EXPECT_TRUE(b.roots().empty());
    EXPECT_EQ(b.timers(), 0u);
    EXPECT_EQ(b.active(), 0u);
    EXPECT_EQ(b.focus(), 0u);
    EXPECT_FALSE(b.dirty());
    EXPECT_EQ(b.loop_level(), 0);
    for (ValueCell h : {wh, ch, oh, ah}) EXPECT_EQ(b.widget(handle_get(&h)), nullptr);
    for (ValueCell* f : {win, child, other, alone}) EXPECT_EQ(field(f, "state").type(), TYPE_NONE);
    // A new window afterwards is the only one, and takes the focus.
    ValueCell* next = face("window", pair(0, 0), pair(3, 1));
    ValueCell nh = realise(next, handle(0));
    EXPECT_EQ(b.windows(), std::vector<gui::WidgetId>{handle_get(&nh)});
    EXPECT_EQ(b.focus(), handle_get(&nh));
}

TEST_F(TuiViews, FlagsAndRates) {
    gui::TuiBackend& b = gui::tui_backend();
    ValueCell* win = face("window", pair(0, 0), pair(10, 2));
    set_field(win, "flags", word("all-over"));
    set_field(win, "rate", integer(4));
    ValueCell wh = realise(win, handle(0));
    EXPECT_TRUE(b.widget(handle_get(&wh))->flags & gui::WIDGET_ALL_OVER);
    EXPECT_EQ(b.timers(), 1u);
    ValueCell* bad = face("base", pair(0, 0), pair(1, 1));
    set_field(bad, "flags", *blk({word("focusable"), word("sparkly")}));
    EXPECT_EQ(error_of([&] { run("make-view", {*bad, wh}); }), Err::script_invalid_arg);
    ValueCell* zero = face("base", pair(0, 0), pair(1, 1));
    set_field(zero, "rate", integer(0));
    EXPECT_EQ(error_of([&] { run("make-view", {*zero, wh}); }), Err::script_invalid_facet_type);
    EXPECT_TRUE(b.widget(handle_get(&wh))->children.empty());  // nothing made for the refused faces
}

TEST_F(TuiViews, UpdateViewAppliesTheChangedFacets) {
    gui::TuiBackend& b = gui::tui_backend();
    ValueCell* win = face("window", pair(0, 0), pair(10, 3));
    ValueCell wh = realise(win, handle(0));
    ValueCell* child = face("base", pair(1, 1), pair(2, 1));
    ValueCell ch = realise(child, wh);
    gui::WidgetId id = handle_get(&ch);
    set_field(child, "offset", pair(3, 2));
    set_field(child, "size", pair(4, 1));
    ValueCell no;
    logic_box(&no, false);
    set_field(child, "visible?", no);
    set_field(child, "enabled?", no);
    set_field(child, "flags", *blk({word("all-over")}));
    set_field(child, "rate", integer(10));
    ValueCell state = field(child, "state");
    u32 bits = (1u << 1) | (1u << 2) | (1u << 8) | (1u << 9) | (1u << 11) | (1u << 16);
    block_cell_at(&state, 1)->data2 = bits;
    run("update-view", {*child});
    const gui::TuiWidget* w = b.widget(id);
    EXPECT_EQ(w->box.x0, 3.0f);
    EXPECT_EQ(w->box.y0, 2.0f);
    EXPECT_EQ(w->box.x1, 7.0f);
    EXPECT_EQ(w->flags & (gui::WIDGET_HIDDEN | gui::WIDGET_DISABLED | gui::WIDGET_ALL_OVER),
              gui::WIDGET_HIDDEN | gui::WIDGET_DISABLED | gui::WIDGET_ALL_OVER);
    EXPECT_EQ(b.timers(), 1u);
    EXPECT_EQ(int_of(*block_cell_at(&state, 1)), 0);  // the change flags are cleared
    // Facets without their change flag are left as they are.
    set_field(child, "offset", pair(0, 0));
    run("update-view", {*blk({*child})});
    EXPECT_EQ(b.widget(id)->box.x0, 3.0f);
    // The window's selected face takes the focus.
    set_field(win, "selected", *child);
    ValueCell wstate = field(win, "state");
    block_cell_at(&wstate, 1)->data2 = 1u << 10;
    run("update-view", {*win});
    EXPECT_EQ(b.focus(), id);
    EXPECT_EQ(error_of([&] { run("update-view", {*blk({*child, integer(1)})}); }), Err::script_invalid_type);
    EXPECT_EQ(error_of([&] { run("update-view", {integer(1)}); }), Err::script_invalid_type);
}

}  // namespace
}  // namespace zan::test
