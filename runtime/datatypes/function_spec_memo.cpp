// The spec memo of function making (see function_spec_memo.h): a small
// direct-mapped table of keys, each with its flags, a prototype context and
// the argument cache, the nodes held by root cells.
#include "runtime/datatypes/function_spec_memo.h"

#include <cstring>
#include <vector>

#include "runtime/core/collector.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/word.h"

namespace zan {

namespace {

constexpr u32 SLOTS = 256;

struct MemoEntry {
    std::vector<u32> key;  // empty: the slot is free
    u32 hash = 0;
    u32 flags = 0;
};

MemoEntry g_entries[SLOTS];
// Per slot: the prototype context (an object! cell), the argument cache
// (a block! cell, or unset) and the spec functions share (a block! cell, or
// unset). Registered as roots at the first store.
constexpr u32 HELD = 3;
ValueCell g_held[SLOTS][HELD];
bool g_rooted = false;

inline bool word_like(u32 t) { return t >= TYPE_WORD && t <= TYPE_REFINEMENT; }
inline ValueCell* cells_of(Node n) { return node_buffer(n)->head_cells(); }
inline u32 length_of(Node n) { return node_buffer(n)->used_bytes() / 16; }

struct KeyWriter {
    SpecKey& key;
    bool put(u32 v) {
        if (key.count >= SpecKey::MAX_WORDS) return false;
        key.words[key.count++] = v;
        return true;
    }
};

// The cells of a nested block (a type or attribute block): words by their
// symbol and current value, datatypes and typesets as they are.
bool put_nested(KeyWriter& out, const ValueCell* block) {
    Node n = block_node(block);
    u32 len = length_of(n);
    u32 start = series_index(block) < 0 ? 0 : static_cast<u32>(series_index(block));
    if (start > len) start = len;
    if (!out.put(TYPE_BLOCK | ((len - start) << 8))) return false;
    for (u32 k = start; k < len; k++) {
        const ValueCell* c = cells_of(n) + k;
        u32 t = c->type();
        if (word_like(t)) {
            if (!out.put(t) || !out.put(word_symbol(c))) return false;
            const ValueCell* v = spec_word_value(c);
            u32 vt = v ? v->type() : ~u32(0);
            if (!out.put(vt)) return false;
            if (vt == TYPE_DATATYPE || vt == TYPE_TYPESET) {
                if (!out.put(v->data1) || !out.put(v->data2) || !out.put(v->data3)) return false;
            }
        } else if (t == TYPE_DATATYPE || t == TYPE_TYPESET) {
            if (!out.put(t) || !out.put(c->data1) || !out.put(c->data2) || !out.put(c->data3))
                return false;
        } else {
            return false;
        }
    }
    return true;
}

void root_once() {
    if (g_rooted) return;
    for (u32 s = 0; s < SLOTS; s++) {
        for (u32 h = 0; h < HELD; h++) {
            unset_box(&g_held[s][h]);
            gc_add_root(&g_held[s][h]);
        }
    }
    g_rooted = true;
}

}  // namespace

const ValueCell* spec_word_value(const ValueCell* w) {
    if (!word_binding(w) || word_index(w) < 0) return nullptr;
    ValueCell* ctx = context_cell(word_binding(w));
    if (ctx->type() != TYPE_CONTEXT) return nullptr;
    if (static_cast<u32>(word_index(w)) >= context_word_count(ctx)) return nullptr;
    ValueCell* vals = context_values_head(ctx);
    if (!vals) return nullptr;
    return vals + word_index(w);
}

bool spec_key_make(Node spec, u32 start, SpecKey& key) {
    key.count = 0;
    KeyWriter out{key};
    u32 len = length_of(spec);
    for (u32 i = start; i < len; i++) {
        const ValueCell* c = cells_of(spec) + i;
        u32 t = c->type();
        bool ok;
        if (t == TYPE_STRING) ok = out.put(t);
        else if (word_like(t)) ok = out.put(t) && out.put(word_symbol(c));
        else if (t == TYPE_BLOCK) ok = put_nested(out, c);
        else ok = false;
        if (!ok) return false;
    }
    u32 h = 2166136261u;
    for (u32 k = 0; k < key.count; k++) h = (h ^ key.words[k]) * 16777619u;
    key.hash = h ^ (h >> 15);
    return true;
}

i32 spec_memo_find(const SpecKey& key) {
    u32 s = key.hash % SLOTS;
    const MemoEntry& e = g_entries[s];
    if (g_held[s][0].type() != TYPE_OBJECT || e.hash != key.hash || e.key.size() != key.count)
        return -1;
    if (key.count && std::memcmp(e.key.data(), key.words, key.count * sizeof(u32)) != 0)
        return -1;
    return static_cast<i32>(s);
}

i32 spec_memo_store(const SpecKey& key, u32 flags, Node proto_ctx) {
    root_once();
    u32 s = key.hash % SLOTS;
    MemoEntry& e = g_entries[s];
    e.key.assign(key.words, key.words + key.count);
    e.hash = key.hash;
    e.flags = flags;
    cell_init(&g_held[s][0], TYPE_OBJECT, proto_ctx);
    unset_box(&g_held[s][1]);
    unset_box(&g_held[s][2]);
    return static_cast<i32>(s);
}

u32 spec_memo_flags(i32 slot) { return g_entries[slot].flags; }
Node spec_memo_context(i32 slot) { return context_of(&g_held[slot][0]); }

const ValueCell* spec_memo_cache(i32 slot) {
    return g_held[slot][1].type() == TYPE_BLOCK ? &g_held[slot][1] : nullptr;
}

void spec_memo_set_cache(i32 slot, const ValueCell* cache) { g_held[slot][1] = *cache; }

const ValueCell* spec_memo_spec(i32 slot) {
    return g_held[slot][2].type() == TYPE_BLOCK ? &g_held[slot][2] : nullptr;
}

void spec_memo_set_spec(i32 slot, const ValueCell* spec) { g_held[slot][2] = *spec; }

void spec_memo_reset() {
    for (u32 s = 0; s < SLOTS; s++) {
        g_entries[s] = MemoEntry{};
        for (u32 h = 0; h < HELD; h++) {
            if (g_rooted) gc_remove_root(&g_held[s][h]);
            unset_box(&g_held[s][h]);
        }
    }
    g_rooted = false;
}

}  // namespace zan
