// Reporting of the call stack: the word of the current call (for errors),
// the list of calls, and the traces that errors carry.
#pragma once
#include "runtime/core/stack.h"

namespace zan {

// The word of the innermost call not named <body> or <anon>, from the
// recorded throw frame (or the call top); <not-found> past the bottom.
// Clears the throw frame.
ValueCell* stack_calling_word();
// Appends the words of the calls from the bottom up to end (exclusive) whose
// value is a function!, or every call when level > 1.
void stack_trace_words(i32 level, ValueCell* block, CallFrame* end);
// Forms the same selection up to the position held in an error's stack
// field into the string, each name followed by one space; returns the
// remaining limit.
i32 stack_trace_block(i32 level, const ValueCell* position, ValueCell* out, i32 limit);

}  // namespace zan
