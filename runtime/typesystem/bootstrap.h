// A small runtime start-up for tests and tools: memory, stacks, cycle stack,
// the datatype tables, the root block, symbols, the global context, the
// datatype names and the well-known words, in the order of the real
// start-up. Safe to call again: every call starts from a fresh runtime.
#pragma once

namespace zan {

void runtime_bootstrap_for_tests();

}  // namespace zan
