// Calls of functions that cannot be seen to run: a body made only of
// integer arithmetic and comparisons, words, parens, either/if/unless and
// calls of such functions is evaluated here without the walker's frames.
//
// It is an attempt, not a decision taken beforehand: the evaluator below
// understands a small part of the language and gives up (returns false)
// the moment it meets anything else: another native, a word it may not
// write, a value of another type where an integer is needed, an overflow,
// an interrupt, or more depth than the stacks have room for. Nothing it
// does before giving up can be seen: it does not allocate, writes only its
// own copies of the locals, and calls nothing. The walker then runs the
// same call from its start and does everything as always, errors and
// their frames included. So every observable behaviour is the walker's,
// and the frames the walker would have made are counted here to stay
// within the room the walker has: what succeeds here could not have
// overflowed there.
#pragma once
#include "runtime/eval/interp/interp_internal.h"

namespace zan {

// Runs the body of the interpreted function fn whose frame is on top, its
// nvals context values at the data stack's base (the arguments, then the
// /local flag and the locals). True when it ran to its end: the value is
// in *out and nothing else changed. False when it gave up: nothing changed
// and the walker runs the body. The caller asks pure_call_worth_trying
// first.
bool pure_call_run(const ValueCell* fn, const ValueCell* body, u32 nvals, ValueCell* out);

// The most context values a run copies.
constexpr u32 PURE_MAX_VALS = 8;

// Functions whose last run gave up for another reason than the room or an
// interrupt (something in them the runs do not understand, or a value
// they cannot take), by their "more" node: their calls go straight to the
// walker. Nothing depends on this but speed: a function that could run
// after all (a word changed since) is run by the walker, as any other, and
// a node made again for another function only sends that one the same way.
constexpr u32 PURE_REFUSED_SLOTS = 256;
extern Node g_pure_refused[PURE_REFUSED_SLOTS];
inline u32 pure_refused_slot(Node more) { return (more * 2654435761u) >> 24; }
inline bool pure_call_refused(Node more) { return g_pure_refused[pure_refused_slot(more)] == more; }

// After a call gave up, calls deeper than it are not tried again until it
// has ended (or a call as shallow has begun): a body that gives up far
// down would otherwise be tried again at every level on the way there.
struct PureFence {
    CallFrame* top = nullptr;  // the stack's top when it gave up; null: none
    HeapRef base = 0;          // the saved base and header of the frame
    u32 header = 0;            // below it, which name that call
};
extern PureFence g_pure_fence;

// Whether a call made now is behind the fence (a call as shallow as the
// one that gave up, or shallower, or another call at its place, takes the
// fence down).
inline bool pure_call_fenced() {
    CallFrame* top = g_stack.ctop;
    if (!g_pure_fence.top) return false;
    if (top > g_pure_fence.top && g_pure_fence.top[-1].saved_base == g_pure_fence.base &&
        g_pure_fence.top[-1].header == g_pure_fence.header)
        return true;
    g_pure_fence.top = nullptr;
    return false;
}

// The tests made before a run, inline at every call of an interpreted
// function (most calls are refused by one of them, and a call of the run
// costs its set-up): the values fit, the function has not been refused,
// no fence stands and no interrupt waits.
inline bool pure_call_worth_trying(Node more, u32 nvals) {
    return nvals <= PURE_MAX_VALS && !pure_call_refused(more) && !pure_call_fenced() &&
           ZAN_LIKELY(!g_interrupt_pending);
}

}  // namespace zan
