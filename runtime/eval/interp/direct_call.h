// Calls without a frame: the common natives and actions on their common
// operands, answered where the walker meets them.
//
// An ordinary call marks a frame, pushes its callable and arguments, checks
// each argument against its typeset, dispatches on the first argument's
// type and pops the frame: some two hundred instructions around work that
// is often a dozen (a remainder of two integers, the pick of a block's
// cell, a map's lookup of a short key). A direct routine does that work on
// arguments it is handed and either answers completely or does nothing at
// all. A call is made directly when every argument is of the simple kind
// that cannot call, allocate, raise an error or change anything: a value, a
// word holding a plain value, integer operators with an inline path over
// such operands, or a direct call of a routine that changes nothing. The
// routine then runs once they are all in hand and raises nothing: only a
// put that adds a key to a map and an append that grows a string allocate
// (their stores push the arguments on the data stack first, as a call's
// frame holds them), and they could fail only by running out of memory. A
// routine that may allocate is the last thing a direct call does. When anything is not of that kind (an operand's type, a key the
// quick lookup cannot answer, an owned series), nothing has been changed
// and the ordinary call runs from the start, which raises any error with
// its frames as before. The conditionals either, if and unless are made
// the same way when their condition is direct and the chosen branch holds
// one plain value or one direct call.
//
// No frame the language could see is skipped: a frame shows only in an
// error's report, in a trace (the walker takes the direct path only with
// tracing off) and in the depth where "stack overflow" comes, and a direct
// call starts only with room for every frame the ordinary call would have
// marked, so that the overflow comes where it came.
#pragma once
#include "runtime/eval/interp/interp_internal.h"
#include "runtime/typesystem/action_table.h"

