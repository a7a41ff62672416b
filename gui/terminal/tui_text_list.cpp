// Text lists: item count, scrolling, selection by keys and clicks, drawing.
#include "gui/terminal/tui_text_list.h"

#include <algorithm>

#include "gui/terminal/tui_helpers.h"
#include "gui/terminal/tui_render.h"
#include "gui/terminal/tui_routines.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/event.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/routine.h"
#include "runtime/terminal/terminal_keys.h"

namespace zan::gui {

i32 list_item_count(const ValueCell* data) {
    if (!data) return 0;
    if (data->type() == TYPE_BLOCK || data->type() == TYPE_HASH) return block_length(data);
    if (data->type() == TYPE_MAP) return map_count(data);
    return 0;
}

namespace {
int list_height(const TuiWidget& w) { return static_cast<int>(w.box.y1 - w.box.y0); }

i32 item_count(const TuiWidget& w) { return list_item_count(facet(&w.face, Facet::data)); }

// The one write of a selection by the back end.
void select_item(TuiWidget& w, i32 n) {
    if (ValueCell* selected = facet(&w.face, Facet::selected)) integer_box(selected, n);
}
}  // namespace

void text_list_follow(TuiWidget& w) {
    int height = list_height(w);
    w.data = std::clamp(w.data, 0, std::max(item_count(w) - height, 0));
    std::optional<i32> sel = facet_integer(&w.face, Facet::selected);
    if (!sel) return;
    if (*sel >= 1 && *sel - 1 < w.data) w.data = *sel - 1;
    if (*sel > w.data + height) w.data = *sel - height;
}

void text_list_items_changing(TuiWidget& w, const ValueCell* action, i32 index, i32 part) {
    bool removes = word_is(action, Name::remove) || word_is(action, Name::clear) || word_is(action, Name::take);
    if (!removes && !word_is(action, Name::change)) return;
    i32 count = item_count(w);
    i32 left = removes ? std::max(count - part, 0) : count;
    if (index == 0 && part >= count) w.data = 0;
    else if (w.data > index) w.data = index;
    std::optional<i32> sel = facet_integer(&w.face, Facet::selected);
    if (sel && *sel > left) select_item(w, left);
}

void text_list_event(TuiBackend& b, TuiWidget& w, int type, const TuiMessage& m,
                     const std::function<bool(int type, const TuiMessage&)>& send) {
    WidgetId id = m.widget;
    if (type == EVT_FOCUS || type == EVT_UNFOCUS) {
        // Taking the focus may select the first item (make-text-list-ui).
        if (type == EVT_FOCUS) widget_rebuild(id);
        b.mark_dirty(id);
        return;
    }
    const ValueCell* selected = facet(&w.face, Facet::selected);
    if (!selected) return;
    // A list without a selection yet (none) counts as selection 0.
    bool unselected = selected->type() != TYPE_INTEGER;
    i32 old = unselected ? 0 : integer_get(selected);
    i32 sel = old;
    int height = list_height(w);
    bool special = m.flags & EVENT_SPECIAL_KEY;
    if (type == EVT_KEY && special && m.key == console::KEY_UP) {
        if (sel > 1) sel--;
        if (sel - 1 < w.data) w.data = std::max(sel - 1, 0);
    } else if (type == EVT_KEY && special && m.key == console::KEY_DOWN) {
        if (sel < item_count(w)) sel++;
        if (sel > w.data + height) w.data = sel - height;
    } else if (type == EVT_CLICK) {
        // A click below the last item selects nothing.
        i32 row = w.data + static_cast<i32>(m.y) + 1;
        if (row < 1 || row > item_count(w)) return;
        sel = row;
        if (unselected) {
            select_item(w, 0);
            unselected = false;
        }
    } else {
        return;
    }
    if (sel == old) return;
    TuiMessage picked = m;
    picked.key = sel;
    picked.flags = 0;
    bool handled = send && send(EVT_SELECT, picked);
    // The select actor may have closed the list or chosen for itself.
    TuiWidget* now = b.widget(id);
    if (!now) return;
    std::optional<i32> after = facet_integer(&now->face, Facet::selected);
    if (!facet(&now->face, Facet::selected) || (unselected ? after.has_value() : after != old)) return;
    select_item(*now, sel);
    widget_rebuild(id);
    b.mark_dirty(id);
    if (!handled && send && b.widget(id)) send(EVT_CHANGE, picked);
}

void render_text_list(TuiScreen& screen, int col, int row, const TuiWidget& w, const TuiRect& clip) {
    render_face(screen, col, row, w, clip, PEN_ESCAPES);
    std::optional<i32> sel = facet_integer(&w.face, Facet::selected);
    if (!(w.flags & WIDGET_FOCUSED) || !sel || *sel < 1 || *sel > item_count(w)) return;
    int y = row + *sel - 1 - w.data;
    int width = static_cast<int>(w.box.x1 - w.box.x0);
    screen.add_attributes(TuiRect{col, y, col + width, y + 1}.intersect(clip), CELL_REVERSE);
}

namespace {
// TUI-helpers/item-count face: the items of the face's data.
void r_item_count() {
    ValueCell face = *stack_arg(0);
    integer_box(stack_result(), list_item_count(facet(&face, Facet::data)));
}
}  // namespace

void tui_text_list_register() { routine_table_register("tui-item-count", r_item_count); }

}  // namespace zan::gui
