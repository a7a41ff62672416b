// unset!, none! and logic!: the three simplest datatypes, their helper
// families and the truth tests of conditionals. Only logic! has a payload:
// data1, 0 or 1.
#pragma once
#include "runtime/core/cell.h"

namespace zan {

// Shared cells to copy from (never written).
extern const ValueCell g_none_cell;
extern const ValueCell g_unset_cell;
extern const ValueCell g_true_cell;
extern const ValueCell g_false_cell;

// ---- unset! ---------------------------------------------------------------------
ValueCell* unset_push();
inline ValueCell* unset_box(ValueCell* c) { cell_init(c, TYPE_UNSET); return c; }
void unset_set_result();
ValueCell* unset_make(ValueCell* proto, ValueCell* spec, u32 type);
i32 unset_form(ValueCell* value, ValueCell* out, ValueCell* arg_limit, i32 limit);
i32 unset_mold(ValueCell* value, ValueCell* out, bool only, bool all, bool flat,
               ValueCell* arg_limit, i32 limit, i32 indent);
i32 unset_compare(ValueCell* value1, ValueCell* value2, i32 op);
void unset_init();

// ---- none! ------------------------------------------------------------------------
ValueCell* none_push();
inline ValueCell* none_box(ValueCell* c) { cell_init(c, TYPE_NONE); return c; }
void none_set_result();
ValueCell* none_make(ValueCell* proto, ValueCell* spec, u32 type);
i32 none_form(ValueCell* value, ValueCell* out, ValueCell* arg_limit, i32 limit);
i32 none_mold(ValueCell* value, ValueCell* out, bool only, bool all, bool flat,
              ValueCell* arg_limit, i32 limit, i32 indent);
i32 none_compare(ValueCell* value1, ValueCell* value2, i32 op);
void none_init();

// ---- logic! -------------------------------------------------------------------------
ValueCell* logic_push(bool value);
inline ValueCell* logic_box(ValueCell* c, bool value) {
    cell_init(c, TYPE_LOGIC, value ? 1u : 0u);
    return c;
}
void logic_set_result(bool value);
inline bool logic_get(const ValueCell* c) { return c->data1 != 0; }
inline void logic_set(ValueCell* c, bool value) { c->data1 = value ? 1u : 0u; }
ValueCell* logic_make(ValueCell* proto, ValueCell* spec, u32 type);
ValueCell* logic_to(ValueCell* proto, ValueCell* spec, u32 type);
void logic_random(ValueCell* value, bool seed, bool secure, bool only);
i32 logic_form(ValueCell* value, ValueCell* out, ValueCell* arg_limit, i32 limit);
i32 logic_mold(ValueCell* value, ValueCell* out, bool only, bool all, bool flat,
               ValueCell* arg_limit, i32 limit, i32 indent);
i32 logic_compare(ValueCell* value1, ValueCell* value2, i32 op);
ValueCell* logic_complement(ValueCell* value);
// and~ (6), or~ (5), xor~ (7) on frame cells 0 and 1.
void logic_bitwise(i32 op);
void logic_init();

// ---- truth tests ----------------------------------------------------------------------
// False for none! and logic! false; with check, an unset! raises no-value
// naming the word.
bool logic_cell_true_q(const ValueCell* cell, bool check, const ValueCell* word);
// The same tests for the value on top of the data stack (no check): the
// conditionals of code compiled ahead of time test their condition there. The
// system has no such compiler yet; only their tests call these.
bool logic_top_false_q();
bool logic_top_true_q();

}  // namespace zan
