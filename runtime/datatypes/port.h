// port!: an object (type 48, class 2) standing for an external resource
// handled by a scheme. Its fields, in order: spec, scheme, actor, awake,
// state, data, extra. The port implements no action itself: every series
// and I/O action is handed to its actor, an object of functions named after
// the actions (called through the evaluator), or a handle! whose external
// address is a table of native entries for actions 25 to 62.
#pragma once
#include "runtime/core/cell.h"
#include "runtime/typesystem/action_table.h"

namespace zan {

constexpr u32 PORT_CLASS_ID = 2;
// Field positions of a port.
enum PortField : u32 {
    PORT_FIELD_SPEC = 0,
    PORT_FIELD_SCHEME = 1,
    PORT_FIELD_ACTOR = 2,
    PORT_FIELD_AWAKE = 3,
    PORT_FIELD_STATE = 4,
    PORT_FIELD_DATA = 5,
    PORT_FIELD_EXTRA = 6,
};
// A native actor: the address behind a handle! is an array of this many
// entries, element n - 25 for action n (append .. write), each with the
// signature of that action's implementations (action_table.h); a null
// entry raises no-port-action.
constexpr u32 PORT_ACTOR_ENTRIES = ACT_COUNT - ACT_APPEND + 1;

// What making a port reads from the system object, which the start-up code
// and the language-level library provide. Each answers the current value,
// or null when there is none. Until a hook is installed, making a port
// raises internal error not-done.
struct PortServices {
    // system/standard/port: the prototype object copied for every port.
    const ValueCell* (*standard_port)() = nullptr;
    // system/standard/url-parts: the prototype of a spec made from a block.
    const ValueCell* (*standard_url_parts)() = nullptr;
    // system/schemes: the registry of schemes (a block of names and scheme
    // objects, or an object of them) searched by scheme name.
    const ValueCell* (*schemes)() = nullptr;
};
extern PortServices g_port_services;

// ---- services ------------------------------------------------------------------------
// The actor field of a port; invalid-port when it is not an object!.
ValueCell* port_get_actor(ValueCell* port);
// Calls the actor function named by word with the function frame the caller
// opened: selects the word in the actor (not a function!: no-port-action
// with the word), pushes the unused /local values, runs it through the
// evaluator and unwinds the frame. The result is left in the caller's top
// cell, whose address is returned.
ValueCell* port_call_actor(ValueCell* actor, ValueCell* word);
// Forwards an action that takes the port and, when n is 2, the second
// argument of the current argument frame; the actor's result is written to
// the frame's result cell.
void port_forward_action(ValueCell* word, i32 n);
// The native entry of action n for a port whose actor is a handle!, or null
// for an object actor; raises no-port-action for a missing entry.
ActionEntry port_action_entry(const ValueCell* port, u32 action);

// ---- actions ------------------------------------------------------------------------------
// make: the spec object (an object! spec as it is, anything else made into
// a copy of system/standard/url-parts), a word! scheme in its first field
// (else no-scheme), the scheme found in system/schemes (else
// unknown-scheme) and its actor (an object! or handle!, else
// invalid-actor). Pushed.
ValueCell* port_make(ValueCell* proto, ValueCell* spec, u32 type);
// "make port! [" and the fields as object! molds them, one per line, "]".
i32 port_mold(ValueCell* port, ValueCell* out, bool only, bool all, bool flat,
              ValueCell* arg_limit, i32 limit, i32 indent);
i32 port_form(ValueCell* port, ValueCell* out, ValueCell* arg_limit, i32 limit);

void port_append(ValueCell* port, ValueCell* value, i32 part, bool only, i32 dup, bool append);
void port_at();
void port_back();
void port_change(ValueCell* port, ValueCell* value, i32 part, bool only, i32 dup);
void port_clear(ValueCell* port);
ValueCell* port_copy(ValueCell* port, ValueCell* fresh, ValueCell* part, bool deep,
                     ValueCell* types);
ValueCell* port_find(ValueCell* port, ValueCell* value, ValueCell* part, bool only,
                     bool case_sensitive, bool same, bool any, ValueCell* with, ValueCell* skip,
                     bool last, bool reverse, bool tail, bool match);
void port_head();
void port_head_q();
void port_index_q();
i32 port_length_q(ValueCell* port);
ValueCell* port_move(ValueCell* origin, ValueCell* target, ValueCell* part);
void port_next();
ValueCell* port_pick(ValueCell* port, i32 index, ValueCell* index_cell);
ValueCell* port_poke(ValueCell* port, i32 index, ValueCell* value, ValueCell* index_cell);
ValueCell* port_put(ValueCell* port, ValueCell* key, ValueCell* value, bool case_sensitive);
void port_remove(ValueCell* port, ValueCell* part, ValueCell* key);
void port_reverse(ValueCell* port, ValueCell* part, ValueCell* skip);
ValueCell* port_select(ValueCell* port, ValueCell* value, ValueCell* part, bool only,
                       bool case_sensitive, bool same, bool any, ValueCell* with,
                       ValueCell* skip, bool last, bool reverse);
ValueCell* port_sort(ValueCell* port, bool case_sensitive, ValueCell* skip,
                     ValueCell* comparator, ValueCell* part, bool all, bool reverse, bool stable);
void port_skip();
void port_swap(ValueCell* port, ValueCell* other);
void port_tail();
void port_tail_q();
ValueCell* port_take(ValueCell* port, ValueCell* part, bool deep, bool last);
void port_trim(ValueCell* port, bool head, bool tail, bool auto_, bool lines, bool all,
               ValueCell* with);
ValueCell* port_create(ValueCell* port);
ValueCell* port_close(ValueCell* port);
ValueCell* port_delete(ValueCell* port);
ValueCell* port_modify(ValueCell* port, ValueCell* field, ValueCell* value, bool case_sensitive);
ValueCell* port_open(ValueCell* port, bool new_, bool read, bool write, bool seek,
                     ValueCell* allow);
ValueCell* port_query(ValueCell* port);
// open (with /seek when given), copy (with the /part length), close: the
// copied data is the result.
ValueCell* port_read(ValueCell* port, ValueCell* part, ValueCell* seek, bool binary, bool lines,
                     bool info, ValueCell* as);
ValueCell* port_rename(ValueCell* port, ValueCell* to);
ValueCell* port_update(ValueCell* port);
// open/write (with /seek), insert the data (with an integer! /part), copy,
// close: the copied data is the result.
ValueCell* port_write(ValueCell* port, ValueCell* data, bool binary, bool lines, bool info,
                      bool append, ValueCell* part, ValueCell* seek, ValueCell* allow,
                      ValueCell* as);

// Registers port! (after object!) and installs the handle! actor lookup of
// the action dispatchers.
void port_init();

}  // namespace zan
