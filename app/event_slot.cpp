// The desktop's SDL 1.2 numbers its event types as the table does.
#include "events.h"

static_assert(slot_key_down == SDL_KEYDOWN && slot_mouse_motion == SDL_MOUSEMOTION &&
                  slot_button_down == SDL_MOUSEBUTTONDOWN && slot_button_up == SDL_MOUSEBUTTONUP &&
                  slot_quit == SDL_QUIT,
              "the table's slots are SDL 1.2's type numbers");

// SDL over SDL2 lets SDL_PushEvent queue any type byte: one past the table is
// dropped.
int event_slot(SDL_Event& event)
{
    unsigned type = event.type;
    return type < unsigned(event_table_size) ? int(type) : -1;
}
