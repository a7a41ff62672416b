// UTF-8 in bulk: runs of text measured and decoded sixteen bytes at a time
// where they are ASCII, a sequence at a time elsewhere, by the rules of
// the string loader (strict: utf8_decode_char_checked) or of the lenient
// decoding of foreign output (each maximal invalid subsequence becomes one
// U+FFFD). Nothing here allocates or raises.
#pragma once
#include <cstddef>

#include "runtime/core/cell.h"

namespace zan {

// What a walk over a run of bytes found.
struct Utf8Measure {
    enum Stop : u8 {
        END,      // every byte was taken
        CUT,      // a sequence is cut by the end of the run, at `used`
        INVALID,  // a sequence at `used` is not valid (strict walk only)
    };
    size_t used = 0;   // bytes of the whole sequences taken
    size_t count = 0;  // code points they give
    u32 widest = 0;    // the largest of those code points (count == used when all are ASCII)
    Stop stop = END;
};

// Walks n bytes by the string loader's rules: lead bytes C0 to F7 announce
// 2, 3 or 4 bytes, whose others must be 80 to BF; a three-byte value in
// DC00-DCFF or a value above 10FFFF is invalid, as is any other lead
// byte. A sequence that needs more bytes than remain is cut (checked after
// its lead byte, before its other bytes).
Utf8Measure utf8_measure_strict(const u8* p, size_t n);

// Decodes n bytes that utf8_measure_strict took whole into the count code
// points it found, as units of 1, 2 or 4 bytes at out. With unit 1 every
// code point must be below 256, and out may be p itself (the text shrinks
// as it is decoded).
void utf8_decode_strict(const u8* p, size_t n, u8* out, size_t count, u32 unit);

// The lenient walk: a maximal subpart of a valid sequence that cannot be
// completed (a lead byte and the continuation bytes that may follow it),
// or a byte that starts none, counts as one U+FFFD. A sequence that is
// still valid when the run ends is CUT at `used` unless final, when it
// counts as one U+FFFD too. Never INVALID.
Utf8Measure utf8_measure_lenient(const u8* p, size_t n, bool final);

// Decodes the n bytes that utf8_measure_lenient took into the count code
// points it found, as units of 1, 2 or 4 bytes at out (unit 1 only when
// every code point is below 256).
void utf8_decode_lenient(const u8* p, size_t n, u8* out, size_t count, u32 unit);

}  // namespace zan
