// The real program on a real X server: arguments, events and input in; the
// frames it presents, what the screen shows, and how it ends, out.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <cmath>

#include "picture_text.h"
#include "pictures.h"
#include "x_session.h"

namespace {

struct Scenario {
    const char* name;
    std::vector<std::string> argv;  // argv[0] included: it is scanned for options too
    int width, height;              // the screen; 0: no display at all
    bool window_manager;
    const char* events;  // pushed before the first frame
    const char* input;   // XTest input while it runs, then end_signal or else a key
    int end_signal;      // press; with neither, the events end the program
    bool red, full;    // the frame expected, and whether it fills the screen
    int pen_x, pen_y;  // where the last frame shows the pen
    long frames;       // presented frames, when the count is known
    int status;
};

const Scenario scenarios[] = {
    {"PlainWindowFollowsMotionAndIgnoresReleasesAndClicks", {"penshell"}, 640, 480, false, "u b",
     "m10,-7 m10,-7 m10,-7 c", 0, false, false, 350, 261, 0, 0},
    {"OwnNameRedEndsOnSigterm", {"-red"}, 640, 480, false, "", "", SIGTERM, true, false, 320, 240, 0, 0},
    {"InexactWordsChangeNothingAndSigintEnds", {"penshell", "--red", "-RED", "red", "-reds", "-F", "f", "-ff"},
     800, 600, false, "", "", SIGINT, false, false, 320, 240, 0, 0},
    {"FullScreenBare1024", {"penshell", "-f", "-red"}, 1024, 768, false, "", "m16,-8 m16,-8", 0, true,
     true, 340, 250, 0, 0},
    {"FullScreenUnderWindowManager1024", {"penshell", "-red", "-f"}, 1024, 768, true, "", "m16,-8", 0,
     true, true, 330, 245, 0, 0},
    {"FullScreenBare800", {"penshell", "-f"}, 800, 600, false, "", "m20,-10", 0, false, true, 336, 248, 0, 0},
    {"FullScreenUnderWindowManager800", {"-f", "-red"}, 800, 600, true, "", "m-20,10", 0, true, true, 304,
     232, 0, 0},
    // The pass that dispatches the key press still moves the pen for the
    // motion behind it, and presents its frame.
    {"KeyBeforeTheFirstFrame", {"penshell"}, 640, 480, false, "k m5,-3", "", 0, false, false, 325, 243, 1, 0},
    // One drain empties the whole queue.
    {"BurstOfMotionsThenAKey", {"penshell"}, 640, 480, false, "m1,0*100 k", "", 0, false, false, 420, 240,
     1, 0},
    {"NoDisplay", {"penshell"}, 0, 0, false, "", "", 0, false, false, 0, 0, 0, 255},
};

// The frame the program must present, computed from the picture texts and the
// inverting blend src*(1-dst) + dst*(1-src); row 0 at the top.
std::vector<double> expected_frame(const Scenario& s)
{
    std::vector<double> px(640 * 480 * 3, 0.0);
    for (size_t i = 0; i < px.size(); i += 3)
        px[i] = s.red ? 0.4 : 0.0;
    auto draw = [&px](const char* text, int size, int left, int bottom) {
        std::vector<unsigned char> rgb = decode_picture(text, size, size);
        for (int row = 0; row < size; ++row)
            for (int col = 0; col < size; ++col) {
                int x = left + col, top_row = 479 - (bottom + size - 1 - row);
                if (x < 0 || x >= 640 || top_row < 0 || top_row >= 480)
                    continue;
                for (int c = 0; c < 3; ++c) {
                    double src = rgb[(size_t(row) * size + col) * 3 + c] / 255.0;
                    double& dst = px[(size_t(top_row) * 640 + x) * 3 + c];
                    dst = src * (1 - dst) + dst * (1 - src);
                }
            }
    };
    draw(wait_header_data, 32, 608, 0);
    draw(pen_header_data, 16, s.pen_x, s.pen_y);
    return px;
}

// Counts the pixels of the image that are off the frame by more than Mesa's
// rounding. Scaled up (full), each pixel must lie within the range of the
// window pixels nearest to it, so linear and nearest scaling both pass;
// otherwise the frame is centred at its own size.
int mismatches(const Image& image, const std::vector<double>& frame, bool full)
{
    int w = full ? image.width : 640, h = full ? image.height : 480;
    int left = (image.width - w) / 2, top = (image.height - h) / 2, bad = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            double u = (x + 0.5) * 640 / w - 0.5, v = (y + 0.5) * 480 / h - 0.5;
            int u0 = std::max(0, int(std::floor(u))), v0 = std::max(0, int(std::floor(v)));
            int u1 = std::min(639, int(std::ceil(u))), v1 = std::min(479, int(std::ceil(v)));
            Rgb p = image.at(left + x, top + y);
            int got[3] = {p.r, p.g, p.b};
            for (int c = 0; c < 3; ++c) {
                double low = 1, high = 0;
                for (int j : {v0, v1})
                    for (int i : {u0, u1}) {
                        low = std::min(low, frame[(size_t(j) * 640 + i) * 3 + c]);
                        high = std::max(high, frame[(size_t(j) * 640 + i) * 3 + c]);
                    }
                if (got[c] < low * 255 - 2.01 || got[c] > high * 255 + 2.01) {
                    ++bad;
                    break;
                }
            }
        }
    return bad;
}

void PrintTo(const Scenario& s, std::ostream* out) { *out << s.name; }

class Window : public testing::TestWithParam<Scenario> {
protected:
    void TearDown() override { end_session(); }
};

TEST_P(Window, PresentsTheFramesAndEndsAsExpected)
{
    const Scenario& s = GetParam();
    std::vector<double> frame = expected_frame(s);
    if (s.width)
        ASSERT_TRUE(start_x_server(s.width, s.height, s.window_manager));
    ASSERT_TRUE(start_program(s.argv, s.width > 0, s.events));
    if (s.width && (*s.input || s.end_signal)) {
        ASSERT_TRUE(wait_frames(1, 20000)) << "no frame presented: " << program_stderr();
        EXPECT_TRUE(poll_until(2000, cursor_hidden)) << "the system pointer shows";
        EXPECT_TRUE(poll_until(2000, pointer_grab_refused)) << "the pointer is not grabbed";
        send_input(s.input);
        EXPECT_FALSE(program_ended()) << "ended before the key press";
        Image screen;
        EXPECT_TRUE(poll_until(1500, [&] { return mismatches(screen = grab_screen(), frame, s.full) == 0; }))
            << mismatches(screen, frame, s.full) << " screen pixels are off";
        if (!s.end_signal)
            send_input("k");
    }
    EXPECT_EQ(end_program(5000, s.end_signal), s.status) << program_stderr();
    if (!s.width) {
        EXPECT_EQ(program_stderr(), "setting video mode failed.");
        return;
    }
    Presented presented;
    ASSERT_TRUE(read_presented(presented));
    EXPECT_EQ(mismatches(presented.last, frame, false), 0) << "in the last frame";
    if (s.frames)
        EXPECT_EQ(presented.frames, s.frames);
    // The 10 ms delay: at most 100 frames a second.
    if (presented.frames > 1)
        EXPECT_GE(presented.shortest_gap_us, 10000);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, Window, testing::ValuesIn(scenarios),
                         [](const testing::TestParamInfo<Scenario>& info) { return info.param.name; });

}  // namespace
