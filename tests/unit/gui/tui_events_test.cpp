// Events made by the back end: every field read from the record of the
// message, the face kept alive by the back end across collections, and
// records that are gone.
#include "runtime/terminal/terminal_keys.h"
#include "datatypes/fn_test_support.h"
#include "gui/terminal/tui_events.h"
#include "gui/terminal/tui_routines.h"
#include "runtime/core/collector.h"
#include "runtime/datatypes/event.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/pair.h"

namespace zan::test {
namespace {

class TuiEvents : public FnTest {
protected:
    void SetUp() override {
        FnTest::SetUp();
        gui::tui_events_init();
    }
    void TearDown() override {
        gui::TuiBackend& b = gui::tui_backend();
        for (gui::WidgetId w : std::vector<gui::WidgetId>(b.windows())) b.destroy(w);
        FnTest::TearDown();
    }
    // A window widget whose face is an object with a field n.
    gui::WidgetId widget_with_face(i32 n) {
        gui::TuiBackend& b = gui::tui_backend();
        gui::WidgetId w = b.make(0, true, gui::TuiBox{0, 0, 4, 2}, 0);
        ValueCell* face = make_object("[n: 0]");
        set_field(face, "n", integer(n));
        b.widget(w)->face = *face;
        stack_pop(1);  // only the widget holds the face now
        return w;
    }
    static ValueCell read(ValueCell& event, u32 field) {
        ValueCell v = *event_push_field(&event, field);
        stack_pop(1);
        return v;
    }
};

TEST_F(TuiEvents, FieldsOfAKeyEvent) {
    gui::WidgetId w = widget_with_face(7);
    g_gc.enabled = true;
    gc_collect();  // the face lives on through the widget alone
    make_object("[n: 99]");  // new values where the face was, had it been freed
    stack_pop(1);
    gui::TuiMessage m{w, 4.7f, 2.2f, console::KEY_UP, EVENT_SPECIAL_KEY | EVENT_FLAG_SHIFT, 0};
    ValueCell e;
    gui::make_backend_event(&e, gui::EVT_KEY, m);
    EXPECT_EQ(mold(read(e, 1)), "key");
    ValueCell face = read(e, 2);
    ASSERT_EQ(face.type(), TYPE_OBJECT);
    EXPECT_EQ(int_of(field(&face, "n")), 7);
    EXPECT_EQ(read(e, 3).type(), TYPE_NONE);  // no window in the terminal
    EXPECT_EQ(mold(read(e, 4)), "4x2");
    EXPECT_EQ(mold(read(e, 5)), "up");
    EXPECT_EQ(mold(read(e, 6)), "-20");
    EXPECT_EQ(mold(read(e, 7)), "[shift]");
    EXPECT_EQ(mold(read(e, 14)), "true");
    EXPECT_EQ(mold(read(e, 13)), "false");
}

TEST_F(TuiEvents, KeysCharactersAndTheWheel) {
    gui::WidgetId w = widget_with_face(1);
    struct Case {
        i32 key;
        u32 flags;
        const char* molded;
    } cases[] = {
        {'a', 0, "#\"a\""},       {0x1F600, 0, "#\"\xF0\x9F\x98\x80\""},
        {console::KEY_UP, EVENT_SPECIAL_KEY, "up"},
        {console::KEY_PAGE_DOWN, EVENT_SPECIAL_KEY, "page-down"},
        {console::KEY_F1, EVENT_SPECIAL_KEY, "F1"}, {console::KEY_F12, EVENT_SPECIAL_KEY, "F12"},
        // Between Page Down and F1, and past either end: no key word.
        {console::KEY_PAGE_DOWN - 1, EVENT_SPECIAL_KEY, "none"},
        {console::KEY_UP + 1, EVENT_SPECIAL_KEY, "none"},
        {console::KEY_F12 - 1, EVENT_SPECIAL_KEY, "none"},
    };
    for (const Case& c : cases) {
        ValueCell e;
        gui::make_backend_event(&e, gui::EVT_KEY, gui::TuiMessage{w, 0, 0, c.key, c.flags, 0});
        EXPECT_EQ(mold(read(e, 5)), c.molded) << c.key;
    }
    ValueCell wheel;
    gui::make_backend_event(&wheel, gui::EVT_WHEEL, gui::TuiMessage{w, 1, 1, 0, 0, -1.0f});
    ValueCell picked = read(wheel, 6);
    ASSERT_EQ(picked.type(), TYPE_FLOAT);
    EXPECT_EQ(picked.get_float(), -1.0);
    EXPECT_EQ(mold(read(wheel, 1)), "wheel");
}

TEST_F(TuiEvents, GoneRecordsAndWidgetsReadNone) {
    gui::WidgetId w = widget_with_face(3);
    ValueCell old;
    gui::make_backend_event(&old, gui::EVT_CLICK, gui::TuiMessage{w, 1, 1, 0, 0, 0});
    ValueCell recent;
    gui::make_backend_event(&recent, gui::EVT_CLICK, gui::TuiMessage{w, 2, 3, 0, 0, 0});
    for (u32 i = 0; i < gui::EVENT_RECORDS - 1; i++) {
        ValueCell e;
        gui::make_backend_event(&e, gui::EVT_OVER, gui::TuiMessage{w, 0, 0, 0, 0, 0});
    }
    EXPECT_EQ(read(old, 2).type(), TYPE_NONE);
    EXPECT_EQ(read(old, 4).type(), TYPE_NONE);
    EXPECT_EQ(mold(read(old, 1)), "click");  // the type is in the event itself
    EXPECT_EQ(mold(read(recent, 4)), "2x3");
    EXPECT_EQ(read(recent, 2).type(), TYPE_OBJECT);
    gui::tui_backend().destroy(w);
    EXPECT_EQ(read(recent, 2).type(), TYPE_NONE);
}

}  // namespace
}  // namespace zan::test
