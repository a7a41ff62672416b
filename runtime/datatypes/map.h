// map!: the hashed key/value dictionary. A map cell holds data1 the head
// index of its entry block (0), data2 the node of the entry block (key and
// value cells in insertion order) and data3 the node of its kind-1 hash
// table, whose keys are the key cells of that block.
//
// A removed entry stays in the block: its value cell gets header 0 and its
// key stays indexed, so that setting the key again revives the entry in its
// old place. Every walk skips such holes. Word keys of any kind are stored
// as set-words; text and binary keys are copies of the given series.
#pragma once
#include "runtime/core/cell.h"

namespace zan {

// ---- making ------------------------------------------------------------------------------
// Makes cell a map over block (a block-like cell whose buffer becomes the
// entry block, its pairs indexed from the buffer head and their keys
// normalised; a repeated key keeps its first place and takes the later
// value), or over a new entry block of size cells when block is null.
ValueCell* map_make_at(ValueCell* cell, const ValueCell* block, u32 size);
// A map over a copy of count cells (key, value, ...): the maker of map
// literals. The cells may lie anywhere outside the collected heap buffers.
ValueCell* map_make_from_cells(ValueCell* cell, const ValueCell* cells, u32 count);

// ---- keys ----------------------------------------------------------------------------------
// Whether values of a datatype may be map keys.
bool map_key_type_ok(u32 type);
// Normalises a key in place: any word type becomes a set-word (the whole
// header is replaced), a text or binary key becomes a copy of its series
// from its index; the other allowed types stay as they are. A key of any
// other type raises invalid-path with path (none when null) and the key's
// datatype. Returns key. The key may lie in a block: the copy is made
// with the collector held off, so the address stays valid.
ValueCell* map_store_key(ValueCell* key, ValueCell* path);

// ---- services ---------------------------------------------------------------------------------
// Live entries.
i32 map_count(const ValueCell* map);
// extend: the pairs of a block (even length, else invalid-arg) or the live
// entries of a map, each put as a path set does; keys are compared
// case-sensitively with case_sensitive.
void map_extend_from_block(ValueCell* map, ValueCell* block, bool case_sensitive);
// One step of foreach over a map: series is the loop's map cell, whose
// data1 is the cell position in the entry block; each of the count words
// from words' index (word!, set-word!, get-word! or lit-word!, else
// invalid-arg) takes the next cell (key, value, key, ...), a removed entry
// being skipped whole at a key position and a set-word key given as a
// word!; words left at the end take none. data1 moves past the cells
// taken. Answers whether any word took a cell.
bool map_set_words(ValueCell* words, ValueCell* series, i32 count);
// The body block (key and value pairs, each key with the new-line marker),
// pushed on the data stack.
ValueCell* map_body_of(ValueCell* map);
// The cells of the entry block, key and value in turn, a removed entry's
// value with header 0; *count receives their number. Valid until the next
// allocation.
const ValueCell* map_entry_cells(const ValueCell* map, u32* count);

// ---- actions -------------------------------------------------------------------------------------
// make and to: integer!/float! (make only) give an empty map with room for
// that many entries, a block-like spec its pairs, a map! a copy.
ValueCell* map_make(ValueCell* proto, ValueCell* spec, bool is_to);
ValueCell* map_make_action(ValueCell* proto, ValueCell* spec, u32 type);
ValueCell* map_to_action(ValueCell* proto, ValueCell* spec, u32 type);
void map_reflect(ValueCell* map, u32 field_symbol);
// Live entries in entry order, each as "key value" with both molded.
// mold_mode: "#[" and "]" around indented lines (or one line with flat);
// otherwise (form, mold/only) entries separated by line breaks.
i32 map_form_body(ValueCell* map, ValueCell* out, bool only, bool all, bool flat,
                  ValueCell* arg_limit, i32 limit, i32 indent, bool mold_mode);
i32 map_form(ValueCell* map, ValueCell* out, ValueCell* arg_limit, i32 limit);
i32 map_mold(ValueCell* map, ValueCell* out, bool only, bool all, bool flat,
             ValueCell* arg_limit, i32 limit, i32 indent);
// Get (value null): the value, or none for an absent or removed key. Set:
// the value is stored as extend stores it; returns value.
ValueCell* map_eval_path(ValueCell* parent, ValueCell* element, ValueCell* value,
                         ValueCell* path, ValueCell* holder, ValueCell* holder_item, i32 index,
                         bool case_sensitive, bool flag1, bool flag2, bool flag3);
i32 map_compare(ValueCell* value1, ValueCell* value2, i32 op);
// The equality kinds 0, 1, 2, 9 and 12 of two maps.
i32 map_compare_values(ValueCell* value1, ValueCell* value2, i32 op);
void map_clear(ValueCell* map);
ValueCell* map_copy(ValueCell* map, ValueCell* dst, ValueCell* part, bool deep,
                    ValueCell* types);
// The stored key (a set-word given as a word!) or none.
ValueCell* map_find(ValueCell* map, ValueCell* key, ValueCell* part, bool only,
                    bool case_sensitive, bool same, bool any, ValueCell* with, ValueCell* skip,
                    bool last, bool reverse, bool tail, bool match);
i32 map_length_q(ValueCell* map);
ValueCell* map_put(ValueCell* map, ValueCell* key, ValueCell* value, bool case_sensitive);
// Only remove/key: the key's entry becomes a hole; without /key missing-arg.
void map_remove(ValueCell* map, ValueCell* part, ValueCell* key);
// The value or none.
ValueCell* map_select(ValueCell* map, ValueCell* key, ValueCell* part, bool only,
                      bool case_sensitive, bool same, bool any, ValueCell* with,
                      ValueCell* skip, bool last, bool reverse);

// The select action on the map in the first frame cell with the key in the
// second (the refinements but /case and /same mean nothing to a map): the
// value or none in the result cell.
void map_select_entry(bool case_sensitive, bool same);
// map_select_entry(false, false): a select that names no refinement.
void map_select_plain();
// select without refinements answered by the lookup that cannot allocate:
// the value or none into *out; false, nothing done, when it cannot answer.
bool map_select_quick(const ValueCell* map, const ValueCell* key, ValueCell* out);
// put without refinements when the lookup that cannot allocate answers: the
// value stored in place, or a new entry added (which may allocate, with the
// arguments pushed on the data stack first); false, nothing done,
// when the lookup could not answer. Neither raises an error for a key the
// map takes, short of running out of memory.
bool map_put_quick(const ValueCell* map, const ValueCell* key, const ValueCell* value);
// A path set of a key that has a live entry (looked up case-insensitively):
// the value stored in place, as the path set does it; false, nothing done,
// when the key is absent or removed or the lookup that cannot allocate
// cannot answer. Never allocates.
bool map_store_existing(const ValueCell* map, const ValueCell* key, const ValueCell* value);

// The put action on the map in the first frame cell (key and value in the
// next two): the value in the result cell.
void map_put_entry(bool case_sensitive);

// Registers map! and installs the key normaliser of the hash tables and the
// body service of to block!.
void map_init();

}  // namespace zan
