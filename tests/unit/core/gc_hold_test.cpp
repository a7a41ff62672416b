// GcHold: the collector stays off for a scope and gets its earlier state
// back however the scope is left.
#include <gtest/gtest.h>

#include <stdexcept>

#include "runtime/core/collector.h"

namespace zan {
namespace {

class GcHoldTest : public ::testing::Test {
protected:
    void SetUp() override { saved_ = g_gc.enabled; }
    void TearDown() override { g_gc.enabled = saved_; }
    bool saved_ = false;
};

TEST_F(GcHoldTest, RestoresTheEarlierStateAlsoWhenAnExceptionLeaves) {
    for (bool before : {true, false}) {
        g_gc.enabled = before;
        {
            GcHold hold;
            EXPECT_FALSE(g_gc.enabled);
            {
                GcHold nested;
                EXPECT_FALSE(g_gc.enabled);
            }
            EXPECT_FALSE(g_gc.enabled) << "an inner hold keeps the outer one's state";
        }
        EXPECT_EQ(g_gc.enabled, before);

        EXPECT_THROW(
            {
                GcHold hold;
                throw std::runtime_error("leaves the scope");
            },
            std::runtime_error);
        EXPECT_EQ(g_gc.enabled, before);
    }
}

}  // namespace
}  // namespace zan
