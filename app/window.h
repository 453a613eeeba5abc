#pragma once
// The window both programs draw in: opening it the shell's way, taking the
// pointer, and the pieces of a frame they share. Opening and taking differ by
// platform (open_window.cpp here, web/ for browsers); the rest is shared.
#include <SDL.h>
#include <GL/gl.h>

// Initialises SDL and opens the 640x480 OpenGL window (video_flags may add
// SDL_FULLSCREEN), with a projection of one unit per pixel, origin at the
// bottom-left, y upward, and GL_TEXTURE_2D on. Where no window can be shown it
// writes only "setting video mode failed." to standard error and returns false.
bool open_window(Uint32 video_flags);

// The projection of open_window: one unit per pixel of the 640x480 frame.
void set_pixel_projection();

// Hides the system pointer and grabs the input: the pen is the only pointer
// the user sees, and relative motion keeps coming at the window's edges.
void take_pointer();

// Repaints the whole window: black, or dark red (0.4, 0, 0) when red is set.
void draw_background(int red);

// Blend state for the pictures: src*(1-dst) + dst*(1-src), textures on, white.
// Black texels vanish, white ones invert what lies under them.
void start_inverting_blend();

// A square picture with its bottom-left corner at (x, y), upright.
void draw_picture(GLuint texture, int x, int y, int size);
