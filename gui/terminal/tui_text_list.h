// A text list in the back end: its item count, its scrolling, its own
// reaction to keys, clicks and the focus, and its drawing.
//
// Where each piece of a text list's state is kept, and who changes it:
// - its items: the face's `data` (a block, a hash or a map), the script's.
//   list_item_count is the one place that counts them (the library's
//   make-text-list-ui asks it through TUI-helpers/item-count).
// - its selection: the face's `selected` (none, or an item number). Besides
//   the script, two places change it: TUI-helpers/make-text-list-ui, when
//   the list is rebuilt while it has the focus (none becomes 1, a number
//   beyond the items the last item), and this file, through select_item
//   only: Up, Down and a click (text_list_event) and items removed
//   (text_list_items_changing).
// - how many items are scrolled out at the top: the widget's `data`, the
//   back end's own; only this file changes it.
// - the text shown: the face's `text`, one plain line per item from the
//   first visible one, made by make-text-list-ui. The selected row is
//   drawn reversed here from `selected`; the text carries no marking.
#pragma once
#include <functional>

#include "gui/terminal/tui_dispatch.h"
#include "gui/terminal/tui_face.h"
#include "gui/terminal/tui_widgets.h"

namespace zan::gui {

// The items of a list's data: the length of a block or hash, the count of
// a map, 0 for anything else.
i32 list_item_count(const ValueCell* data);

// After its items or selection changed from the language: the first
// visible row moves so that the items fill the list as far as they reach
// and the selected one is in view.
void text_list_follow(TuiWidget& w);

// Items are about to be removed or replaced in place (the series action on
// the data block, from `index`, `part` of them): the first visible row and
// the selection stay within what will be left.
void text_list_items_changing(TuiWidget& w, const ValueCell* action, i32 index, i32 part);

// Up, Down, a click, the focus and its loss; send hands select and change
// to the language (answering true when select was handled).
void text_list_event(TuiBackend& b, TuiWidget& w, int type, const TuiMessage& m,
                     const std::function<bool(int type, const TuiMessage&)>& send);

// Draws the list: its text, and with the focus the selected item's row
// reversed across the list's width.
void render_text_list(TuiScreen& screen, int col, int row, const TuiWidget& w, const TuiRect& clip);

// The routine TUI-helpers/item-count.
void tui_text_list_register();

}  // namespace zan::gui
