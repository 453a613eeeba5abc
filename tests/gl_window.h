#pragma once
// An SDL OpenGL window on a private X server, for tests that need a GL
// context. Header-only, so that x_session itself needs no SDL.
#include <SDL.h>

#include <cstdlib>

#include "x_session.h"

inline bool open_gl_window(int width, int height)
{
    if (!start_x_server(width, height, false))
        return false;
    setenv("DISPLAY", x_display_name().c_str(), 1);
    SDL_Init(SDL_INIT_VIDEO);
    return SDL_SetVideoMode(width, height, 0, SDL_OPENGL) != nullptr;
}

inline void close_gl_window()
{
    SDL_Quit();
    end_x_server();
}
