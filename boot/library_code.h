// Library functions: the function! values that the start-up code defines
// are sealed at the end of start-up so that they behave like functions
// compiled ahead of time.
//
// Sealing gives each of them:
//   - a compiled entry (MORE_ENTRY = LIBRARY_ENTRY), so that the interpreter
//     calls library_function_entry instead of evaluating the body;
//   - an executable body, kept as a sixth cell of its "more" block, made at
//     its first call (or when its source body is first handed out, whichever
//     comes first; so it is always made from the body as sealed): a deep
//     copy of its source body in which every word bound to the global
//     context whose value was a callable (function, native, action, op,
//     routine) at the end of start-up is bound instead to the snapshot
//     context, which holds those values as they were. Calls are therefore
//     static; every other global word (data) is still read where it lives.
//     The blocks and parens of the executable body carry the series flag
//     SERIES_LIBRARY_CODE, so that a path evaluated there runs in a frame
//     named eval-path (eval-set-path for a set-path);
//   - its spec cache, built at once, so its argument checks use the typesets
//     of start-up.
// The source body (MORE_BODY, what body-of, source and mold show) is left as
// it was: changing it changes nothing of what the function does. The entry
// evaluates the executable body with tracing off.
//
// A copy that an object makes of a library function for a new object
// (object_rebind_function) keeps the entry; its executable body is made from
// its own, rebound, source body at its first call.
#pragma once
#include <span>
#include <vector>

#include "runtime/core/cell.h"
#include "runtime/core/stack.h"

namespace zan {

constexpr u32 LIBRARY_ENTRY = 1;
// Cell of a function's more block that holds the executable body.
constexpr u32 MORE_LIBRARY_BODY = 5;

// Installs the compiled-entry table and forgets an earlier seal (a fresh
// start-up); the frame words eval-path and eval-set-path are made.
void library_code_init();
// Seals every function! reachable from the global context (through the
// values of objects, blocks, parens, hashes and maps); returns how many.
u32 library_seal();
// The seal's state outside the heap as words (saved with the library after
// its seal, boot/sealed_heap.h), and back: answers the count of words read,
// 0 (with nothing changed) when they are malformed.
void library_seal_words(std::vector<u64>* out);
size_t library_seal_read(std::span<const u64> words);
// Whether a function! value is a sealed library function.
bool library_function_q(const ValueCell* fn);

// The entry itself (also reachable through the compiled-entry table).
void library_function_entry(Node ctx);
// Whether the code that made the latest call of a library function is
// itself library code (false: code evaluated by the interpreter, such as a
// command at the console or a script).
bool library_caller_is_library();

}  // namespace zan
