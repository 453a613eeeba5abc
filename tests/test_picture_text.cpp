// The picture text codec: the bit layout, the size limits, and short texts.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <vector>

#include "picture_text.h"

namespace {

struct Rgb {
    int r, g, b;
};

Rgb decode_pixel(const char* text)
{
    unsigned char rgb[3] = {1, 2, 3};
    EXPECT_EQ(decode_picture_text(text, 1, 1, rgb), 4u);
    return {rgb[0], rgb[1], rgb[2]};
}

std::string encode_pixel(int r, int g, int b)
{
    unsigned char rgb[3] = {static_cast<unsigned char>(r), static_cast<unsigned char>(g),
                            static_cast<unsigned char>(b)};
    return encode_picture_text(rgb, 1, 1);
}

}  // namespace

TEST(PictureText, KnownPixelsBothWays)
{
    struct Case {
        const char* text;
        int r, g, b;
    };
    const Case cases[] = {
        {"!!!!", 0, 0, 0},
        {"````", 255, 255, 255},
        {"L[_P", 175, 175, 175},
        // One character at the top of the range at a time shows where its six
        // bits land: red's six high bits; red's two low and green's four high;
        // green's four low and blue's two high; blue's six low.
        {"`!!!", 252, 0, 0},
        {"!`!!", 3, 240, 0},
        {"!!`!", 0, 15, 192},
        {"!!!`", 0, 0, 63},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Rgb p = decode_pixel(c.text);
        EXPECT_EQ(p.r, c.r);
        EXPECT_EQ(p.g, c.g);
        EXPECT_EQ(p.b, c.b);
        EXPECT_EQ(encode_pixel(c.r, c.g, c.b), c.text);
    }
}

TEST(PictureText, EveryChannelValueRoundTripsThroughPrintableCharacters)
{
    // 256 pixels, each channel taking every value, in three different orders so
    // that neighbouring channels never carry the same value.
    const int width = 16, height = 16;
    std::vector<unsigned char> rgb(width * height * 3);
    for (int i = 0; i < width * height; ++i) {
        rgb[i * 3 + 0] = static_cast<unsigned char>(i);
        rgb[i * 3 + 1] = static_cast<unsigned char>(255 - i);
        rgb[i * 3 + 2] = static_cast<unsigned char>(i * 37 + 11);
    }
    std::string text = encode_picture_text(rgb.data(), width, height);
    ASSERT_EQ(text.size(), 4u * width * height);
    for (char c : text)
        ASSERT_TRUE(c >= '!' && c <= '`') << "character code " << int(c);

    std::vector<unsigned char> back(rgb.size(), 0xAB);
    EXPECT_EQ(decode_picture_text(text.c_str(), width, height, back.data()), text.size());
    EXPECT_EQ(back, rgb);
}

TEST(PictureText, RowsAreStoredFromTheTopRowLeftToRight)
{
    // 2x2: top-left black, top-right white, bottom-left grey, bottom-right black.
    const unsigned char rgb[] = {0, 0, 0, 255, 255, 255, 175, 175, 175, 0, 0, 0};
    EXPECT_EQ(encode_picture_text(rgb, 2, 2), "!!!!````L[_P!!!!");
}

TEST(PictureText, ShortTextIsNotReadPastItsEnd)
{
    // Each text sits in a heap block of exactly its size, so an overread is a
    // sanitizer error rather than a silent success.
    struct Case {
        const char* text;
        std::size_t pixels_written;
    };
    const Case cases[] = {
        {"", 0},
        {"!!", 0},                // ends inside the first pixel
        {"````", 1},              // ends on a pixel boundary
        {"````L[_", 1},           // ends inside the second pixel
        {"````L[_P````", 3},      // one pixel short of 2x2
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::size_t length = std::strlen(c.text);
        std::unique_ptr<char[]> text(new char[length + 1]);
        std::memcpy(text.get(), c.text, length + 1);

        unsigned char rgb[12];
        std::memset(rgb, 0x5A, sizeof rgb);
        EXPECT_EQ(decode_picture_text(text.get(), 2, 2, rgb), length);
        for (std::size_t i = 0; i < sizeof rgb; ++i) {
            if (i < c.pixels_written * 3)
                EXPECT_NE(rgb[i], 0x5A) << "byte " << i << " not written";
            else
                EXPECT_EQ(rgb[i], 0x5A) << "byte " << i << " written past the text";
        }
    }
}

TEST(PictureText, SizesThatCannotBeAPictureGiveNothing)
{
    EXPECT_EQ(picture_rgb_size(1, 1), 3u);
    EXPECT_EQ(picture_rgb_size(32, 16), 32u * 16 * 3);

    EXPECT_EQ(picture_rgb_size(0, 16), 0u);
    EXPECT_EQ(picture_rgb_size(16, 0), 0u);
    EXPECT_EQ(picture_rgb_size(-1, 16), 0u);
    EXPECT_EQ(picture_rgb_size(16, -1), 0u);
    EXPECT_EQ(picture_rgb_size(-4, -4), 0u);  // a positive product is still no picture
    EXPECT_EQ(picture_rgb_size(INT_MIN, INT_MIN), 0u);

    // The text's length, 4*width*height, must fit an int: the largest picture
    // has INT_MAX/4 pixels, one more is too many.
    const int most = INT_MAX / 4;
    EXPECT_EQ(picture_rgb_size(most, 1), static_cast<std::size_t>(most) * 3);
    EXPECT_EQ(picture_rgb_size(1, most), static_cast<std::size_t>(most) * 3);
    EXPECT_EQ(picture_rgb_size(most + 1, 1), 0u);
    EXPECT_EQ(picture_rgb_size(23171, 23171), 0u);  // 4*w*h just past INT_MAX
    EXPECT_EQ(picture_rgb_size(65536, 65536), 0u);  // w*h wraps a 32-bit int to 0
    EXPECT_EQ(picture_rgb_size(INT_MAX, INT_MAX), 0u);
}

TEST(PictureText, BadSizesNeitherReadNorWrite)
{
    // Null buffers: touching either would crash.
    EXPECT_EQ(decode_picture_text(nullptr, 0, 4, nullptr), 0u);
    EXPECT_EQ(decode_picture_text(nullptr, 65536, 65536, nullptr), 0u);
    EXPECT_EQ(encode_picture_text(nullptr, -1, 4), "");
    EXPECT_EQ(encode_picture_text(nullptr, 65536, 65536), "");
}
