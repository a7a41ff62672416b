// The back end's typed view of a face: its facets, and the few other
// fields (of fonts, paras, system/view and the platform object) and words
// (face types, alignments, flag words) that the back end reads. Each name
// is a symbol interned once, when the back end's routines are registered
// (tui_names_init); nothing here looks a field up by a C string or
// allocates Zan values.
#pragma once
#include <optional>
#include <string>

#include "runtime/core/cell.h"

namespace zan::gui {

// The facets in the order of face!: a facet's change flag in the face's
// state is the bit of its index (facet_bit).
#define ZAN_TUI_FACETS(X)                                                                                     \
    X(type, "type") X(offset, "offset") X(size, "size") X(text, "text") X(image, "image") X(color, "color")   \
    X(menu, "menu") X(data, "data") X(enabled, "enabled?") X(visible, "visible?") X(selected, "selected")     \
    X(flags, "flags") X(options, "options") X(parent, "parent") X(pane, "pane") X(state, "state")            \
    X(rate, "rate") X(edge, "edge") X(para, "para") X(font, "font") X(actors, "actors") X(extra, "extra")      \
    X(draw, "draw")

// Other field names and the words the back end compares.
#define ZAN_TUI_NAMES(X)                                                                                      \
    /* system, system/view and the platform object */                                                         \
    X(system, "system") X(view, "view") X(screens, "screens") X(awake, "awake") X(auto_sync, "auto-sync?")     \
    X(silent, "silent?") X(platform, "platform") X(mouse_event, "mouse-event?") X(version, "version")          \
    X(build, "build") X(product, "product") X(clear, "clear")                                                 \
    /* the helpers written in Zan */                                                                          \
    X(tui_helpers, "TUI-helpers") X(make_progress_ui, "make-progress-ui")                                     \
    X(make_text_list_ui, "make-text-list-ui") X(make_checkbox_ui, "make-checkbox-ui")                         \
    X(make_radio_ui, "make-radio-ui")                                                                         \
    /* face types */                                                                                          \
    X(window, "window") X(screen, "screen") X(base, "base") X(button, "button") X(field, "field")             \
    X(progress, "progress") X(group_box, "group-box") X(check, "check") X(radio, "radio")                     \
    X(text_list, "text-list") X(rich_text, "rich-text") X(drop_list, "drop-list") X(drop_down, "drop-down")   \
    /* paras, fonts, options and rich-text styles */                                                          \
    X(align, "align") X(v_align, "v-align") X(wrap, "wrap?") X(right, "right") X(center, "center")            \
    X(middle, "middle") X(bottom, "bottom") X(hint, "hint") X(caret, "caret")                                 \
    X(border_corners, "border-corners") X(border_color, "border-color") X(round, "round") X(bold, "bold")     \
    X(italic, "italic") X(underline, "underline") X(strike, "strike") X(backdrop, "backdrop")                 \
    /* series actions that reach on-change-facet, and an actor's answer */                                   \
    X(remove, "remove") X(take, "take") X(change, "change") X(done, "done")                                   \
    /* flag words */                                                                                          \
    X(all_over, "all-over") X(focusable, "focusable") X(tri_state, "tri-state") X(scrollable, "scrollable")   \
    X(password, "password") X(no_sync, "no-sync") X(fullscreen, "fullscreen") X(popup, "popup")               \
    X(modal, "modal") X(resize, "resize") X(no_buttons, "no-buttons") X(no_max, "no-max") X(no_min, "no-min") \
    X(no_title, "no-title") X(no_border, "no-border")

#define ZAN_TUI_ENUM(id, text) id,
enum class Facet : u8 { ZAN_TUI_FACETS(ZAN_TUI_ENUM) count };
enum class Name : u16 { ZAN_TUI_NAMES(ZAN_TUI_ENUM) count };
#undef ZAN_TUI_ENUM

// The change flag of a facet in a face's state.
constexpr u32 facet_bit(Facet f) { return 1u << static_cast<u32>(f); }

// Interns every name (creating the symbols that do not exist yet).
void tui_names_init();
u32 facet_symbol(Facet f);
u32 name_symbol(Name n);

// The cell of a face's facet, or null when the value is no object or has
// no such field. The cell lives in the object's values: it is valid until
// the next allocation.
ValueCell* facet(const ValueCell* face, Facet f);
// The cell of an object's field, or null.
ValueCell* field(const ValueCell* obj, Name n);
// The cell of system/view's field, or null.
ValueCell* view_field(Name n);
// Whether v is a word (or lit-word) of that name, in any case.
bool word_is(const ValueCell* v, Name n);
// Whether v is a word of the facet's name (the word a change handler gets).
bool word_is(const ValueCell* v, Facet f);
bool facet_is(const ValueCell* face, Facet f, Name word);
// The facet's integer, when it holds one.
std::optional<i32> facet_integer(const ValueCell* face, Facet f);
// Whether the facet holds the logic false (visible? and enabled? count as
// true unless they are false).
bool facet_false(const ValueCell* face, Facet f);

// The characters of a string! from its index, as UTF-8 (empty for any
// other value).
std::string string_utf8(const ValueCell* s);
// The characters of a string! from its index, as code points.
std::u32string string_code_points(const ValueCell* s);
// Item i (from 0) of a block from its index; i below block_length.
ValueCell* block_item(const ValueCell* block, i32 i);
// The colour word of a tuple! (the 256-colour conversion), or the default
// colour for anything else.
u32 tuple_color(const ValueCell* v);

}  // namespace zan::gui
