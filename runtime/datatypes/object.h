// object!: a value that wraps a context (data1 the context node, data2 the
// class id, data3 the node of the event record or 0), made from a spec
// block, cloned from a prototype, inspected by reflect, and optionally
// watched by its change handlers on-change* and on-deep-change*.
#pragma once
#include "runtime/core/cell.h"

namespace zan {

// Class ids: a fresh empty object is class 0, every error! is class 1.
constexpr u32 OBJECT_CLASS_EMPTY = 0;
constexpr u32 OBJECT_CLASS_ERROR = 1;
// The last class id handed out; object_new_class_id increments it.
extern u32 g_object_class_counter;
u32 object_new_class_id();

// ---- shared operations ------------------------------------------------------------------
// Word cell n (from 0) of a context's word table.
ValueCell* object_word_at(Node ctx, u32 n);
// The first value cell of an object and its number of words.
ValueCell* object_values(const ValueCell* obj);
u32 object_word_count(const ValueCell* obj);
// The value of the word's symbol in the object (case-insensitive), or the
// shared none cell when absent; the word's index, or -1.
const ValueCell* object_select_word(const ValueCell* obj, const ValueCell* word);
i32 object_find_word(const ValueCell* obj, const ValueCell* word);
// A fresh empty object (n slots, class 0, no events) in cell.
ValueCell* object_make_at(ValueCell* cell, u32 n);
// An object! cell for an existing context node, pushed on the data stack.
ValueCell* object_push(Node ctx, Node events, u32 class_id);
// The same, after trimming the values buffer to the word count; no events.
ValueCell* object_push_from_context(Node ctx, u32 class_id);
// Whether the word's value, or value n of a context, is an object of a class.
// Language-level code compiled ahead of time tests an object's class with
// these; the system has no such compiler yet, so only their tests call them.
bool word_value_is_object_q(const ValueCell* word, u32 class_id);
bool object_value_is_object_q(Node ctx, u32 n, u32 class_id);
// Copies the object cell into its context's owner cell.
void object_refresh_owner(const ValueCell* obj);

// ---- change handlers ----------------------------------------------------------------------
// The event record: two pair! cells, 0 for on-change*, 1 for
// on-deep-change*; data2 = handler index << 16 | /local count (index 0xFFFF:
// none), data3 = identity of the handler whose count was computed (0: not
// yet).
struct ObjectHandlerSlot {
    i32 index;     // -1: no handler
    i32 locals;    // cells of the handler's /local section
    u32 identity;  // spec node of the handler the count belongs to
};
// A new event record for the two handlers (index -1: none).
Node object_event_record_make(i32 change_index, i32 change_count, i32 deep_index,
                              i32 deep_count);
// Slot which (0 on-change*, 1 on-deep-change*) of a record, unpacked.
ObjectHandlerSlot object_event_slot(Node record, u32 which);
// Gives the object on top of the data stack an event record (-1: no
// handler), makes it the owner of its series when a deep handler exists,
// refreshes the owner cell; returns the record. The compiled start-up code
// that builds the boot data's objects one by one would call it; start-up
// here evaluates those objects' source, and making an object attaches its
// handlers, so only its tests call it.
Node object_attach_events(Node ctx, i32 change_index, i32 change_count, i32 deep_index,
                          i32 deep_count);
// Scans the object's words for the two handlers and rebuilds data3.
void object_update_events(ValueCell* obj, Node ctx);
// The handler function that a change would call now (refreshing the cached
// /local count), or null when none is due. which: 0 on-change*, 1
// on-deep-change*. Raises invalid-obj-evt for an on-change* slot that does
// not hold a function!.
ValueCell* object_handler_due(ValueCell* obj, u32 which, i32* locals);
// Runs on-change* after a store into a field: (word, old, new).
void object_fire_on_change(ValueCell* obj, ValueCell* word, ValueCell* old_value,
                           ValueCell* new_value);
// The object is the value of the holder word.
void object_fire_on_deep_change(ValueCell* owner, ValueCell* word, ValueCell* target,
                                ValueCell* action, ValueCell* new_value, i32 index, i32 part);

// ---- construction -----------------------------------------------------------------------------
// Copies src into dst (a cell the caller keeps reachable): a new context
// with the same words, the same class, the events kept unless reset. deep
// copies the series fields (no series is shared with the original) and
// re-creates the functions bound to the copy; types filters what is copied.
ValueCell* object_duplicate(ValueCell* src, ValueCell* dst, bool deep, ValueCell* types,
                            bool reset_events);
// Replaces the function held in fn by one whose body is bound to ctx.
void object_rebind_function(ValueCell* fn, Node ctx);
// An object from a spec block without evaluating it (construct): a copy
// of proto when it is an object!, else a new class; each run of set-words
// takes the value that follows (none at the end; unless only, the words
// true/yes/on, false/no/off and none become their values). Pushed.
ValueCell* object_construct(ValueCell* spec, ValueCell* proto, bool only);
// set on an object: values by position from a block, by word from another
// object, or one value for every word (only: always that one). Unless any,
// some or only, an unset value raises need-value before anything is set;
// some skips none values. on-change* runs for each stored field.
void object_set_many(ValueCell* obj, ValueCell* values, bool any, bool only, bool some);
// The reflect body block (set-word/value pairs), pushed on the data stack.
ValueCell* object_body_of(ValueCell* obj);
// Clears the changed mark of every word of a context.
void cells_clear_changed(Node ctx);

// ---- actions ----------------------------------------------------------------------------------
ValueCell* object_make(ValueCell* proto, ValueCell* spec, u32 type);
void object_reflect(ValueCell* obj, u32 field_symbol);
i32 object_form(ValueCell* obj, ValueCell* out, ValueCell* arg_limit, i32 limit);
i32 object_mold(ValueCell* obj, ValueCell* out, bool only, bool all, bool flat,
                ValueCell* arg_limit, i32 limit, i32 indent);
// The word: value pairs of form and mold (mold_mode: indented lines, else
// line breaks only).
i32 object_mold_body(ValueCell* obj, ValueCell* out, bool only, bool all, bool flat,
                     ValueCell* arg_limit, i32 limit, i32 indent, bool mold_mode);
ValueCell* object_eval_path(ValueCell* parent, ValueCell* element, ValueCell* value,
                            ValueCell* path, ValueCell* holder, ValueCell* holder_item,
                            i32 index, bool case_sensitive, bool lenient, bool last,
                            bool notify);
i32 object_compare(ValueCell* value1, ValueCell* value2, i32 op);
ValueCell* object_copy(ValueCell* value, ValueCell* fresh, ValueCell* part, bool deep,
                       ValueCell* types);
ValueCell* object_select(ValueCell* obj, ValueCell* key, ValueCell* part, bool only,
                         bool case_sensitive, bool same, bool any, ValueCell* with,
                         ValueCell* skip, bool last, bool reverse);
ValueCell* object_put(ValueCell* obj, ValueCell* key, ValueCell* value, bool case_sensitive);
ValueCell* object_modify(ValueCell* obj, ValueCell* field, ValueCell* value,
                         bool case_sensitive);

void object_init();
// Forgets the class counter before a fresh start-up.
void object_state_reset();

}  // namespace zan
