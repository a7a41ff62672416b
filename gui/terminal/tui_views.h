// Realising faces as widgets: the platform routines that make, show,
// redraw and destroy a face's view. A face's view is named by a handle!
// (window class) whose value is the widget's handle, slot and generation:
// a handle of a view destroyed since, or one never given out, is refused
// with an error, never followed.
//   make-view      face [object!] parent [handle!]  the new view's handle!
//   destroy-view   face [object!] empty? [logic!]   none
//   show-window    id [handle!]                     none
//   refresh-window h [handle!]                      none
//   redraw         face [object!]                   none
//   update-view    face [object! block!]            applies the changed facets
#pragma once
#include "gui/terminal/tui_widgets.h"

namespace zan::gui {

// The widget bits of a face's flags facet (a word or a block of words);
// an unknown word raises invalid-arg.
u32 face_flag_bits(const ValueCell* flags);
// The widget of a face (its state's first value), 0 when it has none; a
// handle that names no live widget raises invalid-arg.
WidgetId face_widget(const ValueCell* face);

// Every view still open ends as destroy-view ends one, without events
// and without ending any event loop; the back end is then as at start-up.
void tui_views_reset();

void tui_view_routines_register();

}  // namespace zan::gui
