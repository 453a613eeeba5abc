// penshell: a 640x480 OpenGL window with a wait icon and a pen cursor that
// follows relative mouse motion, until any key press or quit request.
#include <SDL.h>
#include <GL/gl.h>
#include <GL/glu.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "events.h"
#include "fill_screen.h"
#include "pictures.h"

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

static void draw_background(int red)
{
    glDisable(GL_BLEND);
    glDisable(GL_TEXTURE_2D);
    glColor3f(red ? 0.4f : 0.0f, 0.0f, 0.0f);
    glBegin(GL_QUADS);
    glVertex2i(0, 0);
    glVertex2i(640, 0);
    glVertex2i(640, 480);
    glVertex2i(0, 480);
    glEnd();
}

// Texture row 0 is the picture's top row, so t = 0 goes on the quad's upper edge.
static void draw_picture(GLuint texture, int x, int y, int size)
{
    glBindTexture(GL_TEXTURE_2D, texture);
    glBegin(GL_QUADS);
    glTexCoord2i(0, 1); glVertex2i(x, y);
    glTexCoord2i(1, 1); glVertex2i(x + size, y);
    glTexCoord2i(1, 0); glVertex2i(x + size, y + size);
    glTexCoord2i(0, 0); glVertex2i(x, y + size);
    glEnd();
}

static void draw_frame(int red, GLuint wait_texture, GLuint pen_texture)
{
    draw_background(red);
    // src*(1-dst) + dst*(1-src): black texels vanish, white ones invert the background.
    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE_MINUS_DST_COLOR, GL_ONE_MINUS_SRC_COLOR);
    glEnable(GL_TEXTURE_2D);
    glColor3f(1.0f, 1.0f, 1.0f);
    draw_picture(wait_texture, 608, 0, 32);
    draw_picture(pen_texture, mouse_x, mouse_y, 16);
}

int main(int argc, char* argv[])
{
    // Options: every argument, the program's name included, matched exactly.
    Uint32 video_flags = 0;
    int red = 0;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "-f") == 0)
            video_flags |= SDL_FULLSCREEN;
        if (std::strcmp(argv[i], "-red") == 0)
            red = 1;
    }

    // Set-up: SDL, the window, a projection of one unit per pixel with y upward.
    hold_stderr();
    SDL_Init(SDL_INIT_EVERYTHING);
    bool mode_set = SDL_SetVideoMode(640, 480, 0, SDL_OPENGL | SDL_DOUBLEBUF | video_flags)
        && !video_driver_shows_nothing();
    release_stderr(mode_set);
    if (!mode_set) {
        std::fputs("setting video mode failed.", stderr);
        return -1;
    }
    if (video_flags & SDL_FULLSCREEN)
        fill_screen();
    glViewport(0, 0, 640, 480);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluOrtho2D(0, 640, 0, 480);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glEnable(GL_TEXTURE_2D);

    GLuint wait_texture = load_system_picture(wait_header_data, wait_width, wait_height);
    GLuint pen_texture = load_system_picture(pen_header_data, pen_width, pen_height);

    event_table[SDL_QUIT] = do_done;
    event_table[SDL_KEYDOWN] = do_done;
    event_table[SDL_MOUSEMOTION] = mouse_motion;

    // The pen is the only pointer the user sees; the grab keeps relative motion
    // coming when the pointer would leave the window.
    SDL_ShowCursor(SDL_DISABLE);
    SDL_WM_GrabInput(SDL_GRAB_ON);

    // Main loop: the pass that sets done still draws and presents its frame.
    SDL_Event event;
    while (done == 0) {
        while (SDL_PollEvent(&event))
            dispatch_event(event);
        draw_frame(red, wait_texture, pen_texture);
        SDL_GL_SwapBuffers();
        SDL_Delay(10);
    }

    // Clean-up: the textures go with the OpenGL context.
    SDL_Quit();
    return 0;
}
