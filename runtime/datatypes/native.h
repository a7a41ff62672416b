// native!, action! and op!: the built-in functions, the generic actions and
// the infix operators.
//
// native! (21): data1 the entry, a number 1..120 into the natives table;
// data2 the spec node; data3 the node of a two-cell "more" block: the
// context! cell of a stack context made from the spec, then none.
// action! (22): the same layout, data1 a number 1..62 into the generic
// action table.
// op! (23): a copy of the callable it was made from with header bits 16-23
// holding that callable's datatype (native!, action!, function! or
// routine!); a function or routine also keeps itself in cell 3 of its own
// more block, where the evaluator finds it.
#pragma once
#include "runtime/core/cell.h"

namespace zan {

constexpr u32 NATIVE_TABLE_SLOTS = 120;
inline u32 op_wrapped_type(const ValueCell* op) { return (op->header & OP_WRAPPED_MASK) >> OP_WRAPPED_SHIFT; }

ValueCell* native_make(ValueCell* proto, ValueCell* spec, u32 type);
ValueCell* action_value_make(ValueCell* proto, ValueCell* spec, u32 type);
ValueCell* op_make(ValueCell* proto, ValueCell* spec, u32 type);

// Shared by the three types.
void native_reflect(ValueCell* value, u32 field_symbol);
i32 native_compare(ValueCell* value1, ValueCell* value2, i32 op);

i32 native_form(ValueCell* value, ValueCell* out, ValueCell* arg_limit, i32 limit);
i32 native_mold(ValueCell* value, ValueCell* out, bool only, bool all, bool flat,
                ValueCell* arg_limit, i32 limit, i32 indent);
i32 action_value_form(ValueCell* value, ValueCell* out, ValueCell* arg_limit, i32 limit);
i32 action_value_mold(ValueCell* value, ValueCell* out, bool only, bool all, bool flat,
                      ValueCell* arg_limit, i32 limit, i32 indent);
i32 op_form(ValueCell* value, ValueCell* out, ValueCell* arg_limit, i32 limit);
i32 op_mold(ValueCell* value, ValueCell* out, bool only, bool all, bool flat,
            ValueCell* arg_limit, i32 limit, i32 indent);

void native_init();
void action_value_init();
void op_init();

}  // namespace zan
