// The join between the back end and the language: every event the back
// end produces goes to system/view/awake (and the widget's own reaction),
// the event loop runs on the process's terminal for do-event-loop and for
// the native wait, and size changes reach the screen face and the windows.
//   start-back-end  platform [object!]     sets version, build and product
//   do-event-loop   no-wait? [logic!]      runs the loop; whether input came
#pragma once
#include <functional>
#include <string>

#include "gui/terminal/tui_dispatch.h"

namespace zan::gui {

constexpr int EVT_RESIZE = 30;

// What start-back-end does outside the heap: the colour mode from this
// process's COLORTERM and TERM, and the native wait's hook. Start-up does it
// again when it puts back the library saved after its seal.
void tui_back_end_attach();
bool tui_back_end_attached();

// Runs body under a frame that stops every error and throw (the stacks
// and the pending throw code as they were afterwards); false when one
// stopped it.
bool tui_guarded(const std::function<void()>& body);

// Calls a function (or routine, action, native) of one argument under a frame that stops every error
// and throw; true when it answered the word done. A string answer goes to
// text when given.
bool tui_call(const ValueCell* fn, const ValueCell& arg, std::string* text = nullptr);

// Hands one event to system/view/awake under a frame that stops every
// error and throw; true when awake answered the word done.
bool tui_dispatch_event(int type, const TuiMessage& m);

// Runs the event loop on standard input and output (one pass with
// no_wait); true when any input was read.
bool tui_do_events(bool no_wait);

// A size change: the first screen face takes the new size and every
// window gets a resize event with it.
void tui_resize(int cols, int rows);

void tui_bridge_register();

}  // namespace zan::gui
