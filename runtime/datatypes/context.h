// Contexts: word tables with value slots. A context node is a two-cell
// buffer: the context! cell and the owner value (function! or object!).
#pragma once
#include "runtime/core/layout.h"
#include "runtime/core/memory.h"
#include "runtime/core/stack.h"

namespace zan {

enum ContextKind : u32 { CTX_GLOBAL = 0, CTX_FUNCTION = 1, CTX_OBJECT = 2 };

constexpr u32 GLOBAL_CONTEXT_START = 4000;

// The global context (node); made once by globals_create.
extern Node g_global_ctx;
void globals_create(u32 slots);

inline u32 context_kind(const ValueCell* ctx) {
    return (ctx->header & CONTEXT_KIND_MASK) >> CONTEXT_KIND_SHIFT;
}
inline bool context_on_stack(const ValueCell* ctx) {
    return (ctx->header & CONTEXT_VALUES_ON_STACK) != 0;
}
// Cell 1 of the context node: the owner value.
inline ValueCell* context_owner(Node ctx) { return context_cell(ctx) + 1; }
// The word table of a context (a kind-2 hash table) and its block of words.
ValueCell* context_words_head(const ValueCell* ctx);
u32 context_word_count(const ValueCell* ctx);
// First value cell (heap contexts: the value block's head; stack contexts:
// data2 while the function runs, null otherwise).
ValueCell* context_values_head(const ValueCell* ctx);

// ---- creation --------------------------------------------------------------------
Node context_create(u32 slots, bool on_stack, bool self, const ValueCell* word_source,
                    u32 kind);
Node context_make_from_block(ValueCell* spec, bool on_stack, bool self, u32 kind);
// A new context of the given kind with a copy of the object's context and
// the object's data1 set to it.
Node context_clone(ValueCell* object, u32 kind);

// ---- lookup ----------------------------------------------------------------------
i32 context_find_word(const ValueCell* ctx, u32 symbol, bool case_insensitive);
i32 context_find_or_add_symbol(ValueCell* ctx, u32 symbol, bool case_insensitive,
                               i32* new_index);
ValueCell* context_find_value_ptr(u32 symbol, Node ctx);
ValueCell* global_value_ptr(u32 symbol);
void global_get_into(u32 symbol, ValueCell* target);

// ---- adding ----------------------------------------------------------------------
i32 context_add_word(ValueCell* ctx, const ValueCell* word);
void context_add_word_value(ValueCell* ctx, const ValueCell* word, const ValueCell* value);
void context_put_word(ValueCell* ctx, const ValueCell* word, const ValueCell* value);
bool context_collect_set_words(ValueCell* ctx, ValueCell* block);
ValueCell* context_add_global(u32 symbol, bool case_insensitive, bool keep_spelling);

// ---- get and set ----------------------------------------------------------------------
ValueCell* context_get_ptr(ValueCell* word, ValueCell* ctx);
ValueCell* context_get(ValueCell* word);
void context_set_word(ValueCell* word, const ValueCell* value, ValueCell* ctx, bool report);
void context_set(ValueCell* word, const ValueCell* value);
i32 context_set_integer(ValueCell* word, i32 n);

// ---- binding -------------------------------------------------------------------------
i32 context_bind_word(const ValueCell* ctx, ValueCell* word);
void context_bind(ValueCell* block, const ValueCell* ctx, bool self_mode);

// ---- index accessors for compiled code ---------------------------------------------------
ValueCell* context_word_at(Node ctx, u32 n);
ValueCell* context_value_at(Node ctx, u32 n);
ValueCell* context_word_or_global(const ValueCell* ctx, u32 symbol);
ValueCell* context_push_value(Node ctx, u32 n);
void context_store_result_at(Node ctx, u32 n);
void context_store_at(Node ctx, u32 n);
void context_store_at_keep_old(Node ctx, u32 n);

void context_init();

}  // namespace zan
