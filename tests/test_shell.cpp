// The real program on a real X server: real input events in, real pixels out.
#include <gtest/gtest.h>
#include <signal.h>

#include <cmath>

#include "picture_text.h"
#include "pictures.h"
#include "x_session.h"

namespace {

// What a frame must look like: the background, then each picture through the
// inverting blend src*(1-dst) + dst*(1-src), in window pixels with y upward.
struct Frame {
    bool red;
    int mouse_x, mouse_y;
};

double blend(double src, double dst) { return src * (1 - dst) + dst * (1 - src); }

void draw_expected(std::vector<double>& px, const std::vector<unsigned char>& rgb, int size,
                   int left, int bottom)
{
    for (int row = 0; row < size; ++row)
        for (int col = 0; col < size; ++col) {
            int x = left + col, y = bottom + size - 1 - row;  // text row 0 is the top
            if (x < 0 || x >= 640 || y < 0 || y >= 480)
                continue;
            for (int c = 0; c < 3; ++c) {
                double& dst = px[(size_t(y) * 640 + x) * 3 + c];
                dst = blend(rgb[(size_t(row) * size + col) * 3 + c] / 255.0, dst);
            }
        }
}

// Counts the window pixels that differ from the expected frame by more than
// Mesa's rounding; the window is at the top-left of a 640x480 screen.
int mismatches(const ScreenGrab& screen, const Frame& frame)
{
    static const std::vector<unsigned char> wait = decode_picture(wait_header_data, 32, 32);
    static const std::vector<unsigned char> pen = decode_picture(pen_header_data, 16, 16);
    std::vector<double> px(640 * 480 * 3, 0.0);
    for (size_t i = 0; i < px.size(); i += 3)
        px[i] = frame.red ? 102 / 255.0 : 0.0;
    draw_expected(px, wait, 32, 608, 0);
    draw_expected(px, pen, 16, frame.mouse_x, frame.mouse_y);
    int bad = 0;
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x) {
            Rgb got = screen.at(x, 479 - y);
            const double* want = &px[(size_t(y) * 640 + x) * 3];
            int g[3] = {got.r, got.g, got.b};
            for (int c = 0; c < 3; ++c)
                if (std::abs(g[c] - want[c] * 255) > 2.01) {
                    ++bad;
                    break;
                }
        }
    return bad;
}

Frame wanted;
bool shows_wanted(const ScreenGrab& screen) { return mismatches(screen, wanted) == 0; }

// Waits for the frame and reports how far the screen is from it when it never comes.
void expect_frame(Frame frame)
{
    wanted = frame;
    ScreenGrab last;
    bool shown = wait_for_screen(shows_wanted, 5000, &last);
    EXPECT_TRUE(shown) << mismatches(last, frame) << " pixels differ from the frame with the pen at ("
                       << frame.mouse_x << ", " << frame.mouse_y << ")"
                       << (frame.red ? " on red" : " on black");
}

class Window : public testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(start_x_server(640, 480)); }
    static void TearDownTestSuite() { stop_x_server(); }
};

TEST_F(Window, DrawsIconAndPenThatFollowsRelativeMotionUntilAKeyPress)
{
    Program program = start_program("penshell", {});
    expect_frame({false, 320, 240});

    // X counts y downward, the pen's y grows upward: (+30, -21) is right and up.
    for (int i = 0; i < 3; ++i) {
        send_relative_motion(10, -7);
        settle(30);
    }
    expect_frame({false, 350, 261});

    // Key releases and button clicks are not handled: nothing moves, nothing ends.
    send_key(false, "a");
    send_click(1);
    settle(150);
    expect_frame({false, 350, 261});
    EXPECT_TRUE(program_running(program)) << "ended without a key press";

    send_key(true, "space");
    send_key(false, "space");
    EXPECT_EQ(wait_program(program, 3000), 0) << program.stderr_text;
}

TEST_F(Window, RedBackgroundComesFromExactOptionWordsIncludingTheProgramName)
{
    // Only exact words count, and argument 0 is scanned too.
    Program plain = start_program("penshell", {"--red", "-RED", "red", "-F", "f"});
    expect_frame({false, 320, 240});
    kill(plain.pid, SIGINT);
    EXPECT_EQ(wait_program(plain, 3000), 0) << "SIGINT must end the program normally" << plain.stderr_text;

    Program named = start_program("-red", {"-red"});
    expect_frame({true, 320, 240});
    kill(named.pid, SIGTERM);
    EXPECT_EQ(wait_program(named, 3000), 0) << named.stderr_text;
}

TEST(NoDisplay, VideoModeIsRefusedWithTheMessageAndStatus255)
{
    Program program = start_program("penshell", {}, false);
    EXPECT_EQ(wait_program(program, 10000), 255) << program.stderr_text;
    const std::string& err = program.stderr_text;
    const std::string message = "setting video mode failed.";
    ASSERT_GE(err.size(), message.size()) << err;
    EXPECT_EQ(err.substr(err.size() - message.size()), message);
}

class LargeScreen : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(start_x_server(1024, 768));
        ASSERT_TRUE(start_window_manager());
    }
    static void TearDownTestSuite() { stop_x_server(); }
};

bool is_red(Rgb p) { return std::abs(p.r - 102) <= 2 && p.g <= 2 && p.b <= 2; }
bool corners_red(const ScreenGrab& s)
{
    return is_red(s.at(0, 0)) && is_red(s.at(s.width - 1, 0)) && is_red(s.at(0, s.height - 1))
        && is_red(s.at(s.width - 1, s.height - 1));
}
bool centre_red(const ScreenGrab& s) { return is_red(s.at(s.width / 2 - 100, s.height / 2 - 100)); }

TEST_F(LargeScreen, FullScreenCoversTheScreenAndAWindowDoesNot)
{
    Program full = start_program("penshell", {"-red", "-f"});
    ScreenGrab last;
    EXPECT_TRUE(wait_for_screen(corners_red, 5000, &last)) << "the corners of the screen are not red";
    kill(full.pid, SIGTERM);
    EXPECT_EQ(wait_program(full, 3000), 0) << full.stderr_text;

    Program windowed = start_program("penshell", {"-red"});
    EXPECT_TRUE(wait_for_screen(centre_red, 5000, &last));
    EXPECT_FALSE(corners_red(last)) << "a 640x480 window covers the whole screen";
    kill(windowed.pid, SIGTERM);
    EXPECT_EQ(wait_program(windowed, 3000), 0) << windowed.stderr_text;
}

}  // namespace
