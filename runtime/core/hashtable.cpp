#include "runtime/core/hashtable.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/core/case_folding.h"
#include "runtime/core/collector.h"
#include "runtime/core/errors.h"
#include "runtime/core/externals.h"
#include "runtime/core/layout.h"
#include "runtime/core/memory.h"
#include "runtime/core/murmur.h"
#include "runtime/core/unit_array.h"

namespace zan {

namespace {

KeyCompareFn g_key_compare = nullptr;
MapKeyStoreFn g_map_key_store = nullptr;
Node g_symbol_hash = 0;
bool g_symbol_root_registered = false;

// Process-wide scratch: the lowered copy of a name, and the name itself
// while the symbol block may move.
std::vector<u8> g_lowered;
std::string g_name_copy;
// Chains already shifted during one shift or move of positions.
IntMap* g_shifted = nullptr;

constexpr u32 NO_INDEX = 0xFFFFFFFFu;

// A map!'s bucket word holds the key's block position in its low bits and
// the top bits of the key's hash above them (no block reaches 2^27 cells):
// a probe passes over a bucket whose bits differ without reading the key
// cell, which in a large map is a cache miss each.
constexpr u32 MAP_POSITION_MASK = (1u << 27) - 1;
inline u32 map_tag(u32 hash) { return hash & ~MAP_POSITION_MASK; }
// The bucket word of block position pos for a key of this hash.
inline u32 bucket_word(u32 kind, u32 hash, u32 pos) {
    return kind == HASH_KIND_MAP ? map_tag(hash) | pos : pos;
}
// The block position a kind-1 or kind-2 bucket word names.
inline u32 bucket_position(u32 kind, u32 word) {
    return kind == HASH_KIND_MAP ? word & MAP_POSITION_MASK : word;
}
// Whether a map! bucket word may name a key of this hash.
inline bool tag_matches(u32 word, u32 hash) { return ((word ^ hash) & ~MAP_POSITION_MASK) == 0; }

// The last lookup in a map! that found nothing, and the bucket where its key
// would go: a put that follows at once (hashtable_put_missed) takes that
// bucket without probing again. Valid while the table is as it was then:
// the same buckets series, fill and count, and the new key of the same type
// and hash.
struct MissedLookup {
    Node table;
    Node keys;
    u32 buckets, fill, count, hash, type;
    u32 slot;
    u32 payload[3];  // the key's data words: an identical key has the same hash
};
MissedLookup g_missed{};
inline void forget_miss() { g_missed.table = 0; }
// Notes a lookup's miss of key (with this hash) in a map! whose first bucket
// free for a put on the key's probe sequence is slot.
void note_miss(Node table, const ValueCell* key, u32 hash, u32 slot);
// Hashed in place of an empty text, so that no null address reaches the hash.
const u8 k_empty[4] = {0, 0, 0, 0};
constexpr i32 CMP_STRICT = 2;
constexpr u32 KEY_CELL_LIVE = TYPE_UNSET;  // header of a live entry's key cell

// Keeps node compaction off while a table operation runs, so that the Node
// handles it holds stay valid across its allocations.
class CompactionHold {
public:
    CompactionHold() : saved_(g_gc.node_compaction_enabled) {
        g_gc.node_compaction_enabled = false;
    }
    ~CompactionHold() { g_gc.node_compaction_enabled = saved_; }
    CompactionHold(const CompactionHold&) = delete;
    CompactionHold& operator=(const CompactionHold&) = delete;

private:
    bool saved_;
};

inline HashTableHeader* hdr(Node t) {
    return reinterpret_cast<HashTableHeader*>(node_buffer(t)->head_ptr());
}
inline u32* words_of(Node n) { return reinterpret_cast<u32*>(node_buffer(n)->head_ptr()); }
inline ValueCell* cells_of(Node n) { return node_buffer(n)->head_cells(); }
inline u32 cell_count(Node n) { return node_buffer(n)->used_bytes() / 16; }

inline u32 flag_at(const u32* f, u32 i) { return (f[i >> 4] >> ((i & 15) << 1)) & 3u; }
inline void flag_set(u32* f, u32 i, u32 v) {
    u32 s = (i & 15) << 1;
    f[i >> 4] = (f[i >> 4] & ~(3u << s)) | (v << s);
}

inline u32 current_stamp() { return g_gc.nodes_cycles + 1; }

u32 round_pow2_at_least4(u64 n) {
    if (n > 0x80000000u) fire(Err::internal_no_memory);
    u32 bc = hash_round_pow2(static_cast<u32>(n));
    return bc < 4 ? 4 : bc;
}
// Creation truncates the threshold; resizing rounds it.
u32 creation_threshold(u32 buckets) { return static_cast<u32>(buckets * 0.77); }
u32 resize_threshold(u32 buckets) { return static_cast<u32>(buckets * 0.77 + 0.5); }

// Types whose hash reads a node: their tables must be rebuilt after node
// compaction moved nodes.
bool hash_uses_node(u32 t) {
    switch (t) {
        case TYPE_OBJECT: case TYPE_ERROR: case TYPE_PORT: case TYPE_MAP: case TYPE_EVENT:
        case TYPE_NATIVE: case TYPE_ACTION: case TYPE_BLOCK: case TYPE_PAREN: case TYPE_PATH:
        case TYPE_LIT_PATH: case TYPE_SET_PATH: case TYPE_GET_PATH: case TYPE_HASH:
        case TYPE_IMAGE: case TYPE_OP: case TYPE_FUNCTION:
            return true;
        default:
            return false;
    }
}

u8 ascii_lower(u8 c) { return c >= 'A' && c <= 'Z' ? static_cast<u8>(c + 32) : c; }

u32 hash_lowered(const u8* text, u32 len) {
    if (g_lowered.size() < len) g_lowered.resize(len);
    for (u32 i = 0; i < len; i++) g_lowered[i] = ascii_lower(text[i]);
    return murmur3_32(len ? g_lowered.data() : k_empty, len);
}

bool same_name_folded(const u8* a, const u8* b, u32 len) {
    for (u32 i = 0; i < len; i++)
        if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
    return true;
}

// The UTF-8 name of a symbol! cell.
const u8* symbol_name(const ValueCell* sym, u32* len) {
    if (!symbol_name_node(sym)) {
        *len = 0;
        return nullptr;
    }
    SeriesBuffer* b = node_buffer(symbol_name_node(sym));
    *len = b->used_bytes();
    return b->head_ptr();
}

// One code point entering the running text hash (the FNV-1a step over a
// 32-bit value); hashtable_hash_value spreads the result at the end.
inline u32 text_hash_step(u32 h, u32 cp) { return (h ^ cp) * 0x01000193u; }

[[gnu::always_inline]] inline const u8* byte_folds() { return k_case_fold_bytes.data(); }

// The bytes of a string from its index to its tail, when its units are
// bytes (*n their count); null otherwise (no buffer, or wider units).
[[gnu::always_inline]] inline const u8* text_bytes(const ValueCell* s, u32* n) {
    if (!series_node(s)) return nullptr;
    SeriesBuffer* b = node_buffer(series_node(s));
    if (b->unit() != 1) return nullptr;
    u32 len = b->used_bytes();
    i32 index = series_index(s);
    u32 from = index <= 0 ? 0u : static_cast<u32>(index) < len ? static_cast<u32>(index) : len;
    *n = len - from;
    return b->head_ptr() + from;
}

// Equality of n bytes at pa and pb under the fold.
[[gnu::noinline]] bool same_bytes_folded(const u8* pa, const u8* pb, u32 n) {
    return case_fold_compare_bytes(pa, pb, n) == 0;
}

// Equality of n bytes at pa and pb, folding case unless strict.
[[gnu::always_inline]] inline bool same_bytes(const u8* pa, const u8* pb, u32 n, bool fold) {
    // Identical bytes first (the common case of a hit): a short text as two
    // words that may overlap, or its first, middle and last byte, never
    // reading past either text.
    if (n >= 4 && n <= 8) {
        u32 a0, b0, a1, b1;
        std::memcpy(&a0, pa, 4);
        std::memcpy(&b0, pb, 4);
        std::memcpy(&a1, pa + n - 4, 4);
        std::memcpy(&b1, pb + n - 4, 4);
        if (a0 == b0 && a1 == b1) return true;
    } else if (n < 4) {
        if (n == 0 || (pa[0] == pb[0] && pa[n / 2] == pb[n / 2] && pa[n - 1] == pb[n - 1]))
            return true;
    } else if (std::memcmp(pa, pb, n) == 0) {
        return true;
    }
    return fold && same_bytes_folded(pa, pb, n);
}

// Equality of two strings whose units are both bytes, from each one's index
// to its tail, folding case unless strict: what the string compare action
// answers for the equality ops, without its dispatch. -1 when either string
// is not of bytes (the caller then asks the action).
[[gnu::noinline]] int byte_strings_equal(const ValueCell* a, const ValueCell* b, bool fold) {
    u32 na = 0, nb = 0;
    const u8* pa = text_bytes(a, &na);
    const u8* pb = pa ? text_bytes(b, &nb) : nullptr;
    if (!pa || !pb) return -1;
    if (na != nb) return 0;
    return same_bytes(pa, pb, na, fold) ? 1 : 0;
}

// Key equality. A stored key is compared only with a key of its own type
// (an internal text key matches any). Word tables compare symbols directly;
// everything else goes through the installed comparison.
bool keys_equal(u32 kind, ValueCell* stored, ValueCell* key, i32 op) {
    if (stored->type() != key->type() && key->type() != TYPE_TEXT_KEY) return false;
    if (kind == HASH_KIND_SYMBOL) {
        if (is_word_type(key->type())) {
            if (op == CMP_STRICT || op == 9 || op == 10) return word_symbol(stored) == word_symbol(key);
            return hashtable_symbol_canonical(word_symbol(stored)) ==
                   hashtable_symbol_canonical(word_symbol(key));
        }
        if (key->type() == TYPE_SYMBOL) {
            u32 la, lb;
            const u8* a = symbol_name(stored, &la);
            const u8* b = symbol_name(key, &lb);
            if (la != lb) return false;
            if (op == CMP_STRICT || op == 9) return la == 0 || std::memcmp(a, b, la) == 0;
            return same_name_folded(a, b, la);
        }
    }
    // Two integers are equal by value under every equality the tables use.
    if (stored->type() == TYPE_INTEGER && key->type() == TYPE_INTEGER &&
        (op == CMP_STRICT || op == 0 || op >= 9))
        return int_word(stored) == int_word(key);
    if (stored->type() == TYPE_STRING && key->type() == TYPE_STRING &&
        (op == CMP_STRICT || op == 0 || op == 12)) {
        int same = byte_strings_equal(stored, key, op != CMP_STRICT);
        if (same >= 0) return same != 0;
    }
    if (g_key_compare) return g_key_compare(stored, key, op);
    return std::memcmp(payload_bytes(stored), payload_bytes(key), 12) == 0;
}

void ensure_marker() { gc_set_table_marker(hashtable_gc_mark); }

void mark_symbol_hash() {
    if (g_symbol_hash) hashtable_gc_mark(&g_symbol_hash);
}

// ---- buckets ---------------------------------------------------------------------

// New flags and keys series for bc buckets; count and fill start at 0. Each
// new series is stored in the header as soon as it exists, so a collection
// during the next allocation finds it.
void alloc_buckets(Node t, u32 bc, u32 threshold) {
    Node f = alloc_bytes_filled(bc / 4, 0xAA);
    node_buffer(f)->tail = node_buffer(f)->head + bc / 4;
    hdr(t)->flags = f;
    Node k = array_make(bc, 4);
    node_buffer(k)->tail = node_buffer(k)->head + bc * 4;
    HashTableHeader* h = hdr(t);
    h->keys = k;
    h->buckets = bc;
    h->threshold = threshold;
    h->count = 0;
    h->fill = 0;
}

void note_miss(Node table, const ValueCell* key, u32 hash, u32 slot) {
    HashTableHeader* h = hdr(table);
    g_missed = MissedLookup{table, h->keys, h->buckets, h->fill, h->count,
                            hash, key->type(), slot, {}};
    std::memcpy(g_missed.payload, payload_bytes(key), 12);
}

// The series of a table's buckets, read once for a run of insertions that
// cannot allocate.
struct Buckets {
    HashTableHeader* h;
    u32* flags;
    u32* keys;
    explicit Buckets(Node t) : h(hdr(t)), flags(words_of(h->flags)), keys(words_of(h->keys)) {}
};

// Puts a key known to be absent into the first free bucket of its probe
// sequence (used while re-entering keys after a resize).
void insert_fresh(const Buckets& b, u32 hash, u32 word) {
    u32 buckets = b.h->buckets;
    u32 mask = buckets - 1;
    u32 i = hash & mask;
    for (u32 k = 0; k < buckets; k++) {
        u32 fl = flag_at(b.flags, i);
        if (fl != BUCKET_USED) {
            if (fl == BUCKET_EMPTY) b.h->fill++;
            flag_set(b.flags, i, BUCKET_USED);
            b.keys[i] = word;
            return;
        }
        i = (i + k + 1) & mask;
    }
    runtime_fatal(3, "hash table has no free bucket");
}

void insert_fresh(Node t, u32 hash, u32 word) { insert_fresh(Buckets(t), hash, word); }

// ---- kind 0: positions, indexes and chains --------------------------------------------

u32 index_capacity(Node t) { return node_buffer(hdr(t)->indexes)->size / 4; }
u32* index_words(Node t) {
    return reinterpret_cast<u32*>(node_buffer(hdr(t)->indexes)->data());
}

void ensure_index_capacity(Node t, u32 n) {
    SeriesBuffer* b = node_buffer(hdr(t)->indexes);
    if (b->size / 4 >= n) return;
    u64 ns = u64(b->size) * 2;
    while (ns / 4 < n) ns *= 2;
    if (ns > 0x7FFFFFF0u) fire(Err::internal_no_memory);
    series_expand_filled(b, static_cast<u32>(ns), 0xFF);
}

// The chain series: element 1 is the head of the list of free chain
// numbers, element c + 1 the array of chain c (or, for a free number,
// (next free << 2) | 1, which no node can be).
u32 chain_slot(Node t, u32 c) { return array_pick_int(hdr(t)->chains, c + 1); }
bool chain_slot_is_array(u32 v) { return v != 0 && !(v & 1u); }

u32 chain_new(Node t, u32 p1, u32 p2) {
    Node cs = hdr(t)->chains;
    u32 c = static_cast<u32>(array_pick_int(cs, 1));
    if (c) {
        array_poke_int(cs, 1, static_cast<i32>(chain_slot(t, c) >> 2));
    } else {
        c = array_length(cs);
        array_append_int(cs, 0);  // may move the chain series, not the table
    }
    array_poke_int(hdr(t)->chains, c + 1, 0);
    Node a = array_make(4, 4);  // slot c holds 0 meanwhile
    array_append_int(a, static_cast<i32>(p1));
    array_append_int(a, static_cast<i32>(p2));
    array_poke_int(hdr(t)->chains, c + 1, static_cast<i32>(a));
    return c;
}

void chain_free(Node t, u32 c) {
    Node cs = hdr(t)->chains;
    u32 head = static_cast<u32>(array_pick_int(cs, 1));
    array_poke_int(cs, c + 1, static_cast<i32>((head << 2) | 1u));
    array_poke_int(cs, 1, static_cast<i32>(c));
}

// Removes position p from chain c; frees the chain when it empties and
// returns the number of positions left.
u32 chain_remove(Node t, u32 c, u32 p) {
    Node a = chain_slot(t, c);
    i32 off = array_find_int(a, static_cast<i32>(p));
    if (off >= 0) array_remove_at(a, static_cast<u32>(off), 4);
    u32 left = array_length(a);
    if (!left) chain_free(t, c);
    return left;
}

void reset_chains(Node t) {
    Node cs = hdr(t)->chains;
    array_clear(cs);
    array_append_int(cs, 0);  // the chain series never moves here: it has room
}

// Removes the entry of block position pos; false when it had none.
bool kind0_delete_at(Node t, u32 pos) {
    if (pos >= index_capacity(t)) return false;
    u32* idx = index_words(t);
    u32 v = idx[pos];
    if (v == NO_INDEX) return false;
    idx[pos] = NO_INDEX;
    HashTableHeader* h = hdr(t);
    u32 bucket = v - 1;
    if (bucket >= h->buckets) return false;
    i32 kw = static_cast<i32>(words_of(h->keys)[bucket]);
    if (kw >= 0) {
        if (static_cast<u32>(kw) != pos) return false;
        flag_set(words_of(h->flags), bucket, BUCKET_DELETED);
    } else if (chain_remove(t, static_cast<u32>(-kw), pos) == 0) {
        flag_set(words_of(hdr(t)->flags), bucket, BUCKET_DELETED);
    }
    hdr(t)->count--;
    return true;
}

i32 kind0_put(Node t, u32 pos, bool grow);

// Rebuilds a hash! index from its block with bc buckets (more when the
// block would not fit under the threshold).
void kind0_rebuild(Node t, u32 bc, u32 threshold, bool rounded) {
    u32 len = cell_count(hdr(t)->values);
    while (threshold <= len) {
        bc *= 2;
        threshold = rounded ? resize_threshold(bc) : creation_threshold(bc);
    }
    bool had_stamp = hdr(t)->stamp != 0;
    alloc_buckets(t, bc, threshold);
    ensure_index_capacity(t, len);
    SeriesBuffer* ib = node_buffer(hdr(t)->indexes);
    std::memset(ib->data(), 0xFF, ib->size);
    reset_chains(t);
    hdr(t)->stamp = 0;
    for (u32 pos = 0; pos < len; pos++) kind0_put(t, pos, false);
    if (had_stamp) hdr(t)->stamp = current_stamp();
}

void kind0_grow_rebuild(Node t) {
    HashTableHeader* h = hdr(t);
    u32 bc = 2 * h->count < h->buckets ? h->buckets : h->buckets * 2;
    kind0_rebuild(t, bc, resize_threshold(bc), true);
}

// Enters block position pos. With grow, the rehash check and the growth
// rule run first; both rebuild the whole index (which enters pos too).
i32 kind0_put(Node t, u32 pos, bool grow) {
    if (grow) {
        if (hashtable_check_grow(t)) return HASH_PUT_REBUILT;
        HashTableHeader* h = hdr(t);
        if (h->fill >= h->threshold) {
            kind0_grow_rebuild(t);
            return HASH_PUT_REBUILT;
        }
    }
    // Entering a position again replaces what it held before.
    kind0_delete_at(t, pos);
    ensure_index_capacity(t, pos + 1);
    u32 type;
    u32 hash;
    {
        ValueCell* key = cells_of(hdr(t)->values) + pos;
        type = key->type();
        hash = hashtable_hash_key(key, false);
    }
    u32 bc = hdr(t)->buckets;
    u32 mask = bc - 1;
    u32 i = hash & mask;
    i32 first_deleted = -1, empty_at = -1, found = -1;
    for (u32 k = 0; k < bc; k++, i = (i + k) & mask) {
        HashTableHeader* h = hdr(t);
        u32 fl = flag_at(words_of(h->flags), i);
        if (fl == BUCKET_EMPTY) {
            empty_at = static_cast<i32>(i);
            break;
        }
        if (fl == BUCKET_DELETED) {
            if (first_deleted < 0) first_deleted = static_cast<i32>(i);
            continue;
        }
        i32 kw = static_cast<i32>(words_of(h->keys)[i]);
        u32 sp = kw >= 0 ? static_cast<u32>(kw)
                         : static_cast<u32>(array_pick_int(chain_slot(t, static_cast<u32>(-kw)), 1));
        u32 len = cell_count(h->values);
        if (sp >= len) continue;
        ValueCell* block = cells_of(h->values);
        if (keys_equal(HASH_KIND_HASH, block + sp, block + pos, CMP_STRICT)) {
            found = static_cast<i32>(i);
            break;
        }
    }
    if (found >= 0) {
        i32 kw = static_cast<i32>(words_of(hdr(t)->keys)[found]);
        if (kw >= 0) {
            u32 c = chain_new(t, static_cast<u32>(kw), pos);
            words_of(hdr(t)->keys)[found] = static_cast<u32>(-static_cast<i32>(c));
        } else {
            array_append_int(chain_slot(t, static_cast<u32>(-kw)), static_cast<i32>(pos));
        }
    } else {
        found = first_deleted >= 0 ? first_deleted : empty_at;
        if (found < 0) runtime_fatal(3, "hash table has no free bucket");
        HashTableHeader* h = hdr(t);
        u32* f = words_of(h->flags);
        if (flag_at(f, static_cast<u32>(found)) == BUCKET_EMPTY) h->fill++;
        flag_set(f, static_cast<u32>(found), BUCKET_USED);
        words_of(h->keys)[found] = pos;
    }
    index_words(t)[pos] = static_cast<u32>(found) + 1;
    HashTableHeader* h = hdr(t);
    h->count++;
    if (!h->stamp && hash_uses_node(type)) h->stamp = current_stamp();
    return HASH_PUT_NEW;
}

enum class Pick { FirstFrom, LastFrom, Before };

// The position a hash! lookup answers: among the positions holding a key
// equal to key, the one that pick selects relative to anchor, a whole number
// of records of skip cells away. -1 when none.
i64 kind0_search(Node t, ValueCell* key, i32 op, Pick pick, i64 anchor, i32 skip) {
    if (skip < 1) skip = 1;
    i64 best = -1;
    auto consider = [&](u32 p) {
        i64 d = pick == Pick::Before ? anchor - p : i64(p) - anchor;
        if (pick == Pick::Before ? d <= 0 : d < 0) return;
        if (d % skip) return;
        if (best < 0) best = p;
        else if (pick == Pick::FirstFrom ? p < best : p > best) best = p;
    };
    u32 hash = hashtable_hash_key(key, false);
    u32 bc = hdr(t)->buckets;
    u32 mask = bc - 1;
    u32 i = hash & mask;
    for (u32 k = 0; k < bc; k++, i = (i + k) & mask) {
        HashTableHeader* h = hdr(t);
        u32 fl = flag_at(words_of(h->flags), i);
        if (fl == BUCKET_EMPTY) break;
        if (fl == BUCKET_DELETED) continue;
        i32 kw = static_cast<i32>(words_of(h->keys)[i]);
        Node chain = kw >= 0 ? 0 : chain_slot(t, static_cast<u32>(-kw));
        u32 sp = kw >= 0 ? static_cast<u32>(kw) : static_cast<u32>(array_pick_int(chain, 1));
        if (sp >= cell_count(h->values)) continue;
        if (!keys_equal(HASH_KIND_HASH, cells_of(h->values) + sp, key, op)) continue;
        u32 len = cell_count(hdr(t)->values);
        if (kw >= 0) {
            consider(sp);
        } else {
            u32 n = array_length(chain);
            for (u32 e = 1; e <= n; e++) {
                u32 p = static_cast<u32>(array_pick_int(chain, e));
                if (p < len) consider(p);
            }
        }
    }
    return best;
}

// Rewrites the stored positions of [lo, hi) through f. The indexes of
// the range are taken first, so that old and new ranges may overlap.
template <class F>
void remap_positions(Node t, u32 lo, u32 hi, F f) {
    u32 cap = index_capacity(t);
    if (hi > cap) hi = cap;
    if (lo >= hi) return;
    std::vector<u32> old(index_words(t) + lo, index_words(t) + hi);
    u32 top = 0;
    for (u32 k = 0; k < old.size(); k++)
        if (old[k] != NO_INDEX && f(lo + k) + 1 > top) top = f(lo + k) + 1;
    ensure_index_capacity(t, top);
    if (!g_shifted) g_shifted = intmap_create(1024);
    intmap_clear(g_shifted);
    for (u32 k = 0; k < old.size(); k++) {
        if (old[k] == NO_INDEX) continue;
        HashTableHeader* h = hdr(t);
        u32 bucket = old[k] - 1;
        if (bucket >= h->buckets) continue;
        u32* keys = words_of(h->keys);
        i32 kw = static_cast<i32>(keys[bucket]);
        if (kw >= 0) {
            if (static_cast<u32>(kw) >= lo && static_cast<u32>(kw) < hi) keys[bucket] = f(kw);
            continue;
        }
        u32 c = static_cast<u32>(-kw);
        if (intmap_find(g_shifted, c) >= 0) continue;
        intmap_put(g_shifted, c, 1);
        Node chain = chain_slot(t, c);
        u32 n = array_length(chain);
        for (u32 e = 1; e <= n; e++) {
            u32 p = static_cast<u32>(array_pick_int(chain, e));
            if (p >= lo && p < hi) array_poke_int(chain, e, static_cast<i32>(f(p)));
        }
    }
    intmap_clear(g_shifted);
    u32* idx = index_words(t);
    for (u32 p = lo; p < hi; p++) idx[p] = NO_INDEX;
    for (u32 k = 0; k < old.size(); k++)
        if (old[k] != NO_INDEX) idx[f(lo + k)] = old[k];
}

// ---- kinds 1 and 2: keys in the block ------------------------------------------------

// Whether a map's first count entries are all live with at most one entry
// after them, and no bucket deleted.
bool first_entries_live(const HashTableHeader* h, u32 count) {
    u64 len = cell_count(h->values);
    if (h->fill != count || (len != 2 * u64(count) && len != 2 * u64(count) + 2)) return false;
    const ValueCell* cells = cells_of(h->values);
    for (u32 pos = 1; pos < 2 * count; pos += 2)
        if (cells[pos].header == 0) return false;
    return true;
}

// Rehashes in place with bc buckets. The keys re-entered are those the
// table holds (taken before the new buckets replace the old ones), or with
// from_block every key of the values block.
void block_rehash(Node t, u32 bc, u32 threshold, bool from_block = false) {
    forget_miss();
    HashTableHeader* h = hdr(t);
    bool had_stamp = h->stamp != 0;
    u32 kind = h->kind;
    u32 count = h->count;
    // When the first count entries of a map's block are live and at most one
    // entry follows them (the one a put is adding, not entered yet, or a
    // removed one), the table holds exactly those keys (it has count keys,
    // each of a live entry): they are entered again straight from the
    // block, in block order.
    if (!from_block && kind == HASH_KIND_MAP && first_entries_live(h, count)) {
        alloc_buckets(t, bc, threshold);
        Buckets buckets(t);
        const ValueCell* cells = cells_of(buckets.h->values);
        for (u32 pos = 0; pos < 2 * count; pos += 2) {
            u32 hash = hashtable_hash_key(cells + pos, false);
            insert_fresh(buckets, hash, bucket_word(kind, hash, pos));
        }
        hdr(t)->count = count;
        hdr(t)->stamp = had_stamp ? current_stamp() : 0;
        return;
    }
    std::vector<u32> positions;
    if (!from_block) {
        const u32* f = words_of(h->flags);
        const u32* keys = words_of(h->keys);
        for (u32 i = 0; i < h->buckets; i++)
            if (flag_at(f, i) == BUCKET_USED) positions.push_back(bucket_position(kind, keys[i]));
    } else {
        u32 len = cell_count(h->values);
        u32 step = kind == HASH_KIND_MAP ? 2 : 1;
        count = 0;
        for (u32 pos = 0; pos < len; pos += step) {
            positions.push_back(pos);
            ValueCell* cell = cells_of(h->values) + pos;
            if (kind != HASH_KIND_MAP || (pos + 1 < len && cell[1].header != 0)) count++;
        }
    }
    // A large map's keys are hashed in block order first, which reads the
    // block once from end to end instead of at random; they are re-entered
    // in the order the buckets gave, so the new buckets are the same.
    std::vector<u32> hashes;
    if (kind == HASH_KIND_MAP && positions.size() >= 4096) {
        u32 len = cell_count(h->values);
        std::vector<bool> wanted(len);
        for (u32 pos : positions)
            if (pos < len) wanted[pos] = true;
        hashes.resize(len);
        const ValueCell* cells = cells_of(h->values);
        for (u32 pos = 0; pos < len; pos++)
            if (wanted[pos]) hashes[pos] = hashtable_hash_key(cells + pos, false);
    }
    alloc_buckets(t, bc, threshold);
    // Hashing and entering keys allocate nothing, so nothing moves from here.
    Buckets buckets(t);
    const ValueCell* cells = cells_of(buckets.h->values);
    u32 len = cell_count(buckets.h->values);
    for (u32 pos : positions) {
        if (pos >= len) continue;
        u32 hash = hashes.empty() ? hashtable_hash_key(cells + pos, false) : hashes[pos];
        insert_fresh(buckets, hash, bucket_word(kind, hash, pos));
    }
    hdr(t)->count = count;
    hdr(t)->stamp = had_stamp ? current_stamp() : 0;
}

// Enters block position pos, whose key has this hash, into a free bucket.
ValueCell* occupy_bucket(Node t, u32 slot, u32 pos, u32 hash) {
    HashTableHeader* h = hdr(t);
    u32* f = words_of(h->flags);
    if (flag_at(f, slot) == BUCKET_EMPTY) h->fill++;
    flag_set(f, slot, BUCKET_USED);
    words_of(h->keys)[slot] = bucket_word(h->kind, hash, pos);
    h->count++;
    return cells_of(h->values) + pos;
}

ValueCell* block_put(Node t, u32 pos, i32* status) {
    hashtable_check_grow(t);
    HashTableHeader* h = hdr(t);
    if (h->fill >= h->threshold) {
        u32 bc = h->kind == HASH_KIND_MAP || 2 * h->count >= h->buckets ? h->buckets * 2
                                                                        : h->buckets;
        block_rehash(t, bc, resize_threshold(bc));
    }
    u32 kind = hdr(t)->kind;
    u32 hash = hashtable_hash_key(cells_of(hdr(t)->values) + pos, false);
    u32 bc = hdr(t)->buckets;
    u32 mask = bc - 1;
    u32 i = hash & mask;
    i32 first_deleted = -1, empty_at = -1;
    for (u32 k = 0; k < bc; k++, i = (i + k) & mask) {
        h = hdr(t);
        u32 fl = flag_at(words_of(h->flags), i);
        if (fl == BUCKET_EMPTY) {
            empty_at = static_cast<i32>(i);
            break;
        }
        if (fl == BUCKET_DELETED) {
            if (first_deleted < 0) first_deleted = static_cast<i32>(i);
            continue;
        }
        u32 word = words_of(h->keys)[i];
        if (kind == HASH_KIND_MAP && !tag_matches(word, hash)) continue;
        u32 sp = bucket_position(kind, word);
        if (sp >= cell_count(h->values)) continue;
        ValueCell* block = cells_of(h->values);
        if (sp == pos || keys_equal(kind, block + sp, block + pos, CMP_STRICT)) {
            *status = HASH_PUT_FOUND;
            return cells_of(hdr(t)->values) + sp;
        }
    }
    i32 slot = first_deleted >= 0 ? first_deleted : empty_at;
    if (slot < 0) runtime_fatal(3, "hash table has no free bucket");
    *status = HASH_PUT_NEW;
    return occupy_bucket(t, static_cast<u32>(slot), pos, hash);
}

// ---- kinds 3 and 4: entries keyed by a word -----------------------------------------------

inline ValueCell* entry_at(HashTableHeader* h, u32 off) {
    return reinterpret_cast<ValueCell*>(node_buffer(h->values)->head_ptr() + off);
}

i32 entry_bucket(Node t, u32 key) {
    HashTableHeader* h = hdr(t);
    u32* f = words_of(h->flags);
    u32* keys = words_of(h->keys);
    u32 used = node_buffer(h->values)->used_bytes();
    u32 mask = h->buckets - 1;
    u32 i = hash_pointer_mix(key) & mask;
    for (u32 k = 0; k < h->buckets; k++, i = (i + k) & mask) {
        u32 fl = flag_at(f, i);
        if (fl == BUCKET_EMPTY) return -1;
        if (fl == BUCKET_DELETED || keys[i] + h->indexes > used) continue;
        ValueCell* e = entry_at(h, keys[i]);
        if (e->header != 0 && pointer_entry_key(e) == key) return static_cast<i32>(i);
    }
    return -1;
}

// Rehashes with bc buckets, moving the live entries together first.
void entries_rehash(Node t, u32 bc, u32 threshold) {
    alloc_buckets(t, bc, threshold);
    HashTableHeader* h = hdr(t);
    SeriesBuffer* vb = node_buffer(h->values);
    u32 esize = h->indexes;
    u32 used = vb->used_bytes();
    u32 w = 0;
    for (u32 off = 0; off + esize <= used; off += esize) {
        u8* base = vb->head_ptr();
        auto* e = reinterpret_cast<ValueCell*>(base + off);
        if (!e->header) continue;
        if (off != w) std::memmove(base + w, base + off, esize);
        insert_fresh(t, hash_pointer_mix(pointer_entry_key(reinterpret_cast<ValueCell*>(base + w))), w);
        h->count++;
        w += esize;
    }
    vb->tail = vb->head + w;
    h->stamp = current_stamp();
}

void purge_entry(Node t, ValueCell* e) {
    i32 b = entry_bucket(t, pointer_entry_key(e));
    HashTableHeader* h = hdr(t);
    if (b >= 0) {
        flag_set(words_of(h->flags), static_cast<u32>(b), BUCKET_DELETED);
        h->count--;
    }
    e->header = 0;
    set_pointer_entry_key(e, 0);
}

bool node_marked(Node n) {
    if (!n || !node_slot(n)) return false;
    return (node_buffer(n)->flags & SERIES_MARK) != 0;
}

// ---- copies ----------------------------------------------------------------------------

Node copy_table(Node src, Node values, bool copy_values) {
    ensure_marker();
    Node t = alloc_bytes(sizeof(HashTableHeader));
    std::memcpy(node_buffer(t)->head_ptr(), hdr(src), sizeof(HashTableHeader));
    node_buffer(t)->tail = node_buffer(t)->head + sizeof(HashTableHeader);
    // Until each series is duplicated the copy shares the source's, which
    // keeps every node in the header a live one for the collector.
    ValueCell guard;
    cell_init(&guard, TYPE_HASH, 0, 0, t);
    GcRoot root(&guard);
    if (copy_values) values = series_copy_buffer(node_buffer(hdr(src)->values));
    hdr(t)->values = values;
    Node n = series_copy_buffer(node_buffer(hdr(src)->flags));
    hdr(t)->flags = n;
    n = series_copy_buffer(node_buffer(hdr(src)->keys));
    hdr(t)->keys = n;
    if (hdr(src)->kind == HASH_KIND_HASH) {
        n = series_copy_buffer(node_buffer(hdr(src)->indexes));
        hdr(t)->indexes = n;
        n = series_copy_buffer(node_buffer(hdr(src)->chains));
        hdr(t)->chains = n;
        u32 slots = array_length(n);
        for (u32 c = 1; c < slots; c++) {
            u32 v = chain_slot(t, c);
            if (!chain_slot_is_array(v)) continue;
            Node a = array_copy(v);
            array_poke_int(hdr(t)->chains, c + 1, static_cast<i32>(a));
        }
    }
    return t;
}

}  // namespace

// ---- seams -------------------------------------------------------------------------------


void hashtable_set_key_compare(KeyCompareFn fn) { g_key_compare = fn; }
void hashtable_set_map_key_store(MapKeyStoreFn fn) { g_map_key_store = fn; }

void hashtable_set_symbol_table(Node table) {
    g_symbol_hash = table;
    if (table && !g_symbol_root_registered) {
        gc_add_mark_callback(mark_symbol_hash);
        g_symbol_root_registered = true;
    }
}

u32 hashtable_symbol_canonical(u32 symbol) {
    if (!g_symbol_hash || !symbol) return symbol;
    Node v = hdr(g_symbol_hash)->values;
    if (!v || symbol > cell_count(v)) return symbol;
    i32 alias = static_cast<i32>(symbol_alias(&cells_of(v)[symbol - 1]));
    return alias > 0 ? static_cast<u32>(alias) : symbol;
}

// ---- hashing -------------------------------------------------------------------------------

// The text hash of n byte units (what hashtable_hash_value gives for them).
[[gnu::always_inline]] inline u32 byte_text_hash(const u8* p, u32 n, bool case_sensitive) {
    u32 h = murmur3_seed() ^ 0x811C9DC5u;
    if (case_sensitive) {
        for (u32 i = 0; i < n; i++) h = text_hash_step(h, p[i]);
        return hash_pointer_mix(h ^ n);
    }
    // Four bytes a round, then the rest, without a loop test per byte.
    const u8* folds = byte_folds();
    const u8* q = p;
    u32 left = n;
    for (; left >= 4; left -= 4, q += 4) {
        h = text_hash_step(h, folds[q[0]]);
        h = text_hash_step(h, folds[q[1]]);
        h = text_hash_step(h, folds[q[2]]);
        h = text_hash_step(h, folds[q[3]]);
    }
    switch (left) {
        case 3: h = text_hash_step(h, folds[*q++]); [[fallthrough]];
        case 2: h = text_hash_step(h, folds[*q++]); [[fallthrough]];
        case 1: h = text_hash_step(h, folds[*q]); break;
        default: break;
    }
    return hash_pointer_mix(h ^ n);
}

u32 hashtable_hash_value(const ValueCell* text, bool case_sensitive) {
    u32 h = murmur3_seed() ^ 0x811C9DC5u;
    if (!series_node(text)) return hash_pointer_mix(h);
    SeriesBuffer* b = node_buffer(series_node(text));
    u32 unit = b->unit();
    if (unit != 1 && unit != 2 && unit != 4) unit = 1;
    u32 avail = b->used_bytes() >> (unit >> 1);
    u32 head = static_cast<u32>(series_index(text));
    u32 n = head >= avail ? 0 : avail - head;
    if (text->type() == TYPE_TEXT_KEY && text_key_length(text) < n) n = text_key_length(text);
    const u8* p = b->head_ptr() + u64(head) * unit;
    if (unit == 1) return byte_text_hash(p, n, case_sensitive);
    for (u32 i = 0; i < n; i++) {
        u32 cp = unit == 2 ? reinterpret_cast<const u16*>(p)[i] : reinterpret_cast<const u32*>(p)[i];
        h = text_hash_step(h, case_sensitive ? cp : case_fold_fast(cp));
    }
    return hash_pointer_mix(h ^ n);
}

u32 hashtable_hash_key(const ValueCell* key, bool case_sensitive) {
    switch (key->type()) {
        case TYPE_UNSET:
            return static_cast<u32>(-2);
        case TYPE_NONE:
            return static_cast<u32>(-1);
        case TYPE_DATATYPE: case TYPE_LOGIC: case TYPE_OBJECT: case TYPE_ERROR: case TYPE_PORT:
            return hash_pointer_mix(payload_word(key, 1));
        case TYPE_CHAR: case TYPE_INTEGER: case TYPE_MAP: case TYPE_HANDLE: case TYPE_EVENT:
            return hash_pointer_mix(payload_word(key, 2));
        case TYPE_NATIVE: case TYPE_ACTION:
            return hash_pointer_mix(payload_word(key, 3));
        case TYPE_WORD: case TYPE_SET_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD:
        case TYPE_REFINEMENT: case TYPE_ISSUE:
            return hash_pointer_mix(hashtable_symbol_canonical(word_symbol(key)));
        case TYPE_BLOCK: case TYPE_PAREN: case TYPE_PATH: case TYPE_LIT_PATH: case TYPE_SET_PATH:
        case TYPE_GET_PATH: case TYPE_HASH: case TYPE_POINT2D: case TYPE_IMAGE:
            return murmur3_32(payload_bytes(key), 8);
        case TYPE_FLOAT: case TYPE_PAIR: case TYPE_PERCENT: case TYPE_TIME:
            return murmur3_32(payload_bytes(key) + 4, 8);
        case TYPE_OP: case TYPE_FUNCTION: case TYPE_TRIPLE: case TYPE_TYPESET: case TYPE_DATE:
        case TYPE_POINT3D:
            return murmur3_32(payload_bytes(key), 12);
        case TYPE_TUPLE: {
            u32 n = (key->header & TUPLE_SIZE_MASK) >> TUPLE_SIZE_SHIFT;
            if (n > 12) n = 12;
            return murmur3_32(payload_bytes(key), n);
        }
        case TYPE_BINARY: {
            if (!series_node(key)) return murmur3_32(k_empty, 0);
            SeriesBuffer* b = node_buffer(series_node(key));
            u32 used = b->used_bytes();
            u32 head = static_cast<u32>(series_index(key));
            u32 n = head >= used ? 0 : used - head;
            return murmur3_32(n ? b->head_ptr() + head : k_empty, n);
        }
        case TYPE_MONEY: {
            // Only the type, the sign and the digits count; a zero amount has
            // no sign.
            u8 bytes[16];
            std::memcpy(bytes, key, 16);
            bytes[1] &= 0x40;
            bytes[2] = bytes[3] = 0;
            bool zero = true;
            for (int i = 5; i < 16; i++)
                if (bytes[i]) zero = false;
            if (zero) bytes[1] = 0;
            return murmur3_32(bytes, 16);
        }
        case TYPE_SYMBOL: {
            u32 len;
            const u8* name = symbol_name(key, &len);
            return hash_lowered(name, len);
        }
        case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG: case TYPE_EMAIL:
        case TYPE_REF: case TYPE_TEXT_KEY:
            return hashtable_hash_value(key, case_sensitive);
        default:
            return 0;
    }
}

// ---- creation, copies, clearing ---------------------------------------------------------

Node hashtable_init(i32 size, const ValueCell* block, u32 kind, u32 value_size) {
    ensure_marker();
    CompactionHold hold;
    if (kind == HASH_KIND_SYMBOL && value_size == 2 && block && block->type() == TYPE_CONTEXT)
        return copy_table(context_word_table(block), 0, true);
    Node given = block && kind < HASH_KIND_POINTER ? series_node(block) : 0;
    if (kind == HASH_KIND_SYMBOL && size >= 4000) size *= 2;
    if (size < 4) size = 4;

    // The table is rooted while it is built: the collector marks the given
    // block and, once it exists, the table (with the series already in its
    // header) through this hash! cell.
    ValueCell guard;
    cell_init(&guard, TYPE_HASH, 0, given, 0);
    GcRoot root(&guard);
    Node t = alloc_bytes(sizeof(HashTableHeader));
    std::memset(node_buffer(t)->head_ptr(), 0, sizeof(HashTableHeader));
    node_buffer(t)->tail = node_buffer(t)->head + sizeof(HashTableHeader);
    set_hashed_table(&guard, t);

    hdr(t)->kind = kind;
    if (kind >= HASH_KIND_POINTER) {
        hdr(t)->indexes = (value_size + 1) * 16;
        hdr(t)->stamp = current_stamp();
    }
    u32 bc = round_pow2_at_least4(static_cast<u64>(size / 0.77));
    alloc_buckets(t, bc, creation_threshold(bc));
    if (kind == HASH_KIND_HASH) {
        Node ix = alloc_bytes_filled(static_cast<u32>(size) * 4, 0xFF);
        hdr(t)->indexes = ix;
        Node cs = array_make(4, 4);
        array_append_int(cs, 0);
        hdr(t)->chains = cs;
    }
    if (!given) {
        Node v = alloc_cells(static_cast<u32>(size));
        hdr(t)->values = v;
        set_series_node(&guard, v);
        return t;
    }
    hdr(t)->values = given;
    hashtable_put_all(t, 0, kind == HASH_KIND_MAP ? 2 : 1);
    return t;
}

Node hashtable_copy(Node table, Node values) {
    CompactionHold hold;
    return copy_table(table, values, false);
}

void hashtable_clear(Node table) {
    forget_miss();
    HashTableHeader* h = hdr(table);
    h->count = 0;
    h->fill = 0;
    h->stamp = 0;
    SeriesBuffer* fb = node_buffer(h->flags);
    std::memset(fb->data(), 0xAA, fb->size);
    if (h->kind == HASH_KIND_HASH) {
        SeriesBuffer* ib = node_buffer(h->indexes);
        std::memset(ib->data(), 0xFF, ib->size);
        reset_chains(table);
    } else if (h->kind >= HASH_KIND_POINTER) {
        // The entries go too; a fresh stamp keeps the node keys entered
        // from now on under the rehash check.
        SeriesBuffer* vb = node_buffer(h->values);
        vb->tail = vb->head;
        h->stamp = current_stamp();
    }
}

void hashtable_reset(Node table, i32 size) {
    forget_miss();
    CompactionHold hold;
    if (size < 0) size = 0;
    u32 bc = round_pow2_at_least4(static_cast<u64>(size * 1.5));
    u32 threshold = creation_threshold(bc);
    switch (hdr(table)->kind) {
        case HASH_KIND_HASH:
            kind0_rebuild(table, bc, threshold, false);
            break;
        case HASH_KIND_MAP:
        case HASH_KIND_SYMBOL:
            while (threshold <= cell_count(hdr(table)->values)) {
                bc *= 2;
                threshold = creation_threshold(bc);
            }
            block_rehash(table, bc, threshold, true);
            break;
        default: {
            HashTableHeader* h = hdr(table);
            u32 live = 0;
            u32 used = node_buffer(h->values)->used_bytes();
            for (u32 off = 0; off + h->indexes <= used; off += h->indexes)
                if (entry_at(h, off)->header) live++;
            while (threshold <= live) {
                bc *= 2;
                threshold = creation_threshold(bc);
            }
            entries_rehash(table, bc, threshold);
        }
    }
}

// ---- entering keys --------------------------------------------------------------------------

ValueCell* hashtable_put_key(Node table, ValueCell* key, i32* status) {
    forget_miss();
    CompactionHold hold;
    i32 dummy;
    if (!status) status = &dummy;
    HashTableHeader* h = hdr(table);
    if (h->kind >= HASH_KIND_POINTER) {
        *status = hashtable_get_int(table, pointer_entry_key(key)) ? HASH_PUT_FOUND : HASH_PUT_NEW;
        return hashtable_put_int(table, pointer_entry_key(key), nullptr);
    }
    ValueCell* block = cells_of(h->values);
    i64 pos = key - block;
    if (pos < 0 || pos >= cell_count(h->values))
        runtime_fatal(3, "hash table key outside the table's block");
    if (h->kind == HASH_KIND_HASH) {
        *status = kind0_put(table, static_cast<u32>(pos), true);
        return cells_of(hdr(table)->values) + pos;
    }
    return block_put(table, static_cast<u32>(pos), status);
}

ValueCell* hashtable_put(Node table, ValueCell* key) { return hashtable_put_key(table, key, nullptr); }

i32 hashtable_put_all(Node table, i32 start, i32 record_size) {
    forget_miss();
    CompactionHold hold;
    if (start < 0) start = 0;
    if (record_size < 1) record_size = 1;
    u32 kind = hdr(table)->kind;
    u32 pos = static_cast<u32>(start);
    if (kind == HASH_KIND_HASH) {
        for (; pos < cell_count(hdr(table)->values); pos += record_size)
            if (kind0_put(table, pos, true) == HASH_PUT_REBUILT) return HASH_PUT_REBUILT;
        return 0;
    }
    if (kind != HASH_KIND_MAP) {
        for (; pos < cell_count(hdr(table)->values); pos += record_size) {
            i32 st;
            block_put(table, pos, &st);
        }
        return 0;
    }
    while (pos < cell_count(hdr(table)->values)) {
        if (g_map_key_store) g_map_key_store(cells_of(hdr(table)->values) + pos, nullptr);
        i32 st;
        ValueCell* stored = block_put(table, pos, &st);
        u32 len = cell_count(hdr(table)->values);
        if (st != HASH_PUT_FOUND || stored == cells_of(hdr(table)->values) + pos ||
            pos + 1 >= len) {
            pos += 2;
            continue;
        }
        // A repeated key: the first record keeps its place and takes the
        // later value; the later record leaves the block.
        ValueCell* block = cells_of(hdr(table)->values);
        ValueCell* kept = stored + 1;
        if (!kept->header) hdr(table)->count++;
        *kept = block[pos + 1];
        std::memmove(block + pos, block + pos + 2, (len - pos - 2) * sizeof(ValueCell));
        node_buffer(hdr(table)->values)->tail -= 2 * sizeof(ValueCell);
    }
    return 0;
}

// ---- lookups ----------------------------------------------------------------------------------

namespace {

// What a lookup's probe does at bucket i: stop (an empty bucket), pass over
// it (a deleted one), or compare its key; the first bucket free for a put
// is noted in *free_at.
enum class Probe { End, Skip, Key };
inline Probe probe_bucket(const u32* flags, u32 i, u32* free_at) {
    u32 fl = flag_at(flags, i);
    if (fl != BUCKET_EMPTY && fl != BUCKET_DELETED) return Probe::Key;
    if (*free_at == NO_INDEX) *free_at = i;
    return fl == BUCKET_EMPTY ? Probe::End : Probe::Skip;
}

// A miss of map_get_bytes: the first bucket free for a put on the key's
// probe sequence noted for hashtable_put_missed, as the general lookup
// notes it.
[[gnu::noinline]] void note_missed_bytes(Node table, const ValueCell* key, u32 hash) {
    HashTableHeader* h = hdr(table);
    const u32* flags = words_of(h->flags);
    u32 mask = h->buckets - 1;
    u32 free_at = NO_INDEX;
    u32 i = hash & mask;
    for (u32 k = 0; k <= mask && free_at == NO_INDEX; k++, i = (i + k) & mask)
        if (probe_bucket(flags, i, &free_at) == Probe::End) break;
    if (free_at == NO_INDEX) return;
    note_miss(table, key, hash, free_at);
}

// What map_get_bytes answers when the general lookup must do the work.
ValueCell* const LOOKUP_GENERAL = reinterpret_cast<ValueCell*>(alignof(ValueCell));

// The series a probe of a table reads, taken once where nothing in the
// probe can allocate or move them.
struct ProbeSeries {
    u32 mask;
    const u32* flags;
    const u32* keys;
    ValueCell* cells;
    u32 len;
    explicit ProbeSeries(const HashTableHeader* h)
        : mask(h->buckets - 1), flags(words_of(h->flags)), keys(words_of(h->keys)) {
        SeriesBuffer* vb = node_buffer(h->values);
        cells = vb->head_cells();
        len = vb->used_bytes() / 16;
    }
};

// What the used bucket i holds for a byte-text key (kn bytes at kp) of
// this hash: the stored key when it equals the key, LOOKUP_GENERAL when the
// stored key has wider units (the compare action decides), else null.
[[gnu::always_inline]] inline ValueCell* bytes_bucket_match(const ProbeSeries& ps, u32 i, u32 hash,
                                                            const u8* kp, u32 kn, bool fold) {
    u32 word = ps.keys[i];
    if (!tag_matches(word, hash)) return nullptr;
    u32 sp = bucket_position(HASH_KIND_MAP, word);
    if (sp >= ps.len || ps.cells[sp].type() != TYPE_STRING) return nullptr;
    u32 sn = 0;
    const u8* stored = text_bytes(ps.cells + sp, &sn);
    if (!stored) return LOOKUP_GENERAL;
    if (sn == kn && same_bytes(stored, kp, kn, fold)) return ps.cells + sp;
    return nullptr;
}

// The probe of map_get_bytes once a deleted bucket was met: from the start
// again, a miss noting the first bucket free on the way.
[[gnu::noinline]] ValueCell* map_get_bytes_deleted(Node table, const ValueCell* key,
                                                   const u8* kp, u32 kn, bool fold, u32 hash) {
    const ProbeSeries ps(hdr(table));
    u32 i = hash & ps.mask;
    for (u32 k = 0; k <= ps.mask; k++, i = (i + k) & ps.mask) {
        u32 fl = flag_at(ps.flags, i);
        if (fl == BUCKET_EMPTY) break;
        if (fl == BUCKET_DELETED) continue;
        if (ValueCell* hit = bytes_bucket_match(ps, i, hash, kp, kn, fold)) return hit;
    }
    note_missed_bytes(table, key, hash);
    return nullptr;
}

// A map! lookup of a string! key whose units are bytes (kn of them at kp),
// under an equality that compares strings by their text: the probe of
// hashtable_get with the hash and the compares done in place. Nothing here
// allocates or calls out. LOOKUP_GENERAL when a stored string key of wider
// units is met (the compare action decides those). A miss that met no
// deleted bucket notes the empty bucket it ended on.
ValueCell* map_get_bytes(Node table, const ValueCell* key, const u8* kp, u32 kn, bool fold) {
    HashTableHeader* h = hdr(table);
    u32 hash = byte_text_hash(kp, kn, false);
    const ProbeSeries ps(h);
    u32 i = hash & ps.mask;
    for (u32 k = 0; k <= ps.mask; k++, i = (i + k) & ps.mask) {
        u32 fl = flag_at(ps.flags, i);
        if (fl == BUCKET_EMPTY) {
            note_miss(table, key, hash, i);
            return nullptr;
        }
        if (fl == BUCKET_DELETED) return map_get_bytes_deleted(table, key, kp, kn, fold, hash);
        if (ValueCell* hit = bytes_bucket_match(ps, i, hash, kp, kn, fold)) return hit;
    }
    return nullptr;
}

// The probe of a map! lookup under hash: the stored key that matches
// answers (its cell), else null with *free_at the first bucket free for a
// put. Nothing here allocates or calls out.
template <typename Match>
inline ValueCell* map_probe(Node table, u32 hash, u32* free_at, Match matches) {
    const ProbeSeries ps(hdr(table));
    u32 i = hash & ps.mask;
    for (u32 k = 0; k <= ps.mask; k++, i = (i + k) & ps.mask) {
        Probe step = probe_bucket(ps.flags, i, free_at);
        if (step == Probe::End) break;
        if (step == Probe::Skip) continue;
        u32 word = ps.keys[i];
        if (!tag_matches(word, hash)) continue;
        u32 sp = bucket_position(HASH_KIND_MAP, word);
        if (sp >= ps.len) continue;
        if (matches(ps.cells + sp)) return ps.cells + sp;
    }
    return nullptr;
}

// A map! lookup of an integer! key under an equality that compares integers
// by value: get_general's probe with the integer compared in place (a stored
// key of another type never equals it). Nothing here allocates or calls out.
// A miss notes the first bucket free for a put, as get_general does.
ValueCell* map_get_int(Node table, const ValueCell* key) {
    u32 hash = hashtable_hash_key(key, false);
    u32 free_at = NO_INDEX;
    ValueCell* found = map_probe(table, hash, &free_at, [key](const ValueCell* c) {
        return c->type() == TYPE_INTEGER && int_word(c) == int_word(key);
    });
    if (!found && free_at != NO_INDEX) note_miss(table, key, hash, free_at);
    return found;
}

// A map's lookup of a word key of any of the four kinds under an equality
// that folds case (op 0 or 12): the stored set-word of the same canonical
// symbol, or null (the miss noted). What get_general answers and notes for
// such a key (which it looks up as a set-word), without calling the
// compare action.
ValueCell* map_get_word(Node table, const ValueCell* key) {
    u32 canon = hashtable_symbol_canonical(word_symbol(key));
    u32 hash = hash_pointer_mix(canon);
    u32 free_at = NO_INDEX;
    ValueCell* found = map_probe(table, hash, &free_at, [canon](const ValueCell* c) {
        return c->type() == TYPE_SET_WORD && hashtable_symbol_canonical(word_symbol(c)) == canon;
    });
    if (!found && free_at != NO_INDEX) {
        // Noted as the set-word that get_general looks the key up as.
        ValueCell k = *key;
        k.set_type(TYPE_SET_WORD);
        note_miss(table, &k, hash, free_at);
    }
    return found;
}

// Every lookup but the ones map_get_bytes and map_get_int make.
[[gnu::noinline]] ValueCell* get_general(Node table, ValueCell* key, i32 start, i32 skip, i32 op,
                                         bool last, bool reverse);

}  // namespace

bool hashtable_get_quick(Node table, const ValueCell* key, i32 op, ValueCell** found) {
    forget_miss();
    if (key->type() == TYPE_INTEGER) {
        if (!(op == CMP_STRICT || op == 0 || op >= 9)) return false;
        HashTableHeader* h = hdr(table);
        if (h->kind != HASH_KIND_MAP || (h->stamp && h->stamp != current_stamp())) return false;
        *found = map_get_int(table, key);
        return true;
    }
    if (key->type() >= TYPE_WORD && key->type() <= TYPE_GET_WORD) {
        if (!(op == 0 || op == 12)) return false;
        HashTableHeader* h = hdr(table);
        if (h->kind != HASH_KIND_MAP || (h->stamp && h->stamp != current_stamp())) return false;
        *found = map_get_word(table, key);
        return true;
    }
    if (key->type() != TYPE_STRING || !(op == CMP_STRICT || op == 0 || op == 12)) return false;
    if (hdr(table)->kind != HASH_KIND_MAP) return false;
    return hashtable_map_get_text(table, key, op != CMP_STRICT, found);
}

bool hashtable_map_get_text(Node table, const ValueCell* key, bool fold, ValueCell** found) {
    forget_miss();
    HashTableHeader* h = hdr(table);
    u32 kn = 0;
    const u8* kp;
    if ((h->stamp && h->stamp != current_stamp()) || series_index(key) < 0 ||
        !(kp = text_bytes(key, &kn)))
        return false;
    ValueCell* answer = map_get_bytes(table, key, kp, kn, fold);
    if (answer == LOOKUP_GENERAL) {
        forget_miss();
        return false;
    }
    *found = answer;
    return true;
}

ValueCell* hashtable_get(Node table, ValueCell* key, i32 start, i32 skip, i32 op, bool last,
                         bool reverse) {
    ValueCell* found;
    if (hashtable_get_quick(table, key, op, &found)) return found;
    return get_general(table, key, start, skip, op, last, reverse);
}

namespace {

ValueCell* get_general(Node table, ValueCell* key, i32 start, i32 skip, i32 op, bool last,
                       bool reverse) {
    CompactionHold hold;
    // Only a table built before nodes last moved has anything to rebuild.
    if (u32 stamp = hdr(table)->stamp; stamp && stamp != current_stamp())
        hashtable_check_grow(table);
    HashTableHeader* h = hdr(table);
    u32 kind = h->kind;
    if (kind >= HASH_KIND_POINTER) return hashtable_get_int(table, pointer_entry_key(key));
    if (kind == HASH_KIND_HASH) {
        Pick pick = reverse ? Pick::Before : last ? Pick::LastFrom : Pick::FirstFrom;
        i64 p = kind0_search(table, key, op, pick, start < 0 ? 0 : start, skip);
        return p < 0 ? nullptr : cells_of(hdr(table)->values) + p;
    }
    // map! keys are set-words: any word key is looked up as one.
    u32 saved = key->header;
    bool as_set_word = kind == HASH_KIND_MAP && key->type() >= TYPE_WORD &&
                       key->type() <= TYPE_GET_WORD;
    if (as_set_word) key->set_type(TYPE_SET_WORD);
    struct Restore {
        ValueCell* key;
        u32 header;
        bool on;
        ~Restore() {
            if (on) key->header = header;
        }
    } restore{key, saved, as_set_word};
    u32 hash = key->type() == TYPE_STRING ? hashtable_hash_value(key, false)
                                          : hashtable_hash_key(key, false);
    u32 bc = hdr(table)->buckets;
    u32 mask = bc - 1;
    u32 i = hash & mask;
    u32 free_at = NO_INDEX;
    // The series are read once, and again after each comparison (which may
    // call a compare action).
    const u32* flags = nullptr;
    const u32* keys = nullptr;
    ValueCell* cells = nullptr;
    u32 len = 0;
    auto read_series = [&] {
        HashTableHeader* now = hdr(table);
        flags = words_of(now->flags);
        keys = words_of(now->keys);
        SeriesBuffer* vb = node_buffer(now->values);
        cells = vb->head_cells();
        len = vb->used_bytes() / 16;
    };
    read_series();
    bool int_by_value = key->type() == TYPE_INTEGER && (op == CMP_STRICT || op == 0 || op >= 9);
    bool string_by_bytes = key->type() == TYPE_STRING && (op == CMP_STRICT || op == 0 || op == 12);
    for (u32 k = 0; k < bc; k++, i = (i + k) & mask) {
        Probe step = probe_bucket(flags, i, &free_at);
        if (step == Probe::End) break;
        if (step == Probe::Skip) continue;
        u32 word = keys[i];
        if (kind == HASH_KIND_MAP && !tag_matches(word, hash)) continue;
        u32 sp = bucket_position(kind, word);
        if (sp >= len) continue;
        if (int_by_value) {
            // What keys_equal answers for an integer key, without the call.
            const ValueCell* c = cells + sp;
            if (c->type() == TYPE_INTEGER && int_word(c) == int_word(key)) return cells + sp;
            continue;
        }
        if (string_by_bytes) {
            // The same for a string key: a stored key of another type never
            // equals it, and two byte strings compare without the action
            // (and without allocating, so the series stay where they are).
            const ValueCell* c = cells + sp;
            if (c->type() != TYPE_STRING) continue;
            int same = byte_strings_equal(c, key, op != CMP_STRICT);
            if (same > 0) return cells + sp;
            if (same == 0) continue;
        }
        if (keys_equal(kind, cells + sp, key, op)) return cells_of(hdr(table)->values) + sp;
        read_series();
    }
    // A key that no stored key equals under these equalities is not strictly
    // equal to any either, so a put of it may take the free bucket found.
    if (kind == HASH_KIND_MAP && free_at != NO_INDEX &&
        (op == CMP_STRICT || op == 0 || op == 12)) {
        note_miss(table, key, hash, free_at);
    }
    return nullptr;
}

}  // namespace

ValueCell* hashtable_put_missed(Node table, ValueCell* key, i32* status, bool copied) {
    MissedLookup m = g_missed;
    forget_miss();
    HashTableHeader* h = hdr(table);
    if (m.table != table || h->kind != HASH_KIND_MAP || m.keys != h->keys ||
        m.buckets != h->buckets || m.fill != h->fill || m.count != h->count ||
        h->fill >= h->threshold || (h->stamp && h->stamp != current_stamp()) ||
        key->type() != m.type || flag_at(words_of(h->flags), m.slot) == BUCKET_USED)
        return hashtable_put_key(table, key, status);
    CompactionHold hold;
    ValueCell* block = cells_of(h->values);
    i64 pos = key - block;
    if (pos < 0 || pos >= cell_count(h->values))
        runtime_fatal(3, "hash table key outside the table's block");
    u32 now[3];
    std::memcpy(now, payload_bytes(key), 12);
    if (!copied && (now[0] != m.payload[0] || now[1] != m.payload[1] || now[2] != m.payload[2]) &&
        hashtable_hash_key(key, false) != m.hash)
        return hashtable_put_key(table, key, status);
    *status = HASH_PUT_NEW;
    return occupy_bucket(table, m.slot, static_cast<u32>(pos), m.hash);
}

ValueCell* hashtable_get_next(Node table, ValueCell* key, const ValueCell* previous, i32 skip,
                              i32 op, bool reverse) {
    CompactionHold hold;
    hashtable_check_grow(table);
    if (hdr(table)->kind != HASH_KIND_HASH) return nullptr;
    if (skip < 1) skip = 1;
    i64 prev = previous - cells_of(hdr(table)->values);
    i64 p = reverse ? kind0_search(table, key, op, Pick::Before, prev, skip)
                    : kind0_search(table, key, op, Pick::FirstFrom, prev + skip, skip);
    return p < 0 ? nullptr : cells_of(hdr(table)->values) + p;
}

ValueCell* hashtable_find_symbol(Node table, u32 symbol, bool alias_compare) {
    // The symbol block is read once for the symbol and every candidate.
    const ValueCell* symbols = nullptr;
    u32 symbol_count = 0;
    if (g_symbol_hash) {
        if (Node v = hdr(g_symbol_hash)->values) {
            SeriesBuffer* sb = node_buffer(v);
            symbols = sb->head_cells();
            symbol_count = sb->used_bytes() / 16;
        }
    }
    auto canonical = [&](u32 s) {
        if (!s || s > symbol_count) return s;
        i32 alias = static_cast<i32>(symbol_alias(&symbols[s - 1]));
        return alias > 0 ? static_cast<u32>(alias) : s;
    };
    u32 canon = canonical(symbol);
    HashTableHeader* h = hdr(table);
    const u32* f = words_of(h->flags);
    const u32* keys = words_of(h->keys);
    SeriesBuffer* vb = node_buffer(h->values);
    ValueCell* block = vb->head_cells();
    u32 len = vb->used_bytes() / 16;
    u32 buckets = h->buckets;
    u32 mask = buckets - 1;
    u32 i = hash_pointer_mix(canon) & mask;
    for (u32 k = 0; k < buckets; k++, i = (i + k) & mask) {
        u32 fl = flag_at(f, i);
        if (fl == BUCKET_EMPTY) break;
        if (fl == BUCKET_DELETED || keys[i] >= len) continue;
        ValueCell* c = block + keys[i];
        if (!is_word_type(c->type())) continue;
        u32 cs = word_symbol(c);
        if (cs == symbol || (alias_compare && canonical(cs) == canon)) return c;
    }
    return nullptr;
}

i32 hashtable_find_text(Node table, const char* text, u32 len, bool case_sensitive) {
    CompactionHold hold;
    HashTableHeader* h = hdr(table);
    if (h->fill >= h->threshold) {
        // The symbol table grows in large steps: 16 times the buckets while
        // fewer than half of them are live, else 32 times.
        u64 want = 2 * h->count < h->buckets ? u64(h->buckets - 1) * 16 : u64(h->buckets + 1) * 16;
        u32 bc = round_pow2_at_least4(want);
        block_rehash(table, bc, resize_threshold(bc));
    }
    // The name may lie in a buffer that moves when the block grows.
    g_name_copy.assign(text, len);
    const u8* name = reinterpret_cast<const u8*>(g_name_copy.data());
    u32 hash = hash_lowered(name, len);
    i32 alias = -1;
    i32 first_deleted = -1, empty_at = -1;
    h = hdr(table);
    u32* f = words_of(h->flags);
    u32* keys = words_of(h->keys);
    ValueCell* block = cells_of(h->values);
    u32 count = cell_count(h->values);
    u32 mask = h->buckets - 1;
    u32 i = hash & mask;
    for (u32 k = 0; k < h->buckets; k++, i = (i + k) & mask) {
        u32 fl = flag_at(f, i);
        if (fl == BUCKET_EMPTY) {
            empty_at = static_cast<i32>(i);
            break;
        }
        if (fl == BUCKET_DELETED) {
            if (first_deleted < 0) first_deleted = static_cast<i32>(i);
            continue;
        }
        u32 pos = keys[i];
        if (pos >= count) continue;
        u32 nlen;
        const u8* other = symbol_name(block + pos, &nlen);
        if (nlen != len) continue;
        bool exact = len == 0 || std::memcmp(other, name, len) == 0;
        bool folded = exact || same_name_folded(other, name, len);
        if (case_sensitive ? exact : folded) return static_cast<i32>(pos) + 1;
        if (folded && alias < 0) {
            i32 a = static_cast<i32>(symbol_alias(&block[pos]));
            alias = a > 0 ? a : static_cast<i32>(pos) + 1;
        }
    }
    i32 slot = first_deleted >= 0 ? first_deleted : empty_at;
    if (slot < 0) runtime_fatal(3, "hash table has no free bucket");

    // A new symbol at the tail of the block; the cell is in place (with no
    // name yet) before the name's series is allocated.
    SeriesBuffer* vb = node_buffer(h->values);
    if (u64(vb->tail) + sizeof(ValueCell) > vb->end_ref()) vb = series_expand(vb, 0);
    u32 pos = vb->used_bytes() / 16;
    cell_init(vb->tail_cells(), TYPE_SYMBOL, static_cast<u32>(alias), 0, 0);
    vb->tail += sizeof(ValueCell);
    Node nn = alloc_bytes(len + 1);
    SeriesBuffer* nb = node_buffer(nn);
    if (len) std::memcpy(nb->head_ptr(), g_name_copy.data(), len);
    nb->head_ptr()[len] = 0;
    nb->tail = nb->head + len;
    set_symbol_name_node(&cells_of(hdr(table)->values)[pos], nn);

    h = hdr(table);
    f = words_of(h->flags);
    if (flag_at(f, static_cast<u32>(slot)) == BUCKET_EMPTY) h->fill++;
    flag_set(f, static_cast<u32>(slot), BUCKET_USED);
    words_of(h->keys)[slot] = pos;
    h->count++;
    return static_cast<i32>(pos) + 1;
}

// ---- deleting and moving keys -----------------------------------------------------------------

void hashtable_delete(Node table, ValueCell* key) {
    forget_miss();
    CompactionHold hold;
    HashTableHeader* h = hdr(table);
    if (h->kind >= HASH_KIND_POINTER) {
        hashtable_delete_int(table, pointer_entry_key(key));
        return;
    }
    u32 len = cell_count(h->values);
    i64 pos = key - cells_of(h->values);
    if (pos < 0 || pos >= len) return;
    switch (h->kind) {
        case HASH_KIND_HASH:
            kind0_delete_at(table, static_cast<u32>(pos));
            return;
        case HASH_KIND_MAP:
            // The key stays indexed, so that setting it again revives the record.
            if (pos + 1 < len && key[1].header) {
                key[1].header = 0;
                h->count--;
            }
            return;
        default: {
            u32 mask = h->buckets - 1;
            u32 i = hashtable_hash_key(key, false) & mask;
            u32* f = words_of(h->flags);
            u32* keys = words_of(h->keys);
            for (u32 k = 0; k < h->buckets; k++, i = (i + k) & mask) {
                u32 fl = flag_at(f, i);
                if (fl == BUCKET_EMPTY) return;
                if (fl == BUCKET_USED && keys[i] == pos) {
                    flag_set(f, i, BUCKET_DELETED);
                    h->count--;
                    return;
                }
            }
        }
    }
}

void hashtable_remove_range(Node table, i32 position, i32 n) {
    forget_miss();
    CompactionHold hold;
    if (position < 0) {
        n += position;
        position = 0;
    }
    for (i32 p = position; p < position + n; p++) {
        if (hdr(table)->kind == HASH_KIND_HASH) {
            kind0_delete_at(table, static_cast<u32>(p));
        } else {
            HashTableHeader* h = hdr(table);
            if (static_cast<u32>(p) >= cell_count(h->values)) break;
            hashtable_delete(table, cells_of(h->values) + p);
        }
    }
}

i32 hashtable_shift_indexes(Node table, i32 offset, i32 position, i32 count) {
    forget_miss();
    if (hdr(table)->kind != HASH_KIND_HASH || offset == 0) return 0;
    if (count > HASH_SHIFT_LIMIT) return 1;
    CompactionHold hold;
    if (position < 0) position = 0;
    // The cells the removal overwrote leave the index first.
    if (offset < 0)
        for (i32 p = position + offset < 0 ? 0 : position + offset; p < position; p++)
            kind0_delete_at(table, static_cast<u32>(p));
    if (count > 0) {
        u32 lo = static_cast<u32>(position);
        remap_positions(table, lo, lo + static_cast<u32>(count),
                        [offset](u32 p) { return static_cast<u32>(static_cast<i64>(p) + offset); });
    }
    return 0;
}

i32 hashtable_move_range(Node table, i32 from, i32 count, i32 dest) {
    forget_miss();
    if (hdr(table)->kind != HASH_KIND_HASH || count <= 0 || from == dest || from < 0 || dest < 0)
        return 0;
    u32 lo = static_cast<u32>(dest < from ? dest : from);
    u32 hi = static_cast<u32>(dest < from ? from + count : dest + count);
    if (hi - lo > static_cast<u32>(HASH_SHIFT_LIMIT)) return 1;
    CompactionHold hold;
    u32 f0 = static_cast<u32>(from), f1 = static_cast<u32>(from + count);
    u32 d = static_cast<u32>(dest), n = static_cast<u32>(count);
    bool back = dest < from;
    remap_positions(table, lo, hi, [=](u32 p) {
        if (p >= f0 && p < f1) return p - f0 + d;
        return back ? p + n : p - n;
    });
    return 0;
}

// ---- integer keys -------------------------------------------------------------------------------

ValueCell* hashtable_put_int(Node table, u32 key, const ValueCell* values) {
    CompactionHold hold;
    hashtable_check_grow(table);
    HashTableHeader* h = hdr(table);
    u32 vcount = h->indexes / 16 - 1;
    // The values may lie in a buffer that the growth below moves.
    std::vector<ValueCell> vals;
    if (values) vals.assign(values, values + vcount);
    if (h->fill >= h->threshold) {
        u32 bc = 2 * h->count < h->buckets ? h->buckets : h->buckets * 2;
        entries_rehash(table, bc, resize_threshold(bc));
        h = hdr(table);
    }
    i32 b = entry_bucket(table, key);
    if (b >= 0) {
        ValueCell* e = entry_at(h, words_of(h->keys)[b]);
        if (values) std::memcpy(e + 1, vals.data(), vcount * sizeof(ValueCell));
        return e;
    }
    u32 mask = h->buckets - 1;
    u32 i = hash_pointer_mix(key) & mask;
    i32 slot = -1;
    u32* f = words_of(h->flags);
    for (u32 k = 0; k < h->buckets; k++, i = (i + k) & mask) {
        if (flag_at(f, i) != BUCKET_USED) {
            slot = static_cast<i32>(i);
            break;
        }
    }
    if (slot < 0) runtime_fatal(3, "hash table has no free bucket");
    u32 esize = h->indexes;
    u32 off;
    SeriesBuffer* vb = node_buffer(h->values);
    u32 old = words_of(h->keys)[slot];
    if (flag_at(f, static_cast<u32>(slot)) == BUCKET_DELETED && old + esize <= vb->used_bytes() &&
        !entry_at(h, old)->header) {
        off = old;  // a deleted bucket still names its dead entry: reuse it
    } else {
        if (u64(vb->tail) + esize > vb->end_ref()) {
            u64 ns = u64(vb->size) * 2;
            while (ns < u64(vb->used_bytes()) + esize) ns *= 2;
            if (ns > 0x7FFFFFF0u) fire(Err::internal_no_memory);
            vb = series_expand(vb, static_cast<u32>(ns));
        }
        off = vb->used_bytes();
        vb->tail += esize;
    }
    h = hdr(table);
    ValueCell* e = entry_at(h, off);
    cell_init(e, KEY_CELL_LIVE, key, 0, 0);
    for (u32 v = 0; v < vcount; v++) {
        if (values) e[1 + v] = vals[v];
        else cell_init(e + 1 + v, TYPE_UNSET);
    }
    f = words_of(h->flags);
    if (flag_at(f, static_cast<u32>(slot)) == BUCKET_EMPTY) h->fill++;
    flag_set(f, static_cast<u32>(slot), BUCKET_USED);
    words_of(h->keys)[slot] = off;
    h->count++;
    return e;
}

ValueCell* hashtable_get_int(Node table, u32 key) {
    CompactionHold hold;
    hashtable_check_grow(table);
    i32 b = entry_bucket(table, key);
    if (b < 0) return nullptr;
    HashTableHeader* h = hdr(table);
    return entry_at(h, words_of(h->keys)[b]);
}

bool hashtable_delete_int(Node table, u32 key) {
    CompactionHold hold;
    hashtable_check_grow(table);
    i32 b = entry_bucket(table, key);
    if (b < 0) return false;
    HashTableHeader* h = hdr(table);
    purge_entry(table, entry_at(h, words_of(h->keys)[b]));
    return true;
}

// ---- the collector --------------------------------------------------------------------------------

bool hashtable_check_grow(Node table) {
    HashTableHeader* h = hdr(table);
    if (!h->stamp || h->stamp == current_stamp() || g_gc.active) return false;
    CompactionHold hold;
    u32 bc = h->buckets;
    switch (h->kind) {
        case HASH_KIND_HASH:
            kind0_rebuild(table, bc, resize_threshold(bc), true);
            break;
        case HASH_KIND_MAP:
        case HASH_KIND_SYMBOL:
            block_rehash(table, bc, resize_threshold(bc));
            break;
        default:
            entries_rehash(table, bc, resize_threshold(bc));
    }
    hdr(table)->stamp = current_stamp();
    return true;
}

void hashtable_gc_mark(Node* slot) {
    if (!*slot || !gc_mark_node(slot)) return;
    HashTableHeader* h = hdr(*slot);
    if (h->kind == HASH_KIND_HASH) {
        if (h->indexes) gc_mark_node(&h->indexes);
        if (h->chains && gc_mark_node(&h->chains)) {
            SeriesBuffer* cb = node_buffer(h->chains);
            u32* w = reinterpret_cast<u32*>(cb->head_ptr());
            u32 n = cb->used_bytes() / 4;
            for (u32 c = 1; c < n; c++)
                if (chain_slot_is_array(w[c])) gc_mark_node(&w[c]);
        }
    }
    if (h->flags) gc_mark_node(&h->flags);
    if (h->keys) gc_mark_node(&h->keys);
    if (h->kind == HASH_KIND_OWNERSHIP) {
        // Weak: the entries are marked by hashtable_mark_live_entries once
        // their key series and owner are known to be reached.
        if (h->values) gc_mark_node(&h->values);
        return;
    }
    if (h->kind == HASH_KIND_POINTER && h->values && node_slot(h->values)) {
        SeriesBuffer* vb = node_buffer(h->values);
        u32 esize = h->indexes;
        for (u32 off = 0; esize && off + esize <= vb->used_bytes(); off += esize) {
            auto* e = reinterpret_cast<ValueCell*>(vb->head_ptr() + off);
            if (e->header && pointer_entry_key(e)) gc_mark_series_cells(pointer_entry_key_slot(e));
        }
    }
    if (h->values) gc_mark_series_cells(&h->values);
}

namespace {

// Set in a live key cell's header once its entry has been marked in the
// current collection.
constexpr u32 KEY_CELL_REACHED = 1u << 8;

// The entries of a kind-3 or kind-4 table, live ones only.
template <typename Visit>
void for_each_entry(Node table, Visit visit) {
    HashTableHeader* h = hdr(table);
    if (!h->values || !node_slot(h->values)) return;
    u32 esize = h->indexes;
    for (u32 off = 0; esize && off + esize <= node_buffer(h->values)->used_bytes(); off += esize) {
        auto* e = reinterpret_cast<ValueCell*>(node_buffer(hdr(table)->values)->head_ptr() + off);
        if (e->header) visit(e, esize);
    }
}

// Whether the ownership table entry is an image's: keyed by its pixel
// slot, not by a node.
bool image_entry(Node table, const ValueCell* e, u32 esize) {
    return hdr(table)->kind == HASH_KIND_OWNERSHIP && esize >= 32 && e[1].type() == TYPE_IMAGE;
}

// Whether an entry's key was reached: its node marked, or for an image
// its pixel slot.
bool key_reached(Node table, const ValueCell* e, u32 esize) {
    if (image_entry(table, e, esize)) return externals_marked(static_cast<i32>(e[1].data2));
    return node_marked(gc_relocate(pointer_entry_key(e)));
}

// An entry lives on when its key series was reached and, in the ownership
// table, so was its owner (a non-object owner names no context).
bool entry_reached(Node table, const ValueCell* e, u32 esize) {
    if (!key_reached(table, e, esize)) return false;
    if (hdr(table)->kind != HASH_KIND_OWNERSHIP || esize < 48) return true;
    const ValueCell* owner = e + 2;
    u32 t = owner->type();
    bool object_owner = t == TYPE_OBJECT || t == TYPE_ERROR || t == TYPE_PORT;
    return !object_owner || !context_of(owner) || node_marked(gc_relocate(context_of(owner)));
}

}  // namespace

bool hashtable_mark_live_entries(Node table) {
    if (!table) return false;
    bool marked = false;
    for_each_entry(table, [&](ValueCell* e, u32 esize) {
        if ((e->header & KEY_CELL_REACHED) || !entry_reached(table, e, esize)) return;
        e->header |= KEY_CELL_REACHED;
        // Marking may grow nothing here: the entry stays where it is.
        gc_mark_cells(e + 1, e + esize / 16);
        marked = true;
    });
    return marked;
}

void hashtable_purge_unmarked(Node table) {
    if (!table) return;
    HashTableHeader* h = hdr(table);
    if (h->kind < HASH_KIND_POINTER) return;
    bool ownership = h->kind == HASH_KIND_OWNERSHIP;
    for_each_entry(table, [&](ValueCell* e, u32 esize) {
        e->header &= ~KEY_CELL_REACHED;
        if (!entry_reached(table, e, esize)) {
            // A key series that outlives its owner is no longer owned.
            if (ownership && !image_entry(table, e, esize)) {
                Node key = gc_relocate(pointer_entry_key(e));
                if (node_marked(key)) node_buffer(key)->flags &= ~SERIES_OWNED;
            }
            // Deleted under its old node, which is what its bucket was hashed by.
            purge_entry(table, e);
            return;
        }
        // A relocated key is re-hashed when the table is next used (its stamp
        // is older than the node-compaction counter).
        set_pointer_entry_key(e, gc_relocate(pointer_entry_key(e)));
    });
}

// ---- the integer map ---------------------------------------------------------------------------------

namespace {

u32 intmap_flag_words(u32 buckets) { return buckets < 16 ? 1 : buckets / 16; }

void* heap_alloc(size_t n) {
    void* p = std::malloc(n);
    if (!p) runtime_fatal(1, "out of memory");
    return p;
}

i32 intmap_probe(const IntMap* m, u32 key, i32* free_slot) {
    u32 mask = m->buckets - 1;
    u32 i = hash_pointer_mix(key) & mask;
    *free_slot = -1;
    for (u32 k = 0; k < m->buckets; k++, i = (i + k) & mask) {
        u32 fl = flag_at(m->flags, i);
        if (fl == BUCKET_EMPTY) {
            if (*free_slot < 0) *free_slot = static_cast<i32>(i);
            return -1;
        }
        if (fl == BUCKET_DELETED) {
            if (*free_slot < 0) *free_slot = static_cast<i32>(i);
            continue;
        }
        if (m->entries[2 * i] == key) return static_cast<i32>(i);
    }
    return -1;
}

}  // namespace

IntMap* intmap_create(u32 size) {
    auto* m = static_cast<IntMap*>(heap_alloc(sizeof(IntMap)));
    if (size < 4) size = 4;
    m->buckets = round_pow2_at_least4(static_cast<u64>(size / 0.77));
    m->threshold = creation_threshold(m->buckets);
    m->count = 0;
    m->fill = 0;
    u32 fw = intmap_flag_words(m->buckets);
    m->flags = static_cast<u32*>(heap_alloc(fw * 4));
    std::memset(m->flags, 0xAA, fw * 4);
    m->entries = static_cast<u32*>(heap_alloc(size_t(m->buckets) * 8));
    return m;
}

void intmap_put(IntMap* m, u32 key, u32 value) {
    if (m->fill >= m->threshold)
        intmap_resize(m, 2 * m->count < m->buckets ? m->buckets - 1 : m->buckets + 1);
    i32 free_slot;
    i32 b = intmap_probe(m, key, &free_slot);
    if (b >= 0) {
        m->entries[2 * b + 1] = value;
        return;
    }
    if (free_slot < 0) runtime_fatal(3, "integer map has no free bucket");
    u32 i = static_cast<u32>(free_slot);
    if (flag_at(m->flags, i) == BUCKET_EMPTY) m->fill++;
    flag_set(m->flags, i, BUCKET_USED);
    m->entries[2 * i] = key;
    m->entries[2 * i + 1] = value;
    m->count++;
}

u32* intmap_get(IntMap* m, u32 key) {
    i32 b = intmap_find(m, key);
    return b < 0 ? nullptr : &m->entries[2 * b + 1];
}

i32 intmap_find(IntMap* m, u32 key) {
    i32 free_slot;
    return intmap_probe(m, key, &free_slot);
}

void intmap_delete(IntMap* m, u32 key) {
    i32 b = intmap_find(m, key);
    if (b < 0) return;
    flag_set(m->flags, static_cast<u32>(b), BUCKET_DELETED);
    m->count--;
}

void intmap_clear(IntMap* m) {
    std::memset(m->flags, 0xAA, intmap_flag_words(m->buckets) * 4);
    m->count = 0;
    m->fill = 0;
}

void intmap_resize(IntMap* m, u32 size) {
    u32 bc = round_pow2_at_least4(size);
    u32 threshold = resize_threshold(bc);
    if (m->count >= threshold) return;
    u32 old_bc = m->buckets;
    if (bc > old_bc)
        m->entries = static_cast<u32*>(std::realloc(m->entries, size_t(bc) * 8));
    if (!m->entries) runtime_fatal(1, "out of memory");
    u32 fw = intmap_flag_words(bc);
    auto* nf = static_cast<u32*>(heap_alloc(fw * 4));
    std::memset(nf, 0xAA, fw * 4);
    u32 mask = bc - 1;
    // Each entry goes to its new bucket; an entry not yet placed that sits
    // there is carried on to its own. Placed or moved-out buckets of the old
    // layout are marked deleted in the old flags.
    for (u32 j = 0; j < old_bc; j++) {
        if (flag_at(m->flags, j) != BUCKET_USED) continue;
        u32 key = m->entries[2 * j], value = m->entries[2 * j + 1];
        flag_set(m->flags, j, BUCKET_DELETED);
        for (;;) {
            u32 i = hash_pointer_mix(key) & mask;
            for (u32 k = 0; flag_at(nf, i) != BUCKET_EMPTY; k++) i = (i + k + 1) & mask;
            flag_set(nf, i, BUCKET_USED);
            if (i < old_bc && flag_at(m->flags, i) == BUCKET_USED) {
                std::swap(key, m->entries[2 * i]);
                std::swap(value, m->entries[2 * i + 1]);
                flag_set(m->flags, i, BUCKET_DELETED);
                continue;
            }
            m->entries[2 * i] = key;
            m->entries[2 * i + 1] = value;
            break;
        }
    }
    if (bc < old_bc) {
        auto* e = static_cast<u32*>(std::realloc(m->entries, size_t(bc) * 8));
        if (e) m->entries = e;
    }
    std::free(m->flags);
    m->flags = nf;
    m->buckets = bc;
    m->threshold = threshold;
    m->fill = m->count;
}

void intmap_destroy(IntMap* m) {
    if (!m) return;
    std::free(m->flags);
    std::free(m->entries);
    std::free(m);
}

}  // namespace zan
