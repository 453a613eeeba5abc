#pragma once
// Events reach the shell's logic through a table of handlers indexed by event type.
#include <SDL.h>

typedef void (*EventHandler)(SDL_Event& event);

// One slot for each event type of SDL 1.2; empty slots drop their events.
const int event_table_size = 32;
extern EventHandler event_table[event_table_size];

extern int done;     // the frame loop runs while this is 0; do_done sets it to -1
extern int mouse_x;  // pen position in window pixels, origin bottom-left, y upward
extern int mouse_y;

void do_done(SDL_Event& event);
void mouse_motion(SDL_Event& event);

// The pen's slots: any key press or quit request ends, motion moves the pen.
void install_pen_handlers();

// Hands one event to the handler in its slot. SDL over SDL2 lets SDL_PushEvent
// queue any type byte, so a type past the table is dropped before the lookup.
inline void dispatch_event(SDL_Event& event)
{
    unsigned type = event.type;
    if (type >= unsigned(event_table_size))
        return;
    if (EventHandler handler = event_table[type])
        handler(event);
}

// Hands every pending event to its handler, until the queue is empty.
inline void drain_events()
{
    SDL_Event event;
    while (SDL_PollEvent(&event))
        dispatch_event(event);
}
