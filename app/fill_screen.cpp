// SDL over SDL2 asks the window manager for full screen. With none, as on a
// kiosk's bare X server, its window stays 640x480 in the middle of the screen
// and shows a crop of the frame scaled up for the whole screen. Given the
// screen's size, the window shows all of that frame, edge to edge.
#include "fill_screen.h"

#include <SDL.h>
#include <SDL_syswm.h>

void fill_screen()
{
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (SDL_GetWMInfo(&info) <= 0 || info.subsystem != SDL_SYSWM_X11)
        return;
    Display* display = info.info.x11.display;
    XWindowAttributes window;
    if (!XGetWindowAttributes(display, info.info.x11.window, &window))
        return;
    XMoveResizeWindow(display, info.info.x11.window, 0, 0, unsigned(WidthOfScreen(window.screen)),
                      unsigned(HeightOfScreen(window.screen)));
    XSync(display, False);
}
