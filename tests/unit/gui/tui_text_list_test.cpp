// A text list in the back end: the first visible row follows items and
// a selection that the language changed; Up, Down and clicks move the
// selection over the items of every kind of data (block, hash, map); the
// selected row is drawn reversed while the list has the focus.
#include "gui/tui_face_test_support.h"
#include "gui/tui_screen_test_support.h"
#include "gui/terminal/tui_dispatch.h"
#include "gui/terminal/tui_render.h"
#include "gui/terminal/tui_text_list.h"
#include "gui/terminal/tui_views.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/event.h"
#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/hash.h"
#include "runtime/datatypes/map.h"
#include "runtime/terminal/terminal_keys.h"

namespace zan::test {
namespace {

class TuiTextList : public TuiFaceTest {
protected:
    // A list five rows high holding n items, shown in a window.
    ValueCell* list_of(i32 n) {
        ValueCell* win = face("window", pair(0, 0), pair(10, 5));
        ValueCell null;
        handle_make_at(&null, 0, HANDLE_NONE);
        ValueCell wh = realise(win, null);
        ValueCell* f = face("text-list", pair(0, 0), pair(10, 5));
        set_field(f, "data", items(n));
        ValueCell h = realise(f, wh);
        id_ = handle_get(&h);
        return f;
    }
    // A block of the integers 1 to n, kept on the data stack.
    static ValueCell items(i32 n) {
        ValueCell* b = block_push_new(static_cast<u32>(n));
        for (i32 i = 1; i <= n; i++) {
            ValueCell v = integer(i);
            block_append_cell(b, &v);
        }
        return *b;
    }
    // Sends the changes marked by bits to the list's widget.
    void update(ValueCell* f, u32 bits) {
        ValueCell state = field(f, "state");
        block_cell_at(&state, 1)->data2 = bits;
        run("update-view", {*f});
    }
    gui::TuiWidget& widget() { return *gui::tui_backend().widget(id_); }
    gui::WidgetId id_ = 0;

