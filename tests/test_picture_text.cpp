// The picture text codec: known pixels, short texts, size limits.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>

#include "picture_text.h"

TEST(PictureText, DocumentedPixelsBothWays)
{
    struct Case { const char* text; unsigned char rgb[3]; };
    // One channel at a time too, so that a mix-up of channels or bits shows.
    const Case cases[] = {{"!!!!", {0, 0, 0}},     {"````", {255, 255, 255}}, {"L[_P", {175, 175, 175}},
                          {"`Q!!", {255, 0, 0}},   {"!0]!", {0, 255, 0}},     {"!!$`", {0, 0, 255}},
                          {"\"!!\\", {4, 0, 59}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        unsigned char rgb[3] = {1, 2, 3};
        EXPECT_EQ(decode_picture_text(c.text, 1, 1, rgb), 4u);
        EXPECT_EQ(std::memcmp(rgb, c.rgb, 3), 0);
        EXPECT_EQ(encode_picture_text(c.rgb, 1, 1), c.text);
    }
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
    const int most = INT_MAX / 4;  // pixels whose 4*width*height characters still fit an int
    const struct { int width, height; std::size_t bytes; } cases[] = {
        {32, 16, 32 * 16 * 3}, {0, 16, 0}, {16, -1, 0}, {-4, -4, 0},  // a positive product is no picture
        {most, 1, std::size_t(most) * 3}, {most + 1, 1, 0}, {65536, 65536, 0}};  // w*h wraps to 0
    for (const auto& c : cases)
        EXPECT_EQ(picture_rgb_size(c.width, c.height), c.bytes) << c.width << "x" << c.height;
}
