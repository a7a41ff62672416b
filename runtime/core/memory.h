// The memory manager: nodes, series buffers, and the node, series and big
// frames that hold them. Every address the original layouts keep in a 32-bit
// field is a HeapRef (heap.h). Values hold nodes; a node slot holds the
// HeapRef of its buffer, and the buffer points back at its node, so buffers
// can move without touching the values that refer to them.
#pragma once
#include <cstddef>
#include <cstring>
#include <vector>
#include "runtime/core/cell.h"
#include "runtime/core/heap.h"
#include "runtime/core/layout.h"

namespace zan {

// Flags word of a SeriesBuffer.
constexpr u32 SERIES_UNIT_MASK = 0x1Fu;        // bits 0-4: 1, 2, 4 or 16
constexpr u32 SERIES_OWNED = 1u << 17;
constexpr u32 SERIES_COMPLEMENT = 1u << 19;    // bitset complement
constexpr u32 SERIES_FIXED = 1u << 20;         // outside every frame
constexpr u32 SERIES_BIG = 1u << 24;           // in a big-series frame
constexpr u32 SERIES_MARK = 1u << 27;          // collector mark
constexpr u32 SERIES_HEAD_MID = 1u << 28;      // head starts mid-buffer
constexpr u32 SERIES_NEW = 1u << 29;           // set on every new buffer
constexpr u32 SERIES_IN_USE = 1u << 31;

struct SeriesBuffer {
    u32 flags;
    Node node;     // 0 once abandoned by an expansion
    u32 size;      // bytes of the data area, a multiple of 16
    HeapRef head;  // first used byte
    HeapRef tail;  // one past the last used byte

    u8* data() { return reinterpret_cast<u8*>(this + 1); }
    u32 unit() const { return flags & SERIES_UNIT_MASK; }
    HeapRef data_ref() const { return heap_off(this) + sizeof(SeriesBuffer); }
    HeapRef end_ref() const { return data_ref() + size; }
    u8* head_ptr() { return hptr(head); }
    u8* tail_ptr() { return hptr(tail); }
    u32 used_bytes() const { return tail - head; }
    ValueCell* head_cells() { return hptr<ValueCell>(head); }
    ValueCell* tail_cells() { return hptr<ValueCell>(tail); }
};
static_assert(sizeof(SeriesBuffer) == 20, "series header is five words");

// Bytes a buffer takes in a series frame besides its data area.
constexpr u32 SERIES_OVERHEAD = sizeof(SeriesBuffer) + 4;

struct NodeFrame {
    HeapRef next;
    HeapRef prev;
    u32 capacity;
    HeapRef free_head;  // first free node slot, 0 when full
    u32 used;
    u32 created_cycle;
    u32 prev_used;
    u32 stability;
    u32 evacuated;

    u32* slots() { return reinterpret_cast<u32*>(this + 1); }
    HeapRef first_slot_ref() const { return heap_off(this) + sizeof(NodeFrame); }
    bool holds(Node n) const {
        return n >= first_slot_ref() && n < first_slot_ref() + capacity * 4;
    }
};
static_assert(sizeof(NodeFrame) == 36, "node frame header is nine words");

struct SeriesFrame {
    HeapRef next;
    HeapRef prev;
    u32 size;       // total bytes including this header
    HeapRef heap;   // next free byte
    HeapRef end;    // first byte past the frame

