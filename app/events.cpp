#include "events.h"

EventHandler event_table[event_table_size];
int done = 0;
int mouse_x = 320;
int mouse_y = 240;

void do_done(SDL_Event&)
{
    done = -1;
}

void mouse_motion(SDL_Event& event)
{
    mouse_x += event.motion.xrel;
    // SDL counts y downward; the drawing counts it upward.
    mouse_y -= event.motion.yrel;
}
