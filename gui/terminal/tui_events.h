// Events of the back end as event! values: the event keeps the number of
// a record of its message, from which its face, offset, key and picked
// are read. The last 64 records are kept; an event whose record was
// overwritten, or whose widget is gone, reads none for those fields.
#pragma once
#include "gui/terminal/tui_dispatch.h"

namespace zan::gui {

constexpr u32 EVENT_RECORDS = 64;

// Records the message and makes the event cell (type code, record number,
// the message's flags).
ValueCell* make_backend_event(ValueCell* out, int type, const TuiMessage& m);
// The word of a special key (-20 up ... -42 F12), or null.
const char* key_word_name(i32 code);
// Installs the reader of the records and the collector's marking of the
// widgets' faces (once).
void tui_events_init();

}  // namespace zan::gui
