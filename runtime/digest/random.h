// The random generator behind every `random` action and its /seed and
// /secure refinements: a generator over a state of 624 signed 32-bit
// words, regenerated as a whole and tempered on output, whose right shifts
// all propagate the sign, so that each draw is a 31-bit value; plus a
// secure source read from the cryptographic service.
#pragma once
#include "runtime/core/cell.h"

namespace zan {

// Seed of the generator at start-up; also the process-wide hash seed.
constexpr i32 RANDOM_STARTUP_SEED = 19650218;
constexpr int RANDOM_STATE_WORDS = 624;

// Run once at start-up, before any hash table is built: seeds the generator
// with RANDOM_STARTUP_SEED and sets the seed of murmur3_32 to that value.
void random_init();

// Re-seeds the generator in place (the /seed refinements): the same seed
// gives the same following draws. The hash seed is left alone.
void random_seed(i32 seed);

// The next draw, 0..7FFFFFFFh. A generator that was never seeded seeds
// itself with RANDOM_STARTUP_SEED first.
i32 random_next();

// Four bytes from the secure source with bit 31 cleared. A source that
// fails is a fault below the language: the process ends with a runtime
// error rather than hand out a value that is not random.
i32 random_secure_next();

// n >= 1: uniform in 1..n, draws at or above (7FFFFFFFh div n) x n being
// discarded; n = 0: 0; n < 0: -(the same for |n|); n = -2^31: -1 - d for
// one draw d. The draws come from the secure source when secure is true.
i32 random_int(bool secure, i32 n);

}  // namespace zan
