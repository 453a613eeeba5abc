// Opening the window and taking the pointer in a browser. The page's canvas is
// the window and WebGL its OpenGL; the page's script (shell.js) takes the
// pointer on a click and goes full screen.
#include <emscripten.h>
#include <emscripten/html5.h>

#include <cstdio>

#include "window.h"

EM_JS(void, take_page_pointer, (int full_screen), { Module['shell'].takePointer(full_screen != 0); });

static int full_screen = 0;

// Without WebGL the browser's SDL still hands out a screen, with no context
// behind it (and says nothing): that mode counts as refused.
bool open_window(Uint32 video_flags)
{
    // Browsers allow full screen only in answer to a click: take_pointer asks.
    full_screen = (video_flags & SDL_FULLSCREEN) != 0;
    SDL_Init(SDL_INIT_EVERYTHING);
    bool mode_set = SDL_SetVideoMode(640, 480, 0, SDL_OPENGL | SDL_DOUBLEBUF)
        && emscripten_webgl_get_current_context() != 0;
    if (!mode_set) {
        std::fputs("setting video mode failed.", stderr);
        return false;
    }
    set_pixel_projection();
    return true;
}

void take_pointer()
{
    take_page_pointer(full_screen);
}
