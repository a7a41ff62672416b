// Platform routines of the text-mode back end that need no widget.
#include "gui/terminal/tui_routines.h"

#include <unistd.h>

#include <string>

#include "runtime/terminal/terminal_tty.h"
#include "gui/terminal/tui_bridge.h"
#include "gui/terminal/tui_draw.h"
#include "gui/terminal/tui_events.h"
#include "gui/terminal/tui_helpers.h"
#include "gui/terminal/tui_rich.h"
#include "gui/terminal/tui_face.h"
#include "gui/terminal/tui_views.h"
#include "gui/terminal/tui_screen.h"
#include "gui/terminal/tui_text_list.h"
#include "runtime/core/layout.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/integer.h"
#include "runtime/typesystem/number_peers.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"

namespace zan::gui {

TuiBackend& tui_backend() {
    static TuiBackend backend;
    return backend;
}

namespace {
void result_none() { none_box(stack_result()); }

// The terminal's size: standard output's, else standard input's, else 80x24.
void r_get_screen_size() {
    int cols, rows;
    if (!console::tty_window_size(STDOUT_FILENO, &cols, &rows) &&
        !console::tty_window_size(STDIN_FILENO, &cols, &rows)) {
        cols = 80;
        rows = 24;
    }
    pair_make_at(stack_result(), cols, rows > 0 ? rows : 24);
}

// The widest line in cells and the number of lines of the value (a
// string), or of the face's text when the value is none.
void r_size_text() {
    ValueCell face = *stack_arg(0);
    ValueCell value = *stack_arg(1);
    if (value.type() == TYPE_NONE) {
        const ValueCell* text = facet(&face, Facet::text);
        value = text ? *text : g_none_cell;
    } else if (value.type() != TYPE_STRING) {
        number_fire_type(Err::script_invalid_type, value.type());
    }
    if (value.type() != TYPE_STRING) return result_none();
    TuiTextSize size = text_size(string_code_points(&value));
    point2d_make_at(stack_result(), static_cast<float>(size.cols), static_cast<float>(size.lines));
}

// A font change: the font's state is dropped for its name, size, style,
// angle and anti-aliasing (flags 0-3 and 5); other changes keep it.
void r_update_font() {
    ValueCell font = *stack_arg(0);
    i32 flags = integer_get(stack_arg(1));
    if (flags >= 0 && flags <= 5 && flags != 4)
        if (ValueCell* state = facet(&font, Facet::state)) none_box(state);
    result_none();
}

// A para change: the face's change flags get the para facet's bit.
void r_update_para() {
    ValueCell face = *stack_arg(0);
    ValueCell* state = facet(&face, Facet::state);
    if (state && state->type() == TYPE_BLOCK && block_length(state) >= 2) {
        ValueCell* changes = block_cell_at(state, 1);
        if (changes->type() == TYPE_INTEGER) integer_box(changes, static_cast<i32>(static_cast<u32>(integer_get(changes)) | facet_bit(Facet::para)));
    }
    result_none();
}

void r_make_null_handle() { handle_make_at(stack_result(), 0, HANDLE_NONE); }
void r_false() { logic_box(stack_result(), false); }
void r_exit_event_loop() {
    tui_backend().post_quit();
    result_none();
}
}  // namespace

void tui_routines_register() {
    tui_names_init();
    tui_events_init();
    tui_text_list_register();
    tui_view_routines_register();
    tui_bridge_register();
    tui_helpers_register();
    tui_draw_register();
    tui_rich_register();
    routine_table_register("get-screen-size", r_get_screen_size);
    routine_table_register("size-text", r_size_text);
    routine_table_register("fetch-all-screens", result_none);
    routine_table_register("make-null-handle", r_make_null_handle);
    routine_table_register("update-text", result_none);
    routine_table_register("update-scroller", result_none);
    routine_table_register("update-font", r_update_font);
    routine_table_register("update-para", r_update_para);
    routine_table_register("set-dark-mode", result_none);
    routine_table_register("support-dark-mode?", r_false);
    routine_table_register("toggle-GPU", result_none);
    routine_table_register("exit-event-loop", r_exit_event_loop);
    routine_table_register("send-event-os", r_false);
}

}  // namespace zan::gui
