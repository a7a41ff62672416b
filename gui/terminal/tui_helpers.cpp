// Routines for TUI-helpers and the calls of its text builders.
#include "gui/terminal/tui_helpers.h"

#include <optional>

#include "gui/terminal/tui_bridge.h"
#include "gui/terminal/tui_face.h"
#include "gui/terminal/tui_rich.h"
#include "gui/terminal/tui_routines.h"
#include "gui/terminal/tui_views.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/symbol.h"

namespace zan::gui {

namespace {
// The helper that makes the text of a kind of widget.
std::optional<Name> builder_of(WidgetKind kind) {
    switch (kind) {
        case WidgetKind::progress: return Name::make_progress_ui;
        case WidgetKind::text_list: return Name::make_text_list_ui;
        case WidgetKind::check: return Name::make_checkbox_ui;
        case WidgetKind::radio: return Name::make_radio_ui;
        default: return std::nullopt;
    }
}

// The widget whose text is being rebuilt: its face's state may not hold
// its handle yet (while the view is made).
WidgetId g_rebuilding = 0;

// The widget of a face: through its state, else the one being rebuilt
// for that same face.
TuiWidget* widget_of(const ValueCell* face) {
    TuiBackend& b = tui_backend();
    if (WidgetId id = face_widget(face)) return b.widget(id);
    TuiWidget* w = b.widget(g_rebuilding);
    return w && w->face.type() == TYPE_OBJECT && context_of(&w->face) == context_of(face) ? w : nullptr;
}

void r_focused() {
    ValueCell face = *stack_arg(0);
    const TuiWidget* w = widget_of(&face);
    logic_box(stack_result(), w && (w->flags & WIDGET_FOCUSED));
}

void r_widget_data() {
    ValueCell face = *stack_arg(0);
    const TuiWidget* w = widget_of(&face);
    integer_box(stack_result(), w ? w->data : 0);
}

void r_set_face_ui() {
    ValueCell face = *stack_arg(0);
    ValueCell ui = *stack_arg(1);
    if (TuiWidget* w = widget_of(&face)) w->ui = string_utf8(&ui);
    none_box(stack_result());
}
}  // namespace

void widget_rebuild(WidgetId id) {
    TuiWidget* w = tui_backend().widget(id);
    if (w && w->kind == WidgetKind::rich_text) {
        w->rich = rich_layout(&w->face);
        return;
    }
    std::optional<Name> name = w ? builder_of(w->kind) : std::nullopt;
    if (!name) return;
    ValueCell face = w->face;
    const ValueCell* helpers = global_value_ptr(name_symbol(Name::tui_helpers));
    ValueCell* sync = view_field(Name::auto_sync);
    ValueCell saved;
    if (sync) {
        saved = *sync;
        logic_box(sync, false);
    }
    // A check box or radio button answers its ui, also for a face whose
    // state does not hold the widget's handle yet (while it is made).
    std::string ui;
    WidgetId outer = g_rebuilding;
    g_rebuilding = id;
    tui_call(field(helpers, *name), face, &ui);
    g_rebuilding = outer;
    if (w->kind == WidgetKind::check || w->kind == WidgetKind::radio)
        if (TuiWidget* again = tui_backend().widget(id)) again->ui = ui;
    sync = view_field(Name::auto_sync);
    if (sync) *sync = saved;
}

void tui_helpers_register() {
    routine_table_register("tui-focused?", r_focused);
    routine_table_register("tui-widget-data", r_widget_data);
    routine_table_register("tui-set-face-ui", r_set_face_ui);
}

}  // namespace zan::gui