    HeapRef first_buffer() const { return heap_off(this) + sizeof(SeriesFrame); }
};
static_assert(sizeof(SeriesFrame) == 20, "series frame header is five words");

struct BigFrame {
    HeapRef next;
    u32 link2;      // stays 0
    u32 size;
    SeriesBuffer* buffer() { return reinterpret_cast<SeriesBuffer*>(this + 1); }
};
static_assert(sizeof(BigFrame) == 12, "big frame header is three words");

constexpr u32 NODE_FRAME_CAPACITY = 10000;
constexpr u32 SERIES_FRAME_FIRST = 0x100000;   // 1 MB
constexpr u32 SERIES_FRAME_MAX = 0x200000;     // 2 MB, also the big threshold
constexpr u32 SERIES_FRAME_MIN_ROOM = 52428;   // CCCCh

struct MemoryState {
    u64 total;            // bytes of frames currently held
    HeapRef node_head, node_tail, node_active;
    HeapRef series_head, series_active, series_tail;
    u32 series_first_size, series_size, series_max_size;
    HeapRef big_head;
    u32 fixed_count;      // live fixed buffers (not framed)
    u64 allocated;        // bytes of buffers allocated since the last collection
    u64 survived;         // bytes of buffers the last collection kept
};
extern MemoryState g_mem;

// Node access.
inline u32& node_slot(Node n) { return *hptr<u32>(n); }
inline SeriesBuffer* node_buffer(Node n) { return hptr<SeriesBuffer>(node_slot(n)); }
inline SeriesBuffer* series_of(const ValueCell* c) { return node_buffer(series_node(c)); }

// The collector registers itself here; allocation calls it on the slow paths.
using CollectHook = void (*)();
void set_collect_hook(CollectHook hook);
void gc_collect_if_enabled();
// Stress mode: every allocation that may collect does collect.
void set_collect_stress(bool on);
// Stress mode held back until the first read of input, a file's or
// standard input's (the launch is the same in every process, so stressing
// it in every run of a test suite only costs time): armed here, begun by
// the readers.
void set_collect_stress_at_first_input();
void collect_stress_input_read();
// Called by the collector when a collection ends: measures what survived,
// which sets how much may be allocated before the next one is due.
void memory_note_collection();
// Called when start-up is done: the heap it built is measured as if a
// collection had kept it.
void memory_note_start_up_done();
// True when a full frame (or a big series) should lead to a collection rather
// than to a new frame: as much has been allocated since the last collection
// as survived it, or the frames held fill half of the heap region.
bool memory_collection_due();
// Nodes of the live fixed buffers (which the frame sweeps never see).
const std::vector<Node>& memory_fixed_nodes();

// Reserves the heap region and resets the frame lists (no frame yet).
void memory_init();
// Gives every frame and fixed buffer back to the system (shutdown, tests).
void memory_free_all();
// Whole pages from the heap region, counted in g_mem.total; raises
// no-memory when the region or the system refuses. The memory manager's
// own frames come from here.
void* alloc_virtual(size_t size, bool executable = false);
void free_virtual(void* block);

// A frame of `capacity` node slots, chained as the list's tail.
NodeFrame* node_frame_alloc(u32 capacity);
void node_frame_free(NodeFrame* frame);
// A free node slot (slot content 0), from the active frame or the first
// frame with room, else a new frame. Never collects.
Node node_alloc();
// Returns one node to its frame's free list. For code that gives a node
// back at once; the collector's sweep frees nodes in bulk by itself.
void node_free(NodeFrame* frame, Node node);
// After a collection: frees the empty and evacuated node frames and keeps
// the others' history, which decides which frames node compaction empties.
void node_frames_release();

SeriesFrame* series_frame_alloc();
void series_frame_free(SeriesFrame* frame);
// The first series frame with more than `size` bytes free at its end.
SeriesFrame* series_frame_find_room(u32 size);

// A buffer of count units of `unit` bytes (rounded up to 16 bytes) with no
// node yet. offset: the head's byte offset into the data area, or -1 for
// the middle (room to grow at both ends). May collect.
SeriesBuffer* alloc_series_buffer(u32 count, u32 unit, i32 offset);
// A buffer as above with its node: the usual way to make a series.
Node alloc_series(u32 count, u32 unit, i32 offset);
// A new series holding a copy of count units of the series buffer of node
// source from unit start (head at offset 0, room for one unit at least), its
// flags the source's but for the ones of its own buffer. May collect.
Node alloc_series_copy(Node source, u32 start, u32 count);
// A buffer outside every frame, never moved or swept (until it grows), for
// series whose address must stay put; given back by free_series_fixed.
Node alloc_series_fixed(u32 count, u32 unit, i32 offset);
Node alloc_cells(u32 count);
// Cells whose whole buffer is unset!, for blocks read before written.
Node alloc_cells_unset(u32 count);
// count 0 asks for the default of 16 bytes.
Node alloc_bytes(u32 count);
Node alloc_units(u32 count, u32 unit);
Node alloc_bytes_filled(u32 count, u8 byte);

// Moves a series into a larger buffer (new_size bytes, 0 doubles it) and
// returns the new one; the old one is left for the sweep. The old pointer
// is stale afterwards, since the allocation may collect.
// series_expand_buffer keeps only head and tail: the caller fills the data.
SeriesBuffer* series_expand_buffer(SeriesBuffer* buf, u32 new_size);
// series_expand copies the data from the head on.
SeriesBuffer* series_expand(SeriesBuffer* buf, u32 new_size);
// ... and fills the bytes past the old size with `byte`.
SeriesBuffer* series_expand_filled(SeriesBuffer* buf, u32 new_size, u8 byte);
// Gives the series of buf at least new_size bytes of data area, keeping
// head, tail and data: a big series takes the pages after its frame when
// they are free, any other moves as with series_expand. Returns the buffer
// (moved or not; the old pointer is stale either way, since the allocation
// may collect).
SeriesBuffer* series_grow(SeriesBuffer* buf, u32 new_size);
// A new series with the same flags and data from the head on.
Node series_copy_buffer(SeriesBuffer* buf);
// Gives back the room past the tail of a series in a frame whose head is
// at the start of its data area, when that room is worth a buffer of its
// own: the buffer keeps its used bytes (rounded up to 16) and the rest of
// its place becomes a dead buffer that the next collection reclaims.
// Nothing moves or is allocated; big and fixed buffers are left as they are.
void series_trim_room(Node node);

// A series too large for a frame: a block of pages of its own.
SeriesBuffer* big_series_alloc(u32 size);
// Frees the unmarked big series (queueing their nodes for release) and
// clears the marks of the others.
void big_series_sweep(void (*queue_freed_node)(Node));

// Copies n bytes between buffers that do not overlap; a short text (the
// usual copy or append) by two overlapping moves instead of a library call.
inline void copy_short_bytes(u8* to, const u8* from, u64 n) {
    if (n >= 8 && n <= 16) {
        u64 a, b;
        std::memcpy(&a, from, 8);
        std::memcpy(&b, from + n - 8, 8);
        std::memcpy(to, &a, 8);
        std::memcpy(to + n - 8, &b, 8);
    } else if (n >= 4 && n < 8) {
        u32 a, b;
        std::memcpy(&a, from, 4);
        std::memcpy(&b, from + n - 4, 4);
        std::memcpy(to, &a, 4);
        std::memcpy(to + n - 4, &b, 4);
    } else if (n > 0 && n < 4) {
        to[0] = from[0];
        to[n / 2] = from[n / 2];
        to[n - 1] = from[n - 1];
    } else if (n) {
        std::memcpy(to, from, n);
    }
}

}  // namespace zan
