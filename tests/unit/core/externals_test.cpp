#include "runtime/core/externals.h"
#include "test_support.h"

namespace zan {
namespace {

int g_calls = 0;
void* g_last = nullptr;
void fin(void* p) {
    g_calls++;
    g_last = p;
}

TEST(ExternalsTest, ThousandthStoreDoublesBeforeReturningLastSlot) {
    externals_init();
    for (int i = 0; i < 999; i++) externals_store(nullptr, 1);
    EXPECT_EQ(externals_capacity(), 1000u);
    i32 s = externals_store(nullptr, 1);
    EXPECT_EQ(s, 999);
    EXPECT_EQ(externals_capacity(), 2000u);
    EXPECT_EQ(externals_store(nullptr, 1), 1000);  // the new half comes next
}

TEST(ExternalsTest, ReplaceAndRemoveFinaliseOnlyWhatChanges) {
    externals_init();
    g_calls = 0;
    u32 kind = externals_register_kind(7, fin);
    int a, b;
    i32 s = externals_store(&a, kind);
    externals_replace(s, &a);
    EXPECT_EQ(g_calls, 0);
    externals_replace(s, &b);
    EXPECT_EQ(g_calls, 1);
    EXPECT_EQ(g_last, &a);
    externals_remove(s, true);
    EXPECT_EQ(g_calls, 2);
    externals_remove(s, true);  // a second removal finalises nothing
    EXPECT_EQ(g_calls, 2);
}

TEST(ExternalsTest, KindRegistryRefusesOverflowWithAnError) {
    externals_init();
    for (int i = 0; i < 20; i++) externals_register_kind(i, nullptr);
    EXPECT_THROW(externals_register_kind(99, nullptr), ThrowSignal);
    EXPECT_EQ(g_raw_error, Err::internal_limit_hit);
}

}  // namespace
}  // namespace zan
