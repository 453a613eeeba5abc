// penshell-cloth: the physics kernel at work. A cloth hangs from pins in a
// 640x480 OpenGL window above a heap of balls; the pen follows relative mouse
// motion and, while the left (or middle) button is held, pulls the cloth by
// the particle nearest its tip; pulled too hard, it tears. The right button
// starts over. Any key press or quit request ends it.
#include <SDL.h>
#include <GL/gl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "cloth.h"
#include "events.h"
#include "pictures.h"
#include "relax.h"
#include "window.h"

// Real time owed to the physics, in 1/(1000 * steps_per_second) s. After a
// stall the cloth catches up at most this many steps, so that a slow frame
// cannot make the next one slower still.
static const Uint64 most_steps_a_frame = 8;
static Uint64 owed = 0;

static int steps_due(Uint32 now)
{
    static Uint32 then = now;
    owed = std::min(owed + Uint64(now - then) * steps_per_second, most_steps_a_frame * 1000);
    then = now;
    int steps = int(owed / 1000);
    owed %= 1000;
    return steps;
}

// Buttons held, one bit each; the mouse wheel's buttons only click.
static Uint32 held_buttons = 0;

static Uint32 button_bit(const SDL_Event& event)
{
    int button = event.button.button;
    bool wheel = button == SDL_BUTTON_WHEELUP || button == SDL_BUTTON_WHEELDOWN;
    return wheel || button >= 32 ? 0 : 1u << button;
}

static unsigned parts = 1;

// The pen's tip is the bottom-left corner of its picture. The right button
// starts over: a whole cloth on its pins, the balls laid again; a button
// held goes on pulling the new cloth.
static void press_button(SDL_Event& event)
{
    if (event.button.button == SDL_BUTTON_RIGHT) {
        make_cloth(parts);
        if (held_buttons != 0)
            grab_nearest(float(mouse_x), float(mouse_y));
        return;
    }
    if (held_buttons == 0 && button_bit(event))
        grab_nearest(float(mouse_x), float(mouse_y));
    held_buttons |= button_bit(event);
}

static void release_button(SDL_Event& event)
{
    if (event.button.button == SDL_BUTTON_RIGHT)
        return;
    held_buttons &= ~button_bit(event);
    if (held_buttons == 0)
        let_go();
}

// The window's title says how many threads are torn: none after a start-over.
static void show_torn(unsigned torn)
{
    static unsigned shown = ~0u;
    if (torn == shown)
        return;
    shown = torn;
    char title[64];
    if (torn == 0)
        std::snprintf(title, sizeof title, "penshell-cloth");
    else
        std::snprintf(title, sizeof title, "penshell-cloth: %u threads torn", torn);
    SDL_WM_SetCaption(title, title);
}

static void draw_frame(GLuint pen_texture)
{
    draw_background(0);
    draw_floor_and_ball();
    draw_balls();
    draw_cloth();
    start_inverting_blend();
    draw_picture(pen_texture, mouse_x, mouse_y, 16);
}

int main(int argc, char* argv[])
{
    Uint32 video_flags = 0;
    for (int i = 0; i < argc; ++i)
        if (std::strcmp(argv[i], "-f") == 0)
            video_flags |= SDL_FULLSCREEN;

    if (!open_window(video_flags))
        return -1;
    GLuint pen_texture = load_system_picture(pen_header_data, pen_width, pen_height);
    install_pen_handlers();
    event_table[slot_button_down] = press_button;
    event_table[slot_button_up] = release_button;
    take_pointer();
    parts = make_cloth(parts_for_this_machine());

    // Fixed steps keep the motion the same at any frame rate. Within a frame
    // the pen's path is spread over the frame's steps, so a particle let go
    // keeps the pen's speed and can be flung.
    const Uint32 frame_ms = 10;
    float pen_x = float(mouse_x), pen_y = float(mouse_y);
    while (done == 0) {
        Uint32 start = SDL_GetTicks();
        drain_events();
        int steps = steps_due(start);
        for (int k = 1; k <= steps; ++k)
            step_cloth(pen_x + (mouse_x - pen_x) * k / steps, pen_y + (mouse_y - pen_y) * k / steps);
        if (steps > 0) {
            pen_x = float(mouse_x);
            pen_y = float(mouse_y);
        }
        show_torn(torn_springs());
        draw_frame(pen_texture);
        SDL_GL_SwapBuffers();
        // At most 100 frames a second; a slower frame is not made to wait.
        Uint32 spent = SDL_GetTicks() - start;
        if (spent < frame_ms)
            SDL_Delay(frame_ms - spent);
    }
    end_cloth();
    SDL_Quit();
    return 0;
}
