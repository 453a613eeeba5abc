// penshell: a 640x480 OpenGL window with a wait icon and a pen cursor that
// follows relative mouse motion, until any key press or quit request.
#include <SDL.h>
#include <GL/gl.h>

#include <cstring>

#include "events.h"
#include "pictures.h"
#include "window.h"

static void draw_frame(int red, GLuint wait_texture, GLuint pen_texture)
{
    draw_background(red);
    start_inverting_blend();
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

    if (!open_window(video_flags))
        return -1;
    GLuint wait_texture = load_system_picture(wait_header_data, wait_width, wait_height);
    GLuint pen_texture = load_system_picture(pen_header_data, pen_width, pen_height);
    install_pen_handlers();
    take_pointer();

    // Main loop: the pass that sets done still draws and presents its frame.
    while (done == 0) {
        drain_events();
        draw_frame(red, wait_texture, pen_texture);
        SDL_GL_SwapBuffers();
        SDL_Delay(10);
    }

    // Clean-up: the textures go with the OpenGL context.
    SDL_Quit();
    return 0;
}
