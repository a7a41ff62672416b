// The scalar number types (integer!, char!, float!, percent!) meet the other
// scalar types in their mixed arithmetic, comparisons and conversions. The
// arithmetic cores of pair!, point2D!, point3D!, tuple!, money!, date! and
// vector! are reached through their own action rows (their add, subtract,
// ... entries run the core on argument cells 0 and 1); the conversions call
// the owning type directly.
#pragma once
#include "runtime/core/cell.h"
#include "runtime/core/errors.h"
#include "runtime/typesystem/action_table.h"

namespace zan {

// The action of an arithmetic op code (0 add, 1 subtract, 2 multiply,
// 3 divide, 4 remainder, 5 or~, 6 and~, 7 xor~); 0 for any other code.
u32 number_op_action(i32 op);

// The table entry of that action for a datatype, or null when the type (or
// the action) is not registered.
ActionEntry number_peer_entry(u32 type, i32 op);

// The word naming an arithmetic op for error reports: the well-known word
// of add, subtract, multiply and divide, else the word of the current call.
const ValueCell* number_op_word(i32 op);

// Raisers shared by the number types; the datatype arguments are made here.
// invalid-type, type-limit and the like: one datatype! argument.
[[noreturn]] void number_fire_type(Err id, u32 type);
// not-related: a word and a datatype.
[[noreturn]] void number_fire_not_related(const ValueCell* word, u32 type);
// bad-to-arg: the target datatype and the value.
[[noreturn]] void number_fire_bad_to_arg(u32 type, const ValueCell* value);
// expect-arg: the word of the current call, the datatype of the argument,
// and the word of argument position n of that call.
[[noreturn]] void number_fire_expect_arg(u32 type, i32 n);

}  // namespace zan
