// What making a function learns from its spec block, remembered by the
// spec's content: the header flags the spec check gives, a context made
// from the spec whose word table new functions' contexts share, and the
// parsed argument cache of the first call. A function made in a loop from
// the same spec (or from equal specs, as does, has and function build
// afresh each time) then checks, tables and parses its spec once.
//
// The key is the content itself: the types and symbols of the spec's cells,
// the shape of its nested blocks and the current value of every word in
// them (type words are checked and turned into typesets by their values),
// so a changed spec, or a type word given another value, is a different
// key and goes the long way.
#pragma once
#include "runtime/core/cell.h"

namespace zan {

// A spec's content in a comparable form.
struct SpecKey {
    static constexpr u32 MAX_WORDS = 192;
    u32 words[MAX_WORDS];
    u32 count = 0;
    u32 hash = 0;
};

// Builds the key of the spec cells of node from start to the tail; false
// when the spec holds something the memo does not take (then nothing is
// remembered for it).
bool spec_key_make(Node spec, u32 start, SpecKey& key);

// The slot remembered for the key, or -1.
i32 spec_memo_find(const SpecKey& key);
// Remembers a checked spec: its flags and the context made from it (no
// function's: it is only a source of word tables). Returns the slot.
i32 spec_memo_store(const SpecKey& key, u32 flags, Node proto_ctx);
u32 spec_memo_flags(i32 slot);
Node spec_memo_context(i32 slot);
// The argument cache remembered for the slot (a block! cell), or null.
const ValueCell* spec_memo_cache(i32 slot);
void spec_memo_set_cache(i32 slot, const ValueCell* cache);
// A function's own spec (a block! cell) that later functions of a spec
// without doc strings share, or null; the key says all of such a spec.
const ValueCell* spec_memo_spec(i32 slot);
void spec_memo_set_spec(i32 slot, const ValueCell* spec);

// The value of a word, or null when it has none that can be read now.
const ValueCell* spec_word_value(const ValueCell* w);

// Forgets everything (the heap is being reset).
void spec_memo_reset();

}  // namespace zan
