// Actions: the table entries that the evaluator calls through action!
// values (arguments in the argument frame, one integer per refinement), the
// typed dispatchers that runtime code calls with explicit arguments, the
// lookups that turn (datatype, action) into an implementation, and the
// comparison and form/mold protocols.
#pragma once
#include "runtime/typesystem/action_table.h"

namespace zan {

// ---- comparison protocol ------------------------------------------------------
enum CompareOp : i32 {
    CMP_EQUAL = 0,
    CMP_NOT_EQUAL = 1,
    CMP_STRICT_EQUAL = 2,
    CMP_LESSER = 3,
    CMP_LESSER_EQUAL = 4,
    CMP_GREATER = 5,
    CMP_GREATER_EQUAL = 6,
    CMP_SORT = 7,
    CMP_SORT_CASE = 8,
    CMP_SAME = 9,
    CMP_WORD_EXACT = 10,    // word! and lit-word! interchangeable, exact spelling
    CMP_WORD_FOLDED = 11,   // the same, case-insensitive
    CMP_FIND = 12,          // the search equality of find/select/put
};
// The answer of a compare implementation for values it cannot compare.
constexpr i32 CMP_NOT_COMPARABLE = -2;
// True for the op codes that never raise invalid-compare.
bool compare_op_is_equality(i32 op);

// ---- form/mold protocol ---------------------------------------------------------
// Implementations append to the output string! and return the remaining
// /part budget (the given limit minus what they appended). Without /part the
// budget is FORM_NO_LIMIT.
constexpr i32 FORM_NO_LIMIT = 2147483647;

// ---- lookups ----------------------------------------------------------------------
// Never null: a missing entry raises script error expect-arg (or, for a
// port! with a handle! actor, access error no-port-action).
// The table row of a datatype answers inline; a port! (whose actor may take
// the action) and a missing entry go the slow way.
ActionEntry action_lookup_slow(u32 type, const ValueCell* value, u32 action);
inline ActionEntry action_lookup(u32 type, const ValueCell* value, u32 action) {
    if (type < TYPE_TABLE_SIZE && !(value && value->type() == TYPE_PORT)) {
        if (ActionEntry e = action_entry(type, action)) return e;
    }
    return action_lookup_slow(type, value, action);
}
// The entry for the current frame's first argument, the value an action
// dispatches on.
ActionEntry action_lookup_first_arg(u32 action);
inline ActionEntry action_lookup_value(const ValueCell* value, u32 action) {
    return action_lookup(value->type(), value, action);
}
// For the path evaluator: raises bad-path-type2 (no path) or bad-path-type.
ActionEntry action_lookup_path(const ValueCell* value, u32 action, const ValueCell* path,
                               const ValueCell* element, i32 index);

template <u32 A>
inline typename ActionSig<A>::type action_lookup_as(const ValueCell* value) {
    return reinterpret_cast<typename ActionSig<A>::type>(action_lookup_value(value, A));
}

// ---- the generic action table ---------------------------------------------------------
// Element n - 1 is the table entry of action n (element 7, set-path, null).
extern ActionEntry g_generic_actions[ACT_COUNT];
// Fills g_generic_actions with the table entries below.
void actions_init();
void action_table_fill(const ActionEntry (&entries)[ACT_COUNT]);
// Calls a table entry (of an action or a native) with its count i32
// arguments, the refinement positions; false, calling nothing, when count
// is above 12.
bool action_entry_call(ActionEntry e, const i32* args, u32 count);
// The index argument of pick and poke (frame cell 1): integer! and char!
// give their value, true 1, false 2, anything else 0.
i32 action_index_arg();

// ---- typed dispatchers ---------------------------------------------------------------
// make and to resolve a datatype! prototype to the type it denotes.
ValueCell* action_make_dispatch(ValueCell* proto, ValueCell* spec);
ValueCell* action_to_dispatch(ValueCell* proto, ValueCell* spec);
void action_random_dispatch(ValueCell* value, bool seed, bool secure, bool only);
void action_reflect_dispatch(ValueCell* value, u32 field_symbol);
i32 action_form_dispatch(ValueCell* value, ValueCell* out, ValueCell* arg_limit, i32 limit);
i32 action_mold_dispatch(ValueCell* value, ValueCell* out, bool only, bool all, bool flat,
                         ValueCell* arg_limit, i32 limit, i32 indent);
ValueCell* action_eval_path_dispatch(ValueCell* parent, ValueCell* element, ValueCell* value,
                                     ValueCell* path, ValueCell* holder, ValueCell* holder_item,
                                     i32 index, bool case_sensitive, bool flag1, bool flag2,
                                     bool flag3);
void action_negate_dispatch(ValueCell* value);
void action_round_dispatch(ValueCell* value, ValueCell* scale, bool even, bool down,
                           bool half_down, bool floor, bool ceiling, bool half_ceiling);
bool action_even_q_dispatch(ValueCell* value);
bool action_odd_q_dispatch(ValueCell* value);
ValueCell* action_complement_dispatch(ValueCell* value);
void action_append_dispatch(ValueCell* series, ValueCell* value, i32 part, bool only, i32 dup);
void action_insert_dispatch(ValueCell* series, ValueCell* value, i32 part, bool only, i32 dup);
void action_change_dispatch(ValueCell* series, ValueCell* value, i32 part, bool only, i32 dup);
void action_clear_dispatch(ValueCell* series);
ValueCell* action_copy_dispatch(ValueCell* value, ValueCell* fresh, ValueCell* part, bool deep,
                                ValueCell* types);
ValueCell* action_find_dispatch(ValueCell* series, ValueCell* value, ValueCell* part, bool only,
                                bool case_sensitive, bool same, bool any, ValueCell* with,
                                ValueCell* skip, bool last, bool reverse, bool tail, bool match);
i32 action_length_q_dispatch(ValueCell* series);
ValueCell* action_move_dispatch(ValueCell* origin, ValueCell* target, ValueCell* part);
ValueCell* action_pick_dispatch(ValueCell* series, i32 index, ValueCell* index_cell);
ValueCell* action_poke_dispatch(ValueCell* series, i32 index, ValueCell* value,
                                ValueCell* index_cell);
ValueCell* action_put_dispatch(ValueCell* series, ValueCell* key, ValueCell* value,
                               bool case_sensitive);
void action_remove_dispatch(ValueCell* series, ValueCell* part, ValueCell* key);
void action_reverse_dispatch(ValueCell* series, ValueCell* part, ValueCell* skip);
ValueCell* action_select_dispatch(ValueCell* series, ValueCell* value, ValueCell* part, bool only,
                                  bool case_sensitive, bool same, bool any, ValueCell* with,
                                  ValueCell* skip, bool last, bool reverse);
ValueCell* action_sort_dispatch(ValueCell* series, bool case_sensitive, ValueCell* skip,
                                ValueCell* comparator, ValueCell* part, bool all, bool reverse,
                                bool stable);
void action_swap_dispatch(ValueCell* series1, ValueCell* series2);
ValueCell* action_take_dispatch(ValueCell* series, ValueCell* part, bool deep, bool last);
void action_trim_dispatch(ValueCell* series, bool head, bool tail, bool auto_, bool lines,
                          bool all, ValueCell* with);
ValueCell* action_create_dispatch(ValueCell* port);
ValueCell* action_close_dispatch(ValueCell* port);
ValueCell* action_delete_dispatch(ValueCell* file);
ValueCell* action_modify_dispatch(ValueCell* target, ValueCell* field, ValueCell* value,
                                  bool case_sensitive);
ValueCell* action_open_dispatch(ValueCell* port, bool new_, bool read, bool write, bool seek,
                                ValueCell* allow);
ValueCell* action_open_q_dispatch(ValueCell* port);
ValueCell* action_query_dispatch(ValueCell* target);
ValueCell* action_read_dispatch(ValueCell* source, ValueCell* part, ValueCell* seek, bool binary,
                                bool lines, bool info, ValueCell* as);
ValueCell* action_rename_dispatch(ValueCell* from, ValueCell* to);
ValueCell* action_update_dispatch(ValueCell* port);
ValueCell* action_write_dispatch(ValueCell* dest, ValueCell* data, bool binary, bool lines,
                                 bool info, bool append, ValueCell* part, ValueCell* seek,
                                 ValueCell* allow, ValueCell* as);

// ---- comparison -----------------------------------------------------------------------------
// Machine boolean; -2 answers raise invalid-compare for the orderings.
bool action_compare(ValueCell* value1, ValueCell* value2, i32 op);
// Compares frame cells 0 and 1 and writes the logic! answer into the result cell.
void action_compare_logic(i32 op);
// Three-way compare for sorting; -2 passes through.
i32 action_compare_int(ValueCell* value1, ValueCell* value2, i32 op);

// ---- table entries (the GenericActionTable) ----------------------------------------------------
// Values come from the argument frame; each refinement is -1 when absent,
// else the frame position of its first argument.
void action_make();
void action_random(i32 seed, i32 secure, i32 only);
void action_reflect();
void action_to();
void action_form(i32 part);
void action_mold(i32 only, i32 all, i32 flat, i32 part);
void action_eval_path(i32 setting);
void action_compare_entry();
void action_absolute();
void action_add();
void action_divide();
void action_multiply();
void action_negate();
void action_power();
void action_remainder();
void action_round(i32 to, i32 even, i32 down, i32 half_down, i32 floor, i32 ceiling,
                  i32 half_ceiling);
void action_subtract();
void action_even_q();
void action_odd_q();
void action_and_t();
void action_complement();
void action_or_t();
void action_xor_t();
void action_append(i32 part, i32 only, i32 dup);
void action_at();
void action_back();
void action_change(i32 part, i32 only, i32 dup);
void action_clear();
void action_copy(i32 part, i32 deep, i32 types);
void action_find(i32 part, i32 only, i32 case_, i32 same, i32 any, i32 with, i32 skip,
                 i32 last, i32 reverse, i32 tail, i32 match);
void action_head();
void action_head_q();
void action_index_q();
void action_insert(i32 part, i32 only, i32 dup);
void action_length_q();
void action_move(i32 part);
void action_next();
void action_pick();
void action_poke();
void action_put(i32 case_);
void action_remove(i32 part, i32 key);
void action_reverse(i32 part, i32 skip);
void action_select(i32 part, i32 only, i32 case_, i32 same, i32 any, i32 with, i32 skip,
                   i32 last, i32 reverse);
void action_sort(i32 case_, i32 skip, i32 compare, i32 part, i32 all, i32 reverse, i32 stable);
void action_skip();
void action_swap();
void action_tail();
void action_tail_q();
void action_take(i32 part, i32 deep, i32 last);
void action_trim(i32 head, i32 tail, i32 auto_, i32 lines, i32 all, i32 with);
void action_create();
void action_close();
void action_delete();
void action_modify(i32 case_);
void action_open(i32 new_, i32 read, i32 write, i32 seek, i32 allow);
void action_open_q();
void action_query();
void action_read(i32 part, i32 seek, i32 binary, i32 lines, i32 info, i32 as);
void action_rename();
void action_update();
void action_write(i32 binary, i32 lines, i32 info, i32 append, i32 part, i32 seek, i32 allow,
                  i32 as);

// The frame cell of a refinement position, or null when the refinement is
// absent (-1). Typed dispatchers and implementations take null for an
// absent optional argument cell.
ValueCell* action_refinement_cell(i32 position);

}  // namespace zan
