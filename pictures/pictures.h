#pragma once
// The pictures built into the program, and the loader that makes them textures.
#include <GL/gl.h>

// Picture texts (see picture_text.h) of the two built-in pictures: greyscale
// line drawings on a black ground, which the inverting blend makes transparent.
extern const char* wait_header_data;  // sleeping thought bubble, 32x32
extern int wait_width;
extern int wait_height;
extern const char* pen_header_data;   // pencil with its tip in the bottom-left pixel, 16x16
extern int pen_width;
extern int pen_height;

// Creates a texture from a picture text and returns its name; the texture stays
// bound. Needs a current OpenGL context and power-of-two sizes. A size that is
// not positive or too large for the text format creates nothing and returns 0.
GLuint load_system_picture(const char* data, int width, int height);
