#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/core/collector.h"
#include "runtime/core/externals.h"
#include "runtime/core/layout.h"
#include "test_support.h"

namespace zan {
namespace {

// Raw values built straight on the memory manager, so the collector is
// tested without the datatype layer: a "string" is a byte series, a "block"
// a cell series.
ValueCell make_string(const std::string& text) {
    Node n = alloc_bytes(static_cast<u32>(text.size()));
    SeriesBuffer* b = node_buffer(n);
    std::memcpy(b->head_ptr(), text.data(), text.size());
    b->tail = b->head + static_cast<u32>(text.size());
    return ValueCell{TYPE_STRING, 0, n, 0};
}

ValueCell make_block(u32 capacity) {
    Node n = alloc_cells(capacity);
    return ValueCell{TYPE_BLOCK, 0, n, 0};
}

// The value is kept on the data stack while the block may grow, so that a
// collection during the expansion sees it.
void block_append(const ValueCell& blk, const ValueCell& v) {
    ValueCell* held = stack_push(&v);
    SeriesBuffer* b = node_buffer(blk.data2);
    if (b->tail + 16 > b->end_ref()) b = series_expand(b, 0);
    *b->tail_cells() = *held;
    b->tail += 16;
    stack_pop(1);
}

std::string text_of(const ValueCell& s) {
    SeriesBuffer* b = node_buffer(s.data2);
    return std::string(reinterpret_cast<char*>(b->head_ptr()), b->used_bytes());
}

class CollectorTest : public test::RuntimeTest {
protected:
    void SetUp() override {
        test::RuntimeTest::SetUp();
        externals_init();
        gc_init();
        // These tests size their work for ordinary collections; the stress
        // run of the whole suite is exercised by StressModeCollectsEveryTime.
        g_gc.stress = false;
        set_collect_stress(false);
        g_gc.enabled = true;
    }
    void TearDown() override {
        g_gc.enabled = false;
        set_collect_stress(false);
    }
};

TEST_F(CollectorTest, ReachableValuesSurviveAndGarbageIsReclaimed) {
    // A block of strings held on the data stack, with garbage in between.
    ValueCell* blk = stack_push_cell();
    *blk = make_block(4);
    for (int i = 0; i < 200; i++) {
        make_string(std::string(1000, 'x'));  // garbage
        ValueCell s = make_string("item " + std::to_string(i));
        block_append(g_stack.base[0], s);
    }
    u32 frames_before = 0;
    for (HeapRef r = g_mem.series_head; r; r = hptr<SeriesFrame>(r)->next) frames_before++;
    gc_collect();
    SeriesBuffer* b = node_buffer(g_stack.base[0].data2);
    ASSERT_EQ(b->used_bytes() / 16, 200u);
    for (u32 i = 0; i < 200; i++)
        EXPECT_EQ(text_of(b->head_cells()[i]), "item " + std::to_string(i));
    u64 used = 0;
    for (HeapRef r = g_mem.series_head; r; r = hptr<SeriesFrame>(r)->next) {
        auto* f = hptr<SeriesFrame>(r);
        used += f->heap - f->first_buffer();
    }
    EXPECT_LT(used, 200u * 1000u) << "the garbage strings were not reclaimed";
    EXPECT_GE(g_gc.series_cycles, 1u);
}

TEST_F(CollectorTest, DeepAndCyclicStructuresAreMarkedWithoutRecursionLimits) {
    ValueCell* root = stack_push_cell();
    *root = make_block(1);
    ValueCell cur = *root;
    for (int i = 0; i < 100000; i++) {  // a chain far deeper than any machine stack
        ValueCell next = make_block(1);
        block_append(cur, next);
        cur = next;
    }
    block_append(cur, *root);  // and a cycle back to the top
    gc_collect();
    ValueCell walk = g_stack.base[0];
    int depth = 0;
    while (depth < 100001) {
        SeriesBuffer* b = node_buffer(walk.data2);
        ASSERT_EQ(b->used_bytes(), 16u) << "at depth " << depth;
        walk = b->head_cells()[0];
        depth++;
    }
    EXPECT_EQ(walk.data2, g_stack.base[0].data2);
}

TEST_F(CollectorTest, AllocationLoopRunsInBoundedMemory) {
    ValueCell* keep = stack_push_cell();
    *keep = make_string("kept");
    u64 peak = 0;
    for (int i = 0; i < 20000; i++) {
        make_string(std::string(2000, 'y'));  // 40 MB in all, none kept
        if (g_mem.total > peak) peak = g_mem.total;
    }
    EXPECT_LT(peak, 16u << 20);
    EXPECT_GT(g_gc.series_cycles, 0u);
    EXPECT_EQ(text_of(g_stack.base[0]), "kept");
}

// A collection that frees thousands of series hands every node back exactly
// once, and each frame's free list starts with them from the highest handle
// down, so that the next allocations reuse the lowest last.
TEST_F(CollectorTest, ManyFreedNodesReturnToTheirFramesInOrder) {
    ValueCell* blk = stack_push_cell();
    *blk = make_block(3000);
    std::vector<Node> garbage;
    // A first round of garbage leaves free lists that hand out nodes from the
    // highest down, so the series below lie in the opposite order to their
    // nodes.
    for (int i = 0; i < 3000; i++) make_string("warm-up");
    gc_collect();
    g_gc.enabled = false;  // all of it waits for the one collection below
    for (int i = 0; i < 3000; i++) {
        garbage.push_back(make_string("g" + std::to_string(i)).data2);
        block_append(g_stack.base[0], make_string("k" + std::to_string(i)));
    }
    g_gc.enabled = true;
    std::sort(garbage.begin(), garbage.end());
    gc_collect();
    std::vector<Node> seen;
    for (HeapRef r = g_mem.node_head; r; r = hptr<NodeFrame>(r)->next) {
        auto* f = hptr<NodeFrame>(r);
        Node prev = 0;
        for (Node n = f->free_head; n; n = node_slot(n)) {
            if (!std::binary_search(garbage.begin(), garbage.end(), n)) break;
            if (prev) {
                EXPECT_LT(n, prev);
            }
            prev = n;
            seen.push_back(n);
        }
    }
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, garbage);
    SeriesBuffer* b = node_buffer(g_stack.base[0].data2);
    ASSERT_EQ(b->used_bytes() / 16, 3000u);
    for (u32 i = 0; i < 3000; i += 499) EXPECT_EQ(text_of(b->head_cells()[i]), "k" + std::to_string(i));
}

// A structure that only grows: each collection must keep every piece of it,
// the collections must not come at every full frame (which would make the
// build cost grow with the square of its size), and the heap must stay
// within a small multiple of what is live.
TEST_F(CollectorTest, GrowingStructureStaysWholeWithFewCollectionsAndBoundedHeap) {
    const int pieces = 200000;  // 64-byte strings and their cells: about 20 MB live
    stack_push_cell();
    g_stack.base[0] = make_block(16);
    u32 cycles_before = g_gc.series_cycles;
    u64 peak = 0;
    for (int i = 0; i < pieces; i++) {
        if (i % 8 == 0) make_string(std::string(100, 'g'));  // a little garbage
        std::string text = "piece " + std::to_string(i);
        text.resize(64, '.');
        block_append(g_stack.base[0], make_string(text));
        if (g_mem.total > peak) peak = g_mem.total;
    }
    u32 collections = g_gc.series_cycles - cycles_before;
    EXPECT_GT(collections, 0u);
    EXPECT_LT(collections, 10u);  // one per full frame would be about 12
    gc_collect();
    u64 live = g_mem.survived;
    EXPECT_LT(peak, 3 * live + (8u << 20));
    SeriesBuffer* b = node_buffer(g_stack.base[0].data2);
    ASSERT_EQ(b->used_bytes(), 16u * pieces);
    for (int i = 0; i < pieces; i += 997) {
        std::string text = "piece " + std::to_string(i);
        text.resize(64, '.');
        EXPECT_EQ(text_of(node_buffer(g_stack.base[0].data2)->head_cells()[i]), text);
    }
}

TEST_F(CollectorTest, DisabledCollectorNeverCollects) {
    g_gc.enabled = false;
    for (int i = 0; i < 3000; i++) make_string(std::string(2000, 'z'));
    EXPECT_EQ(g_gc.series_cycles, 0u);
}

TEST_F(CollectorTest, RootGuardKeepsCppLocalsCurrent) {
    ValueCell local = make_string("guarded");
    GcRoot guard(&local);
    for (int i = 0; i < 5; i++) {
        make_string(std::string(5000, 'g'));
        gc_collect();
    }
    EXPECT_EQ(text_of(local), "guarded");
}

TEST_F(CollectorTest, BigSeriesAreSweptWhenUnreachable) {
    ValueCell* keep = stack_push_cell();
    Node kept = alloc_bytes(3u << 20);
    *keep = ValueCell{TYPE_BINARY, 0, kept, 0};
    alloc_bytes(3u << 20);  // unreachable
    gc_collect();
    u32 bigs = 0;
    for (HeapRef r = g_mem.big_head; r; r = hptr<BigFrame>(r)->next) bigs++;
    EXPECT_EQ(bigs, 1u);
    EXPECT_TRUE(node_buffer(g_stack.base[0].data2)->flags & SERIES_BIG);
}

TEST_F(CollectorTest, StableSparseNodeFrameIsEvacuatedAndReferencesFollow) {
    // Fill three node frames, then free most nodes of the first one so that
    // it holds fewer than 5000 live nodes while more than 10000 are free.
    ValueCell* blk = stack_push_cell();
    *blk = make_block(4);
    std::vector<ValueCell> strings;
    for (u32 i = 0; i < 3 * NODE_FRAME_CAPACITY - 100; i++) {
        ValueCell s = make_string("s" + std::to_string(i));
        if (i % 10 == 0) block_append(g_stack.base[0], s);
    }
    g_gc.node_compaction_enabled = true;
    auto frames = [] {
        u32 n = 0;
        for (HeapRef r = g_mem.node_head; r; r = hptr<NodeFrame>(r)->next) n++;
        return n;
    };
    gc_collect();
    u32 before = frames();
    for (int i = 0; i < 8; i++) gc_collect();
    // Stable, sparse frames were emptied into the active one and released.
    EXPECT_LT(frames(), before);
    EXPECT_GT(g_gc.nodes_cycles, 0u);
    SeriesBuffer* b = node_buffer(g_stack.base[0].data2);
    u32 count = b->used_bytes() / 16;
    for (u32 k = 0; k < count; k++)
        EXPECT_EQ(text_of(node_buffer(g_stack.base[0].data2)->head_cells()[k]),
                  "s" + std::to_string(k * 10));
}

TEST_F(CollectorTest, StressModeCollectsEveryTimeAndKeepsValues) {
    set_collect_stress(true);
    ValueCell* blk = stack_push_cell();
    *blk = make_block(2);
    for (int i = 0; i < 300; i++) {
        make_string("garbage");
        block_append(g_stack.base[0], make_string(std::to_string(i)));
    }
    EXPECT_GE(g_gc.series_cycles, 600u);
    SeriesBuffer* b = node_buffer(g_stack.base[0].data2);
    ASSERT_EQ(b->used_bytes() / 16, 300u);
    for (u32 i = 0; i < 300; i++) EXPECT_EQ(text_of(b->head_cells()[i]), std::to_string(i));
}

int g_finalised = 0;
void count_finaliser(void*) { g_finalised++; }

TEST_F(CollectorTest, UnreachableHandlesAreFinalisedExactlyOnce) {
    g_finalised = 0;
    u32 kind = externals_register_kind(1, count_finaliser);
    int a = 0, b = 0;
    i32 kept = externals_store(&a, kind);
    externals_store(&b, kind);
    ValueCell* h = stack_push_cell();
    *h = ValueCell{TYPE_HANDLE, 0, 0, static_cast<u32>(kept)};
    gc_collect();
    EXPECT_EQ(g_finalised, 1);
    gc_collect();
    EXPECT_EQ(g_finalised, 1);
    EXPECT_EQ(externals_slot(kept)->address, &a);
    g_stack.top = g_stack.base;  // drop the handle
    gc_collect();
    EXPECT_EQ(g_finalised, 2);
}

TEST_F(CollectorTest, EmptySeriesFrameThatIsNotLastIsReleased) {
    // Fill the first frame with garbage, keep something in a later one.
    for (int i = 0; i < 600; i++) make_string(std::string(2000, 'q'));
    g_gc.enabled = false;
    series_frame_alloc();
    g_mem.series_active = g_mem.series_tail;
    ValueCell* keep = stack_push_cell();
    *keep = make_string("late");
    g_gc.enabled = true;
    u32 before = 0, after = 0;
    for (HeapRef r = g_mem.series_head; r; r = hptr<SeriesFrame>(r)->next) before++;
    gc_collect();
    for (HeapRef r = g_mem.series_head; r; r = hptr<SeriesFrame>(r)->next) after++;
    EXPECT_LT(after, before);
    EXPECT_EQ(text_of(g_stack.base[0]), "late");
}


// Every series reference a type declares is kept alive by a collection:
// a cell of each type holding a fresh buffer in that word, rooted on the
// data stack, still reaches it afterwards.
TEST_F(CollectorTest, EveryDeclaredSeriesReferenceIsMarked) {
    int checked = 0;
    for (u32 t = 1; t <= TYPE_LAST; t++) {
        for (u32 w = 1; w <= 3; w++) {
            Holds kind = type_decl(t).word[w - 1];
            bool cells = kind == Holds::CELLS || kind == Holds::CTX_VALUES ||
                         kind == Holds::EVENT_CELLS;
            if (!cells && kind != Holds::UNITS && kind != Holds::IMAGE_UNITS) continue;
            SCOPED_TRACE(std::string(type_name_of(t)) + " data" + std::to_string(w));
            ValueCell* held = stack_push_cell();
            cell_init(held, t);
            if (kind == Holds::EVENT_CELLS) held->header |= EVENT_HAS_RECORD;
            Node n = cells ? alloc_cells(2) : alloc_bytes(8);
            cell_word(held, w) = n;
            for (int i = 0; i < 50; i++) make_string(std::string(1000, 'g'));  // garbage
            gc_collect();
            Node after = cell_word(&g_stack.top[-1], w);
            ASSERT_NE(node_slot(after), 0u);
            EXPECT_EQ(node_buffer(after)->node, after);
            EXPECT_TRUE(node_buffer(after)->flags & SERIES_IN_USE);
            stack_pop(1);
            checked++;
        }
    }
    EXPECT_GE(checked, 30);
}

// A word whose symbol is `self` stands for its object's block: every cell
// of the block is marked, not only the two a context's first cells take.
// The third string is reached only that way.
TEST_F(CollectorTest, ASelfWordKeepsEveryCellOfItsBlock) {
    u32 saved = g_gc_self_symbol;
    if (!g_gc_self_symbol) g_gc_self_symbol = 7;
    ValueCell* blk = stack_push_cell();
    *blk = make_block(4);
    for (int i = 0; i < 3; i++)
        block_append(g_stack.base[0], make_string("kept " + std::to_string(i)));
    // Two self words and the block itself reach the same buffer; the block is
    // dropped from the stack so that only the words hold it.
    ValueCell word{TYPE_WORD, g_stack.base[0].data2, g_gc_self_symbol, 0};
    stack_pop(1);
    stack_push(&word);
    stack_push(&word);
    for (int i = 0; i < 50; i++) make_string(std::string(1000, 'g'));  // garbage
    gc_collect();
    SeriesBuffer* b = node_buffer(g_stack.base[0].data1);
    ASSERT_EQ(b->used_bytes() / 16, 3u);
    for (u32 i = 0; i < 3; i++)
        EXPECT_EQ(text_of(b->head_cells()[i]), "kept " + std::to_string(i));
    stack_pop(2);
    g_gc_self_symbol = saved;
}

using CollectorDeathTest = CollectorTest;

// A value that refers to a freed node stops the process, in every build,
// naming the type and the data word that held the reference.
TEST_F(CollectorDeathTest, AReferenceToAFreedNodeIsReportedWithItsTypeAndWord) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    struct Case {
        u32 type;
        u32 word;
        bool cells;
        const char* message;
    };
    const Case cases[] = {
        {TYPE_BLOCK, 2, true, "freed node \\([0-9A-F]+\\) in data2 of a block!"},
        {TYPE_STRING, 3, false, "freed node \\([0-9A-F]+\\) in data3 of a string!"},
        {TYPE_MAP, 2, true, "in data2 of a map!"},
        {TYPE_NATIVE, 3, true, "in data3 of a native!"},
        {TYPE_WORD, 1, true, "in data1 of a word!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(type_name_of(c.type));
        EXPECT_DEATH(
            {
                Node n = c.cells ? alloc_cells(1) : alloc_bytes(4);
                gc_collect();  // nothing refers to n: its node is freed
                ValueCell* v = stack_push_cell();
                cell_init(v, c.type);
                cell_word(v, c.word) = n;
                gc_collect();
            },
            c.message);
    }
}

}  // namespace
}  // namespace zan
