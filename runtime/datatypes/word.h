// The six word types (word!, set-word!, lit-word!, get-word!, refinement!,
// issue!): one cell layout (data1 context node, data2 symbol id, data3 index
// in the context or -1), made from names and values, read and written
// through their contexts.
#pragma once
#include "runtime/core/layout.h"

namespace zan {

inline bool any_word_type_q(u32 type) { return type >= TYPE_WORD && type <= TYPE_ISSUE; }

// ---- making words -------------------------------------------------------------------
// *_load: a word of the name, the name added to the global context when
// new. word_load answers the context's own cell (copied into the root block
// in boot mode; the table cell moves when the table grows); the lit-, set-
// and get-word forms a copy of that type, and issue_load an issue, kept in
// the root block in boot mode and pushed otherwise; refinement_load an
// unbound refinement kept in the root block.
ValueCell* word_load(const char* name);
ValueCell* refinement_load(const char* name);
// *_make_at: writes the word into cell, bound in the global context (every
// spelling of a name shares the canonical slot).
ValueCell* word_make_at(u32 symbol, ValueCell* cell);
ValueCell* issue_make_at(const char* name, ValueCell* cell);
// Adds the symbol to the global context; in boot mode the word is kept in
// the root block.
ValueCell* word_make_global(u32 symbol);
// *_make_in: a global word of the name appended to block.
ValueCell* word_make_in_symbol(ValueCell* block, u32 symbol);
// A global word of the symbol, pushed or written into the result cell.
ValueCell* word_push_symbol(u32 symbol);
// Appends a copy of the cell to the root block, where it stays for the run.
ValueCell* word_root_append(const ValueCell* cell);

// ---- reading and writing ----------------------------------------------------------------
// The walker reads and sets words itself; the forms below that it does not
// call are the ones code compiled ahead of time calls (the system has no
// such compiler yet, so only their tests do).
// Pushes the word's value; no-value when it is unset (the _raw and get-word
// forms push unset as it is).
ValueCell* word_push_value(ValueCell* word);
ValueCell* word_push_value_raw(ValueCell* word);
ValueCell* get_word_push_value(ValueCell* word);
// set for frame arguments 0 (the word) and 1 (the value): need-value for an
// unset value; the value becomes the result. The other *_set forms take an
// unset value as well, and the *_get forms put the word's value, unset
// included, into the result cell.
void word_set_from_args();
void lit_word_set();
void set_word_set();
void get_word_set();
void refinement_set();
void lit_word_get();
void set_word_get();
void refinement_get();
// Stores the result cell into slot; need-value (naming slot) when unset.
void word_store_result(ValueCell* slot);
// The word's spelling as a string! (the symbol's cached string), pushed.
ValueCell* word_push_name(const ValueCell* word);
// The symbol! cell of the word's symbol, with its cached string made.
ValueCell* word_symbol_entry(const ValueCell* word);

// ---- actions ----------------------------------------------------------------------------
ValueCell* word_make(ValueCell* proto, ValueCell* spec, u32 type);
ValueCell* issue_make(ValueCell* proto, ValueCell* spec, u32 type);
i32 word_form(ValueCell* word, ValueCell* out, ValueCell* arg_limit, i32 limit);
i32 word_mold(ValueCell* word, ValueCell* out, bool only, bool all, bool flat,
              ValueCell* arg_limit, i32 limit, i32 indent);
i32 word_compare(ValueCell* value1, ValueCell* value2, i32 op);
i32 issue_compare(ValueCell* value1, ValueCell* value2, i32 op);
void word_index_q();

void word_init();
void lit_word_init();
void set_word_init();
void get_word_init();
void refinement_init();
void issue_init();

}  // namespace zan
