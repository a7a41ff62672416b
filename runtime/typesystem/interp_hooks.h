// What the callable, object and error datatypes need from the evaluator and
// from the system object, which are built on top of the datatype layer. The
// evaluator fills its slots when it starts (interp_init, before any code
// runs); the system settings follow once the start-up code has built the
// system object.
#pragma once
#include "runtime/core/cell.h"

namespace zan {

// Callback kinds of change handlers and port actors (the bits tested in
// system/state/callbacks/bits while tracing).
constexpr u32 CALLBACK_ON_CHANGE = 8;
constexpr u32 CALLBACK_ON_DEEP_CHANGE = 16;
constexpr u32 CALLBACK_PORT_ACTOR = 32;

// Plug-in point: installed by interp_init and system_ready; tests install a
// stand-in evaluator.
struct InterpHooks {
    // Evaluates every expression of a (bound) block; the last result stays
    // on the data stack; errors pass through. Used by make object! and
    // make error! with a block spec.
    void (*eval_block)(ValueCell* block) = nullptr;
    // Runs a function! whose function frame the caller has opened and whose
    // arguments it has pushed; the result is left in the frame's result
    // cell. ctx is the context of the object the call is made for, name the
    // frame's word, callback_bit one of the CALLBACK_* kinds.
    void (*call_function)(ValueCell* fn, Node ctx, ValueCell* name, u32 callback_bit) = nullptr;
    // The interpreter's current position (copied into an error's near
    // field), or null when there is none.
    const ValueCell* (*position)() = nullptr;

    // Settings of the system object: system/state/stack-trace and
    // system/state/source-files. Null (or a null answer) while there is no
    // system object: no stack line in error reports, no files captured.
    const ValueCell* (*state_stack_trace)() = nullptr;
    const ValueCell* (*state_source_files)() = nullptr;

    // Called before a function's source body is handed out (body-of of a
    // function! or of an op! made from one), so that a library function
    // whose executable body is made on its first call makes it from the
    // body as it is before anyone can change it. Null: nothing to do.
    void (*body_handed_out)(const ValueCell* fn) = nullptr;
};

extern InterpHooks g_interp_hooks;

}  // namespace zan
