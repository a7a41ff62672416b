#include "runtime/core/collector.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unordered_map>

#include "runtime/core/cycles.h"
#include "runtime/core/externals.h"
#include "runtime/core/layout.h"
#include "runtime/core/stack.h"

namespace zan {

CollectorState g_gc{};
u32 g_gc_self_symbol = 0;

namespace {
std::vector<MarkCallback> g_callbacks;
std::vector<WeakTable> g_weak_tables;
std::vector<ValueCell*> g_roots;
std::vector<Node> g_fixed;
// A stack of nodes whose push, in line, takes the node by value and leaves
// growing to a call: a reference argument or an iterator passed to a call
// would be a stack object in every marking frame of the sanitizer build.
class NodeStack {
public:
    bool empty() const { return size_ == 0; }
    void push_back(Node n) {
        if (size_ == room_) [[unlikely]]
            grow();
        top_[size_++] = n;
    }
    Node back() const { return top_[size_ - 1]; }
    void pop_back() { size_--; }

private:
    [[gnu::noinline]] void grow() {
        store_.resize(store_.empty() ? 1024 : store_.size() * 2);
        top_ = store_.data();
        room_ = store_.size();
    }
    std::vector<Node> store_;
    Node* top_ = nullptr;
    size_t size_ = 0;
    size_t room_ = 0;
};
NodeStack g_scan;                          // marked series whose cells wait to be marked
NodeStack g_scan_ctx;                      // marked contexts waiting
std::unordered_map<Node, Node> g_relocation;
TableMarkFn g_table_marker = nullptr;
// g_relocation holds entries: marking rewrites the nodes it finds there.
bool g_relocating = false;

bool node_is_live(Node n) {
    if (!n) return false;
    u32 b = node_slot(n);
    return b != 0;
}

const char* g_root_label = "a root";

// A value refers to a node that was freed: some code kept it unrooted across
// an allocation. Marking through it would write into whatever reused the
// slot, so the process stops, naming the type and the data word of the cell
// that held it, or (type 0) the root being walked. The marking helpers pass
// these two words along as plain arguments: a struct would be a stack object,
// which the sanitizer build guards in every frame of the marking switch.
[[noreturn, gnu::noinline, gnu::cold]] void dangling_reference(Node n, u32 type, u32 word) {
    char text[160];
    const char* name = type_name_of(type);
    if (name)
        std::snprintf(text, sizeof text, "the collector found a freed node (%08X) in data%u of a %s",
                      n, word, name);
    else
        std::snprintf(text, sizeof text, "the collector found a freed node (%08X) in %s", n,
                      g_root_label);
    std::fflush(stdout);
    std::fprintf(stderr, "\n*** Internal Error: %s\n", text);
    std::fflush(stderr);
    std::abort();
}

// The node frames ordered by address, made before a sweep, so that the node
// of each reclaimed buffer finds its frame by a binary search (consecutive
// ones mostly lie in the frame found last), and which of them the sweep
// freed nodes in. Kept from one collection to the next, as their room would
// be new pages of the C library's each time.
std::vector<HeapRef> g_node_frames;
std::vector<u8> g_frame_touched;
size_t g_last_frame = 0;

// What a freed node's slot holds until its frame's free list takes it: no
// buffer, free link or null handle is odd.
constexpr u32 NODE_FREED_MARK = 1;

void index_node_frames() {
    g_node_frames.clear();
    for (HeapRef r = g_mem.node_head; r; r = hptr<NodeFrame>(r)->next) g_node_frames.push_back(r);
    std::sort(g_node_frames.begin(), g_node_frames.end());
    g_frame_touched.assign(g_node_frames.size(), 0);
    g_last_frame = 0;
}

// Marks the node of a reclaimed buffer freed in its frame; release_freed
// puts it on the frame's free list.
void queue_freed(Node n) {
    if (g_node_frames.empty()) return;
    size_t k = g_last_frame;
    auto* f = hptr<NodeFrame>(g_node_frames[k]);
    if (!f->holds(n)) {
        auto it = std::upper_bound(g_node_frames.begin(), g_node_frames.end(), n);
        if (it == g_node_frames.begin()) return;
        k = static_cast<size_t>(it - g_node_frames.begin()) - 1;
        f = hptr<NodeFrame>(g_node_frames[k]);
        if (!f->holds(n)) return;
        g_last_frame = k;
    }
    node_slot(n) = NODE_FREED_MARK;
    f->used--;
    g_frame_touched[k] = 1;
}

// Pushes the nodes the sweep freed onto their frames' free lists from the
// lowest handle up, so that each list hands them out from the highest down
// before the nodes it held already.
void release_freed() {
    for (size_t k = 0; k < g_node_frames.size(); k++) {
        if (!g_frame_touched[k]) continue;
        auto* f = hptr<NodeFrame>(g_node_frames[k]);
        u32* slots = f->slots();
        HeapRef first = f->first_slot_ref();
        for (u32 i = 0; i < f->capacity; i++) {
            if (slots[i] != NODE_FREED_MARK) continue;
            slots[i] = f->free_head;
            f->free_head = first + i * 4;
        }
    }
}

void drain();

// ---- node-frame compaction --------------------------------------------------------

NodeFrame* frame_with_room(NodeFrame* except) {
    for (HeapRef r = g_mem.node_head; r; r = hptr<NodeFrame>(r)->next) {
        auto* f = hptr<NodeFrame>(r);
        if (f != except && f->free_head && !f->evacuated) return f;
    }
    return nullptr;
}

void node_frame_evacuate(NodeFrame* f) {
    u32* slots = f->slots();
    HeapRef lo = f->first_slot_ref();
    HeapRef hi = lo + f->capacity * 4;
    // Free slots hold links inside the frame (or 0 at the end of the chain).
    std::vector<bool> is_free(f->capacity, false);
    for (HeapRef r = f->free_head; r; r = node_slot(r)) is_free[(r - lo) / 4] = true;
    for (u32 i = 0; i < f->capacity; i++) {
        if (is_free[i]) continue;
        u32 content = slots[i];
        if (content >= lo && content < hi) continue;
        NodeFrame* dst = hptr<NodeFrame>(g_mem.node_active);
        if (dst == f || !dst->free_head || dst->evacuated) dst = frame_with_room(f);
        if (!dst) return;  // nowhere to go: leave the rest in place
        g_mem.node_active = heap_off(dst);
        Node old_node = lo + i * 4;
        Node nn = dst->free_head;
        dst->free_head = node_slot(nn);
        dst->used++;
        node_slot(nn) = content;
        if (content) hptr<SeriesBuffer>(content)->node = nn;
        g_relocation[old_node] = nn;
        f->used--;
    }
    f->evacuated = 1;
}

void node_frames_compact() {
    NodeFrame* active = frame_with_room(nullptr);
    if (!active) return;
    g_mem.node_active = heap_off(active);
    u64 free_slots = 0;
    for (HeapRef r = g_mem.node_head; r; r = hptr<NodeFrame>(r)->next) {
        auto* f = hptr<NodeFrame>(r);
        if (f->free_head && !f->evacuated) free_slots += f->capacity - f->used;
    }
    u32 mask = (1u << (g_gc.node_compaction_setting + 1)) - 1;
    bool evacuated = false;
    for (HeapRef r = g_mem.node_tail; r; r = hptr<NodeFrame>(r)->prev) {
        auto* f = hptr<NodeFrame>(r);
        if ((f->stability & mask) == mask && f->used < NODE_FRAME_CAPACITY / 2 &&
            free_slots > NODE_FRAME_CAPACITY && r != g_mem.node_active && !f->evacuated) {
            node_frame_evacuate(f);
            evacuated = true;
            free_slots -= NODE_FRAME_CAPACITY;
        }
    }
    if (evacuated) g_gc.nodes_cycles++;
}

// ---- marking -------------------------------------------------------------------------

// Rewrites a node that node-frame evacuation moved.
[[gnu::noinline]] void relocate_slot(Node* slot) {
    auto it = g_relocation.find(*slot);
    if (it != g_relocation.end()) *slot = it->second;
}

// The buffer of node n, found in a cell's data word (type and word name it
// for the report of a freed node), newly marked, or null when it was marked
// already. A freed node's slot holds the free-list link (0 at its end),
// never a buffer that points back to it. base: the heap base, which the scan
// loop holds in a register.
[[gnu::always_inline]] inline SeriesBuffer* claim_node(u8* base, Node n, u32 type, u32 word) {
    HeapRef ref = *reinterpret_cast<u32*>(base + n);
    if (!ref) dangling_reference(n, type, word);
    auto* b = reinterpret_cast<SeriesBuffer*>(base + ref);
    u32 flags = b->flags;
    if (b->node != n) dangling_reference(n, type, word);
    if (flags & SERIES_MARK) return nullptr;
    b->flags = flags | SERIES_MARK;
    return b;
}

[[gnu::always_inline]] inline bool mark_buffer_of(Node* slot, u32 type = 0, u32 word = 0) {
    if (!*slot) return false;
    if (g_relocating) [[unlikely]]
        relocate_slot(slot);
    return claim_node(g_heap_base, *slot, type, word) != nullptr;
}

[[gnu::always_inline]] inline void mark_series_cells_deferred(Node* slot, u32 type = 0,
                                                               u32 word = 0) {
    if (mark_buffer_of(slot, type, word) && node_buffer(*slot)->unit() == 16)
        g_scan.push_back(*slot);
}

[[gnu::always_inline]] inline void mark_context_deferred(Node* slot, u32 type = 0, u32 word = 0) {
    if (mark_buffer_of(slot, type, word)) g_scan_ctx.push_back(*slot);
}

void mark_table(Node* slot, u32 type, u32 word) {
    if (!*slot) return;
    if (!g_table_marker) {
        mark_buffer_of(slot, type, word);
        return;
    }
    const char* outer = g_root_label;
    g_root_label = "a hash table";
    g_table_marker(slot);
    g_root_label = outer;
}

// Marks what data word W of a cell holds, as its type declares it (Kind).
template <Holds Kind, u32 W>
[[gnu::always_inline]] inline void mark_word(ValueCell* c, u32 type) {
    u32& w = cell_word(c, W);
    if constexpr (Kind == Holds::VALUE) {
        return;
    } else if constexpr (Kind == Holds::UNITS) {
        mark_buffer_of(&w, type, W);  // each of these passes over a 0
    } else if constexpr (Kind == Holds::CELLS) {
        mark_series_cells_deferred(&w, type, W);
    } else if constexpr (Kind == Holds::CONTEXT) {
        mark_context_deferred(&w, type, W);
    } else if constexpr (Kind == Holds::TABLE) {
        mark_table(&w, type, W);
    } else if constexpr (Kind == Holds::EXTERNAL) {
        if (static_cast<i32>(w) >= 0) externals_mark(static_cast<i32>(w), nullptr);
    } else if constexpr (Kind == Holds::BINDING) {
        // A self word stands for its object's block, any other word for its
        // context.
        if (!w) return;
        if (g_gc_self_symbol && word_symbol(c) == g_gc_self_symbol)
            mark_series_cells_deferred(&w, type, W);
        else
            mark_context_deferred(&w, type, W);
    } else if constexpr (Kind == Holds::CTX_VALUES) {
        if (!(c->header & CONTEXT_VALUES_ON_STACK) && w) mark_series_cells_deferred(&w, type, W);
    } else if constexpr (Kind == Holds::OP_CONTEXT) {
        u32 wrapped = (c->header & OP_WRAPPED_MASK) >> OP_WRAPPED_SHIFT;
        if ((wrapped == TYPE_FUNCTION || wrapped == TYPE_ROUTINE) && w)
            mark_context_deferred(&w, type, W);
    } else if constexpr (Kind == Holds::EVENT_CELLS) {
        if ((c->header & EVENT_HAS_RECORD) && w) mark_series_cells_deferred(&w, type, W);
    } else if constexpr (Kind == Holds::IMAGE_UNITS) {
        if (w) mark_buffer_of(&w, type, W);
    }
}

// Marks the references of one cell: one case per declared datatype, made
// from the declaration table, so each type marks exactly the words its row
// declares.
void mark_cell(ValueCell* c) {
    switch (c->type()) {
#define ZAN_MARK_ROW(id, Enum, name, parent, d1, d2, d3, traits) \
    case id:                                                     \
        mark_word<Holds::d1, 1>(c, id);                          \
        mark_word<Holds::d2, 2>(c, id);                          \
        mark_word<Holds::d3, 3>(c, id);                          \
        break;
        ZAN_DATATYPES(ZAN_MARK_ROW)
#undef ZAN_MARK_ROW
        default:
            break;
    }
}

// How the scan loop treats a type: the rows most cells have are marked in
// line, a type that holds nothing is skipped, the rest go to mark_cell.
enum ScanClass : u8 { SCAN_NOTHING, SCAN_WORD, SCAN_BLOCK, SCAN_TEXT, SCAN_OTHER };

constexpr std::array<u8, CELL_TYPE_MASK + 1> make_scan_classes() {
    std::array<u8, CELL_TYPE_MASK + 1> t{};
    for (u32 id = 0; id < TYPE_TABLE_SIZE; id++) {
        const Holds* w = kTypeDecls[id].word;
        if (!kTypeDecls[id].name || kTypeDecls[id].references == 0)
            t[id] = SCAN_NOTHING;
        else if (w[0] == Holds::BINDING && w[1] == Holds::VALUE && w[2] == Holds::VALUE)
            t[id] = SCAN_WORD;
        else if (w[0] == Holds::VALUE && w[1] == Holds::CELLS && w[2] == Holds::VALUE)
            t[id] = SCAN_BLOCK;
        else if (w[0] == Holds::VALUE && w[1] == Holds::UNITS && w[2] == Holds::UNITS)
            t[id] = SCAN_TEXT;
        else
            t[id] = SCAN_OTHER;
    }
    return t;
}
constexpr std::array<u8, CELL_TYPE_MASK + 1> kScanClass = make_scan_classes();

// Marks every cell in [c, end): what mark_cell does for each, with the rows
// most cells have (words, blocks, text) in line and the types that hold
// nothing skipped by one table load. The caller holds the heap base and the
// self symbol, and no relocation runs.
[[gnu::always_inline]] inline void mark_cells_in_line(u8* base, u32 self, ValueCell* c,
                                                      ValueCell* end) {
    for (; c < end; c++) {
        u32 type = c->type();
        u32 cls = kScanClass[type];
        if (cls == SCAN_NOTHING) continue;
        if (cls == SCAN_WORD) {
            Node n = c->data1;
            if (!n) continue;
            // A self word and any other word mark the same buffer; only
            // the queue a newly marked one goes to differs.
            SeriesBuffer* b = claim_node(base, n, type, 1);
            if (!b) continue;
            if (self && c->data2 == self) {
                if (b->unit() == 16) g_scan.push_back(n);
            } else {
                g_scan_ctx.push_back(n);
            }
        } else if (cls == SCAN_BLOCK) {
            Node n = c->data2;
            if (!n) continue;
            SeriesBuffer* b = claim_node(base, n, type, 2);
            if (b && b->unit() == 16) g_scan.push_back(n);
        } else if (cls == SCAN_TEXT) {
            if (c->data2) claim_node(base, c->data2, type, 2);
            if (c->data3) claim_node(base, c->data3, type, 3);
        } else {
            mark_cell(c);
        }
    }
}

void mark_cell_run(ValueCell* c, ValueCell* end) {
    if (g_relocating) {
        for (; c < end; c++) mark_cell(c);
        return;
    }
    mark_cells_in_line(g_heap_base, g_gc_self_symbol, c, end);
}

void scan_series(Node n) {
    SeriesBuffer* b = node_buffer(n);
    // Every cell of the buffer's used part; a head index beyond a shrunk tail
    // is harmless here.
    mark_cell_run(b->head_cells(), b->tail_cells());
}

void scan_context(Node n) {
    SeriesBuffer* b = node_buffer(n);
    ValueCell* ctx = b->head_cells();
    if (b->used_bytes() >= 16) mark_cell(ctx);  // word table and values
    if (b->used_bytes() >= 32) mark_cell(ctx + 1);  // the owner
}

void drain() {
    if (!g_relocating) {
        // scan_series in line, the heap base and self symbol held throughout.
        u8* const base = g_heap_base;
        const u32 self = g_gc_self_symbol;
        for (;;) {
            if (!g_scan.empty()) {
                Node n = g_scan.back();
                g_scan.pop_back();
                auto* b = reinterpret_cast<SeriesBuffer*>(base + *reinterpret_cast<u32*>(base + n));
                mark_cells_in_line(base, self, reinterpret_cast<ValueCell*>(base + b->head),
                                   reinterpret_cast<ValueCell*>(base + b->tail));
            } else if (!g_scan_ctx.empty()) {
                Node n = g_scan_ctx.back();
                g_scan_ctx.pop_back();
                scan_context(n);
            } else {
                return;
            }
        }
    }
    while (!g_scan.empty() || !g_scan_ctx.empty()) {
        if (!g_scan.empty()) {
            Node n = g_scan.back();
            g_scan.pop_back();
            scan_series(n);
        } else {
            Node n = g_scan_ctx.back();
            g_scan_ctx.pop_back();
            scan_context(n);
        }
    }
}

void mark_roots() {
    g_root_label = "a root cell";
    for (ValueCell* c : g_roots) mark_cell(c);
    drain();
    if (g_stack.data_node) {
        g_root_label = "the stacks";
        mark_buffer_of(&g_stack.data_node);
        mark_buffer_of(&g_stack.call_node);
        mark_cell_run(g_stack.bottom, g_stack.top);
        drain();
        g_root_label = "a call frame";
        for (CallFrame* f = g_stack.cbottom; f < g_stack.ctop; f++) {
            if (f->name_ctx) {
                if (g_gc_self_symbol && f->symbol() == (g_gc_self_symbol & 0xFFFFu))
                    mark_series_cells_deferred(&f->name_ctx);
                else
                    mark_context_deferred(&f->name_ctx);
            }
            if (f->func_ctx) {
                mark_context_deferred(&f->func_ctx);
                bool on_stack = context_cell(f->func_ctx)->header & CONTEXT_VALUES_ON_STACK;
                if (!on_stack && f->saved_values) mark_series_cells_deferred(&f->saved_values);
            }
            drain();
        }
    }
    g_root_label = "a subsystem's mark callback";
    for (MarkCallback cb : g_callbacks) {
        if (cb) {
            cb();
            drain();
        }
    }
}

// Marks through the weak tables until they reach nothing new, then purges them.
void settle_weak_tables() {
    bool more = true;
    while (more) {
        more = false;
        for (const WeakTable& w : g_weak_tables) {
            if (w.mark_live()) more = true;
            drain();
        }
    }
    for (const WeakTable& w : g_weak_tables) w.purge();
}

// ---- series-frame compaction ------------------------------------------------------------

void rebase_run(HeapRef from, HeapRef to, u32 len) {
    // The run is already moved to `to`; fix every buffer's node and ends.
    i64 delta = static_cast<i64>(to) - static_cast<i64>(from);
    HeapRef p = to;
    HeapRef end = to + len;
    while (p < end) {
        auto* b = hptr<SeriesBuffer>(p);
        b->head = static_cast<HeapRef>(b->head + delta);
        b->tail = static_cast<HeapRef>(b->tail + delta);
        if (b->node) node_slot(b->node) = p;
        p += b->size + SERIES_OVERHEAD;
    }
}

void move_run(HeapRef from, HeapRef to, u32 len) {
    if (from == to || !len) return;
    std::memmove(hptr(to), hptr(from), len);
    rebase_run(from, to, len);
}

// Slides the live buffers of one frame down, moving runs into the free tail
// of the previous frame while it has comfortable room.
void compact_frame(SeriesFrame* f, SeriesFrame* prev) {
    HeapRef p = f->first_buffer();
    HeapRef dest = 0;
    while (p < f->heap) {
        auto* b = hptr<SeriesBuffer>(p);
        u32 step = b->size + SERIES_OVERHEAD;
        bool live = (b->flags & SERIES_MARK) && (b->flags & SERIES_IN_USE);
        if (!live) {
            if ((b->flags & SERIES_IN_USE) && b->node) queue_freed(b->node);
            if (!dest) dest = p;
            p += step;
            continue;
        }
        // A run of marked buffers.
        HeapRef run = p;
        u32 len = 0;
        while (p < f->heap) {
            auto* q = hptr<SeriesBuffer>(p);
            if (!((q->flags & SERIES_MARK) && (q->flags & SERIES_IN_USE))) break;
            q->flags &= ~SERIES_MARK;
            u32 s = q->size + SERIES_OVERHEAD;
            len += s;
            p += s;
        }
        // Into the previous frame while it has room to spare.
        while (len && prev && prev->end - prev->heap > SERIES_FRAME_MIN_ROOM) {
            u32 room = prev->end - prev->heap;
            u32 fit = 0;
            HeapRef q = run;
            while (q < run + len) {
                u32 s = hptr<SeriesBuffer>(q)->size + SERIES_OVERHEAD;
                if (fit + s >= room) break;
                fit += s;
                q += s;
            }
            if (!fit) {
                prev = nullptr;  // the first buffer alone does not fit
                break;
            }
            move_run(run, prev->heap, fit);
            prev->heap += fit;
            if (!dest) dest = run;
            run += fit;
            len -= fit;
            if (prev->end - prev->heap <= SERIES_FRAME_MIN_ROOM) prev = nullptr;
        }
        if (len && dest) {
            move_run(run, dest, len);
            dest += len;
        } else if (len) {
            // Stays in place.
        }
    }
    if (dest) f->heap = dest;
}

void sweep_series_frames() {
    HeapRef r = g_mem.series_head;
    SeriesFrame* prev = nullptr;
    while (r) {
        auto* f = hptr<SeriesFrame>(r);
        HeapRef next = f->next;
        compact_frame(f, prev);
        bool empty = f->heap == f->first_buffer();
        if (empty && next) {
            series_frame_free(f);
        } else {
            prev = f;
        }
        r = next;
    }
    if (!g_mem.series_active) g_mem.series_active = g_mem.series_tail;
}

void clear_fixed_marks() {
    if (g_stack.data_node) {
        node_buffer(g_stack.data_node)->flags &= ~SERIES_MARK;
        node_buffer(g_stack.call_node)->flags &= ~SERIES_MARK;
    }
    for (Node n : memory_fixed_nodes())
        if (node_is_live(n)) node_buffer(n)->flags &= ~SERIES_MARK;
    for (Node n : g_fixed)
        if (node_is_live(n)) node_buffer(n)->flags &= ~SERIES_MARK;
}

void gc_hook() {
    if (g_gc.enabled && !g_gc.active) gc_collect();
}
}  // namespace

void gc_init() {
    g_gc.active = false;
    g_gc.enabled = false;
    // Node-frame evacuation renumbers nodes. Value cells are rewritten during
    // the same collection, but a node handle held by native code across an
    // allocation would go stale, so evacuation runs only when asked for.
    g_gc.node_compaction_enabled = false;
    g_gc.node_compaction_setting = 5;
    g_gc.series_cycles = 0;
    g_gc.nodes_cycles = 0;
    const char* stress = std::getenv("ZAN_GC_STRESS");
    g_gc.stress = stress && *stress && *stress != '0';
    set_collect_hook(gc_hook);
    set_collect_stress(g_gc.stress);
}

void gc_collect() {
    if (g_gc.active) return;
    __atomic_store_n(&g_gc.active, true, __ATOMIC_SEQ_CST);
    if (g_gc.node_compaction_enabled) node_frames_compact();
    g_relocating = !g_relocation.empty();
    mark_roots();
    settle_weak_tables();
    if (!g_relocation.empty()) cycles_remap(gc_relocate);
    externals_sweep();
    index_node_frames();
    sweep_series_frames();
    big_series_sweep(queue_freed);
    release_freed();
    node_frames_release();
    g_relocation.clear();
    g_relocating = false;
    clear_fixed_marks();
    memory_note_collection();
    g_gc.series_cycles++;
    __atomic_store_n(&g_gc.active, false, __ATOMIC_SEQ_CST);
}

void gc_add_mark_callback(MarkCallback cb) { g_callbacks.push_back(cb); }
void gc_remove_mark_callback(MarkCallback cb) {
    auto it = std::find(g_callbacks.begin(), g_callbacks.end(), cb);
    if (it != g_callbacks.end()) *it = nullptr;
}

void gc_add_weak_table(WeakTable table) { g_weak_tables.push_back(table); }

void gc_add_root(ValueCell* cell) { g_roots.push_back(cell); }
void gc_remove_root(ValueCell* cell) {
    // Roots are mostly scoped guards, so the one to drop is usually last.
    for (size_t i = g_roots.size(); i-- > 0;) {
        if (g_roots[i] == cell) {
            g_roots.erase(g_roots.begin() + static_cast<long>(i));
            return;
        }
    }
}

bool gc_mark_node(Node* slot) { return mark_buffer_of(slot); }
void gc_mark_cells(ValueCell* first, ValueCell* last) {
    mark_cell_run(first, last);
    if (g_gc.active) drain();
}
void gc_mark_series_cells(Node* slot) {
    mark_series_cells_deferred(slot);
    if (g_gc.active) drain();
}
Node gc_relocate(Node n) {
    auto it = g_relocation.find(n);
    return it == g_relocation.end() ? n : it->second;
}

void gc_set_table_marker(TableMarkFn fn) { g_table_marker = fn; }
void gc_register_fixed(Node node) { g_fixed.push_back(node); }

}  // namespace zan
