// handle! and triple!: the two opaque types, shown and (handles) compared.
#include "runtime/core/externals.h"
#include "scalar_test_support.h"
#include "handle_test_support.h"

namespace zan::test {
namespace {

class HandleTest : public ScalarTest {
protected:
    static ValueCell H(u32 value, u32 kind) {
        ValueCell c;
        return *handle_make_at(&c, value, kind);
    }
};

TEST_F(HandleTest, CellLayout) {
    ValueCell h = H(0x1A, HANDLE_WINDOW);
    EXPECT_EQ(h.header, TYPE_HANDLE);
    EXPECT_EQ(h.data1, 3u);
    EXPECT_EQ(h.data2, 0x1Au);
    EXPECT_EQ(h.data3, 0xFFFFFFFFu);
}

TEST_F(HandleTest, TextForms) {
    struct Case {
        u32 value, kind;
        const char* form;
        const char* all;
    } cases[] = {
        {0, HANDLE_NONE, "00000000h", "#[handle! 00000000h]"},
        {0x1A, HANDLE_WINDOW, "0000001Ah", "#[handle! 0000001Ah window]"},
        {0xFFFFFFFF, HANDLE_RICH_TEXT, "FFFFFFFFh", "#[handle! FFFFFFFFh rich-text]"},
        {7, HANDLE_FD, "00000007h", "#[handle! 00000007h fd]"},
    };
    for (const Case& c : cases) {
        ValueCell h = H(c.value, c.kind);
        EXPECT_EQ(form(h), c.form);
        EXPECT_EQ(mold(h), "handle!");
        EXPECT_EQ(mold(h, false, true), c.all);
    }
    ValueCell h = H(1, HANDLE_FONT);
    ValueCell* held = stack_push(&h);
    ValueCell* out = string_push_new(16);
    EXPECT_EQ(action_form_dispatch(held, out, nullptr, 20), 11);
}

TEST_F(HandleTest, CompareBySlotOnly) {
    EXPECT_TRUE(cmp(H(5, HANDLE_WINDOW), CMP_EQUAL, H(5, HANDLE_FONT)));
    EXPECT_TRUE(cmp(H(-1, 0), CMP_LESSER, H(0, 0)));  // signed order
    EXPECT_FALSE(cmp(H(5, 0), CMP_EQUAL, I(5)));
    // Another type is simply different, also for the orderings.
    EXPECT_EQ(cmp_raw(H(5, 0), CMP_LESSER, I(5)), 1);
    EXPECT_FALSE(cmp(H(5, 0), CMP_LESSER, I(5)));
}

TEST_F(HandleTest, OnlyFormMoldAndCompare) {
    for (u32 a = ACT_MAKE; a <= ACT_COUNT; a++) {
        bool own = a == ACT_FORM || a == ACT_MOLD || a == ACT_COMPARE;
        EXPECT_EQ(have(TYPE_HANDLE, a), own) << a;
        EXPECT_EQ(have(TYPE_TRIPLE, a), a == ACT_FORM || a == ACT_MOLD) << a;
    }
}

TEST_F(HandleTest, HandlesNameSlotsOfTheExternalTable) {
    static int finalised = 0;
    finalised = 0;
    externals_init();
    u32 kind = externals_register_kind(0, [](void*) { finalised++; });
    int resource = 42;
    ValueCell h;
    make_external_handle(&h, &resource, kind, HANDLE_WINDOW);
    EXPECT_EQ(handle_kind(&h), static_cast<u32>(HANDLE_WINDOW));
    EXPECT_EQ(handle_address(&h), &resource);
    externals_remove(static_cast<i32>(handle_get(&h)), true);
    EXPECT_EQ(finalised, 1);
    EXPECT_EQ(handle_address(&h), nullptr);
    ValueCell far = H(0x7FFFFFFF, HANDLE_FD);
    EXPECT_EQ(handle_address(&far), nullptr);
}

TEST_F(HandleTest, TripleShowsItsThreeIntegers) {
    ValueCell t;
    triple_make_at(&t, 1, -2, 2147483647);
    EXPECT_EQ(form(t), "make triple! [1 -2 2147483647]");
    EXPECT_EQ(mold(t), "make triple! [1 -2 2147483647]");
}

}  // namespace
}  // namespace zan::test
