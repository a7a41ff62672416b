// Memory statistics over the frame lists of the memory manager.
#include "runtime/typesystem/memory_stats.h"

#include <array>
#include <vector>

#include "runtime/core/collector.h"
#include "runtime/core/memory.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"

namespace zan {

namespace {

// Bytes of the process-heap bookkeeping counted for each fixed buffer.
constexpr u64 HEAP_BLOCK_OVERHEAD = 16;

struct Walk {
    template <class F>
    static void node_frames(F f) {
        for (HeapRef r = g_mem.node_head; r; r = hptr<NodeFrame>(r)->next) f(hptr<NodeFrame>(r));
    }
    template <class F>
    static void series_frames(F f) {
        for (HeapRef r = g_mem.series_head; r; r = hptr<SeriesFrame>(r)->next)
            f(hptr<SeriesFrame>(r));
    }
    template <class F>
    static void big_frames(F f) {
        for (HeapRef r = g_mem.big_head; r; r = hptr<BigFrame>(r)->next) f(hptr<BigFrame>(r));
    }
};

// Appends a block of three integers, on a line of its own.
void append_triple(ValueCell* list, i32 a, i32 b, i32 c) {
    ValueCell* entry = block_push_new(3);
    ValueCell n;
    integer_box(&n, a);
    block_append_cell(entry, &n);
    integer_box(&n, b);
    block_append_cell(entry, &n);
    integer_box(&n, c);
    block_append_cell(entry, &n);
    ValueCell e = *entry;
    e.header |= CELL_NEW_LINE;
    block_append_cell(list, &e);
    stack_pop(1);
}

void append_total(ValueCell* block, u64 bytes) {
    ValueCell v;
    memory_stats_total_cell(bytes, &v);
    block_append_cell(block, &v);
}

}  // namespace

ValueCell* memory_stats_total_cell(u64 bytes, ValueCell* out) {
    if (bytes <= 2147483647u) integer_box(out, static_cast<i32>(bytes));
    else float_make_at(out, static_cast<double>(bytes));
    return out;
}

double memory_stats(ValueCell* block, i32 level) {
    GcHold hold;

    if (level <= 1) {
        u64 used = 0;
        Walk::node_frames([&](NodeFrame* f) { used += 4ull * f->used; });
        Walk::series_frames([&](SeriesFrame* f) { used += f->heap - f->first_buffer(); });
        Walk::big_frames([&](BigFrame* f) { used += f->buffer()->size; });
        return static_cast<double>(used);
    }

    ValueCell* out = stack_push(block);
    u64 total = 0;
    // The frames are gathered first: making the lists allocates series.
    std::vector<std::array<i32, 3>> nodes, series;
    std::vector<i32> bigs;
    Walk::node_frames([&](NodeFrame* f) {
        nodes.push_back({static_cast<i32>(f->capacity - f->used), static_cast<i32>(f->used),
                         static_cast<i32>(f->capacity)});
        total += 4ull * f->capacity + sizeof(NodeFrame);
    });
    Walk::series_frames([&](SeriesFrame* f) {
        u32 start = f->first_buffer();
        series.push_back({static_cast<i32>(f->end - f->heap), static_cast<i32>(f->heap - start),
                          static_cast<i32>(f->end - start)});
        total += u64(f->end - start) + sizeof(SeriesFrame);
    });
    Walk::big_frames([&](BigFrame* f) {
        bigs.push_back(static_cast<i32>(f->buffer()->size));
        total += u64(f->buffer()->size) + sizeof(BigFrame);
    });
    u64 heap = 0;
    for (Node n : memory_fixed_nodes())
        heap += u64(node_buffer(n)->size) + sizeof(SeriesBuffer) + HEAP_BLOCK_OVERHEAD;
    total += heap;

    ValueCell* list = block_push_new(static_cast<u32>(nodes.size()) + 1);
    for (auto& e : nodes) append_triple(list, e[0], e[1], e[2]);
    block_append_cell(out, list);
    stack_pop(1);
    list = block_push_new(static_cast<u32>(series.size()) + 1);
    for (auto& e : series) append_triple(list, e[0], e[1], e[2]);
    block_append_cell(out, list);
    stack_pop(1);
    list = block_push_new(static_cast<u32>(bigs.size()) + 1);
    for (i32 size : bigs) {
        ValueCell n;
        integer_box(&n, size);
        n.header |= CELL_NEW_LINE;
        block_append_cell(list, &n);
    }
    block_append_cell(out, list);
    stack_pop(1);
    append_total(out, total);
    append_total(out, heap);
    stack_pop(1);
    return 0.0;
}

}  // namespace zan
