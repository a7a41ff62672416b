#include <cstdio>
#include <cstring>
#include <vector>

#include "runtime/core/heap.h"

#include "test_support.h"

namespace zan {
namespace {

using MemoryTest = test::RuntimeTest;

TEST_F(MemoryTest, BufferSizeRoundsToSixteenAndCountZeroMeansSixteenBytes) {
    struct Case { u32 count, unit, capacity; };
    for (auto c : {Case{0, 1, 16}, Case{1, 1, 16}, Case{17, 1, 32}, Case{3, 16, 48}}) {
        Node n = c.count || c.unit != 1 ? alloc_series(c.count ? c.count : 16, c.unit, 0)
                                        : alloc_bytes(0);
        EXPECT_EQ(node_buffer(n)->size, c.capacity) << c.count << "x" << c.unit;
    }
    EXPECT_EQ(node_buffer(alloc_units(0, 4))->size / 4, 4u);
    EXPECT_EQ(node_buffer(alloc_units(0, 2))->size / 2, 8u);
}

TEST_F(MemoryTest, BigSeriesThresholdIsTwoMegabytesOfNeed) {
    // need = rounded size + 24
    SeriesBuffer* framed = alloc_series_buffer(0x200000 - 32, 1, 0);
    EXPECT_FALSE(framed->flags & SERIES_BIG);
    SeriesBuffer* big = alloc_series_buffer(0x200000 - 16, 1, 0);
    EXPECT_TRUE(big->flags & SERIES_BIG);
}

TEST_F(MemoryTest, ExpansionKeepsNodeAndAbandonsOldBuffer) {
    Node n = alloc_bytes(16);
    SeriesBuffer* b = node_buffer(n);
    std::memcpy(b->head_ptr(), "abcdefgh", 8);
    b->tail = b->head + 8;
    SeriesBuffer* old = b;
    SeriesBuffer* nb = series_expand(b, 64);
    EXPECT_EQ(node_buffer(n), nb);
    EXPECT_EQ(nb->size, 64u);
    EXPECT_EQ(nb->used_bytes(), 8u);
    EXPECT_EQ(std::memcmp(nb->head_ptr(), "abcdefgh", 8), 0);
    EXPECT_EQ(old->node, 0u);
    EXPECT_FALSE(old->flags & SERIES_IN_USE);
}

TEST_F(MemoryTest, MidHeadOffsetSetsFlags) {
    SeriesBuffer* b = alloc_series_buffer(8, 16, -1);
    EXPECT_EQ(b->head - b->data_ref(), 64u);
    EXPECT_TRUE(b->flags & SERIES_HEAD_MID);
    EXPECT_TRUE(b->flags & SERIES_NEW);
}

TEST_F(MemoryTest, SeriesFrameSizesDouble) {
    SeriesFrame* a = series_frame_alloc();
    SeriesFrame* b = series_frame_alloc();
    SeriesFrame* c = series_frame_alloc();
    EXPECT_EQ(a->size, 0x100000u + 20);
    EXPECT_EQ(b->size, 0x200000u + 20);
    EXPECT_EQ(c->size, 0x200000u + 20);
}

TEST_F(MemoryTest, NodesComeFromFramesAndReturnToFreeList) {
    Node a = node_alloc();
    Node b = node_alloc();
    EXPECT_NE(a, b);
    NodeFrame* f = nullptr;
    for (HeapRef r = g_mem.node_head; r && !f; r = hptr<NodeFrame>(r)->next)
        if (hptr<NodeFrame>(r)->holds(a)) f = hptr<NodeFrame>(r);
    ASSERT_NE(f, nullptr);
    u32 used = f->used;
    node_free(f, b);
    EXPECT_EQ(f->used, used - 1);
    EXPECT_EQ(node_alloc(), b);
}

TEST_F(MemoryTest, ManyNodesSpillIntoNewFrames) {
    for (u32 i = 0; i < NODE_FRAME_CAPACITY + 10; i++) node_alloc();
    EXPECT_NE(g_mem.node_head, g_mem.node_tail);
}

TEST_F(MemoryTest, TotalCountsOnlyHeldMemory) {
    u64 before = g_mem.total;
    void* p = alloc_virtual(100);
    EXPECT_EQ(g_mem.total, before + heap_page_size());
    free_virtual(p);
    EXPECT_EQ(g_mem.total, before);
    // A request the region cannot satisfy raises no-memory and counts nothing.
    EXPECT_THROW(alloc_virtual(size_t(1) << 33), ThrowSignal);
    EXPECT_EQ(g_raw_error, Err::internal_no_memory);
    EXPECT_EQ(g_mem.total, before);
}

// Pages mapped from a file read as the file, take writes privately, and come
// back zeroed like any other pages once released and handed out again.
TEST_F(MemoryTest, FileMappedPagesAreZeroedWhenReleasedAndReused) {
    const size_t page = heap_page_size();
    std::FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    std::vector<u8> bytes(2 * page);
    for (size_t i = 0; i < bytes.size(); i++) bytes[i] = static_cast<u8>(i % 251 + 1);
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    std::fflush(f);
    u8* p = static_cast<u8*>(heap_region_alloc(2 * page));
    ASSERT_NE(p, nullptr);
    size_t at = static_cast<size_t>(p - g_heap_base);
    EXPECT_FALSE(heap_region_map_file(at + 1, page, fileno(f), 0)) << "an unaligned offset";
    EXPECT_FALSE(heap_region_map_file(at, page, fileno(f), 1)) << "an unaligned file offset";
    ASSERT_TRUE(heap_region_map_file(at, 2 * page, fileno(f), 0));
    EXPECT_EQ(std::memcmp(p, bytes.data(), bytes.size()), 0);
    p[0] = 0;
    std::fclose(f);
    EXPECT_EQ(p[1], bytes[1]);
    heap_region_free(p, 2 * page);
    // Released ranges are handed out first fit: take blocks until this one
    // comes back.
    std::vector<u8*> taken;
    while (taken.size() < 64 && (taken.empty() || taken.back() != p))
        taken.push_back(static_cast<u8*>(heap_region_alloc(2 * page)));
    ASSERT_EQ(taken.back(), p);
    for (size_t i = 0; i < 2 * page; i++) ASSERT_EQ(p[i], 0) << "byte " << i;
    for (u8* t : taken) heap_region_free(t, 2 * page);
}

}  // namespace
}  // namespace zan
