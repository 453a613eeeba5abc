#include "pictures.h"
#include "picture_text.h"

#include <memory>

GLuint load_system_picture(const char* data, int width, int height)
{
    std::size_t bytes = picture_rgb_size(width, height);
    if (bytes == 0)
        return 0;
    // On the heap, not the stack: a large picture must not overflow it. Zeroed,
    // so a text that ends early leaves the missing pixels black.
    std::unique_ptr<unsigned char[]> rgb(new unsigned char[bytes]());
    decode_picture_text(data, width, height, rgb.get());

    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    // Rows are packed with no padding, whatever the width.
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, 3, width, height, 0, GL_RGB, GL_UNSIGNED_BYTE, rgb.get());
    return name;
}
