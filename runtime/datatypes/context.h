// Contexts: word tables with value slots. A context node is a two-cell
// buffer: the context! cell and the owner value (function! or object!).
// The context! cell: data1 the node of the word table, data2 the node of
// the value block (with CONTEXT_VALUES_ON_STACK: the address of the values
// on the data stack while the function runs, 0 otherwise); the header holds
// the kind and the self flag.
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
// A new context with room for slots words: its word table (filled from
// word_source's words when given) and, unless on_stack, a value block of
// unset! cells. self marks a context whose self word names its owner.
// Allocates; the caller's cells must be rooted.
Node context_create(u32 slots, bool on_stack, bool self, const ValueCell* word_source,
                    u32 kind);
// A new context of the words (word!, get-word!, lit-word!, refinement!)
// of a spec block, each once.
Node context_make_from_block(ValueCell* spec, bool on_stack, bool self, u32 kind);
// A new stack context (values on the data stack) that shares the word table
// of another, which nothing adds words to afterwards: contexts of functions
// made from one spec. Its owner is unset until the caller sets it.
Node context_share_words(Node proto);
// A new context of the given kind with a copy of the object's context and
// the object's data1 set to it.
Node context_clone(ValueCell* object, u32 kind);

// ---- lookup ----------------------------------------------------------------------
// The word's position in the table, or -1.
i32 context_find_word(const ValueCell* ctx, u32 symbol, bool case_insensitive);
// The value slot of a word of the context (of the global context when the
// context's values live on the stack), or null. Points into a buffer:
// re-read it after anything that allocates.
ValueCell* context_find_value_ptr(u32 symbol, Node ctx);
// The global slot of a symbol (shared by all its spellings), or null.
ValueCell* global_value_ptr(u32 symbol);

// ---- adding ----------------------------------------------------------------------
// The word's position, added when it is not there.
i32 context_add_word(ValueCell* ctx, const ValueCell* word);
// Adds the word with a value; a word already there is left as it is.
void context_add_word_value(ValueCell* ctx, const ValueCell* word, const ValueCell* value);
// Adds the set-words of a block (from its index) that the context lacks;
// true when any was added.
bool context_collect_set_words(ValueCell* ctx, ValueCell* block);
// The global context's table cell of a symbol, added when new. With
// keep_spelling a word found under another spelling comes back as a copy
// in the root block with the symbol's own spelling. The table cell moves
// when the table grows: copy it before anything that allocates.
ValueCell* context_add_global(u32 symbol, bool case_insensitive, bool keep_spelling);

// ---- get and set ----------------------------------------------------------------------
// The slot a word names in ctx (self names the owner); no-value for a word
// with no position, not-in-context when the context has no values (a
// function's outside its call).
ValueCell* context_get_ptr(ValueCell* word, ValueCell* ctx);
ValueCell* context_get(ValueCell* word);
// Stores value into the word's slot in ctx (adding the word when it has no
// index); not-defined when the context has no values. An object's word is
// marked assigned and, with report, its on-change* runs.
void context_set_word(ValueCell* word, const ValueCell* value, ValueCell* ctx, bool report);
// context_set_word in the word's own context, with the report;
// not-defined for an unbound word.
void context_set(ValueCell* word, const ValueCell* value);

// ---- binding -------------------------------------------------------------------------
// Binds the word to ctx when ctx has it; its position, or -1 (unchanged).
i32 context_bind_word(const ValueCell* ctx, ValueCell* word);
// Binds the words of a block, its nested blocks, parens and paths to ctx
// (cycles visited once); with self_mode the word self names the owner.
void context_bind(ValueCell* block, const ValueCell* ctx, bool self_mode);
// A deep copy of a block (blocks, parens and paths in it copied too) into
// out, bound to the context as context_bind without self mode binds: the
// same result as the copy and the binding one after the other, in one pass
// over the cells. out must be a rooted cell (a data-stack cell).
void context_copy_bound(const ValueCell* source, ValueCell* out, const ValueCell* ctx);

// ---- index accessors for compiled code ---------------------------------------------------
// Code compiled ahead of time to machine instructions reaches a context's
// words and values by position through these. The system has no such
// compiler yet, so the stores and the push are called only by their tests.
ValueCell* context_word_at(Node ctx, u32 n);
ValueCell* context_value_at(Node ctx, u32 n);
// The context's word of the symbol, else the global one (added when new).
ValueCell* context_word_or_global(const ValueCell* ctx, u32 symbol);
// Pushes value n; not-defined when a stack context is outside its call.
ValueCell* context_push_value(Node ctx, u32 n);
// Store into slot n the result cell, or the value on top of the data stack;
// keep_old then pushes the value the slot held.
void context_store_result_at(Node ctx, u32 n);
void context_store_at(Node ctx, u32 n);
void context_store_at_keep_old(Node ctx, u32 n);

void context_init();

}  // namespace zan
