// Memory statistics over the memory manager's frames.
#include "fn_test_support.h"
#include "runtime/typesystem/memory_stats.h"

namespace zan::test {
namespace {

class MemoryStatsTest : public FnTest {};

TEST_F(MemoryStatsTest, LevelOneCountsBytesInUse) {
    g_gc.enabled = true;
    double before = memory_stats(nullptr, 1);
    EXPECT_TRUE(g_gc.enabled);  // restored after the walk
    EXPECT_GT(before, 0.0);
    ValueCell* s = block_push_new(4096);  // 64 KiB of cells
    (void)s;
    double after = memory_stats(nullptr, 1);
    EXPECT_GE(after - before, 4096.0 * 16);
    // A big series (2 MB or more) is counted with its data size.
    Node big = alloc_bytes(3u << 20);
    ValueCell* keep = stack_push_cell();
    cell_init(keep, TYPE_BINARY, 0, big);
    EXPECT_GE(memory_stats(nullptr, 1) - after, double(3u << 20));
}

TEST_F(MemoryStatsTest, LevelTwoDescribesEveryFrame) {
    Node big = alloc_bytes(3u << 20);
    ValueCell* keep = stack_push_cell();
    cell_init(keep, TYPE_BINARY, 0, big);
    ValueCell* out = block_push_new(8);
    EXPECT_EQ(memory_stats(out, 2), 0.0);
    ASSERT_EQ(block_length(out), 5);
    ValueCell nodes = *block_cell_at(out, 0);
    ValueCell series = *block_cell_at(out, 1);
    ValueCell bigs = *block_cell_at(out, 2);
    ASSERT_GT(block_length(&nodes), 0);
    for (i32 i = 0; i < block_length(&nodes); i++) {
        ValueCell e = *block_cell_at(&nodes, static_cast<u32>(i));
        EXPECT_TRUE(e.new_line());
        ASSERT_EQ(block_length(&e), 3);
        i32 free_n = int_of(*block_cell_at(&e, 0)), used = int_of(*block_cell_at(&e, 1)),
            cap = int_of(*block_cell_at(&e, 2));
        EXPECT_EQ(free_n + used, cap);
        EXPECT_GT(used, 0);
    }
    ASSERT_GT(block_length(&series), 0);
    for (i32 i = 0; i < block_length(&series); i++) {
        ValueCell e = *block_cell_at(&series, static_cast<u32>(i));
        EXPECT_TRUE(e.new_line());
        EXPECT_EQ(int_of(*block_cell_at(&e, 0)) + int_of(*block_cell_at(&e, 1)),
                  int_of(*block_cell_at(&e, 2)));
    }
    bool found = false;
    for (i32 i = 0; i < block_length(&bigs); i++) {
        ValueCell e = *block_cell_at(&bigs, static_cast<u32>(i));
        EXPECT_TRUE(e.new_line());
        if (int_of(e) >= (3 << 20)) found = true;
    }
    EXPECT_TRUE(found);
    ValueCell total = *block_cell_at(out, 3), heap = *block_cell_at(out, 4);
    ASSERT_EQ(total.type(), TYPE_INTEGER);
    ASSERT_EQ(heap.type(), TYPE_INTEGER);
    EXPECT_GT(heap.data2, 0u);  // the two stacks are fixed buffers
    EXPECT_GT(int_of(total), int_of(heap) + (3 << 20));
}

TEST_F(MemoryStatsTest, TotalsBeyondTheIntegerRangeAreFloats) {
    ValueCell v;
    memory_stats_total_cell(2147483647u, &v);
    EXPECT_EQ(v.type(), TYPE_INTEGER);
    EXPECT_EQ(int_of(v), 2147483647);
    memory_stats_total_cell(2147483648u, &v);
    EXPECT_EQ(v.type(), TYPE_FLOAT);
    EXPECT_EQ(v.get_float(), 2147483648.0);
}

}  // namespace
}  // namespace zan::test
