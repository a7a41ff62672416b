// event!: one user-interface event (type, face, window, offset, key,
// picked, modifier and button flags). A script makes one from a block of
// fields; the text-mode back end makes them from terminal input. The cell:
// data1 the type code; data2 a made event's block of fields (header flag
// EVENT_HAS_RECORD) or the back end's record number; data3 the flags and,
// for a made event, the key.
#pragma once
#include "runtime/core/cell.h"

namespace zan {

// Flag bits of data3 (the key of a made event is in bits 0-20).
constexpr u32 EVENT_FLAG_ALT = 1u << 30;
constexpr u32 EVENT_FLAG_COMMAND = 1u << 31;
constexpr u32 EVENT_FLAG_CONTROL = 1u << 28;
constexpr u32 EVENT_FLAG_SHIFT = 1u << 29;
constexpr u32 EVENT_FLAG_AWAY = 1u << 26;
constexpr u32 EVENT_FLAG_DOWN = 1u << 25;
constexpr u32 EVENT_FLAG_MID_DOWN = 1u << 24;
constexpr u32 EVENT_FLAG_ALT_DOWN = 1u << 23;
constexpr u32 EVENT_FLAG_AUX_DOWN = 1u << 22;
// A made event keeps a whole code point, not only its low 16 bits.
constexpr u32 EVENT_KEY_MASK = 0x1FFFFFu;
// In a back-end event bit 0 says the key is a special key (a key word).
constexpr u32 EVENT_SPECIAL_KEY = 1u;

// Event type codes 1-35 (down ... scroll); 0 is "no type".
constexpr u32 EVENT_TYPE_COUNT = 35;
const char* event_type_name(u32 code);
// The code of a type word, 0 when the word names no event type.
u32 event_type_code(u32 symbol);

// What the back end answers for an event it made: data2 is its own record
// number, and it reads face, offset, key and picked from it. Unset
// (nullptr) means such events read none for those fields.
struct EventRecordReader {
    // Pushes the field (2 face, 4 offset, 5 key, 6 picked) of the record.
    ValueCell* (*push_field)(u32 record, u32 flags, u32 field);
};
void event_set_record_reader(const EventRecordReader* reader);

// Typed accessors of an event cell.
inline u32 event_type_of(const ValueCell* e) { return e->data1; }
inline void event_set_type(ValueCell* e, u32 code) { e->data1 = code; }
inline bool event_is_made(const ValueCell* e) { return (e->header & EVENT_HAS_RECORD) != 0; }
inline Node event_fields_node(const ValueCell* e) { return event_is_made(e) ? e->data2 : 0; }
inline u32 event_record(const ValueCell* e) { return event_is_made(e) ? 0 : e->data2; }
inline u32 event_flags(const ValueCell* e) { return e->data3; }
inline void event_add_flags(ValueCell* e, u32 bits) { e->data3 |= bits; }
// A made event's block of [face window offset picked].
inline void event_set_fields_node(ValueCell* e, Node n) { e->data2 = n; }

// A back-end event: type code, the back end's record, flags.
ValueCell* event_make_at(ValueCell* cell, u32 type, u32 record, u32 flags);
// Pushes field n (1-15) of the event.
ValueCell* event_push_field(ValueCell* event, u32 n);

void event_init();

}  // namespace zan
