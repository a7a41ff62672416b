// make-view, destroy-view, show-window, refresh-window and redraw.
#include "gui/terminal/tui_views.h"

#include <algorithm>

#include "gui/terminal/tui_face.h"
#include "gui/terminal/tui_helpers.h"
#include "gui/terminal/tui_image.h"
#include "gui/terminal/tui_render.h"
#include "gui/terminal/tui_routines.h"
#include "gui/terminal/tui_text_list.h"
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/image.h"
#include "runtime/image/image_store.h"
#include "runtime/datatypes/integer.h"
#include "runtime/typesystem/number_peers.h"
#include "runtime/datatypes/object.h"
#include "runtime/typesystem/ownership.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/time.h"
#include "runtime/datatypes/word.h"

namespace zan::gui {

namespace {
struct FlagWord {
    Name name;
    u32 widget_bit;  // 0: no effect in the terminal
};
const FlagWord kFlagWords[] = {
    {Name::all_over, WIDGET_ALL_OVER}, {Name::focusable, WIDGET_FOCUSABLE}, {Name::tri_state, 0},
    {Name::scrollable, 0}, {Name::password, WIDGET_PASSWORD}, {Name::no_sync, 0},
    {Name::fullscreen, WIDGET_FULL_SCREEN}, {Name::popup, 0}, {Name::modal, 0}, {Name::resize, 0},
    {Name::no_buttons, 0}, {Name::no_max, 0}, {Name::no_min, 0}, {Name::no_title, 0}, {Name::no_border, 0},
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

// The face's image as the widget's cells, sized to the widget; none when
// the face shows no image or the widget has no cells.
void attach_image(WidgetId id) {
    TuiWidget* w = tui_backend().widget(id);
    if (!w) return;
    w->image.clear();
    w->image_cols = 0;
    const ValueCell* img = facet(&w->face, Facet::image);
    if (!img || img->type() != TYPE_IMAGE) return;
    int cols = static_cast<int>(w->box.x1 - w->box.x0), rows = static_cast<int>(w->box.y1 - w->box.y0);
    const ImagePixels* pixels = image_store_get(image_slot(img));
    if (!pixels) return;
    w->image = image_cells(pixels->words, pixels->width, pixels->height, cols, rows, tui_backend().color_mode);
    if (!w->image.empty()) w->image_cols = cols;
}

// A base whose options hold caret and a realised face shows that face's
// caret where the base stands, and draws nothing itself.
void hold_caret(WidgetId id) {
    TuiWidget* w = tui_backend().widget(id);
    const ValueCell* options = w ? facet(&w->face, Facet::options) : nullptr;
    if (!options || options->type() != TYPE_BLOCK || block_length(options) % 2 != 0) return;
    i32 n = block_length(options);
    for (i32 i = 0; i + 1 < n; i += 2) {
        if (!word_is(block_item(options, i), Name::caret)) continue;
        const ValueCell* target = block_item(options, i + 1);
        if (target->type() != TYPE_OBJECT) return;
        w->render = {};
        if (TuiWidget* t = tui_backend().widget(face_widget(target))) {
            t->caret_holder = id;
            t->flags |= WIDGET_CARET;
        }
        return;
    }
}

void r_make_view() {
    ValueCell face = *stack_arg(0);
    WidgetId parent = widget_of_handle(stack_arg(1));
    const ValueCell* type = facet(&face, Facet::type);
    bool window = word_is(type, Name::window);
    u32 flags = 0;
    if (const ValueCell* f = facet(&face, Facet::flags)) flags |= face_flag_bits(f);
    if (facet_false(&face, Facet::visible)) flags |= WIDGET_HIDDEN;
    if (facet_false(&face, Facet::enabled)) flags |= WIDGET_DISABLED;
    float x = 0, y = 0, w = 0, h = 0;
    if (ValueCell* offset = facet(&face, Facet::offset)) {
        if (offset->type() == TYPE_PAIR) point2d_make_at(offset, static_cast<float>(pair_x(offset)),
                                                          static_cast<float>(pair_y(offset)));
        if (offset->type() == TYPE_POINT2D) {
            x = point_x(offset);
            y = point_y(offset);
        }
        if (window) pair_make_at(offset, 0, 0);
    }
    if (const ValueCell* size = facet(&face, Facet::size)) {
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
    int interval = rate_interval(facet(&face, Facet::rate));
    TuiBackend& b = tui_backend();
    WidgetKind kind = widget_kind_of(type);
    WidgetId id = b.make(parent, window, TuiBox{x, y, x + w, y + h}, flags, renderer_of(kind));
    if (!id) fire(Err::script_invalid_arg, stack_arg(0));
    b.widget(id)->face = face;
    b.widget(id)->kind = kind;
    if (kind == WidgetKind::field) field_start(*b.widget(id));
    attach_image(id);
    if (kind == WidgetKind::base) hold_caret(id);
    widget_rebuild(id);
    if (interval >= 0) b.start_timer(id, interval);
    handle_make_at(stack_result(), id, HANDLE_WINDOW);
}

// Takes a face out of the faces that use its font (or para); a font that
// no face uses any more drops its state.
void leave_shared(const ValueCell* face, Facet which) {
    ValueCell* shared = facet(face, which);
    if (!shared || shared->type() != TYPE_OBJECT) return;
    ValueCell* users = facet(shared, Facet::parent);
    if (!users || users->type() != TYPE_BLOCK) return;
    ValueCell head = *users;
    series_set_index(&head, 0);
    for (i32 i = 0; i < block_length(&head); i++) {
        const ValueCell* user = block_item(&head, i);
        if (user->type() != TYPE_OBJECT || context_of(user) != context_of(face)) continue;
        ValueCell at = head;
        series_set_index(&at, i);
        series_remove(&at, nullptr, nullptr);
        break;
    }
    if (which == Facet::font && block_length(&head) == 0)
        if (ValueCell* state = facet(shared, Facet::state)) none_box(state);
}

// Ends the views of the widget trees under roots: their faces leave the
// fonts and paras they share, destroy() takes the widgets, and then no
// face keeps a state (the faces stay reachable through their widgets
// until destroy() runs; nothing allocates after it).
template <typename Destroy>
void end_views(const std::vector<WidgetId>& roots, Destroy destroy) {
    std::vector<ValueCell> faces;
    for (WidgetId id : roots) collect_faces(id, faces);
    for (const ValueCell& f : faces) {
        leave_shared(&f, Facet::font);
        leave_shared(&f, Facet::para);
    }
    destroy();
    for (ValueCell& f : faces)
        if (ValueCell* state = facet(&f, Facet::state)) none_box(state);
}

void r_destroy_view() {
    ValueCell face = *stack_arg(0);
    if (WidgetId id = face_widget(&face)) end_views({id}, [id] { tui_backend().destroy(id); });
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
    ValueCell* state = facet(face, Facet::state);
    if (!state || state->type() != TYPE_BLOCK) return;
    WidgetId id = face_widget(face);
    TuiBackend& b = tui_backend();
    TuiWidget* w = b.widget(id);
    ValueCell* changes = block_length(state) >= 2 ? block_cell_at(state, 1) : nullptr;
    if (!w || !changes || changes->type() != TYPE_INTEGER) return;
    u32 bits = static_cast<u32>(integer_get(changes));
    auto changed = [&](Facet f) { return (bits & facet_bit(f)) != 0; };
    if (changed(Facet::rate)) {
        int interval = rate_interval(facet(face, Facet::rate));
        b.remove_timer(id);
        if (interval >= 0) b.start_timer(id, interval);
    }
    TuiBox box = w->box;
    float x, y;
    if (changed(Facet::offset) && offset_of(facet(face, Facet::offset), x, y) && !w->window) {
        box.x1 += x - box.x0;
        box.y1 += y - box.y0;
        box.x0 = x;
        box.y0 = y;
    }
    if (changed(Facet::size) && offset_of(facet(face, Facet::size), x, y)) {
        box.x1 = box.x0 + x;
        box.y1 = box.y0 + y;
    }
    if (changed(Facet::offset) || changed(Facet::size)) b.set_box(id, box);
    if (changed(Facet::selected) && w->window)
        if (const ValueCell* sel = facet(face, Facet::selected); sel && sel->type() == TYPE_OBJECT)
            if (WidgetId target = face_widget(sel)) b.set_focus(target);
    w = b.widget(id);
    if (!w) return;
    if (changed(Facet::enabled)) set_flag(w, WIDGET_DISABLED, facet_false(face, Facet::enabled));
    if (changed(Facet::visible)) set_flag(w, WIDGET_HIDDEN, facet_false(face, Facet::visible));
    if (changed(Facet::image) || changed(Facet::size)) attach_image(id);
    if ((changed(Facet::data) || changed(Facet::selected)) && w->kind == WidgetKind::text_list) text_list_follow(*w);
    if (changed(Facet::flags)) {
        const ValueCell* f = facet(face, Facet::flags);
        u32 now = f ? face_flag_bits(f) : 0;
        set_flag(w, WIDGET_ALL_OVER, now & WIDGET_ALL_OVER);
        set_flag(w, WIDGET_PASSWORD, now & WIDGET_PASSWORD);
    }
    widget_rebuild(id);
    b.mark_dirty(id);
    changes = block_cell_at(facet(face, Facet::state), 1);
    integer_box(changes, 0);
}

void r_update_view() {
    ValueCell target = *stack_arg(0);
    if (target.type() == TYPE_BLOCK) {
        i32 n = block_length(&target);
        for (i32 i = 0; i < n; i++) {
            ValueCell* v = block_item(&target, i);
            if (v->type() != TYPE_OBJECT) number_fire_type(Err::script_invalid_type, v->type());
        }
        for (i32 i = 0; i < n; i++) {
            ValueCell f = *block_item(&target, i);
            update_face(&f);
        }
    } else if (target.type() == TYPE_OBJECT) {
        if (!facet_is(&target, Facet::type, Name::screen)) update_face(&target);
    } else {
        number_fire_type(Err::script_invalid_type, target.type());
    }
    result_none();
}

// One deep change of a facet (a series held by the face changed in
// place). A text list whose items are about to be removed or replaced
// keeps its first visible row and its selection within the items left;
// a drop list ignores a change of no items. Then the face is updated.
void r_on_change_facet() {
    ValueCell owner = *stack_arg(0);
    const ValueCell* word = stack_arg(1);
    const ValueCell* action = stack_arg(3);
    i32 index = integer_get(stack_arg(5));
    i32 part = integer_get(stack_arg(6));
    result_none();
    if (word_is(word, Facet::data)) {
        TuiWidget* w = tui_backend().widget(face_widget(&owner));
        if (!w) {
            integer_box(stack_result(), 0);
            return;
        }
        bool drop = facet_is(&owner, Facet::type, Name::drop_list) || facet_is(&owner, Facet::type, Name::drop_down);
        if (w->kind == WidgetKind::other && drop && part == 0) {
            integer_box(stack_result(), 0);
            return;
        }
        if (w->kind == WidgetKind::text_list) text_list_items_changing(*w, action, index, part);
    }
    update_face(&owner);
}

void r_detach_image() {
    ValueCell* image = stack_arg(0);
    if (image->type() == TYPE_IMAGE) ownership_release(image);
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

void tui_views_reset() {
    TuiBackend& b = tui_backend();
    end_views(b.roots(), [&b] { b.reset(); });
}

u32 face_flag_bits(const ValueCell* flags) {
    if (flags->type() == TYPE_WORD || flags->type() == TYPE_LIT_WORD) return flag_word_bits(flags);
    if (flags->type() != TYPE_BLOCK) return 0;
    u32 bits = 0;
    i32 n = block_length(flags);
    for (i32 i = 0; i < n; i++) {
        const ValueCell* w = block_item(flags, i);
        if (w->type() == TYPE_WORD) bits |= flag_word_bits(w);
    }
    return bits;
}

WidgetId face_widget(const ValueCell* face) {
    const ValueCell* state = facet(face, Facet::state);
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
    routine_table_register("on-change-facet", r_on_change_facet);
    routine_table_register("detach-image", r_detach_image);
}

}  // namespace zan::gui
