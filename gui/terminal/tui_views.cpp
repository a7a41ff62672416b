// make-view, destroy-view, show-window, refresh-window and redraw.
#include "gui/terminal/tui_views.h"

#include "gui/terminal/tui_face.h"
#include "gui/terminal/tui_helpers.h"
#include "gui/terminal/tui_render.h"
#include "gui/terminal/tui_routines.h"
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/number_peers.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/time.h"
#include "runtime/datatypes/word.h"

namespace zan::gui {

namespace {
struct FlagWord {
    const char* name;
    u32 widget_bit;  // 0: no effect in the terminal
};
const FlagWord kFlagWords[] = {
    {"all-over", WIDGET_ALL_OVER}, {"focusable", WIDGET_FOCUSABLE}, {"tri-state", 0}, {"scrollable", 0},
    {"password", WIDGET_PASSWORD}, {"no-sync", 0}, {"fullscreen", WIDGET_FULL_SCREEN}, {"popup", 0},
    {"modal", 0}, {"resize", 0}, {"no-buttons", 0}, {"no-max", 0}, {"no-min", 0}, {"no-title", 0},
    {"no-border", 0},
};

u32 flag_word_bits(const ValueCell* w) {
    for (const FlagWord& f : kFlagWords)
        if (word_is(w, f.name)) return f.widget_bit;
    fire(Err::script_invalid_arg, w);
}

WidgetId widget_of_handle(const ValueCell* h) {
    u32 id = handle_get(h);
    if (id == 0) return 0;
    if (!tui_backend().widget(id)) fire(Err::script_invalid_arg, h);
    return id;
}

void result_none() { none_box(stack_result()); }

// The faces of a widget's subtree, so that their states can be cleared.
void collect_faces(WidgetId id, std::vector<ValueCell>& faces) {
    const TuiWidget* w = tui_backend().widget(id);
    if (!w) return;
    if (w->face.header) faces.push_back(w->face);
    for (WidgetId c : w->children) collect_faces(c, faces);
}

// The timer interval of a rate facet, -1 for none; a bad rate raises
// invalid-facet-type.
int rate_interval(const ValueCell* rate) {
    if (!rate || rate->type() == TYPE_NONE) return -1;
    int interval = -1;
    if (rate->type() == TYPE_INTEGER) interval = rate_interval_per_second(integer_get(rate));
    else if (rate->type() == TYPE_TIME) interval = rate_interval_of_seconds(time_get(rate));
    if (interval < 0) fire(Err::script_invalid_facet_type, rate);
    return interval;
}

void r_make_view() {
    ValueCell face = *stack_arg(0);
    WidgetId parent = widget_of_handle(stack_arg(1));
    const ValueCell* type = field_of(&face, "type");
    bool window = word_is(type, "window");
    u32 flags = 0;
    if (const ValueCell* f = field_of(&face, "flags")) flags |= face_flag_bits(f);
    const ValueCell* visible = field_of(&face, "visible?");
    if (visible && visible->type() == TYPE_LOGIC && !logic_get(visible)) flags |= WIDGET_HIDDEN;
    const ValueCell* enabled = field_of(&face, "enabled?");
    if (enabled && enabled->type() == TYPE_LOGIC && !logic_get(enabled)) flags |= WIDGET_DISABLED;
    float x = 0, y = 0, w = 0, h = 0;
    if (ValueCell* offset = field_of(&face, "offset")) {
        if (offset->type() == TYPE_PAIR) point2d_make_at(offset, static_cast<float>(pair_x(offset)),
                                                          static_cast<float>(pair_y(offset)));
        if (offset->type() == TYPE_POINT2D) {
            x = point_x(offset);
            y = point_y(offset);
        }
        if (window) pair_make_at(offset, 0, 0);
    }
    if (const ValueCell* size = field_of(&face, "size")) {
        if (size->type() == TYPE_PAIR) {
            w = static_cast<float>(pair_x(size));
            h = static_cast<float>(pair_y(size));
            flags |= WIDGET_SIZE_PAIR;
        } else if (size->type() == TYPE_POINT2D) {
            w = point_x(size);
            h = point_y(size);
        }
    }
    if (window) x = y = 0;
    int interval = rate_interval(field_of(&face, "rate"));
    TuiBackend& b = tui_backend();
    WidgetKind kind = widget_kind_of(type);
    WidgetId id = b.make(parent, window, TuiBox{x, y, x + w, y + h}, flags, renderer_of(kind));
    if (!id) fire(Err::script_invalid_arg, stack_arg(0));
    b.widget(id)->face = face;
    b.widget(id)->kind = kind;
    if (kind == WidgetKind::field) field_start(*b.widget(id));
    widget_rebuild(id);
    if (interval >= 0) b.start_timer(id, interval);
    handle_make_at(stack_result(), id, HANDLE_WINDOW);
}

void r_destroy_view() {
    ValueCell face = *stack_arg(0);
    WidgetId id = face_widget(&face);
    if (id) {
        std::vector<ValueCell> faces;
        collect_faces(id, faces);
        tui_backend().destroy(id);
        for (ValueCell& f : faces)
            if (ValueCell* state = field_of(&f, "state")) none_box(state);
    }
    result_none();
}

// Sets or clears a widget flag.
void set_flag(TuiWidget* w, u32 flag, bool on) {
    if (on) w->flags |= flag;
    else w->flags &= ~flag;
}

bool offset_of(const ValueCell* v, float& x, float& y) {
    if (!v) return false;
    if (v->type() == TYPE_PAIR) {
        x = static_cast<float>(pair_x(v));
        y = static_cast<float>(pair_y(v));
        return true;
    }
    if (v->type() == TYPE_POINT2D) {
        x = point_x(v);
        y = point_y(v);
        return true;
    }
    return false;
}

// Applies the facets whose change flags are set in the face's state to
// its widget, then clears the flags.
void update_face(ValueCell* face) {
    ValueCell* state = field_of(face, "state");
    if (!state || state->type() != TYPE_BLOCK) return;
    WidgetId id = face_widget(face);
    TuiBackend& b = tui_backend();
    TuiWidget* w = b.widget(id);
    ValueCell* changes = block_length(state) >= 2 ? block_cell_at(state, 1) : nullptr;
    if (!w || !changes || changes->type() != TYPE_INTEGER) return;
    u32 bits = static_cast<u32>(integer_get(changes));
    auto changed = [&](int bit) { return (bits >> bit) & 1u; };
    if (changed(16)) {
        int interval = rate_interval(field_of(face, "rate"));
        b.remove_timer(id);
        if (interval >= 0) b.start_timer(id, interval);
    }
    TuiBox box = w->box;
    float x, y;
    if (changed(1) && offset_of(field_of(face, "offset"), x, y) && !w->window) {
        box.x1 += x - box.x0;
        box.y1 += y - box.y0;
        box.x0 = x;
        box.y0 = y;
    }
    if (changed(2) && offset_of(field_of(face, "size"), x, y)) {
        box.x1 = box.x0 + x;
        box.y1 = box.y0 + y;
    }
    if (changed(1) || changed(2)) b.set_box(id, box);
    if (changed(10) && w->window)
        if (const ValueCell* sel = field_of(face, "selected"); sel && sel->type() == TYPE_OBJECT)
            if (WidgetId target = face_widget(sel)) b.set_focus(target);
    w = b.widget(id);
    if (!w) return;
    if (changed(8)) {
        const ValueCell* e = field_of(face, "enabled?");
        set_flag(w, WIDGET_DISABLED, e && e->type() == TYPE_LOGIC && !logic_get(e));
    }
    if (changed(9)) {
        const ValueCell* v = field_of(face, "visible?");
        set_flag(w, WIDGET_HIDDEN, v && v->type() == TYPE_LOGIC && !logic_get(v));
    }
    if ((changed(7) || changed(10)) && w->kind == WidgetKind::text_list) text_list_follow(*w);
    if (changed(11)) {
        const ValueCell* f = field_of(face, "flags");
        u32 now = f ? face_flag_bits(f) : 0;
        set_flag(w, WIDGET_ALL_OVER, now & WIDGET_ALL_OVER);
        set_flag(w, WIDGET_PASSWORD, now & WIDGET_PASSWORD);
    }
    widget_rebuild(id);
    b.mark_dirty(id);
    changes = block_cell_at(field_of(face, "state"), 1);
    integer_box(changes, 0);
}

void r_update_view() {
    ValueCell target = *stack_arg(0);
    if (target.type() == TYPE_BLOCK) {
        i32 n = block_length(&target);
        for (i32 i = 0; i < n; i++) {
            ValueCell* v = block_cell_at(&target, static_cast<u32>(i));
            if (v->type() != TYPE_OBJECT) number_fire_type(Err::script_invalid_type, v->type());
        }
        for (i32 i = 0; i < n; i++) {
            ValueCell f = *block_cell_at(&target, static_cast<u32>(i));
            update_face(&f);
        }
    } else if (target.type() == TYPE_OBJECT) {
        if (!word_is(field_of(&target, "type"), "screen")) update_face(&target);
    } else {
        number_fire_type(Err::script_invalid_type, target.type());
    }
    result_none();
}

void r_show_window() {
    WidgetId id = widget_of_handle(stack_arg(0));
    TuiBackend& b = tui_backend();
    if (WidgetId win = b.window_of(id)) b.activate(win);
    result_none();
}

void r_refresh_window() {
    tui_backend().mark_dirty(widget_of_handle(stack_arg(0)));
    result_none();
}

void r_redraw() {
    ValueCell face = *stack_arg(0);
    if (WidgetId id = face_widget(&face)) tui_backend().mark_dirty(id);
    result_none();
}
}  // namespace

u32 face_flag_bits(const ValueCell* flags) {
    if (flags->type() == TYPE_WORD || flags->type() == TYPE_LIT_WORD) return flag_word_bits(flags);
    if (flags->type() != TYPE_BLOCK) return 0;
    u32 bits = 0;
    i32 n = block_length(flags);
    for (i32 i = 0; i < n; i++) {
        const ValueCell* w = block_cell_at(flags, static_cast<u32>(i));
        if (w->type() == TYPE_WORD) bits |= flag_word_bits(w);
    }
    return bits;
}

WidgetId face_widget(const ValueCell* face) {
    const ValueCell* state = field_of(face, "state");
    if (!state || state->type() != TYPE_BLOCK || block_length(state) < 1) return 0;
    const ValueCell* h = block_cell_at(state, 0);
    if (h->type() != TYPE_HANDLE) return 0;
    return widget_of_handle(h);
}

void tui_view_routines_register() {
    routine_table_register("make-view", r_make_view);
    routine_table_register("destroy-view", r_destroy_view);
    routine_table_register("show-window", r_show_window);
    routine_table_register("refresh-window", r_refresh_window);
    routine_table_register("redraw", r_redraw);
    routine_table_register("update-view", r_update_view);
}

}  // namespace zan::gui
