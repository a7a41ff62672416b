// The remembered word positions of contexts (see context_field_cache.h).
#include "runtime/datatypes/context_field_cache.h"

#include "runtime/datatypes/context.h"

namespace zan {

FieldCacheEntry g_field_cache[1u << FIELD_CACHE_BITS];

i32 context_field_index_slow(Node ctx, u32 symbol) {
    i32 i = context_find_word(context_cell(ctx), symbol, true);
    if (i < 0) return -1;
    FieldCacheEntry& e = field_cache_entry(ctx, symbol);
    e.ctx = ctx;
    e.symbol = symbol;
    e.index = static_cast<u32>(i);
    e.table_word = word_symbol(context_words_buffer(ctx)->head_cells() + i);
    return i;
}

}  // namespace zan
