// The warm ranges of the heap region: freed blocks stay committed and are
// handed out again before fresh pages, and the ones that stay unused go
// back to the system over several settlings.
#include <cstring>
#include <vector>

#include "runtime/core/heap.h"
#include "runtime/core/heap_region_internal.h"

#include "test_support.h"

namespace zan {
namespace {

using HeapRegionTest = test::RuntimeTest;

TEST_F(HeapRegionTest, FreedBlocksComeBackWarmNewestFirst) {
    const size_t page = heap_page_size();
    size_t committed = heap_region_committed();
    // Blocks in use between them keep the freed ones from merging.
    u8* a = static_cast<u8*>(heap_region_alloc(3 * page));
    u8* gap1 = static_cast<u8*>(heap_region_alloc(page));
    u8* b = static_cast<u8*>(heap_region_alloc(3 * page));
    u8* gap2 = static_cast<u8*>(heap_region_alloc(page));
    u8* big = static_cast<u8*>(heap_region_alloc(8 * page));
    u8* gap3 = static_cast<u8*>(heap_region_alloc(page));
    ASSERT_TRUE(a && b && big && gap1 && gap2 && gap3);
    committed += 3 * page;
    std::memset(a, 0x11, 3 * page);
    std::memset(b, 0x22, 3 * page);
    heap_region_free(a, 3 * page);
    heap_region_free(big, 8 * page);
    heap_region_free(b, 3 * page);
    // Nothing went back to the system.
    EXPECT_EQ(heap_region_committed(), committed + 14 * page);
    EXPECT_EQ(g_heap_warm_bytes, 14 * page);
    EXPECT_TRUE(heap_region_has_holes());
    // The block of that size freed last comes first; uncleared when asked.
    u8* c = static_cast<u8*>(heap_region_alloc(3 * page, false));
    EXPECT_EQ(c, b);
    EXPECT_EQ(c[5], 0x22);
    // Cleared otherwise.
    u8* d = static_cast<u8*>(heap_region_alloc(3 * page));
    EXPECT_EQ(d, a);
    for (size_t i = 0; i < 3 * page; i++) ASSERT_EQ(d[i], 0) << "byte " << i;
    // A smaller block is cut from the front of the smallest range that
    // holds it; the rest stays warm.
    u8* e = static_cast<u8*>(heap_region_alloc(2 * page));
    EXPECT_EQ(e, big);
    EXPECT_EQ(g_heap_warm_bytes, 6 * page);
    EXPECT_EQ(heap_region_committed(), committed + 14 * page);
    heap_region_free(c, 3 * page);
    heap_region_free(d, 3 * page);
    heap_region_free(e, 2 * page);
    // Neighbours freed merge into one range, which a larger block can use.
    heap_region_free(gap1, page);
    u8* f = static_cast<u8*>(heap_region_alloc(7 * page));
    EXPECT_EQ(f, a);
    heap_region_free(f, 7 * page);
    heap_region_free(gap2, page);
    heap_region_free(gap3, page);
}

TEST_F(HeapRegionTest, WarmPagesUnusedForSeveralSettlingsGoBack) {
    const size_t page = heap_page_size();
    const size_t size = 64 << 20;  // far beyond the slack kept
    heap_region_settle();
    u8* p = static_cast<u8*>(heap_region_alloc(size));
    ASSERT_NE(p, nullptr);
    std::memset(p, 0x5A, size);
    heap_region_free(p, size);
    // A load that comes back keeps its pages.
    heap_region_settle();
    EXPECT_EQ(g_heap_warm_bytes, size);
    u8* q = static_cast<u8*>(heap_region_alloc(size, false));
    EXPECT_EQ(q, p);
    heap_region_free(q, size);
    // Unused, they go back a part at a time, not at the first settling.
    std::vector<size_t> warm;
    for (int i = 0; i < 40; i++) {
        heap_region_settle();
        warm.push_back(g_heap_warm_bytes);
    }
    EXPECT_EQ(warm[0], size) << "the peak is remembered for a few settlings";
    EXPECT_LT(warm.back(), size / 4);
    size_t steps = 0;
    for (size_t i = 1; i < warm.size(); i++) {
        EXPECT_LE(warm[i], warm[i - 1]);
        steps += warm[i] < warm[i - 1];
    }
    EXPECT_GE(steps, 3u);
    // Pages given back come back cleared.
    heap_region_release_warm();
    EXPECT_EQ(g_heap_warm_bytes, 0u);
    u8* r = static_cast<u8*>(heap_region_alloc(size, false));
    ASSERT_NE(r, nullptr);
    for (size_t i = 0; i < size; i += page) ASSERT_EQ(r[i], 0) << "page " << i / page;
    heap_region_free(r, size);
    heap_region_release_warm();
}

TEST_F(HeapRegionTest, BlocksGrowInPlaceOnlyIntoFreePages) {
    const size_t page = heap_page_size();
    // Two neighbours cut from one warm range.
    u8* x = static_cast<u8*>(heap_region_alloc(10 * page));
    ASSERT_NE(x, nullptr);
    heap_region_free(x, 10 * page);
    u8* a = static_cast<u8*>(heap_region_alloc(2 * page));
    u8* b = static_cast<u8*>(heap_region_alloc(page));
    ASSERT_EQ(a, x);
    ASSERT_EQ(b, x + 2 * page);
    a[0] = 7;
    EXPECT_FALSE(heap_region_grow(a, 2 * page, 3 * page)) << "a block in use follows";
    EXPECT_TRUE(heap_region_grow(a, 2 * page, 2 * page)) << "no growth asked";
    // Once the neighbour is free, its pages (warm) are taken.
    heap_region_free(b, page);
    EXPECT_EQ(g_heap_warm_bytes, 8 * page);
    ASSERT_TRUE(heap_region_grow(a, 2 * page, 10 * page));
    EXPECT_EQ(g_heap_warm_bytes, 0u);
    a[10 * page - 1] = 9;
    EXPECT_EQ(a[0], 7);
    heap_region_free(a, 10 * page);
    heap_region_release_warm();
}

}  // namespace
}  // namespace zan
