// Emscripten's SDL keeps SDL 1.2's calls but numbers its event types as SDL 2
// does (quit 0x100, key down 0x300, motion 0x400, ...): they are translated to
// the table's SDL 1.2 numbers here, and types the table has no slot for are
// dropped.
#include "events.h"

int event_slot(SDL_Event& event)
{
    switch (event.type) {
    case SDL_QUIT:
        return slot_quit;
    case SDL_KEYDOWN:
        return slot_key_down;
    case SDL_MOUSEMOTION:
        return slot_mouse_motion;
    case SDL_MOUSEBUTTONDOWN:
        return slot_button_down;
    case SDL_MOUSEBUTTONUP:
        return slot_button_up;
    default:
        return -1;
    }
}
