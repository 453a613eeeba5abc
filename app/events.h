#pragma once
// Events reach the shell's logic through a table of handlers indexed by event type.
#include <SDL.h>

typedef void (*EventHandler)(SDL_Event& event);

// One slot for each event type of SDL 1.2; empty slots drop their events.
const int event_table_size = 32;
extern EventHandler event_table[event_table_size];

// The slots by their SDL 1.2 type numbers. An SDL that numbers its types
// otherwise has them translated to these before the lookup (event_slot).
enum EventSlot {
    slot_key_down = 2,
    slot_mouse_motion = 4,
    slot_button_down = 5,
    slot_button_up = 6,
    slot_quit = 12,
};

// The slot an event goes to, or -1 to drop it. Each platform supplies this:
// the desktop's SDL already numbers its types as the table does.
int event_slot(SDL_Event& event);

extern int done;     // the frame loop runs while this is 0; do_done sets it to -1
extern int mouse_x;  // pen position in window pixels, origin bottom-left, y upward
extern int mouse_y;

void do_done(SDL_Event& event);
void mouse_motion(SDL_Event& event);

// The pen's slots: any key press or quit request ends, motion moves the pen.
void install_pen_handlers();

// Hands one event to the handler in its slot; an event with no slot is dropped.
inline void dispatch_event(SDL_Event& event)
{
    int slot = event_slot(event);
    if (slot < 0 || slot >= event_table_size)
        return;
    if (EventHandler handler = event_table[slot])
        handler(event);
}

// Hands every pending event to its handler, until the queue is empty.
inline void drain_events()
{
    SDL_Event event;
    while (SDL_PollEvent(&event))
        dispatch_event(event);
}
