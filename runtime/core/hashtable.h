// Open-addressing hash tables: the index of hash!, the key index of map!,
// the symbol name index and the word tables of contexts, pointer-keyed
// tables and the ownership table all share one layout. A table is the Node
// of a byte series holding a HashTableHeader; the buckets, keys and (for
// hash!) position indexes live in further series that the header names, so
// the collector sees and moves them like any other buffer.
//
// The integer map at the end of this file is a smaller design kept on the
// process heap, for the collector's own use.
//
// Rooting: every operation that can allocate keeps node compaction held off
// for its duration, so the Node handles it is given stay valid; buffers may
// still move, and the caller keeps the table reachable (in a value cell on
// the data stack, in a block, in a registered root).
#pragma once
#include <cstddef>

#include "runtime/core/cell.h"
#include "runtime/core/memory.h"

namespace zan {

enum HashTableKind : u32 {
    HASH_KIND_HASH = 0,       // hash!: every cell of the block, duplicates chained
    HASH_KIND_MAP = 1,        // map!: key cells of key/value records
    HASH_KIND_SYMBOL = 2,     // the symbol table and the word tables of contexts
    HASH_KIND_POINTER = 3,    // entries keyed by a raw word (a node)
    HASH_KIND_OWNERSHIP = 4,  // the ownership table: entries keyed by a series node
};

// Kinds 3 and 4: the first cell of an entry, and a key given as a cell, hold
// the key word in data1.
inline u32 pointer_entry_key(const ValueCell* e) { return e->data1; }
inline void set_pointer_entry_key(ValueCell* e, u32 key) { e->data1 = key; }
// The key as a node slot, for the collector to mark and move.
inline Node* pointer_entry_key_slot(ValueCell* e) { return &e->data1; }
// An internal text key (TYPE_TEXT_KEY): the number of code points it gives.
inline u32 text_key_length(const ValueCell* c) { return c->data3; }

// The eleven words at the head of a table's header series.
struct HashTableHeader {
    u32 count;      // live entries
    u32 indexes;    // kind 0: Node of the position -> bucket + 1 series;
                    // kinds 3 and 4: entry size in bytes ((value size + 1) * 16)
    Node chains;    // kind 0: Node of the chain series
    Node flags;     // two bits per bucket
    Node keys;      // one word per bucket: block position, or entry byte offset
    Node values;    // the block holding the keys (and values)
    u32 fill;       // buckets not empty (live + deleted)
    u32 buckets;    // a power of two, at least 4
    u32 threshold;  // fill at which an insertion first resizes
    u32 kind;
    u32 stamp;      // 0, or the node-compaction counter + 1 when last built
};
static_assert(sizeof(HashTableHeader) == 44, "a table header is eleven words");

// Bucket flag values (two bits per bucket, 16 buckets per flag word).
constexpr u32 BUCKET_USED = 0;
constexpr u32 BUCKET_DELETED = 1;
constexpr u32 BUCKET_EMPTY = 2;

// Shifts and moves of more positions than this ask the caller to rebuild.
constexpr i32 HASH_SHIFT_LIMIT = 30000;

// Answers of hashtable_put_key through its status out-parameter.
constexpr i32 HASH_PUT_NEW = 0;       // the key was entered
constexpr i32 HASH_PUT_FOUND = 1;     // kinds 1 and 2: an equal key was there
constexpr i32 HASH_PUT_REBUILT = 2;   // kind 0: the whole index was rebuilt

// The header of a table. Re-read it after anything that can allocate.
inline HashTableHeader* hashtable_header(Node table) {
    return reinterpret_cast<HashTableHeader*>(node_buffer(table)->head_ptr());
}

// ---- seams filled by the datatype layer ----------------------------------------
// Key comparison: true when a (a stored key) and b (the key looked for)
// satisfy the compare op code (0 equal, 2 strict-equal, 9 same, 12 the
// search equality, ...). Inserts ask for strict equality, lookups for the
// mode they were given. Until one is installed, keys compare equal when
// their type and three data words are identical.
using KeyCompareFn = bool (*)(ValueCell* a, ValueCell* b, i32 op);
void hashtable_set_key_compare(KeyCompareFn fn);
// map! key normalisation (word keys become set-words, series keys are
// copied); may allocate. Called on every new key that hashtable_put_all
// enters into a map!. Until one is installed, keys are stored as given.
using MapKeyStoreFn = ValueCell* (*)(ValueCell* key, ValueCell* path);
void hashtable_set_map_key_store(MapKeyStoreFn fn);
// The symbol name hash (the kind-2 table over the symbol block). Word keys
// hash by their canonical symbol, which is read from this table's block;
// while it is 0 a word's own symbol id is used. The symbol table's maker
// sets it; a mark callback keeps it (and its block) alive.
void hashtable_set_symbol_table(Node table);
// The canonical id of a symbol: its alias when it has one, else itself.
u32 hashtable_symbol_canonical(u32 symbol);

// ---- hashing ---------------------------------------------------------------------
// The hash of a key cell, chosen by its type: text and binary by content,
// words by their canonical symbol (so that case variants meet), blocks and
// objects by identity (position and node), scalars by their data words.
u32 hashtable_hash_key(const ValueCell* key, bool case_sensitive);
// The text hash of a string-like cell (or of an internal text key, type 56,
// whose data3 gives the number of code points): the code points from the
// position, folded to lower case unless case-sensitive, each entering by one
// multiply, the result spread by the MurmurHash3 finaliser. Texts equal
// under the fold hash alike whatever their unit width.
u32 hashtable_hash_value(const ValueCell* text, bool case_sensitive);

// ---- tables ------------------------------------------------------------------------
// Creates a table for size keys. block: null for a new values block of size
// cells, or a block cell whose buffer becomes the values block (its keys are
// entered from the buffer head; map! in records of two). A kind-2 table
// asked for with value size 2 and a context! cell is a copy of that
// context's word table. Kinds 3 and 4 always get a new values series of
// entries of value_size + 1 cells.
Node hashtable_init(i32 size, const ValueCell* block, u32 kind, u32 value_size);

// Enters a key cell that already lies in the table's values block. Kind 0
// chains equal keys; kinds 1 and 2 return the equal key already present.
// status (may be null) receives one of the HASH_PUT_* answers. The result is
// the key's cell, or the equal stored cell.
ValueCell* hashtable_put_key(Node table, ValueCell* key, i32* status);
// hashtable_put_key without the status.
ValueCell* hashtable_put(Node table, ValueCell* key);
// map!: enters a new key cell (of the values block) whose lookup, the last
// table operation, found nothing; takes the bucket that lookup ended on when
// the table is unchanged, else probes as hashtable_put_key does. With copied
// the caller vouches that the cell is the key that lookup was given or a copy
// of its content (same type, the series from its index), so that the hash
// noted then is taken without hashing the key again.
ValueCell* hashtable_put_missed(Node table, ValueCell* key, i32* status, bool copied = false);
// Enters every key of the values block from position start (0-based), one
// key per record of record_size cells. map!: a key already present keeps its
// place, takes the later value, and the later record leaves the block; new
// keys are normalised first. hash!: stops when an insertion rebuilt the
// index. Returns HASH_PUT_REBUILT when that happened, else 0.
i32 hashtable_put_all(Node table, i32 start, i32 record_size);

// Finds a key equal to key under the compare op. hash!: among the positions
// that lie a whole number of records (skip) from start, the first at or
// after start, the last one with last, or the nearest one before start with
// reverse. Other kinds: the stored key cell (start, skip, last, reverse are
// ignored). Null when none. The key must not lie in a buffer that a compare
// could move (use a data-stack cell or a local copy).
ValueCell* hashtable_get(Node table, ValueCell* key, i32 start, i32 skip, i32 op, bool last,
                         bool reverse);
// The lookup of hashtable_get when it can be made without anything that
// allocates or calls out (today: a map! and a string! key of bytes under an
// equality that compares text, an integer! key under one that compares
// integers by value, or a word key of any kind under an equality that folds
// case): true with *found set (null when absent, and the miss noted for
// hashtable_put_missed), false when hashtable_get must answer. The key may
// then lie anywhere.
bool hashtable_get_quick(Node table, const ValueCell* key, i32 op, ValueCell** found);
// hashtable_get_quick for a string! key in a map!'s table under an equality
// that compares text, folding case with fold (select's and put's).
bool hashtable_map_get_text(Node table, const ValueCell* key, bool fold, ValueCell** found);
// hash!: the next match after a previous one (a cell of the block), a whole
// number of records (skip) further on, or before it with reverse.
ValueCell* hashtable_get_next(Node table, ValueCell* key, const ValueCell* previous, i32 skip,
                              i32 op, bool reverse);

// Deletes the entry of a key cell of the values block. hash!: the cell's
// position leaves its bucket (or chain). map!: the record's value cell gets
// header 0 and the key stays indexed. Count drops by one.
void hashtable_delete(Node table, ValueCell* key);
// Deletes the keys of the n cells from block position position.
void hashtable_remove_range(Node table, i32 position, i32 n);
// After count cells from position moved by offset inside a hash!'s block
// (insertion: offset > 0; removal of the -offset cells before position:
// offset < 0, whose entries are deleted here), adds offset to their stored
// positions. Returns 1, changing nothing, when more than HASH_SHIFT_LIMIT
// positions would move: the caller then rebuilds with hashtable_reset.
i32 hashtable_shift_indexes(Node table, i32 offset, i32 position, i32 count);
// After the count cells at from moved so that they start at dest (positions
// of the final layout), with the cells between them shifted over: adjusts the
// stored positions of both ranges. Returns 1, changing nothing, when more
// than HASH_SHIFT_LIMIT positions are involved.
i32 hashtable_move_range(Node table, i32 from, i32 count, i32 dest);

// Count, fill and stamp 0, every bucket empty. A hash! also forgets its
// positions and chains; kinds 3 and 4 drop their entries (and keep a fresh
// stamp). The values block of kinds 1 and 2 is left to its owner.
void hashtable_clear(Node table);
// Empties and re-sizes for size keys, then re-enters the values block.
void hashtable_reset(Node table, i32 size);
// A copy of the table over another values series (for kind 0 with its own
// positions and chains).
Node hashtable_copy(Node table, Node values);

// Kinds 3 and 4: entries keyed by a raw word (a node). put copies value
// size cells from values (when not null) into the entry, adding it when
// absent; both return the entry's key cell (its value cells follow), get
// null when absent.
ValueCell* hashtable_put_int(Node table, u32 key, const ValueCell* values);
ValueCell* hashtable_get_int(Node table, u32 key);
// Deletes the entry of key; false when there was none.
bool hashtable_delete_int(Node table, u32 key);

// The symbol table: finds or adds the symbol named by len bytes of UTF-8
// text and returns its 1-based position (the symbol id). An exact match is
// asked with case_sensitive, a match up to ASCII case otherwise; a new
// symbol gets as alias the canonical id of a name equal up to case, or -1.
i32 hashtable_find_text(Node table, const char* text, u32 len, bool case_sensitive);
// A word table: the word cell of symbol, matched exactly or, with
// alias_compare, by canonical symbol. Null when absent.
ValueCell* hashtable_find_symbol(Node table, u32 symbol, bool alias_compare);

// The rehash check: a table whose stamp is older than the collector's
// node-compaction counter is rebuilt (hash!) or rehashed in place, since
// keys hashed by node may have moved. Returns true when it did so.
bool hashtable_check_grow(Node table);

// Collector interface: marks the table held in *slot and everything it
// holds (the slot is rewritten when its node was relocated); installed as the
// collector's table marker when the first table is made.
void hashtable_gc_mark(Node* slot);
// The ownership table is weak: hashtable_gc_mark marks only its own storage.
// After the roots are marked, this marks the cells of each entry whose key
// series (and owner's context) is marked; true when it marked a new entry.
bool hashtable_mark_live_entries(Node table);
// Deletes every live entry of a kind-3 or kind-4 table whose key series is
// not marked, or (kind 4) whose owner's context is not marked; the keys of
// the entries that stay are brought up to date after node relocation.
void hashtable_purge_unmarked(Node table);

// ---- the integer map ---------------------------------------------------------------
struct IntMap {
    u32 count;
    u32* flags;    // two bits per bucket
    u32* entries;  // (key, value) per bucket
    u32 fill;
    u32 buckets;
    u32 threshold;
};

// The hash tables use the map as a set (create, put, find, clear); get,
// delete and destroy complete it for the collector's node relocation map
// (old node -> new node), which a moving node-frame compaction would keep.
// A map sized for about `size` keys, on the process heap.
IntMap* intmap_create(u32 size);
void intmap_put(IntMap* map, u32 key, u32 value);
u32* intmap_get(IntMap* map, u32 key);  // the value slot, or null
i32 intmap_find(IntMap* map, u32 key);  // the bucket, or -1
void intmap_delete(IntMap* map, u32 key);
void intmap_clear(IntMap* map);
void intmap_resize(IntMap* map, u32 size);
void intmap_destroy(IntMap* map);

// The key types a symbol table compares by symbol.
inline bool is_word_type(u32 t) { return t >= TYPE_WORD && t <= TYPE_ISSUE; }

}  // namespace zan
