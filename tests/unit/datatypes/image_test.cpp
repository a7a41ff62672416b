// image!: the pixel store under the collector, pixel access at and beyond
// the edges, the encoder's format numbers and the channels of the paths.
#include "dt_test_support.h"
#include "runtime/core/externals.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/image.h"

#include <cstring>

namespace zan::test {
namespace {

class ImageTest : public DtTest {};

TEST_F(ImageTest, PixelAccessRefusesIndexesOutsideTheImage) {
    ValueCell img = *image_push_new(3, 2, 0xFF102030u);
    u32 px = 0;
    struct Case {
        u32 index;
        bool inside;
    };
    for (Case c : {Case{0, true}, Case{5, true}, Case{6, false}, Case{7, false},
                   Case{0xFFFFFFFFu, false}}) {
        SCOPED_TRACE(c.index);
        EXPECT_EQ(image_get_pixel(&img, c.index, &px), c.inside);
        EXPECT_EQ(image_set_pixel(&img, c.index, 0xFF000000u), c.inside);
    }
    EXPECT_TRUE(image_get_pixel(&img, 5, &px));
    EXPECT_EQ(px, 0xFF000000u);
    EXPECT_TRUE(image_get_pixel(&img, 4, &px));
    EXPECT_EQ(px, 0xFF102030u);
    ValueCell none = *image_push_new(0, 4, 0);
    EXPECT_EQ(image_words(&none), nullptr);
    EXPECT_FALSE(image_get_pixel(&none, 0, &px));
    EXPECT_FALSE(image_set_pixel(&none, 0, 1));
}

TEST_F(ImageTest, TheCollectorKeepsReachablePixelsAndFreesTheOthers) {
    ValueCell* kept = image_push_new(4, 4, 0xFFABCDEFu);
    u32 kept_slot = image_slot(kept);
    ValueCell* top = g_stack.top;
    ValueCell* dropped = image_push_new(2, 2, 0xFF000000u);
    u32 dropped_slot = image_slot(dropped);
    g_stack.top = top;  // nothing refers to the second image any more
    gc_collect();
    ASSERT_NE(image_store_get(kept_slot), nullptr);
    EXPECT_EQ(image_words(kept)[15], 0xFFABCDEFu);
    EXPECT_EQ(image_store_get(dropped_slot), nullptr);
    EXPECT_TRUE(externals_slot(static_cast<i32>(dropped_slot))->kind & EXTERNAL_FREE);
}

TEST_F(ImageTest, AnUnknownEncoderFormatRaises) {
    ValueCell img = *image_push_new(1, 1, 0xFFFFFFFFu);
    for (i32 format : {-1, 5, 99}) {
        SCOPED_TRACE(format);
        EXPECT_EQ(error_of([&] { image_encode(&img, format); }), Err::script_invalid_arg);
    }
    for (i32 format = 0; format <= 4; format++) {
        ValueCell* bin = image_encode(&img, format);
        EXPECT_EQ(bin->type(), static_cast<u32>(TYPE_BINARY));
    }
}

TEST_F(ImageTest, ChannelsRoundTripAndShortDataWritesOnlyWhatItFills) {
    ValueCell img = *image_push_new(2, 2, 0xFFFFFFFFu);
    const u8 argb[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    ValueCell bin = *binary_load(argb, sizeof argb);
    image_set_channels(&img, &bin, IMAGE_ARGB);
    ValueCell out = *image_extract_channels(&img, IMAGE_ARGB);
    ASSERT_EQ(binary_length(&out), 16);
    EXPECT_EQ(0, std::memcmp(binary_head_ptr(&out), argb, 16));
    // Two alpha bytes for four pixels: the last two keep theirs.
    const u8 alpha[] = {0, 255};
    ValueCell a = *binary_load(alpha, 2);
    image_set_channels(&img, &a, IMAGE_ALPHA);
    EXPECT_EQ(image_words(&img)[0] >> 24, 255u);
    EXPECT_EQ(image_words(&img)[1] >> 24, 0u);
    EXPECT_EQ(image_words(&img)[2] >> 24, 12u);
    EXPECT_EQ(image_words(&img)[3] >> 24, 16u);
}

}  // namespace
}  // namespace zan::test
