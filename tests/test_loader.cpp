// The loader in a real OpenGL context (SDL on a private X server).
#include <gtest/gtest.h>
#include <SDL.h>
#include <GL/gl.h>

#include <cstdlib>
#include <vector>

#include "picture_text.h"
#include "pictures.h"
#include "x_session.h"

namespace {

class Loader : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(start_x_server(640, 480));
        setenv("DISPLAY", x_display_name().c_str(), 1);
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        SDL_Init(SDL_INIT_VIDEO);
        ASSERT_NE(SDL_SetVideoMode(640, 480, 0, SDL_OPENGL), nullptr);
    }
    static void TearDownTestSuite()
    {
        SDL_Quit();
        stop_x_server();
    }
};

struct Texture {
    int width = 0, height = 0;
    std::vector<unsigned char> rgb;
};

// Reads back the bound texture, rows packed with no padding.
Texture bound_texture()
{
    Texture t;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &t.width);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &t.height);
    t.rgb.resize(size_t(t.width) * t.height * 3);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGB, GL_UNSIGNED_BYTE, t.rgb.data());
    return t;
}

TEST_F(Loader, EveryCallMakesANewTextureOfThePicture)
{
    // The same text twice gives two textures; the second stays bound.
    GLuint first = load_system_picture(pen_header_data, pen_width, pen_height);
    GLuint second = load_system_picture(pen_header_data, pen_width, pen_height);
    EXPECT_NE(first, 0u);
    EXPECT_NE(second, 0u);
    EXPECT_NE(first, second);
    Texture t = bound_texture();
    EXPECT_EQ(t.width, 16);
    EXPECT_EQ(t.height, 16);
    EXPECT_EQ(t.rgb, decode_picture(pen_header_data, 16, 16));
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(Loader, RowsWhoseLengthIsNotAMultipleOfFourUploadIntact)
{
    // 2 pixels a row are 6 bytes: OpenGL's default 4-byte row alignment would
    // skew the second row.
    const char text[] = "!!!!````L[_P!!!$";
    load_system_picture(text, 2, 2);
    Texture t = bound_texture();
    EXPECT_EQ(t.rgb, decode_picture(text, 2, 2));
}

TEST_F(Loader, ShortTextsAndImpossibleSizesAreHandledSafely)
{
    // A text that ends early leaves its missing pixels black.
    static const char grey_only[] = "L[_P";
    load_system_picture(grey_only, 2, 2);
    Texture t = bound_texture();
    std::vector<unsigned char> want(12, 0);
    want[0] = want[1] = want[2] = 175;
    EXPECT_EQ(t.rgb, want);

    // Sizes that are not positive, or whose text length overflows an int,
    // create nothing.
    EXPECT_EQ(load_system_picture(grey_only, 0, 2), 0u);
    EXPECT_EQ(load_system_picture(grey_only, 2, -2), 0u);
    EXPECT_EQ(load_system_picture(grey_only, 65536, 65536), 0u);
    EXPECT_EQ(load_system_picture(grey_only, 23171, 23171), 0u);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

}  // namespace