    // The data of three items as a block, a hash or a map (three keys).
    ValueCell three_items(u32 type) {
        ValueCell* b = blk({*str("a"), integer(1), *str("b"), integer(2), *str("c"), integer(3)});
        if (type == TYPE_MAP) {
            ValueCell m;
            map_make_at(&m, b, 0);
            return *stack_push(&m);
        }
        if (type == TYPE_BLOCK) return *blk({*str("a"), *str("b"), *str("c")});
        ValueCell* h = blk({*str("a"), *str("b"), *str("c")});
        hash_from_block(h);
        return *h;
    }
    // A focused list two rows high over data, shown in its window.
    ValueCell* focused_list(const ValueCell& data) {
        ValueCell* win = face("window", pair(0, 0), pair(6, 2));
        ValueCell null;
        handle_make_at(&null, 0, HANDLE_NONE);
        ValueCell wh = realise(win, null);
        ValueCell* f = face("text-list", pair(0, 0), pair(6, 2));
        set_field(f, "flags", word("focusable"));
        set_field(f, "data", data);
        ValueCell h = realise(f, wh);
        id_ = handle_get(&h);
        gui::tui_backend().activate(handle_get(&wh));
        return f;
    }
    // Sends a key to the list's own reaction; answers the events it sent.
    std::vector<int> key(i32 code) {
        std::vector<int> sent;
        gui::widget_react(gui::tui_backend(), gui::EVT_KEY, gui::TuiMessage{id_, 0, 0, code, EVENT_SPECIAL_KEY, 0},
                          [&](int type, const gui::TuiMessage&) {
                              sent.push_back(type);
                              return false;
                          });
        return sent;
    }
};

TEST_F(TuiTextList, ItemsAreCountedForEveryKindOfData) {
    for (u32 type : {TYPE_BLOCK, TYPE_HASH, TYPE_MAP}) {
        SCOPED_TRACE(type);
        ValueCell data = three_items(type);
        EXPECT_EQ(gui::list_item_count(&data), 3);
    }
    ValueCell none = g_none_cell;
    EXPECT_EQ(gui::list_item_count(&none), 0);
    EXPECT_EQ(gui::list_item_count(nullptr), 0);
}

TEST_F(TuiTextList, DownAndUpWalkTheItemsOfEveryKindOfData) {
    const std::vector<int> moved{gui::EVT_SELECT, gui::EVT_CHANGE};
    for (u32 type : {TYPE_BLOCK, TYPE_HASH, TYPE_MAP}) {
        SCOPED_TRACE(type);
        ValueCell* f = focused_list(three_items(type));
        set_field(f, "selected", integer(1));
        // Down to the last item, scrolling the two rows; no further.
        EXPECT_EQ(key(console::KEY_DOWN), moved);
        EXPECT_EQ(key(console::KEY_DOWN), moved);
        EXPECT_EQ(mold(field(f, "selected")), "3");
        EXPECT_EQ(widget().data, 1);
        EXPECT_EQ(key(console::KEY_DOWN), std::vector<int>{});
        EXPECT_EQ(mold(field(f, "selected")), "3");
        EXPECT_EQ(key(console::KEY_UP), moved);
        EXPECT_EQ(mold(field(f, "selected")), "2");
        for (gui::WidgetId w : std::vector<gui::WidgetId>(gui::tui_backend().windows())) gui::tui_backend().destroy(w);
    }
}

TEST_F(TuiTextList, AClickBelowTheItemsSelectsNothing) {
    ValueCell* f = focused_list(three_items(TYPE_HASH));
    widget().data = 2;  // "c" on the first row, nothing on the second
    std::vector<int> sent;
    auto click = [&](float row) {
        sent.clear();
        gui::widget_react(gui::tui_backend(), gui::EVT_CLICK, gui::TuiMessage{id_, 1, row, 0, 0, 0},
                          [&](int type, const gui::TuiMessage& m) {
                              sent.push_back(type);
                              EXPECT_EQ(m.key, 3);
                              return false;
                          });
    };
    click(1);
    EXPECT_EQ(sent, std::vector<int>{});
    EXPECT_EQ(mold(field(f, "selected")), "none");
    click(0);
    EXPECT_EQ(sent, (std::vector<int>{gui::EVT_SELECT, gui::EVT_CHANGE}));
    EXPECT_EQ(mold(field(f, "selected")), "3");
}

TEST_F(TuiTextList, TheSelectedRowIsReversedWhileTheListHasTheFocus) {
    ValueCell* f = focused_list(three_items(TYPE_MAP));
    set_field(f, "text", *str("b\nc\n"));
    set_field(f, "selected", integer(3));
    widget().data = 1;
    gui::TuiScreen screen;
    auto reversed = [&] {
        gui::tui_backend().render(screen, 80, 24);
        std::string rows;
        for (int y = 0; y < screen.rows(); y++)
            for (int x = 0; x < screen.cols(); x++) rows += (screen.at(x, y).attr & gui::CELL_REVERSE) ? 'R' : '.';
        return rows;
    };
    EXPECT_EQ(reversed(), "......RRRRRR");  // the whole second row
    EXPECT_EQ(row_text(screen, 0), "b     ");
    // A selection out of view, or none, reverses nothing; neither does a
    // list without the focus.
    set_field(f, "selected", integer(1));
    EXPECT_EQ(reversed(), "............");
    set_field(f, "selected", integer(2));
    EXPECT_EQ(reversed(), "RRRRRR......");
    widget().flags &= ~gui::WIDGET_FOCUSED;
    EXPECT_EQ(reversed(), "............");
}

constexpr u32 DATA = 1u << 7, SELECTED = 1u << 10;

TEST_F(TuiTextList, TheFirstVisibleRowFollowsNewItemsAndSelection) {
    struct Case {
        const char* what;
        i32 first_row;  // scrolled this far before the change
        i32 new_items;  // 0: the items stay
        i32 selected;   // 0: none
        u32 bits;
        i32 expected;
    };
    const Case cases[] = {
        {"fewer items than the rows scrolled past, first selected", 25, 1, 1, DATA | SELECTED, 0},
        {"fewer items, no selection: the last page", 25, 12, 0, DATA, 7},
        {"a selection below the visible rows", 0, 0, 20, SELECTED, 15},
        {"a selection above the visible rows", 10, 0, 3, SELECTED, 2},
        {"a visible selection moves nothing", 10, 0, 12, SELECTED, 10},
        {"no change flag: nothing moves", 25, 1, 1, 0, 25},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ValueCell* f = list_of(30);
        widget().data = c.first_row;
        if (c.new_items) set_field(f, "data", items(c.new_items));
        if (c.selected) set_field(f, "selected", integer(c.selected));
        update(f, c.bits);
        EXPECT_EQ(widget().data, c.expected);
        for (gui::WidgetId w : std::vector<gui::WidgetId>(gui::tui_backend().windows())) gui::tui_backend().destroy(w);
    }
}

}  // namespace
}  // namespace zan::test
