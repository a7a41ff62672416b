#include "runtime/core/memory.h"

#include <cstdlib>
#include <cstring>

#include "runtime/core/errors.h"

namespace zan {

MemoryState g_mem{};

namespace {
CollectHook g_collect = nullptr;
bool g_stress = false;
bool g_stress_at_input = false;  // stress waits for the first read of input
std::vector<Node> g_fixed_nodes;

u32 round16(u64 n) { return static_cast<u32>((n + 15) & ~u64(15)); }
}  // namespace

void set_collect_hook(CollectHook hook) { g_collect = hook; }
void gc_collect_if_enabled() {
    if (g_collect) g_collect();
}
void set_collect_stress(bool on) {
    g_stress = on;
    g_stress_at_input = false;
}
void set_collect_stress_at_first_input() {
    g_stress = false;
    g_stress_at_input = true;
}
void collect_stress_input_read() {
    if (g_stress_at_input) set_collect_stress(true);
}

// A collection costs about what survives it, so the next one waits until as
// much again has been allocated: building a large structure then costs a
// constant amount of collecting per byte, and the heap stays within about
// twice the live size (plus a frame). Once the frames held fill half of the
// heap region, every full frame collects again, so that garbage never makes
// an allocation fail that a collection would have made room for.
bool memory_collection_due() {
    return g_mem.allocated >= g_mem.survived || g_mem.total >= g_heap_size / 2;
}

// What start-up left behind counts as having survived a collection, so the
// first collection waits until as much again has been allocated (else the
// first full frame after start-up would collect the whole library and free
// almost nothing).
void memory_note_start_up_done() { memory_note_collection(); }

void memory_note_collection() {
    u64 live = 0;
    for (HeapRef r = g_mem.series_head; r; r = hptr<SeriesFrame>(r)->next) {
        auto* f = hptr<SeriesFrame>(r);
        live += f->heap - f->first_buffer();
    }
    for (HeapRef r = g_mem.big_head; r; r = hptr<BigFrame>(r)->next) live += hptr<BigFrame>(r)->size;
    g_mem.survived = live;
    g_mem.allocated = 0;
    heap_region_settle();
}
const std::vector<Node>& memory_fixed_nodes() { return g_fixed_nodes; }

void memory_init() {
    if (!heap_region_init()) runtime_fatal(2, "cannot reserve the heap region");
    g_mem = MemoryState{};
    g_mem.series_first_size = SERIES_FRAME_FIRST;
    g_mem.series_size = SERIES_FRAME_FIRST;
    g_mem.series_max_size = SERIES_FRAME_MAX;
}

// The rounded size is kept in the word just in front of the block. The
// frames made here write every byte they read (headers, node slots, the
// buffers handed out), so warm pages are handed over uncleared.
void* alloc_virtual(size_t size, bool /*executable*/) {
    size_t page = heap_page_size();
    size_t rounded = (size + 4 + page - 1) / page * page;
    if (rounded > 0xFFFFFFFFu) fire(Err::internal_no_memory);
    u8* p = static_cast<u8*>(heap_region_alloc(rounded, false));
    if (!p) fire(Err::internal_no_memory);
    // Counted only once the memory is really held.
    g_mem.total += rounded;
    u32 r = static_cast<u32>(rounded);
    std::memcpy(p, &r, 4);
    return p + 4;
}

void free_virtual(void* block) {
    if (!block) return;
    u8* p = static_cast<u8*>(block) - 4;
    u32 r;
    std::memcpy(&r, p, 4);
    g_mem.total -= r;
    heap_region_free(p, r);
}

void memory_free_all() {
    for (Node n : g_fixed_nodes) {
        SeriesBuffer* b = node_buffer(n);
        heap_region_free(b, u64(b->size) + sizeof(SeriesBuffer));
    }
    g_mem.fixed_count = 0;
    while (g_mem.node_head) {
        auto* f = hptr<NodeFrame>(g_mem.node_head);
        g_mem.node_head = f->next;
        free_virtual(f);
    }
    while (g_mem.series_head) {
        auto* f = hptr<SeriesFrame>(g_mem.series_head);
        g_mem.series_head = f->next;
        free_virtual(f);
    }
    while (g_mem.big_head) {
        auto* f = hptr<BigFrame>(g_mem.big_head);
        g_mem.big_head = f->next;
        free_virtual(f);
    }
    g_mem.node_tail = g_mem.node_active = 0;
    g_mem.series_active = g_mem.series_tail = 0;
    g_fixed_nodes.clear();
    heap_region_release_warm();
}

// ---- node frames -----------------------------------------------------------

NodeFrame* node_frame_alloc(u32 capacity) {
    auto* f = static_cast<NodeFrame*>(alloc_virtual(capacity * 4 + sizeof(NodeFrame)));
    std::memset(f, 0, sizeof(NodeFrame));
    f->capacity = capacity;
    f->created_cycle = 0;
    u32* s = f->slots();
    HeapRef first = f->first_slot_ref();
    // Each free slot holds the next one's reference; four at a time.
    u32 i = 0;
    HeapRef next = first + 4;
    for (; i + 4 < capacity; i += 4, next += 16) {
        s[i] = next;
        s[i + 1] = next + 4;
        s[i + 2] = next + 8;
        s[i + 3] = next + 12;
    }
    for (; i + 1 < capacity; i++, next += 4) s[i] = next;
    s[capacity - 1] = 0;
    f->free_head = first;
    HeapRef ref = heap_off(f);
    if (!g_mem.node_head) {
        g_mem.node_head = g_mem.node_tail = g_mem.node_active = ref;
    } else {
        hptr<NodeFrame>(g_mem.node_tail)->next = ref;
        f->prev = g_mem.node_tail;
        g_mem.node_tail = ref;
    }
    return f;
}

void node_frame_free(NodeFrame* f) {
    HeapRef ref = heap_off(f);
    if (f->prev) hptr<NodeFrame>(f->prev)->next = f->next;
    else g_mem.node_head = f->next;
    if (f->next) hptr<NodeFrame>(f->next)->prev = f->prev;
    else g_mem.node_tail = f->prev;
    if (g_mem.node_active == ref) g_mem.node_active = g_mem.node_tail;
    free_virtual(f);
}

Node node_alloc() {
    NodeFrame* f = g_mem.node_active ? hptr<NodeFrame>(g_mem.node_active) : nullptr;
    if (!f || !f->free_head) {
        f = nullptr;
        for (HeapRef r = g_mem.node_head; r; r = hptr<NodeFrame>(r)->next) {
            auto* c = hptr<NodeFrame>(r);
            if (c->free_head && !c->evacuated) {
                f = c;
                break;
            }
        }
        if (!f) f = node_frame_alloc(NODE_FRAME_CAPACITY);
        g_mem.node_active = heap_off(f);
    }
    Node n = f->free_head;
    f->free_head = node_slot(n);
    node_slot(n) = 0;
    f->used++;
    return n;
}

void node_free(NodeFrame* f, Node n) {
    node_slot(n) = f->free_head;
    f->free_head = n;
    f->used--;
}

void node_frames_release() {
    HeapRef r = g_mem.node_head;
    while (r) {
        auto* f = hptr<NodeFrame>(r);
        HeapRef next = f->next;
        if (f->used == 0 || f->evacuated) {
            node_frame_free(f);
        } else {
            f->stability <<= 1;
            if (f->used == f->prev_used) f->stability |= 1;
            f->prev_used = f->used;
        }
        r = next;
    }
    g_mem.node_active = g_mem.node_tail;
    for (HeapRef q = g_mem.node_head; q; q = hptr<NodeFrame>(q)->next) {
        if (hptr<NodeFrame>(q)->free_head) {
            g_mem.node_active = q;
            break;
        }
    }
}

// ---- series frames ---------------------------------------------------------

SeriesFrame* series_frame_alloc() {
    u32 s = g_mem.series_size;
    if (g_mem.series_size < g_mem.series_max_size) {
        g_mem.series_size *= 2;
        if (g_mem.series_size > g_mem.series_max_size) g_mem.series_size = g_mem.series_max_size;
    }
    auto* f = static_cast<SeriesFrame*>(alloc_virtual(s + sizeof(SeriesFrame)));
    HeapRef ref = heap_off(f);
    f->size = s + sizeof(SeriesFrame);
    f->heap = ref + sizeof(SeriesFrame);
    f->end = ref + s + sizeof(SeriesFrame);
    f->next = f->prev = 0;
    if (!g_mem.series_head) {
        g_mem.series_head = g_mem.series_tail = g_mem.series_active = ref;
        return f;
    }
    if (ref < g_mem.series_head) {
        f->next = g_mem.series_head;
        hptr<SeriesFrame>(g_mem.series_head)->prev = ref;
        g_mem.series_head = ref;
    } else if (ref > g_mem.series_tail) {
        f->prev = g_mem.series_tail;
        hptr<SeriesFrame>(g_mem.series_tail)->next = ref;
        g_mem.series_tail = ref;
    } else {
        HeapRef q = g_mem.series_head;
        while (q && q < ref) q = hptr<SeriesFrame>(q)->next;
        auto* above = hptr<SeriesFrame>(q);
        f->next = q;
        f->prev = above->prev;
        hptr<SeriesFrame>(above->prev)->next = ref;
        above->prev = ref;
    }
    return f;
}

void series_frame_free(SeriesFrame* f) {
    HeapRef ref = heap_off(f);
    if (f->prev) hptr<SeriesFrame>(f->prev)->next = f->next;
    else g_mem.series_head = f->next;
    if (f->next) hptr<SeriesFrame>(f->next)->prev = f->prev;
    else g_mem.series_tail = f->prev;
    if (g_mem.series_active == ref) g_mem.series_active = g_mem.series_tail;
    free_virtual(f);
}

SeriesFrame* series_frame_find_room(u32 size) {
    for (HeapRef r = g_mem.series_head; r; r = hptr<SeriesFrame>(r)->next) {
        auto* f = hptr<SeriesFrame>(r);
        if (u64(f->heap) + size < f->end) return f;
    }
    return nullptr;
}

SeriesBuffer* big_series_alloc(u32 size) {
    auto* f = static_cast<BigFrame*>(alloc_virtual(u64(size) + sizeof(BigFrame)));
    f->next = 0;
    f->link2 = 0;
    f->size = size;
    HeapRef ref = heap_off(f);
    if (!g_mem.big_head) {
        g_mem.big_head = ref;
    } else {
        HeapRef q = g_mem.big_head;
        while (hptr<BigFrame>(q)->next) q = hptr<BigFrame>(q)->next;
        hptr<BigFrame>(q)->next = ref;
    }
    return f->buffer();
}

void big_series_sweep(void (*queue_freed_node)(Node)) {
    HeapRef prev = 0;
    HeapRef r = g_mem.big_head;
    while (r) {
        auto* f = hptr<BigFrame>(r);
        HeapRef next = f->next;
        SeriesBuffer* b = f->buffer();
        if (b->flags & SERIES_MARK) {
            b->flags &= ~SERIES_MARK;
            prev = r;
        } else {
            if (b->node && queue_freed_node) queue_freed_node(b->node);
            if (prev) hptr<BigFrame>(prev)->next = next;
            else g_mem.big_head = next;
            free_virtual(f);
        }
        r = next;
    }
}

// ---- buffers ---------------------------------------------------------------

SeriesBuffer* alloc_series_buffer(u32 count, u32 unit, i32 offset) {
    u64 bytes = u64(count) * unit;
    if (bytes > 0x7FFFFFF0u) fire(Err::internal_no_memory);
    u32 size = round16(bytes);
    u64 need = u64(size) + SERIES_OVERHEAD;
    if (g_stress) gc_collect_if_enabled();
    SeriesBuffer* b;
    u32 big = 0;
    if (need >= g_mem.series_max_size) {
        if (memory_collection_due()) gc_collect_if_enabled();
        b = big_series_alloc(static_cast<u32>(need));
        big = SERIES_BIG;
    } else {
        SeriesFrame* f = g_mem.series_active ? hptr<SeriesFrame>(g_mem.series_active) : nullptr;
        if (!f || u64(f->heap) + need >= f->end) {
            f = series_frame_find_room(static_cast<u32>(need));
            if (!f && memory_collection_due()) {
                gc_collect_if_enabled();
                f = series_frame_find_room(static_cast<u32>(need));
                if (f && f->end - f->heap < SERIES_FRAME_MIN_ROOM) f = nullptr;
            }
            if (!f) {
                if (need >= g_mem.series_size) g_mem.series_size = g_mem.series_max_size;
                f = series_frame_alloc();
            }
            g_mem.series_active = heap_off(f);
        }
        b = hptr<SeriesBuffer>(f->heap);
        f->heap += static_cast<u32>(need);
    }
    g_mem.allocated += need;
    b->size = size;
    b->flags = unit | SERIES_IN_USE | big;
    b->node = 0;
    u32 off;
    if (offset == -1) {
        off = size / 2;
        b->flags |= SERIES_HEAD_MID | SERIES_NEW;
    } else {
        off = static_cast<u32>(offset);
        b->flags |= SERIES_NEW;
    }
    b->head = b->tail = b->data_ref() + off;
    return b;
}

// Largest data area the fast path of alloc_series makes (far below a frame).
constexpr u64 SMALL_SERIES_BYTES = 0x1000;

namespace {
// alloc_series when the fast path does not apply; apart, so that the fast
// path saves no registers for it.
[[gnu::noinline]] Node alloc_series_general(u32 count, u32 unit, i32 offset) {
    SeriesBuffer* b = alloc_series_buffer(count, unit, offset);
    HeapRef bref = heap_off(b);
    Node n = node_alloc();  // may not collect, so b stays valid
    node_slot(n) = bref;
    b->node = n;
    return n;
}
}  // namespace

namespace {
// Takes node n and need bytes at bref of the active frames for a small
// buffer of size bytes (the caller has seen that both have room).
inline SeriesBuffer* take_small_buffer(u8* base, SeriesFrame* f, NodeFrame* nf, Node n,
                                       HeapRef bref, u32 size, u32 need) {
    f->heap = bref + need;
    g_mem.allocated += need;
    auto* b = reinterpret_cast<SeriesBuffer*>(base + bref);
    u32* slot = reinterpret_cast<u32*>(base + n);
    nf->free_head = *slot;
    *slot = bref;
    nf->used++;
    b->size = size;
    b->node = n;
    return b;
}
}  // namespace

Node alloc_series(u32 count, u32 unit, i32 offset) {
    // A small buffer with room in the active series frame and a node free in
    // the active node frame, the usual case: made in place, as the general
    // path below would make it, without its calls. Nothing here collects.
    u64 bytes = u64(count) * unit;
    if (bytes <= SMALL_SERIES_BYTES && !g_stress && g_mem.series_active && g_mem.node_active) {
        u8* base = g_heap_base;
        auto* f = reinterpret_cast<SeriesFrame*>(base + g_mem.series_active);
        auto* nf = reinterpret_cast<NodeFrame*>(base + g_mem.node_active);
        u32 size = round16(bytes);
        u32 need = size + SERIES_OVERHEAD;
        Node n = nf->free_head;
        HeapRef bref = f->heap;
        if (n && u64(bref) + need < f->end) {
            SeriesBuffer* b = take_small_buffer(base, f, nf, n, bref, size, need);
            u32 off = offset == -1 ? size / 2 : static_cast<u32>(offset);
            b->flags = unit | SERIES_IN_USE | SERIES_NEW | (offset == -1 ? SERIES_HEAD_MID : 0);
            b->head = b->tail = bref + sizeof(SeriesBuffer) + off;
            return n;
        }
    }
    return alloc_series_general(count, unit, offset);
}


namespace {
// The flags of a copy of a series: the source's but for the ones of its own
// buffer, with those of the new buffer.
inline u32 copy_flags(u32 source_flags, u32 made_flags) {
    u32 keep = source_flags & ~(SERIES_OWNED | SERIES_BIG | SERIES_FIXED | SERIES_MARK |
                                SERIES_HEAD_MID);
    return keep | (made_flags & (SERIES_BIG | SERIES_IN_USE)) | SERIES_NEW;
}

// alloc_series_copy when the fast path does not apply.
[[gnu::noinline]] Node alloc_series_copy_general(Node source, u32 start, u32 count) {
    u32 unit = node_buffer(source)->unit();
    Node n = alloc_series(count ? count : 1, unit, 0);
    SeriesBuffer* src = node_buffer(source);
    SeriesBuffer* dst = node_buffer(n);
    u32 bytes = count * unit;
    if (bytes) std::memcpy(dst->head_ptr(), src->head_ptr() + u64(start) * unit, bytes);
    dst->tail = dst->head + bytes;
    dst->flags = copy_flags(src->flags, dst->flags);
    return n;
}
}  // namespace

Node alloc_series_copy(Node source, u32 start, u32 count) {
    // The fast path of alloc_series for the units (one unit when empty), then
    // the copy; nothing here collects.
    u8* base = g_heap_base;
    auto* src = reinterpret_cast<SeriesBuffer*>(base + node_slot(source));
    u32 unit = src->unit();
    u32 bytes = count * unit;
    u32 room = bytes ? bytes : unit;
    HeapRef sa = g_mem.series_active;
    HeapRef na = g_mem.node_active;
    if (room > SMALL_SERIES_BYTES || g_stress || !sa || !na)
        return alloc_series_copy_general(source, start, count);
    auto* f = reinterpret_cast<SeriesFrame*>(base + sa);
    auto* nf = reinterpret_cast<NodeFrame*>(base + na);
    u32 size = round16(room);
    u32 need = size + SERIES_OVERHEAD;
    Node n = nf->free_head;
    HeapRef bref = f->heap;
    if (!n || f->end - bref <= need) return alloc_series_copy_general(source, start, count);
    SeriesBuffer* b = take_small_buffer(base, f, nf, n, bref, size, need);
    b->flags = copy_flags(src->flags, SERIES_IN_USE);
    HeapRef head = bref + sizeof(SeriesBuffer);
    b->head = head;
    b->tail = head + bytes;
    copy_short_bytes(base + head, src->head_ptr() + start * unit, bytes);
    return n;
}

Node alloc_series_fixed(u32 count, u32 unit, i32 offset) {
    u64 bytes = u64(count) * unit;
    if (bytes > 0x7FFFFFF0u) fire(Err::internal_no_memory);
    u32 size = round16(bytes);
    // Fixed buffers are never moved or swept; they take pages of their own in
    // the heap region so that they stay addressable by a HeapRef.
    auto* b = static_cast<SeriesBuffer*>(heap_region_alloc(u64(size) + sizeof(SeriesBuffer)));
    if (!b) runtime_fatal(1, "out of memory");
    g_mem.fixed_count++;
    b->size = size;
    b->flags = unit | SERIES_IN_USE | SERIES_NEW | SERIES_FIXED;
    b->node = 0;
    u32 off = offset == -1 ? size / 2 : static_cast<u32>(offset);
    b->head = b->tail = b->data_ref() + off;
    Node n = node_alloc();
    node_slot(n) = heap_off(b);
    b->node = n;
    g_fixed_nodes.push_back(n);
    return n;
}

Node alloc_cells(u32 count) { return alloc_series(count, 16, 0); }

Node alloc_cells_unset(u32 count) {
    Node n = alloc_cells(count);
    SeriesBuffer* b = node_buffer(n);
    auto* c = reinterpret_cast<ValueCell*>(b->data());
    for (u32 i = 0; i < b->size / 16; i++) cell_init(c + i, TYPE_UNSET);
    return n;
}

Node alloc_bytes(u32 count) { return alloc_series(count ? count : 16, 1, 0); }

Node alloc_units(u32 count, u32 unit) {
    if (!count) count = 16 >> (unit / 2);
    return alloc_series(count, unit, 0);
}

Node alloc_bytes_filled(u32 count, u8 byte) {
    Node n = alloc_bytes(count);
    SeriesBuffer* b = node_buffer(n);
    std::memset(b->data(), byte, b->size);
    return n;
}

namespace {
// Moves the series to a larger buffer; *old_out receives the abandoned one
// (the allocation may have collected, so the caller's pointer is stale).
SeriesBuffer* expand_impl(SeriesBuffer* buf, u32 new_size, SeriesBuffer** old_out) {
    u32 unit = buf->unit();
    u64 ns = new_size ? u64(new_size) : u64(buf->size) * 2;
    if (ns == 0 || ns > 0x7FFFFFF0u) fire(Err::internal_no_memory);
    Node n = buf->node;
    SeriesBuffer* nb = alloc_series_buffer(static_cast<u32>(ns / unit), unit, 0);
    buf = node_buffer(n);  // the allocation may have collected and moved it
    node_slot(n) = heap_off(nb);
    u32 big = nb->flags & SERIES_BIG;
    nb->flags = (buf->flags & ~SERIES_BIG) | big;
    nb->node = n;
    nb->tail = nb->head + buf->used_bytes();
    buf->node = 0;
    buf->flags &= ~SERIES_IN_USE;
    if (buf->flags & SERIES_FIXED) {
        // A fixed buffer that grows leaves the process heap for a frame.
        nb->flags &= ~SERIES_FIXED;
    }
    *old_out = buf;
    return nb;
}
}  // namespace

SeriesBuffer* series_expand_buffer(SeriesBuffer* buf, u32 new_size) {
    SeriesBuffer* old;
    SeriesBuffer* nb = expand_impl(buf, new_size, &old);
    if (old->flags & SERIES_FIXED) {
        heap_region_free(old, u64(old->size) + sizeof(SeriesBuffer));
        g_mem.fixed_count--;
        std::erase(g_fixed_nodes, nb->node);
    }
    return nb;
}

SeriesBuffer* series_expand(SeriesBuffer* buf, u32 new_size) {
    SeriesBuffer* ob;
    SeriesBuffer* nb = expand_impl(buf, new_size, &ob);
    u32 n = ob->size;
    u32 room = ob->end_ref() - ob->head;
    if (n > room) n = room;
    if (n > nb->size) n = nb->size;
    std::memcpy(nb->head_ptr(), ob->head_ptr(), n);
    if (ob->flags & SERIES_FIXED) {
        heap_region_free(ob, u64(ob->size) + sizeof(SeriesBuffer));
        g_mem.fixed_count--;
        std::erase(g_fixed_nodes, nb->node);
    }
    return nb;
}

namespace {
// Grows a big series in place when the pages after its frame are free.
bool big_series_grow_in_place(SeriesBuffer* buf, u32 new_size) {
    auto* f = reinterpret_cast<BigFrame*>(buf) - 1;
    u8* block = reinterpret_cast<u8*>(f) - 4;  // alloc_virtual's size word
    u32 held;
    std::memcpy(&held, block, 4);
    u64 need = u64(new_size) + SERIES_OVERHEAD + sizeof(BigFrame) + 4;
    size_t page = heap_page_size();
    u64 rounded = (need + page - 1) / page * page;
    if (rounded > 0xFFFFFFFFu) return false;
    if (rounded > held && !heap_region_grow(block, held, rounded)) return false;
    if (rounded > held) {
        g_mem.total += rounded - held;
        u32 r = static_cast<u32>(rounded);
        std::memcpy(block, &r, 4);
    }
    f->size = static_cast<u32>(u64(new_size) + SERIES_OVERHEAD);
    buf->size = new_size;
    return true;
}
}  // namespace

SeriesBuffer* series_grow(SeriesBuffer* buf, u32 new_size) {
    new_size = round16(new_size);
    if (new_size <= buf->size) return buf;
    u32 old_size = buf->size;
    if ((buf->flags & SERIES_BIG) && big_series_grow_in_place(buf, new_size)) {
        g_mem.allocated += new_size - old_size;
        return buf;
    }
    return series_expand(buf, new_size);
}

SeriesBuffer* series_expand_filled(SeriesBuffer* buf, u32 new_size, u8 byte) {
    u32 old = buf->size;
    SeriesBuffer* nb = series_expand(buf, new_size);
    if (nb->size > old) std::memset(nb->data() + old, byte, nb->size - old);
    return nb;
}

Node series_copy_buffer(SeriesBuffer* buf) {
    Node old_node = buf->node;
    u32 size = buf->size;
    Node n = alloc_series(size, 1, 0);
    SeriesBuffer* ob = node_buffer(old_node);  // may have moved
    SeriesBuffer* nb = node_buffer(n);
    // The copy takes the flags whole, except where the buffer itself lives.
    nb->flags = (ob->flags & ~(SERIES_FIXED | SERIES_BIG)) | (nb->flags & SERIES_BIG);
    nb->tail = nb->head + ob->used_bytes();
    u32 n_copy = ob->end_ref() - ob->head;
    if (n_copy > size) n_copy = size;
    if (n_copy) std::memcpy(nb->head_ptr(), ob->head_ptr(), n_copy);
    return n;
}

void series_trim_room(Node n) {
    SeriesBuffer* b = node_buffer(n);
    if (b->flags & (SERIES_BIG | SERIES_FIXED) || b->head != b->data_ref()) return;
    u32 keep = round16(b->used_bytes() ? b->used_bytes() : 16);
    // The dead buffer needs a header and some room to be worth making.
    if (b->size < keep + SERIES_OVERHEAD + 16) return;
    auto* dead = hptr<SeriesBuffer>(b->data_ref() + keep + 4);
    // Its size is the rest of the place, less its own header: not a
    // multiple of 16, which only the frame walk of the collector reads.
    dead->size = b->size - keep - SERIES_OVERHEAD;
    dead->flags = 0;
    dead->node = 0;
    dead->head = dead->tail = dead->data_ref();
    b->size = keep;
}

}  // namespace zan
