// Emscripten's SDL keeps SDL 1.2's calls but numbers its event types as SDL 2
// does (quit 0x100, key down 0x300, motion 0x400, ...): they are translated to
// the table's SDL 1.2 numbers here, and types the table has no slot for are
// dropped.
#include "events.h"

// Until the first mouse event, the browser's SDL measures motion from the
// canvas's corner, so the first motion would jump there and back.
static bool pointer_seen = false;

int event_slot(SDL_Event& event)
{
    switch (event.type) {
    case SDL_QUIT:
        return slot_quit;
    case SDL_KEYDOWN:
        return slot_key_down;
    case SDL_MOUSEMOTION:
        if (!pointer_seen) {
            event.motion.xrel = 0;
            event.motion.yrel = 0;
        }
        pointer_seen = true;
        return slot_mouse_motion;
    case SDL_MOUSEBUTTONDOWN:
        pointer_seen = true;
        return slot_button_down;
    case SDL_MOUSEBUTTONUP:
        pointer_seen = true;
        return slot_button_up;
    default:
        return -1;
    }
}
