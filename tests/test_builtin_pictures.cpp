// The built-in pictures: well-formed texts of the right size, greyscale line
// drawings on black as the inverting blend needs, and exactly what the tool
// makes of the committed source pictures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "picture_text.h"
#include "pictures.h"
#include "stb_image.h"

namespace {

struct Builtin {
    const char* name;
    const char* text;
    int width, height;
    int expected_width, expected_height;
};

std::vector<Builtin> builtins()
{
    return {
        {"wait", wait_header_data, wait_width, wait_height, 32, 32},
        {"pen", pen_header_data, pen_width, pen_height, 16, 16},
    };
}

std::vector<unsigned char> decode(const Builtin& b)
{
    std::vector<unsigned char> rgb(picture_rgb_size(b.width, b.height));
    decode_picture_text(b.text, b.width, b.height, rgb.data());
    return rgb;
}

const unsigned char* pixel(const std::vector<unsigned char>& rgb, const Builtin& b, int x, int y)
{
    return &rgb[(static_cast<std::size_t>(y) * b.width + x) * 3];
}

}  // namespace

TEST(BuiltinPictures, SizesAndTextLengths)
{
    for (const Builtin& b : builtins()) {
        SCOPED_TRACE(b.name);
        EXPECT_EQ(b.width, b.expected_width);
        EXPECT_EQ(b.height, b.expected_height);
        ASSERT_NE(b.text, nullptr);
        // Exactly 4*w*h: a shorter text leaves black pixels, a longer one means
        // the text and the sizes disagree.
        EXPECT_EQ(std::strlen(b.text), 4u * b.width * b.height);
        for (const char* c = b.text; *c; ++c)
            ASSERT_TRUE(*c >= '!' && *c <= '`') << "at " << (c - b.text);
    }
}

TEST(BuiltinPictures, GreyLinesOnABlackGround)
{
    for (const Builtin& b : builtins()) {
        SCOPED_TRACE(b.name);
        std::vector<unsigned char> rgb = decode(b);
        int black = 0, brightest = 0;
        for (int y = 0; y < b.height; ++y) {
            for (int x = 0; x < b.width; ++x) {
                const unsigned char* p = pixel(rgb, b, x, y);
                // A coloured pixel would tint differently on each background.
                ASSERT_TRUE(p[0] == p[1] && p[1] == p[2]) << "pixel " << x << "," << y;
                black += p[0] == 0;
                brightest = std::max(brightest, int(p[0]));
            }
        }
        // The ground must be pure black, or the blend shows it as a faint box.
        EXPECT_EQ(pixel(rgb, b, 0, 0)[0], 0);
        EXPECT_GT(black, b.width * b.height / 2);
        // The lines are light enough to invert the background visibly.
        EXPECT_GE(brightest, 240);
    }
}

TEST(BuiltinPictures, PenTipIsTheLitBottomLeftPixel)
{
    // The pen is drawn with its bottom-left corner at the pointer, so that pixel
    // is where the user points and must be part of the drawing.
    const Builtin pen = builtins()[1];
    std::vector<unsigned char> rgb = decode(pen);
    EXPECT_GE(pixel(rgb, pen, 0, pen.height - 1)[0], 192);
}

TEST(BuiltinPictures, TextsAreMadeFromTheSourcePictures)
{
    // Catches a source picture redrawn without regenerating its .cpp, and the
    // reverse. The fix for either is scripts/make-pictures.sh.
    for (const Builtin& b : builtins()) {
        SCOPED_TRACE(b.name);
        std::string path = std::string(PICTURE_SOURCE_DIR) + "/" + b.name + ".png";
        int width = 0, height = 0, channels = 0;
        unsigned char* rgb = stbi_load(path.c_str(), &width, &height, &channels, 3);
        ASSERT_NE(rgb, nullptr) << path << ": " << stbi_failure_reason();
        std::string text = encode_picture_text(rgb, width, height);
        stbi_image_free(rgb);
        EXPECT_EQ(width, b.width);
        EXPECT_EQ(height, b.height);
        EXPECT_TRUE(text == b.text) << "pictures/" << b.name
                                    << "_picture.cpp is stale: run scripts/make-pictures.sh";
    }
}
