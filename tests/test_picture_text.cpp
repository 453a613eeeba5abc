// The picture text codec: known pixels, every byte value, short texts, size limits.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <vector>

#include "picture_text.h"

TEST(PictureText, DocumentedPixelsBothWays)
{
    struct Case {
        const char* text;
        unsigned char rgb[3];
    };
    const Case cases[] = {{"!!!!", {0, 0, 0}}, {"````", {255, 255, 255}}, {"L[_P", {175, 175, 175}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        unsigned char rgb[3] = {1, 2, 3};
        EXPECT_EQ(decode_picture_text(c.text, 1, 1, rgb), 4u);
        EXPECT_EQ(std::memcmp(rgb, c.rgb, 3), 0);
        EXPECT_EQ(encode_picture_text(c.rgb, 1, 1), c.text);
    }
}

TEST(PictureText, EveryByteValueRoundTrips)
{
    // Each channel in a different order, so a channel mix-up cannot cancel out.
    std::vector<unsigned char> rgb(256 * 3);
    for (int i = 0; i < 256; ++i) {
        rgb[i * 3 + 0] = static_cast<unsigned char>(i);
        rgb[i * 3 + 1] = static_cast<unsigned char>(255 - i);
        rgb[i * 3 + 2] = static_cast<unsigned char>(i * 37 + 11);
    }
    std::string text = encode_picture_text(rgb.data(), 16, 16);
    ASSERT_EQ(text.size(), 4u * 256);
    std::vector<unsigned char> back(rgb.size(), 0xAB);
    EXPECT_EQ(decode_picture_text(text.c_str(), 16, 16, back.data()), text.size());
    EXPECT_EQ(back, rgb);
}

TEST(PictureText, ShortTextIsNotReadPastItsEnd)
{
    // Heap blocks of exactly the text's size: an overread is an ASan error.
    for (const char* s : {"", "````L[_", "````L[_P````"}) {
        SCOPED_TRACE(s);
        std::size_t length = std::strlen(s);
        std::unique_ptr<char[]> text(new char[length + 1]);
        std::memcpy(text.get(), s, length + 1);
        unsigned char rgb[12];
        std::memset(rgb, 0x5A, sizeof rgb);
        EXPECT_EQ(decode_picture_text(text.get(), 2, 2, rgb), length);
        for (std::size_t i = length / 4 * 3; i < sizeof rgb; ++i)
            EXPECT_EQ(rgb[i], 0x5A) << "byte " << i << " written past the text";
    }
}

TEST(PictureText, SizesThatCannotBeAPictureGiveNothing)
{
    EXPECT_EQ(picture_rgb_size(32, 16), 32u * 16 * 3);
    EXPECT_EQ(picture_rgb_size(0, 16), 0u);
    EXPECT_EQ(picture_rgb_size(16, -1), 0u);
    EXPECT_EQ(picture_rgb_size(-4, -4), 0u);  // a positive product is still no picture
    // 4*width*height must fit an int: INT_MAX/4 pixels fit, one more does not.
    const int most = INT_MAX / 4;
    EXPECT_EQ(picture_rgb_size(most, 1), static_cast<std::size_t>(most) * 3);
    EXPECT_EQ(picture_rgb_size(most + 1, 1), 0u);
    EXPECT_EQ(picture_rgb_size(65536, 65536), 0u);  // w*h wraps a 32-bit int to 0
}