namespace zan {

// A routine's call: its arguments fetched from walk index j on (nested
// calls depth deep), then its work on them, its value into *out; the index
// after the call, or 0 when it did nothing. With whole, only a call that
// ends the walk is made.
using DirectCaller = u32 (*)(EvalWalk& w, u32 j, ValueCell* out, u32 depth, bool whole);
// A routine's work on its arguments in hand (nargs cells from args): its
// value into *out, or false, nothing changed, when the ordinary call must
// be made.
using DirectWork = bool (*)(ValueCell* args, ValueCell* out);

struct DirectEntry {
    DirectCaller call;  // null: the callable has no direct routine
    u8 nargs;           // its parameters (a call names no refinement)
    bool pure;          // changes nothing: may stand in another call's argument
    DirectWork work;
};

// Calls nested deeper than this take the ordinary path.
constexpr u32 DIRECT_MAX_DEPTH = 4;
// The frames and data stack cells the ordinary calls of the deepest
// expression taken directly could use: a set-word's frame, and per level of
// calls a call's and an operator's. A direct call starts only with this
// much room.
constexpr i64 DIRECT_FRAME_ROOM = 16;
constexpr i64 DIRECT_CELL_ROOM = 128;
inline bool room_for_ordinary_call() {
    return g_stack.climit - g_stack.ctop >= DIRECT_FRAME_ROOM &&
           g_stack.limit - g_stack.top >= DIRECT_CELL_ROOM;
}

// By action number (of the natives, only the conditionals are made
// directly, by direct_conditional).
struct DirectTable {
    DirectEntry by_number[ACT_COUNT + 1];
};
extern const DirectTable g_direct_actions;

// The direct routine of a callable value, or null.
inline const DirectEntry* direct_entry(const ValueCell* fn) {
    if (fn->type() != TYPE_ACTION) return nullptr;
    u32 idx = callable_entry(fn);
    if (idx - 1 >= ACT_COUNT) return nullptr;
    const DirectEntry* d = g_direct_actions.by_number + idx;
    return d->call ? d : nullptr;
}

// ---- sites that failed -------------------------------------------------------------------------
// A call that could not be made directly at a site will most often fail
// there again (an argument that is a call of another function, a value of
// another type): the site is remembered, by the address of its word's cell
// in a small table, and the next attempts there are skipped, a number of
// them before the site is tried again. Only the time spent trying depends
// on this: a site skipped, or a table slot taken by another block's cell
// since, takes the ordinary call.
constexpr u32 DIRECT_MISS_SLOTS = 256;
constexpr u32 DIRECT_MISS_SKIPS = 31;
struct DirectMiss {
    const ValueCell* site;
    u32 skips;
};
extern DirectMiss g_direct_misses[DIRECT_MISS_SLOTS];
inline DirectMiss& direct_miss_slot(const ValueCell* site) {
    return g_direct_misses[(reinterpret_cast<uintptr_t>(site) >> 4) & (DIRECT_MISS_SLOTS - 1)];
}
// Whether the call whose word's cell is site is worth making directly
// (false for a site whose last attempt failed, a number of times in a row).
inline bool direct_worth_trying(const ValueCell* site) {
    DirectMiss& m = direct_miss_slot(site);
    if (ZAN_LIKELY(m.site != site) || m.skips == 0) return true;
    m.skips--;
    return false;
}

// The call at walk index i of the word holding the callable whose routine
// is d (read since the last allocation), made directly when it can be: its
// value into *out and the index after it; 0 when the ordinary call must be
// made (nothing was changed; the failure is remembered). The caller asks
// direct_worth_trying first. Tracing is off.
u32 direct_call(EvalWalk& w, u32 i, const DirectEntry* d, ValueCell* out);

// The arguments of a conditional whose condition and blocks were evaluated
// directly but whose chosen branch needs the walker.
struct ConditionalArgs {
    ValueCell args[3];
    u32 count = 0;  // 0: none (the call was made, or not begun)
};

// The call at walk index i of the word holding either, if or unless (nat,
// their native number), made directly when its condition is a direct
// expression (or a set-word of one, whose word is then set) and the chosen
// branch a block holding nothing but a plain value or one direct call that
// ends it: its value into *out and the index after it; 0, nothing changed,
// when the ordinary call must be made. A chosen branch that needs the
// walker leaves the evaluated arguments in rest (the index after the call
// returned): the caller runs the branch in the conditional's frame, as the
// ordinary call would after fetching them. The caller asks
// direct_worth_trying first. Tracing is off.
u32 direct_conditional(EvalWalk& w, u32 i, u32 nat, ValueCell* out, ConditionalArgs& rest);
inline bool conditional_native(const ValueCell* fn) {
    static_assert(NAT_IF == 1 && NAT_UNLESS == 2 && NAT_EITHER == 3, "the conditionals come first");
    return fn->type() == TYPE_NATIVE && callable_entry(fn) - 1 < 3;
}

// The action numbers with a direct routine, as bits (one test for any
// native! or action! value).
extern const u64 g_direct_action_bits;
static_assert(ACT_COUNT < 64, "an action's bit fits a word");
inline bool may_be_direct(const ValueCell* fn) {
    u32 t = fn->type();
    u32 idx = callable_entry(fn);
    if (t == TYPE_ACTION) return idx < 64 && ((g_direct_action_bits >> idx) & 1);
    return conditional_native(fn);
}

// A set-word's value at i beginning with the word holding the callable fn:
// the direct call of a routine that changes nothing (its last argument took
// the operators after it), the index after it; 0 when the ordinary
// evaluation must be made. Tracing is off.
u32 direct_value(EvalWalk& w, u32 i, const ValueCell* fn, ValueCell* out);

// The rounds k up to count of loop or repeat (counter: repeat's word's
// slot, given k before each round, or null) whose body's statements are
// all direct calls or pure expressions, run from a form of the body
// resolved once, while they can. Returns where the walker goes on in round
// k (WALK_START: from the round's start, the counter not yet given); k is
// count + 1 when all ran, the last value then in the loop frame's result
// cell. Tracing is off and the loop's frame is marked.
u32 direct_counted_rounds(EvalWalk& body, i32& k, i32 count, ValueCell* counter);

// A paren of parse run from a form of its statements kept beside it (see
// direct_rounds.cpp): DIRECT_DONE, its value into *out; WALK_START, nothing
// run, when the walker must run it; else the walk index of the statement
// the walker goes on from (those before it ran). Tracing is off and no
// interrupt is pending.
constexpr u32 DIRECT_DONE = ~0u - 1;
u32 direct_paren(const ValueCell* paren, ValueCell* out);

}  // namespace zan
