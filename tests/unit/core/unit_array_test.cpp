#include "runtime/core/unit_array.h"

#include <cstring>
#include <random>
#include <vector>

#include "test_support.h"

namespace zan {
namespace {

using UnitArrayTest = test::RuntimeTest;

std::vector<i32> contents(Node a) {
    std::vector<i32> v;
    for (u32 i = 1; i <= array_length(a); i++) v.push_back(array_pick_int(a, i));
    return v;
}

TEST_F(UnitArrayTest, MakeGivesAnEmptyArrayOfTheElementSize) {
    struct Case { u32 n, size, capacity; };
    for (auto c : {Case{10, 4, 48}, Case{0, 1, 16}, Case{5, 1, 16}, Case{3, 16, 48}}) {
        Node a = array_make(c.n, c.size);
        EXPECT_EQ(array_length(a), 0u);
        EXPECT_EQ(array_flags(a) & SERIES_UNIT_MASK, c.size);
        EXPECT_EQ(node_buffer(a)->size, c.capacity) << c.n << "x" << c.size;
    }
}

TEST_F(UnitArrayTest, FindAnswersByteOffsetOfFirstMatchOrMinusOne) {
    Node a = array_make(4, 4);
    EXPECT_EQ(array_find_int(a, 7), -1);
    for (i32 v : {5, 7, 7}) array_append_int(a, v);
    EXPECT_EQ(array_find_int(a, 7), 4);
    EXPECT_EQ(array_find_int(a, 5), 0);
    EXPECT_EQ(array_find_int(a, 6), -1);
    EXPECT_EQ(array_find_ptr(a, 7u), 4);
}

TEST_F(UnitArrayTest, RemovePointerTakesOnlyTheFirstMatch) {
    Node a = array_make(4, 4);
    for (HeapRef r : {0x100u, 0x200u, 0x300u, 0x200u}) array_append_ptr(a, r);
    array_remove_ptr(a, 0x999u);
    EXPECT_EQ(contents(a), (std::vector<i32>{0x100, 0x200, 0x300, 0x200}));
    array_remove_ptr(a, 0x200u);
    EXPECT_EQ(contents(a), (std::vector<i32>{0x100, 0x300, 0x200}));
    EXPECT_EQ(array_pick_ptr(a, 3), 0x200u);
}

TEST_F(UnitArrayTest, TruncateKeepsElementsBeforeThePosition) {
    Node a = array_make(4, 4);
    for (i32 v : {1, 2, 3, 4}) array_append_int(a, v);
    array_truncate(a, 3);
    EXPECT_EQ(contents(a), (std::vector<i32>{1, 2}));
    array_truncate(a, 1);
    EXPECT_EQ(array_length(a), 0u);
}

TEST_F(UnitArrayTest, AppendsGrowTheBufferBehindTheSameNode) {
    Node a = array_make(1, 4);
    SeriesBuffer* first = node_buffer(a);
    for (i32 i = 0; i < 1000; i++) array_append_int(a, i * 3);
    EXPECT_NE(node_buffer(a), first);
    ASSERT_EQ(array_length(a), 1000u);
    for (u32 i = 1; i <= 1000; i++) ASSERT_EQ(array_pick_int(a, i), static_cast<i32>(i - 1) * 3);
}

TEST_F(UnitArrayTest, BytesAppendedFromTheArrayItselfSurviveGrowth) {
    Node a = array_make(16, 1);
    const char* text = "abcdefghijklmnop";
    array_append_bytes(a, text, 16);
    ASSERT_EQ(node_buffer(a)->size, 16u);
    // The source is the array's own buffer, which the append must leave.
    array_append_bytes(a, node_buffer(a)->head_ptr(), 16);
    array_append_byte(a, '!');
    SeriesBuffer* b = node_buffer(a);
    ASSERT_EQ(array_length(a), 33u);
    EXPECT_EQ(std::memcmp(b->head_ptr(), "abcdefghijklmnopabcdefghijklmnop!", 33), 0);
}

TEST_F(UnitArrayTest, RemoveAtMovesTheRestDown) {
    Node a = array_make(8, 1);
    array_append_bytes(a, "0123456789", 10);
    array_remove_at(a, 2, 3);
    EXPECT_EQ(array_length(a), 7u);
    EXPECT_EQ(std::memcmp(node_buffer(a)->head_ptr(), "0156789", 7), 0);
    array_remove_at(a, 5, 2);  // the last bytes
    EXPECT_EQ(std::memcmp(node_buffer(a)->head_ptr(), "01567", 5), 0);
    array_clear(a);
    EXPECT_EQ(array_length(a), 0u);
}

TEST_F(UnitArrayTest, CopyIsIndependentAndKeepsTheUnit) {
    Node a = array_make(2, 4);
    for (i32 v : {9, 8, 7}) array_append_int(a, v);
    Node c = array_copy(a);
    EXPECT_NE(c, a);
    EXPECT_EQ(array_flags(c) & SERIES_UNIT_MASK, 4u);
    EXPECT_EQ(contents(c), contents(a));
    array_poke_int(c, 2, 100);
    array_append_int(c, 6);
    EXPECT_EQ(contents(a), (std::vector<i32>{9, 8, 7}));
    EXPECT_EQ(contents(c), (std::vector<i32>{9, 100, 7, 6}));
}

TEST_F(UnitArrayTest, RandomOperationsAgreeWithAVector) {
    std::mt19937 rng(42);
    Node a = array_make(0, 4);
    std::vector<i32> model;
    for (int step = 0; step < 20000; step++) {
        u32 op = rng() % 10;
        i32 v = static_cast<i32>(rng() % 50) - 25;
        if (op < 5 || model.empty()) {
            array_append_int(a, v);
            model.push_back(v);
        } else if (op == 5) {
            u32 pos = 1 + rng() % model.size();
            array_poke_int(a, pos, v);
            model[pos - 1] = v;
        } else if (op == 6) {
            u32 i = rng() % model.size();
            u32 k = 1 + rng() % static_cast<u32>(model.size() - i);
            array_remove_at(a, i * 4, k * 4);
            model.erase(model.begin() + i, model.begin() + i + k);
        } else if (op == 7 && model.size() > 100) {
            u32 pos = 1 + rng() % (model.size() + 1);
            array_truncate(a, pos);
            model.resize(pos - 1);
        } else if (op == 8) {
            array_remove_ptr(a, static_cast<HeapRef>(v));
            for (auto it = model.begin(); it != model.end(); ++it)
                if (*it == v) {
                    model.erase(it);
                    break;
                }
        } else {
            i32 want = -1;
            for (size_t i = 0; i < model.size(); i++)
                if (model[i] == v) {
                    want = static_cast<i32>(i * 4);
                    break;
                }
            ASSERT_EQ(array_find_int(a, v), want);
        }
        ASSERT_EQ(array_length(a), model.size()) << "step " << step;
    }
    EXPECT_EQ(contents(a), model);
}

}  // namespace
}  // namespace zan
