// Faces drawn into the cell buffer by the renderer of their type, and the
// widgets' own reactions (a button's Space).
#include "gui/tui_face_test_support.h"
#include "gui/tui_screen_test_support.h"
#include "gui/terminal/tui_color.h"
#include "gui/terminal/tui_face.h"
#include "gui/terminal/tui_render.h"
#include "gui/terminal/tui_routines.h"
#include "gui/terminal/tui_views.h"
#include "runtime/datatypes/event.h"
#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/terminal/terminal_keys.h"

namespace zan::test {
namespace {

class TuiRender : public TuiFaceTest {
protected:
    // A window of cols x rows holding one face of the given type.
    ValueCell* shown(const char* type, ValueCell size, const char* text) {
        ValueCell* win = face("window", pair(0, 0), size);
        ValueCell null;
        handle_make_at(&null, 0, HANDLE_NONE);
        win_ = realise(win, null);
        ValueCell* f = face(type, pair(0, 0), size);
        if (text) set_field(f, "text", *str(text));
        return f;
    }
    gui::WidgetId show(ValueCell* f) {
        ValueCell h = realise(f, win_);
        gui::tui_backend().activate(handle_get(&win_));
        return handle_get(&h);
    }
    std::string draw() {
        gui::tui_backend().render(screen_, 80, 24);
        std::string out;
        for (int y = 0; y < screen_.rows(); y++) out += row_text(screen_, y) + "|";
        return out;
    }
    static ValueCell tuple(i32 r, i32 g, i32 b) {
        ValueCell t;
        tuple_make_rgba(&t, r, g, b, -1);
        return t;
    }
    ValueCell win_{0, 0, 0, 0};
    gui::TuiScreen screen_;
};

TEST_F(TuiRender, TextIsAlignedByThePara) {
    struct Case {
        const char* align;
        const char* v_align;
        const char* rows;
    };
    const Case cases[] = {
        {"left", "top", "OK    |      |      |"},
        {"center", "top", "  OK  |      |      |"},
        {"right", "top", "    OK|      |      |"},
        {"left", "middle", "      |OK    |      |"},
        {"right", "bottom", "      |      |    OK|"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.align) + " " + c.v_align);
        ValueCell* f = shown("text", pair(6, 3), "OK");
        ValueCell* para = make_object("[align: none v-align: none wrap?: false]");
        set_field(para, "align", word(c.align));
        set_field(para, "v-align", word(c.v_align));
        set_field(f, "para", *para);
        show(f);
        EXPECT_EQ(draw(), c.rows);
        gui::tui_backend().destroy(handle_get(&win_));
    }
}

TEST_F(TuiRender, BackgroundHintEscapesAndClipping) {
    ValueCell* f = shown("base", pair(4, 1), "ABCDEFGH");
    set_field(f, "color", tuple(255, 0, 0));
    show(f);
    EXPECT_EQ(draw(), "ABCD|");  // clipped to the face's box
    for (int x = 0; x < 4; x++) EXPECT_EQ(screen_.at(x, 0).bg, gui::color_from_tuple(0x0000FF));
    gui::tui_backend().destroy(handle_get(&win_));

    // An empty text shows the hint of the options, dim.
    f = shown("field", pair(6, 1), "");
    set_field(f, "options", *blk({word("hint"), *str("name")}));
    show(f);
    EXPECT_EQ(draw(), "name  |");
    EXPECT_TRUE(screen_.at(0, 0).attr & gui::CELL_DIM);
    gui::tui_backend().destroy(handle_get(&win_));

    // A select-graphic-rendition sequence in the text becomes attributes.
    f = shown("text", pair(4, 1), "\x1b[7mX\x1b[0mY");
    show(f);
    EXPECT_EQ(draw(), "XY  |");
    EXPECT_TRUE(screen_.at(0, 0).attr & gui::CELL_REVERSE);
    EXPECT_FALSE(screen_.at(1, 0).attr & gui::CELL_REVERSE);
}

TEST_F(TuiRender, PasswordFieldIsMaskedAndGroupBoxFramed) {
    ValueCell* f = shown("field", pair(5, 1), "abc");
    set_field(f, "flags", word("password"));
    show(f);
    draw();
    EXPECT_TRUE(screen_.at(0, 0).attr & gui::CELL_MASKED);
    gui::tui_backend().destroy(handle_get(&win_));

    for (bool round : {false, true}) {
        SCOPED_TRACE(round);
        f = shown("group-box", pair(6, 3), "T");
        if (round) set_field(f, "options", *blk({word("border-corners"), word("round")}));
        show(f);
        EXPECT_EQ(draw(), round ? "╭T───╮|│    │|╰────╯|" : "┌T───┐|│    │|└────┘|");
        gui::tui_backend().destroy(handle_get(&win_));
    }
}

TEST_F(TuiRender, FocusedButtonIsReversedAndSpaceClicksIt) {
    gui::TuiBackend& b = gui::tui_backend();
    ValueCell* f = shown("button", pair(4, 1), "OK");
    gui::WidgetId id = show(f);
    draw();
    EXPECT_FALSE(screen_.at(0, 0).attr & gui::CELL_REVERSE);
    b.set_focus(id);
    draw();
    EXPECT_TRUE(screen_.at(0, 0).attr & gui::CELL_REVERSE);
    EXPECT_TRUE(screen_.at(1, 0).attr & gui::CELL_REVERSE);

    struct Case {
        i32 key;
        u32 flags;
        bool click;
    };
    const Case cases[] = {{' ', 0, true}, {'\r', 0, false}, {'x', 0, false}, {console::KEY_UP, EVENT_SPECIAL_KEY, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        std::vector<int> sent;
        draw();
        EXPECT_FALSE(b.dirty());
        gui::widget_react(b, gui::EVT_KEY, gui::TuiMessage{id, 0, 0, c.key, c.flags, 0},
                          [&](int type, const gui::TuiMessage& m) {
                              EXPECT_EQ(m.widget, id);
                              sent.push_back(type);
                              return true;
                          });
        EXPECT_EQ(sent, c.click ? std::vector<int>{gui::EVT_CLICK} : std::vector<int>{});
        EXPECT_TRUE(b.dirty());  // every key draws the button again
    }
}

TEST_F(TuiRender, FieldEditing) {
    constexpr i32 BS = 0x7F, LEFT = console::KEY_LEFT, RIGHT = console::KEY_RIGHT;
    struct Key {
        i32 key;
        bool special;
    };
    struct Case {
        const char* name;
        const char* text;
        std::vector<Key> keys;
        const char* after;
        int caret;
    };
    const Case cases[] = {
        {"typing at the end", "ab", {{'c', false}}, "abc", 3},
        {"insertion after moving left", "ac", {{LEFT, true}, {'b', false}}, "abc", 2},
        {"Ctrl-B and Ctrl-F move too", "ac", {{2, false}, {2, false}, {6, false}, {'b', false}}, "abc", 2},
        {"backspace before the caret", "abc", {{LEFT, true}, {BS, false}}, "ac", 1},
        {"backspace at the start changes nothing", "ab", {{LEFT, true}, {LEFT, true}, {BS, false}, {LEFT, true}}, "ab", 0},
        {"a full field refuses more", "abcde", {{'x', false}}, "abcde", 5},
        {"right stops at the end", "ab", {{RIGHT, true}, {'c', false}}, "abc", 3},
        {"a wide character takes two cells", "abc", {{0x4E2D, false}, {'d', false}}, "abc\xE4\xB8\xAD", 4},
        {"tab and enter are not handled", "ab", {{9, false}, {13, false}}, "ab", 2},
    };
    gui::TuiBackend& b = gui::tui_backend();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ValueCell* f = shown("field", pair(5, 1), c.text);
        gui::WidgetId id = show(f);
        // Every key that changes the text sends change.
        int changes = 0, edits = 0;
        std::string before = c.text;
        for (const Key& k : c.keys) {
            gui::widget_react(b, gui::EVT_KEY, gui::TuiMessage{id, 0, 0, k.key, k.special ? EVENT_SPECIAL_KEY : 0u, 0},
                              [&](int type, const gui::TuiMessage&) {
                                  EXPECT_EQ(type, gui::EVT_CHANGE);
                                  changes++;
                                  return false;
                              });
            ValueCell now = field(f, "text");
            if (gui::string_utf8(&now) != before) edits++;
            before = gui::string_utf8(&now);
        }
        EXPECT_EQ(changes, edits);
        ValueCell text = field(f, "text");
        EXPECT_EQ(gui::string_utf8(&text), c.after);
        EXPECT_EQ(b.widget(id)->caret, c.caret);
        b.destroy(handle_get(&win_));
    }
}

TEST_F(TuiRender, ClickPlacesTheFieldCaret) {
    gui::TuiBackend& b = gui::tui_backend();
    ValueCell* f = shown("field", pair(8, 1), "a\xE4\xB8\xAD" "bc");
    gui::WidgetId id = show(f);
    EXPECT_EQ(b.widget(id)->caret, 4);  // after the whole text at first
    EXPECT_EQ(b.widget(id)->text_cells, 5);
    // Column 2 lies inside the wide character: the caret stands before it.
    gui::widget_react(b, gui::EVT_CLICK, gui::TuiMessage{id, 2, 0, 0, 0, 0}, nullptr);
    EXPECT_EQ(b.widget(id)->caret, 1);
    gui::widget_react(b, gui::EVT_KEY, gui::TuiMessage{id, 0, 0, 'x', 0, 0}, nullptr);
    ValueCell text = field(f, "text");
    EXPECT_EQ(gui::string_utf8(&text), "ax\xE4\xB8\xAD" "bc");
}

TEST_F(TuiRender, TextListWithoutSelectionTakesOneOnDown) {
    gui::TuiBackend& b = gui::tui_backend();
    ValueCell* f = shown("text-list", pair(6, 2), nullptr);
    set_field(f, "data", *blk({*str("a"), *str("b")}));
    gui::WidgetId id = show(f);
    ASSERT_EQ(mold(field(f, "selected")), "none");
    std::vector<int> sent;
    gui::widget_react(b, gui::EVT_KEY, gui::TuiMessage{id, 0, 0, console::KEY_DOWN, EVENT_SPECIAL_KEY, 0},
                      [&](int type, const gui::TuiMessage& msg) {
                          EXPECT_EQ(msg.key, 1);
                          sent.push_back(type);
                          return false;
                      });
    EXPECT_EQ(sent, (std::vector<int>{gui::EVT_SELECT, gui::EVT_CHANGE}));
    EXPECT_EQ(mold(field(f, "selected")), "1");
}

TEST_F(TuiRender, TextListSelection) {
    constexpr i32 UP = console::KEY_UP, DOWN = console::KEY_DOWN;
    struct Step {
        int type;
        i32 key;  // a special key, or the clicked row for a click
        i32 selected;
        i32 first_row;
        std::vector<int> sent;
    };
    const int S = gui::EVT_SELECT, C = gui::EVT_CHANGE, KEY = gui::EVT_KEY, CLICK = gui::EVT_CLICK;
    // Three items in two rows, the first selected.
    const Step steps[] = {
        {KEY, DOWN, 2, 0, {S, C}},
        {KEY, DOWN, 3, 1, {S, C}},  // past the bottom: the list scrolls
        {KEY, DOWN, 3, 1, {}},      // the last item: nothing more
        {KEY, UP, 2, 1, {S, C}},
        {KEY, UP, 1, 0, {S, C}},    // above the top: the list scrolls back
        {KEY, UP, 1, 0, {}},
        {CLICK, 1, 2, 0, {S, C}},
        {CLICK, 1, 2, 0, {}},       // the selected row again
        {KEY, console::KEY_RIGHT, 2, 0, {}},  // other keys are not handled
    };
    gui::TuiBackend& b = gui::tui_backend();
    ValueCell* f = shown("text-list", pair(6, 2), nullptr);
    set_field(f, "data", *blk({*str("a"), *str("b"), *str("c")}));
    set_field(f, "selected", integer(1));
    gui::WidgetId id = show(f);
    int n = 0;
    for (const Step& st : steps) {
        SCOPED_TRACE(n++);
        std::vector<int> sent;
        gui::TuiMessage m{id, 0, st.type == CLICK ? static_cast<float>(st.key) : 0.0f,
                          st.type == CLICK ? 0 : st.key, st.type == CLICK ? 0u : EVENT_SPECIAL_KEY, 0};
        gui::widget_react(b, st.type, m, [&](int type, const gui::TuiMessage& msg) {
            EXPECT_EQ(msg.key, st.selected);  // picked
            sent.push_back(type);
            return false;
        });
        EXPECT_EQ(sent, st.sent);
        EXPECT_EQ(mold(field(f, "selected")), std::to_string(st.selected));
        EXPECT_EQ(b.widget(id)->data, st.first_row);
    }
    // A select that was handled sends no change, and the selection still moves.
    std::vector<int> sent;
    gui::widget_react(b, KEY, gui::TuiMessage{id, 0, 0, DOWN, EVENT_SPECIAL_KEY, 0}, [&](int type, const gui::TuiMessage&) {
        sent.push_back(type);
        return true;
    });
    EXPECT_EQ(sent, std::vector<int>{S});
    EXPECT_EQ(mold(field(f, "selected")), "3");
}


TEST_F(TuiRender, EveryWidgetTypeCellByCell) {
    // Each face 6x2 in a window of the same size, with a blue background
    // and a red font. Progress bars and text lists show the text their
    // helper sets, check boxes and radio buttons the widget's ui text
    // instead of the face's text (the helpers are the language's).
    struct Case {
        const char* type;
        const char* text;
        const char* ui;
        const char* rows;
        int fg_col;  // a cell drawn in the font's colour, -1: none (a rich
                     // text's characters take their colours from its styles)
    };
    const Case cases[] = {
        {"base", "ab", nullptr, "ab    |      |", 0},
        {"text", "ab", nullptr, "ab    |      |", 0},
        {"area", "a\nb", nullptr, "a     |b     |", 0},
        {"panel", "ab", nullptr, "ab    |      |", 0},
        {"drop-list", "ab", nullptr, "ab    |      |", 0},
        {"button", "OK", nullptr, "OK    |      |", 0},
        {"field", "xy", nullptr, "xy    |      |", 0},
        {"rich-text", "ab", nullptr, "ab    |      |", -1},
        {"progress", "[##  ]", nullptr, "[##  ]|      |", 1},
        {"check", "On", "\U0001F795 On", "\U0001F795 On  |      |", 0},
        {"radio", "On", "\u25CB On", "\u25CB On  |      |", 0},
        {"text-list", "p\nq\n", nullptr, "p     |q     |", 0},
        {"group-box", "T", nullptr, "\u250CT\u2500\u2500\u2500\u2510|\u2514\u2500\u2500\u2500\u2500\u2518|", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        ValueCell* f = shown(c.type, pair(6, 2), c.text);
        set_field(f, "color", tuple(0, 0, 255));
        ValueCell* font = make_object("[color: none]");
        set_field(font, "color", tuple(255, 0, 0));
        set_field(f, "font", *font);
        gui::WidgetId id = show(f);
        if (c.ui) gui::tui_backend().widget(id)->ui = c.ui;
        EXPECT_EQ(draw(), c.rows);
        EXPECT_EQ(screen_.at(5, 1).bg, gui::color_from_tuple(0xFF0000));
        if (c.fg_col >= 0) {
            EXPECT_EQ(screen_.at(c.fg_col, 0).fg, gui::color_from_tuple(0x0000FF));
        }
        // Nothing here has the focus: no cell is reversed.
        EXPECT_FALSE(screen_.at(0, 0).attr & gui::CELL_REVERSE);
        EXPECT_FALSE(screen_.at(0, 1).attr & gui::CELL_REVERSE);
        gui::tui_backend().destroy(handle_get(&win_));
    }
    // A window alone draws nothing.
    shown("window", pair(3, 1), nullptr);
    gui::tui_backend().activate(handle_get(&win_));
    EXPECT_EQ(draw(), "   |");
    EXPECT_EQ(screen_.at(0, 0), (gui::TuiCell{0, 0, 0, 0}));
}

TEST_F(TuiRender, WideCharactersTakeTwoCellsAndAreClippedWhole) {
    struct Case {
        int width;
        const char* text;
        const char* row;
        std::vector<int> continuation;  // columns holding a continuation cell
    };
    const Case cases[] = {
        {5, "\u65E5x\u672C", "\u65E5x\u672C|", {1, 4}},
        // The second wide character has one cell left: a blank instead.
        {4, "\u65E5x\u672C", "\u65E5x |", {1}},
        {3, "ab\u65E5", "ab |", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        ValueCell* f = shown("text", pair(c.width, 1), c.text);
        show(f);
        EXPECT_EQ(draw(), c.row);
        for (int x = 0; x < c.width; x++) {
            bool cont = std::find(c.continuation.begin(), c.continuation.end(), x) != c.continuation.end();
            EXPECT_EQ(static_cast<bool>(screen_.at(x, 0).attr & gui::CELL_CONTINUATION), cont) << x;
        }
        gui::tui_backend().destroy(handle_get(&win_));
    }
}

}  // namespace
}  // namespace zan::test
