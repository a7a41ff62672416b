// A text list whose items or selection the language changed: the first
// visible row moves so that the items and the selection can be seen.
#include "gui/tui_face_test_support.h"
#include "gui/terminal/tui_views.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/handle.h"

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
};

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
