// The scalar number types (integer!, char!, float!, percent!) meet the other
// scalar types in their mixed arithmetic, comparisons and conversions.
// Those types live in their own files and register after the numbers, so
// the numbers reach them through two channels that fill in as they appear:
//
// - the arithmetic cores of pair!, point2D!, point3D!, tuple!, money!,
//   date! and vector! are reached through their own action rows (their
//   add, subtract, ... entries run the core on argument cells 0 and 1);
//   until a type is registered its row is empty and the numbers raise the
//   type error they raise for any unknown operand;
// - the few conversions that are not action entries are hooks below, which
//   the owning type installs in its init; a null hook means the type is not
//   there yet and the number raises its usual conversion error.
#pragma once
#include "runtime/core/cell.h"
#include "runtime/core/errors.h"
#include "runtime/typesystem/action_table.h"

namespace zan {

struct NumberPeers {
    // money!: a money value equal to n (no currency), written into out.
    ValueCell* (*money_from_integer)(ValueCell* out, i32 n) = nullptr;
    // money!: a money value from a float; strict refuses more than five
    // fraction digits. Raises bad-make-arg for what money cannot hold.
    ValueCell* (*money_from_float)(ValueCell* out, double x, bool strict) = nullptr;
    // money!: the amount as a float (through its decimal text).
    double (*money_to_float)(const ValueCell* money) = nullptr;
    // money!: the amount truncated to an integer; type-limit when too big.
    i32 (*money_to_integer)(const ValueCell* money) = nullptr;
    // date!: seconds since 1970-01-01 00:00 UTC.
    i32 (*date_to_epoch)(const ValueCell* date) = nullptr;
    // The lexer's number scanners (the lexer sits above the datatypes, so
    // it installs them). *error: 0 when the text is a number, -1 when it is
    // not, -2 (integers) when the value does not fit in 32 bits. Until they
    // are installed, to integer! and to float! read the same literal forms
    // with scanners of their own.
    i32 (*scan_integer_text)(const u8* start, u32 length, u32 unit, i32* error) = nullptr;
    double (*scan_float_text)(const u8* start, u32 count, u32 unit, i32* error) = nullptr;
};

extern NumberPeers g_number_peers;

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
