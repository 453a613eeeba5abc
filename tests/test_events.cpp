// The handlers and the table dispatch, on hand-made SDL events.
#include <gtest/gtest.h>

#include "events.h"

namespace {

SDL_Event event_of_type(int type)
{
    SDL_Event event = {};
    event.type = static_cast<Uint8>(type);
    return event;
}

SDL_Event motion(int xrel, int yrel)
{
    SDL_Event event = event_of_type(SDL_MOUSEMOTION);
    event.motion.xrel = static_cast<Sint16>(xrel);
    event.motion.yrel = static_cast<Sint16>(yrel);
    event.motion.x = 600;  // absolute coordinates must not matter
    return event;
}

class Dispatch : public testing::Test {
protected:
    void SetUp() override
    {
        // The table as the program installs it.
        for (EventHandler& slot : event_table)
            slot = nullptr;
        event_table[SDL_QUIT] = do_done;
        event_table[SDL_KEYDOWN] = do_done;
        event_table[SDL_MOUSEMOTION] = mouse_motion;
        done = 0;
        mouse_x = 320;
        mouse_y = 240;
    }
};

TEST_F(Dispatch, MotionAddsUpWithYUpwardAndIsNotBounded)
{
    SDL_Event a = motion(5, 3);
    dispatch_event(a);
    EXPECT_EQ(mouse_x, 325);
    EXPECT_EQ(mouse_y, 237);

    // Several motions in one drain add up; the pen may leave the window.
    SDL_Event far = motion(-32768, 32767);
    dispatch_event(far);
    dispatch_event(far);
    EXPECT_EQ(mouse_x, 325 - 65536);
    EXPECT_EQ(mouse_y, 237 - 65534);
    EXPECT_EQ(done, 0);
}

TEST_F(Dispatch, OnlyKeyPressAndQuitEndTheLoop)
{
    for (int type : {int(SDL_KEYUP), int(SDL_MOUSEBUTTONDOWN), int(SDL_MOUSEBUTTONUP),
                     int(SDL_ACTIVEEVENT), int(SDL_VIDEOEXPOSE), 31}) {
        SDL_Event event = event_of_type(type);
        dispatch_event(event);
    }
    EXPECT_EQ(done, 0);
    EXPECT_EQ(mouse_x, 320);
    EXPECT_EQ(mouse_y, 240);

    SDL_Event key = event_of_type(SDL_KEYDOWN);
    SDL_Event quit = event_of_type(SDL_QUIT);
    dispatch_event(key);
    EXPECT_EQ(done, -1);
    dispatch_event(quit);  // a second request in the same drain changes nothing
    EXPECT_EQ(done, -1);
}

TEST_F(Dispatch, TypesPastTheTableAreDropped)
{
    // SDL over SDL2 delivers any type byte that was pushed; reading past the
    // table would call whatever lies behind it.
    for (int type = event_table_size; type < 256; ++type) {
        SDL_Event event = motion(1, 1);
        event.type = static_cast<Uint8>(type);
        dispatch_event(event);
    }
    EXPECT_EQ(done, 0);
    EXPECT_EQ(mouse_x, 320);
    EXPECT_EQ(mouse_y, 240);
}

}  // namespace
