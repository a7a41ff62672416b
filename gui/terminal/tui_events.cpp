// Records of back-end events and the reading of their fields.
#include "gui/terminal/tui_events.h"

#include <iterator>

#include "gui/terminal/tui_routines.h"
#include "runtime/core/collector.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/event.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/terminal/terminal_keys.h"

namespace zan::gui {

namespace {
struct Record {
    u32 id = 0;
    int type = 0;
    TuiMessage message;
};
Record g_records[EVENT_RECORDS];
u32 g_next_record = 1;

// The words of the keys without a character, from KEY_UP down to KEY_F12.
const char* const kKeyWords[] = {"up",   "down",     "right",     "left", "end",  "home", "insert",
                                 "delete", "page-up", "page-down", nullptr, "F1",   "F2",   "F3",
                                 "F4",   "F5",       "F6",        "F7",   "F8",   "F9",   "F10",
                                 "F11",  "F12"};
static_assert(std::size(kKeyWords) == console::KEY_UP - console::KEY_F12 + 1);

const Record* record_of(u32 id) {
    const Record& r = g_records[id % EVENT_RECORDS];
    return id && r.id == id ? &r : nullptr;
}

ValueCell* push_field(u32 record, u32 flags, u32 field) {
    const Record* r = record_of(record);
    if (!r) return none_push();
    const TuiMessage& m = r->message;
    switch (field) {
        case 2: {
            const TuiWidget* w = tui_backend().widget(m.widget);
            if (!w || !w->face.header) return none_push();
            ValueCell face = w->face;
            return stack_push(&face);
        }
        case 4: return pair_push(static_cast<i32>(m.x), static_cast<i32>(m.y));
        case 5:
            if (flags & EVENT_SPECIAL_KEY) {
                const char* name = key_word_name(m.key);
                return name ? word_push_symbol(symbol_make(name)) : none_push();
            }
            return char_push(static_cast<u32>(m.key));
        case 6: return r->type == EVT_WHEEL ? float_push(m.amount) : integer_push(m.key);
        default: return none_push();
    }
}

const EventRecordReader kReader{push_field};

void mark_faces() { tui_backend().mark_faces(); }
}  // namespace

const char* key_word_name(i32 code) {
    if (code > console::KEY_UP || code < console::KEY_F12) return nullptr;
    return kKeyWords[console::KEY_UP - code];
}

ValueCell* make_backend_event(ValueCell* out, int type, const TuiMessage& m) {
    u32 id = g_next_record++;
    if (g_next_record == 0) g_next_record = 1;
    g_records[id % EVENT_RECORDS] = Record{id, type, m};
    return event_make_at(out, static_cast<u32>(type), id, m.flags);
}

void tui_events_init() {
    static bool done = false;
    event_set_record_reader(&kReader);
    if (done) return;
    done = true;
    gc_add_mark_callback(mark_faces);
}

}  // namespace zan::gui
