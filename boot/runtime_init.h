// The language runtime from nothing to the state in which the boot image can
// be decoded and the start-up code run: memory, the datatype registry, the
// root block with the two stacks, the symbol table and the global context,
// the well-known words, the natives, the routine table and the lexer.
#pragma once

namespace zan {

// Runs the initialisation steps in their fixed order. Sets the boot flag
// first and leaves it set; the collector stays off. Safe to call again: a
// second call starts from a fresh runtime (tests and tools).
void runtime_init();
// The steps that follow the boot image decode: the interpreter, then the
// collector on and the boot flag off.
void runtime_init_after_decode();

}  // namespace zan
