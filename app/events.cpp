#include "events.h"

#include <climits>

EventHandler event_table[event_table_size];
int done = 0;
int mouse_x = 320;
int mouse_y = 240;

void do_done(SDL_Event&)
{
    done = -1;
}

// The pen is not bounded, but an int is: at its ends it stays put rather than
// overflowing to the far side.
static int saturating_add(int a, long long b)
{
    long long sum = a + b;
    return sum > INT_MAX ? INT_MAX : sum < INT_MIN ? INT_MIN : int(sum);
}

void mouse_motion(SDL_Event& event)
{
    mouse_x = saturating_add(mouse_x, event.motion.xrel);
    // SDL counts y downward; the drawing counts it upward.
    mouse_y = saturating_add(mouse_y, -(long long)event.motion.yrel);
}

void install_pen_handlers()
{
    event_table[slot_quit] = do_done;
    event_table[slot_key_down] = do_done;
    event_table[slot_mouse_motion] = mouse_motion;
}
