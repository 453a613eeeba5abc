// The handlers and the table dispatch, on hand-made SDL events.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>

#include "events.h"

namespace {

void dispatch(int type, int xrel = 0, int yrel = 0)
{
    SDL_Event event = {};
    event.type = Uint8(type);
    event.motion.xrel = Sint16(xrel);
    event.motion.yrel = Sint16(yrel);
    event.motion.x = 600;  // absolute coordinates must not matter
    dispatch_event(event);
}

class Dispatch : public testing::Test {
protected:
    void SetUp() override
    {
        // The table as the program installs it.
        std::fill(std::begin(event_table), std::end(event_table), nullptr);
        install_pen_handlers();
    }
};

TEST_F(Dispatch, MotionAddsUpWithYUpwardUnboundedUntilTheIntRangeEnds)
{
    struct {
        int x, y, xrel, yrel, times, want_x, want_y;
    } cases[] = {
        {320, 240, 5, 3, 1, 325, 237},  // SDL counts y downward, the pen upward
        {320, 240, -32768, 32767, 2, 320 - 65536, 240 - 65534},
        {INT_MAX - 5, INT_MIN + 3, 32767, 32767, 3, INT_MAX, INT_MIN},
        {INT_MIN + 5, INT_MAX - 3, -32768, -32768, 1, INT_MIN, INT_MAX},
        {INT_MAX, INT_MIN, -1, -1, 1, INT_MAX - 1, INT_MIN + 1},
    };
    for (const auto& c : cases) {
        mouse_x = c.x;
        mouse_y = c.y;
        for (int i = 0; i < c.times; ++i)
            dispatch(SDL_MOUSEMOTION, c.xrel, c.yrel);
        EXPECT_EQ(mouse_x, c.want_x) << "from " << c.x << " by " << c.xrel;
        EXPECT_EQ(mouse_y, c.want_y) << "from " << c.y << " by " << -c.yrel;
    }
}

bool spy_called = false;
void spy(SDL_Event&) { spy_called = true; }

// For the length of one dispatch the memory just past the table holds spy, so
// that a lookup one slot too far calls it rather than whatever lies there.
__attribute__((no_sanitize("address"))) void dispatch_with_spy_past_the_table(int type)
{
    EventHandler* past = event_table + event_table_size;
    asm volatile("" : "+r"(past));  // the compiler may not assume what lies there
    EventHandler old = *past;
    *past = spy;
    dispatch(type);
    *past = old;
}

// Which types end the loop and which are dropped is tested end to end, on the
// program's own table.
TEST_F(Dispatch, TheFirstTypePastTheTableIsDroppedUnread)
{
    dispatch_with_spy_past_the_table(event_table_size);
    EXPECT_FALSE(spy_called);
}

}  // namespace
