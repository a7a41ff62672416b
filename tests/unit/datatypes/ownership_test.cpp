// Series ownership: binding, release, and the announcements of changes to
// an owner's on-deep-change*.
#include "fn_test_support.h"
#include "runtime/core/hashtable.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/typesystem/ownership_internal.h"

namespace zan::test {
namespace {

class OwnershipTest : public FnTest {
protected:
    static bool owned(const ValueCell& v) { return (series_of(&v)->flags & SERIES_OWNED) != 0; }
    // The field word recorded in the table for the series, molded ("" when none).
    static std::string owner_word(const ValueCell& v) {
        if (!g_ownership_table || !v.data2) return "";
        ValueCell* e = hashtable_get_int(g_ownership_table, v.data2);
        return e ? mold(e[OWNERSHIP_ENTRY_WORD]) : "";
    }
    static u32 table_count() { return hashtable_header(g_ownership_table)->count; }
    // An object with a deep handler (the handler calls are recorded).
    static ValueCell* watched(const std::string& fields) {
        return make_object("[" + fields + " on-deep-change*: func [o w t a n i p] []]");
    }
};

TEST_F(OwnershipTest, ADeepHandlerMakesTheObjectOwnItsSeries) {
    ValueCell* o = watched("s: \"text\" b: [1 [2] \"in\"] n: 3");
    EXPECT_EQ(mold(reflect(*o, "owner")), "true");
    ValueCell s = field(o, "s"), b = field(o, "b");
    EXPECT_TRUE(owned(s));
    EXPECT_TRUE(owned(b));
    EXPECT_TRUE(owned(*block_cell_at(&b, 1)));
    EXPECT_TRUE(owned(*block_cell_at(&b, 2)));
    EXPECT_EQ(owner_word(s), "s");
    EXPECT_EQ(owner_word(*block_cell_at(&b, 1)), "b");
    ValueCell* owner = ownership_owner_of(b.data2);
    ASSERT_NE(owner, nullptr);
    EXPECT_EQ(owner->data1, o->data1);
    // Series of an object without a deep handler are nobody's.
    ValueCell* plain = make_object("[s: \"x\"]");
    EXPECT_FALSE(owned(field(plain, "s")));
    EXPECT_EQ(ownership_owner_of(field(plain, "s").data2), nullptr);
}

TEST_F(OwnershipTest, ASeriesIsRecordedOnceWithTheFirstWord) {
    ValueCell* shared = load1("[1 2]");
    ValueCell* o = make_object("[first: none second: none]");
    set_field(o, "first", *shared);
    set_field(o, "second", *shared);
    ValueCell* word = stack_push_cell();
    *word = bound_word_of(o, "first");
    ownership_bind_object(o, o, word);
    EXPECT_EQ(owner_word(*shared), "first");
    EXPECT_EQ(table_count(), 1u);
}

TEST_F(OwnershipTest, SelfContainingBlocksAndObjectsBindWithoutLooping) {
    ValueCell* b = load1("[1]");
    block_append_cell(b, b);
    ValueCell* o = make_object("[b: none me: none]");
    set_field(o, "b", *b);
    set_field(o, "me", *o);
    ValueCell* w = stack_push_cell();
    *w = word("b");
    ownership_bind_object(o, o, w);
    EXPECT_TRUE(owned(*b));
    EXPECT_EQ(table_count(), 1u);
}

TEST_F(OwnershipTest, UnownedSeriesAnnounceNothing) {
    ValueCell* b = load1("[1 2]");
    ValueCell* act = stack_push(g_words.n.append);
    calls().clear();
    EXPECT_FALSE(ownership_check(b, act, nullptr, 0, 1));
    EXPECT_TRUE(calls().empty());
    ValueCell one = integer(1);
    action_append_dispatch(b, &one, -1, false, 1);
    EXPECT_TRUE(calls().empty());
}

TEST_F(OwnershipTest, ChangesOfOwnedSeriesReachTheDeepHandler) {
    ValueCell* o = watched("b: [1 2]");
    ValueCell b = field(o, "b");
    ValueCell* held = stack_push(&b);
    calls().clear();
    ValueCell* act = stack_push(g_words.n.poke);
    ValueCell v = integer(9);
    EXPECT_TRUE(ownership_check(held, act, &v, 1, 1));
    ASSERT_EQ(calls().size(), 1u);
    const HandlerCall& c = calls()[0];
    EXPECT_EQ(c.name, "on-deep-change*");
    EXPECT_EQ(c.callback, CALLBACK_ON_DEEP_CHANGE);
    ASSERT_EQ(c.args.size(), 7u);
    EXPECT_EQ(c.args[0].substr(0, 14), "make object! [");
    EXPECT_EQ(c.args[1], "b");
    EXPECT_EQ(c.args[2], "[1 2]");
    EXPECT_EQ(c.args[3], "poke");
    EXPECT_EQ(c.args[4], "9");
    EXPECT_EQ(c.args[5], "1");
    EXPECT_EQ(c.args[6], "1");
    // A real modification announces before and after.
    calls().clear();
    ValueCell three = integer(3);
    action_append_dispatch(held, &three, -1, false, 1);
    ASSERT_EQ(calls().size(), 2u);
    EXPECT_EQ(calls()[0].args[3], "append");
    EXPECT_EQ(calls()[1].args[3], "appended");
    EXPECT_EQ(mold(field(o, "b")), "[1 2 3]");
}

TEST_F(OwnershipTest, AnOwnerWithoutDeepHandlerIsReportedButNotCalled) {
    ValueCell* o = make_object("[b: [1] on-change*: func [w o n] []]");
    ValueCell* b = stack_push_cell();
    *b = field(o, "b");
    ValueCell* w = stack_push_cell();
    *w = bound_word_of(o, "b");
    ownership_bind_object(b, o, w);
    ValueCell* act = stack_push(g_words.n.clear);
    calls().clear();
    EXPECT_TRUE(ownership_check(b, act, nullptr, 0, 1));
    EXPECT_TRUE(calls().empty());
    // An owner with no event record at all reports none.
    ValueCell* p = make_object("[c: [1]]");
    ValueCell* c = stack_push_cell();
    *c = field(p, "c");
    ValueCell* cw = stack_push_cell();
    *cw = bound_word_of(p, "c");
    ownership_bind_object(c, p, cw);
    EXPECT_TRUE(owned(*c));
    EXPECT_FALSE(ownership_check(c, act, nullptr, 0, 1));
}

TEST_F(OwnershipTest, ModifyOwnedBindsAndReleases) {
    ValueCell* o = watched("x: 1");
    ValueCell* s = str("free");
    ValueCell* spec = blk({*o, word("x")});
    ValueCell* owned_word = stack_push_cell();
    *owned_word = word("owned");
    action_modify_dispatch(s, owned_word, spec, false);
    EXPECT_TRUE(owned(*s));
    EXPECT_EQ(owner_word(*s), "x");
    EXPECT_EQ(reflect(*s, "owned").data1, o->data1);
    ValueCell* none = stack_push(&g_none_cell);
    action_modify_dispatch(s, owned_word, none, false);
    EXPECT_FALSE(owned(*s));
    EXPECT_EQ(ownership_owner_of(s->data2), nullptr);
    EXPECT_EQ(reflect(*s, "owned").type(), TYPE_NONE);

    // Releasing an object releases what its fields hold.
    ValueCell* w = watched("b: [[1]]");
    ValueCell b = field(w, "b");
    EXPECT_TRUE(owned(*block_cell_at(&b, 0)));
    ValueCell* wh = stack_push(w);
    ValueCell* p = make_object("[holder: none]");
    set_field(p, "holder", *wh);
    ValueCell holder = field(p, "holder");
    context_cell(holder.data1)->header &= ~CONTEXT_IS_OWNER;
    ownership_release(&holder);
    EXPECT_FALSE(owned(b));
    EXPECT_FALSE(owned(*block_cell_at(&b, 0)));
}

TEST_F(OwnershipTest, ModifyOwnerOnAnObject) {
    ValueCell* o = make_object("[s: \"x\"]");
    ValueCell* owner_word = stack_push_cell();
    *owner_word = word("owner");
    object_modify(o, owner_word, const_cast<ValueCell*>(&g_true_cell), false);
    EXPECT_EQ(mold(reflect(*o, "owner")), "true");
    EXPECT_TRUE(owned(field(o, "s")));
}

TEST_F(OwnershipTest, AnnouncementsUnderCollectorStress) {
    g_gc.enabled = true;
    set_collect_stress(true);
    ValueCell* o = watched("b: [1 [2]] s: \"t\"");
    ValueCell* b = stack_push_cell();
    *b = field(o, "b");
    calls().clear();
    ValueCell v = integer(3);
    action_append_dispatch(b, &v, -1, false, 1);
    ASSERT_EQ(calls().size(), 2u);
    EXPECT_EQ(calls()[1].args[2], "[1 [2] 3]");
    EXPECT_EQ(mold(field(o, "b")), "[1 [2] 3]");
    EXPECT_EQ(owner_word(field(o, "s")), "s");
}

TEST_F(OwnershipTest, TheTableSurvivesACollection) {
    ValueCell* o = watched("b: [1 2]");
    ValueCell b = field(o, "b");
    g_gc.enabled = true;
    gc_collect();
    ValueCell* owner = ownership_owner_of(field(o, "b").data2);
    ASSERT_NE(owner, nullptr);
    EXPECT_EQ(owner->data1, o->data1);
    EXPECT_EQ(field(o, "b").data2, b.data2);
    EXPECT_EQ(mold(field(o, "b")), "[1 2]");
}

// ---- the table is weak --------------------------------------------------------------------------

TEST_F(OwnershipTest, DroppedOwnersAndSeriesLeaveTheTable) {
    ValueCell *kept, *orphan;
    {
        GcHold hold;  // (stress mode would purge them as they are dropped)
        ValueCell* mark = g_stack.top;
        for (int i = 0; i < 40; i++) watched("s: \"dropped\" b: [1 \"in\"]");
        g_stack.top = mark;
        kept = watched("s: \"kept\"");
        // A series that outlives its owner stops being owned.
        ValueCell* orphan_owner = watched("t: \"orphan\"");
        orphan = stack_push_cell();
        *orphan = field(orphan_owner, "t");
        *orphan_owner = g_none_cell;
        EXPECT_EQ(table_count(), 40u * 3 + 2);
    }
    g_gc.enabled = true;
    gc_collect();
    EXPECT_EQ(table_count(), 1u);
    EXPECT_EQ(owner_word(field(kept, "s")), "s");
    EXPECT_FALSE(owned(*orphan));
    EXPECT_EQ(ownership_owner_of(orphan->data2), nullptr);
    // It can be owned again, by a new owner.
    ValueCell* again = watched("u: none");
    set_field(again, "u", *orphan);
    ValueCell* w = stack_push_cell();
    *w = bound_word_of(again, "u");
    ownership_bind_object(orphan, again, w);
    EXPECT_TRUE(owned(*orphan));
    EXPECT_EQ(ownership_owner_of(orphan->data2)->data1, again->data1);
}

// An image's pixels are shared by every copy of its cell: a change made
// through any copy reaches the owner, and the entry (keyed by the pixel
// slot, not a node) lives exactly as long as the pixels and the owner.
TEST_F(OwnershipTest, AnOwnedImageIsKnownByItsPixelsWhateverCellChangesIt) {
    g_gc.enabled = true;
    ValueCell* mark = g_stack.top;
    // Images held first, so that the owned one's slot is not the first.
    for (int i = 0; i < 20; i++) image_push_new(1, 1, 0xFF000000u);
    ValueCell* o = watched("img: none");
    set_field(o, "img", *image_push_new(2, 1, 0xFFFFFFFFu));
    ValueCell* w = stack_push_cell();
    *w = bound_word_of(o, "img");
    ValueCell* field_cell = stack_push_cell();
    *field_cell = field(o, "img");
    ownership_bind_object(field_cell, o, w);
    ValueCell* copy = stack_push_cell();
    *copy = field(o, "img");
    EXPECT_NE(image_slot(copy), 0u);
    ValueCell* red = stack_push_cell();
    tuple_make_rgba(red, 255, 0, 0, -1);
    ValueCell first = integer(1), second = integer(2);
    calls().clear();
    action_poke_dispatch(copy, 2, red, &second);
    ASSERT_EQ(calls().size(), 1u);
    EXPECT_EQ(calls()[0].args[1], "img");
    EXPECT_EQ(calls()[0].args[3], "poke");
    EXPECT_EQ(calls()[0].args[5], "1");
    EXPECT_EQ(table_count(), 1u);

    // Kept across collections while the pixels and the owner are reached.
    gc_collect();
    gc_collect();
    EXPECT_EQ(table_count(), 1u);
    calls().clear();
    action_poke_dispatch(copy, 1, red, &first);
    EXPECT_EQ(calls().size(), 1u);

    // Released through one copy, no copy reports any more.
    ValueCell* other = stack_push(copy);
    ownership_release(other);
    calls().clear();
    action_poke_dispatch(copy, 1, red, &first);
    EXPECT_TRUE(calls().empty());

    // Owned again, then dropped with its owner: the entry goes.
    ownership_bind_object(copy, o, w);
    EXPECT_EQ(table_count(), 1u);
    g_stack.top = mark;
    gc_collect();
    EXPECT_EQ(table_count(), 0u);
}

TEST_F(OwnershipTest, ReachableOwnersKeepNotifyingAcrossCompaction) {
    // Owners made among many short-lived strings spread over several node
    // frames, so that collections evacuate the frames that hold them.
    g_gc.enabled = true;
    bool stress = g_gc.stress;
    set_collect_stress(false);  // the churn alone would take minutes collected each time
    g_gc.node_compaction_enabled = true;
    ValueCell* holders = blk({});
    const u32 total = 3 * NODE_FRAME_CAPACITY;
    for (u32 i = 0; i < total; i++) {
        ValueCell* mark = g_stack.top;
        if (i % 1000 == 0) {
            ValueCell* o = watched("s: \"o" + std::to_string(i / 1000) + "\" b: [[1]]");
            block_append_cell(holders, o);
        } else {
            str("garbage");
        }
        g_stack.top = mark;
    }
    u32 before = g_gc.nodes_cycles;
    set_collect_stress(stress);
    for (int i = 0; i < 9; i++) gc_collect();
    EXPECT_GT(g_gc.nodes_cycles, before) << "no node frame was evacuated";
    g_gc.node_compaction_enabled = false;
    const u32 owners = total / 1000;
    EXPECT_EQ(table_count(), owners * 3);
    for (u32 k = 0; k < owners; k++) {
        ValueCell* o = stack_push(block_cell_at(holders, static_cast<i32>(k)));
        ValueCell* s = stack_push_cell();
        *s = field(o, "s");
        EXPECT_EQ(owner_word(*s), "s") << k;
        calls().clear();
        ValueCell x = chr('!');
        action_append_dispatch(s, &x, -1, false, 1);
        ASSERT_EQ(calls().size(), 2u) << k;
        EXPECT_EQ(calls()[1].args[2], "\"o" + std::to_string(k) + "!\"");
        ValueCell b = field(o, "b");
        ValueCell* inner = stack_push(block_cell_at(&b, 0));
        calls().clear();
        ValueCell two = integer(2);
        action_append_dispatch(inner, &two, -1, false, 1);
        ASSERT_EQ(calls().size(), 2u) << k;
        EXPECT_EQ(calls()[1].args[1], "b");
        stack_pop(3);
    }
}

}  // namespace
}  // namespace zan::test
