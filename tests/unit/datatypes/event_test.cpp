// event!: the cells a made event gives back, and the one flags block.
#include "number_test_support.h"

#include <cstring>

#include "runtime/datatypes/event.h"

namespace zan::test {
namespace {

class EventTest : public NumberTest {
protected:
    // Leaves set bits in the machine stack below the caller's frame, where
    // the next call's locals will lie.
    [[gnu::noinline]] static void scribble_stack() {
        volatile unsigned char junk[8192];
        std::memset(const_cast<unsigned char*>(junk), 0xFF, sizeof junk);
        asm volatile("" : : "r"(junk) : "memory");
    }
    static ValueCell made(std::initializer_list<ValueCell> spec) {
        ValueCell* b = blk(spec);
        scribble_stack();
        return make(TYPE_EVENT, *b);
    }
    static ValueCell field(const ValueCell& event, u32 n) {
        ValueCell e = event;
        ValueCell* held = stack_push(&e);
        return *event_push_field(held, n);
    }
};

// The fields of a made event are whole values: whatever the stack held
// before, no header bit of it (a new-line marker, say) reaches them.
TEST_F(EventTest, MadeFieldsHaveCleanHeaders) {
    for (int round = 0; round < 4; round++) {
        ValueCell e = made({word("picked", TYPE_SET_WORD), I(5)});
        ValueCell offset = field(e, 4), picked = field(e, 6), face = field(e, 2);
        EXPECT_EQ(offset.header, TYPE_PAIR) << mold(offset);
        EXPECT_EQ(picked.header, TYPE_INTEGER) << mold(picked);
        EXPECT_EQ(face.header, TYPE_NONE);
        EXPECT_EQ(mold(*blk({picked, offset})), "[5 0x0]");
    }
}

// flags gives the one block of the run, emptied and filled at each read.
TEST_F(EventTest, FlagsIsOneBlockRefilled) {
    ValueCell a = made({word("flags", TYPE_SET_WORD), *blk({word("control"), word("shift")})});
    ValueCell b = made({word("flags", TYPE_SET_WORD), *blk({word("down")})});
    ValueCell first = field(a, 7);
    EXPECT_EQ(mold(first), "[control shift]");
    ValueCell second = field(b, 7);
    EXPECT_EQ(block_node(&first), block_node(&second));
    EXPECT_EQ(mold(first), "[down]");
    gc_collect();
    EXPECT_EQ(mold(field(a, 7)), "[control shift]");
    EXPECT_EQ(mold(second), "[control shift]");
}

}  // namespace
}  // namespace zan::test
