// The desktop's SDL 1.2 numbers its event types as the table does.
#include "events.h"

// Compared as numbers: two enums of different types would draw a warning.
static_assert(int(slot_key_down) == int(SDL_KEYDOWN) && int(slot_mouse_motion) == int(SDL_MOUSEMOTION) &&
                  int(slot_button_down) == int(SDL_MOUSEBUTTONDOWN) &&
                  int(slot_button_up) == int(SDL_MOUSEBUTTONUP) && int(slot_quit) == int(SDL_QUIT),
              "the table's slots are SDL 1.2's type numbers");

// SDL over SDL2 lets SDL_PushEvent queue any type byte: one past the table is
// dropped.
int event_slot(SDL_Event& event)
{
    unsigned type = event.type;
    return type < unsigned(event_table_size) ? int(type) : -1;
}
