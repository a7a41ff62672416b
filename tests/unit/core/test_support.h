// Shared fixture for runtime tests: a fresh memory manager and stacks.
#pragma once
#include <gtest/gtest.h>

#include "runtime/core/memory.h"
#include "runtime/core/stack.h"

namespace zan::test {

class RuntimeTest : public ::testing::Test {
protected:
    void SetUp() override {
        memory_free_all();
        memory_init();
        stack_init();
    }
};

}  // namespace zan::test
