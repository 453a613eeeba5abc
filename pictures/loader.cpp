#include "pictures.h"
#include "picture_text.h"

GLuint load_system_picture(const char* data, int width, int height)
{
    // On the heap, not the stack: a large picture must not overflow it.
    std::vector<unsigned char> rgb = decode_picture(data, width, height);
    if (rgb.empty())
        return 0;

    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    // Rows are packed with no padding, whatever the width.
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, 3, width, height, 0, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
    return name;
}
