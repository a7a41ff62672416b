// The routines of the text-mode back end that the view engine's platform
// object calls by name (registered in the routine table):
//   get-screen-size    id [integer!]               the terminal's columns x rows
//   size-text          face [object!] value        cells and lines of a text
//   fetch-all-screens                              none: the terminal has no list
//   make-null-handle                               a null handle!
//   update-text        face [object!]              nothing
//   update-scroller    scroller [object!] flags    nothing
//   update-font        font [object!] flags [integer!]  drops the font's state
//   update-para        face [object!] flags [integer!]  marks the para changed
//   set-dark-mode      face [object!] dark? [logic!]  nothing
//   support-dark-mode?                             false
//   toggle-GPU                                     nothing
//   exit-event-loop                                ends the innermost event loop
//   send-event-os      event [event!] queued? [logic!]  false: no queue
#pragma once
#include "gui/terminal/tui_widgets.h"

namespace zan::gui {

// The back end of this process.
TuiBackend& tui_backend();

void tui_routines_register();

}  // namespace zan::gui
