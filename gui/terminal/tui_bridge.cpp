// Events to the language, the process's event loop and its start-up.
#include "gui/terminal/tui_bridge.h"

#include <fcntl.h>
#include <unistd.h>

#include "gui/terminal/tui_color.h"
#include "gui/terminal/tui_events.h"
#include "gui/terminal/tui_face.h"
#include "gui/terminal/tui_loop.h"
#include "gui/terminal/tui_render.h"
#include "gui/terminal/tui_routines.h"
#include "gui/terminal/tui_views.h"
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/eval/interp/interp.h"
#include "runtime/eval/interp/natives_system.h"

namespace zan::gui {

namespace {
void widget_reaction(int type, const TuiMessage& m) { widget_react(tui_backend(), type, m, tui_dispatch_event); }

// The first screen face takes the terminal's size.
void store_screen_size(int cols, int rows) {
    const ValueCell* screens = view_field(Name::screens);
    if (screens && screens->type() == TYPE_BLOCK && block_length(screens) > 0)
        if (ValueCell* size = facet(block_cell_at(screens, 0), Facet::size)) pair_make_at(size, cols, rows);
}

// The windows still on a screen close as unview closes them: each
// screen's pane is cleared through the language, whose change handler
// stops their reactions and destroys their views.
void close_screen_windows() {
    const ValueCell* screens = view_field(Name::screens);
    const ValueCell* clear = global_value_ptr(name_symbol(Name::clear));
    if (!screens || screens->type() != TYPE_BLOCK) return;
    ValueCell list = *screens;
    for (i32 i = 0; i < block_length(&list); i++) {
        ValueCell screen = *block_cell_at(&list, static_cast<u32>(i));
        const ValueCell* pane = facet(&screen, Facet::pane);
        if (pane && pane->type() == TYPE_BLOCK && block_length(pane) > 0) tui_call(clear, *pane);
    }
}

// Where views are drawn: the standard output, unless that was sent to a
// file or a pipe while the keys still come from a terminal; then the
// terminal of the standard input, so that the window is seen where it is
// used and the file holds only what the script prints.
int view_output_fd() {
    if (::isatty(STDOUT_FILENO) || !::isatty(STDIN_FILENO)) return STDOUT_FILENO;
    const char* name = ::ttyname(STDIN_FILENO);
    int fd = name ? ::open(name, O_WRONLY | O_NOCTTY | O_CLOEXEC) : -1;
    return fd >= 0 ? fd : STDOUT_FILENO;
}

// The loop of this process on standard input and output, wired once.
TuiLoop& process_loop() {
    static TuiDispatch dispatch(tui_backend());
    static TuiLoop loop(tui_backend(), STDIN_FILENO, view_output_fd());
    static bool wired = false;
    if (!wired) {
        wired = true;
        dispatch.to_language = tui_dispatch_event;
        dispatch.to_widget = widget_reaction;
        loop.on_input = [](const TuiInput& in) { dispatch.input(in, loop.origin_row()); };
        loop.on_resize = tui_resize;
        loop.on_pass_end = [] { dispatch.tick(); };
        loop.on_enter_size = store_screen_size;
        // A window closing with changes not drawn yet (a timer that changed
        // a face, then closed the view) has its last frame drawn; an error
        // in a draw block there is dropped, as the window goes anyway.
        tui_backend().before_close = [] {
            if (loop.terminal_on()) tui_guarded([] { loop.draw_pending(); });
        };
        loop.on_outer_end = [] {
            close_screen_windows();
            tui_views_reset();
            dispatch.reset();
        };
        tui_backend().send = [](int type, WidgetId id) {
            TuiMessage m{id, 0, 0, 0, 0, 0};
            widget_reaction(type, m);
            if (tui_backend().widget(id)) tui_dispatch_event(type, m);
        };
    }
    return loop;
}

// Whether an open window asks for the whole screen.
bool full_screen_window() {
    TuiBackend& b = tui_backend();
    for (WidgetId id : b.windows())
        if (const TuiWidget* w = b.widget(id); w && (w->flags & WIDGET_FULL_SCREEN)) return true;
    return false;
}

void wait_events() {
    if (process_loop().terminal_on()) tui_do_events(true);
}

}  // namespace

void tui_back_end_attach() {
    tui_backend().color_mode = color_mode_from_environment();
    g_wait_events_hook = wait_events;
}

bool tui_back_end_attached() { return g_wait_events_hook == wait_events; }

namespace {

void r_start_back_end() {
    ValueCell platform = *stack_arg(0);
    if (ValueCell* v = field(&platform, Name::version)) tuple_make_rgba(v, 10, 10, 10, -1);
    if (ValueCell* v = field(&platform, Name::build)) integer_box(v, 1000);
    if (ValueCell* v = field(&platform, Name::product)) integer_box(v, 0);
    tui_back_end_attach();
    none_box(stack_result());
}

void r_color_mode() { integer_box(stack_result(), color_mode_from_environment()); }

void r_do_event_loop() {
    bool no_wait = logic_get(stack_arg(0));
    logic_box(stack_result(), tui_do_events(no_wait));
    // A Ctrl-C typed into the view ended its loop: taken here, as a
    // native that stopped waiting for it.
    interp_take_interrupt();
}
}  // namespace

bool tui_guarded(const std::function<void()>& body) {
    ValueCell* top = g_stack.top;
    ValueCell* base = g_stack.base;
    CallFrame* ctop = g_stack.ctop;
    u32 pending = g_throw_code;
    bool done = false;
    stack_mark_try_all(g_words.n.try_);
    try {
        body();
        done = !g_throw_code;
    } catch (ThrowSignal&) {
    }
    g_throw_code = pending;
    g_stack.top = top;
    g_stack.base = base;
    g_stack.ctop = ctop;
    return done;
}

bool tui_call(const ValueCell* fn, const ValueCell& arg, std::string* text) {
    u32 t = fn ? fn->type() : TYPE_NONE;
    if (t != TYPE_FUNCTION && t != TYPE_ROUTINE && t != TYPE_ACTION && t != TYPE_NATIVE) return false;
    bool done = false;
    ValueCell callee = *fn;
    ValueCell argument = arg;
    tui_guarded([&] {
        // Both cells are reachable from their owners while the block is made.
        ValueCell* code = block_push_new(2);
        block_append_cell(code, &callee);
        block_append_cell(code, &argument);
        interp_eval_block(code, false);
        done = !g_throw_code && word_is(stack_top_value(), Name::done);
        if (text && !g_throw_code && stack_top_value()->type() == TYPE_STRING) *text = string_utf8(stack_top_value());
    });
    return done;
}

bool tui_dispatch_event(int type, const TuiMessage& m) {
    ValueCell event;
    make_backend_event(&event, type, m);
    return tui_call(view_field(Name::awake), event);
}

bool tui_do_events(bool no_wait) {
    TuiLoop& loop = process_loop();
    if (!loop.terminal_on()) {
        const ValueCell* mouse = field(view_field(Name::platform), Name::mouse_event);
        loop.mouse = mouse && mouse->type() == TYPE_LOGIC && logic_get(mouse);
        loop.full_screen = full_screen_window();
    }
    return loop.run(no_wait);
}

void tui_resize(int cols, int rows) {
    store_screen_size(cols, rows);
    TuiBackend& b = tui_backend();
    std::vector<WidgetId> windows = b.windows();
    for (WidgetId id : windows) {
        TuiMessage m{id, static_cast<float>(cols), static_cast<float>(rows), 0, 0, 0};
        if (!b.widget(id)) continue;
        widget_reaction(EVT_RESIZE, m);
        if (b.widget(id)) tui_dispatch_event(EVT_RESIZE, m);
    }
}

void tui_bridge_register() {
    routine_table_register("start-back-end", r_start_back_end);
    routine_table_register("do-event-loop", r_do_event_loop);
    routine_table_register("tui-color-mode", r_color_mode);
}

}  // namespace zan::gui
