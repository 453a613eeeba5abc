// The loader in a real OpenGL context (SDL on a private X server).
#include <gtest/gtest.h>
#include <GL/gl.h>

#include <cstdlib>
#include <tuple>
#include <utility>

#include "picture_text.h"
#include "pictures.h"
#include "gl_window.h"

namespace {

class Loader : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(open_gl_window(640, 480));
    }
    static void TearDownTestSuite()
    {
        close_gl_window();
    }
};

// The bound texture: width, height and texels, rows packed with no padding.
std::tuple<int, int, std::vector<unsigned char>> bound_texture()
{
    int width = 0, height = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &height);
    std::vector<unsigned char> rgb(size_t(width) * height * 3);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
    return {width, height, rgb};
}

TEST_F(Loader, EveryCallMakesANewTextureOfThePictureAtItsOwnSize)
{
    // The same text twice gives two textures; the second stays bound.
    GLuint first = load_system_picture(pen_header_data, pen_width, pen_height);
    EXPECT_NE(first, 0u);
    EXPECT_NE(load_system_picture(pen_header_data, pen_width, pen_height), first);
    EXPECT_EQ(bound_texture(), std::make_tuple(16, 16, decode_picture(pen_header_data, 16, 16)));

    // 2 wide and 4 high: rows of 6 bytes, which OpenGL's default 4-byte row
    // alignment would skew, and a height that must not trade places with the width.
    const char text[] = "!!!!````L[_P!!!$````!!!!!!$!L[_P";
    load_system_picture(text, 2, 4);
    EXPECT_EQ(bound_texture(), std::make_tuple(2, 4, decode_picture(text, 2, 4)));
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(Loader, ShortTextsAndImpossibleSizesAreHandledSafely)
{
    // A text that ends early leaves its missing pixels black.
    load_system_picture("L[_P", 2, 1);
    EXPECT_EQ(bound_texture(), std::make_tuple(2, 1, std::vector<unsigned char>{175, 175, 175, 0, 0, 0}));
    // Sizes that are not positive, or whose text length overflows an int, create nothing.
    for (auto size : {std::pair(0, 2), {2, -2}, {65536, 65536}, {23171, 23171}})
        EXPECT_EQ(load_system_picture("L[_P", size.first, size.second), 0u) << size.first;
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

}  // namespace
