// Opening the window and taking the pointer, the desktop's way.
#include "window.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fill_screen.h"

// SDL over SDL2 does not refuse a mode when there is no display: it falls back
// to a driver that shows no window. Such a mode counts as refused.
static bool video_driver_shows_nothing()
{
    char name[32] = "";
    if (!SDL_VideoDriverName(name, sizeof name))
        return true;
    return std::strcmp(name, "offscreen") == 0 || std::strcmp(name, "dummy") == 0;
}

// While SDL tries its video drivers, the libraries under it may write about the
// ones that are not there. That text is held back until the outcome is known:
// passed on when the mode was set, dropped when it was refused, so that the
// failure message stands alone.
static FILE* held_text = nullptr;
static int real_stderr = -1;

static void release_stderr(bool pass_on)
{
    if (!held_text)
        return;
    std::fflush(stderr);
    dup2(real_stderr, 2);
    close(real_stderr);
    std::rewind(held_text);
    char text[512];
    size_t n;
    while (pass_on && (n = std::fread(text, 1, sizeof text, held_text)) > 0)
        std::fwrite(text, 1, n, stderr);
    std::fclose(held_text);
    held_text = nullptr;
}

// Should the process end while the text is held (Xlib exits when it loses the
// server), the text is passed on.
static void pass_on_held_text()
{
    release_stderr(true);
}

static void hold_stderr()
{
    std::fflush(stderr);
    held_text = std::tmpfile();
    real_stderr = held_text ? dup(2) : -1;
    if (real_stderr >= 0 && dup2(fileno(held_text), 2) >= 0) {
        std::atexit(pass_on_held_text);
        return;
    }
    // Without a place to hold it, the text goes straight through.
    if (real_stderr >= 0)
        close(real_stderr);
    if (held_text)
        std::fclose(held_text);
    held_text = nullptr;
}

bool open_window(Uint32 video_flags)
{
    hold_stderr();
    SDL_Init(SDL_INIT_EVERYTHING);
    bool mode_set = SDL_SetVideoMode(640, 480, 0, SDL_OPENGL | SDL_DOUBLEBUF | video_flags)
        && !video_driver_shows_nothing();
    release_stderr(mode_set);
    if (!mode_set) {
        std::fputs("setting video mode failed.", stderr);
        return false;
    }
    if (video_flags & SDL_FULLSCREEN)
        fill_screen();
    set_pixel_projection();
    return true;
}

void take_pointer()
{
    SDL_ShowCursor(SDL_DISABLE);
    SDL_WM_GrabInput(SDL_GRAB_ON);
}
