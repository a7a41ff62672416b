// Where a word sits in a context's word table, remembered per context and
// spelling so that selecting the same field of the same object again (a
// path in a loop body, select, in) skips hashing the symbol into the table.
//
// An entry is trusted only after the word at its position is seen to have
// the spelling the table had there when the entry was made. Positions in a
// word table never change once given (words are only ever appended), so an
// entry whose check passes names the same position the table lookup would:
// a context whose node was freed and handed to another context, or an
// entry overwritten by another pair, fails the check and the table answers.
// Nothing in an entry is a reference the collector must see.
#pragma once
#include "runtime/core/hashtable.h"
#include "runtime/core/layout.h"
#include "runtime/core/memory.h"
#include "runtime/core/stack.h"

namespace zan {

struct FieldCacheEntry {
    Node ctx;        // the context
    u32 symbol;      // the spelling looked for
    u32 index;       // the position found
    u32 table_word;  // the spelling the table holds at that position
};

constexpr u32 FIELD_CACHE_BITS = 9;
extern FieldCacheEntry g_field_cache[1u << FIELD_CACHE_BITS];

// The block of a context's word cells (one per word, in position order).
inline SeriesBuffer* context_words_buffer(Node ctx) {
    return node_buffer(hashtable_header(context_word_table(context_cell(ctx)))->values);
}

// The entry a (context, spelling) pair uses.
inline FieldCacheEntry& field_cache_entry(Node ctx, u32 symbol) {
    return g_field_cache[((ctx * 0x9E3779B1u) ^ (symbol * 0x85EBCA77u)) >> (32 - FIELD_CACHE_BITS)];
}

// The table lookup (case-insensitive), remembered; -1 when absent.
i32 context_field_index_slow(Node ctx, u32 symbol);

// The position of the symbol's word in the context (case-insensitive), or
// -1 when the context has no such word.
inline i32 context_field_index(Node ctx, u32 symbol) {
    const FieldCacheEntry& e = field_cache_entry(ctx, symbol);
    if (e.ctx == ctx && e.symbol == symbol) {
        SeriesBuffer* words = context_words_buffer(ctx);
        if (e.index < words->used_bytes() / sizeof(ValueCell) &&
            word_symbol(words->head_cells() + e.index) == e.table_word)
            return static_cast<i32>(e.index);
    }
    return context_field_index_slow(ctx, symbol);
}

}  // namespace zan
