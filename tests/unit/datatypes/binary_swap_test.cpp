// swap with a binary! on either side: bytes are exchanged as bytes, the
// binary keeps its 1-byte units, and a code point that no byte can hold is
// refused before anything changes.
#include "dt_test_support.h"
#include "runtime/datatypes/binary.h"

namespace zan::test {
namespace {

class BinarySwapTest : public DtTest {
protected:
    static ValueCell* bin(const std::vector<u8>& bytes) {
        return binary_load(bytes.data(), static_cast<u32>(bytes.size()));
    }
    static std::vector<u8> bytes(const ValueCell* b) {
        SeriesBuffer* buf = series_of(b);
        return std::vector<u8>(buf->head_ptr(), buf->tail_ptr());
    }
    static ValueCell at(ValueCell s, i32 index) {
        series_set_index(&s, index);
        return s;
    }
};

TEST_F(BinarySwapTest, TwoBinariesExchangeBytes) {
    ValueCell* a = bin({0x01, 0x02, 0x03});
    ValueCell* b = bin({0xFE, 0xFF});
    ValueCell r = call({at(*a, 2), at(*b, 1)}, [] { action_swap(); });
    EXPECT_EQ(bytes(a), (std::vector<u8>{0x01, 0x02, 0xFF}));
    EXPECT_EQ(bytes(b), (std::vector<u8>{0xFE, 0x03}));
    EXPECT_EQ(r.type(), static_cast<u32>(TYPE_BINARY));
    EXPECT_EQ(series_index(&r), 2);
}

TEST_F(BinarySwapTest, ABinaryAndTextExchangeAByteAndACodePoint) {
    // Either order; the text receives the byte as a code point (0..255).
    ValueCell* b1 = bin({0xE9, 0x41});
    ValueCell* s1 = str("x\u00FF");
    call({*b1, at(*s1, 1)}, [] { action_swap(); });
    EXPECT_EQ(bytes(b1), (std::vector<u8>{0xFF, 0x41}));
    EXPECT_EQ(text(s1), "x\u00E9");

    ValueCell* s2 = str("\u20ACz");  // 2-byte units: the binary must stay bytes
    ValueCell* b2 = bin({0x10, 0x20});
    call({at(*s2, 1), at(*b2, 1)}, [] { action_swap(); });
    EXPECT_EQ(text(s2), "\u20AC\x20");
    EXPECT_EQ(bytes(b2), (std::vector<u8>{0x10, 'z'}));
    EXPECT_EQ(series_of(b2)->unit(), 1u);
}

TEST_F(BinarySwapTest, ACodePointAboveAByteIsRefusedAndNothingChanges) {
    struct Case {
        const char* text;
        bool binary_first;
    };
    for (const Case& c : {Case{"\u20AC", true}, Case{"\u20AC", false},
                          Case{"\U0001F600", true}, Case{"\u0100", false}}) {
        ValueCell* b = bin({0x61, 0x62});
        ValueCell* s = str(c.text);
        EXPECT_EQ(error_of([&] {
                      if (c.binary_first) call({*b, *s}, [] { action_swap(); });
                      else call({*s, *b}, [] { action_swap(); });
                  }),
                  Err::script_invalid_arg)
            << c.text;
        EXPECT_EQ(bytes(b), (std::vector<u8>{0x61, 0x62})) << c.text;
        EXPECT_EQ(series_of(b)->unit(), 1u) << c.text;
        EXPECT_EQ(text(s), c.text);
    }
}

TEST_F(BinarySwapTest, NothingHappensAtATail) {
    ValueCell* b = bin({0x01});
    ValueCell* s = str("\u20AC");
    call({at(*b, 1), *s}, [] { action_swap(); });
    EXPECT_EQ(bytes(b), (std::vector<u8>{0x01}));
    EXPECT_EQ(text(s), "\u20AC");
}

}  // namespace
}  // namespace zan::test
