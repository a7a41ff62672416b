// The datatype operations under a collector that runs before every
// allocation: values must stay reachable and buffers be re-read through
// their nodes.
#include "dt_test_support.h"

namespace zan::test {
namespace {

class GcStressTest : public DtTest {
protected:
    void SetUp() override {
        DtTest::SetUp();
        g_gc.enabled = true;
        set_collect_stress(true);
    }
    void TearDown() override {
        set_collect_stress(false);
        DtTest::TearDown();
    }
};

TEST_F(GcStressTest, BuildingMoldingAndEditingSurviveCollections) {
    u32 before = g_gc.series_cycles;
    ValueCell* b = blk({});
    for (int i = 0; i < 30; i++) {
        ValueCell* s = str("item-");
        string_append_char(s, static_cast<u32>('a' + i % 26));
        ValueCell v = *s;
        call({*b, v}, [] { action_append(-1, -1, -1); });
        stack_pop(1);
    }
    ValueCell w = *word_load("fresh-word-under-stress");
    call({*b, w}, [] { action_insert(-1, -1, -1); });
    std::string m = mold(*b);
    EXPECT_EQ(m.substr(0, 33), "[fresh-word-under-stress \"item-a\"");
    EXPECT_EQ(block_length(b), 31);
    ValueCell deep = call({*blk({*b, *str("x")})}, [] { action_copy(-1, 9, -1); });
    stack_push(&deep);
    EXPECT_EQ(mold(deep).size(), m.size() + 6);
    ValueCell* t = str("abc");
    for (int i = 0; i < 20; i++) call({*t, *str("\u20AC-")}, [] { action_append(-1, -1, -1); });
    EXPECT_EQ(string_length(t), 43);
    ValueCell two = integer(2);
    ValueCell taken = call({*t, two}, [] { action_take(1, -1, -1); });
    EXPECT_EQ(text(&taken), "ab");
    ValueCell* ctx_spec = blk({word("p"), word("q"), word("r")});
    Node ctx = context_make_from_block(ctx_spec, false, false, CTX_OBJECT);
    ValueCell obj;
    cell_init(&obj, TYPE_OBJECT, ctx);
    stack_push(&obj);
    EXPECT_EQ(context_word_count(context_cell(ctx)), 3u);
    EXPECT_GT(g_gc.series_cycles, before);
}

}  // namespace
}  // namespace zan::test
